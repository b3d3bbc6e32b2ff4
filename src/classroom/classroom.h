// One teacher's classroom as a single object with properties: sign-in, a
// live session, polls, the learners present and the tally, for widget and
// QML hosts alike.
#pragma once

#include "assessment.h"
#include "learnermodel.h"
#include "polltallymodel.h"
#include "remotecommand.h"
#include "veltroclient_export.h"
#include "veltronamespace.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class PresenterClient;
class PresenterCollab;

namespace Veltro {

class ClassroomPrivate;

/// The layer every presenter application writes over PresenterClient and
/// PresenterCollab, as one object: sign in, start a session, run polls, and
/// show the learners and the answers as models.
///
/// **Calls.** Every operation returns at once and works through
/// PresenterClient's non-blocking calls, which run in the order they were
/// made: a startSession() right after signIn() waits for the sign-in, and a
/// stopSession(), signOut() or cancel() right after startSession() ends that
/// start (it never goes live, and a session it got started on the service is
/// stopped). busy is true while a call is pending, startSession() until its
/// connection is up. Each failure sets error and errorString and emits
/// failed() once, from the event loop; a call that needed a failed one (a
/// session after a refused sign-in) adds no failure of its own, and one
/// cancel() is one failure (Cancelled).
///
/// **Session.** startSession() stops a session the client still holds,
/// creates a new one (sessionCode is set as soon as it exists) and opens its
/// live connection. The sign-in and the session are the client's: signedIn,
/// userName and sessionCode are what client() holds, and follow it however
/// they change. The learners model follows the joins and departures and is
/// made equal to the service's list after every reconnection; the tally
/// counts the answers to the running poll only. A learner who joins while a
/// poll runs is sent it (and its pause), unless resendPollToLateJoiners is off.
/// A service that no longer knows the sign-in (restarted, or the sign-in
/// expired) is told once: failed() with Veltro::Error::SignInLost; signedIn
/// and live are false, the learners gone and the session with them. Sign in
/// and start a session again.
///
/// **live and connectionState.** connectionState follows the session's
/// connection through every state of PresenterCollab's table, and after the
/// session the connection that is closing, until it is Closed. live says the
/// class is reachable:
///
/// | live | connectionState | When |
/// |---|---|---|
/// | false | Closed | no session |
/// | false | Connecting, Reconnecting | startSession() waits for its connection to come up the first time (busy) |
/// | true | Connected | the connection is up |
/// | true | Reconnecting | a dropped link is being restored |
/// | false | Connected, Closing, Closed | stopSession(), signOut() or a lost sign-in: live turns false at once, the connection then ends |
/// | false | Closed | the connection ended by itself (failed() says why) |
///
/// live is never true while connectionState is Connecting, Closing or Closed.
///
/// **Settings.** client() exists from construction and stays the same for
/// this object's whole life: a host sets TLS, proxy, reconnection and limits
/// on it and connects to its signals (sslErrors(), proxyAuthenticationRequired())
/// once. A new serverUrl reaches it in order with the calls before it: at once
/// when signed out and idle, else at the next signIn() (so signOut(), then
/// signIn(), made back to back, sign in at the new address).
///
/// **Signals.** Each notify signal follows a change of what it notifies.
/// They come from the event loop, except those of the setters and of what an
/// operation changes at once (busy, a cleared error, live false after
/// stopSession(), the poll of this object's poll operations), which arrive
/// inside the call (a poll call a host makes on collab() is heard from the
/// event loop). Those that follow the live connection can arrive inside a
/// blocking call of PresenterClient made by the host on client(). A slot may
/// delete this object on any of its signals. The destructor emits nothing and
/// runs no host code; pending calls are cancelled.
///
/// **Poll states** (pollState). The poll is the live connection's
/// (PresenterCollab::pollState()): pollState, pollKind and the tally follow
/// it, so a host's own calls on collab() count as well as this object's.
///
/// | From | To | When |
/// |---|---|---|
/// | NoPoll, Stopped | Running | startPoll() (pollStateChanged() also when a new poll replaces a running one) |
/// | Running | Paused | pausePoll() |
/// | Paused | Running | resumePoll() |
/// | Running, Paused | Stopped | stopPoll() |
/// | any | NoPoll | the session stopped or its connection ended |
///
/// Classroom::PollState is Veltro::PollState, the type PresenterCollab
/// reports too; QML reads its values as Classroom.Running or Veltro.Running.
///
/// **The teacher's remote.** A remote controller's commands arrive as
/// remoteCommand(), typed (RemoteCommand::Type); what each means is the
/// host's to decide (a NextCard usually moves currentCard on). A message of
/// a type the library does not know, from any sender, arrives as an Unknown
/// command with its type text and data, so nothing is dropped silently; it
/// does not count as a controller's. The devices'
/// messages tell no controller's arrival, only its departure: remotePresent
/// turns true with the first command a controller sends (a controller
/// announces itself with "presenterActive" or "requestLessonInfo") and false
/// when a controller leaves (with several, any one leaving; the next command
/// of another makes it true again) or the session ends. Controllers are kept
/// in step with the lesson: currentCard, totalCards and cardNames ("currentCard"),
/// and lessonId and lessonName ("currentLesson"), are published to them while
/// live whenever they change, and all of it (with "presenterIsActive") when
/// a controller turns up, asks ("requestLessonInfo") or checks
/// ("presenterActive"), and after the live connection is restored.
class VELTROCLIENT_EXPORT Classroom : public QObject
{
    Q_OBJECT
    /// The classroom service's address ("https://host"); see Settings above.
    Q_PROPERTY(QString serverUrl READ serverUrl WRITE setServerUrl NOTIFY serverUrlChanged)
    /// The host application's version sent when a session starts (default "3.0.0").
    Q_PROPERTY(QString hostAppVersion READ hostAppVersion WRITE setHostAppVersion NOTIFY hostAppVersionChanged)
    /// Whether client() is signed in: after a successful signIn(), until
    /// signOut() or the service forgets the sign-in.
    Q_PROPERTY(bool signedIn READ isSignedIn NOTIFY signedInChanged)
    /// The signed-in user id; empty when signed out.
    Q_PROPERTY(QString userName READ userName NOTIFY signedInChanged)
    /// The session's code for learners to type; empty without a session.
    Q_PROPERTY(QString sessionCode READ sessionCode NOTIFY sessionCodeChanged)
    /// True while the class is reachable: the session's connection came up
    /// and the session was not ended (see the table above).
    Q_PROPERTY(bool live READ isLive NOTIFY liveChanged)
    /// The state of the live connection (Closed without one).
    Q_PROPERTY(Veltro::ConnectionState connectionState READ connectionState NOTIFY connectionStateChanged)
    /// The live connection's round trip in ms; -1 when unknown.
    Q_PROPERTY(int roundTripMs READ roundTripMs NOTIFY roundTripMsChanged)
    /// True while a call of this object is pending (startSession() until its
    /// connection is up).
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)
    /// How the last failure happened; None before any.
    Q_PROPERTY(Veltro::Error error READ error NOTIFY errorChanged)
    /// error in words a teacher can act on (Veltro::plainError()); empty
    /// before any failure. The service's own key stays in client()->getLastError().
    Q_PROPERTY(QString errorString READ errorString NOTIFY errorChanged)
    /// The state of the poll (see the table above).
    Q_PROPERTY(Veltro::PollState pollState READ pollState NOTIFY pollStateChanged)
    /// The kind of the running or stopped poll (a name of pollKinds); empty
    /// while pollState is NoPoll.
    Q_PROPERTY(QString pollKind READ pollKind NOTIFY pollStateChanged)
    /// Whether a learner who joins while a poll runs is sent it (default true).
    Q_PROPERTY(bool resendPollToLateJoiners READ resendPollToLateJoiners WRITE setResendPollToLateJoiners
                   NOTIFY resendPollToLateJoinersChanged)
    /// Whether the live connection reconnects after a drop (on by default).
    Q_PROPERTY(bool autoReconnect READ autoReconnect WRITE setAutoReconnect NOTIFY autoReconnectChanged)
    /// The learners present.
    Q_PROPERTY(Veltro::LearnerModel *learners READ learners CONSTANT)
    /// The tally of the running or last poll.
    Q_PROPERTY(Veltro::PollTallyModel *tally READ tally CONSTANT)
    /// The names of the poll kinds startPoll() accepts, in their usual order.
    Q_PROPERTY(QStringList pollKinds READ pollKinds CONSTANT)
    /// The assessment of this classroom, run on its live session.
    Q_PROPERTY(Veltro::Assessment *assessment READ assessment CONSTANT)
    /// Whether a remote controller is taken to be there (see The teacher's remote).
    Q_PROPERTY(bool remotePresent READ isRemotePresent NOTIFY remotePresentChanged)
    /// The current card's number as controllers show it (from 1; 0 before any).
    Q_PROPERTY(int currentCard READ currentCard WRITE setCurrentCard NOTIFY lessonChanged)
    /// The lesson's cards (0 before any).
    Q_PROPERTY(int totalCards READ totalCards WRITE setTotalCards NOTIFY lessonChanged)
    /// The cards' names, one per card; empty: the cards are named "1" to totalCards.
    Q_PROPERTY(QStringList cardNames READ cardNames WRITE setCardNames NOTIFY lessonChanged)
    /// The open lesson's id, as controllers get it.
    Q_PROPERTY(QString lessonId READ lessonId WRITE setLessonId NOTIFY lessonChanged)
    /// The open lesson's name, as controllers show it (any text: it is escaped on its way).
    Q_PROPERTY(QString lessonName READ lessonName WRITE setLessonName NOTIFY lessonChanged)

public:
    /// The states of a poll (Veltro::PollState).
    using PollState = Veltro::PollState;

