// A command from a remote-controller device; travels by value in signals.
#pragma once

#include "veltroclient_export.h"

#include <QMetaType>
#include <QString>
#include <QVariant>

namespace Veltro {

/// A command from a remote-controller device; travels by value in signals.
class VELTROCLIENT_EXPORT RemoteControlMessage
{
public:
    /// An empty record, as Qt's meta-type system needs one.
    RemoteControlMessage() = default;
    /// Builds a record from the sender's address, the command and its data.
    RemoteControlMessage(const QString &sender, const QString &command, const QVariant &value)
        : from(sender), type(command), data(value) {}

    /// Registers the type with Qt's meta-type system (also done at library load);
    /// returns its meta-type id.
    static int registerMetaType();

    QString from;  ///< The sending controller's address.
    QString type;  ///< The command.
    QVariant data; ///< The command's data, as sent.

    /// True when all three fields are equal.
    friend bool operator==(const RemoteControlMessage &a, const RemoteControlMessage &b)
    {
        return a.from == b.from && a.type == b.type && a.data == b.data;
    }
    /// True when any field differs.
    friend bool operator!=(const RemoteControlMessage &a, const RemoteControlMessage &b) { return !(a == b); }
};

} // namespace Veltro

Q_DECLARE_METATYPE(Veltro::RemoteControlMessage)
