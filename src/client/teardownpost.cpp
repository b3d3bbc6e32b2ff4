#include "teardownpost_p.h"

#include "networksettings_p.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSslSocket>
#include <QTcpSocket>

#include <memory>

namespace Veltro {

QByteArray teardownRequestBytes(const TeardownPost &post)
{
    const QUrl &url = post.url;
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray out = "POST " + target + " HTTP/1.1\r\n";
    out += "Host: " + url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1() + "\r\n";
    out += "Content-Type: application/json; charset=UTF-8\r\n";
    out += "accept-encoding: identity\r\n";
    if (!post.cookies.isEmpty()) {
        QList<QByteArray> pairs;
        for (const QNetworkCookie &c : post.cookies)
            pairs << c.toRawForm(QNetworkCookie::NameAndValueOnly);
        out += "Cookie: " + pairs.join("; ") + "\r\n";
    }
    out += "Content-Length: " + QByteArray::number(post.body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    return out + post.body;
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

    std::unique_ptr<QTcpSocket> socket;
    QSslSocket *tls = nullptr;
    if (https) {
        tls = new QSslSocket;
        socket.reset(tls);
        tls->setSslConfiguration(post.settings->sslConfiguration());
        if (!post.settings->acceptedSslErrors.isEmpty())
            tls->ignoreSslErrors(post.settings->acceptedSslErrors);
    } else {
        socket.reset(new QTcpSocket);
    }
    if (post.settings->proxySet)
        socket->setProxy(post.proxy);

    const QString host = post.url.host();
    const quint16 port = quint16(post.url.port(https ? 443 : 80));
    // A name would be looked up now, with no bound on the wait: the address
    // found earlier is used instead, unless a proxy resolves names itself.
    const QNetworkProxy proxy = post.settings->proxySet ? post.proxy : QNetworkProxy::applicationProxy();
    const bool proxied = proxy.type() != QNetworkProxy::NoProxy && proxy.type() != QNetworkProxy::DefaultProxy;
    QString connectTo = host;
    if (!proxied && QHostAddress(host).isNull() && !post.addresses.isEmpty())
        connectTo = post.addresses.first();
    if (tls)
        tls->connectToHostEncrypted(connectTo, port, host);
    else
        socket->connectToHost(connectTo, port);

    bool ok = socket->waitForConnected(left()) && (!tls || tls->waitForEncrypted(left()));
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
    // The answer is not awaited. An orderly close (never a reset, which
    // could discard what the server has not read yet) lets the request
    // arrive whole before the end of the connection.
    socket->disconnectFromHost();
    return true;
}

} // namespace Veltro
