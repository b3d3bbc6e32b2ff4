#include "jsonserializer.h"

#include "logging_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaProperty>
#include <QObject>

namespace Veltro {

namespace {

// A value as JSON, converted as QJsonValue::fromVariant does, except that
// 64-bit integers become doubles at every level: Qt 5 writes them so (rounded
// past 2^53, as every JSON peer reads them), Qt 6 would write all digits.
QJsonValue toJsonValue(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::LongLong:
        return double(value.toLongLong());
    case QMetaType::ULongLong:
        return double(value.toULongLong());
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(it.key(), toJsonValue(it.value()));
        return object;
    }
    case QMetaType::QVariantHash: {
        QJsonObject object;
        const QVariantHash hash = value.toHash();
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            object.insert(it.key(), toJsonValue(it.value()));
        return object;
    }
    case QMetaType::QVariantList: {
        QJsonArray array;
        const QVariantList list = value.toList();
        for (const QVariant &element : list)
            array.append(toJsonValue(element));
        return array;
    }
    default:
        return QJsonValue::fromVariant(value);
    }
}

} // namespace

QStringList JsonSerializer::getIgnorePropertiesList()
{
    return {QStringLiteral("objectName")};
}

QVariantMap JsonSerializer::buildObjectMap(const QObject *object, const QStringList &ignore, int depth)
{
    QVariantMap map;
    if (depth <= 0) {
        qCDebug(lcModel).noquote().nospace()
            << "[JsonSerializer] ERROR: Reached max depth! Increase MAX_RECURSE_DEPTH or check object references!";
        return map;
    }
    if (!object)
        return map;

    const QMetaObject *meta = object->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty prop = meta->property(i);
        const QString name = QString::fromLatin1(prop.name());
        if (!prop.isReadable() || ignore.contains(name))
            continue;
        map.insert(name, object->property(prop.name()));
    }

    // One countdown per call: each mapped sub-object lowers this call's depth,
    // so siblings are mapped at d-1, d-2, ... in ascending key order.
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (QString::fromLatin1(it.value().typeName()).trimmed() != QLatin1String("QObject*"))
            continue;
        QObject *sub = it.value().value<QObject *>();
        if (sub) {
            qCDebug(lcModel).noquote().nospace() << "[JsonSerializer] Mapping sub-property: " << it.key();
            --depth;
            it.value() = buildObjectMap(sub, ignore, depth);
        } else {
            qCDebug(lcModel).noquote().nospace() << "[JsonSerializer] ERROR: Failed to map property: " << it.key();
        }
    }
    return map;
}

QVariantList JsonSerializer::buildArrayObjectMap(const QList<QObject *> &objects)
{
    QVariantList list;
    list.reserve(objects.size());
    const QStringList ignore = getIgnorePropertiesList();
    for (const QObject *object : objects)
        list.append(buildObjectMap(object, ignore, 2));
    return list;
}

QString JsonSerializer::serializeToJson(const QObject *object)
{
    static const int listOfMapsType = qRegisterMetaType<QList<QVariantMap>>("QList<QVariantMap>");
    Q_UNUSED(listOfMapsType)
    if (!object) {
        qCDebug(lcModel).noquote().nospace() << "[JsonSerializer] ERROR: ";
        return QString();
    }
    return serializeToJson(buildObjectMap(object, getIgnorePropertiesList(), MAX_RECURSE_DEPTH));
}

QString JsonSerializer::serializeToJson(const QVariantMap &map)
{
    const QJsonDocument doc(toJsonValue(map).toObject());
    const QString text = QString::fromUtf8(doc.toJson(QJsonDocument::Indented));
    if (text.isEmpty())
        qCDebug(lcModel).noquote().nospace() << "[JsonSerializer] ERROR: ";
    return text;
}

} // namespace Veltro
