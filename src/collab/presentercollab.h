// The presenter's side of one classroom session's live event-bus conversation.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

#include "learner.h"
#include "ordinaltype.h"
#include "polltype.h"
#include "remotecontrolmessage.h"
#include "veltroclient_export.h"
#include "veltronamespace.h"

class SockJSConnector;
class CollaborationMessageHandler;
class PresenterCollabPrivate;

namespace Veltro {
class QuestionBase;
class VeltroCollabMessage;
}

/// One classroom session's event-bus connection: registers on the session's
/// addresses once connected, pings every minute, publishes polls, questions,
/// cards and state, and relays incoming learner and controller messages as
/// signals. Operations return nothing; failures show only in the debug log,
/// except those of the connection itself (state(), error(), connectionClosed).
/// Large payloads are compressed on a worker thread, so a publish returns at
/// once; frames still leave in the order they were published.
///
/// **States of the connection** (state(), stateChanged()):
///
/// | From | To | When |
/// |---|---|---|
/// | Closed | Connecting | open() |
/// | Connecting | Connected | a transport came up and the registration was sent (then connected()) |
/// | Connecting | Reconnecting | every transport failed, reconnection on (then reconnecting()) |
/// | Connected | Reconnecting | the link dropped, reconnection on (then reconnecting()) |
/// | Reconnecting | Connected | an attempt came up (then connected()) |
/// | Connecting, Connected, Reconnecting | Closing | close() |
/// | Closing | Closed | the connection ended, or its transport did not say so within 5 s (then connectionClosed()) |
/// | Connecting, Connected, Reconnecting | Closed | the connection failed or ended and is not retried: reconnection off, the inactivity check, a failure that needs the host (Tls, ProxyAuthenticationRequired), reconnection given up or turned off while waiting (then connectionClosed()) |
/// | Connecting, Connected, Reconnecting, Closing | Closed | PresenterClient started a newer live connection of the session: no goodbye to the devices, no connectionClosed() |
///
/// **States of the poll** (pollState(), pollStateChanged()). The poll is
/// kept here alone, so whatever follows it (Classroom, its tally) follows
/// these calls whoever makes them:
///
/// | From | To | When |
/// |---|---|---|
/// | NoPoll, Stopped | Running | startPoll() |
/// | Running, Paused | Running | startPoll(): a new poll replaces the running one (pollStateChanged() all the same) |
/// | Running | Paused | pausePoll() |
/// | Paused | Running | resumePoll() |
/// | Running, Paused | Stopped | stopPoll() |
///
/// pausePoll(), resumePoll() and stopPoll() in any other state publish their
/// message and change nothing; the connection's end leaves the poll as it is.
///
/// **Signals and calls.** Every signal is emitted on the host's thread from
/// the event loop, never inside a call of this object's own operations
/// (removeLearner's learnerUnregister aside): what open(), close() or a
/// setter causes arrives after the call has returned, in order. Because
/// PresenterClient's blocking calls (the do... operations, startWebsocket)
/// wait in a local event loop, every signal of this object can arrive inside
/// such a call.
///
/// **Messages received before an end.** When the transport ends by itself (a
/// drop, the server's close, the dead-link check, an oversized frame), every
/// message received before its end is delivered, in order, before the state
/// leaves Connected. After the host's own close(), messages not yet handed
/// over are dropped: the host is done with the session.
class VELTROCLIENT_EXPORT PresenterCollab : public QObject
{
    Q_OBJECT
    /// The state of the live connection (see the table above).
    Q_PROPERTY(Veltro::ConnectionState state READ state NOTIFY stateChanged)
    /// The state of the poll (see the poll table above).
    Q_PROPERTY(Veltro::PollState pollState READ pollState NOTIFY pollStateChanged)

public:
    /// Creates the session object, wired but not connected (state Closed).
    PresenterCollab(QObject *parent, QString serverUrl, QString sessionCode,
                    QString sessionToken, QString userToken);
    /// Sends nothing and runs no event loop, unless a close() still waits for
    /// a compression: then the frames ready go, those still being compressed
    /// are dropped and the goodbye follows, without waiting for the worker.
    /// Emits nothing. Connector and handler go with it.
    ~PresenterCollab() override;

