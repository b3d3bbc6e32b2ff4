// Client end of one SockJS session with the collaboration server: tries the
// transports in the order given (WebSocket, XHR streaming, XHR polling),
// reads the SockJS frames of whichever came up and hands every event-bus
// frame upward as one text. Internal to the library (not exported).
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

#include "deliverypacer_p.h"
#include "transportnetwork_p.h"
#include "veltronamespace.h"

class QTimer;
class QWebSocket;
class SockJSXHRPolling;

/// The SockJS transports; the owner maps the names "websocket",
/// "xhr-streaming" and "xhr-polling" to these values.
enum SockJSProtocol { WEBSOCKET = 1, XHR_STREAMING = 2, XHR_POLLING = 4 };

class SockJSConnector : public QObject
{
    Q_OBJECT

public:
    /// Default bound of one incoming SockJS frame (a WebSocket message, or a
    /// frame of an XHR response), in bytes.
    static constexpr qint64 DEFAULT_MAX_FRAME_SIZE = 8 * 1024 * 1024;
    /// Bound of one transport attempt of open(), connection and handshakes included.
    static constexpr int ATTEMPT_TIMEOUT_MS = 30000;

    /// Creates an idle connector (no transport, not connected).
    explicit SockJSConnector(QObject *parent);
    /// Closes a connected session first; emits nothing.
    ~SockJSConnector() override;

    /// Starts a session with the server at `url`, trying `protocols` in order,
    /// and returns at once: nothing is emitted inside the call. The attempts
    /// run from the event loop, each bounded by ATTEMPT_TIMEOUT_MS. The
    /// outcome is connected() when the SockJS open frame arrives, or
    /// openFailed() when no transport came up (error() says why). On a live
    /// connector (attempting, transport up or connected) it does nothing but
    /// log "[SockJSConnector] Already open"; close() first. After a close()
    /// whose end has not been reported yet, that end is reported by closed()
    /// (from the event loop) before anything of the new session.
    void open(QUrl url, QList<SockJSProtocol> protocols);
    /// Sends one event-bus frame text over the current transport; without a
    /// transport the text is dropped. Non-ping sends count as activity.
    void send(QString message, bool bIsPing);
    /// Ends the session on the owner's request. Messages received but not
    /// yet delivered are dropped (the owner is done with them); closed()
    /// follows from the event loop once the transport has ended (at once when
    /// an attempt was under way). Nothing when there was no session.
    void close();
    /// True from the SockJS open frame until the session ends.
    bool isConnected() const;
    /// The SockJSProtocol value of the transport in use, 0 when there is none.
    int transport() const;
    /// A transport that has delivered no frame (heartbeats included) for `ms`
    /// is taken for dead: torn down and reported by closed(false) with
    /// Veltro::Error::DeadLink. 0 turns the check off; the default is 60000
    /// (the server sends a heartbeat every 25 s).
    void setDeadLinkLimit(int ms);
    /// Bound of one incoming frame in bytes for the transports opened from now
    /// on (values below 1 KiB are raised to it); a larger WebSocket frame
    /// drops the transport, which is reported by closed(false) with
    /// Veltro::Error::FrameTooLarge.
    void setMaxFrameSize(qint64 bytes);
    /// How long an "/xhr_send" post may take (XHR transports opened from now
    /// on); one that takes longer drops the transport. Default 30000.
    void setSendTimeout(int ms);

    /// TLS configuration, accepted certificate errors and proxy of the
    /// transports opened from now on (the explicit proxy if set, else the
    /// application's or system's for the server), where certificate errors
    /// are reported (NetworkHub::reportSslErrors, once per refused handshake)
    /// and where a proxy's request for credentials goes
    /// (NetworkHub::authenticateProxy). Null: Qt's defaults, certificate
    /// errors refused, nobody asked.
    void setNetworkHub(Veltro::NetworkHub *hub);
    /// Why the last openFailed() or closed() happened, readable when the
    /// signal arrives: Tls, ProxyAuthenticationRequired, Proxy,
    /// ConnectionRefused, HostNotFound, Timeout, DeadLink, ClosedByServer,
    /// FrameTooLarge, BacklogFull or Network; Inactivity for closed(true);
    /// None after the owner's close(). After several failed attempts, the
    /// most telling reason (a certificate or proxy answer over a refused or
    /// timed-out connection).
    Veltro::Error error() const;
    /// A readable sentence for error() (for Tls it names the certificate
    /// error); empty when error() is None.
    QString errorString() const;
    /// For teardown: hands `lastFrame` to a connected transport with a
    /// bounded wait (at most CLOSE_NOW_WAIT_MS) that runs no event loop, then
    /// tears the transport down. Messages not yet delivered are dropped.
    /// Emits nothing, now or later.
    void closeNow(const QString &lastFrame);
    /// Bound in bytes (two a character) of the messages received and not yet
    /// delivered, the XHR transport's undelivered frames included; default
    /// 64 MiB. Past it the transport is dropped like one that sent an
    /// oversized frame: what was received before is delivered, then
    /// closed(false) with Veltro::Error::BacklogFull.
    void setMaxBacklog(qint64 bytes);

