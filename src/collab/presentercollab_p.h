// Private side of PresenterCollab: every field of it (the session's values,
// the transport it talks through, the connection state, the reconnection and
// the queue of frames held while the link is down, the round-trip figure, the
// current poll and the card image), and the connection's machinery.
// Not installed; the library and the tests reach it through get().
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

#include "collabtransport_p.h"
#include "lzmacodec_p.h"
#include "outgoingqueue_p.h"
#include "presentercollab.h"
#include "publishqueue_p.h"
#include "reconnectbackoff_p.h"
#include "roundtripmeter_p.h"
#include "veltronamespace.h"

class CollaborationMessageHandler;
class SockJSConnector;
namespace Veltro {
class NetworkHub;
}

class PresenterCollabPrivate
{
public:
    static PresenterCollabPrivate *get(PresenterCollab *q) { return q->d.get(); }

    /// Replaces the transport (tests); the old one is released.
    void setTransport(std::unique_ptr<CollabTransport> t) { transport = std::move(t); }
    /// Ping interval in milliseconds (60000 unless changed, e.g. by tests).
    void setPingInterval(int ms);
    int pingInterval() const { return pingIntervalMs; }
    /// Ends the connection without a goodbye: no "disconnect" is published,
    /// connectionClosed is not emitted and no reconnection follows; the state
    /// becomes Closed, and stateChanged(Closed) follows from the event loop,
    /// so a host that follows the state learns it. The object stays usable
    /// for open().
    void endQuietly();
    /// Takes the client's network settings: the defaults of reconnection, the
    /// dead-link limit and the frame bound, and the TLS and proxy choices of
    /// every transport opened from now on. Called before open().
    void adoptSettings(Veltro::NetworkHub *hub);
    /// For teardown: says goodbye ("disconnect" to the session) when the link
    /// is up, without an event loop and with a bounded wait, and ends the
    /// connection. Frames still compressing or held are dropped. Nothing is
    /// emitted, now or later; the object is not to be opened again.
    void goodbyeNow();
    /// Payloads longer than this many characters are compressed on the worker
    /// thread; shorter ones on the caller's (see DEFAULT_BACKGROUND_THRESHOLD).
    void setBackgroundThreshold(int chars) { backgroundThreshold = chars; }
    /// The connector's openFailed(): every transport of the attempt failed.
    void transportOpenFailed();
    /// Clock of the round-trip figure in ms (tests step it); null: the real one.
    void setClock(std::function<qint64()> clock) { clockOverride = std::move(clock); }
    const RoundTripMeter &roundTrips() const { return meter; }
    /// True while published frames wait in line behind a compression.
    bool framesInLine() const { return !outgoing.isEmpty(); }
    /// The kind of the running or last poll (MULTIPLE before any).
    Veltro::PollType::POLL_TYPE pollType() const { return pollKind; }

    /// Below this a payload compresses faster on the caller's thread than the
    /// hand-over to the worker costs (measured by bench/classroom's publish).
    static const int DEFAULT_BACKGROUND_THRESHOLD;
    /// How long a close waits for the transport to report its end.
    static const int CLOSE_WAIT_MS;

private:
    friend class PresenterCollab;
    PresenterCollabPrivate(PresenterCollab *q, QString serverUrl, QString sessionCode, QString sessionToken,
                           QString userToken);

    // The session's values and the card image, as the host gave them.
    QTimer pingTimer; // a member, not a child: it goes with this side
    QString serverUrl;
    QString sessionCode;
    QString sessionToken;
    QString userToken;
    QString pollId;
    QByteArray cardImageData;
    QString cardImageUrl;
    SockJSConnector *connector = nullptr;           // a child of the public object
    CollaborationMessageHandler *msgHandler = nullptr; // a child of the public object

    // A leading "." makes an address relative to the session token.
    QString resolveAddress(const QString &address) const;
    // A frame from the connector: the presenter's own broadcasts coming back
    // only time the round trip; everything else goes to the handler.
    void frameArrived(const QString &message);
    // What the connector reports, once the host's call (if any) has returned.
    void transportCameUp();
    void transportEnded(bool bClosedForInactivity);
    // "pause", "resume" or "pollStop" with the poll id between quotes.
    void publishPollControl(const QString &address, const QString &type);

