#include "sockjsxhrpolling.h"

#include "logging_p.h"
#include "sockjsxhrpollingworker.h"
#include "xhrrequest.h"
#include "xhrrequestwriter_p.h"

#include <QDeadlineTimer>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <mutex>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

const QString OUTGOING_OPEN = QStringLiteral("[\n");
const QString OUTGOING_CLOSE = QStringLiteral("\n]\n");
const QString RECEIVE_CONTENT_TYPE = QStringLiteral("application/json");
const QString SEND_CONTENT_TYPE = QStringLiteral("application/json; charset=UTF-8");
constexpr unsigned long THREAD_WAIT_MS = 10000;
constexpr int SEND_DRAIN_MS = 3000;
// Texts merged into one "/xhr_send" post stop short of this many characters
// (a single longer text goes alone). Servers gather a post's body before
// parsing it, some by copying all of it so far on every arrival, so one
// merged post of a whole burst (megabytes) costs them time in the square of
// its size; posts of this size keep that negligible.
constexpr int MAX_MERGED_POST = 64 * 1024;

// True when the peer has already ended a connection that still looks open
// here (its close not yet handled by the event loop): a request written now
// would be lost without an answer.
bool peerHasClosed(const QAbstractSocket *socket)
{
#ifdef Q_OS_UNIX
    char c;
    const auto fd = socket->socketDescriptor();
    return fd >= 0 && ::recv(int(fd), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
#else
    Q_UNUSED(socket)
    return false;
#endif
}

bool isMessageArray(const QString &text)
{
    return text.startsWith(OUTGOING_OPEN) && text.endsWith(OUTGOING_CLOSE);
}

// Appends the elements of one outgoing array text to another (the server
// reads every element of a posted array in order).
void mergeInto(QString &body, const QString &next)
{
    body.chop(OUTGOING_CLOSE.size());
    body += QStringLiteral(",\n") + QStringView(next).mid(OUTGOING_OPEN.size());
}

bool isRefusal(Veltro::Error e)
{
    return e == Veltro::Error::Tls || e == Veltro::Error::ProxyAuthenticationRequired
        || e == Veltro::Error::Proxy;
}

} // namespace

// One report of the worker thread, handed to this transport's thread in order.
struct SockJSXHRPolling::Report
{
    enum Kind { Headers, Message, End, Reconnected, Finished, Discarded };
    Kind kind = Message;
    XHRRequest *request = nullptr;
    QStringMap headers;
    QString text;
    // Finished: why the loop ended, and a refused handshake's errors.
    Veltro::FailureReason reason;
    QList<QSslError> sslErrors;
    QList<QSslCertificate> chain;
};

// Where the worker thread posts its reports; let go of (under its lock)
// before the transport goes away, so a worker that outlives it posts nowhere.
struct SockJSXHRPolling::Sink
{
    std::mutex mutex;
    Veltro::DeliveryPacer<Report> *pacer = nullptr;

    bool post(Report report, qint64 bytes = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return !pacer || pacer->push(std::move(report), bytes);
    }
};

SockJSXHRPolling::SockJSXHRPolling(QObject *parent)
    : QObject(parent)
    , cookieJar(new QNetworkCookieJar(this))
    , budget(std::make_shared<Veltro::BacklogBudget>())
{
}

SockJSXHRPolling::~SockJSXHRPolling()
{
    shutDownWorker();
    delete socket;   // a receive connection still being made
    delete currentRequest;
}

void SockJSXHRPolling::setBacklog(std::shared_ptr<Veltro::BacklogBudget> b)
{
    if (b)
        budget = std::move(b);
}

void SockJSXHRPolling::setSendTimeout(int ms)
{
    sendTimeoutMs = qMax(1, ms);
}