    /// Longest wait of closeNow().
    static constexpr int CLOSE_NOW_WAIT_MS = 1000;

    /// Clock used by the inactivity check; tests replace it to step time
    /// forward. A null function restores the system clock.
    void setClock(std::function<QDateTime()> clock);

signals:
    /// The SockJS open frame arrived; the session can carry messages. Emitted
    /// from the event loop, never inside open().
    void connected();
    /// One element of a SockJS message frame (one event-bus frame), in the
    /// order received. Never emitted inside open(), nor after close(), nor
    /// after the frame (or drop) that ended the session; long bursts are
    /// delivered a slice at a time.
    void sockJSMessage(QString message);
    /// Declared for the owner's interface; never emitted.
    void error(int errorCode);
    /// The session is over; true when the inactivity check ended it. Every
    /// message received before an end the owner did not ask for has been
    /// delivered. Emitted from the event loop.
    void closed(bool bClosedForInactivity);
    /// open() tried every transport of its list and none came up; error()
    /// says why. Emitted from the event loop, once per open().
    void openFailed();

protected slots:
    void onConnected();
    void onClosed();
    void onTextMessageReceived(QString message);
    void onTimeout();
    void openstate1();
    void openstate2();

private:
    struct Incoming;
    void tryNextProtocol();
    void openWebSocket();
    void openXhr(bool streaming);
    void onXhrOpened();
    void attemptFailed(const Veltro::FailureReason &reason);
    void finishAttempts();
    void destroyWebSocket();
    void transportClosed(QObject *from);
    void transportUp();
    void endSession(Veltro::Error error, const QString &text = QString());
    void deliver(Incoming &&item);
    void armDeadLinkCheck();
    void dropXhrTransport();
    // The link is no longer up: not connected, no transport followed, no dead-link check.
    void linkDown();
    void releaseTransport();
    void checkDeadLink();
    Veltro::FailureReason webSocketEndReason() const;
    QString webSocketUrl() const;
    QDateTime now() const;

    QList<SockJSProtocol> protocols;
    int protocolIndex = 0;
    bool useSsl = false;
    int port = -1;
    QString host;
    QString sessionId;
    QString basePath;
    bool bClosedForInactivity = false;
    QDateTime lastActivity;
    QTimer *inactivityTimer = nullptr;
    bool closing = false;
    bool m_connected = false;
    SockJSXHRPolling *xhrTransport = nullptr;
    QWebSocket *webSocket = nullptr;
    int openState = 0;
    int m_transport = 0;
    // An attempt of open() runs; `transportIsUp`: the current transport connected.
    bool attempting = false;
    bool transportIsUp = false;
    QTimer *attemptTimer = nullptr;
    Veltro::FailureReason openFailure;   // the most telling of this open()'s failures
    Veltro::FailureReason webSocketReason;
    QString webSocketTlsText;
    int deadLinkLimitMs = 60000;
    QTimer *deadLinkTimer = nullptr;
    QElapsedTimer lastFrame;
    std::function<QDateTime()> clock;
    QPointer<Veltro::NetworkHub> hub;
    Veltro::Error m_error = Veltro::Error::None;
    QString m_errorString;
    qint64 maxFrameSize = DEFAULT_MAX_FRAME_SIZE;
    int sendTimeoutMs = 30000;
    // What the owner hears of the session (open, messages, end), in order.
    std::shared_ptr<Veltro::BacklogBudget> backlog;
    Veltro::DeliveryPacer<Incoming> *pacer = nullptr;
};
