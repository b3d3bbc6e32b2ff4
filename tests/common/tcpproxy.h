// A forwarding TCP proxy on 127.0.0.1 (port 0) for live tests: relays bytes
// between each client and a target port, and can make the connections that
// are open now go silent (nothing relayed either way, both TCP connections
// kept open, as a half-open link behind a roaming Wi-Fi does) while new
// connections are relayed as usual.
#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

#include <memory>

class QTcpSocket;

class TcpProxy
{
public:
    /// Listens at once; port() is 0 when it could not. With `targetPort` 0 it
    /// is an HTTP CONNECT proxy: each client names its target in a CONNECT
    /// request, and every host name is taken to mean this machine.
    explicit TcpProxy(quint16 targetPort);
    ~TcpProxy();

    quint16 port() const { return server.serverPort(); }
    /// Connections open now stop relaying in both directions and stay open.
    void silence();
    /// Number of client connections accepted so far.
    int accepted() const { return acceptedCount; }
    /// The "host:port" of the last CONNECT request.
    QByteArray connectTarget() const { return lastTarget; }

private:
    struct Pair;
    void accept();
    void relay(Pair *p, QTcpSocket *from, QTcpSocket *to);

    QTcpServer server;
    quint16 target;
    QList<std::shared_ptr<Pair>> pairs;
    int acceptedCount = 0;
    QByteArray lastTarget;
};