    /// Connects with all transports (websocket, xhr-streaming, xhr-polling).
    /// Returns at once and emits nothing inside the call; the outcome arrives
    /// as stateChanged() and connected(), reconnecting() or connectionClosed().
    /// Does nothing (a debug line) while Connecting, Connected or Reconnecting.
    /// While Closing, the new connection starts once the earlier one has ended
    /// (and its end has been reported).
    void open();
    /// Connects with the named transports in the given order; unknown names
    /// are skipped, and a list naming nothing known falls back to all three.
    /// Otherwise as open().
    void open(QStringList protocols);
    /// Publishes "disconnect" to the session, stops pinging and closes the
    /// connection (state Closing), once the frames published before are sent
    /// (the disconnect last); stops any reconnection and discards frames held
    /// for one. Emits nothing inside the call: connectionClosed() follows from
    /// the event loop, once, when the connection has ended (an attempt under
    /// way is stopped first; while waiting to reconnect it follows at once).
    /// error() is None afterwards. On a Closed object it only writes the
    /// not-connected line; on a Closing one it does nothing.
    void close();

    /// The state of the live connection.
    Veltro::ConnectionState state() const;
    /// True from connected() until the connection drops or close() is called.
    bool isConnected() const;
    /// Why the connection last failed or ended: readable when connectionClosed()
    /// or reconnecting() is emitted. Tls (errorString() names the certificate
    /// error), ProxyAuthenticationRequired, Proxy, ConnectionRefused,
    /// HostNotFound, Timeout, DeadLink, ClosedByServer, FrameTooLarge,
    /// BacklogFull, Network, or Inactivity for the inactivity check. None
    /// before any failure, while connected and after the host's own close().
    Veltro::Error error() const;
    /// A readable sentence for error(); empty when error() is None.
    QString errorString() const;
    /// How long the presenter's own broadcasts take to come back on the session
    /// address, in ms: the median of the last few (five). -1 while none is
    /// known, e.g. before the first publish and after the connection ended.
    /// Measured on what is sent anyway; it costs no frames.
    int roundTripMs() const;

    /// A connection that has received nothing (heartbeats included) for `ms`
    /// is treated as dropped. 0 turns the check off; the default is 60000.
    void setDeadLinkLimit(int ms);
    /// Re-opens a connection that fails or ends for any reason but close(),
    /// the inactivity check or a failure that needs the host (Tls,
    /// ProxyAuthenticationRequired), holding frames published meanwhile; the
    /// first open is covered too. Off by default (PresenterClient's defaults
    /// are taken when it creates the object). Turned off while waiting to
    /// reconnect, the connection is over: connectionClosed(false) follows.
    void setAutoReconnect(bool on);
    /// Backoff of the reconnection: first wait and the cap of later waits
    /// (each drawn from the upper half of its doubling step). Defaults 500, 30000.
    void setReconnectDelays(int initialMs, int maxMs);
    /// Gives up after `maxAttempts` attempts or `maxTotalMs` since the drop,
    /// 0 meaning no limit; then connectionClosed(false). Defaults 0 and 1800000.
    void setReconnectLimits(int maxAttempts, int maxTotalMs);
    /// Bound of one frame received from the server, in bytes (default 8 MiB),
    /// for connections opened from now on; a larger frame drops the connection.
    void setMaxIncomingFrameSize(qint64 bytes);
    /// Frames held while the link was down and dropped, oldest first, because
    /// the hold (1000 frames or 16 MiB) was full.
    qint64 droppedFrameCount() const;

    /// Sends one ping frame, connected or not.
    void sendPing();
    /// The session token, root of every address of the session.
    QString getSessionToken() const;
    /// The dispatcher of incoming frames (its learnerGetQuestion is not relayed).
    CollaborationMessageHandler *getMsgHandler() const;
    /// The current poll id; null when no poll runs.
    QString getPollId() const;
    /// The id the current poll's answers carry in learnerPollResponse(): the
    /// question's id for polls sent as question objects, the poll id for the
    /// others (word seed, creative); null when no poll runs. An answer with
    /// another id belongs to an earlier poll.
    QString currentPollAnswerId() const;
    /// The current poll's question object (a child of this object, kept as
    /// long as it); null for template polls or when no poll runs.
    Veltro::QuestionBase *currentPollQuestion() const;
    /// The state of the poll (see the poll table above).
    Veltro::PollState pollState() const;
    /// True while the poll is paused (pollState() is Paused).
    bool isPollPaused() const;
    /// Sends the running poll to one device (address "<sessionToken>.user.<deviceId>"):
    /// its question or template text, then its "pause" when it is paused; for
    /// a device that joined while it runs. Without a poll, only a debug line.
    void sendCurrentPollTo(QString deviceId);