    // What a frame is, for its way out: envelope frames are dropped when the
    // link is down and not held; body frames go to the transport regardless.
    enum FrameKind { EnvelopeFrame, BodyFrame };
    // A payload text of `size` characters, or the recipe for one: building a
    // large image's data URL is itself worth doing on the worker.
    using TextMaker = std::function<QString()>;
    // Publishes in the envelope form (checks and address as publishMessage).
    void publishEnvelope(const QString &address, const QString &type, qsizetype size, const TextMaker &data);
    // Publishes a message object in the body form.
    void publishBody(const QString &address, Veltro::VeltroCollabMessage *message);
    // Queues head + compressed text + tail behind what was published before.
    void publish(const QString &head, qsizetype size, const TextMaker &text, const QString &tail, FrameKind kind);
    void publishFrame(QString frame, FrameKind kind);
    void deliver(const QString &frame, int kind);
    void sendReady();
    void finishClose();

    // Whether a frame the host publishes now is held for the next connection:
    // also while a transport the server has ended is still winding down.
    bool holding() const { return autoReconnect && active && (!linkUp || !transport->isConnected()); }
    void hold(const QString &frame);
    void flushHeld();
    void scheduleRetry();
    void retry();
    void giveUp();
    void openTransport(const QList<int> &protocols);

    // Signals to the host go through here: a host call (open, close, ...)
    // never emits, what it causes arrives from the event loop, in order.
    void notify(std::function<void()> emitter);
    void flushOutbox();
    void scheduleFlush();
    struct HostCall
    {
        explicit HostCall(PresenterCollabPrivate *d) : d(d) { ++d->hostCalls; }
        ~HostCall()
        {
            if (--d->hostCalls == 0 && !d->outbox.isEmpty())
                d->scheduleFlush();
        }
        PresenterCollabPrivate *d;
    };
    void setState(Veltro::ConnectionState s);
    // Why the transport's last open failed or its connection ended (never
    // None for a failure the transport did not explain).
    void takeReason(Veltro::Error fallback);
    // The connection is over for good: reported once, from the event loop;
    // an open() that waited for it starts now.
    void ended(bool bClosedForInactivity);
    void resetLink();
    // Every frame but pings reaches the transport here (timed when it is an
    // own broadcast on the session address).
    void sendFrame(const QString &frame);
    void echoArrived(const QString &type, QStringView payload);
    qint64 nowMs() const { return clockOverride ? clockOverride() : clock.elapsed(); }

    PresenterCollab *q;
    std::unique_ptr<CollabTransport> transport;
    int pingIntervalMs = 60000;
    int deadLinkLimitMs = 60000;
    bool autoReconnect = false;
    bool active = false;          // opened by the host, not closed, not given up
    bool attempting = false;      // an open of the transport is under way
    bool transportUp = false;     // the transport we follow came up and has not ended
    bool linkUp = false;          // registered on the session's addresses
    bool closeRequested = false;  // close() asked the transport to end and waits for its report
    bool reopenPending = false;   // open() during Closing: starts when the close has ended
    bool quiet = false;           // ended by endQuietly()
    bool closeWhenSent = false;   // close() waits for frames still compressing
    int backgroundThreshold = DEFAULT_BACKGROUND_THRESHOLD;
    // Kept for the small payloads compressed on the caller's thread: a fresh
    // coder costs more to set up than such a payload takes to compress.
    Veltro::LzmaCoder coder;
    QList<int> protocols;
    ReconnectBackoff backoff;
    OutgoingQueue held;
    QTimer retryTimer;
    QTimer closeTimer;
    QElapsedTimer clock;
    PublishQueue outgoing; // in front of `held`: frames enter the hold in publish order

    Veltro::ConnectionState state = Veltro::ConnectionState::Closed;
    Veltro::Error error = Veltro::Error::None;
    QString errorString;
    int hostCalls = 0;
    QList<std::function<void()>> outbox;
    bool flushScheduled = false;

    RoundTripMeter meter;
    QString sessionPrefix; // an own broadcast's frame text up to its body
    std::function<qint64()> clockOverride;

    // Changes the poll's state; the host hears of it from the event loop.
    void setPollState(Veltro::PollState s, bool newPoll = false);

    // The current poll: its question (sent as a question object) or its
    // template text, the id its answers carry, its state and kind (the kind
    // of the last poll once it has stopped).
    QPointer<Veltro::QuestionBase> pollQuestion;
    QString pollText;
    QString pollAnswerId;
    Veltro::PollState pollState = Veltro::PollState::NoPoll;
    Veltro::PollType::POLL_TYPE pollKind = Veltro::PollType::MULTIPLE;
};
