#include "transportnetwork_p.h"

#include "systemproxy.h"

#include <QAuthenticator>
#include <QSslSocket>

namespace Veltro {

TransportNetwork TransportNetwork::forServer(NetworkHub *hub, const QString &host, int port, bool useSsl,
                                             const QString &path)
{
    TransportNetwork n;
    n.hub = hub;
    if (hub) {
        const NetworkSettings &s = hub->settings();
        n.ssl = s.sslConfiguration();
        n.acceptedSslErrors = s.acceptedSslErrors;
        if (s.proxySet)
            n.proxy = s.proxy;
    }
    if (!hub || !hub->settings().proxySet)
        n.proxy = proxyForServer(host, port, useSsl, path);
    return n;
}

void TransportNetwork::prepare(QAbstractSocket *socket) const
{
    socket->setProxy(proxy);
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        ssl->setSslConfiguration(this->ssl);
        // Exactly these: a handshake with any other error is refused.
        ssl->ignoreSslErrors(acceptedSslErrors);
    }
}

QNetworkProxy TransportNetwork::proxyWithCredentials() const
{
    return hub ? hub->withCredentials(proxy) : proxy;
}

void TransportNetwork::authenticate(const QNetworkProxy &p, QAuthenticator *authenticator) const
{
    if (hub)
        hub->authenticateProxy(p, authenticator);
}

QString TransportNetwork::judge(const QList<QSslError> &errors, const QList<QSslCertificate> &chain) const
{
    const QList<QSslError> refused = refusedSslErrors(errors, acceptedSslErrors);
    if (refused.isEmpty())
        return QString();
    if (hub)
        hub->reportSslErrors(refused, chain);
    return sslErrorsText(refused);
}

void TransportNetwork::watch(QAbstractSocket *socket, QObject *context,
                             std::function<void(const QString &)> refused) const
{
    const TransportNetwork self = *this;
    // Direct: the authenticator must be filled before the signal returns.
    QObject::connect(socket, &QAbstractSocket::proxyAuthenticationRequired, context,
                     [self](const QNetworkProxy &p, QAuthenticator *a) { self.authenticate(p, a); },
                     Qt::DirectConnection);
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        QObject::connect(ssl, qOverload<const QList<QSslError> &>(&QSslSocket::sslErrors), context,
                         [self, ssl, refused](const QList<QSslError> &errors) {
                             const QString text = self.judge(errors, ssl->peerCertificateChain());
                             if (!text.isEmpty())
                                 refused(text);
                         });
    }
}

QList<QSslError> refusedSslErrors(const QList<QSslError> &errors, const QList<QSslError> &accepted)
{
    QList<QSslError> refused;
    for (const QSslError &e : errors) {
        if (!accepted.contains(e))
            refused.append(e);
    }
    return refused;
}

int FailureReason::weight(Error e)
{
    switch (e) {
    case Error::Tls:
    case Error::ProxyAuthenticationRequired:
        return 4;
    case Error::Proxy:
        return 3;
    case Error::HostNotFound:
    case Error::ConnectionRefused:
    case Error::Timeout:
    case Error::ClosedByServer:
        return 2;
    case Error::None:
        return 0;
    default:
        return 1;
    }
}

FailureReason reasonFromSocket(const QAbstractSocket *socket, const QString &tlsText)
{
    FailureReason r;
    const Error e = errorFromSocket(socket->error());
    if (e == Error::Tls && !tlsText.isEmpty())
        r.set(e, tlsText);
    else
        r.set(e, socket->errorString());
    return r;
}

} // namespace Veltro
