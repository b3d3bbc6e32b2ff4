#include "networksettings_p.h"

#include "logging_p.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkProxyFactory>

namespace Veltro {

QString NetworkHub::key(const QNetworkProxy &proxy)
{
    return proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port());
}

void NetworkHub::authenticateProxy(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    const QString k = key(proxy);
    const auto known = m_credentials.constFind(k);
    // The authenticator arrives holding what was last offered on this
    // connection: equal to what we remember means the proxy refused it.
    const bool refused = !authenticator->user().isEmpty();
    if (known != m_credentials.constEnd()) {
        if (!refused || authenticator->user() != known->first || authenticator->password() != known->second) {
            authenticator->setUser(known->first);
            authenticator->setPassword(known->second);
            return;
        }
        m_credentials.remove(k);
    }
    const QString triedUser = authenticator->user();
    const QString triedPassword = authenticator->password();
    qCDebug(lcClient).noquote() << "[PresenterClient] Proxy" << k << "asks for credentials";
    emit proxyAuthenticationRequired(proxy, authenticator);
    if (authenticator->user().isEmpty())
        return;
    if (authenticator->user() == triedUser && authenticator->password() == triedPassword)
        return;   // the same again: Qt gives up, and so do we
    m_credentials.insert(k, {authenticator->user(), authenticator->password()});
}

QNetworkProxy NetworkHub::withCredentials(const QNetworkProxy &proxy) const
{
    const auto known = m_credentials.constFind(key(proxy));
    if (known == m_credentials.constEnd())
        return proxy;
    QNetworkProxy p = proxy;
    p.setUser(known->first);
    p.setPassword(known->second);
    return p;
}

void NetworkHub::lookUpAhead(const QString &host)
{
    if (host.isEmpty() || !QHostAddress(host).isNull() || m_addresses.contains(host))
        return;
    m_addresses.insert(host, {});
    QHostInfo::lookupHost(host, this, [this, host](const QHostInfo &info) {
        QStringList found;
        const QList<QHostAddress> addresses = info.addresses();
        for (const QHostAddress &a : addresses)
            found << a.toString();
        if (found.isEmpty())
            m_addresses.remove(host); // asked again by the next connection
        else
            m_addresses.insert(host, found);
    });
}

QStringList addressesWithoutLookup(const NetworkHub *hub, const QString &host)
{
    if (!QHostAddress(host).isNull())
        return {host};
    return hub ? hub->addressesAhead(host) : QStringList();
}

QNetworkProxy connectionProxy(const NetworkSettings &settings, const QString &host, quint16 port)
{
    QNetworkProxy proxy = settings.proxySet ? settings.proxy : QNetworkProxy(QNetworkProxy::DefaultProxy);
    if (proxy.type() == QNetworkProxy::DefaultProxy) {
        const QNetworkProxyQuery query(host, port, QString(), QNetworkProxyQuery::TcpSocket);
        proxy = QNetworkProxyFactory::proxyForQuery(query).value(0, QNetworkProxy(QNetworkProxy::NoProxy));
    }
    return proxy.type() == QNetworkProxy::DefaultProxy ? QNetworkProxy(QNetworkProxy::NoProxy) : proxy;
}

bool pinProxy(const NetworkHub *hub, QNetworkProxy *proxy)
{
    if (proxy->type() == QNetworkProxy::NoProxy)
        return true;
    const QStringList at = addressesWithoutLookup(hub, proxy->hostName());
    if (at.isEmpty())
        return false;
    proxy->setHostName(at.first());
    return true;
}

Error errorFromSocket(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return Error::ConnectionRefused;
    case QAbstractSocket::HostNotFoundError:
        return Error::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return Error::Timeout;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return Error::Tls;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return Error::ProxyAuthenticationRequired;
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return Error::Proxy;
    case QAbstractSocket::RemoteHostClosedError:
        return Error::ClosedByServer;
    default:
        return Error::Network;
    }
}

Error errorFromReply(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::NoError:
        return Error::None;
    case QNetworkReply::ConnectionRefusedError:
        return Error::ConnectionRefused;
    case QNetworkReply::HostNotFoundError:
        return Error::HostNotFound;
    case QNetworkReply::TimeoutError:
        return Error::Timeout;
    case QNetworkReply::OperationCanceledError:
        return Error::Cancelled;
    case QNetworkReply::SslHandshakeFailedError:
        return Error::Tls;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return Error::ProxyAuthenticationRequired;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownProxyError:
        return Error::Proxy;
    default:
        // HTTP error statuses (401, 404, 409, 5xx ...) and protocol errors:
        // the service answered, but not with what was asked for.
        if (error >= QNetworkReply::ContentAccessDenied)
            return Error::Service;
        return Error::Network;
    }
}

QString errorDescription(Error error)
{
    switch (error) {
    case Error::None:
        return QString();
    case Error::Network:
        return QStringLiteral("network error");
    case Error::ConnectionRefused:
        return QStringLiteral("connection refused");
    case Error::HostNotFound:
        return QStringLiteral("host not found");
    case Error::Timeout:
        return QStringLiteral("timed out");
    case Error::Tls:
        return QStringLiteral("TLS handshake refused");
    case Error::Proxy:
        return QStringLiteral("the proxy refused the connection");
    case Error::ProxyAuthenticationRequired:
        return QStringLiteral("the proxy asks for credentials");
    case Error::ResponseTooLarge:
        return QStringLiteral("the answer is larger than allowed");
    case Error::SignInRefused:
        return QStringLiteral("sign-in refused");
    case Error::RegistrationRequired:
        return QStringLiteral("the account must register first");
    case Error::NotSignedIn:
        return QStringLiteral("not signed in");
    case Error::SessionMissing:
        return QStringLiteral("no session");
    case Error::Service:
        return QStringLiteral("the service answered with an error");
    case Error::Cancelled:
        return QStringLiteral("cancelled");
    case Error::DeadLink:
        return QStringLiteral("nothing heard from the server: the link is dead");
    case Error::ClosedByServer:
        return QStringLiteral("closed by the server");
    case Error::FrameTooLarge:
        return QStringLiteral("a frame from the server is larger than allowed");
    case Error::BacklogFull:
        return QStringLiteral("received messages were not taken in time");
    case Error::Inactivity:
        return QStringLiteral("closed after an hour without activity");
    case Error::SignInLost:
        return QStringLiteral("the service no longer knows the sign-in; sign in and start the session again");
    }
    return QString();
}

QString sslErrorsText(const QList<QSslError> &errors)
{
    if (errors.isEmpty())
        return errorDescription(Error::Tls);
    const QSslError &first = errors.first();
    QString text = QStringLiteral("certificate error: ") + first.errorString();
    if (!first.certificate().isNull())
        text += QStringLiteral(" (") + first.certificate().subjectDisplayName() + QLatin1Char(')');
    if (errors.size() > 1)
        text += QStringLiteral(" and ") + QString::number(errors.size() - 1) + QStringLiteral(" more");
    return text;
}

} // namespace Veltro
