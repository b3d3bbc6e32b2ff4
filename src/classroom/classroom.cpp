#include "classroom.h"

#include "assessmentprogressmodel.h"
#include "lessonremote_p.h"
#include "logging_p.h"
#include "networksettings_p.h"
#include "plainerror.h"
#include "pollkinds.h"
#include "presenterclient.h"
#include "presenterclient_p.h"
#include "presentercollab.h"
#include "presentercollab_p.h"
#include "presenterreply.h"
#include "presenterreply_p.h"

#include <QFile>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <functional>

namespace Veltro {

class ClassroomPrivate
{
public:
    explicit ClassroomPrivate(Classroom *q) : q(q) {}

    Classroom *q;
    PresenterClient *client = nullptr; // one for the classroom's whole life
    LearnerModel *learners = nullptr;
    PollTallyModel *tally = nullptr;
    Assessment *assessment = nullptr;
    LessonRemote remote;
    QPointer<PresenterCollab> collab;  // the session's connection, followed from its start
    QPointer<PresenterCollab> closing; // the connection of a session that ended, until it is Closed
    QSet<PresenterReply *> pending;    // calls of this object not yet ended
    QSet<PresenterReply *> cancelled;  // ended by cancel(), which tells it once for all
    QPointer<PresenterReply> opening;    // the start's startCollab(), until overtaken
    QPointer<PresenterReply> signingOut; // a lost sign-in is no news to a host signing out
    QPointer<PresenterReply> addressChange;
    bool starting = false;               // startSession() waits for the connection to come up
    bool live = false;
    bool addressMoved = false;           // serverUrl not yet handed to the client

    QString serverUrl;
    QString hostAppVersion = QStringLiteral("3.0.0");
    ConnectionState state = ConnectionState::Closed; // as told: each state in turn
    int roundTrip = -1;
    Error error = Error::None;
    QString errorString;
    bool resend = true;

    // What the host was last told, so that a notify signal follows a change only.
    struct Told
    {
        bool signedIn = false;
        QString userName;
        QString sessionCode;
        bool live = false;
        int roundTrip = -1;
        bool busy = false;
        Error error = Error::None;
        QString errorString;
        QStringList poll{QStringLiteral("0"), QString(), QString()}; // state, kind, answer id: the poll is the collaboration's
        bool remote = false;
    } told;
    // What reaches the host goes out from the event loop, in order, from
    // flush() alone: a host slot that deletes this object then returns into
    // nothing of the client's, a connection's or a model's.
    QList<std::function<void()>> outbox;
    bool flushQueued = false;

    bool busy() const { return !pending.isEmpty() || starting; }
    void changed();
    void post(std::function<void()> event);
    void flush();
    bool tell(const QPointer<Classroom> &alive);
    // What an operation changed at once is told before it returns, as a setter's change is.
    void tellNow();

