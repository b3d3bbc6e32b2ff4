// A SockJS server that speaks just enough HTTP and WebSocket for tests that
// need exact bytes or misbehaviour: it records every raw request, answers
// the XHR endpoints, and can refuse, cut or close WebSocket sessions.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class FakeSockJSServer : public QObject
{
    Q_OBJECT

public:
    enum class WebSocketMode { Refuse, CloseBeforeOpen, Open };
    /// What an "/xhr_send" post gets: an answer; nothing; a reset once read;
    /// an answer, then the connection closed.
    enum class SendMode { Answer, Ignore, Reset, AnswerAndClose };

    struct Request
    {
        QByteArray path;
        QByteArray raw;    // request line, headers and body as received
        QByteArray body;
        int connection;    // ordinal of the TCP connection it came on
    };

    WebSocketMode wsMode = WebSocketMode::Refuse;
    QByteArray setCookie;          // Set-Cookie sent on every response, when set
    bool answerPollsAtOnce = false; // every /xhr gets "h" immediately
    int pollStatus = 200;
    QByteArray firstPollRaw;        // when set, the first /xhr is answered with these bytes
    QList<QByteArray> withOpen;     // frames written together with the WebSocket's open frame
    int wsFragment = 0;             // when set, WebSocket messages go in fragments of this size
    SendMode sendMode = SendMode::Answer;
    QHash<int, QByteArray> bytesByConnection;   // everything received, per connection
    QList<Request> requests;
    int connections = 0;

    FakeSockJSServer()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                ++connections;
                s->setProperty("ordinal", connections);
                connect(s, &QTcpSocket::readyRead, this, [this, s] { onData(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                sockets.append(s);
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return server.serverPort(); }
    QString url(const QString &path = QStringLiteral("/app")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
    }

    QList<Request> requestsEndingWith(const QByteArray &suffix) const
    {
        QList<Request> out;
        for (const Request &r : requests) {
            if (r.path.endsWith(suffix))
                out.append(r);
        }
        return out;
    }

    /// Sends a frame on the receiving side: the open WebSocket, the
    /// streaming response, or the held poll (which it completes).
    void push(const QByteArray &frame) { push(QList<QByteArray>{frame}); }
    /// Sends frames in one write (on XHR in one chunk, one response).
    void push(const QList<QByteArray> &frames)
    {
        QByteArray lines;
        for (const QByteArray &f : frames)
            lines += ws ? wsText(f) : f + "\n";
        if (ws) {
            ws->write(lines);
        } else if (stream) {
            writeChunk(stream, lines);
        } else if (heldPoll) {
            QTcpSocket *s = heldPoll;
            heldPoll = nullptr;
            writeChunk(s, lines);
            s->write("0\r\n\r\n");
        } else {
            pending.append(frames);
        }
    }
    /// Ends the streaming response cleanly.
    void endStream()
    {
        if (stream)
            stream->write("0\r\n\r\n");
        stream = nullptr;
    }
    /// Drops every connection.
    void dropAll()
    {
        for (const QPointer<QTcpSocket> &s : qAsConst(sockets)) {
            if (s)
                s->abort();
        }
        ws = nullptr;
        stream = nullptr;
        heldPoll = nullptr;
    }

private:
    static void writeChunk(QTcpSocket *s, const QByteArray &data)
    {
        s->write(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
    }
    static QByteArray wsFrame(char opcode, bool fin, const QByteArray &payload)
    {
        QByteArray f;
        f.append(char((fin ? 0x80 : 0) | opcode));
        const quint64 n = quint64(payload.size());
        if (n < 126) {
            f.append(char(n));
        } else {
            const int bytes = n < 65536 ? 2 : 8;
            f.append(char(bytes == 2 ? 126 : 127));
            for (int i = bytes - 1; i >= 0; --i)
                f.append(char((n >> (8 * i)) & 0xff));
        }
        return f + payload;
    }
    QByteArray wsText(const QByteArray &payload) const
    {
        if (wsFragment <= 0 || payload.size() <= wsFragment)
            return wsFrame(0x1, true, payload);
        QByteArray out;
        for (int at = 0; at < payload.size(); at += wsFragment)
            out += wsFrame(at ? 0x0 : 0x1, at + wsFragment >= payload.size(), payload.mid(at, wsFragment));
        return out;
    }
    void writeWsText(QTcpSocket *s, const QByteArray &payload) const { s->write(wsText(payload)); }
    QByteArray responseHead(int status, bool chunkedBody, int contentLength = 0) const
    {
        QByteArray h = "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Status") + "\r\n";
        h += "Content-Type: application/javascript; charset=UTF-8\r\n";
        if (!setCookie.isEmpty())
            h += "Set-Cookie: " + setCookie + "\r\n";
        if (chunkedBody)
            h += "Transfer-Encoding: chunked\r\n";
        else
            h += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
        return h + "\r\n";
    }

    void onData(QTcpSocket *s)
    {
        QByteArray &buf = buffers[s];
        const QByteArray in = s->readAll();
        bytesByConnection[s->property("ordinal").toInt()] += in;
        buf += in;
        if (s == ws)
            return;   // client WebSocket frames are not read
        for (;;) {
            while (buf.startsWith("\r\n"))
                buf.remove(0, 2);
            const int end = buf.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QByteArray head = buf.left(end + 4);
            int length = 0;
            for (const QByteArray &line : head.split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toInt();
            }
            if (buf.size() < end + 4 + length)
                return;
            Request r;
            r.raw = buf.left(end + 4 + length);
            r.body = buf.mid(end + 4, length);
            const QList<QByteArray> first = head.left(head.indexOf("\r\n")).split(' ');
            r.path = first.value(1);
            r.connection = s->property("ordinal").toInt();
            buf.remove(0, end + 4 + length);
            requests.append(r);
            handle(s, r, head);
            if (s == ws)
                return;
        }
    }

    void handle(QTcpSocket *s, const Request &r, const QByteArray &head)
    {
        if (r.path.endsWith("/websocket")) {
            if (wsMode == WebSocketMode::Refuse) {
                s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                s->disconnectFromHost();
                return;
            }
            QByteArray key;
            for (const QByteArray &line : head.split('\n')) {
                if (line.toLower().startsWith("sec-websocket-key:"))
                    key = line.mid(18).trimmed();
            }
            const QByteArray keyed = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
            const QByteArray accept = QCryptographicHash::hash(keyed, QCryptographicHash::Sha1).toBase64();
            s->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Accept: " + accept + "\r\n\r\n");
            if (wsMode == WebSocketMode::CloseBeforeOpen) {
                s->disconnectFromHost();
                return;
            }
            ws = s;
            QByteArray open = wsText("o");
            for (const QByteArray &f : qAsConst(withOpen))
                open += wsText(f);
            s->write(open);
            return;
        }
        if (r.path.endsWith("/xhr_send")) {
            if (sendMode == SendMode::Ignore)
                return;
            if (sendMode == SendMode::Reset) {
                s->abort();
                return;
            }
            s->write("HTTP/1.1 204 No Content\r\n" + (setCookie.isEmpty() ? QByteArray() : "Set-Cookie: " + setCookie + "\r\n")
                     + "\r\n");
            if (sendMode == SendMode::AnswerAndClose)
                s->disconnectFromHost();
            return;
        }
        if (r.path.endsWith("/xhr_streaming")) {
            s->write(responseHead(200, true));
            writeChunk(s, QByteArray(2048, 'h') + "\n");
            if (!streamOpened)
                writeChunk(s, "o\n");   // the open frame comes on the first stream only
            streamOpened = true;
            stream = s;
            flushPending();
            return;
        }
        if (r.path.endsWith("/xhr")) {
            if (pollStatus != 200) {
                s->write(responseHead(pollStatus, false, 9) + "Not found");
                return;
            }
            const int polls = requestsEndingWith("/xhr").size();
            if (polls == 1 && !firstPollRaw.isEmpty()) {
                s->write(firstPollRaw);
                return;
            }
            s->write(responseHead(200, true));
            if (polls == 1 || answerPollsAtOnce) {
                writeChunk(s, polls == 1 ? QByteArray("o\n") : QByteArray("h\n"));
                s->write("0\r\n\r\n");
                return;
            }
            heldPoll = s;
            flushPending();
            return;
        }
        s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }

    void flushPending()
    {
        const QList<QList<QByteArray>> groups = pending;
        pending.clear();
        for (const QList<QByteArray> &g : groups)
            push(g);
    }

    QTcpServer server;
    QList<QPointer<QTcpSocket>> sockets;
    QHash<QTcpSocket *, QByteArray> buffers;
    QPointer<QTcpSocket> ws;
    QPointer<QTcpSocket> stream;
    QPointer<QTcpSocket> heldPoll;
    bool streamOpened = false;
    QList<QList<QByteArray>> pending;
};
