// A learner as the session reports it; travels by value in signals.
#pragma once

#include "veltroclient_export.h"

#include <QMetaType>
#include <QString>

namespace Veltro {

/// A learner as the session reports it; travels by value in signals.
class VELTROCLIENT_EXPORT Learner
{
public:
    /// An empty record, as Qt's meta-type system needs one.
    Learner() = default;
    /// Builds a record from the learner's token, display name and device type.
    Learner(const QString &token, const QString &name, const QString &device)
        : userToken(token), userName(name), deviceType(device) {}

    /// Registers the type with Qt's meta-type system (also done at library load);
    /// returns its meta-type id.
    static int registerMetaType();

    QString userToken;  ///< The learner device's token (the device id in answers and departures).
    QString userName;   ///< The name the learner gave.
    QString deviceType; ///< The kind of device, as the device reports it.

    /// True when all three fields are equal.
    friend bool operator==(const Learner &a, const Learner &b)
    {
        return a.userToken == b.userToken && a.userName == b.userName && a.deviceType == b.deviceType;
    }
    /// True when any field differs.
    friend bool operator!=(const Learner &a, const Learner &b) { return !(a == b); }
};

} // namespace Veltro

Q_DECLARE_METATYPE(Veltro::Learner)
