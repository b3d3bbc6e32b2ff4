#include "xhrrequestwriter_p.h"

#include <QUrl>

namespace Veltro {

namespace {

QString withoutLineBreaks(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

// A plain host name or address, as almost every server has: used as it is
// (the international form costs more than the rest of the request head).
bool isPlainHost(const QString &host)
{
    for (const QChar c : host) {
        const ushort u = c.unicode();
        if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' || u == '-'
              || u == ':'))
            return false;
    }
    return !host.isEmpty();
}

} // namespace

QString hostHeaderValue(const QString &host, int port, bool useSsl)
{
    // HTTP/1.1: a name-based proxy or virtual host on another port than the
    // scheme's default needs the port to find the right site.
    QString value = isPlainHost(host) ? host : QString::fromLatin1(QUrl::toAce(host));
    if (value.isEmpty())
        value = withoutLineBreaks(host);
    if (value.contains(QLatin1Char(':')))
        value = QLatin1Char('[') + value + QLatin1Char(']');
    if (port != (useSsl ? 443 : 80))
        value += QLatin1Char(':') + QString::number(port);
    return value;
}

QString writeXhrRequestHead(const XhrRequestHead &head)
{
    QString path = withoutLineBreaks(head.path);
    path.replace(QLatin1Char(' '), QLatin1String("%20"));
    QString text = QStringLiteral("POST ") + path + QStringLiteral(" HTTP/1.1\r\n");
    text += QStringLiteral("Host: ") + hostHeaderValue(head.host, head.port, head.useSsl) + QStringLiteral("\r\n");
    text += head.keepAlive ? QStringLiteral("Connection: keep-alive\r\n") : QStringLiteral("Connection: close\r\n");
    text += QStringLiteral("Accept-Encoding: identity\r\n");
    text += QStringLiteral("Content-Type: ") + withoutLineBreaks(head.contentType) + QStringLiteral("\r\n");
    text += QStringLiteral("Content-Length: ") + QString::number(head.contentLength) + QStringLiteral("\r\n");
    if (!head.cookies.isEmpty())
        text += QStringLiteral("Cookie: ") + withoutLineBreaks(head.cookies) + QStringLiteral("\r\n");
    return text + QStringLiteral("\r\n");
}

} // namespace Veltro