    /// Publishes `data` (compressed) as message `type` to `address` (a leading
    /// "." makes it relative to the session token). While the link is not up
    /// the frame is held for the next registration when reconnection is on
    /// (Connecting, Reconnecting), and dropped with a debug line otherwise.
    void publishMessage(QString address, QString type, QString data);
    /// Same as publishMessage(address, type, data).
    void publishMessage64(QString address, QString type, QString data);
    /// Publishes to the session address.
    void publishMessage(QString type, QString data);
    /// Publishes a message object in the body form; the caller keeps it (a
    /// payload compressed in the background leaves its `data` uncompiled).
    /// Held like the other publishes while reconnection is on; otherwise
    /// handed to the connector even when not connected.
    void publishMessage(QString address, Veltro::VeltroCollabMessage *message);

    /// Starts a poll with two options, one correct.
    void startPoll(Veltro::PollType::POLL_TYPE pollType, Veltro::OrdinalType::ORDINAL_TYPE ordinalType);
    /// Starts a poll with optionCount options (decimals for a number poll), one correct.
    void startPoll(Veltro::PollType::POLL_TYPE pollType, Veltro::OrdinalType::ORDINAL_TYPE ordinalType,
                   int optionCount);
    /// Starts a poll under a new poll id: a question object for the kinds that
    /// have one, the poll template otherwise (state Running; pollStateChanged()
    /// follows from the event loop). Each poll's question object stays a child
    /// of this object as long as it lives, so a host may hold one and send it
    /// again; when a newer poll starts, the earlier one's card gives up an
    /// image it carries as data (megabytes, perhaps), so only small objects
    /// add up over a class.
    void startPoll(Veltro::PollType::POLL_TYPE pollType, Veltro::OrdinalType::ORDINAL_TYPE ordinalType,
                   int optionCount, int correctOptionCount);
    /// Builds the question of a poll kind (child of this object) with generated
    /// options; returns null for kinds without a question object. Sends nothing;
    /// the caller deletes the question when done with it.
    Veltro::QuestionBase *createPollQuestion(Veltro::PollType::POLL_TYPE pollType,
                                             Veltro::OrdinalType::ORDINAL_TYPE ordinalType,
                                             int optionCount, int correctOptionCount);
    /// Publishes "pause" with the poll id; a running poll is Paused.
    void pausePoll();
    /// Publishes "resume" with the poll id; a paused poll is Running again.
    void resumePoll();
    /// Publishes "pollStop" with the poll id, forgets the id, clears the card
    /// image; a running or paused poll is Stopped. Its question object stays.
    void stopPoll();

