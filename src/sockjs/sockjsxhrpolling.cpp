#include "sockjsxhrpolling.h"

#include "logging_p.h"
#include "sockjsxhrpollingworker.h"
#include "systemproxy.h"
#include "wakepipe_p.h"
#include "xhrrequest.h"

#include <QElapsedTimer>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <deque>
#include <mutex>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

// The raw receive request: request line, header block, empty line, body.
const QString REQUEST_TEMPLATE = QStringLiteral("POST %1 HTTP/1.1\r\n%2\r\n%3\r\n\r\n");
const QString OUTGOING_OPEN = QStringLiteral("[\n");
const QString OUTGOING_CLOSE = QStringLiteral("\n]\n");
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

} // namespace

// Carries the worker's reports to this transport's thread. The worker thread
// appends under a standard mutex (visible to thread checkers) and the owner
// takes items one at a time, so their order is kept even when a handler runs
// a nested event loop.
struct SockJSXHRPolling::Mailbox
{
    struct Item
    {
        enum Kind { Headers, Message, End, Reconnected, Finished, Discarded };
        Kind kind;
        XHRRequest *request = nullptr;
        QStringMap headers;
        QString text;
    };

    std::mutex mutex;
    std::deque<Item> items;
    bool scheduled = false;
    SockJSXHRPolling *target = nullptr;   // null once the transport is going away
    WakePipe *wakeTarget = nullptr;       // lives on the transport's thread

    void post(Item item)
    {
        std::lock_guard<std::mutex> lock(mutex);
        items.push_back(std::move(item));
        if (scheduled || !target)
            return;
        scheduled = true;
        wakeTarget->wake();
    }

    bool take(Item *out)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (items.empty()) {
            scheduled = false;
            return false;
        }
        *out = std::move(items.front());
        items.pop_front();
        return true;
    }
};

SockJSXHRPolling::SockJSXHRPolling(QObject *parent)
    : QObject(parent)
    , cookieJar(new QNetworkCookieJar(this))
{
}

SockJSXHRPolling::~SockJSXHRPolling()
{
    shutDownWorker();
    delete currentRequest;
}

