// The library's enumerations shared by every class a host touches: the kinds
// of failure, the states of the live connection and of its poll. Registered with Qt's
// meta-object system, so they print by name, travel in queued signals and
// reach QML.
#pragma once

#include "veltroclient_export.h"

#include <QObject>

namespace Veltro {
Q_NAMESPACE_EXPORT(VELTROCLIENT_EXPORT)

/// What kind of failure an operation or a live connection met. Every failure
/// the library reports carries one, beside its text, so that a host can react
/// without matching strings.
enum class Error {
    None = 0,                    ///< No failure.
    Network,                     ///< A network failure of another kind (see the error text).
    ConnectionRefused,           ///< The server (or the proxy's target) refused the connection.
    HostNotFound,                ///< The host name could not be resolved.
    Timeout,                     ///< No answer within the bound (a request's 10 s, a connect's 30 s).
    Tls,                         ///< The TLS handshake was refused (the error text names the certificate error).
    Proxy,                       ///< The proxy could not be reached or refused the connection.
    ProxyAuthenticationRequired, ///< The proxy asked for credentials: none were given, or it refused them.
    ResponseTooLarge,            ///< An answer passed the size bound (PresenterClient::setMaxResponseSize()).
    SignInRefused,               ///< The service refused the sign-in (the service's error key says why).
    RegistrationRequired,        ///< The OAuth account must register first (the registration data is in the result).
    NotSignedIn,                 ///< The call needs a sign-in and none could be made.
    SessionMissing,              ///< The call needs a created or live session and there is none.
    Service,                     ///< The service answered with an error (its key is in the error text) or with no usable answer.
    Cancelled,                   ///< The call was cancelled, or its client was deleted while it was pending.
    DeadLink,                    ///< The live link went silent for longer than the dead-link limit.
    ClosedByServer,              ///< The collaboration server ended the session or the connection.
    FrameTooLarge,               ///< A frame from the collaboration server passed its bound.
    BacklogFull,                 ///< Received messages waited undelivered past their bound (the host's thread was too slow).
    Inactivity,                  ///< The session was ended after an hour without anything published.
    SignInLost,                  ///< The service no longer knows the sign-in (restarted, or the sign-in expired); the session is gone with it.
};
Q_ENUM_NS(Error)

/// The state of a live event-bus connection (PresenterCollab::state()).
enum class ConnectionState {
    Closed = 0,   ///< Not connected: before open(), and after the connection ended for good.
    Connecting,   ///< open() was called; the transports are being tried.
    Connected,    ///< Open and registered on the session's addresses.
    Reconnecting, ///< The link dropped; a new attempt follows (reconnection is on).
    Closing,      ///< close() was called; the goodbye is on its way and the connection is ending.
};
Q_ENUM_NS(ConnectionState)

/// The state of a live connection's poll (PresenterCollab::pollState(),
/// Classroom::pollState()).
enum class PollState {
    NoPoll = 0, ///< No poll was started (on this connection).
    Running,    ///< Answers are counted.
    Paused,     ///< The devices hold their answers until the poll resumes.
    Stopped,    ///< Over; the tally keeps its rows.
};
Q_ENUM_NS(PollState)

} // namespace Veltro
