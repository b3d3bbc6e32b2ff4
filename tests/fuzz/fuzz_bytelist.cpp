// libFuzzer target: a byte list read from frame text equals the JSON reader's, and the rest reads as the whole does.
#include "bytelist_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString frame = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    constexpr qint64 cap = 64; // small, so that refusals happen too
    QString rest;
    QByteArray bytes;
    bool tooLong = false;
    if (!Veltro::takeByteList(frame, cap, &rest, &bytes, &tooLong))
        return 0;
    QJsonParseError wholeError, restError;
    const QJsonDocument whole = QJsonDocument::fromJson(frame.toUtf8(), &wholeError);
    const QJsonDocument part = QJsonDocument::fromJson(rest.toUtf8(), &restError);
    if ((wholeError.error == QJsonParseError::NoError) != (restError.error == QJsonParseError::NoError))
        __builtin_trap();
    if (wholeError.error != QJsonParseError::NoError)
        return 0;
    const QJsonValue list = whole.object().value(QStringLiteral("body")).toObject().value(QStringLiteral("data"));
    bool expectedTooLong = false;
    if (!list.isArray() || Veltro::byteListOf(list.toArray(), cap, &expectedTooLong) != bytes
        || expectedTooLong != tooLong)
        __builtin_trap();
    if (!part.object().value(QStringLiteral("body")).toObject().value(QStringLiteral("data")).isNull())
        __builtin_trap();
    return 0;
}