void SockJSXHRPolling::shutDownWorker()
{
    if (mailbox) {
        std::lock_guard<std::mutex> lock(mailbox->mutex);
        mailbox->target = nullptr;
    }
    closed = true;
    if (!worker)
        return;
    worker->stop();
    if (workerThread && !workerThread->wait(THREAD_WAIT_MS)) {
        // Never delete a running thread; leaving it is the lesser harm.
        qCWarning(lcSockJS) << "[SockJSXHRPolling] worker thread did not stop in time";
        return;
    }
    if (mailbox) {
        // Requests reported but never handled are ours to release. (Taking
        // the mailbox's lock also orders everything the worker did before
        // its last report ahead of the deletions below.)
        Mailbox::Item item;
        while (mailbox->take(&item)) {
            if ((item.kind == Mailbox::Item::Headers || item.kind == Mailbox::Item::Discarded)
                && item.request != currentRequest)
                delete item.request;
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
    closed = false;
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

    QTcpSocket *sock = useSsl ? new QSslSocket : new QTcpSocket;
    sock->setProxy(proxyForServer(host, port, useSsl, requestPath));
    auto *w = new SockJSXHRPollingWorker(nullptr, sock, host, port, useSsl, keepAlive);
    if (!w->connectToHost()) {
        qCDebug(lcSockJS) << "[SockJSXHRPolling]" << sock->errorString();
        delete w;
        delete sock;
        closed = true;
        return false;
    }
    worker = w;
    socket = sock;
    workerThread = new QThread;
    worker->moveToThread(workerThread);
    socket->moveToThread(workerThread);

    mailbox = std::make_shared<Mailbox>();
    mailbox->target = this;
    auto *pipe = new WakePipe(this);
    connect(pipe, &WakePipe::woken, this, &SockJSXHRPolling::drainMailbox);
    mailbox->wakeTarget = pipe;
    const std::shared_ptr<Mailbox> mb = mailbox;
    using Item = Mailbox::Item;
    // Direct connections: these run on the worker thread and only post.
    connect(worker, &SockJSXHRPollingWorker::receivedHeadersResponse, worker,
            [mb](XHRRequest *r, QStringMap h) { mb->post({Item::Headers, r, std::move(h), {}}); },
            Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::receivedMessageResponse, worker,
            [mb](XHRRequest *r, QString m) { mb->post({Item::Message, r, {}, std::move(m)}); },
            Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::receivedResponseEnd, worker,
            [mb](XHRRequest *r) { mb->post({Item::End, r, {}, {}}); }, Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::requestDiscarded, worker,
            [mb](XHRRequest *r) { mb->post({Item::Discarded, r, {}, {}}); }, Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::reconnected, worker,
            [mb] { mb->post({Item::Reconnected, nullptr, {}, {}}); }, Qt::DirectConnection);
    connect(worker, &SockJSXHRPollingWorker::finished, worker,
            [mb] { mb->post({Item::Finished, nullptr, {}, {}}); }, Qt::DirectConnection);
    connect(workerThread, &QThread::started, worker, &SockJSXHRPollingWorker::process);

    worker->setMaxFrameSize(maxFrameSize);
    workerThread->start(QThread::InheritPriority);
    pollQueuedAhead = false;
    poll();
    return true;
}

void SockJSXHRPolling::drainMailbox()
{
    const std::shared_ptr<Mailbox> mb = mailbox;
    QPointer<SockJSXHRPolling> self(this);
    QElapsedTimer slice;
    slice.start();
    Mailbox::Item item;
    while (self && mb->take(&item)) {
        if (slice.elapsed() >= DELIVERY_SLICE_MS) {
            // A burst is handled a slice at a time so the event loop runs in
            // between; the item taken goes back to the front, the mailbox
            // stays marked as scheduled, and this drain carries on next turn.
            {
                std::lock_guard<std::mutex> lock(mb->mutex);
                mb->items.push_front(std::move(item));
            }
            QMetaObject::invokeMethod(this, &SockJSXHRPolling::drainMailbox, Qt::QueuedConnection);
            return;
        }
        switch (item.kind) {
        case Mailbox::Item::Headers:
            onReceivedHeadersResponse(item.request, item.headers);
            break;
        case Mailbox::Item::Message:
            onReceivedMessageResponse(item.request, item.text);
            break;
        case Mailbox::Item::End:
            onResponseEnd(item.request);
            break;
        case Mailbox::Item::Reconnected:
            onReconnected();
            break;
        case Mailbox::Item::Finished:
            onWorkerFinished();
            break;
        case Mailbox::Item::Discarded:
            if (item.request != currentRequest)
                delete item.request;
            break;
        }
    }
}

void SockJSXHRPolling::poll()
{
    request(requestPath + (streaming ? QStringLiteral("/xhr_streaming") : QStringLiteral("/xhr")), QString());
}

void SockJSXHRPolling::request(QString path, QString body)
{
    if (closed || !worker) {
        qCDebug(lcSockJS) << "[SockJSXHRPolling] Can't make request when in closed state!";
        return;
    }
    QString headers;
    headers += QStringLiteral("Host: ") + host + QStringLiteral("\r\n");
    headers += keepAlive ? QStringLiteral("Connection: keep-alive\r\n") : QStringLiteral("Connection: close\r\n");
    headers += QStringLiteral("Accept-Encoding: identity\r\n");
    headers += QStringLiteral("Content-Type: application/json\r\n");
    headers += QStringLiteral("Content-Length: ") + QString::number(body.toUtf8().size()) + QStringLiteral("\r\n");
    if (!cookieJar->cookiesForUrl(QUrl(baseUrl)).isEmpty())
        headers += QStringLiteral("Cookie: ") + cookieHeaderValue() + QStringLiteral("\r\n");

    auto *r = new XHRRequest(nullptr, path, REQUEST_TEMPLATE.arg(path, headers, body));
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

void SockJSXHRPolling::postNextSend()
{
    if (!sendRequest.isEmpty() || pendingSends.isEmpty() || baseUrl.isEmpty())
        return;
    // One post at a time keeps the order; what queued meanwhile goes in one
    // array (the server reads every element of a posted array in order).
    QString body = pendingSends.takeFirst();
    if (body.startsWith(OUTGOING_OPEN) && body.endsWith(OUTGOING_CLOSE)) {
        while (!pendingSends.isEmpty()) {
            const QString &next = pendingSends.first();
            if (!next.startsWith(OUTGOING_OPEN) || !next.endsWith(OUTGOING_CLOSE)
                || body.size() + next.size() > MAX_MERGED_POST)
                break;
            body.chop(OUTGOING_CLOSE.size());
            body += QStringLiteral(",\n") + QStringView(next).mid(OUTGOING_OPEN.size());
            pendingSends.removeFirst();
        }
    }
    const QByteArray bodyBytes = body.toUtf8();
    QString headers;
    headers += QStringLiteral("Host: ") + host + QStringLiteral("\r\n");
    headers += keepAlive ? QStringLiteral("Connection: keep-alive\r\n") : QStringLiteral("Connection: close\r\n");
    headers += QStringLiteral("Accept-Encoding: identity\r\n");
    headers += QStringLiteral("Content-Type: application/json; charset=UTF-8\r\n");
    headers += QStringLiteral("Content-Length: ") + QString::number(bodyBytes.size()) + QStringLiteral("\r\n");
    if (!cookieJar->cookiesForUrl(QUrl(baseUrl)).isEmpty())
        headers += QStringLiteral("Cookie: ") + cookieHeaderValue() + QStringLiteral("\r\n");
    sendRequest = (QStringLiteral("POST ") + requestPath + QStringLiteral("/xhr_send HTTP/1.1\r\n") + headers
                   + QStringLiteral("\r\n")).toUtf8()
        + bodyBytes;
    writeSend();
}

void SockJSXHRPolling::setSendTimeout(int ms)
{
    sendTimeoutMs = qMax(1, ms);
}

void SockJSXHRPolling::writeSend()
{
    sendAnswered = false;
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
        sendSocket->disconnect(this);
        sendSocket->abort();
        sendSocket->deleteLater();
        sendSocket = nullptr;
    }
    if (sendSocket && sendSocket->state() == QAbstractSocket::ConnectedState
        && (!useSsl || static_cast<QSslSocket *>(sendSocket)->isEncrypted())) {
        sendSocket->write(sendRequest);   // a single write per request
        sendSocket->flush();              // now, not at the next loop pass
        return;
    }
    if (!sendSocket) {
        sendSocket = useSsl ? new QSslSocket(this) : new QTcpSocket(this);
        sendSocket->setProxy(proxyForServer(host, port, useSsl, requestPath));
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
    sendAnswered = true;
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
    // Never written again: once written, the server may have read the post
    // even though no answer came (a reset on the way, a server that died
    // after reading), and a frame must not arrive twice.
    qCDebug(lcSockJS) << "[SockJSXHRPolling] xhr_send error: " << sendSocket->errorString();
    // The next post gets a fresh connection; this one reports nothing more
    // (an error and a disconnection can both arrive for one end).
    sendSocket->disconnect(this);
    sendSocket->deleteLater();
    sendSocket = nullptr;
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
    sendRequest.clear();
    pendingSends.clear();
    if (sendSocket) {
        sendSocket->disconnect(this);
        sendSocket->abort();
        sendSocket->deleteLater();
        sendSocket = nullptr;
    }
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
    // Texts handed to send() before close() (the session's goodbye) are still
    // posted: the receive side ends once they are out, or after a bound.
    if (!sendRequest.isEmpty() || !pendingSends.isEmpty()) {
        stopWhenSent = true;
        QTimer::singleShot(SEND_DRAIN_MS, this, &SockJSXHRPolling::stopWorker);
        return;
    }
    stopWorker();
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
    if (closed)
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
        close();
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

void SockJSXHRPolling::onWorkerFinished()
{
    closed = true;
    workerFinished = true;
    emit connectionClosed();
}