    /// Tells controllers the current card number of totalCards (the cards named "1" to totalCards).
    void sendCurrentCardToRemote(int currentCard, int totalCards);
    /// Tells controllers the current card and the cards' names, in order (as
    /// many as there are cards); the names are escaped for the message.
    void sendCurrentCardToRemote(int currentCard, const QStringList &cardNames);
    /// Tells controllers the open lesson.
    void sendCurrentLessonToRemote(QString lessonId, QString name);
    /// Tells controllers the presenter is active.
    void sendPresenterIsActiveToRemote();
    /// Shows the card image on every learner's device, preceded by the heavy
    /// notice when checkHeavy and the reference exceeds 524288 characters;
    /// clears the card image.
    void showImageCard(bool checkHeavy);
    /// Announces a large message to the learners' devices.
    void sendHeavy();
    /// Sets image bytes (PNG) for the next card or poll; they win over a URL.
    void setCardImage(QByteArray data);
    /// Sets an image URL for the next card or poll.
    void setCardImage(QString url);
    /// Forgets both image bytes and URL.
    void clearCardImage();
    /// Sends a question ("questionStart") to the session address.
    void sendQuestion(Veltro::QuestionBase *question);
    /// Sends a question to `address`; the question stays the caller's.
    /// Handed to the connector even when not connected.
    void sendQuestion(QString address, Veltro::QuestionBase *question);
    /// Disconnects one learner's device and emits learnerUnregister at once.
    void removeLearner(QString deviceId);

Q_SIGNALS:
    /// The connection ended for good (state Closed): after close(), or a
    /// failure or drop that is not retried (error() says why), or reconnection
    /// gave up or was turned off while waiting; once per end, also when the
    /// first open failed on every transport. True when the inactivity check
    /// ended it. From the event loop; can arrive inside a blocking call of
    /// PresenterClient.
    void connectionClosed(bool bClosedForInactivity);
    /// A device answered a poll or question; `responseTime` in whole seconds.
    /// `pollId` is the id the answer carries: currentPollAnswerId() for the
    /// current poll. The `answer` text by poll kind, as devices send it:
    /// - polls sent as question objects (true/false, yes/no/other, multiple
    ///   choice, scale, sort, text, number, math formula) are answered with
    ///   "questionResponse": the device's answer text followed directly by the
    ///   id of each option it chose, without a separator: a single pick "B",
    ///   several picks (multiple choice, sort) "AC" in the device's order, a
    ///   free text or a number as typed ("42.5");
    /// - template polls (word seed, creative) are answered with "pollResponse":
    ///   picks joined by "," ("0,2"), or the typed text.
    /// From the event loop; can arrive inside a blocking call of PresenterClient.
    void learnerPollResponse(QString deviceId, QString pollId, int responseTime, QString answer);
    /// The answer learnerPollResponse() reported, right after it, with its
    /// parts apart, so that neither can be taken for the other ("TRUE" and the
    /// option "A"; a typed "BAD" and the option "C"): `text` is what the
    /// device typed (a question's answer text, a template poll's input) and
    /// `optionIds` the ids of the options it chose (a template poll's picks),
    /// in its order. From the event loop; can arrive inside a blocking call of
    /// PresenterClient.
    void learnerAnswer(QString deviceId, QString answerId, int responseTime, QString text, QStringList optionIds);
    /// A learner's device joined the session. From the event loop; can arrive
    /// inside a blocking call of PresenterClient.
    void learnerJoin(Veltro::Learner learner);
    /// A learner's device (its token) left the session: told by the server
    /// (from the event loop; can arrive inside a blocking call of
    /// PresenterClient), or inside removeLearner().
    void learnerUnregister(QString deviceId);
    /// A remote controller left (only ever false). From the event loop; can
    /// arrive inside a blocking call of PresenterClient.
    void controllerRegister(bool isRegister);
    /// A remote-controller device sent a command. From the event loop; can
    /// arrive inside a blocking call of PresenterClient.
    void remoteControl(Veltro::RemoteControlMessage signal);
    /// A message of a type the library does not know, with its restored
    /// payload. From the event loop; can arrive inside a blocking call of
    /// PresenterClient.
    void unhandledMessage(QVariantMap jsonMessage, QVariant data);
    /// The connection is open and registered on the session's addresses (state
    /// Connected), each time: after open() and after every reconnection. From
    /// the event loop, never inside open(); can arrive inside a blocking call of
    /// PresenterClient (startWebsocket() included).
    void connected();
    /// The link dropped or an attempt failed, and attempt number `attempt`
    /// follows in `delayMs` (state Reconnecting); error() says why. From the
    /// event loop; can arrive inside a blocking call of PresenterClient.
    void reconnecting(int attempt, int delayMs);
    /// The state changed (see the table of the class); `state` is the new one.
    /// From the event loop, in the order of the changes; can arrive inside a
    /// blocking call of PresenterClient.
    void stateChanged(Veltro::ConnectionState state);
    /// The poll's state changed, or a new poll replaced the running one (see
    /// the poll table of the class); `state` is the new one. From the event
    /// loop, after the call that caused it, in order; can arrive inside a
    /// blocking call of PresenterClient.
    void pollStateChanged(Veltro::PollState state);
    /// roundTripMs() became known, changed markedly (by a quarter and at least
    /// 20 ms since last reported) or became unknown (-1, when the connection
    /// ended). From the event loop; can arrive inside a blocking call of
    /// PresenterClient.
    void roundTripChanged(int ms);

protected Q_SLOTS:
    /// The transport is open: registers on the session's addresses.
    void onConnected();
    /// The transport ended: reconnects or reports connectionClosed().
    void onClosed(bool bClosedForInactivity);
    /// Sends the event-bus ping that keeps the session alive.
    void onPingTimer();

private:
    QString getCardImageRef(bool cssUrl);

    static const int PING_TIMER;
    static const int HEAVY_BYTE_THRESHOLD;

    // Every field lives in the private side, so adding one changes no installed header.
    friend class PresenterCollabPrivate;
    const std::unique_ptr<PresenterCollabPrivate> d;
};
