// The presenter's side of one classroom session's live event-bus conversation.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QList>
#include <QVariant>
#include <QVariantMap>

#include "learner.h"
#include "ordinaltype.h"
#include "polltype.h"
#include "remotecontrolmessage.h"
#include "veltroclient_export.h"

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
/// signals. Operations return nothing; failures show only in the debug log.
/// Large payloads are compressed on a worker thread, so a publish returns at
/// once; frames still leave in the order they were published.
class VELTROCLIENT_EXPORT PresenterCollab : public QObject
{
    Q_OBJECT

public:
    /// Creates the session object, wired but not connected.
    PresenterCollab(QObject *parent, QString serverUrl, QString sessionCode,
                    QString sessionToken, QString userToken);
    /// Sends nothing, unless a close() still waits for a compression: then
    /// waits for it and completes the close. Connector and handler go with it.
    ~PresenterCollab() override;

    /// Connects with all transports (websocket, xhr-streaming, xhr-polling).
    /// The outcome arrives only as connection signals.
    void open();
    /// Connects with the named transports in the given order; unknown names
    /// are skipped, and a list naming nothing known falls back to all three.
    void open(QStringList protocols);
    /// Publishes "disconnect" to the session, stops pinging and closes the
    /// connection if it is open, once the frames published before are sent
    /// (the disconnect last). Does not emit connectionClosed itself; it stops
    /// any reconnection and discards frames held for one.
    void close();

    /// True from connected() until the connection ends.
    bool isConnected() const;
    /// A connection that has received nothing (heartbeats included) for `ms`
    /// is treated as dropped. 0 turns the check off; the default is 60000.
    void setDeadLinkLimit(int ms);
    /// Re-opens a connection that ends for any reason but close() or the
    /// inactivity check, holding frames published meanwhile. Off by default;
    /// turned off while waiting to reconnect, connectionClosed(false) follows.
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

    /// Publishes `data` (compressed) as message `type` to `address` (a leading
    /// "." makes it relative to the session token). Dropped with a debug line
    /// when not connected.
    void publishMessage(QString address, QString type, QString data);
    /// Same as publishMessage(address, type, data).
    void publishMessage64(QString address, QString type, QString data);
    /// Publishes to the session address.
    void publishMessage(QString type, QString data);
    /// Publishes a message object in the body form; the caller keeps it (a
    /// payload compressed in the background leaves its `data` uncompiled).
    /// Handed to the connector even when not connected.
    void publishMessage(QString address, Veltro::VeltroCollabMessage *message);

    /// Starts a poll with two options, one correct.
    void startPoll(Veltro::PollType::POLL_TYPE pollType, Veltro::OrdinalType::ORDINAL_TYPE ordinalType);
    /// Starts a poll with optionCount options (decimals for a number poll), one correct.
    void startPoll(Veltro::PollType::POLL_TYPE pollType, Veltro::OrdinalType::ORDINAL_TYPE ordinalType,
                   int optionCount);
    /// Starts a poll under a new poll id: a question object for the kinds that
    /// have one, the poll template otherwise. Nothing is reported.
    void startPoll(Veltro::PollType::POLL_TYPE pollType, Veltro::OrdinalType::ORDINAL_TYPE ordinalType,
                   int optionCount, int correctOptionCount);
    /// Builds the question of a poll kind (child of this object) with generated
    /// options; returns null for kinds without a question object. Sends nothing.
    Veltro::QuestionBase *createPollQuestion(Veltro::PollType::POLL_TYPE pollType,
                                             Veltro::OrdinalType::ORDINAL_TYPE ordinalType,
                                             int optionCount, int correctOptionCount);
    /// Publishes "pause" with the poll id.
    void pausePoll();
    /// Publishes "resume" with the poll id.
    void resumePoll();
    /// Publishes "pollStop" with the poll id, forgets the id, clears the card image.
    void stopPoll();

    /// Tells controllers the current card number of totalCards.
    void sendCurrentCardToRemote(int currentCard, int totalCards);
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
    /// The connection ended; true when it was closed for inactivity. With
    /// reconnection on, emitted only when it gives up (or after close()).
    void connectionClosed(bool bClosedForInactivity);
    /// A device answered a poll or question (`pollId`: the poll id or the
    /// question's id); `responseTime` in whole seconds.
    void learnerPollResponse(QString deviceId, QString pollId, int responseTime, QString answer);
    /// A learner's device joined the session.
    void learnerJoin(Veltro::Learner learner);
    /// A learner's device (its token) left the session.
    void learnerUnregister(QString deviceId);
    /// A remote controller left (only ever false).
    void controllerRegister(bool isRegister);
    /// A remote-controller device sent a command.
    void remoteControl(Veltro::RemoteControlMessage signal);
    /// A message of a type the library does not know, with its restored payload.
    void unhandledMessage(QVariantMap jsonMessage, QVariant data);
    /// The connection is open and registered on the session's addresses
    /// (each time: after open() and after every reconnection).
    void connected();
    /// The link dropped and attempt number `attempt` follows in `delayMs`.
    void reconnecting(int attempt, int delayMs);

protected Q_SLOTS:
    /// The transport is open: registers on the session's addresses.
    void onConnected();
    /// The transport ended: reconnects or reports connectionClosed().
    void onClosed(bool bClosedForInactivity);
    /// Sends the event-bus ping that keeps the session alive.
    void onPingTimer();

private:
    QString getCardImageRef(bool cssUrl);
    QString resolveAddress(const QString &address) const;

    static const int PING_TIMER;
    static const int HEAVY_BYTE_THRESHOLD;

    QTimer pingTimer;
    QString serverUrl;
    QString sessionCode;
    QString sessionToken;
    QString userToken;
    QString pollId;
    QByteArray cardImageData;
    QString cardImageUrl;
    SockJSConnector *connector = nullptr;
    CollaborationMessageHandler *msgHandler = nullptr;
    friend class PresenterCollabPrivate;
    PresenterCollabPrivate *d;
};
