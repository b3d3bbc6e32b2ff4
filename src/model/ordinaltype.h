// Kinds of option labels an activity shows, with their wire strings.
#pragma once

#include "veltroclient_export.h"

#include <QMap>
#include <QObject>
#include <QString>

namespace Veltro {

/// Kinds of option labels an activity shows, with their wire strings.
class VELTROCLIENT_EXPORT OrdinalType
{
    Q_GADGET

public:
    /// The kinds of option label, in the order of their wire values (0 to 10).
    enum ORDINAL_TYPE {
        TRUE_FALSE = 0,
        YES_NO,
        YES_NO_MAYBE,
        YES_NO_UNSURE,
        YES_NO_OTHER,
        ALPHA_UPPER,
        ALPHA_LOWER,
        NUMBER,
        AGREEMENT,
        CONFIDENCE,
        GENERIC
    };
    Q_ENUM(ORDINAL_TYPE)

    /// Enumerator to ordinal-type string ("true-false", ..., "generic"); a fresh
    /// map per call. A key outside the enumeration looks up as an empty string.
    static const QMap<OrdinalType::ORDINAL_TYPE, QString> ORDINAL_TYPE_STR();
};

} // namespace Veltro
