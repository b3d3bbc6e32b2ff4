// One client's network choices (TLS, proxy, the defaults of its live
// connections) and the hub through which every transport it opens asks the
// host about certificate errors and proxy credentials. A PresenterClient owns
// one; each PresenterCollab it creates shares it, and each transport reads it
// when it opens. A collaboration object made without a client has a hub of
// its own with the defaults. Not installed.
#pragma once

#include <QAbstractSocket>
#include <QAuthenticator>
#include <QHash>
#include <QList>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <QStringList>

#include "veltronamespace.h"

namespace Veltro {

/// What a client chose for every connection it opens. Read on the host's
/// thread; a transport that works on another thread takes a copy when it opens.
struct NetworkSettings
{
    /// TLS configuration of every connection; unset means Qt's default
    /// configuration as it is when the connection opens.
    bool sslSet = false;
    QSslConfiguration ssl;
    /// Certificate errors the host accepted (error kind and certificate both
    /// match, as QSslSocket::ignoreSslErrors(list) compares them).
    QList<QSslError> acceptedSslErrors;
    /// Proxy of every connection; unset means the application's or the
    /// system's, as before.
    bool proxySet = false;
    QNetworkProxy proxy;

    /// Defaults of each live connection (PresenterCollab) created from now on.
    bool autoReconnect = false;
    int reconnectInitialMs = 500;
    int reconnectMaxMs = 30000;
    int reconnectMaxAttempts = 0;
    int reconnectMaxTotalMs = 1800000;
    int deadLinkLimitMs = 60000;
    qint64 maxIncomingFrameSize = 8 * 1024 * 1024;

    /// The configuration a connection opened now uses.
    QSslConfiguration sslConfiguration() const
    {
        return sslSet ? ssl : QSslConfiguration::defaultConfiguration();
    }
};

/// Where transports report certificate errors and ask for proxy credentials,
/// and where the host's answers are kept. Lives on the host's thread; the
/// client re-emits its signals.
class NetworkHub : public QObject
{
    Q_OBJECT

public:
    explicit NetworkHub(QObject *parent = nullptr) : QObject(parent) {}

    /// The settings every connection of the client reads.
    const NetworkSettings &settings() const { return m_settings; }
    NetworkSettings &settings() { return m_settings; }

    /// Answers one 407 of the proxy `proxy` on one connection (call it from
    /// the socket's or manager's proxyAuthenticationRequired, on the host's
    /// thread). Offers remembered credentials first, unless they are the ones
    /// the proxy just refused; then asks the host once through
    /// proxyAuthenticationRequired(), remembering what it gives. When nothing
    /// new is offered, Qt ends the connection with a proxy-authentication
    /// error, so a refusal is never retried in a loop.
    void authenticateProxy(const QNetworkProxy &proxy, QAuthenticator *authenticator);

    /// Reports a refused TLS handshake to the host (sslErrors()).
    void reportSslErrors(const QList<QSslError> &errors, const QList<QSslCertificate> &chain)
    {
        emit sslErrors(errors, chain);
    }

    /// Credentials remembered for `proxy` (set in it, or given by the host),
    /// as a proxy that carries them; `proxy` itself when there are none.
    QNetworkProxy withCredentials(const QNetworkProxy &proxy) const;

    /// Looks the name `host` up in the background, once, so that a connection
    /// that may not wait on a lookup (a teardown's: a lookup has no bound)
    /// can reach it later; nothing for an address or an empty name.
    void lookUpAhead(const QString &host);
    /// What lookUpAhead() found for `host`; empty while nothing is known.
    QStringList addressesAhead(const QString &host) const { return m_addresses.value(host); }

Q_SIGNALS:
    /// A TLS handshake of any transport was refused for these errors.
    void sslErrors(const QList<QSslError> &errors, const QList<QSslCertificate> &chain);
    /// A proxy asks for credentials; fill `authenticator` in a directly
    /// connected slot to give them.
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

private:
    static QString key(const QNetworkProxy &proxy);

    NetworkSettings m_settings;
    QHash<QString, QPair<QString, QString>> m_credentials;
    QHash<QString, QStringList> m_addresses; // by name; empty while its lookup runs
};

/// The addresses a connection that may not look a name up reaches `host` by:
/// `host` itself when it is an address, else what `hub` looked up ahead for
/// it (hub may be null); empty when none is known.
QStringList addressesWithoutLookup(const NetworkHub *hub, const QString &host);
/// The proxy a connection to host:port from the host's thread goes through:
/// the client's own when set, else the application's choice for it (its
/// proxy factory's, the system's with setUseSystemConfiguration()); NoProxy
/// when none.
QNetworkProxy connectionProxy(const NetworkSettings &settings, const QString &host, quint16 port);
/// For a connection that may not look a name up: `proxy` with its host given
/// as an address (`hub`'s, see addressesWithoutLookup()). False when the
/// proxy's name has no known address; NoProxy needs none.
bool pinProxy(const NetworkHub *hub, QNetworkProxy *proxy);

/// The kind of failure a socket error is.
Error errorFromSocket(QAbstractSocket::SocketError error);
/// The kind of failure a network reply's error is (HTTP error statuses are Service).
Error errorFromReply(QNetworkReply::NetworkError error);
/// A readable sentence for a kind of failure, for when nothing more precise is known.
QString errorDescription(Error error);
/// "certificate error: <first error's text> (<certificate's subject>)", and how many more.
QString sslErrorsText(const QList<QSslError> &errors);

} // namespace Veltro
