// Kinds of activity a presenter can send, with their wire strings and
// service activity-type identifiers.
#pragma once

#include "veltroclient_export.h"

#include <QMap>
#include <QObject>
#include <QString>

namespace Veltro {

/// Kinds of activity a presenter can send, with their wire strings and activity-type identifiers.
class VELTROCLIENT_EXPORT PollType
{
    Q_GADGET

public:
    /// The kinds of activity, in the order of their wire values (0 to 9).
    enum POLL_TYPE {
        TRUE_FALSE = 0,
        YES_NO_OTHER,
        MULTIPLE,
        SCALE,
        SORT,
        TEXT,
        WORD_SEED,
        NUMBER,
        CREATIVE,
        MATH_FORMULA
    };
    Q_ENUM(POLL_TYPE)

    /// Enumerator to type string ("true-false", ..., "math formula"); a fresh map
    /// per call. A key outside the enumeration looks up as an empty string.
    static const QMap<PollType::POLL_TYPE, QString> POLL_TYPE_STR();

    /// Type string to the service's 32-digit activity-type identifier; a fresh
    /// map per call. An unknown type string looks up as an empty string.
    static const QMap<QString, QString> POLL_TYPE_ID();
};

} // namespace Veltro
