#include "veltrocollabmessage.h"
#include "veltrocollabmessage_p.h"

#include "jsonserializer.h"
#include "logging_p.h"
#include "lzmacodec.h"

namespace Veltro {

const QString VeltroCollabMessage::PROTOCOL_VERSION = QStringLiteral("3.0.0");

VeltroCollabMessage::VeltroCollabMessage(QObject *parent)
    : QObject(parent)
    , d(new VeltroCollabMessagePrivate)
{
}

VeltroCollabMessage::~VeltroCollabMessage() = default;

QString VeltroCollabMessage::getfrom() const { return d->from; }
QString VeltroCollabMessage::gettype() const { return d->type; }
QString VeltroCollabMessage::getversion() const { return d->version; }
QString VeltroCollabMessage::getsourceSystem() const { return d->sourceSystem; }
QVariant VeltroCollabMessage::getdata() const { return d->data; }
QObject *VeltroCollabMessage::getdataobject() const { return d->dataObject; }

void VeltroCollabMessage::setfrom(QString from) { d->from = std::move(from); }
void VeltroCollabMessage::settype(QString type) { d->type = std::move(type); }
void VeltroCollabMessage::setversion(QString version) { d->version = std::move(version); }
void VeltroCollabMessage::setsourceSystem(QString sourceSystem) { d->sourceSystem = std::move(sourceSystem); }
void VeltroCollabMessage::setdata(QVariant data) { d->data = std::move(data); }
void VeltroCollabMessage::setdataobject(QObject *dataObject) { d->dataObject = dataObject; }

bool VeltroCollabMessagePrivate::payloadJson(const VeltroCollabMessage &message, QString *json)
{
    const VeltroCollabMessagePrivate *d = message.d.get();
    if (d->dataObject) {
        *json = JsonSerializer::serializeToJson(d->dataObject);
        return true;
    }
    if (d->data.canConvert<QVariantMap>()) {
        *json = JsonSerializer::serializeToJson(d->data.toMap());
        return true;
    }
    return false;
}

void VeltroCollabMessage::compileData()
{
    QString json;
    if (!VeltroCollabMessagePrivate::payloadJson(*this, &json)) {
        qCDebug(lcCollab).noquote() << "[VeltroCollabMessage] data object in message is invalid!";
        return;
    }
    // A failed compression travels as an empty string rather than as the
    // uncompressed text, which no receiver would decode.
    QString compressed;
    LzmaCompress64(json, &compressed);
    d->data = QVariantList{compressed};
}

} // namespace Veltro
