// Private side of VeltroCollabMessage: its values, and the payload's JSON
// text that the publisher compresses. Not installed.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include "veltrocollabmessage.h"

namespace Veltro {

class VeltroCollabMessagePrivate
{
public:
    /// The JSON text compileData() compresses: the data object serialized,
    /// else a map in `data`. False, writing nothing, for neither.
    static bool payloadJson(const VeltroCollabMessage &message, QString *json);

    QString from;
    QString type;
    QString version = VeltroCollabMessage::PROTOCOL_VERSION;
    QString sourceSystem = QStringLiteral("Nimbra");
    QVariant data;
    QObject *dataObject = nullptr; // not owned
};

} // namespace Veltro
