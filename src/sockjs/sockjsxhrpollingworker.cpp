#include "sockjsxhrpollingworker.h"

#include "logging_p.h"
#include "wakepipe_p.h"
#include "xhrrequest.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>
#include <utility>

namespace {
constexpr int MAX_LOGGED_BUFFER = 1024;

// Takes `m` within `ms` milliseconds. Critical sections on the queue last
// microseconds, so the first attempt nearly always succeeds; the retry loop
// only bounds a pathological wait. (Plain try_lock, because the timed lock
// of the C++ library is invisible to thread checkers on some systems.)
bool lockWithin(std::unique_lock<std::mutex> &lock, int ms)
{
    if (lock.try_lock())
        return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        if (lock.try_lock())
            return true;
    }
    return false;
}
}

SockJSXHRPollingWorker::SockJSXHRPollingWorker(QObject *parent, QTcpSocket *socket, QString host,
                                               int port, bool useSsl, bool keepAlive)
    : QObject(parent)
    , host(std::move(host))
    , port(port)
    , useSsl(useSsl)
    , keepAlive(keepAlive)
    , socket(socket)
{
    qRegisterMetaType<QStringMap>("QStringMap");
    qRegisterMetaType<XHRRequest *>("XHRRequest*");
}

SockJSXHRPollingWorker::~SockJSXHRPollingWorker()
{
    // Requests never handed to the transport die with the worker.
    std::lock_guard<std::mutex> lock(queueMutex);
    for (XHRRequest *r : qAsConst(txQueue))
        delete r;
    for (XHRRequest *r : qAsConst(inFlight))
        delete r;
}

void SockJSXHRPollingWorker::setNetwork(const Veltro::TransportNetwork &n)
{
    network = n;
    network.hub = nullptr;   // lives on another thread: never asked from here
}

void SockJSXHRPollingWorker::startConnect()
{
    tlsText.clear();
    network.prepare(socket);
    if (useSsl) {
        if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
            ssl->connectToHostEncrypted(host, quint16(port));
            return;
        }
    }
    socket->connectToHost(host, quint16(port));
}

void SockJSXHRPollingWorker::giveUp(const Veltro::FailureReason &reason)
{
    if (ended.load())
        return;
    m_endReason = reason;
    endLoop();
}

bool SockJSXHRPollingWorker::enqueue(XHRRequest *request)
{
    if (closing.load()) {
        qCDebug(lcSockJS) << "[SockJSXHRPollingWorker] Async socket tx queue error: Socket closing!";
        return false;
    }
    std::unique_lock<std::mutex> lock(queueMutex, std::defer_lock);
    if (!lockWithin(lock, LOCK_TIMEOUT_MS)) {
        qCDebug(lcSockJS) << "[SockJSXHRPollingWorker] Async socket tx queue error: Failed to establish mutex lock!";
        return false;
    }
    if (txQueue.size() > MAX_QUEUE) {
        qCDebug(lcSockJS) << "[SockJSXHRPollingWorker] Async socket tx queue error: Too many items in queue!";
        return false;
    }
    txQueue.append(request);
    lock.unlock();
    wake();
    return true;
}

void SockJSXHRPollingWorker::stop()
{
    closing.store(true);
    wake();
}

void SockJSXHRPollingWorker::wake()
{
    // One pending wake-up is enough: it drains the whole queue.
    if (wakePending.exchange(true))
        return;
    std::lock_guard<std::mutex> lock(wakeMutex);
    if (wakePipe)
        wakePipe->wake();
}

void SockJSXHRPollingWorker::onWake()
{
    wakePending.store(false);
    if (ended.load())
        return;
    if (closing.load())
        endLoop();
    else
        sendNext();
}

void SockJSXHRPollingWorker::sendNext()
{
    // One request at a time on the connection: the next is written when the
    // previous response has ended.
    while (!ended.load() && !reconnecting && socket->state() == QAbstractSocket::ConnectedState
           && inFlight.isEmpty() && !parser.inResponse()) {
        std::unique_lock<std::mutex> lock(queueMutex, std::defer_lock);
        if (!lockWithin(lock, LOCK_TIMEOUT_MS))
            return;
        if (txQueue.isEmpty())
            return;
        XHRRequest *request = txQueue.takeFirst();
        lock.unlock();
        if (request->getRequestText().isNull()) {
            emit requestDiscarded(request);
            continue;
        }
        // A single write per request, pushed out at once.
        socket->write(request->getRequestText().toUtf8());
        socket->flush();
        inFlight.append(request);
        return;
    }
}