    /// A signed-out classroom whose client has no address yet (set serverUrl).
    explicit Classroom(QObject *parent = nullptr);
    /// A signed-out classroom with a client for `serverUrl`.
    explicit Classroom(const QString &serverUrl, QObject *parent = nullptr);
    /// Cancels pending calls and lets the client end a live session (as
    /// PresenterClient's destructor does); emits nothing.
    ~Classroom() override;

    /// The service's address.
    QString serverUrl() const;
    /// Sets the service's address (see Settings in the class description).
    void setServerUrl(const QString &url);
    /// The host application's version sent at session start.
    QString hostAppVersion() const;
    /// Sets the host application's version sent at session start.
    void setHostAppVersion(const QString &version);
    /// Whether client() is signed in.
    bool isSignedIn() const;
    /// The signed-in user id; empty when signed out.
    QString userName() const;
    /// The session's code; empty without a session.
    QString sessionCode() const;
    /// True while the class is reachable (see the table of the class).
    bool isLive() const;
    /// The live connection's state; Closed without one.
    Veltro::ConnectionState connectionState() const;
    /// The live connection's round trip in ms; -1 when unknown.
    int roundTripMs() const;
    /// True while a call of this object is pending.
    bool isBusy() const;
    /// How the last failure happened.
    Veltro::Error error() const;
    /// error() in words a teacher can act on.
    QString errorString() const;
    /// The state of the poll.
    PollState pollState() const;
    /// The kind of the running or stopped poll; empty without one.
    QString pollKind() const;
    /// Whether late joiners are sent the running poll.
    bool resendPollToLateJoiners() const;
    /// Turns sending the running poll to late joiners on or off.
    void setResendPollToLateJoiners(bool on);
    /// Whether the live connection reconnects after a drop; on by default
    /// here (a class stays live through a dropped link), while
    /// PresenterClient's own default is off.
    bool autoReconnect() const;
    /// Sets reconnection on client() for live connections opened from now on
    /// (PresenterClient::setAutoReconnect()).
    void setAutoReconnect(bool on);
    /// The learners present (owned by this object).
    Veltro::LearnerModel *learners() const;
    /// The tally (owned by this object).
    Veltro::PollTallyModel *tally() const;
    /// The poll kind names startPoll() accepts.
    QStringList pollKinds() const;
    /// The button text of the poll kind `name`, translated (pollKindLabel());
    /// empty for an unknown kind.
    Q_INVOKABLE QString pollKindLabel(const QString &name) const;
    /// The classroom's assessment (owned by this object; follows the live session).
    Veltro::Assessment *assessment() const;
    /// Whether a remote controller is taken to be there.
    bool isRemotePresent() const;
    /// The current card's number.
    int currentCard() const;
    /// Sets the current card; published to controllers while live.
    void setCurrentCard(int card);
    /// The lesson's cards.
    int totalCards() const;
    /// Sets the number of cards (forgetting cardNames of another length); published while live.
    void setTotalCards(int total);
    /// The cards' names.
    QStringList cardNames() const;
    /// Names the cards (totalCards becomes their number); published while live.
    void setCardNames(const QStringList &names);
    /// The open lesson's id.
    QString lessonId() const;
    /// Sets the open lesson's id; published to controllers while live.
    void setLessonId(const QString &id);
    /// The open lesson's name.
    QString lessonName() const;
    /// Sets the open lesson's name; published to controllers while live.
    void setLessonName(const QString &name);

