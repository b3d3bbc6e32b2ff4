#include "sockjsframe_p.h"

#include "jsontemplate_p.h"
#include "logging_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace Veltro {

namespace {

// Outgoing messages: a one-string array in the server's expected layout.
const QString OUTGOING_TEMPLATE = QStringLiteral("[\n    \"%0\"\n]\n");

// The JSON array that follows the frame's type letter (read without another
// copy of the whole text: a frame can be megabytes).
bool parseArray(const QString &text, QJsonArray *out)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(QStringView(text).mid(1).toUtf8(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray())
        return false;
    *out = doc.array();
    return true;
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
        if (parseArray(text, &array)) {
            frame.messages.reserve(array.size());
            for (const QJsonValue v : array) {
                // Only strings are messages: anything else would reach the
                // dispatcher as a bus frame nobody sent.
                if (v.isString())
                    frame.messages.append(v.toString());
                else
                    qCDebug(lcSockJS) << "[SockJSConnector] Dropped a non-text element of a message frame";
            }
        }
    } else if (kind == QLatin1Char('c')) {
        frame.type = Close;
        QJsonArray array;
        if (parseArray(text, &array)) {
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
