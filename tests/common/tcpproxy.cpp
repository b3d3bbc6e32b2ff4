#include "tcpproxy.h"

#include <QHostAddress>
#include <QTcpSocket>

struct TcpProxy::Pair
{
    QTcpSocket *client = nullptr;
    QTcpSocket *upstream = nullptr;
    QByteArray pending;   // client bytes that came before the upstream connected
    bool silent = false;
};

TcpProxy::TcpProxy(quint16 targetPort)
    : target(targetPort)
{
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this] { accept(); });
    server.listen(QHostAddress::LocalHost, 0);
}

TcpProxy::~TcpProxy()
{
    for (const auto &p : pairs) {
        delete p->client;
        delete p->upstream;
    }
}

void TcpProxy::silence()
{
    for (const auto &p : pairs)
        p->silent = true;
}

void TcpProxy::relay(Pair *p, QTcpSocket *from, QTcpSocket *to)
{
    const QByteArray data = from->readAll();
    if (p->silent || data.isEmpty())
        return;   // a silent link swallows everything
    if (to != p->upstream || to->state() == QAbstractSocket::ConnectedState) {
        to->write(data);
        return;
    }
    p->pending += data;
    int end = p->pending.indexOf("\r\n\r\n");
    if (target || to->state() != QAbstractSocket::UnconnectedState || end < 0 || !p->pending.startsWith("CONNECT "))
        return;
    while (!expectedAuth.isEmpty() && end >= 0 && !authorized(p->pending.left(end))) {
        ++refusedCount;
        p->pending.remove(0, end + 4);
        from->write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                    "Proxy-Authenticate: Basic realm=\"veltro\"\r\nContent-Length: 0\r\n\r\n");
        end = p->pending.indexOf("\r\n\r\n");
    }
    if (end < 0)
        return;
    lastTarget = p->pending.mid(8, p->pending.indexOf(' ', 8) - 8);
    p->pending.remove(0, end + 4);
    to->connectToHost(QHostAddress::LocalHost, quint16(lastTarget.mid(lastTarget.lastIndexOf(':') + 1).toUInt()));
}

bool TcpProxy::authorized(const QByteArray &head) const
{
    for (const QByteArray &line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "proxy-authorization")
            return line.mid(colon + 1).trimmed() == expectedAuth;
    }
    return false;
}

void TcpProxy::accept()
{
    while (QTcpSocket *client = server.nextPendingConnection()) {
        ++acceptedCount;
        auto p = std::make_shared<Pair>();
        Pair *raw = p.get();
        client->setParent(nullptr);
        p->client = client;
        p->upstream = new QTcpSocket;
        pairs.append(p);
        QTcpSocket *up = p->upstream;
        QObject::connect(client, &QTcpSocket::readyRead, client, [this, raw, client, up] { relay(raw, client, up); });
        QObject::connect(up, &QTcpSocket::readyRead, up, [this, raw, client, up] { relay(raw, up, client); });
        QObject::connect(up, &QTcpSocket::connected, up, [this, raw, client, up] {
            if (!target)
                client->write("HTTP/1.1 200 Connection established\r\n\r\n");
            up->write(raw->pending);
            raw->pending.clear();
        });
        // An end on one side ends the other, unless the link is silent (a connection lost on the way).
        auto ended = [raw](QTcpSocket *other) {
            if (!raw->silent && other->state() != QAbstractSocket::UnconnectedState)
                other->disconnectFromHost();
        };
        QObject::connect(client, &QTcpSocket::disconnected, up, [ended, up] { ended(up); });
        QObject::connect(up, &QTcpSocket::disconnected, client, [ended, client] { ended(client); });
        QObject::connect(up, &QAbstractSocket::errorOccurred, client, [raw, client, up] {
            if (up->state() == QAbstractSocket::UnconnectedState && !raw->silent)
                client->disconnectFromHost();   // refused: the client learns at once
        });
        if (target)
            up->connectToHost(QHostAddress::LocalHost, target);
    }
}