    /// The client all calls go through (owned by this object), the same one
    /// for this object's whole life; never null.
    PresenterClient *client() const;
    /// The live session's collaboration object (owned by the client); null
    /// without a live session.
    PresenterCollab *collab() const;

public Q_SLOTS:
    /// Signs in with `user` and `password`. On success signedIn and userName
    /// change; on failure failed() (SignInRefused, or the network's reason).
    void signIn(const QString &user, const QString &password);
    /// Signs in with a device access token issued earlier to `deviceId`
    /// (PresenterClient::requestAccessToken()), so that no password is needed.
    /// Reports as signIn(): SignInRefused when the service no longer accepts
    /// the token for this user and device.
    void signInWithToken(const QString &user, const QString &deviceId, const QString &deviceAccessToken);
    /// Creates a session and opens its live connection; sessionCode is set as
    /// soon as the session exists, live becomes true when the connection is
    /// up. A session held before is stopped first. failed() on failure
    /// (NotSignedIn, Service, the connection's reason, or the network's).
    void startSession();
    /// Starts a poll of the kind `kindName` (one of pollKinds) with `options`
    /// options (decimals for a number poll; -1: the kind's default) and
    /// starts the tally on it, with the options `correct` names (ids such as
    /// "B", or labels such as "TRUE") marked correct in the tally and in the
    /// learners' "correct" role (they are not sent to the devices). Returns
    /// false, doing nothing, when not live, for an unknown kind, or for a
    /// count outside the kind's range.
    bool startPoll(const QString &kindName, int options = -1, const QStringList &correct = QStringList());
    /// Pauses the running poll; nothing otherwise.
    void pausePoll();
    /// Resumes the paused poll; nothing otherwise.
    void resumePoll();
    /// Stops the running or paused poll; the tally keeps its rows and counts
    /// nothing more. Nothing otherwise.
    void stopPoll();
    /// Stops the session (the devices are told; the service too), or the
    /// start still under way; live becomes false and the learners are
    /// cleared at once. failed() only when the service could not be told (the
    /// session is forgotten anyway); SessionMissing without a session or start.
    void stopSession();
    /// Signs out, stopping the session or the start under way first. failed()
    /// when the service did not confirm; signedIn then stays true, and
    /// signOut() can be tried again.
    void signOut();
    /// Cancels every pending call of this object, and a start under way
    /// (whose session, if the service started one, is then stopped): one
    /// failed() with Cancelled, from the event loop. Nothing when idle.
    void cancel();
    /// Shows an image as a card on every learner's device, preceded by the
    /// heavy notice when its reference passes 524288 characters. `image` is
    /// PNG bytes (a QByteArray, a QML ArrayBuffer), an image file (a local
    /// path, a file: or qrc: URL; read at once, at most 32 MiB) or an http(s)
    /// URL the devices load themselves. Uses (and clears) the collaboration
    /// object's card image. Returns false, sending nothing, when not live, for
    /// a file that cannot be read or is too large, or for a value of another
    /// kind.
    bool showImageCard(const QVariant &image);

Q_SIGNALS:
    /// serverUrl changed.
    void serverUrlChanged();
    /// hostAppVersion changed.
    void hostAppVersionChanged();
    /// signedIn or userName changed.
    void signedInChanged();
    /// sessionCode changed.
    void sessionCodeChanged();
    /// live changed.
    void liveChanged();
    /// connectionState changed.
    void connectionStateChanged();
    /// roundTripMs changed.
    void roundTripMsChanged();
    /// busy changed.
    void busyChanged();
    /// error or errorString changed (before failed()).
    void errorChanged();
    /// pollState or pollKind changed.
    void pollStateChanged();
    /// resendPollToLateJoiners changed.
    void resendPollToLateJoinersChanged();
    /// autoReconnect changed.
    void autoReconnectChanged();
    /// An operation, or the live connection, failed, or the service forgot
    /// the sign-in: `error` and `message` are error() and errorString(). Once
    /// per failure, from the event loop.
    void failed(Veltro::Error error, const QString &message);
    /// The tally counted an answer of `deviceId` to the running poll: its
    /// first answer or one that replaces it.
    void learnerAnswered(const QString &deviceId, const QString &answer);
    /// remotePresent changed.
    void remotePresentChanged();
    /// currentCard, totalCards, cardNames, lessonId or lessonName changed (inside its setter).
    void lessonChanged();
    /// A remote controller sent `command`. From the event loop.
    void remoteCommand(const Veltro::RemoteCommand &command);

private:
    friend class ClassroomPrivate;
    std::unique_ptr<ClassroomPrivate> d;
};

} // namespace Veltro
