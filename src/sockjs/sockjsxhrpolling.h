// The XHR transports of SockJS (streaming and polling) on one object: the
// receive side writes hand-built HTTP requests on a raw socket read by a
// SockJSXHRPollingWorker on its own thread; outgoing frames are posted to
// "/xhr_send" on a second raw keep-alive connection of this thread, each
// request in a single write with low-delay sockets (an HTTP client that
// writes headers and body apart meets the peer's delayed acknowledgement and
// adds tens of milliseconds per message). Cookies set on either side are
// returned on both.
#pragma once

#include "httpresponseparser_p.h"
#include "qstringmap.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QNetworkCookieJar;
class QTcpSocket;
class QThread;
class QTimer;
class SockJSXHRPollingWorker;
class XHRRequest;

class SockJSXHRPolling : public QObject
{
    Q_OBJECT

public:
    /// Default bound of an "/xhr_send" post, from its write to its answer.
    static constexpr int SEND_TIMEOUT_MS = 30000;
    /// Longest run of handling received frames before the event loop gets a turn.
    static constexpr int DELIVERY_SLICE_MS = 5;

    /// Creates the cookie jar; nothing is opened.
    explicit SockJSXHRPolling(QObject *parent);
    /// Stops the worker and waits (bounded) for its thread to end.
    ~SockJSXHRPolling() override;

    /// Connects the receive socket to host:port (TLS when `useSsl`; blocking,
    /// at most 30 s), starts the worker thread and the first receive request
    /// on `path` ("/xhr_streaming" when `streaming`, else "/xhr").
    /// False when the socket did not connect.
    bool open(QString host, int port, bool useSsl, QString path, bool streaming);
    /// Posts one outgoing SockJS text to "/xhr_send". Texts sent while a post
    /// is under way are merged into the next post, so they arrive in order.
    /// Each text reaches the server at most once: a post is written again only
    /// when its connection was found closed before the write.
    void send(QString message);
    /// Refuses further requests and tells the worker to stop; connectionClosed()
    /// follows when it has.
    void close();
    /// Bound of one received frame in bytes, for the next open(); a larger
    /// frame drops the receive connection (which is then opened again).
    void setMaxFrameSize(qint64 bytes) { maxFrameSize = bytes; }
    /// A post not answered within `ms` drops this transport: texts not yet
    /// posted are discarded and connectionClosed() follows. Default SEND_TIMEOUT_MS.
    void setSendTimeout(int ms);

    /// "/" and the session path, as named on the request line.
    QString getRequestPath() const { return requestPath; }
    /// Scheme, host and port ("http://h:80").
    QString getServerRoot() const { return serverRoot; }
    /// The session's full URL, without a trailing "/".
    QString getBaseUrl() const { return baseUrl; }
    /// The jar shared by the receive requests and the posts.
    QNetworkCookieJar *getCookieJar() const { return cookieJar; }

signals:
    /// The receive side has ended (the worker finished).
    void connectionClosed();
    /// One SockJS frame received, as text.
    void textMessageReceived(QString message);

private slots:
    void drainMailbox();
    void onReceivedHeadersResponse(XHRRequest *request, QStringMap headers);
    void onReceivedMessageResponse(XHRRequest *request, QString message);
    void onSendReadyRead();
    void onSendDisconnected();
    void onReconnected();

private:
    struct Mailbox;
    void poll();
    void request(QString path, QString body);
    QString cookieHeaderValue() const;
    void onResponseEnd(XHRRequest *request);
    void onWorkerFinished();
    void postNextSend();
    void writeSend();
    void sendFinished();
    void onSendTimeout();
    void shutDownWorker();
    void stopWorker();
    void storeCookies(const QStringMap &headers);

    QNetworkCookieJar *cookieJar;
    QString host;
    int port = 0;
    QString requestPath;
    QString serverRoot;
    QString baseUrl;
    bool closed = true;
    bool keepAlive = false;
    bool streaming = false;
    SockJSXHRPollingWorker *worker = nullptr;
    QThread *workerThread = nullptr;
    QTcpSocket *socket = nullptr;
    XHRRequest *currentRequest = nullptr;
    // Id of the receive request whose end issues the next one.
    int receiveRequestId = 0;
    bool workerFinished = false;
    bool pollQueuedAhead = false;
    std::shared_ptr<Mailbox> mailbox;
    bool useSsl = false;
    QStringList pendingSends;
    // The "/xhr_send" connection: one post at a time.
    QTcpSocket *sendSocket = nullptr;
    Veltro::HttpResponseParser sendParser;
    QByteArray sendRequest;      // the post under way, empty when none
    bool sendAnswered = false;   // response bytes of the post under way arrived
    QTimer *sendTimer = nullptr;
    int sendTimeoutMs = SEND_TIMEOUT_MS;
    qint64 maxFrameSize = Veltro::HttpResponseParser::MAX_PENDING_BYTES;
    // close() waits for sends already handed over (a goodbye) before it ends the receive side.
    bool stopWhenSent = false;
};
