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