    // Which failures of a call are no news to the host.
    enum Quiet { Loud, Quietly, QuietIfNoSession };
    // Tracks a call of this object: busy while it is pending; `done` runs on
    // success, `failedToo` (if any) on failure.
    void track(PresenterReply *reply, std::function<void(PresenterReply *)> done = nullptr,
               std::function<void(PresenterReply *)> failedToo = nullptr, Quiet quiet = Loud);
    bool news(PresenterReply *reply, bool cancelledTogether);
    void fail(Error code, const QString &text);
    void clearError();
    // Ends the session for this object and hands the client `call` (its stop
    // or its sign-out, which stops it too), in order with the calls before.
    PresenterReply *endWith(PresenterReply *(PresenterClient::*call)(), Quiet quiet);
    void useServer();
    // Either sign-in: `login` makes the request on the client, for the address set last.
    void signIn(const std::function<PresenterReply *()> &login);
    void opened(PresenterReply *reply);
    void attach(PresenterCollab *c);
    void watch(PresenterCollab *c);
    void onState(const QPointer<PresenterCollab> &c, ConnectionState s);
    void endSession();
    void ended(PresenterCollab *c);
    // The tally follows the live connection's poll, whoever started or stopped it.
    void followPoll();
    void sendPollTo(const QString &deviceId);
};

void ClassroomPrivate::changed()
{
    if (flushQueued)
        return;
    flushQueued = true;
    QMetaObject::invokeMethod(q, [this] { flush(); }, Qt::QueuedConnection);
}

void ClassroomPrivate::post(std::function<void()> event)
{
    outbox.append(std::move(event));
    changed();
}

void ClassroomPrivate::flush()
{
    flushQueued = false;
    const QPointer<Classroom> alive(q);
    if (!tell(alive))
        return;
    while (!outbox.isEmpty()) {
        const std::function<void()> event = outbox.takeFirst();
        event();
        if (!alive || !tell(alive))
            return;
    }
}

namespace {
template <typename T> bool differs(T &told, const T &now)
{
    if (told == now)
        return false;
    told = now;
    return true;
}
} // namespace

// Tells what changed since the host was last told; false when the host
// deleted this object in a slot.
bool ClassroomPrivate::tell(const QPointer<Classroom> &alive)
{
    const auto say = [&](bool changedNow, void (Classroom::*signal)()) {
        if (changedNow)
            Q_EMIT (q->*signal)();
        return !alive.isNull();
    };
    const bool signedIn = client->isLoggedIn();
    return say(differs(told.signedIn, signedIn) | differs(told.userName, client->signedInUser()),
               &Classroom::signedInChanged)
        && say(differs(told.sessionCode, client->getSessionCode()), &Classroom::sessionCodeChanged)
        && say(differs(told.live, live), &Classroom::liveChanged)
        && say(differs(told.roundTrip, roundTrip), &Classroom::roundTripMsChanged)
        && say(differs(told.busy, busy()), &Classroom::busyChanged)
        && say(differs(told.error, error) | differs(told.errorString, errorString), &Classroom::errorChanged)
        && say(differs(told.poll, QStringList{QString::number(int(q->pollState())), q->pollKind(),
                                              collab ? collab->currentPollAnswerId() : QString()}),
               &Classroom::pollStateChanged)
        && say(differs(told.remote, remote.present), &Classroom::remotePresentChanged);
}

void ClassroomPrivate::track(PresenterReply *reply, std::function<void(PresenterReply *)> done,
                             std::function<void(PresenterReply *)> failedToo, Quiet quiet)
{
    pending.insert(reply);
    QObject::connect(reply, &PresenterReply::finished, q, [this, reply, done, failedToo, quiet] {
        pending.remove(reply);
        const bool together = cancelled.remove(reply);
        if (reply->error() == Error::None) {
            if (done)
                done(reply);
        } else {
            const bool noNews = quiet == Quietly
                || (quiet == QuietIfNoSession && reply->error() == Error::SessionMissing);
            if (!noNews && news(reply, together))
                fail(reply->error(), reply->errorString());
            if (failedToo)
                failedToo(reply);
        }
        // Told now, with the call's end: nothing of the reply's is touched
        // after this, should the host delete this object in a slot.
        flush();
    });
    changed();
}

// Whether a failed call is news to the host: each failure is told once.
bool ClassroomPrivate::news(PresenterReply *reply, bool cancelledTogether)
{
    if (reply->error() == Error::SignInLost)
        return false; // told by the client's signInLost()
    if (reply->error() != Error::Cancelled)
        return true;
    // The call it needed told why, or the cancel() that ended it did.
    return !PresenterReplyPrivate::get(reply)->dependencyFailed && !cancelledTogether;
}

void ClassroomPrivate::fail(Error code, const QString &text)
{
    error = code;
    errorString = plainError(text);
    post([this, code, text = errorString] { Q_EMIT q->failed(code, text); });
}

void ClassroomPrivate::clearError()
{
    error = Error::None;
    errorString.clear();
    changed();
}

PresenterReply *ClassroomPrivate::endWith(PresenterReply *(PresenterClient::*call)(), Quiet quiet)
{
    clearError();
    endSession();
    PresenterReply *reply = (client->*call)();
    track(reply, nullptr, nullptr, quiet);
    return reply;
}

// Hands serverUrl to the client, in order with the calls before it (at once
// when none is pending); a client still signed in at its turn keeps its
// address until the next signIn(). Not a call of the host's: not busy.
void ClassroomPrivate::useServer()
{
    if (!addressMoved)
        return;
    addressMoved = false;
    PresenterReply *change = PresenterClientPrivate::get(client)->setServer(serverUrl);
    addressChange = change;
    QObject::connect(change, &PresenterReply::finished, q, [this, change] {
        if (change->error() != Error::None)
            addressMoved = true;
    });
}

void ClassroomPrivate::signIn(const std::function<PresenterReply *()> &login)
{
    clearError();
    useServer();
    track(login());
    tellNow();
}

void ClassroomPrivate::tellNow()
{
    const QPointer<Classroom> alive(q);
    tell(alive);
}

void ClassroomPrivate::followPoll()
{
    const PollState s = q->pollState();
    const QString answerId = collab ? collab->currentPollAnswerId() : QString();
    if (s == PollState::Running || s == PollState::Paused) {
        if (tally->pollId() != answerId)
            tally->start(collab, PresenterCollabPrivate::get(collab)->pollType());
    } else {
        tally->stop();
    }
    changed();
}

// A device that has not answered the running poll gets it (with its pause).
void ClassroomPrivate::sendPollTo(const QString &deviceId)
{
    const PollState s = q->pollState();
    if (!resend || !collab || tally->hasAnswered(deviceId) || (s != PollState::Running && s != PollState::Paused))
        return;
    collab->sendCurrentPollTo(deviceId);
}

// The start's live connection call ended well: its connection is followed,
// unless a stop, a sign-out, a cancel or another start overtook it; then the
// call queued since ends it, and only its state is followed until it is Closed.
void ClassroomPrivate::opened(PresenterReply *reply)
{
    PresenterCollab *c = reply->collab();
    if (!c)
        return;
    if (opening == reply) {
        opening = nullptr;
        attach(c);
        return;
    }
    watch(c);
    closing = c;
}

void ClassroomPrivate::attach(PresenterCollab *c)
{
    collab = c;
    learners->setCollab(c);
    tally->setCollab(c);
    assessment->setCollab(c);
    remote.collab = c;
    watch(c);
    QObject::connect(c, &PresenterCollab::remoteControl, q, [this](const RemoteControlMessage &m) {
        const RemoteCommand command = remote.heard(m);
        post([this, command] { Q_EMIT q->remoteCommand(command); });
    });
    // A type the library does not know may be a newer controller's command:
    // passed on as Unknown, never dropped, but no sign of a controller.
    QObject::connect(c, &PresenterCollab::unhandledMessage, q, [this](const QVariantMap &body, const QVariant &data) {
        const RemoteCommand command = RemoteCommand::fromMessage(RemoteControlMessage(
            body.value(QStringLiteral("from")).toString(), body.value(QStringLiteral("type")).toString(), data));
        post([this, command] { Q_EMIT q->remoteCommand(command); });
    });
    QObject::connect(c, &PresenterCollab::controllerRegister, q, [this](bool registered) {
        remote.present = registered;
        changed();
    });
    // What controllers missed while the link was down.
    QObject::connect(c, &PresenterCollab::connected, q, [this] {
        if (remote.present)
            remote.publishAll();
    });
    QObject::connect(c, &PresenterCollab::roundTripChanged, q, [this](int ms) {
        roundTrip = ms;
        changed();
    });
    QObject::connect(c, &PresenterCollab::learnerJoin, q, [this](const Learner &l) { sendPollTo(l.userToken); });
    QObject::connect(c, &PresenterCollab::pollStateChanged, q, [this] { post([this] { followPoll(); }); });
    QObject::connect(c, &PresenterCollab::connectionClosed, q,
                     [this, c = QPointer<PresenterCollab>(c)] { post([this, c] { ended(c); }); });
    onState(c, c->state());
    roundTrip = c->roundTripMs();
}

void ClassroomPrivate::watch(PresenterCollab *c)
{
    QObject::connect(c, &PresenterCollab::stateChanged, q,
                     [this, c = QPointer<PresenterCollab>(c)](ConnectionState s) { onState(c, s); });
}

// connectionState shows the session's connection, or after the session the
// one that is closing; each state it passes through is told in turn. live
// turns true when the start's connection first comes up.
void ClassroomPrivate::onState(const QPointer<PresenterCollab> &c, ConnectionState s)
{
    if (!c)
        return;
    if (c == collab || (!collab && c == closing)) {
        post([this, c, s] {
            const bool current = c && c == collab;
            if (current && s == ConnectionState::Connected && starting) {
                starting = false;
                live = true;
            } else if (current && s != ConnectionState::Connected && s != ConnectionState::Reconnecting) {
                live = false;
            }
            if (state == s)
                return;
            state = s;
            Q_EMIT q->connectionStateChanged();
        });
    }
    if (s == ConnectionState::Closed && c != collab) {
        if (c == closing)
            closing = nullptr;
        c->deleteLater();
    }
}

// The session is over for this object (stopped, signed out, lost, overtaken
// or its connection ended): the models let go of it and the learners go; a
// connection still closing is followed until it is Closed.
void ClassroomPrivate::endSession()
{
    if (starting || opening) { // overtaken: that start never goes live
        starting = false;
        opening = nullptr;
    }
    live = false;
    roundTrip = -1;
    remote.collab = nullptr;
    remote.present = false;
    if (PresenterCollab *c = collab) {
        learners->setCollab(nullptr);
        tally->setCollab(nullptr);
        assessment->setCollab(nullptr);
        c->disconnect(q);
        collab = nullptr;
        followPoll(); // no poll without the connection
        if (c->state() == ConnectionState::Closed) {
            c->deleteLater();
        } else {
            watch(c);
            closing = c;
        }
    }
    learners->clear();
    changed();
}

// The session's connection ended by itself (it failed, or gave up reconnecting).
void ClassroomPrivate::ended(PresenterCollab *c)
{
    if (!c || c != collab)
        return;
    const Error why = c->error();
    const QString text = c->errorString();
    endSession();
    if (why != Error::None)
        fail(why, text);
}

Classroom::Classroom(QObject *parent) : Classroom(QString(), parent) {}

Classroom::Classroom(const QString &serverUrl, QObject *parent) : QObject(parent), d(new ClassroomPrivate(this))
{
    d->serverUrl = serverUrl;
    d->client = new PresenterClient(this, serverUrl);
    d->client->setAutoReconnect(true);
    d->client->setHostAppVersion(d->hostAppVersion);
    d->learners = new LearnerModel(this);
    d->learners->setClient(d->client);
    d->tally = new PollTallyModel(this);
    d->tally->setLearnerModel(d->learners);
    d->learners->setTally(d->tally);
    d->assessment = new Assessment(this);
    d->assessment->setLearnerModel(d->learners);
    // The sign-in and the session are the client's; this object tells what changed.
    connect(d->client, &PresenterClient::signedInChanged, this, [this] { d->changed(); });
    connect(d->client, &PresenterClient::sessionChanged, this, [this] {
        d->post([this] {
            if (d->collab && d->client->getSessionToken().isNull())
                d->endSession(); // stopped through client() itself
        });
    });
    connect(d->client, &PresenterClient::signInLost, this, [this] {
        d->post([this] {
            if (d->signingOut)
                return;
            d->endSession();
            d->fail(Error::SignInLost, errorDescription(Error::SignInLost));
        });
    });
    connect(d->tally, &PollTallyModel::answerRecorded, this, [this](const QString &deviceId) {
        const QString answer = d->tally->answerOf(deviceId);
        d->post([this, deviceId, answer] { Q_EMIT learnerAnswered(deviceId, answer); });
    });
    connect(d->learners, &LearnerModel::reconciled, this, [this](const QStringList &added) {
        for (const QString &id : added)
            d->sendPollTo(id);
    });
}

Classroom::~Classroom()
{
    // Nothing of the teardown may reach the host: neither the replies'
    // ends, nor the client's or the live connection's, nor the models' row changes.
    for (PresenterReply *r : qAsConst(d->pending))
        r->disconnect(this);
    d->client->disconnect(this);
    for (PresenterCollab *c : {d->collab.data(), d->closing.data()}) {
        if (c)
            c->disconnect(this);
    }
    d->learners->setCollab(nullptr);
    d->tally->setCollab(nullptr);
    for (QObject *o : std::initializer_list<QObject *>{d->learners, d->tally, d->assessment, d->assessment->progress()})
        o->blockSignals(true);
    d->assessment->setCollab(nullptr);
    delete d->client;
}

QString Classroom::serverUrl() const { return d->serverUrl; }

void Classroom::setServerUrl(const QString &url)
{
    if (url == d->serverUrl)
        return;
    d->serverUrl = url;
    d->addressMoved = true;
    if (!d->client->isLoggedIn() && d->pending.isEmpty())
        d->useServer();
    Q_EMIT serverUrlChanged();
}

QString Classroom::hostAppVersion() const { return d->hostAppVersion; }

void Classroom::setHostAppVersion(const QString &version)
{
    if (version == d->hostAppVersion)
        return;
    d->hostAppVersion = version;
    d->client->setHostAppVersion(version);
    Q_EMIT hostAppVersionChanged();
}

bool Classroom::isSignedIn() const { return d->client->isLoggedIn(); }
QString Classroom::userName() const { return d->client->signedInUser(); }
QString Classroom::sessionCode() const { return d->client->getSessionCode(); }
bool Classroom::isLive() const { return d->live; }
ConnectionState Classroom::connectionState() const { return d->state; }
int Classroom::roundTripMs() const { return d->roundTrip; }
bool Classroom::isBusy() const { return d->busy(); }
Error Classroom::error() const { return d->error; }
QString Classroom::errorString() const { return d->errorString; }
PollState Classroom::pollState() const { return d->collab ? d->collab->pollState() : PollState::NoPoll; }

QString Classroom::pollKind() const
{
    if (pollState() == PollState::NoPoll)
        return QString();
    const PollType::POLL_TYPE type = PresenterCollabPrivate::get(d->collab)->pollType();
    const QStringList names = pollKindNames();
    for (const QString &name : names) {
        if (pollKindByName(name)->pollType == type)
            return name;
    }
    return QString();
}

bool Classroom::resendPollToLateJoiners() const { return d->resend; }

bool Classroom::autoReconnect() const { return d->client->autoReconnect(); }

void Classroom::setAutoReconnect(bool on)
{
    if (on == autoReconnect())
        return;
    d->client->setAutoReconnect(on);
    Q_EMIT autoReconnectChanged();
}

void Classroom::setResendPollToLateJoiners(bool on)
{
    if (on == d->resend)
        return;
    d->resend = on;
    Q_EMIT resendPollToLateJoinersChanged();
}

LearnerModel *Classroom::learners() const { return d->learners; }
PollTallyModel *Classroom::tally() const { return d->tally; }
QStringList Classroom::pollKinds() const { return pollKindNames(); }
QString Classroom::pollKindLabel(const QString &name) const { return Veltro::pollKindLabel(name); }
Assessment *Classroom::assessment() const { return d->assessment; }
bool Classroom::isRemotePresent() const { return d->remote.present; }
int Classroom::currentCard() const { return d->remote.currentCard; }
int Classroom::totalCards() const { return d->remote.totalCards; }
QStringList Classroom::cardNames() const { return d->remote.cardNames; }
QString Classroom::lessonId() const { return d->remote.lessonId; }
QString Classroom::lessonName() const { return d->remote.lessonName; }

namespace {
// Sets `field` to `value`; false when it held it already.
template <typename T> bool store(T &field, const T &value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}
} // namespace

void Classroom::setCurrentCard(int card)
{
    if (!store(d->remote.currentCard, card))
        return;
    d->remote.publishCard();
    Q_EMIT lessonChanged();
}

void Classroom::setTotalCards(int total)
{
    if (!store(d->remote.totalCards, qMax(0, total)))
        return;
    if (d->remote.cardNames.size() != d->remote.totalCards)
        d->remote.cardNames.clear();
    d->remote.publishCard();
    Q_EMIT lessonChanged();
}

void Classroom::setCardNames(const QStringList &names)
{
    const bool renamed = store(d->remote.cardNames, names);
    if (!(store(d->remote.totalCards, int(names.size())) | renamed))
        return;
    d->remote.publishCard();
    Q_EMIT lessonChanged();
}

void Classroom::setLessonId(const QString &id)
{
    if (!store(d->remote.lessonId, id))
        return;
    d->remote.publishLesson();
    Q_EMIT lessonChanged();
}

void Classroom::setLessonName(const QString &name)
{
    if (!store(d->remote.lessonName, name))
        return;
    d->remote.publishLesson();
    Q_EMIT lessonChanged();
}

bool Classroom::showImageCard(const QVariant &image)
{
    // Files are read whole and sent as a data URL: a bound keeps a wrong pick of file from taking the memory.
    static const qint64 MAX_IMAGE_FILE = 32 << 20;
    if (!d->live || !d->collab)
        return false;
    QByteArray bytes;
    QString url;
    if (image.userType() == QMetaType::QByteArray) {
        bytes = image.toByteArray();
    } else if (image.canConvert<QUrl>() || image.userType() == QMetaType::QString) {
        const QString text = image.toString();
        const QUrl u = image.userType() == QMetaType::QUrl ? image.toUrl() : QUrl(text);
        const QString scheme = u.scheme().toLower();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
            url = u.toString();
        } else {
            const QString path = u.isLocalFile() ? u.toLocalFile()
                : scheme == QLatin1String("qrc") ? QLatin1Char(':') + u.path()
                                                 : text;
            QFile file(path);
            if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > MAX_IMAGE_FILE)
                return false;
            bytes = file.readAll();
        }
    }
    if (bytes.isEmpty() && url.isEmpty())
        return false;
    if (!bytes.isEmpty())
        d->collab->setCardImage(bytes);
    else
        d->collab->setCardImage(url);
    d->collab->showImageCard(true);
    return true;
}
PresenterClient *Classroom::client() const { return d->client; }
PresenterCollab *Classroom::collab() const { return d->collab; }

