#include "sockjsconnector.h"

#include "logging_p.h"
#include "networksettings_p.h"
#include "randomstring.h"
#include "sockjsframe_p.h"
#include "sockjsxhrpolling.h"
#include "systemproxy.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>

namespace {

const QString SERVER_SEGMENT = QStringLiteral("/eventbus/119/");
constexpr int INACTIVITY_CHECK_MS = 30 * 60 * 1000;
constexpr qint64 INACTIVITY_LIMIT_S = 3600;
// A WebSocket close handshake the peer does not answer is cut short.
constexpr int WEBSOCKET_CLOSE_TIMEOUT_MS = 2000;

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
const auto webSocketError = &QWebSocket::errorOccurred;
#else
const auto webSocketError = QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error);
#endif

} // namespace

// What the owner hears of a session, in the order it happened.
struct SockJSConnector::Incoming
{
    enum Kind { Opened, Message, Ended };
    Kind kind = Message;
    QString text;   // Message: the message; Ended: why
    Veltro::Error error = Veltro::Error::None;   // Ended
    bool forInactivity = false;                  // Ended
};

SockJSConnector::SockJSConnector(QObject *parent)
    : QObject(parent)
    , backlog(std::make_shared<Veltro::BacklogBudget>())
{
    pacer = new Veltro::DeliveryPacer<Incoming>(this, [this](Incoming &&item) { deliver(std::move(item)); }, backlog);
}

SockJSConnector::~SockJSConnector()
{
    // Nobody listens any more: the owner may be half destroyed.
    blockSignals(true);
    if (m_connected)
        close();
    destroyWebSocket();
}

QDateTime SockJSConnector::now() const
{
    return clock ? clock() : QDateTime::currentDateTimeUtc();
}

void SockJSConnector::setClock(std::function<QDateTime()> c)
{
    clock = std::move(c);
}

bool SockJSConnector::isConnected() const
{
    return m_connected;
}

int SockJSConnector::transport() const
{
    if (webSocket)
        return WEBSOCKET;
    return xhrTransport ? m_transport : 0;
}

void SockJSConnector::open(QUrl url, QList<SockJSProtocol> protocolList)
{
    if (attempting || ((webSocket || xhrTransport) && !closing)) {
        // Replacing a working transport behind the owner's back would leave
        // it believing in a link that is gone; it closes first.
        qCDebug(lcSockJS) << "[SockJSConnector] Already open: close() it before opening again";
        return;
    }
    if (webSocket || xhrTransport) {
        // A close() whose end has not arrived yet: the transport is let go of
        // now, and its end reported ahead of the new session.
        releaseTransport();
        endSession(Veltro::Error::None);
    }
    m_connected = false;
    lastActivity = now();
    bClosedForInactivity = false;
    if (!inactivityTimer) {
        inactivityTimer = new QTimer(this);
        connect(inactivityTimer, &QTimer::timeout, this, &SockJSConnector::onTimeout);
        inactivityTimer->start(INACTIVITY_CHECK_MS);
    }
    closing = false;
    useSsl = false;

    port = url.port(-1);
    basePath = url.path(QUrl::FullyDecoded);
    if (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("wss") || scheme == QLatin1String("https")) {
        useSsl = true;
        if (port == -1)
            port = 443;
    }
    if (port == -1)
        port = 80;
    host = url.host(QUrl::FullyDecoded);

    protocolIndex = 0;
    protocols = protocolList;
    sessionId = randomString(8);
    openFailure = {};

    // The attempts run from the event loop: the caller holds the connector
    // (and has connected to it) before anything is reported.
    attempting = true;
    QMetaObject::invokeMethod(this, &SockJSConnector::tryNextProtocol, Qt::QueuedConnection);
}

void SockJSConnector::tryNextProtocol()
{
    if (!attempting)
        return;   // closed meanwhile
    if (protocolIndex >= protocols.size()) {
        finishAttempts();
        return;
    }
    const int value = int(protocols.at(protocolIndex));
    ++protocolIndex;
    webSocketReason = {};
    webSocketTlsText.clear();
    if (!attemptTimer) {
        attemptTimer = new QTimer(this);
        attemptTimer->setSingleShot(true);
        connect(attemptTimer, &QTimer::timeout, this,
                [this] { attemptFailed(Veltro::FailureReason::of(Veltro::Error::Timeout)); });
    }
    attemptTimer->start(ATTEMPT_TIMEOUT_MS);
    switch (value) {
    case WEBSOCKET:
        openWebSocket();
        break;
    case XHR_STREAMING:
        openXhr(true);
        break;
    case XHR_POLLING:
        openXhr(false);
        break;
    default: {
        qCDebug(lcSockJS) << "[SockJSConnector] No more protocols found!";
        attemptFailed(Veltro::FailureReason::of(Veltro::Error::Network, QStringLiteral("no such transport: %1").arg(value)));
        break;
    }
    }
}

