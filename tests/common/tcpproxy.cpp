#include "tcpproxy.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

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

void TcpProxy::requireCredentials(const QByteArray &user, const QByteArray &password)
{
    credentials = "Basic " + QByteArray(user + ':' + password).toBase64();
}

void TcpProxy::dropAll()
{
    for (const auto &p : pairs) {
        p->client->abort();
        p->upstream->abort();
    }
}

// Runs `step` now, or after the latency: timers of one interval fire in the order they were started.
template <typename F>
void TcpProxy::later(QObject *context, F step)
{
    if (latency > 0)
        QTimer::singleShot(latency, Qt::PreciseTimer, context, step);
    else
        step();
}

void TcpProxy::relay(Pair *p, QTcpSocket *from, QTcpSocket *to)
{
    const QByteArray data = from->readAll();
    if (p->silent || data.isEmpty())
        return;   // a silent link swallows everything
    later(to, [this, p, to, data] {
        if (to != p->upstream || to->state() == QAbstractSocket::ConnectedState) {
            to->write(data);
            return;
        }
        p->pending += data;
        while (!target && to->state() == QAbstractSocket::UnconnectedState && connectRequest(p)) {
        }
    });
}

// Takes one CONNECT request off the client's bytes: refused (true: another may follow) or tunnelled.
bool TcpProxy::connectRequest(Pair *p)
{
    const int end = p->pending.indexOf("\r\n\r\n");
    if (end < 0 || !p->pending.startsWith("CONNECT "))
        return false;
    const QByteArray head = p->pending.left(end);
    p->pending.remove(0, end + 4);
    QByteArray given;
    for (const QByteArray &line : head.split('\n')) {
        if (line.toLower().startsWith("proxy-authorization:"))
            given = line.mid(20).trimmed();
    }
    if (!credentials.isEmpty() && given != credentials) {
        ++refusalCount;
        p->client->write("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"school\"\r\n"
                         "Content-Length: 0\r\n\r\n");
        return true;
    }
    ++tunnelCount;
    lastTarget = head.mid(8, head.indexOf(' ', 8) - 8);
    p->upstream->connectToHost(QHostAddress::LocalHost,
                               quint16(lastTarget.mid(lastTarget.lastIndexOf(':') + 1).toUInt()));
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
        auto ended = [this, raw](QTcpSocket *other) {
            later(other, [raw, other] {
                if (!raw->silent && other->state() != QAbstractSocket::UnconnectedState)
                    other->disconnectFromHost();
            });
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
