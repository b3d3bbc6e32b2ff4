#include "teardownpost_p.h"

#include "networksettings_p.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <QTcpSocket>

#include <memory>

namespace Veltro {

QByteArray httpPostHead(const QUrl &url, const QByteArray &contentType, const QList<QNetworkCookie> &cookies,
                        qint64 length, const QByteArray &extra)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray out = "POST " + target + " HTTP/1.1\r\n";
    out += "Host: " + url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1() + "\r\n";
    out += "Content-Type: " + contentType + "\r\n";
    out += "accept-encoding: identity\r\n";
    if (!cookies.isEmpty()) {
        QList<QByteArray> pairs;
        for (const QNetworkCookie &c : cookies)
            pairs << c.toRawForm(QNetworkCookie::NameAndValueOnly);
        out += "Cookie: " + pairs.join("; ") + "\r\n";
    }
    out += extra;
    out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    out += "Connection: close\r\n\r\n";
    return out;
}

QByteArray teardownRequestBytes(const TeardownPost &post)
{
    return httpPostHead(post.url, "application/json; charset=UTF-8", post.cookies, post.body.size()) + post.body;
}

bool sendTeardownPost(const TeardownPost &post, QString *why)
{
    const QString scheme = post.url.scheme();
    const bool https = scheme == QLatin1String("https");
    if (!https && scheme != QLatin1String("http")) {
        *why = QStringLiteral("not an http or https address");
        return false;
    }
    if (https && !QSslSocket::supportsSsl()) {
        *why = QStringLiteral("no TLS support");
        return false;
    }
    const QDeadlineTimer deadline(post.budgetMs);
    auto left = [&deadline] { return int(qMax<qint64>(1, deadline.remainingTime())); };

    const NetworkSettings &settings = post.hub->settings();
    const QString host = post.url.host();
    const quint16 port = quint16(post.url.port(https ? 443 : 80));
    // The proxy is decided here, reached by its address, and names the server
    // to it; without one the server's own addresses are tried in turn.
    QNetworkProxy proxy = post.hub->withCredentials(connectionProxy(settings, host, port));
    if (!pinProxy(post.hub, &proxy)) {
        *why = QStringLiteral("the proxy's address was not looked up");
        return false;
    }
    const bool proxied = proxy.type() != QNetworkProxy::NoProxy;
    const QStringList targets = proxied ? QStringList{host} : addressesWithoutLookup(post.hub, host);
    if (targets.isEmpty()) {
        *why = QStringLiteral("the server's address was not looked up");
        return false;
    }

    std::unique_ptr<QTcpSocket> socket;
    QSslSocket *tls = nullptr;
    bool ok = false;
    for (const QString &target : targets) {
        if (https) {
            tls = new QSslSocket;
            socket.reset(tls);
            tls->setSslConfiguration(settings.sslConfiguration());
            if (!settings.acceptedSslErrors.isEmpty())
                tls->ignoreSslErrors(settings.acceptedSslErrors);
        } else {
            socket.reset(new QTcpSocket);
        }
        socket->setProxy(proxy);
        if (tls)
            tls->connectToHostEncrypted(target, port, host);
        else
            socket->connectToHost(target, port);
        ok = socket->waitForConnected(left());
        if (ok || deadline.hasExpired())
            break;
    }
    ok = ok && (!tls || tls->waitForEncrypted(left()));
    if (ok) {
        socket->write(teardownRequestBytes(post));
        while (ok && socket->bytesToWrite() > 0)
            ok = socket->waitForBytesWritten(left());
    }
    if (!ok) {
        *why = socket->errorString();
        socket->abort();
        return false;
    }
    // Through a proxy, Qt's socket hands the bytes to an inner one that
    // writes only while a wait runs: the answer's first bytes show they
    // left. Otherwise the answer is not awaited. An orderly close (never a
    // reset, which could discard what the server has not read yet) lets the
    // request arrive whole before the end of the connection.
    if (proxied)
        socket->waitForReadyRead(left());
    socket->disconnectFromHost();
    return true;
}

} // namespace Veltro