void SockJSXHRPollingWorker::process()
{
    QThread *const ownerThread = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
    QEventLoop eventLoop;
    loop = &eventLoop;
    tick = new QTimer(this);
    tick->setInterval(TICK_MS);
    connect(tick, &QTimer::timeout, this, &SockJSXHRPollingWorker::onTick);
    connectTimer = new QTimer(this);
    connectTimer->setSingleShot(true);
    connect(connectTimer, &QTimer::timeout, this, [this] {
        attemptTimedOut = true;
        socket->abort();
        onReconnectDone(false);
    });
    connect(socket, &QIODevice::readyRead, this, &SockJSXHRPollingWorker::onReadyRead);
    connect(socket, &QAbstractSocket::disconnected, this, [this] {
        if (reconnecting)
            onReconnectDone(false);
        else
            onConnectionLost();
    });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this] {
        if (reconnecting && socket->state() == QAbstractSocket::UnconnectedState)
            onReconnectDone(false);
    });
    // Nobody to ask on this thread: without credentials known by now the
    // proxy's 407 ends the attempt with ProxyAuthenticationRequiredError.
    if (auto *ssl = useSsl ? qobject_cast<QSslSocket *>(socket) : nullptr) {
        connect(ssl, &QSslSocket::encrypted, this, [this] { onReconnectDone(true); });
        connect(ssl, qOverload<const QList<QSslError> &>(&QSslSocket::sslErrors), this,
                [this, ssl](const QList<QSslError> &errors) {
                    tlsText = network.judge(errors, {});
                    if (!tlsText.isEmpty()) {
                        m_refusedErrors = Veltro::refusedSslErrors(errors, network.acceptedSslErrors);
                        m_refusedChain = ssl->peerCertificateChain();
                    }
                });
    } else {
        connect(socket, &QAbstractSocket::connected, this, [this] { onReconnectDone(true); });
    }

    {
        // Wake-ups asked for before the loop ran are served by its first pass.
        std::lock_guard<std::mutex> lock(wakeMutex);
        wakePipe = new WakePipe(this);
        connect(wakePipe, &WakePipe::woken, this, &SockJSXHRPollingWorker::onWake);
    }
    wakePending.store(false);

    tick->start();
    lastDataTime = QDateTime::currentDateTimeUtc();
    if (closing.load()) {
        // Stopped before the thread got here: end at once, the same way.
        endLoop();
    } else if (socket->state() != QAbstractSocket::ConnectedState) {
        onConnectionLost();
    } else {
        if (socket->bytesAvailable() > 0)
            onReadyRead();
        sendNext();
    }
    if (!ended.load())
        eventLoop.exec();
    loop = nullptr;

    delete tick;
    tick = nullptr;
    delete connectTimer;
    connectTimer = nullptr;
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        delete wakePipe;
        wakePipe = nullptr;
    }
    socket->disconnect(this);
    socket->abort();
    QList<XHRRequest *> unsent;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        unsent.swap(txQueue);
    }
    discardRequests();
    for (XHRRequest *r : qAsConst(unsent))
        emit requestDiscarded(r);
    // The socket and the worker stay with this thread: the transport
    // releases them once it has finished. (Handing them back from here would
    // move their pending events into the owner's queue from this thread.)
    emit finished();
    if (QThread *t = QThread::currentThread(); t != ownerThread)
        t->quit();
}

void SockJSXHRPollingWorker::endLoop()
{
    closing.store(true);
    ended.store(true);
    if (loop)
        loop->quit();
}

void SockJSXHRPollingWorker::onReadyRead()
{
    if (reconnecting || ended.load())
        return;
    const QByteArray data = socket->readAll();
    if (data.isEmpty())
        return;
    lastDataTime = QDateTime::currentDateTimeUtc();
    QVector<Veltro::HttpResponseParser::Event> events;
    const bool ok = parser.feed(data, &events);
    for (auto &ev : events) {
        if (ended.load())
            return;   // given up while reporting (the receiver's backlog is full)
        switch (ev.kind) {
        case Veltro::HttpResponseParser::Event::Headers:
            current = inFlight.isEmpty() ? nullptr : inFlight.takeFirst();
            if (!current)
                break;   // nobody asked for this response
            current->statusCode.store(ev.status);
            current->chunked.store(ev.chunked);
            current->contentLength.store(qMax<qint64>(ev.contentLength, 0));
            if (ev.chunked)
                qCDebug(lcSockJS) << "[SockJSXHRPollingWorker] Detected transfer-encoding: chunked header";
            emit receivedHeadersResponse(current, ev.headers);
            break;
        case Veltro::HttpResponseParser::Event::Frame:
            if (current)
                emit receivedMessageResponse(current, QString::fromUtf8(ev.data));
            break;
        case Veltro::HttpResponseParser::Event::End:
            if (current)
                emit receivedResponseEnd(current);
            current = nullptr;
            break;
        }
    }
    if (!ok) {
        dropConnection(QStringLiteral("[SockJSXHRPollingWorker] Protocol error, dropping connection: ")
                       + parser.errorString());
        return;
    }
    sendNext();
}

