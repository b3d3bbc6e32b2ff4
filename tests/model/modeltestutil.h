// Helpers shared by the model tests.
#pragma once

#include "jsonserializer.h"

#include <QJsonDocument>
#include <QJsonObject>

// The serializer's text of `o` read back (the indented layout itself is the
// serializer test's concern).
inline QJsonObject serialized(const QObject *o)
{
    return QJsonDocument::fromJson(Veltro::JsonSerializer::serializeToJson(o).toUtf8()).object();
}

inline QString compactJson(const QObject *o)
{
    return QString::fromUtf8(QJsonDocument(serialized(o)).toJson(QJsonDocument::Compact));
}