void Classroom::signIn(const QString &user, const QString &password)
{
    d->signIn([&] { return d->client->login(user, password); });
}

void Classroom::signInWithToken(const QString &user, const QString &deviceId, const QString &deviceAccessToken)
{
    d->signIn([&] { return d->client->login(user, deviceId, deviceAccessToken); });
}

void Classroom::startSession()
{
    d->clearError();
    d->endSession(); // the client stops a session it still holds before it creates the next
    d->starting = true;
    d->track(d->client->startSession());
    // Queued at once behind the create, so that a stop made next comes after it.
    PresenterReply *open = d->client->startCollab();
    d->opening = open;
    d->track(open, [this](PresenterReply *r) { d->opened(r); }, [this, open](PresenterReply *) {
        if (d->opening == open) {
            d->opening = nullptr;
            d->starting = false;
        }
    });
    d->tellNow();
}

bool Classroom::startPoll(const QString &kindName, int options, const QStringList &correct)
{
    const PollKind *kind = pollKindByName(kindName);
    if (!d->live || !d->collab || !kind)
        return false;
    const int n = options < 0 ? kind->defaultOptions : options;
    if (n < kind->minOptions || n > kind->maxOptions)
        return false;
    d->collab->startPoll(kind->pollType, kind->ordinalType, n, qMax(1, int(correct.size())));
    d->followPoll();
    d->tally->setCorrectOptions(correct);
    d->tellNow();
    return true;
}

