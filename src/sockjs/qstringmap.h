// Header maps that travel between the XHR worker and its transport.
#pragma once

#include <QMap>
#include <QMetaType>
#include <QString>

/// HTTP header names to values, as received.
typedef QMap<QString, QString> QStringMap;
Q_DECLARE_METATYPE(QStringMap)
