#include "sockjsframe_p.h"

#include "jsontemplate_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace Veltro {

namespace {

// Outgoing messages: a one-string array in the server's expected layout.
const QString OUTGOING_TEMPLATE = QStringLiteral("[\n    \"%0\"\n]\n");

bool parseArray(const QString &text, QJsonArray *out)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray())
        return false;
    *out = doc.array();
    return true;
}

QString valueText(const QJsonValue &v)
{
    if (v.isString())
        return v.toString();
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isObject())
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    // Scalars: reuse the writer so numbers and literals read as JSON does.
    const QByteArray wrapped = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

} // namespace

SockJSFrame SockJSFrame::read(const QString &text)
{
    SockJSFrame frame;
    if (text.isEmpty())
        return frame;
    const QChar kind = text.at(0);
    if (kind == QLatin1Char('o') && text.size() == 1) {
        frame.type = Open;
    } else if (kind == QLatin1Char('h')) {
        // The streaming prelude is a long run of "h"; both are heartbeats.
        for (const QChar c : text) {
            if (c != QLatin1Char('h'))
                return frame;
        }
        frame.type = Heartbeat;
    } else if (kind == QLatin1Char('a')) {
        frame.type = Messages;
        QJsonArray array;
        if (parseArray(text.mid(1), &array)) {
            frame.messages.reserve(array.size());
            for (const QJsonValue v : array)
                frame.messages.append(valueText(v));
        }
    } else if (kind == QLatin1Char('c')) {
        frame.type = Close;
        QJsonArray array;
        if (parseArray(text.mid(1), &array)) {
            frame.closeCode = array.at(0).toInt();
            frame.closeReason = array.at(1).toString();
        }
    }
    return frame;
}

QString SockJSFrame::encode(const QString &message)
{
    return fillJsonTemplate(OUTGOING_TEMPLATE, {message});
}

} // namespace Veltro