void SockJSXHRPolling::shutDownWorker()
{
    closed = true;
    // The worker's last reports (the requests it hands back) still arrive
    // while it stops; then it posts nowhere, stopped or not.
    bool stopped = true;
    if (worker) {
        worker->stop();
        stopped = !workerThread || workerThread->wait(THREAD_WAIT_MS);
    }
    if (sink) {
        std::lock_guard<std::mutex> lock(sink->mutex);
        sink->pacer = nullptr;
    }
    if (!worker)
        return;
    if (!stopped) {
        // Never delete a running thread; leaving it is the lesser harm.
        qCWarning(lcSockJS) << "[SockJSXHRPolling] worker thread did not stop in time";
        worker = nullptr;
        socket = nullptr;
        workerThread = nullptr;
        return;
    }
    if (pacer) {
        // Requests reported but never handled are ours to release.
        for (Report &r : pacer->takeAll()) {
            if ((r.kind == Report::Headers || r.kind == Report::Discarded) && r.request != currentRequest)
                delete r.request;
        }
    }
    delete worker;
    delete socket;
    delete workerThread;
    worker = nullptr;
    socket = nullptr;
    workerThread = nullptr;
}

bool SockJSXHRPolling::open(QString host, int port, bool useSsl, QString path, bool streaming)
{
    if (socket || worker) {
        qCDebug(lcSockJS) << "[SockJSXHRPolling] Already opened";
        return false;
    }
    closed = false;
    discardIncoming = false;
    m_reason = {};
    this->useSsl = useSsl;
    this->host = host;
    this->port = port;
    keepAlive = true;
    this->streaming = streaming;
    currentRequest = nullptr;

    if (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    requestPath = QLatin1Char('/') + path;
    serverRoot = QStringLiteral("http%1://%2:%3")
                     .arg(useSsl ? QStringLiteral("s") : QString(), host, QString::number(port));
    baseUrl = serverRoot + QLatin1Char('/') + path;
    if (baseUrl.endsWith(QLatin1Char('/')))
        baseUrl.chop(1);
    network = Veltro::TransportNetwork::forServer(hub, host, port, useSsl, requestPath);
    // A teardown's post must reach the proxy without a lookup then.
    if (hub && network.proxy.type() != QNetworkProxy::NoProxy)
        hub->lookUpAhead(network.proxy.hostName());
    peer.clear();

    // Created on this thread and connected here, so that the host hears of
    // certificate errors and proxy questions on its own thread; the worker
    // takes it over once it is up.
    socket = useSsl ? new QSslSocket : new QTcpSocket;
    network.prepare(socket);
    network.watch(socket, this, [this](const QString &text) { receiveTlsText = text; });
    if (useSsl)
        connect(static_cast<QSslSocket *>(socket), &QSslSocket::encrypted, this, &SockJSXHRPolling::onReceiveConnected);
    else
        connect(socket, &QAbstractSocket::connected, this, &SockJSXHRPolling::onReceiveConnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this] {
        if (socket->state() == QAbstractSocket::UnconnectedState)
            onReceiveConnectFailed(Veltro::reasonFromSocket(socket, receiveTlsText));
    });
    connect(socket, &QAbstractSocket::disconnected, this,
            [this] { onReceiveConnectFailed(Veltro::reasonFromSocket(socket, receiveTlsText)); });
    connectTimer = new QTimer(this);
    connectTimer->setSingleShot(true);
    connect(connectTimer, &QTimer::timeout, this,
            [this] { onReceiveConnectFailed(Veltro::FailureReason::of(Veltro::Error::Timeout)); });
    connectTimer->start(CONNECT_TIMEOUT_MS);
    // From the event loop: a socket can report at once (a refused loopback
    // connection), and nothing is emitted inside open().
    QMetaObject::invokeMethod(this, &SockJSXHRPolling::startReceiveConnect, Qt::QueuedConnection);
    return true;
}

void SockJSXHRPolling::dropConnectTimer()
{
    if (!connectTimer)
        return;
    connectTimer->stop();
    connectTimer->deleteLater();   // possibly from its own timeout
    connectTimer = nullptr;
}

void SockJSXHRPolling::dropReceiveConnect()
{
    dropConnectTimer();
    if (!socket || worker)
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();   // possibly from one of its own signals
    socket = nullptr;
}