void Classroom::pausePoll()
{
    if (pollState() != PollState::Running)
        return;
    d->collab->pausePoll();
    d->followPoll();
    d->tellNow();
}

void Classroom::resumePoll()
{
    if (pollState() != PollState::Paused)
        return;
    d->collab->resumePoll();
    d->followPoll();
    d->tellNow();
}

void Classroom::stopPoll()
{
    const PollState s = pollState();
    if (s != PollState::Running && s != PollState::Paused)
        return;
    d->collab->stopPoll();
    d->followPoll();
    d->tellNow();
}

void Classroom::stopSession()
{
    // A start this overtakes may not have got as far as a session to stop.
    d->endWith(&PresenterClient::stopSession,
               d->starting ? ClassroomPrivate::QuietIfNoSession : ClassroomPrivate::Loud);
    d->tellNow();
}

void Classroom::signOut()
{
    d->signingOut = d->endWith(&PresenterClient::logout, ClassroomPrivate::Loud);
    d->tellNow();
}

void Classroom::cancel()
{
    if (d->addressChange)
        d->addressChange->cancel();
    if (!d->busy())
        return;
    // One cancel, one failure: the calls it ends say nothing of their own.
    const bool wasStarting = d->starting;
    d->fail(Error::Cancelled, errorDescription(Error::Cancelled));
    d->cancelled = d->pending;
    for (PresenterReply *r : qAsConst(d->cancelled))
        r->cancel();
    if (wasStarting) {
        // A start may have got as far as a session on the service: it is stopped.
        d->endSession();
        d->track(d->client->stopSession(), nullptr, nullptr, ClassroomPrivate::Quietly);
    }
    d->tellNow();
}

} // namespace Veltro
