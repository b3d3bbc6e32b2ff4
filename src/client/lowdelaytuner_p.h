// Turns Nagle's algorithm off on the network access manager's connections to
// the service (Qt 5 only). Not installed.
//
// Qt 5.15's HTTP channel writes a request's header block and its body in two
// writes on a socket that keeps Nagle's algorithm on. On a kept-alive
// connection the body then waits for the server to acknowledge the header,
// which servers delay (40 ms on Linux, up to 200 ms elsewhere) in the hope of
// sending the answer with it, so every blocking call after a connection's
// first costs that delay. Qt 6 writes header and small body at once and needs
// nothing; this class compiles to nothing there. The manager does not hand out
// its sockets, so the tuner finds this process's TCP connections to the
// service's endpoint (or to the proxy in front of it) by their peer address
// and sets TCP_NODELAY on those that lack it: what Qt's own sockets get from
// QAbstractSocket::LowDelayOption. It changes nothing else (no byte on the
// wire, no socket it does not find connected to that endpoint).
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

namespace Veltro {

class LowDelayTuner : public QObject
{
public:
    explicit LowDelayTuner(QObject *parent = nullptr) : QObject(parent) {}

    /// Sets the endpoint from the service URL (and the proxy the manager
    /// would use for it); host names are resolved in the background.
    void setEndpoint(const QUrl &url);
    /// Sets TCP_NODELAY on connections to the endpoint that lack it. Call
    /// after every reply: it rechecks the connections it knows (one system
    /// call each) and lists the process's descriptors only when one of them
    /// has gone, and every RESCAN_EVERY calls. Does nothing where it cannot
    /// apply. Returns how many connections it changed.
    int tune();

    /// Calls between two listings of all descriptors while nothing changed.
    static constexpr int RESCAN_EVERY = 32;

private:
    struct Endpoint
    {
        QString host;
        quint16 port = 0;
        QList<QHostAddress> addresses; // empty until resolved
        int lookupId = -1;
    };
    enum class Peer { Other, Tuned, Changed };
    void resolve(Endpoint *e);
    Peer examine(int fd, bool known) const;
    bool isEndpoint(int fd) const;

    Endpoint m_service;
    Endpoint m_proxy;
    QList<int> m_known;      // descriptors last found connected to the endpoint
    int m_sinceScan = 0;     // calls since the last listing
    int m_skip = 0;          // calls to let pass after a listing that found nothing
    int m_backoff = 0;
};

} // namespace Veltro
