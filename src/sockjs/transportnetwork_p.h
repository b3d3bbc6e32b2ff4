// What the SockJS transports take from their client's network settings when
// they open (TLS configuration, accepted certificate errors, proxy) and how a
// socket of the host's thread reports certificate errors and asks for proxy
// credentials. Every transport (the WebSocket, the XHR receive socket and the
// "/xhr_send" socket) goes through here, so they all decide alike.
#pragma once

#include "networksettings_p.h"
#include "veltronamespace.h"

#include <QList>
#include <QNetworkProxy>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

#include <functional>

class QAbstractSocket;
class QAuthenticator;

namespace Veltro {

/// A transport's copy of its client's choices, taken when it opens.
struct TransportNetwork
{
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    QList<QSslError> acceptedSslErrors;
    QNetworkProxy proxy{QNetworkProxy::NoProxy};
    /// Where certificate errors are reported and proxy credentials asked
    /// for; null: nobody (a proxy's 407 then ends the connection).
    QPointer<NetworkHub> hub;

    /// The choices for a connection to host:port below `path`: the hub's
    /// settings (its explicit proxy, else the application's or system's proxy
    /// for that server); Qt's defaults without a hub.
    static TransportNetwork forServer(NetworkHub *hub, const QString &host, int port, bool useSsl,
                                      const QString &path);

    /// Sets the proxy and, on a TLS socket, the configuration and the
    /// accepted errors, before a connection starts.
    void prepare(QAbstractSocket *socket) const;
    /// The proxy with the credentials the hub knows for it by now, for a
    /// socket that cannot ask (another thread, a teardown).
    QNetworkProxy proxyWithCredentials() const;

    /// Answers a proxy's 407 through the hub (nothing is offered without one).
    void authenticate(const QNetworkProxy &proxy, QAuthenticator *authenticator) const;
    /// Judges the certificate errors of one handshake: those not accepted
    /// are reported to the hub with the peer's chain, and named in the
    /// returned text; empty when every error was accepted.
    QString judge(const QList<QSslError> &errors, const QList<QSslCertificate> &chain) const;
    /// For a socket of the host's thread: answers its proxy's 407 and judges
    /// its certificate errors; `refused` gets the text of a refused handshake.
    void watch(QAbstractSocket *socket, QObject *context, std::function<void(const QString &)> refused) const;
};

/// `errors` that `accepted` does not cover (error and certificate both
/// match); a handshake with any of them is refused.
QList<QSslError> refusedSslErrors(const QList<QSslError> &errors, const QList<QSslError> &accepted);

/// Why one connection attempt failed, kept while it fails, then read out.
struct FailureReason
{
    Error error = Error::None;
    QString text;

    /// A reason of kind `e`, described by `t` (or by the kind's own words when empty).
    static FailureReason of(Error e, const QString &t = QString())
    {
        FailureReason r;
        r.set(e, t);
        return r;
    }
    bool isSet() const { return error != Error::None; }
    void set(Error e, const QString &t)
    {
        error = e;
        text = t.isEmpty() ? errorDescription(e) : t;
    }
    /// How telling a reason is: a certificate or proxy answer says more than
    /// a refused or timed-out connection, which says more than "network".
    static int weight(Error e);
    /// Keeps `other` when it says more than what is kept.
    void preferMoreTelling(const FailureReason &other)
    {
        if (weight(other.error) > weight(error))
            *this = other;
    }
};

/// The reason a socket's error gives (a refused handshake's certificate
/// errors, when known, name it).
FailureReason reasonFromSocket(const QAbstractSocket *socket, const QString &tlsText);

} // namespace Veltro
