// The XHR transports of SockJS (streaming and polling) on one object: the
// receive side writes hand-built HTTP requests on a raw socket read by a
// SockJSXHRPollingWorker on its own thread; outgoing frames are posted to
// "/xhr_send" on a second raw keep-alive connection of this thread, each
// request in a single write with low-delay sockets (an HTTP client that
// writes headers and body apart meets the peer's delayed acknowledgement and
// adds tens of milliseconds per message). Cookies set on either side are
// returned on both. Both sockets take the client's TLS configuration,
// accepted certificate errors and proxy; they are connected on this thread,
// so certificate errors and proxy questions reach the host on its own thread.
#pragma once

#include "deliverypacer_p.h"
#include "httpresponseparser_p.h"
#include "qstringmap.h"
#include "transportnetwork_p.h"

#include <QObject>
#include <QPointer>
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
    /// Bound of the receive socket's connection (TLS handshake and proxy included).
    static constexpr int CONNECT_TIMEOUT_MS = 30000;

    /// Creates the cookie jar; nothing is opened.
    explicit SockJSXHRPolling(QObject *parent);
    /// Stops the worker and waits (bounded) for its thread to end.
    ~SockJSXHRPolling() override;

    /// Starts connecting the receive socket to host:port (TLS when `useSsl`)
    /// and returns at once; nothing is emitted inside the call. When it is
    /// connected, the worker thread starts with the first receive request on
    /// `path` ("/xhr_streaming" when `streaming`, else "/xhr") and opened()
    /// follows; when it cannot connect (within CONNECT_TIMEOUT_MS),
    /// connectionClosed() follows and error() says why. False, and nothing
    /// started, when this transport was opened before.
    bool open(QString host, int port, bool useSsl, QString path, bool streaming);
    /// Posts one outgoing SockJS text to "/xhr_send". Texts sent while a post
    /// is under way are merged into the next post, so they arrive in order.
    /// Each text reaches the server at most once: a post is written again only
    /// when its connection was found closed before the write.
    void send(QString message);
    /// Refuses further requests, drops what was received and not yet
    /// delivered, and tells the worker to stop; connectionClosed() follows
    /// when it has (texts handed to send() before are still posted first).
    void close();
    /// For teardown: posts `text` (after the texts still waiting) with a
    /// bounded wait that runs no event loop (`waitMs` in all), then stops
    /// everything without reporting anything, now or later. A connection of
    /// its own looks no name up: it goes to the address the receive side
    /// reached, or to a proxy's address the hub looked up when this transport
    /// opened, or nowhere. False when the post was not written in time.
    bool sendNowAndStop(const QString &text, int waitMs);
    /// Bound of one received frame in bytes, for the next open(); a larger
    /// frame drops the receive connection (which is then opened again).
    void setMaxFrameSize(qint64 bytes) { maxFrameSize = bytes; }
    /// A post not answered within `ms` drops this transport: texts not yet
    /// posted are discarded and connectionClosed() follows. Default SEND_TIMEOUT_MS.
    void setSendTimeout(int ms);
    /// TLS configuration, accepted certificate errors and proxy for the next
    /// open(), and where certificate errors and proxy questions go. Null:
    /// Qt's defaults, nobody asked.
    void setNetworkHub(Veltro::NetworkHub *hub) { this->hub = hub; }
    /// The bound that frames received and not yet delivered count against
    /// (shared with the connector); call before open(). Past it the receive
    /// side ends with Veltro::Error::BacklogFull.
    void setBacklog(std::shared_ptr<Veltro::BacklogBudget> budget);

    /// Why the transport could not open or ended (read when
    /// connectionClosed() arrives); None after close().
    Veltro::Error error() const { return m_reason.error; }
    QString errorString() const { return m_reason.text; }

    /// "/" and the session path, as named on the request line.
    QString getRequestPath() const { return requestPath; }
    /// Scheme, host and port ("http://h:80").
    QString getServerRoot() const { return serverRoot; }
    /// The session's full URL, without a trailing "/".
    QString getBaseUrl() const { return baseUrl; }
    /// The jar shared by the receive requests and the posts.
    QNetworkCookieJar *getCookieJar() const { return cookieJar; }

signals:
    /// The receive socket is connected and the worker runs: frames follow.
    void opened();
    /// The receive side has ended (the worker finished), or open() did not
    /// connect. Every frame received before it has been delivered.
    void connectionClosed();
    /// One SockJS frame received, as text.
    void textMessageReceived(QString message);

private slots:
    void onReceivedHeadersResponse(XHRRequest *request, QStringMap headers);
    void onReceivedMessageResponse(XHRRequest *request, QString message);
    void onSendReadyRead();
    void onSendDisconnected();
    void onReconnected();

private:
    struct Report;
    struct Sink;
    void startReceiveConnect();
    void dropConnectTimer();
    void dropReceiveConnect();
    void onReceiveConnected();
    void onReceiveConnectFailed(const Veltro::FailureReason &reason);
    void startWorker();
    void handleReport(Report &&report);
    void poll();
    void request(QString path, QString body);
    QString cookieHeaderValue() const;
    QString cookieHeader() const;
    void onResponseEnd(XHRRequest *request);
    void onWorkerFinished(Report &&report);
    void postNextSend();
    QByteArray sendPost(const QString &body) const;
    void writeSend();
    void sendFinished();
    void onSendTimeout();
    void fail(const Veltro::FailureReason &reason);
    void shutDownWorker();
    void stopWorker();
    void storeCookies(const QStringMap &headers);
    void releaseSendSocket();

    QNetworkCookieJar *cookieJar;
    QString host;
    int port = 0;
    QString peer; // the address the receive side reached, without a proxy
    QString requestPath;
    QString serverRoot;
    QString baseUrl;
    bool closed = true;
    bool keepAlive = false;
    bool streaming = false;
    bool useSsl = false;
    // The owner's close(): what was received and not yet delivered is dropped.
    bool discardIncoming = false;
    SockJSXHRPollingWorker *worker = nullptr;
    QThread *workerThread = nullptr;
    QTcpSocket *socket = nullptr;
    QTimer *connectTimer = nullptr;
    QString receiveTlsText;
    XHRRequest *currentRequest = nullptr;
    // Id of the receive request whose end issues the next one.
    int receiveRequestId = 0;
    bool pollQueuedAhead = false;
    QPointer<Veltro::NetworkHub> hub;
    Veltro::TransportNetwork network;
    Veltro::FailureReason m_reason;
    std::shared_ptr<Veltro::BacklogBudget> budget;
    Veltro::DeliveryPacer<Report> *pacer = nullptr;
    std::shared_ptr<Sink> sink;
    QStringList pendingSends;
    // The "/xhr_send" connection: one post at a time.
    QTcpSocket *sendSocket = nullptr;
    QString sendTlsText;
    Veltro::HttpResponseParser sendParser;
    QByteArray sendRequest;      // the post under way, empty when none
    QTimer *sendTimer = nullptr;
    int sendTimeoutMs = SEND_TIMEOUT_MS;
    qint64 maxFrameSize = Veltro::HttpResponseParser::MAX_PENDING_BYTES;
    // close() waits for sends already handed over (a goodbye) before it ends the receive side.
    bool stopWhenSent = false;
};
