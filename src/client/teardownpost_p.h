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

struct NetworkSettings;

struct TeardownPost
{
    QUrl url;
    QByteArray body;
    QList<QNetworkCookie> cookies;
    // TLS configuration and accepted errors, read only for https: TLS is not
    // set up (nor its back end loaded) while the application goes.
    const NetworkSettings *settings = nullptr;
    QNetworkProxy proxy;     // the client's own, with the credentials already known; unset: the application's
    QStringList addresses;   // the server's addresses looked up earlier: no name lookup now
    int budgetMs = 2000;
};

/// The request's bytes: POST, Host (with the port when the address names
/// one), the client's JSON content type, identity encoding, the cookies, the
/// body's length, "Connection: close", then the body.
QByteArray teardownRequestBytes(const TeardownPost &post);

/// Connects and sends the request within post.budgetMs in all, then closes
/// in order without waiting for the answer; no event loop runs and nobody is
/// asked for anything. Returns false with `*why` when it could not.
bool sendTeardownPost(const TeardownPost &post, QString *why);

} // namespace Veltro
