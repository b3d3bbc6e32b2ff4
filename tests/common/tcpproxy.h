// A TCP proxy on 127.0.0.1 (port 0) that can make the connections open now go silent (nothing relayed,
// both kept open, as a half-open link behind a roaming Wi-Fi) while new ones are relayed as usual. As an
// HTTP CONNECT proxy it can ask for Basic credentials, as a school's outbound proxy does. With a latency it
// stands for a distant network.
#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

#include <memory>

class QTcpSocket;

class TcpProxy
{
public:
    /// Listens at once (port() 0 when it could not); with `targetPort` 0 an HTTP CONNECT proxy to this machine.
    explicit TcpProxy(quint16 targetPort);
    ~TcpProxy();

    quint16 port() const { return server.serverPort(); }
    /// Connections open now stop relaying in both directions and stay open.
    void silence();
    /// Connections open now end at once, on both sides.
    void dropAll();
    int accepted() const { return acceptedCount; }
    /// The "host:port" of the last CONNECT request.
    QByteArray connectTarget() const { return lastTarget; }
    /// CONNECT requests from now on need these Basic credentials: without them, or with others, the answer is
    /// 407 with "Proxy-Authenticate: Basic" on a connection kept open for the next try.
    void requireCredentials(const QByteArray &user, const QByteArray &password);
    /// From now on every chunk, and every end, is passed on `ms` after it arrived, in order, both ways.
    void setLatency(int ms) { latency = ms; }
    /// CONNECT requests answered 407 so far, and those let through.
    int refusals() const { return refusalCount; }
    int tunnels() const { return tunnelCount; }

private:
    struct Pair;
    void accept();
    void relay(Pair *p, QTcpSocket *from, QTcpSocket *to);
    bool connectRequest(Pair *p);
    template <typename F>
    void later(QObject *context, F step);

    QTcpServer server;
    quint16 target;
    QList<std::shared_ptr<Pair>> pairs;
    int acceptedCount = 0;
    QByteArray lastTarget;
    QByteArray credentials;   // "Basic <base64>", empty when none are asked for
    int refusalCount = 0;
    int tunnelCount = 0;
    int latency = 0;
};
