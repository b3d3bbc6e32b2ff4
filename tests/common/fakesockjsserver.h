// Just enough SockJS over HTTP and WebSocket for exact bytes and misbehaviour: records every raw request, and
// hands its first receive connection to whoever wants to write there (a benchmark's flood).
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

    WebSocketMode wsMode;
    QByteArray setCookie;          // Set-Cookie sent on every response, when set
    bool answerPollsAtOnce = false; // every /xhr gets "h" immediately
    int pollStatus = 200;
    QByteArray firstPollRaw;        // when set, the first /xhr is answered with these bytes
    QList<QByteArray> withOpen;     // frames written together with the WebSocket's open frame
    int wsFragment = 0;             // when set, WebSocket messages go in fragments of this size
    SendMode sendMode = SendMode::Answer;
    std::function<void(QTcpSocket *)> receiving; // called once, with the first receive connection after its open frame
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

    QTcpServer server;
    QList<QPointer<QTcpSocket>> sockets;
    QHash<QTcpSocket *, QByteArray> buffers;
    QPointer<QTcpSocket> ws;
    QPointer<QTcpSocket> stream;
    QPointer<QTcpSocket> heldPoll;
    bool streamOpened = false;
    QList<QList<QByteArray>> pending;
};
