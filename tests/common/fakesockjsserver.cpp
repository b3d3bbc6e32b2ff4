#include "fakesockjsserver.h"

#include <QCryptographicHash>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

QByteArray header(const QByteArray &head, const QByteArray &name)
{
    for (const QByteArray &line : head.split('\n')) {
        if (line.toLower().startsWith(QByteArray(name + ':')))
            return line.mid(name.size() + 1).trimmed();
    }
    return {};
}

} // namespace

FakeSockJSServer::FakeSockJSServer(WebSocketMode mode)
    : wsMode(mode)
{
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = server.nextPendingConnection()) {
            s->setProperty("ordinal", ++connections);
            connect(s, &QTcpSocket::readyRead, this, [this, s] { onData(s); });
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            sockets.append(s);
        }
    });
    server.listen(QHostAddress::LocalHost, 0);
}

QList<FakeSockJSServer::Request> FakeSockJSServer::requestsEndingWith(const QByteArray &suffix) const
{
    QList<Request> out;
    std::copy_if(requests.begin(), requests.end(), std::back_inserter(out),
                 [&](const Request &r) { return r.path.endsWith(suffix); });
    return out;
}

void FakeSockJSServer::push(const QList<QByteArray> &frames)
{
    QByteArray lines;
    for (const QByteArray &f : frames)
        lines += ws ? wsText(f) : f + "\n";
    if (ws) {
        ws->write(lines);
    } else if (stream) {
        stream->write(httpChunk(lines));
    } else if (heldPoll) {
        heldPoll->write(httpChunk(lines));
        heldPoll->write("0\r\n\r\n");
        heldPoll = nullptr;
    } else {
        pending.append(frames);
    }
}

void FakeSockJSServer::dropAll()
{
    for (const QPointer<QTcpSocket> &s : qAsConst(sockets)) {
        if (s) {
            s->flush();   // what was pushed goes out before the end
            s->abort();
        }
    }
    ws = stream = heldPoll = nullptr;
}

void FakeSockJSServer::stop()
{
    server.close();
    dropAll();
}

QByteArray FakeSockJSServer::wsFrameHeader(int opcode, bool fin, qint64 size)
{
    QByteArray f(1, char((fin ? 0x80 : 0) | opcode));
    const int bytes = size < 126 ? 0 : size < 65536 ? 2 : 8;
    f.append(char(bytes == 0 ? size : bytes == 2 ? 126 : 127));
    for (int i = bytes - 1; i >= 0; --i)
        f.append(char((quint64(size) >> (8 * i)) & 0xff));
    return f;
}

QByteArray FakeSockJSServer::httpChunk(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

QByteArray FakeSockJSServer::wsText(const QByteArray &payload) const
{
    if (wsFragment <= 0 || payload.size() <= wsFragment)
        return wsFrameHeader(0x1, true, payload.size()) + payload;
    QByteArray out;
    for (int at = 0; at < payload.size(); at += wsFragment) {
        const QByteArray part = payload.mid(at, wsFragment);
        out += wsFrameHeader(at ? 0x0 : 0x1, at + wsFragment >= payload.size(), part.size()) + part;
    }
    return out;
}

QByteArray FakeSockJSServer::cookieLine() const
{
    return setCookie.isEmpty() ? QByteArray() : "Set-Cookie: " + setCookie + "\r\n";
}

QByteArray FakeSockJSServer::responseHead(int status, int contentLength) const
{
    return "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Status")
        + "\r\nContent-Type: application/javascript; charset=UTF-8\r\n" + cookieLine()
        + (contentLength < 0 ? QByteArray("Transfer-Encoding: chunked")
                             : "Content-Length: " + QByteArray::number(contentLength))
        + "\r\n\r\n";
}

