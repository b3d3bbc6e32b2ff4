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

#include "veltronamespace.h"

class QTimer;
class QWebSocket;
class SockJSXHRPolling;
namespace Veltro {
class NetworkHub;
}

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
    /// Longest run of message deliveries before the host's event loop gets a turn.
    static constexpr int DELIVERY_SLICE_MS = 5;

    /// Creates an idle connector (no transport, not connected).
    explicit SockJSConnector(QObject *parent);
    /// Closes a connected session first.
    ~SockJSConnector() override;

    /// Starts a session with the server at `url`, trying `protocols` in order.
    /// Blocks while the attempts run (WebSocket at most 30 s in a local event
    /// loop, XHR at most 30 s per socket connect). The outcome is reported by
    /// connected()/closed(); when every attempt fails only openFailed() is emitted.
    /// On a live connector (attempting, transport up or connected) it does
    /// nothing but log "[SockJSConnector] Already open"; close() first. After a
    /// close() whose end has not been reported yet, that end is reported by
    /// closed() before the new session starts.
    void open(QUrl url, QList<SockJSProtocol> protocols);
    /// Sends one event-bus frame text over the current transport; without a
    /// transport the text is dropped. Non-ping sends count as activity.
    void send(QString message, bool bIsPing);
    /// Ends the session; the transport's closure is reported by closed().
    void close();
    /// True from the SockJS open frame until the session ends.
    bool isConnected() const;
    /// The SockJSProtocol value of the transport in use, 0 when there is none.
    int transport() const;
    /// A transport that has delivered no frame (heartbeats included) for `ms`
    /// is taken for dead: torn down and reported by closed(false). 0 turns the
    /// check off; the default is 60000 (the server sends a heartbeat every 25 s).
    void setDeadLinkLimit(int ms);
    /// Bound of one incoming frame in bytes for the transports opened from now
    /// on (values below 1 KiB are raised to it); a larger frame drops the
    /// transport, which is reported by closed(false).
    void setMaxFrameSize(qint64 bytes);
    /// How long an "/xhr_send" post may take (XHR transports opened from now
    /// on); one that takes longer drops the transport. Default 30000.
    void setSendTimeout(int ms);

    /// TLS configuration, accepted certificate errors and proxy of the
    /// transports opened from now on, and where they report certificate
    /// errors and ask for proxy credentials. Null: Qt's defaults, nobody asked.
    void setNetworkHub(Veltro::NetworkHub *hub);
    /// Why the last open() failed (openFailed()) or the session ended
    /// (closed()); None after the owner's close().
    Veltro::Error error() const;
    /// A readable sentence for error(); empty when error() is None.
    QString errorString() const;
    /// For teardown: hands `lastFrame` to a connected transport with a bounded
    /// wait that runs no event loop, then tears the transport down. Emits
    /// nothing, now or later.
    void closeNow(const QString &lastFrame);
    /// Bound of the messages received and not yet delivered, in bytes.
    void setMaxBacklog(qint64 bytes);

    /// Clock used by the inactivity check; tests replace it to step time
    /// forward. A null function restores the system clock.
    void setClock(std::function<QDateTime()> clock);

signals:
    /// The SockJS open frame arrived; the session can carry messages.
    void connected();
    /// One element of a SockJS message frame (one event-bus frame). Never
    /// emitted inside open(), nor once close() was called or the server's
    /// close frame arrived; long bursts are delivered a slice at a time.
    void sockJSMessage(QString message);
    /// Declared for the owner's interface; never emitted.
    void error(int errorCode);
    /// The session is over; true when the inactivity check ended it.
    void closed(bool bClosedForInactivity);
    /// open() tried every transport of its list and none came up.
    void openFailed();

protected slots:
    void onConnected();
    void onClosed();
    void onTextMessageReceived(QString message);
    void onTimeout();
    void openstate1();
    void openstate2();

private:
    bool tryNextProtocol();
    bool openWebSocket();
    bool openXhr(bool streaming);
    void destroyWebSocket();
    void transportClosed(QObject *from);
    void transportUp();
    void armDeadLinkCheck();
    void releaseTransport();
    void deliverIncoming();
    void scheduleDelivery();
    void checkDeadLink();
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
    bool closedByServer = false;
    SockJSXHRPolling *xhrTransport = nullptr;
    QWebSocket *webSocket = nullptr;
    int openState = 0;
    int m_transport = 0;
    bool attempting = false;
    int deadLinkLimitMs = 60000;
    QTimer *deadLinkTimer = nullptr;
    QElapsedTimer lastFrame;
    std::function<QDateTime()> clock;
    QPointer<Veltro::NetworkHub> hub;
    Veltro::Error m_error = Veltro::Error::None;
    QString m_errorString;
    qint64 maxBacklog = 64 * 1024 * 1024;
    qint64 maxFrameSize = DEFAULT_MAX_FRAME_SIZE;
    int sendTimeoutMs = 30000;
    // Messages received but not yet delivered, from incomingHead on, in order.
    QStringList incoming;
    int incomingHead = 0;
    bool delivering = false;
    bool deliveryScheduled = false;
};
