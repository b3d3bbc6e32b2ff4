// Reflective JSON serializer: every readable Qt property of an object becomes
// one member named after the property; object-valued properties nest.
#pragma once

#include "veltroclient_export.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class QObject;

namespace Veltro {

/// Turns a QObject into JSON text through its readable Qt properties.
class VELTROCLIENT_EXPORT JsonSerializer
{
public:
    /// Returns the object's properties as indented JSON (keys ascending, nested
    /// objects down to a fixed depth). A null object gives an empty string.
    static QString serializeToJson(const QObject *object);

    /// Returns the map as indented JSON; an empty map gives "{\n}\n".
    /// Returns an empty string only if the conversion produced no text.
    static QString serializeToJson(const QVariantMap &map);

    /// Returns one property map per object, in list order, each mapped with a
    /// depth of 2. Null entries give empty maps.
    static QVariantList buildArrayObjectMap(const QList<QObject *> &objects);

    /// Returns the property names never serialized: "objectName".
    static QStringList getIgnorePropertiesList();

private:
    static QVariantMap buildObjectMap(const QObject *object, const QStringList &ignore, int depth);

    static constexpr int MAX_RECURSE_DEPTH = 4;
};

} // namespace Veltro
