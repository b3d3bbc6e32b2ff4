// Private side of PresenterCollab: the transport it talks through, the
// reconnection state and the queue of frames held while the link is down.
// Not installed; the library and the tests reach it through get().
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

#include "outgoingqueue_p.h"
#include "presentercollab.h"
#include "reconnectbackoff_p.h"

class SockJSConnector;

/// What PresenterCollab needs of a connection. The library's one wraps the
/// SockJS connector; tests substitute one that records frames and fakes its state.
class CollabTransport
{
public:
    virtual ~CollabTransport() = default;
    /// Protocols are the transport values (1 websocket, 2 xhr-streaming,
    /// 4 xhr-polling) in the order to try.
    virtual void open(const QUrl &url, const QList<int> &protocols) = 0;
    virtual void send(const QString &frame, bool bIsPing) = 0;
    virtual bool isConnected() const = 0;
    virtual void close() = 0;
    virtual void setDeadLinkLimit(int ms) = 0;
};

class PresenterCollabPrivate
{
public:
    static PresenterCollabPrivate *get(PresenterCollab *q) { return q->d; }

    /// Replaces the transport (tests); the old one is released.
    void setTransport(std::unique_ptr<CollabTransport> t) { transport = std::move(t); }
    /// Ping interval in milliseconds (60000 unless changed, e.g. by tests).
    void setPingInterval(int ms);
    int pingInterval() const { return pingIntervalMs; }
    /// Ends the connection without a goodbye and without any signal: no
    /// "disconnect" is published, connectionClosed is not emitted and no
    /// reconnection follows. The object stays usable for open().
    void endQuietly();

private:
    friend class PresenterCollab;
    explicit PresenterCollabPrivate(PresenterCollab *q) : q(q) {}

    // Whether a frame the host publishes now is held for the next connection:
    // also while a transport the server has ended is still winding down.
    bool holding() const { return autoReconnect && active && (!linkUp || !transport->isConnected()); }
    void hold(const QString &frame);
    void flushHeld();
    void scheduleRetry();
    void retry();
    void giveUp();
    void openTransport(const QList<int> &protocols);

    PresenterCollab *q;
    std::unique_ptr<CollabTransport> transport;
    int pingIntervalMs = 60000;
    int deadLinkLimitMs = 60000;
    bool autoReconnect = false;
    bool active = false;          // opened by the host, not closed, not given up
    bool linkUp = false;          // registered on the session's addresses
    bool closeRequested = false;  // close() asked the transport to end
    bool quiet = false;           // ended by endQuietly()
    QList<int> protocols;
    ReconnectBackoff backoff;
    OutgoingQueue held;
    QTimer retryTimer;
    QElapsedTimer clock;
};