void FakeSockJSServer::onData(QTcpSocket *s)
{
    QByteArray &buf = buffers[s];
    const QByteArray in = s->readAll();
    bytesByConnection[s->property("ordinal").toInt()] += in;
    buf += in;
    if (s == ws)
        readWsFrames(buf);
    while (s != ws) {
        while (buf.startsWith("\r\n"))
            buf.remove(0, 2);
        const int end = buf.indexOf("\r\n\r\n") + 4;
        const QByteArray head = buf.left(end);
        const int length = header(head, "content-length").toInt();
        if (end < 4 || buf.size() < end + length)
            return;
        const Request r{head.split(' ').value(1), buf.left(end + length), buf.mid(end, length),
                        s->property("ordinal").toInt()};
        buf.remove(0, end + length);
        requests.append(r);
        handle(s, r.path, head);
    }
}

void FakeSockJSServer::handle(QTcpSocket *s, const QByteArray &path, const QByteArray &head)
{
    if (path.endsWith("/websocket")) {
        if (wsMode == WebSocketMode::Refuse) {
            s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            s->disconnectFromHost();
            return;
        }
        const QByteArray keyed = header(head, "sec-websocket-key") + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
        s->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Accept: " + QCryptographicHash::hash(keyed, QCryptographicHash::Sha1).toBase64()
                 + "\r\n\r\n");
        if (wsMode == WebSocketMode::CloseBeforeOpen) {
            s->disconnectFromHost();
            return;
        }
        ws = s;
        QByteArray open = wsText("o");
        for (const QByteArray &f : qAsConst(withOpen))
            open += wsText(f);
        s->write(open);
        if (receiving)
            std::exchange(receiving, nullptr)(s);
    } else if (path.endsWith("/xhr_send")) {
        if (sendMode == SendMode::Reset)
            s->abort();
        if (sendMode == SendMode::Ignore || sendMode == SendMode::Reset)
            return;
        s->write("HTTP/1.1 204 No Content\r\n" + cookieLine() + "\r\n");
        if (sendMode == SendMode::AnswerAndClose)
            s->disconnectFromHost();
    } else if (path.endsWith("/xhr_streaming")) {
        s->write(responseHead(200));
        s->write(httpChunk(QByteArray(2048, 'h') + "\n"));
        if (!streamOpened)
            s->write(httpChunk("o\n"));   // the open frame comes on the first stream only
        streamOpened = true;
        stream = s;
        flushPending();
        if (receiving)
            std::exchange(receiving, nullptr)(s);
    } else if (!path.endsWith("/xhr")) {
        s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    } else if (pollStatus != 200) {
        s->write(responseHead(pollStatus, 9) + "Not found");
    } else if (requestsEndingWith("/xhr").size() == 1 && !firstPollRaw.isEmpty()) {
        s->write(firstPollRaw);
    } else if (requestsEndingWith("/xhr").size() == 1 || answerPollsAtOnce) {
        s->write(responseHead(200));
        s->write(httpChunk(requestsEndingWith("/xhr").size() == 1 ? QByteArray("o\n") : QByteArray("h\n")));
        s->write("0\r\n\r\n");
    } else {
        s->write(responseHead(200));
        heldPoll = s;
        flushPending();
    }
}

// Client frames are masked; unfragmented text frames are all a SockJS client sends.
void FakeSockJSServer::readWsFrames(QByteArray &buf)
{
    while (buf.size() >= 6) {
        quint64 n = quint8(buf[1]) & 0x7f;
        int at = 2;
        if (n >= 126) {
            const int bytes = n == 126 ? 2 : 8;
            if (buf.size() < 2 + bytes + 4)
                return;
            n = 0;
            for (int i = 0; i < bytes; ++i)
                n = (n << 8) | quint8(buf[2 + i]);
            at += bytes;
        }
        if (quint64(buf.size()) < at + 4 + n)
            return;
        QByteArray payload = buf.mid(at + 4, int(n));
        for (int i = 0; i < payload.size(); ++i)
            payload[i] = char(payload[i] ^ buf[at + i % 4]);
        if ((buf[0] & 0x0f) == 0x1)
            wsTexts.append(payload);
        buf.remove(0, at + 4 + int(n));
    }
}

void FakeSockJSServer::flushPending()
{
    const QList<QList<QByteArray>> groups = std::exchange(pending, {});
    for (const QList<QByteArray> &g : groups)
        push(g);
}
