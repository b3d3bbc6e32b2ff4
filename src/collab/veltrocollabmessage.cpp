#include "veltrocollabmessage.h"

#include "jsonserializer.h"
#include "logging_p.h"
#include "lzmacodec.h"

namespace Veltro {

const QString VeltroCollabMessage::PROTOCOL_VERSION = QStringLiteral("3.0.0");

VeltroCollabMessage::VeltroCollabMessage(QObject *parent)
    : QObject(parent)
    , m_version(PROTOCOL_VERSION)
    , m_sourceSystem(QStringLiteral("Nimbra"))
{
}

VeltroCollabMessage::~VeltroCollabMessage() = default;

QString VeltroCollabMessage::getfrom() const { return m_from; }
QString VeltroCollabMessage::gettype() const { return m_type; }
QString VeltroCollabMessage::getversion() const { return m_version; }
QString VeltroCollabMessage::getsourceSystem() const { return m_sourceSystem; }
QVariant VeltroCollabMessage::getdata() const { return m_data; }
QObject *VeltroCollabMessage::getdataobject() const { return m_dataObject; }

void VeltroCollabMessage::setfrom(QString from) { m_from = std::move(from); }
void VeltroCollabMessage::settype(QString type) { m_type = std::move(type); }
void VeltroCollabMessage::setversion(QString version) { m_version = std::move(version); }
void VeltroCollabMessage::setsourceSystem(QString sourceSystem) { m_sourceSystem = std::move(sourceSystem); }
void VeltroCollabMessage::setdata(QVariant data) { m_data = std::move(data); }
void VeltroCollabMessage::setdataobject(QObject *dataObject) { m_dataObject = dataObject; }

void VeltroCollabMessage::compileData()
{
    QString json;
    if (m_dataObject) {
        json = JsonSerializer::serializeToJson(m_dataObject);
    } else if (m_data.canConvert<QVariantMap>()) {
        json = JsonSerializer::serializeToJson(m_data.toMap());
    } else {
        qCDebug(lcCollab).noquote() << "[VeltroCollabMessage] data object in message is invalid!";
        return;
    }
    // A failed compression travels as an empty string rather than as the
    // uncompressed text, which no receiver would decode.
    QString compressed;
    LzmaCompress64(json, &compressed);
    m_data = QVariantList{compressed};
}

} // namespace Veltro
