// Turns Nagle's algorithm off on the library's own REST connections. Not
// installed.
//
// The access manager's HTTP channel keeps Nagle's algorithm on and sends a
// body in more than one write: Qt 5.15 writes a request's header block at
// once and its body only after the access manager's thread has fetched it
// from the caller's thread; Qt 6 writes header and a small body at once, but
// a larger body in 16 KiB writes fetched the same way, so short segments go
// out before the last. On a kept-alive connection that last part waits for
// the server to acknowledge the earlier ones, which servers delay (40 ms on
// Linux, up to 200 ms elsewhere) in the hope of sending the answer with it:
// on Qt 5 every blocking call after a connection's first, on Qt 6 every
// upload of a file (1 MiB: 5 ms become 45 ms) costs that delay. No way of
// handing the body over changes the writes.
//
// The manager does not hand out its sockets, so the tuner recognises them:
// a connection is the library's when it appeared while one of the library's
// requests was in flight (it was absent from the list of the process's TCP
// connections taken before that request was posted), is connected to the
// service's endpoint (or to the proxy in front of it), carries SO_KEEPALIVE
// (which Qt's HTTP channel sets on every connection it opens) and lacks
// TCP_NODELAY, and no more such connections appeared than the library's
// requests could have opened (in flight at once, less the library's idle
// connections that the manager reuses first). On those alone it sets
// TCP_NODELAY, what QAbstractSocket::LowDelayOption sets. A connection that
// existed before, or that shows up while none of the library's requests is in
// flight, is never changed; nothing else of any socket is changed, and no
// byte on the wire. While the library's idle connections suffice for its
// requests (one blocking call at a time), nothing is listed: a request costs
// a check of each connection known as the library's.
//
// Residual risk: a connection the host opens to the same endpoint while one
// of the library's requests is in flight, with SO_KEEPALIVE on (for example
// one of the host's own access managers), is taken for the library's only
// when the library's requests opened fewer connections than they could have
// (one failed or was aborted before connecting, or two overlapped and the
// manager still made do with one). The other way round errs on the safe
// side: when more connections appear than the library could have opened, or
// the manager replaces a connection the server closed just as a request
// started, none is changed, and the library's own keeps Nagle's algorithm
// (slower calls, never a host socket touched) until it closes.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVector>

namespace Veltro {

class LowDelayTuner : public QObject
{
public:
    explicit LowDelayTuner(QObject *parent = nullptr) : QObject(parent) {}

    /// Call exactly once right before each request is handed to the access
    /// manager. Sets the endpoint from the request's URL (and the proxy the
    /// manager would use for it; host names are resolved in the background)
    /// and notes the process's TCP connections where the request could open
    /// a new one. Does nothing where tuning does not apply.
    void setEndpoint(const QUrl &url);
    /// Call exactly once when each of those replies finishes, before its
    /// handlers send more. Sets TCP_NODELAY on the connections recognised as
    /// the library's (see above). Returns how many connections it changed.
    int tune();

private:
    struct Endpoint
    {
        QString host;
        quint16 port = 0;
        QList<QHostAddress> addresses; // empty until resolved
        int lookupId = -1;
    };
    void resolve(Endpoint *e);
    bool isEndpoint(int fd) const;
    int adopt(bool closing);

    Endpoint m_service;
    Endpoint m_proxy;
    // TCP connections as descriptor and local port, so that a number the
    // system hands to another connection is not mistaken for the old one.
    QVector<quint64> m_own;      // recognised and tuned
    QVector<quint64> m_unsettled; // appeared with others, so perhaps the library's: never tuned
    QVector<quint64> m_before;   // all TCP connections before the window's first new one could open
    bool m_window = false;       // some request posted since the last settled listing
    bool m_listed = false;       // m_before holds this window's list
    int m_inFlight = 0;
    int m_peak = 0;              // most of the library's requests in flight at once in the window
    int m_reusable = 0;          // the library's connections, all idle, when the window opened
    int m_adopted = 0;           // connections recognised in the window
};

} // namespace Veltro