void SockJSXHRPollingWorker::onTick()
{
    if (ended.load())
        return;
    if (closing.load()) {
        endLoop();
        return;
    }
    if (reconnecting)
        return;
    if (parser.hasPartialData() && lastDataTime.msecsTo(QDateTime::currentDateTimeUtc()) > DATA_TIMEOUT_MS) {
        qCDebug(lcSockJS) << "[SockJSXHRPollingWorker] Incoming data timeout, clearing buffer";
        qCDebug(lcSockJS).noquote() << "[SockJSXHRPollingWorker.BufferData] ="
                                    << frameForLog(QString::fromUtf8(parser.pendingBytes().left(MAX_LOGGED_BUFFER)));
        // The stream cannot be resynchronised after bytes are thrown away.
        dropConnection(QString());
        return;
    }
    sendNext();
}

void SockJSXHRPollingWorker::dropConnection(const QString &why)
{
    if (!why.isEmpty())
        qCDebug(lcSockJS).noquote() << why;
    parser.reset();
    // abort() reports the disconnection, which starts the reconnection.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    if (!reconnecting)
        onConnectionLost();
}

void SockJSXHRPollingWorker::discardRequests()
{
    // Requests written on the lost connection will never be answered.
    const QList<XHRRequest *> lost = std::exchange(inFlight, {});
    current = nullptr;
    for (XHRRequest *r : lost)
        emit requestDiscarded(r);
}

void SockJSXHRPollingWorker::onConnectionLost()
{
    if (reconnecting || ended.load())
        return;
    // A body delimited by the connection's end is complete now.
    QVector<Veltro::HttpResponseParser::Event> events;
    if (parser.inResponse() && current) {
        parser.finish(&events);
        for (auto &ev : events) {
            if (ended.load())
                return;
            if (ev.kind == Veltro::HttpResponseParser::Event::Frame)
                emit receivedMessageResponse(current, QString::fromUtf8(ev.data));
            else if (ev.kind == Veltro::HttpResponseParser::Event::End)
                emit receivedResponseEnd(current);
        }
    }
    parser.reset();
    discardRequests();
    if (closing.load()) {
        endLoop();
        return;
    }
    if (keepAlive)
        qCDebug(lcSockJS) << "[SockJSXHRPollingWorker] Connection lost, attempting to re-establish...";
    reconnecting = true;
    QMetaObject::invokeMethod(this, &SockJSXHRPollingWorker::startReconnect, Qt::QueuedConnection);
}

void SockJSXHRPollingWorker::startReconnect()
{
    if (ended.load())
        return;
    if (closing.load()) {
        endLoop();
        return;
    }
    attemptActive = true;
    attemptTimedOut = false;
    connectTimer->start(CONNECT_TIMEOUT_MS);
    startConnect();
}

void SockJSXHRPollingWorker::onReconnectDone(bool ok)
{
    if (!attemptActive || ended.load())
        return;
    attemptActive = false;
    connectTimer->stop();
    if (ok) {
        reconnecting = false;
        connectAttempts = 0;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        parser.reset();
        lastDataTime = QDateTime::currentDateTimeUtc();
        emit reconnected();
        if (closing.load())
            endLoop();
        else
            sendNext();
        return;
    }
    Veltro::FailureReason reason = Veltro::reasonFromSocket(socket, tlsText);
    if (attemptTimedOut)
        reason.set(Veltro::Error::Timeout, QString());
    if (reason.error == Veltro::Error::Tls || reason.error == Veltro::Error::ProxyAuthenticationRequired) {
        // Trying again would be refused the same way: only the host can
        // change that, and it is asked on its own thread at the next open.
        qCDebug(lcSockJS).noquote() << "[SockJSXHRPollingWorker] Reconnection refused:" << reason.text;
        giveUp(reason);
        return;
    }
    ++connectAttempts;
    if (connectAttempts > MAX_CONNECT_ATTEMPTS) {
        qCDebug(lcSockJS) << "[SockJSXHRPollingWorker] Connection attempts exceeded retry limit!";
        giveUp(reason);
        return;
    }
    QMetaObject::invokeMethod(this, &SockJSXHRPollingWorker::startReconnect, Qt::QueuedConnection);
}
