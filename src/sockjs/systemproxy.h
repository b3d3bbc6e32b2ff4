// The operating system's proxy for plain-HTTP traffic, as used by the SockJS
// transports (raw receive socket and WebSocket).
#pragma once

#include <QNetworkProxy>
#include <QString>

/// The first proxy the system names for plain-HTTP requests to the outside
/// world (with a non-zero port), or a NoProxy proxy when there is none.
QNetworkProxy systemProxy();

/// "host:port" of systemProxy(), or an empty string when there is none.
QString systemProxyString();

/// The proxy for a connection to the collaboration server at `host`:`port`
/// below `path`: the one the host application set (through
/// QNetworkProxy::setApplicationProxy or a proxy factory), applied as the
/// network access manager applies it; else the system's proxy for that very
/// URL, so its bypass rules (no_proxy, PAC) hold. NoProxy when none applies.
QNetworkProxy proxyForServer(const QString &host, int port, bool useSsl, const QString &path = QString());

/// Whether the host application replaced the system's proxy settings with its
/// own (QNetworkProxy::setApplicationProxy or a proxy factory).
bool applicationProxySet();