void SockJSConnector::attemptFailed(const Veltro::FailureReason &reason)
{
    if (!attempting)
        return;
    attemptTimer->stop();
    if (!openFailure.isSet())
        openFailure = reason;
    else
        openFailure.preferMoreTelling(reason);
    destroyWebSocket();
    dropXhrTransport();
    // The next one from the event loop: a transport may fail inside its own
    // start (a refused loopback connection), and each gets a fresh turn.
    QMetaObject::invokeMethod(this, &SockJSConnector::tryNextProtocol, Qt::QueuedConnection);
}

void SockJSConnector::finishAttempts()
{
    attempting = false;
    if (!openFailure.isSet())
        openFailure.set(Veltro::Error::Network, QStringLiteral("no transport to try"));
    m_error = openFailure.error;
    m_errorString = openFailure.text;
    qCDebug(lcSockJS).noquote() << "[SockJSConnector] No transport came up:" << m_errorString;
    emit openFailed();
}

void SockJSConnector::dropXhrTransport()
{
    if (!xhrTransport)
        return;
    xhrTransport->disconnect(this);
    xhrTransport->close();
    xhrTransport->deleteLater();
    xhrTransport = nullptr;
}

void SockJSConnector::linkDown()
{
    m_connected = false;
    transportIsUp = false;
    if (deadLinkTimer)
        deadLinkTimer->stop();
}

void SockJSConnector::releaseTransport()
{
    destroyWebSocket();
    dropXhrTransport();
    linkDown();
}

void SockJSConnector::setNetworkHub(Veltro::NetworkHub *h)
{
    hub = h;
}

Veltro::Error SockJSConnector::error() const
{
    return m_error;
}

QString SockJSConnector::errorString() const
{
    return m_errorString;
}

