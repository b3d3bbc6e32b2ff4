// The one request a client sends while it is destroyed: a plain HTTP/1.1
// POST on a socket of its own, driven by bounded socket waits, so that no
// event loop runs and no host code is reached. Not installed.
#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <QNetworkProxy>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace Veltro {

class NetworkHub;

struct TeardownPost
{
    QUrl url;
    QByteArray body;
    QList<QNetworkCookie> cookies;
    // TLS configuration and accepted errors (read only for https: TLS is not
    // set up, nor its back end loaded, while the application goes), the
    // proxy's known credentials, and the names looked up ahead: nothing is
    // looked up now, as a lookup has no bound.
    const NetworkHub *hub = nullptr;
    int budgetMs = 2000;
};

/// The head of an HTTP/1.1 POST of `length` bytes of `contentType` to `url`:
/// Host (with the port when the address names one), identity encoding, the
/// cookies, the `extra` header lines as given, the length and "Connection: close".
QByteArray httpPostHead(const QUrl &url, const QByteArray &contentType, const QList<QNetworkCookie> &cookies,
                        qint64 length, const QByteArray &extra = QByteArray());

/// The request's bytes: POST, Host (with the port when the address names
/// one), the client's JSON content type, identity encoding, the cookies, the
/// body's length, "Connection: close", then the body.
QByteArray teardownRequestBytes(const TeardownPost &post);

/// Connects and sends the request within post.budgetMs in all, then closes
/// in order without waiting for the answer (through a proxy, for its first
/// bytes: only then has the request left); no event loop runs, nobody is
/// asked for anything and no name is looked up: the server (or the proxy in
/// front of it) is reached at an address the hub looked up ahead, or not at
/// all. Returns false with `*why` when it could not.
bool sendTeardownPost(const TeardownPost &post, QString *why);

} // namespace Veltro
