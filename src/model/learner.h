// A learner as the session reports it; travels by value in signals.
#pragma once

#include "veltroclient_export.h"

#include <QMetaType>
#include <QString>

namespace Veltro {

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

    QString userToken;
    QString userName;
    QString deviceType;

    friend bool operator==(const Learner &a, const Learner &b)
    {
        return a.userToken == b.userToken && a.userName == b.userName && a.deviceType == b.deviceType;
    }
    friend bool operator!=(const Learner &a, const Learner &b) { return !(a == b); }
};

} // namespace Veltro

Q_DECLARE_METATYPE(Veltro::Learner)