void SockJSConnector::closeNow(const QString &frame)
{
    const QSignalBlocker quiet(this);
    attempting = false;
    if (attemptTimer)
        attemptTimer->stop();
    pacer->takeAll();
    const QString text = Veltro::SockJSFrame::encode(frame);
    const bool hand = m_connected && !closing;
    if (QWebSocket *ws = webSocket) {
        webSocket = nullptr;
        ws->disconnect(this);
        // Nothing reaches anyone while it is written: ours were the only
        // connections, and no event loop runs.
        auto *socket = ws->findChild<QAbstractSocket *>(QString(), Qt::FindDirectChildrenOnly);
        if (hand && socket && ws->state() == QAbstractSocket::ConnectedState) {
            ws->sendTextMessage(text);
            ws->flush();
            QDeadlineTimer deadline(CLOSE_NOW_WAIT_MS);
            while (socket->bytesToWrite() > 0 && !deadline.hasExpired()) {
                if (!socket->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
                    break;
            }
            // Unread bytes would turn the close into a reset, which can cost
            // the peer what it has not read yet.
            socket->readAll();
        }
        ws->abort();
        ws->deleteLater();
    }
    if (SockJSXHRPolling *xhr = xhrTransport) {
        xhrTransport = nullptr;
        xhr->disconnect(this);
        if (hand)
            xhr->sendNowAndStop(text, CLOSE_NOW_WAIT_MS);
        else
            xhr->close();
        xhr->deleteLater();
    }
    closing = true;
    linkDown();
}

void SockJSConnector::setMaxBacklog(qint64 bytes)
{
    backlog->setMax(qMax<qint64>(1, bytes));
}

void SockJSConnector::setDeadLinkLimit(int ms)
{
    deadLinkLimitMs = qMax(0, ms);
    if (transportIsUp)
        armDeadLinkCheck();
}

void SockJSConnector::setMaxFrameSize(qint64 bytes)
{
    maxFrameSize = qMax<qint64>(1024, bytes);
}

void SockJSConnector::setSendTimeout(int ms)
{
    sendTimeoutMs = qMax(1, ms);
}

void SockJSConnector::armDeadLinkCheck()
{
    if (deadLinkLimitMs <= 0) {
        if (deadLinkTimer)
            deadLinkTimer->stop();
        return;
    }
    if (!deadLinkTimer) {
        deadLinkTimer = new QTimer(this);
        connect(deadLinkTimer, &QTimer::timeout, this, &SockJSConnector::checkDeadLink);
    }
    // A few checks per limit: the end is noticed at most a quarter late.
    deadLinkTimer->start(qBound(20, deadLinkLimitMs / 4, 5000));
}

void SockJSConnector::transportUp()
{
    attempting = false;
    transportIsUp = true;
    if (attemptTimer)
        attemptTimer->stop();
    lastFrame.start();
    armDeadLinkCheck();
}

void SockJSConnector::checkDeadLink()
{
    if (closing || !transportIsUp) {
        deadLinkTimer->stop();
        return;
    }
    const qint64 silent = lastFrame.elapsed();
    if (deadLinkLimitMs <= 0 || silent < deadLinkLimitMs)
        return;
    // A half-open connection says nothing: no close, no error. Tear it down
    // without a goodbye (nothing would carry it) and report the drop.
    qCWarning(lcSockJS) << "[SockJSConnector] No frame for" << silent << "ms: the link is dead";
    releaseTransport();
    endSession(Veltro::Error::DeadLink);
}

QString SockJSConnector::webSocketUrl() const
{
    return (useSsl ? QStringLiteral("wss://") : QStringLiteral("ws://")) + host + QLatin1Char(':')
        + QString::number(port) + basePath + SERVER_SEGMENT + sessionId + QStringLiteral("/websocket");
}

void SockJSConnector::openWebSocket()
{
    const Veltro::TransportNetwork network = Veltro::TransportNetwork::forServer(hub, host, port, useSsl, basePath);
    // Published for other code of the process, unless the host chose a proxy
    // of its own. With its scheme: a bare "host:port" reads back as a URL
    // whose scheme is the host, which breaks every later proxy lookup.
    const bool ownProxy = applicationProxySet() || (hub && hub->settings().proxySet);
    const QNetworkProxy proxy = systemProxy();
    if (!ownProxy && !systemProxyString().isEmpty()) {
        const QString host = proxy.hostName().contains(QLatin1Char(':'))
            ? QLatin1Char('[') + proxy.hostName() + QLatin1Char(']') : proxy.hostName();
        qputenv("http_proxy", ("http://" + host + QLatin1Char(':') + QString::number(proxy.port())).toLatin1());
    }

    const QString url = webSocketUrl();
    qCDebug(lcSockJS) << "[SockJSConnector] Websocket url =" << url;

    openState = 0;
    webSocket = new QWebSocket(QString(), QWebSocketProtocol::Version13, nullptr);
    QWebSocket *const ws = webSocket;
    // Qt's own bounds are about 2 GB: a peer could make it buffer that much.
    ws->setMaxAllowedIncomingFrameSize(quint64(maxFrameSize));
    ws->setMaxAllowedIncomingMessageSize(quint64(maxFrameSize));
    ws->setProxy(network.proxy);
    if (useSsl) {
        ws->setSslConfiguration(network.ssl);
        // Exactly these: a handshake with any other error is refused.
        ws->ignoreSslErrors(network.acceptedSslErrors);
    }
    // Direct: the authenticator must be filled before the signal returns.
    connect(ws, &QWebSocket::proxyAuthenticationRequired, this,
            [network](const QNetworkProxy &p, QAuthenticator *a) { network.authenticate(p, a); },
            Qt::DirectConnection);
    connect(ws, &QWebSocket::sslErrors, this, [this, ws, network](const QList<QSslError> &errors) {
        auto *socket = ws->findChild<QSslSocket *>(QString(), Qt::FindDirectChildrenOnly);
        webSocketTlsText = network.judge(errors, socket ? socket->peerCertificateChain() : QList<QSslCertificate>());
    });
    connect(ws, webSocketError, this, [this, ws](QAbstractSocket::SocketError e) {
        if (webSocketReason.isSet())
            return;   // the first says why; what follows is its consequence
        const Veltro::Error kind = Veltro::errorFromSocket(e);
        webSocketReason.set(kind, kind == Veltro::Error::Tls && !webSocketTlsText.isEmpty() ? webSocketTlsText
                                                                                           : ws->errorString());
    });
    connect(ws, &QWebSocket::connected, this, &SockJSConnector::openstate1);
    connect(ws, &QWebSocket::disconnected, this, &SockJSConnector::openstate2);
    // Connected before opening: the open frame can come with the handshake.
    connect(ws, &QWebSocket::textMessageReceived, this, &SockJSConnector::onTextMessageReceived);
    ws->open(QUrl(url));
}

void SockJSConnector::openXhr(bool streaming)
{
    if (xhrTransport) {
        xhrTransport->disconnect(this);
        xhrTransport->deleteLater();
    }
    xhrTransport = new SockJSXHRPolling(this);
    SockJSXHRPolling *const xhr = xhrTransport;
    xhr->setMaxFrameSize(maxFrameSize);
    xhr->setSendTimeout(sendTimeoutMs);
    xhr->setNetworkHub(hub);
    xhr->setBacklog(backlog);
    m_transport = streaming ? XHR_STREAMING : XHR_POLLING;
    connect(xhr, &SockJSXHRPolling::opened, this, &SockJSConnector::onXhrOpened);
    connect(xhr, &SockJSXHRPolling::textMessageReceived, this, &SockJSConnector::onTextMessageReceived);
    connect(xhr, &SockJSXHRPolling::connectionClosed, this, &SockJSConnector::onClosed);
    xhr->open(host, port, useSsl, basePath + SERVER_SEGMENT + sessionId, streaming);
}

void SockJSConnector::onXhrOpened()
{
    if (sender() != xhrTransport || transportIsUp)
        return;
    if (attempting)
        qCDebug(lcSockJS).noquote() << "[SockJSConnector] CONNECTED via xhr_"
                                       + (m_transport == XHR_STREAMING ? QStringLiteral("streaming")
                                                                       : QStringLiteral("polling"));
    else
        qCDebug(lcSockJS) << "[SockJSConnector] Fallback to XHR_Polling";
    transportUp();
}

void SockJSConnector::onTextMessageReceived(QString message)
{
    // Frames of a transport that is no longer ours are stale.
    QObject *from = sender();
    if (from && from != webSocket && from != xhrTransport)
        return;
    // After the owner's close() nothing more is news, even if the transport
    // had already read it.
    if (closing)
        return;
    lastFrame.restart();
    Veltro::SockJSFrame frame = Veltro::SockJSFrame::read(message);
    switch (frame.type) {
    case Veltro::SockJSFrame::Open:
        if (!m_connected) {
            m_connected = true;
            pacer->add({Incoming::Opened, {}, Veltro::Error::None, false});
            pacer->drainNow();
        } else {
            // An XHR receive side that reconnected after the server had ended
            // the session gets a new session under the same id, without the
            // old one's registrations: the session we had is over.
            qCWarning(lcSockJS) << "[SockJSConnector] The server opened a new session: the old one is gone";
            releaseTransport();
            endSession(Veltro::Error::ClosedByServer, QStringLiteral("the server lost the session"));
        }
        break;
    case Veltro::SockJSFrame::Messages:
        for (QString &m : frame.messages) {
            const qint64 bytes = qint64(m.size()) * qint64(sizeof(QChar));
            if (!pacer->add({Incoming::Message, std::move(m), Veltro::Error::None, false}, bytes)) {
                // The host does not keep up: end the transport rather than
                // the process's memory; what came before is still delivered.
                qCWarning(lcSockJS) << "[SockJSConnector] Received messages not taken in time: dropping the transport";
                releaseTransport();
                endSession(Veltro::Error::BacklogFull);
                return;
            }
        }
        // Now rather than at the next turn (a drain already under way, or
        // what still waits ahead of these, keeps the order).
        pacer->drainNow();
        break;
    case Veltro::SockJSFrame::Close:
        // The server ended the session: end the transport as well, and report
        // it as a closure (after what came before it) rather than trying the
        // next transport. Nothing read behind it counts.
        qCDebug(lcSockJS) << "[SockJSConnector] Session closed by the server:" << frame.closeCode
                          << frame.closeReason;
        releaseTransport();
        endSession(Veltro::Error::ClosedByServer,
                   QStringLiteral("closed by the server (%1 %2)").arg(frame.closeCode).arg(frame.closeReason));
        break;
    default:
        break;
    }
}

void SockJSConnector::endSession(Veltro::Error error, const QString &text)
{
    linkDown();
    if (bClosedForInactivity)
        error = Veltro::Error::Inactivity;
    pacer->push({Incoming::Ended, text.isEmpty() ? Veltro::errorDescription(error) : text, error,
                 bClosedForInactivity});
}

void SockJSConnector::deliver(Incoming &&item)
{
    switch (item.kind) {
    case Incoming::Opened:
        emit connected();
        break;
    case Incoming::Message:
        emit sockJSMessage(item.text);
        break;
    case Incoming::Ended:
        m_error = item.error;
        m_errorString = item.text;
        emit closed(item.forInactivity);
        break;
    }
}

void SockJSConnector::send(QString message, bool bIsPing)
{
    const QString text = Veltro::SockJSFrame::encode(message);
    if (!bIsPing)
        lastActivity = now();
    if (webSocket)
        webSocket->sendTextMessage(text);
    else if (xhrTransport)
        xhrTransport->send(text);
}

void SockJSConnector::destroyWebSocket()
{
    if (!webSocket)
        return;
    QWebSocket *ws = webSocket;
    webSocket = nullptr;
    ws->disconnect(this);
    ws->abort();
    ws->deleteLater();
}

void SockJSConnector::onClosed()
{
    transportClosed(sender());
}

Veltro::FailureReason SockJSConnector::webSocketEndReason() const
{
    if (webSocket && webSocket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        return Veltro::FailureReason::of(Veltro::Error::FrameTooLarge);
    return webSocketReason.isSet() ? webSocketReason : Veltro::FailureReason::of(Veltro::Error::ClosedByServer);
}

void SockJSConnector::transportClosed(QObject *from)
{
    if (from && from != webSocket && from != xhrTransport)
        return;   // a transport we already let go of
    if (from && from == xhrTransport && !transportIsUp && attempting) {
        // An XHR attempt that did not connect.
        attemptFailed(Veltro::FailureReason::of(xhrTransport->error(), xhrTransport->errorString()));
        return;
    }
    qCDebug(lcSockJS) << "[SockJSConnector] Websocket CLOSED";
    if (!m_connected && !closing && from && from == webSocket) {
        // Closed before the open frame and nobody asked: try XHR polling.
        destroyWebSocket();
        transportIsUp = false;
        openXhr(false);
        return;
    }
    Veltro::FailureReason reason;
    if (!closing && from == webSocket && webSocket)
        reason = webSocketEndReason();
    else if (!closing && from == xhrTransport && xhrTransport)
        reason = Veltro::FailureReason::of(xhrTransport->error(), xhrTransport->errorString());
    releaseTransport();
    endSession(reason.error, reason.text);
}

void SockJSConnector::onTimeout()
{
    if (!m_connected || lastActivity.secsTo(now()) <= INACTIVITY_LIMIT_S)
        return;
    bClosedForInactivity = true;
    if (inactivityTimer)
        inactivityTimer->stop();
    close();
}

void SockJSConnector::close()
{
    closing = true;
    m_connected = false;
    // Messages received but not yet delivered go with the session; an end
    // already on its way stays, as the owner's.
    for (Incoming &item : pacer->takeAll()) {
        if (item.kind == Incoming::Ended)
            pacer->push({Incoming::Ended, QString(), Veltro::Error::None, item.forInactivity});
    }
    if (attempting) {
        // Nothing up yet (perhaps not even tried): let go at once.
        attempting = false;
        if (attemptTimer)
            attemptTimer->stop();
        releaseTransport();
        endSession(Veltro::Error::None);
        return;
    }
    if (webSocket) {
        // A proper close handshake, cut short if the peer does not answer;
        // its end is reported through onClosed like any other closure.
        QWebSocket *ws = webSocket;
        disconnect(ws, &QWebSocket::disconnected, this, &SockJSConnector::openstate2);
        connect(ws, &QWebSocket::disconnected, this, &SockJSConnector::onClosed, Qt::UniqueConnection);
        ws->close();
        QTimer::singleShot(WEBSOCKET_CLOSE_TIMEOUT_MS, ws, [ws] { ws->abort(); });
    }
    if (xhrTransport)
        xhrTransport->close();
}

void SockJSConnector::onConnected()
{
    qCDebug(lcSockJS) << "[SockJSConnector] Websocket connected";
    m_connected = true;
    emit connected();
}

void SockJSConnector::openstate1()
{
    openState = 1;
    if (sender() != webSocket || transportIsUp)
        return;
    QWebSocket *ws = webSocket;
    qCDebug(lcSockJS) << "[SockJSConnector] CONNECTED via Websocket";
    m_transport = WEBSOCKET;
    disconnect(ws, &QWebSocket::disconnected, this, &SockJSConnector::openstate2);
    connect(ws, &QWebSocket::disconnected, this, &SockJSConnector::onClosed);
    transportUp();
    if (ws->state() == QAbstractSocket::UnconnectedState)
        transportClosed(ws);   // it already went away
}

void SockJSConnector::openstate2()
{
    // The attempt's WebSocket went away before it connected. Its error comes
    // after this (a socket reports its new state first): decided next turn.
    if (openState != 0 || sender() != webSocket)
        return;
    openState = 2;
    QWebSocket *ws = webSocket;
    QMetaObject::invokeMethod(this, [this, ws] {
        if (ws != webSocket || transportIsUp)
            return;
        Veltro::FailureReason r = webSocketReason;
        if (!r.isSet())
            r.set(Veltro::Error::Network, ws->errorString());
        attemptFailed(r);
    }, Qt::QueuedConnection);
}
