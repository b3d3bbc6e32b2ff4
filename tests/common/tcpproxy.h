// A TCP proxy on 127.0.0.1 (port 0) that can make the connections open now go silent (nothing relayed,
// both kept open, as a half-open link behind a roaming Wi-Fi) while new ones are relayed as usual.
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
    int accepted() const { return acceptedCount; }
    /// The "host:port" of the last CONNECT request.
    QByteArray connectTarget() const { return lastTarget; }
    /// CONNECT mode: a request without these Basic credentials is answered 407
    /// (the connection stays open for the next try).
    void requireCredentials(const QByteArray &user, const QByteArray &password)
    {
        expectedAuth = "Basic " + QByteArray(user + ':' + password).toBase64();
    }
    /// How many CONNECT requests were answered 407.
    int refusals() const { return refusedCount; }

private:
    struct Pair;
    void accept();
    void relay(Pair *p, QTcpSocket *from, QTcpSocket *to);
    bool authorized(const QByteArray &head) const;

    QTcpServer server;
    quint16 target;
    QList<std::shared_ptr<Pair>> pairs;
    int acceptedCount = 0;
    QByteArray lastTarget;
    QByteArray expectedAuth;
    int refusedCount = 0;
};
