// Just enough SockJS over HTTP and WebSocket for exact bytes and misbehaviour: records every raw request. It can
// also flood its first receive connection with bytes written as the socket drains, so a benchmark can send
// hundreds of MiB while holding little.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

class FakeSockJSServer : public QObject
{
    Q_OBJECT

public:
    enum class WebSocketMode { Refuse, CloseBeforeOpen, Open };
    enum class SendMode { Answer, Ignore, Reset, AnswerAndClose };

    struct Request
    {
        QByteArray path;
        QByteArray raw;    // request line, headers and body as received
        QByteArray body;
        int connection;    // ordinal of the TCP connection it came on
    };

    /// Raw bytes for the first receive connection (WebSocket or XHR stream), after its open frame: `head`, then
    /// `count` copies of `chunk` (each written once the socket has less than 4 MiB to send), then `tail`. The
    /// caller frames them for the transport (wsFrameHeader(), httpChunk()).
    struct Flood
    {
        QByteArray head, chunk, tail;
        qint64 count = 0;
    };

    WebSocketMode wsMode;
    QByteArray setCookie;          // Set-Cookie sent on every response, when set
    bool answerPollsAtOnce = false; // every /xhr gets "h" immediately
    int pollStatus = 200;
    QByteArray firstPollRaw;        // when set, the first /xhr is answered with these bytes
    QList<QByteArray> withOpen;     // frames written together with the WebSocket's open frame
    int wsFragment = 0;             // when set, WebSocket messages go in fragments of this size
    SendMode sendMode = SendMode::Answer;
    Flood flood;
    std::function<void()> flooding; // called once the flood's head is handed to the socket
    QHash<int, QByteArray> bytesByConnection;   // everything received, per connection
    QList<QByteArray> wsTexts;                  // text messages the client sent on the WebSocket
    QList<Request> requests;
    int connections = 0;

    explicit FakeSockJSServer(WebSocketMode mode = WebSocketMode::Refuse);

    quint16 port() const { return server.serverPort(); }
    QString url(const QString &path = QStringLiteral("/app")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
    }

    QList<Request> requestsEndingWith(const QByteArray &suffix) const;
    /// Requests that opened a receive side: WebSocket upgrades, XHR streams and polls.
    int receiveRequests() const;

    /// Sends frames in one write on the WebSocket, the stream or the held poll; else kept for the next one.
    void push(const QList<QByteArray> &frames);
    void push(const QByteArray &frame) { push(QList<QByteArray>{frame}); }
    void dropAll();
    /// The server is gone.
    void stop();

    /// The header of a WebSocket frame from the server (unmasked) carrying `size` payload bytes.
    static QByteArray wsFrameHeader(int opcode, bool fin, qint64 size);
    /// `data` as one chunk of a chunked HTTP body.
    static QByteArray httpChunk(const QByteArray &data);

private:
    QByteArray wsText(const QByteArray &payload) const;
    QByteArray cookieLine() const;
    QByteArray responseHead(int status, int contentLength = -1) const;
    void onData(QTcpSocket *s);
    void handle(QTcpSocket *s, const QByteArray &path, const QByteArray &head);
    void readWsFrames(QByteArray &buf);
    void flushPending();
    void startFlood(QTcpSocket *s);

    QTcpServer server;
    QList<QPointer<QTcpSocket>> sockets;
    QHash<QTcpSocket *, QByteArray> buffers;
    QPointer<QTcpSocket> ws;
    QPointer<QTcpSocket> stream;
    QPointer<QTcpSocket> heldPoll;
    bool streamOpened = false;
    bool flooded = false;
    QList<QList<QByteArray>> pending;
};
