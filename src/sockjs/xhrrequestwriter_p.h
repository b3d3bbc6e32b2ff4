// The head of every raw HTTP request of the XHR transport (the receive
// requests and the "/xhr_send" posts), written in one place and free of I/O,
// so that tests and fuzzers can call it directly.
#pragma once

#include <QString>

namespace Veltro {

/// What one request's head says.
struct XhrRequestHead
{
    QString path;           ///< the request path, as named on the request line
    QString host;           ///< the server's host name or address
    int port = 80;          ///< the server's port
    bool useSsl = false;    ///< https: the default port is 443 rather than 80
    bool keepAlive = true;  ///< "Connection: keep-alive", else "Connection: close"
    QString contentType = QStringLiteral("application/json");
    qint64 contentLength = 0;   ///< the body's length in bytes
    QString cookies;        ///< the Cookie header's value; none when empty
};

/// The value of the Host header: the host (an IPv6 address in brackets),
/// with ":port" unless the port is the scheme's default.
QString hostHeaderValue(const QString &host, int port, bool useSsl);

/// The request line and header block of a POST, ending with the empty line.
/// Carriage returns and line feeds in the path or the cookies are dropped and
/// blanks in the path are percent-encoded, so that no value can add a line
/// (or split the request line).
QString writeXhrRequestHead(const XhrRequestHead &head);

} // namespace Veltro