void SockJSXHRPolling::startReceiveConnect()
{
    if (!socket || worker || closed)
        return;
    if (useSsl)
        static_cast<QSslSocket *>(socket)->connectToHostEncrypted(host, quint16(port));
    else
        socket->connectToHost(host, quint16(port));
}

void SockJSXHRPolling::onReceiveConnectFailed(const Veltro::FailureReason &reason)
{
    if (!socket || worker)
        return;
    qCDebug(lcSockJS).noquote() << "[SockJSXHRPolling]" << reason.text;
    dropReceiveConnect();
    closed = true;
    m_reason = reason;
    emit connectionClosed();
}

void SockJSXHRPolling::onReceiveConnected()
{
    if (!socket || worker)
        return;
    dropConnectTimer();
    if (network.proxy.type() == QNetworkProxy::NoProxy)
        peer = socket->peerAddress().toString();
    // Nothing of this thread may stay connected to a socket of the worker's.
    socket->disconnect(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Handed over once it has finished reporting: a TLS socket goes on
    // reading after its signal returns, and must not do so on two threads.
    QMetaObject::invokeMethod(this, [this] {
        if (!socket || worker || closed)
            return;
        startWorker();
        emit opened();
    }, Qt::QueuedConnection);
}

void SockJSXHRPolling::startWorker()
{
    worker = new SockJSXHRPollingWorker(nullptr, socket, host, port, useSsl, keepAlive);
    // Its reconnections ask nobody: they carry the credentials known by now.
    Veltro::TransportNetwork workerNetwork = network;
    workerNetwork.proxy = network.proxyWithCredentials();
    worker->setNetwork(workerNetwork);
    worker->setMaxFrameSize(maxFrameSize);
    workerThread = new QThread;
    worker->moveToThread(workerThread);
    socket->moveToThread(workerThread);

    pacer = new Veltro::DeliveryPacer<Report>(
        this, [this](Report &&r) { handleReport(std::move(r)); }, budget, true);
    sink = std::make_shared<Sink>();
    sink->pacer = pacer;
    const std::shared_ptr<Sink> sk = sink;
    SockJSXHRPollingWorker *const w = worker;
    // Direct connections: these run on the worker thread and only post.
    connect(worker, &SockJSXHRPollingWorker::receivedHeadersResponse, worker, [sk](XHRRequest *r, QStringMap h) {
        sk->post({Report::Headers, r, std::move(h), {}, {}, {}, {}});
    }, Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::receivedMessageResponse, worker, [sk, w](XHRRequest *r, QString m) {
        // Charged where it arrives: a host that does not keep up ends the
        // transport rather than the process's memory.
        const qint64 bytes = qint64(m.size()) * qint64(sizeof(QChar));
        if (!sk->post({Report::Message, r, {}, std::move(m), {}, {}, {}}, bytes)) {
            qCWarning(lcSockJS) << "[SockJSXHRPollingWorker] Received messages not taken in time: giving up";
            w->giveUp(Veltro::FailureReason::of(Veltro::Error::BacklogFull));
        }
    }, Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::receivedResponseEnd, worker,
            [sk](XHRRequest *r) { sk->post({Report::End, r, {}, {}, {}, {}, {}}); }, Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::requestDiscarded, worker,
            [sk](XHRRequest *r) { sk->post({Report::Discarded, r, {}, {}, {}, {}, {}}); }, Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::reconnected, worker,
            [sk] { sk->post({Report::Reconnected, nullptr, {}, {}, {}, {}, {}}); }, Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::finished, worker, [sk, w] {
        sk->post({Report::Finished, nullptr, {}, {}, w->endReason(), w->refusedSslErrors(), w->refusedChain()});
    }, Qt::DirectConnection);
    connect(workerThread, &QThread::started, worker, &SockJSXHRPollingWorker::process);

    workerThread->start(QThread::InheritPriority);
    pollQueuedAhead = false;
    poll();
}

void SockJSXHRPolling::handleReport(Report &&r)
{
    switch (r.kind) {
    case Report::Headers:
        onReceivedHeadersResponse(r.request, r.headers);
        break;
    case Report::Message:
        onReceivedMessageResponse(r.request, r.text);
        break;
    case Report::End:
        onResponseEnd(r.request);
        break;
    case Report::Reconnected:
        onReconnected();
        break;
    case Report::Finished:
        onWorkerFinished(std::move(r));
        break;
    case Report::Discarded:
        if (r.request != currentRequest)
            delete r.request;
        break;
    }
}

void SockJSXHRPolling::poll()
{
    request(requestPath + (streaming ? QStringLiteral("/xhr_streaming") : QStringLiteral("/xhr")), QString());
}

QString SockJSXHRPolling::cookieHeader() const
{
    return cookieJar->cookiesForUrl(QUrl(baseUrl)).isEmpty() ? QString() : cookieHeaderValue();
}

void SockJSXHRPolling::request(QString path, QString body)
{
    if (closed || !worker) {
        qCDebug(lcSockJS) << "[SockJSXHRPolling] Can't make request when in closed state!";
        return;
    }
    Veltro::XhrRequestHead head;
    head.path = path;
    head.host = host;
    head.port = port;
    head.useSsl = useSsl;
    head.keepAlive = keepAlive;
    head.contentType = RECEIVE_CONTENT_TYPE;
    head.contentLength = body.toUtf8().size();
    head.cookies = cookieHeader();
    // The receive request as the server has always been sent it: two more
    // line ends after the body.
    auto *r = new XHRRequest(nullptr, path, Veltro::writeXhrRequestHead(head) + body + QStringLiteral("\r\n\r\n"));
    const int id = r->getRequestId();
    if (!worker->enqueue(r)) {
        delete r;
        return;
    }
    receiveRequestId = id;
}

QString SockJSXHRPolling::cookieHeaderValue() const
{
    QString value;
    const QList<QNetworkCookie> cookies = cookieJar->cookiesForUrl(QUrl(baseUrl));
    for (const QNetworkCookie &c : cookies)
        value += QString::fromUtf8(c.name()) + QLatin1Char('=') + QString::fromUtf8(c.value()) + QStringLiteral("; ");
    return value;
}

void SockJSXHRPolling::send(QString message)
{
    pendingSends.append(message);
    if (sendRequest.isEmpty())
        postNextSend();
}

QByteArray SockJSXHRPolling::sendPost(const QString &body) const
{
    const QByteArray bodyBytes = body.toUtf8();
    Veltro::XhrRequestHead head;
    head.path = requestPath + QStringLiteral("/xhr_send");
    head.host = host;
    head.port = port;
    head.useSsl = useSsl;
    head.keepAlive = keepAlive;
    head.contentType = SEND_CONTENT_TYPE;
    head.contentLength = bodyBytes.size();
    head.cookies = cookieHeader();
    return Veltro::writeXhrRequestHead(head).toUtf8() + bodyBytes;
}

void SockJSXHRPolling::postNextSend()
{
    if (!sendRequest.isEmpty() || pendingSends.isEmpty() || baseUrl.isEmpty())
        return;
    // One post at a time keeps the order; what queued meanwhile goes in one
    // array.
    QString body = pendingSends.takeFirst();
    if (isMessageArray(body)) {
        while (!pendingSends.isEmpty()) {
            const QString &next = pendingSends.first();
            if (!isMessageArray(next) || body.size() + next.size() > MAX_MERGED_POST)
                break;
            mergeInto(body, next);
            pendingSends.removeFirst();
        }
    }
    sendRequest = sendPost(body);
    writeSend();
}

void SockJSXHRPolling::releaseSendSocket()
{
    if (!sendSocket)
        return;
    sendSocket->disconnect(this);
    sendSocket->abort();
    sendSocket->deleteLater();
    sendSocket = nullptr;
}

void SockJSXHRPolling::writeSend()
{
    sendParser.reset();
    if (!sendTimer) {
        sendTimer = new QTimer(this);
        sendTimer->setSingleShot(true);
        connect(sendTimer, &QTimer::timeout, this, &SockJSXHRPolling::onSendTimeout);
    }
    sendTimer->start(sendTimeoutMs);
    if (sendSocket
        && (sendSocket->state() == QAbstractSocket::ClosingState
            || (sendSocket->state() == QAbstractSocket::ConnectedState && peerHasClosed(sendSocket)))) {
        // A keep-alive connection the server let go of while idle: found
        // before the write, so the post goes on a fresh connection instead.
        releaseSendSocket();
    }
    if (sendSocket && sendSocket->state() == QAbstractSocket::ConnectedState
        && (!useSsl || static_cast<QSslSocket *>(sendSocket)->isEncrypted())) {
        sendSocket->write(sendRequest);   // a single write per request
        sendSocket->flush();              // now, not at the next loop pass
        return;
    }
    if (!sendSocket) {
        sendSocket = useSsl ? new QSslSocket(this) : new QTcpSocket(this);
        sendTlsText.clear();
        network.prepare(sendSocket);
        network.watch(sendSocket, this, [this](const QString &text) { sendTlsText = text; });
        connect(sendSocket, &QIODevice::readyRead, this, &SockJSXHRPolling::onSendReadyRead);
        connect(sendSocket, &QAbstractSocket::disconnected, this, &SockJSXHRPolling::onSendDisconnected);
        connect(sendSocket, &QAbstractSocket::errorOccurred, this, [this] {
            if (sendSocket->state() == QAbstractSocket::UnconnectedState)
                onSendDisconnected();
        });
        auto ready = [this] {
            sendSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            if (!sendRequest.isEmpty()) {
                sendSocket->write(sendRequest);
                sendSocket->flush();
            }
        };
        if (useSsl)
            connect(static_cast<QSslSocket *>(sendSocket), &QSslSocket::encrypted, this, ready);
        else
            connect(sendSocket, &QAbstractSocket::connected, this, ready);
    }
    if (sendSocket->state() != QAbstractSocket::UnconnectedState)
        return;   // still connecting: the request goes out once it has
    if (useSsl)
        static_cast<QSslSocket *>(sendSocket)->connectToHostEncrypted(host, quint16(port));
    else
        sendSocket->connectToHost(host, quint16(port));
}

void SockJSXHRPolling::onSendReadyRead()
{
    const QByteArray data = sendSocket->readAll();
    if (sendRequest.isEmpty() || data.isEmpty())
        return;
    QVector<Veltro::HttpResponseParser::Event> events;
    const bool ok = sendParser.feed(data, &events);
    for (const auto &ev : qAsConst(events)) {
        if (ev.kind == Veltro::HttpResponseParser::Event::Headers) {
            storeCookies(ev.headers);
            if (ev.status >= 400)
                qCDebug(lcSockJS) << "[SockJSXHRPolling] xhr_send error: HTTP status" << ev.status;
        } else if (ev.kind == Veltro::HttpResponseParser::Event::End) {
            sendFinished();
            return;
        }
    }
    if (!ok) {
        qCDebug(lcSockJS) << "[SockJSXHRPolling] xhr_send error:" << sendParser.errorString();
        sendSocket->abort();
    }
}

void SockJSXHRPolling::onSendDisconnected()
{
    if (sendRequest.isEmpty())
        return;
    const Veltro::FailureReason reason = Veltro::reasonFromSocket(sendSocket, sendTlsText);
    // Never written again: once written, the server may have read the post
    // even though no answer came (a reset on the way, a server that died
    // after reading), and a frame must not arrive twice.
    qCDebug(lcSockJS).noquote() << "[SockJSXHRPolling] xhr_send error: " + reason.text;
    // The next post gets a fresh connection; this one reports nothing more
    // (an error and a disconnection can both arrive for one end).
    sendSocket->disconnect(this);
    sendSocket->deleteLater();
    sendSocket = nullptr;
    if (isRefusal(reason.error)) {
        // Every later post would be refused alike: the transport is unusable.
        fail(reason);
        return;
    }
    sendFinished();
}

void SockJSXHRPolling::onSendTimeout()
{
    if (sendRequest.isEmpty())
        return;
    qCWarning(lcSockJS) << "[SockJSXHRPolling] xhr_send not answered within" << sendTimeoutMs
                        << "ms: dropping the connection";
    // Everything queued behind it would wait for ever as well; the owner
    // learns of the drop through connectionClosed() and may start afresh.
    fail(Veltro::FailureReason::of(Veltro::Error::Timeout, QStringLiteral("an /xhr_send post was not answered in time")));
}

void SockJSXHRPolling::fail(const Veltro::FailureReason &reason)
{
    sendRequest.clear();
    pendingSends.clear();
    if (sendTimer)
        sendTimer->stop();
    releaseSendSocket();
    if (!m_reason.isSet())
        m_reason = reason;
    closed = true;
    stopWorker();
}

void SockJSXHRPolling::sendFinished()
{
    if (sendTimer)
        sendTimer->stop();
    sendRequest.clear();
    sendParser.reset();
    postNextSend();
    if (stopWhenSent && sendRequest.isEmpty())
        stopWorker();
}

void SockJSXHRPolling::close()
{
    closed = true;
    discardIncoming = true;
    m_reason = {};
    if (socket && !worker) {
        // Still connecting: given up at once, reported from the event loop.
        dropReceiveConnect();
        QMetaObject::invokeMethod(this, &SockJSXHRPolling::connectionClosed, Qt::QueuedConnection);
        return;
    }
    // Texts handed to send() before close() (the session's goodbye) are still
    // posted: the receive side ends once they are out, or after a bound.
    if (!sendRequest.isEmpty() || !pendingSends.isEmpty()) {
        stopWhenSent = true;
        QTimer::singleShot(SEND_DRAIN_MS, this, &SockJSXHRPolling::stopWorker);
        return;
    }
    stopWorker();
}

bool SockJSXHRPolling::sendNowAndStop(const QString &text, int waitMs)
{
    const QSignalBlocker quiet(this);
    QDeadlineTimer deadline(waitMs);
    // What still waits goes first, in one post with the last text.
    QString body;
    for (const QString &t : qAsConst(pendingSends)) {
        if (body.isEmpty())
            body = t;
        else if (isMessageArray(body) && isMessageArray(t))
            mergeInto(body, t);
    }
    if (body.isEmpty())
        body = text;
    else if (isMessageArray(body) && isMessageArray(text))
        mergeInto(body, text);
    pendingSends.clear();
    bool written = false;
    if (worker && !baseUrl.isEmpty()) {
        const QByteArray post = sendPost(body);
        QTcpSocket *s = sendSocket;
        std::unique_ptr<QTcpSocket> fresh;
        const bool ready = s && s->state() == QAbstractSocket::ConnectedState
            && (!useSsl || static_cast<QSslSocket *>(s)->isEncrypted());
        const bool proxied = network.proxy.type() != QNetworkProxy::NoProxy;
        if (!ready) {
            s = nullptr;
            // A connection of its own that asks nobody (the proxy's known
            // credentials, the accepted errors) and looks no name up, as a
            // lookup has no bound: a proxy is given the server's name, else
            // the server is reached where the receive side reached it.
            Veltro::TransportNetwork quietNetwork = network;
            quietNetwork.proxy = network.proxyWithCredentials();
            quietNetwork.hub = nullptr;
            const QString target = proxied ? host : peer;
            if (target.isEmpty() || !Veltro::pinProxy(hub, &quietNetwork.proxy)) {
                qCDebug(lcSockJS) << "[SockJSXHRPolling] Last post not sent: no address known without a lookup";
            } else {
                fresh.reset(useSsl ? new QSslSocket : new QTcpSocket);
                s = fresh.get();
                quietNetwork.prepare(s);
                if (useSsl) {
                    static_cast<QSslSocket *>(s)->connectToHostEncrypted(target, quint16(port), host);
                    static_cast<QSslSocket *>(s)->waitForEncrypted(int(deadline.remainingTime()));
                } else {
                    s->connectToHost(target, quint16(port));
                    s->waitForConnected(int(deadline.remainingTime()));
                }
            }
        }
        if (s && s->state() == QAbstractSocket::ConnectedState) {
            // Behind a post under way, if any: the server reads them in turn.
            s->write(post);
            while (s->bytesToWrite() > 0 && !deadline.hasExpired()) {
                if (!s->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
                    break;
            }
            written = s->bytesToWrite() == 0;
            // Through a proxy, Qt's socket hands the bytes to an inner one
            // that writes only while a wait runs: the answer's first bytes
            // show they left (read by nobody: the socket goes next).
            if (written && proxied) {
                s->disconnect(this);
                s->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            }
        }
        if (fresh)
            fresh->disconnectFromHost();
    }
    sendRequest.clear();
    if (sendTimer)
        sendTimer->stop();
    releaseSendSocket();
    dropReceiveConnect();
    shutDownWorker();
    return written;
}

void SockJSXHRPolling::stopWorker()
{
    stopWhenSent = false;
    if (worker)
        worker->stop();
}

void SockJSXHRPolling::onReceivedHeadersResponse(XHRRequest *request, QStringMap headers)
{
    if (currentRequest && currentRequest != request)
        currentRequest->deleteLater();
    currentRequest = request;
    storeCookies(headers);
}

void SockJSXHRPolling::storeCookies(const QStringMap &headers)
{
    for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
        if (!it.key().contains(QLatin1String("Set-Cookie"), Qt::CaseInsensitive))
            continue;
        const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(it.value().toUtf8());
        cookieJar->setCookiesFromUrl(cookies, QUrl(baseUrl));
        qCDebug(lcSockJS) << "[SockJSXHRPolling] parsed cookies";
    }
}

void SockJSXHRPolling::onReceivedMessageResponse(XHRRequest *request, QString message)
{
    Q_UNUSED(request)
    if (discardIncoming)
        return;   // read before close() but handled after it: not news any more
    qCDebug(lcSockJS).noquote() << "[SockJSXHRPolling] RECEIVED:" << frameForLog(message);
    emit textMessageReceived(message);
}

void SockJSXHRPolling::onResponseEnd(XHRRequest *request)
{
    // Streaming: only the end of the latest stream issues the next one, so a
    // reconnection never leaves two streams chasing each other.
    if (closed || !request || (streaming && request->getRequestId() != receiveRequestId))
        return;
    const int status = request->statusCode.load();
    if (status >= 400) {
        // Re-polling an endpoint that refuses would spin for ever.
        qCDebug(lcSockJS) << "[SockJSXHRPolling] receive request failed with HTTP status" << status;
        fail(Veltro::FailureReason::of(
            Veltro::Error::ClosedByServer,
            QStringLiteral("the server answered a receive request with HTTP status %1").arg(status)));
        return;
    }
    poll();
    // Polling keeps one poll waiting behind the one under way, so the worker
    // writes the next the moment a response ends, without a round trip
    // through this thread; each ended response queues one more. It starts
    // after the first response, whose cookies every later poll must carry.
    if (!streaming && !pollQueuedAhead) {
        pollQueuedAhead = true;
        poll();
    }
}

void SockJSXHRPolling::onReconnected()
{
    poll();
}

void SockJSXHRPolling::onWorkerFinished(Report &&report)
{
    closed = true;
    if (!discardIncoming && !m_reason.isSet()) {
        m_reason = report.reason;
        if (!report.sslErrors.isEmpty() && hub)
            hub->reportSslErrors(report.sslErrors, report.chain);
        if (!m_reason.isSet()) {
            // The loop found its socket gone for good without a reason of its own.
            m_reason.set(Veltro::Error::Network, QString());
        }
    }
    emit connectionClosed();
}
