// Helpers shared by the model tests.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QString>
#include <cstring>

// The test environment switches veltro debug output off; the serializer's
// diagnostics are part of its contract, so turn them back on for veltro.model.
inline void enableModelDebugOutput()
{
    static QLoggingCategory::CategoryFilter previous = nullptr;
    previous = QLoggingCategory::installFilter([](QLoggingCategory *category) {
        if (previous)
            previous(category);
        if (std::strcmp(category->categoryName(), "veltro.model") == 0)
            category->setEnabled(QtDebugMsg, true);
    });
}

inline QJsonObject parseObject(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

