// The one request a client sends while it is destroyed: a plain HTTP/1.1
// POST on a socket of its own, driven by bounded socket waits, so that no
// event loop runs and no host code is reached. Not installed.
#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace Veltro {

struct TeardownPost
{
    QUrl url;
    QByteArray body;
    QList<QNetworkCookie> cookies;
    QSslConfiguration ssl;
    QList<QSslError> acceptedSslErrors;
    bool proxySet = false;   // else the application's proxy, as every socket
    QNetworkProxy proxy;     // with the credentials already known
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
