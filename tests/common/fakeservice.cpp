#include "fakeservice.h"

QByteArray httpAnswer(int status, const QByteArray &body, const QByteArray &extraHeaders)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " X\r\n" + extraHeaders
           + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

FakeService::FakeService()
    : handler([](const Request &, QTcpSocket *) { return httpAnswer(200, R"({"infoMsgKeys":["success"],"data":{}})"); })
{
    listen(QHostAddress::LocalHost, 0);
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = nextPendingConnection()) { // a child of the server
            connect(s, &QTcpSocket::readyRead, this, [this, s] { onData(s); });
            connect(s, &QTcpSocket::disconnected, this, [this] { ++dropped; });
        }
    });
}

QStringList FakeService::paths() const
{
    QStringList out;
    for (const Request &r : requests)
        out << QString::fromLatin1(r.path);
    return out;
}

FakeService::Request FakeService::last(const QByteArray &path) const
{
    for (auto it = requests.crbegin(); it != requests.crend(); ++it) {
        if (it->path == path)
            return *it;
    }
    return Request();
}

bool FakeService::releaseHeld(const QByteArray &path)
{
    bool released = false;
    for (auto it = held.begin(); it != held.end();) {
        if (!path.isEmpty() && (released || it->path != path)) {
            ++it;
            continue;
        }
        if (it->socket)
            it->socket->write(it->answer);
        it = held.erase(it);
        released = true;
    }
    return released;
}

void FakeService::onData(QTcpSocket *s)
{
    QByteArray &buf = buffers[s];
    buf += s->readAll();
    for (int end; (end = buf.indexOf("\r\n\r\n")) >= 0;) {
        const QList<QByteArray> lines = buf.left(end).split('\n');
        Request r;
        const QList<QByteArray> requestLine = lines.first().split(' ');
        r.method = requestLine.value(0);
        r.path = requestLine.value(1);
        for (const QByteArray &line : lines.mid(1)) {
            const int colon = line.indexOf(':');
            r.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const int length = r.headers.value("content-length").toInt();
        if (buf.size() < end + 4 + length)
            return;
        r.body = buf.mid(end + 4, length);
        buf.remove(0, end + 4 + length);
        requests.append(r);
        const QByteArray answer = r.method == "POST" ? handler(r, s) : httpAnswer(405, QByteArray());
        if (holding && !answer.isEmpty())
            held.append({s, r.path, answer});
        else
            s->write(answer);
    }
}
