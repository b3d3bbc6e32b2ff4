#include "sockjsconnector.h"

#include "logging_p.h"
#include "randomstring.h"
#include "sockjsframe_p.h"
#include "networksettings_p.h"
#include "sockjsxhrpolling.h"
#include "systemproxy.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>

namespace {

const QString SERVER_SEGMENT = QStringLiteral("/eventbus/119/");
constexpr int INACTIVITY_CHECK_MS = 30 * 60 * 1000;
constexpr qint64 INACTIVITY_LIMIT_S = 3600;
constexpr int WEBSOCKET_OPEN_TIMEOUT_MS = 30000;
// A WebSocket close handshake the peer does not answer is cut short.
constexpr int WEBSOCKET_CLOSE_TIMEOUT_MS = 2000;

} // namespace

SockJSConnector::SockJSConnector(QObject *parent)
    : QObject(parent)
{
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
    QPointer<SockJSConnector> self(this);
    if (attempting || ((webSocket || xhrTransport) && !closing)) {
        // Replacing a working transport behind the owner's back would leave
        // it believing in a link that is gone; it closes first.
        qCDebug(lcSockJS) << "[SockJSConnector] Already open: close() it before opening again";
        return;
    }
    if (webSocket || xhrTransport) {
        // A close() whose end has not arrived yet: the transport is let go of
        // now, so its end is reported now, once.
        releaseTransport();
        emit closed(bClosedForInactivity);
        if (!self || webSocket || xhrTransport || attempting)
            return;   // the owner opened again from its slot
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
    closedByServer = false;
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

    attempting = true;
    bool up = false;
    while (self && protocolIndex < protocols.size() && !closing) {
        if (tryNextProtocol()) {
            up = true;
            break;
        }
    }
    if (!self)
        return;
    attempting = false;
    // What arrived while the caller was still waiting for open() is
    // delivered from the event loop, once the caller holds what it opened.
    if (incomingHead < incoming.size())
        scheduleDelivery();
    if (!up && !closing) {
        qCDebug(lcSockJS) << "[SockJSConnector] No transport came up";
        emit openFailed();
    }
}

void SockJSConnector::releaseTransport()
{
    destroyWebSocket();
    if (xhrTransport) {
        xhrTransport->disconnect(this);
        xhrTransport->close();
        xhrTransport->deleteLater();
        xhrTransport = nullptr;
    }
    m_connected = false;
    if (deadLinkTimer)
        deadLinkTimer->stop();
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

void SockJSConnector::closeNow(const QString &lastFrame)
{
    blockSignals(true);
    if (m_connected)
        send(lastFrame, false);
    close();
    releaseTransport();
}

void SockJSConnector::setMaxBacklog(qint64 bytes)
{
    maxBacklog = qMax<qint64>(1, bytes);
}

void SockJSConnector::setDeadLinkLimit(int ms)
{
    deadLinkLimitMs = qMax(0, ms);
    if (webSocket || xhrTransport)
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
    lastFrame.start();
    armDeadLinkCheck();
}

void SockJSConnector::checkDeadLink()
{
    if (closing || (!webSocket && !xhrTransport)) {
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
    emit closed(bClosedForInactivity);
}

bool SockJSConnector::tryNextProtocol()
{
    const int value = protocolIndex < protocols.size() ? int(protocols.at(protocolIndex)) : 0;
    ++protocolIndex;
    switch (value) {
    case WEBSOCKET:
        return openWebSocket();
    case XHR_STREAMING:
        return openXhr(true);
    case XHR_POLLING:
        return openXhr(false);
    default:
        qCDebug(lcSockJS) << "[SockJSConnector] No more protocols found!";
        return false;
    }
}

QString SockJSConnector::webSocketUrl() const
{
    return (useSsl ? QStringLiteral("wss://") : QStringLiteral("ws://")) + host + QLatin1Char(':')
        + QString::number(port) + basePath + SERVER_SEGMENT + sessionId + QStringLiteral("/websocket");
}

bool SockJSConnector::openWebSocket()
{
    // Published for other code of the process, unless the host chose a proxy
    // of its own. With its scheme: a bare "host:port" reads back as a URL
    // whose scheme is the host, which breaks every later proxy lookup.
    const QNetworkProxy proxy = systemProxy();
    if (!applicationProxySet() && !systemProxyString().isEmpty()) {
        const QString host = proxy.hostName().contains(QLatin1Char(':'))
            ? QLatin1Char('[') + proxy.hostName() + QLatin1Char(']') : proxy.hostName();
        qputenv("http_proxy", ("http://" + host + QLatin1Char(':') + QString::number(proxy.port())).toLatin1());
    }

    const QString url = webSocketUrl();
    qCDebug(lcSockJS) << "[SockJSConnector] Websocket url =" << url;

    openState = 0;
    webSocket = new QWebSocket(QString(), QWebSocketProtocol::Version13, nullptr);
    // Qt's own bounds are about 2 GB: a peer could make it buffer that much.
    webSocket->setMaxAllowedIncomingFrameSize(quint64(maxFrameSize));
    webSocket->setMaxAllowedIncomingMessageSize(quint64(maxFrameSize));
    webSocket->setProxy(proxyForServer(host, port, useSsl, basePath));
    QWebSocket *const ws = webSocket;
    QEventLoop wait;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    connect(ws, &QWebSocket::connected, this, &SockJSConnector::openstate1);
    connect(ws, &QWebSocket::disconnected, this, &SockJSConnector::openstate2);
    connect(ws, &QWebSocket::connected, &wait, &QEventLoop::quit);
    connect(ws, &QWebSocket::disconnected, &wait, &QEventLoop::quit);
    // Connected before opening: the open frame can come with the handshake.
    connect(ws, &QWebSocket::textMessageReceived, this, &SockJSConnector::onTextMessageReceived);
    ws->open(QUrl(url));

    // Blocks here without spinning; the thread's events keep being served.
    QPointer<SockJSConnector> self(this);
    if (openState == 0) {
        limit.start(WEBSOCKET_OPEN_TIMEOUT_MS);
        wait.exec();
    }
    if (!self)
        return true;   // destroyed meanwhile: nothing more to try
    if (webSocket != ws)
        return closing;   // closed (or replaced) while waiting
    if (openState == 1) {
        qCDebug(lcSockJS) << "[SockJSConnector] CONNECTED via Websocket";
        disconnect(ws, &QWebSocket::disconnected, this, &SockJSConnector::openstate2);
        connect(ws, &QWebSocket::disconnected, this, &SockJSConnector::onClosed);
        transportUp();
        if (ws->state() == QAbstractSocket::UnconnectedState)
            transportClosed(ws);   // it already went away while we waited
        return true;
    }
    destroyWebSocket();
    return false;
}

bool SockJSConnector::openXhr(bool streaming)
{
    if (xhrTransport)
        xhrTransport->deleteLater();
    xhrTransport = new SockJSXHRPolling(this);
    SockJSXHRPolling *const xhr = xhrTransport;
    xhr->setMaxFrameSize(maxFrameSize);
    xhr->setSendTimeout(sendTimeoutMs);
    // Connected first: frames may be delivered as soon as the thread runs.
    connect(xhr, &SockJSXHRPolling::textMessageReceived, this, &SockJSConnector::onTextMessageReceived);
    connect(xhr, &SockJSXHRPolling::connectionClosed, this, &SockJSConnector::onClosed);
    if (!xhr->open(host, port, useSsl, basePath + SERVER_SEGMENT + sessionId, streaming)) {
        if (xhrTransport == xhr)
            xhrTransport = nullptr;
        xhr->deleteLater();
        return false;
    }
    m_transport = streaming ? XHR_STREAMING : XHR_POLLING;
    transportUp();
    qCDebug(lcSockJS).noquote() << "[SockJSConnector] CONNECTED via xhr_"
                                   + (streaming ? QStringLiteral("streaming") : QStringLiteral("polling"));
    return true;
}

void SockJSConnector::onTextMessageReceived(QString message)
{
    // Frames of a transport that is no longer ours are stale.
    QObject *from = sender();
    if (from && from != webSocket && from != xhrTransport)
        return;
    // After the server's close frame or the owner's close() nothing more is
    // news, even if the transport had already read it.
    if (closing)
        return;
    lastFrame.restart();
    const Veltro::SockJSFrame frame = Veltro::SockJSFrame::read(message);
    switch (frame.type) {
    case Veltro::SockJSFrame::Open:
        if (!m_connected) {
            m_connected = true;
            emit connected();
        } else if (!closing) {
            // An XHR receive side that reconnected after the server had ended
            // the session gets a new session under the same id, without the
            // old one's registrations: the session we had is over.
            qCWarning(lcSockJS) << "[SockJSConnector] The server opened a new session: the old one is gone";
            releaseTransport();
            emit closed(bClosedForInactivity);
        }
        break;
    case Veltro::SockJSFrame::Messages:
        if (incomingHead >= incoming.size()) {
            incoming = std::move(frame.messages);   // no copy of a large frame's list
            incomingHead = 0;
        } else {
            incoming += frame.messages;
        }
        deliverIncoming();
        break;
    case Veltro::SockJSFrame::Close:
        // The server ended the session: end the transport as well, and report
        // it as a closure rather than trying the next transport.
        qCDebug(lcSockJS) << "[SockJSConnector] Session closed by the server:" << frame.closeCode
                          << frame.closeReason;
        closedByServer = true;
        close();
        break;
    default:
        break;
    }
}

void SockJSConnector::deliverIncoming()
{
    // Inside open() the caller does not hold what it opened yet; a delivery
    // already running (a slot of ours in a nested event loop) keeps the order.
    if (attempting || delivering)
        return;
    QPointer<SockJSConnector> self(this);
    delivering = true;
    QElapsedTimer slice;
    slice.start();
    while (incomingHead < incoming.size()) {
        if (slice.elapsed() >= DELIVERY_SLICE_MS) {
            // A burst is handed over a slice at a time, so the host's event
            // loop (timers, input, other sockets) runs in between.
            scheduleDelivery();
            break;
        }
        const QString message = std::move(incoming[incomingHead++]);
        emit sockJSMessage(message);
        if (!self)
            return;
    }
    if (incomingHead >= incoming.size()) {
        incoming.clear();
        incomingHead = 0;
    }
    delivering = false;
}

void SockJSConnector::scheduleDelivery()
{
    if (deliveryScheduled)
        return;
    deliveryScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            deliveryScheduled = false;
            deliverIncoming();
        },
        Qt::QueuedConnection);
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

void SockJSConnector::transportClosed(QObject *from)
{
    if (from && from != webSocket && from != xhrTransport)
        return;   // a transport we already let go of
    qCDebug(lcSockJS) << "[SockJSConnector] Websocket CLOSED";
    if (!m_connected && !closing && from && from == webSocket) {
        // Closed before the open frame and nobody asked: try XHR polling.
        destroyWebSocket();
        if (openXhr(false)) {
            qCDebug(lcSockJS) << "[SockJSConnector] Fallback to XHR_Polling";
            return;
        }
    }
    m_connected = false;
    destroyWebSocket();
    if (xhrTransport) {
        // Release it once its worker has ended (it has: it reported closure).
        xhrTransport->deleteLater();
        xhrTransport = nullptr;
    }
    if (deadLinkTimer)
        deadLinkTimer->stop();
    emit closed(bClosedForInactivity);
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
    // Messages received but not yet delivered go with the session.
    incoming.clear();
    incomingHead = 0;
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
}

void SockJSConnector::openstate2()
{
    // A socket that connected and dropped at once still counts as connected:
    // its closure before the open frame is handled as such.
    if (openState == 0)
        openState = 2;
}
