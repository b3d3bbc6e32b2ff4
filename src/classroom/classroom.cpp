#include "classroom.h"

#include "logging_p.h"
#include "networksettings_p.h"
#include "pollkinds.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "presentercollab_p.h"
#include "presenterreply.h"

#include <QPointer>
#include <QSet>

#include <functional>

namespace Veltro {

class ClassroomPrivate
{
public:
    explicit ClassroomPrivate(Classroom *q) : q(q) {}

    Classroom *q;
    PresenterClient *client = nullptr;
    QString clientServer; // the address the client was made for
    LearnerModel *learners = nullptr;
    PollTallyModel *tally = nullptr;
    QPointer<PresenterCollab> collab;
    QSet<PresenterReply *> pending;

    QString serverUrl;
    QString hostAppVersion = QStringLiteral("3.0.0");
    bool signedIn = false;
    QString userName;
    QString sessionCode;
    bool live = false;
    ConnectionState state = ConnectionState::Closed;
    int roundTrip = -1;
    Error error = Error::None;
    QString errorString;
    bool resend = true;
    // The poll as pollStateChanged() last told it (state, kind, answer id):
    // only to tell each change once, the poll itself is the collaboration's.
    QStringList pollTold{QStringLiteral("0"), QString(), QString()};

    void makeClient();
    // The client's choices for its connections.
    NetworkSettings &settings() const { return client->hub->settings(); }
    // Tracks a call of this object: busy while it is pending; `done` runs on
    // success, `failedToo` (if any) on failure, after it has been reported.
    void track(PresenterReply *reply, std::function<void(PresenterReply *)> done,
               std::function<void()> failedToo = nullptr);
    void fail(Error code, const QString &text);
    void clearError();
    void setBusy(bool before);
    void attach(PresenterCollab *c);
    QPointer<PresenterCollab> detach();
    // Sets a property's field; its notify signal follows when the value changed.
    template <typename T> void assign(T &field, const T &value, void (Classroom::*changed)())
    {
        if (field == value)
            return;
        field = value;
        Q_EMIT (q->*changed)();
    }
    void setLive(bool on) { assign(live, on, &Classroom::liveChanged); }
    void setState(ConnectionState s) { assign(state, s, &Classroom::connectionStateChanged); }
    void setRoundTrip(int ms) { assign(roundTrip, ms, &Classroom::roundTripMsChanged); }
    // The tally and pollStateChanged() follow the live connection's poll,
    // whoever started or stopped it.
    void followPoll();
    void setSessionCode(const QString &code) { assign(sessionCode, code, &Classroom::sessionCodeChanged); }
    void setSignedIn(bool on, const QString &user);
    void sendPollTo(const QString &deviceId);
};

void ClassroomPrivate::makeClient()
{
    PresenterClient *old = client;
    client = new PresenterClient(q, serverUrl);
    clientServer = serverUrl;
    client->setHostAppVersion(hostAppVersion);
    if (old) {
        // What a host set on the old one before choosing the address.
        const NetworkSettings &before = old->hub->settings();
        settings() = before;
        if (before.proxySet)
            client->setProxy(before.proxy); // its network manager too
        old->deleteLater();
    } else {
        client->setAutoReconnect(true);
    }
    learners->setClient(client);
}

void ClassroomPrivate::track(PresenterReply *reply, std::function<void(PresenterReply *)> done,
                             std::function<void()> failedToo)
{
    const bool before = !pending.isEmpty();
    pending.insert(reply);
    QObject::connect(reply, &PresenterReply::finished, q, [this, reply, done, failedToo] {
        const bool before = !pending.isEmpty();
        pending.remove(reply);
        if (reply->error() == Error::None) {
            if (done)
                done(reply);
        } else {
            fail(reply->error(), reply->errorString());
            if (failedToo)
                failedToo();
        }
        setBusy(before);
    });
    setBusy(before);
}

void ClassroomPrivate::setBusy(bool before)
{
    if (before != !pending.isEmpty())
        Q_EMIT q->busyChanged();
}

void ClassroomPrivate::fail(Error code, const QString &text)
{
    error = code;
    errorString = text;
    Q_EMIT q->errorChanged();
    Q_EMIT q->failed(code, text);
}

void ClassroomPrivate::clearError()
{
    if (error == Error::None && errorString.isEmpty())
        return;
    error = Error::None;
    errorString.clear();
    Q_EMIT q->errorChanged();
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
    const QStringList now{QString::number(int(s)), q->pollKind(), answerId};
    if (now == pollTold)
        return;
    pollTold = now;
    Q_EMIT q->pollStateChanged();
}

void ClassroomPrivate::setSignedIn(bool on, const QString &user)
{
    if (signedIn == on && userName == user)
        return;
    signedIn = on;
    userName = user;
    Q_EMIT q->signedInChanged();
}

// A device that has not answered the running poll gets it (with its pause).
void ClassroomPrivate::sendPollTo(const QString &deviceId)
{
    const PollState s = q->pollState();
    if (!resend || !collab || tally->hasAnswered(deviceId) || (s != PollState::Running && s != PollState::Paused))
        return;
    collab->sendCurrentPollTo(deviceId);
}

void ClassroomPrivate::attach(PresenterCollab *c)
{
    collab = c;
    learners->setCollab(c);
    tally->setCollab(c);
    QObject::connect(c, &PresenterCollab::stateChanged, q, [this](ConnectionState s) { setState(s); });
    QObject::connect(c, &PresenterCollab::roundTripChanged, q, [this](int ms) { setRoundTrip(ms); });
    QObject::connect(c, &PresenterCollab::learnerJoin, q, [this](const Learner &l) { sendPollTo(l.userToken); });
    QObject::connect(c, &PresenterCollab::pollStateChanged, q, [this] { followPoll(); });
    QObject::connect(c, &PresenterCollab::connectionClosed, q, [this] {
        // Ended by itself (not by stopSession(), which detaches first).
        const Error why = collab ? collab->error() : Error::None;
        const QString text = collab ? collab->errorString() : QString();
        if (PresenterCollab *ended = detach())
            ended->deleteLater();
        setLive(false);
        if (why != Error::None)
            fail(why, text);
    });
    setState(c->state());
    setRoundTrip(c->roundTripMs());
}

// Lets go of the live connection: the models stop following it and its
// signals no longer reach this object. Returned for deletion once the client
// is done with it (a stop still says goodbye through it).
QPointer<PresenterCollab> ClassroomPrivate::detach()
{
    QPointer<PresenterCollab> old = collab;
    learners->setCollab(nullptr);
    tally->setCollab(nullptr);
    tally->stop();
    if (old)
        old->disconnect(q);
    collab = nullptr;
    setState(ConnectionState::Closed);
    setRoundTrip(-1);
    followPoll();
    return old;
}

Classroom::Classroom(QObject *parent) : Classroom(QString(), parent) {}

Classroom::Classroom(const QString &serverUrl, QObject *parent) : QObject(parent), d(new ClassroomPrivate(this))
{
    d->serverUrl = serverUrl;
    d->learners = new LearnerModel(this);
    d->tally = new PollTallyModel(this);
    d->tally->setLearnerModel(d->learners);
    d->learners->setTally(d->tally);
    d->makeClient();
    connect(d->tally, &PollTallyModel::answerRecorded, this, [this](const QString &deviceId) {
        Q_EMIT learnerAnswered(deviceId, d->tally->answerOf(deviceId));
    });
    connect(d->learners, &LearnerModel::reconciled, this, [this](const QStringList &added) {
        for (const QString &id : added)
            d->sendPollTo(id);
    });
}

Classroom::~Classroom()
{
    // Nothing of the teardown may reach the host: neither the replies'
    // ends, nor the live connection's, nor the models' row changes.
    for (PresenterReply *r : qAsConst(d->pending))
        r->disconnect(this);
    if (d->collab)
        d->collab->disconnect(this);
    d->learners->setCollab(nullptr);
    d->tally->setCollab(nullptr);
    d->learners->blockSignals(true);
    d->tally->blockSignals(true);
    delete d->client;
}

QString Classroom::serverUrl() const { return d->serverUrl; }

void Classroom::setServerUrl(const QString &url)
{
    if (url == d->serverUrl)
        return;
    d->serverUrl = url;
    if (!d->signedIn && d->pending.isEmpty())
        d->makeClient();
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

bool Classroom::isSignedIn() const { return d->signedIn; }
QString Classroom::userName() const { return d->userName; }
QString Classroom::sessionCode() const { return d->sessionCode; }
bool Classroom::isLive() const { return d->live; }
ConnectionState Classroom::connectionState() const { return d->state; }
int Classroom::roundTripMs() const { return d->roundTrip; }
bool Classroom::isBusy() const { return !d->pending.isEmpty(); }
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

bool Classroom::autoReconnect() const { return d->settings().autoReconnect; }

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
PresenterClient *Classroom::client() const { return d->client; }
PresenterCollab *Classroom::collab() const { return d->collab; }

void Classroom::signIn(const QString &user, const QString &password)
{
    d->clearError();
    if (!d->signedIn && d->pending.isEmpty() && d->clientServer != d->serverUrl)
        d->makeClient();
    d->track(d->client->login(user, password), [this, user](PresenterReply *) { d->setSignedIn(true, user); });
}

void Classroom::startSession()
{
    d->clearError();
    if (d->live || d->collab)
        stopSession();
    d->track(d->client->startSession(), [this](PresenterReply *started) {
        d->setSessionCode(started->sessionCode());
        d->track(d->client->startCollab(), [this](PresenterReply *opened) {
            if (PresenterCollab *c = opened->collab()) {
                d->attach(c);
                d->setLive(true);
            }
        });
    }, [this] {
        if (d->error == Error::NotSignedIn)
            d->setSignedIn(false, QString());
    });
}

bool Classroom::startPoll(const QString &kindName, int options)
{
    const PollKind *kind = pollKindByName(kindName);
    if (!d->live || !d->collab || !kind)
        return false;
    const int n = options < 0 ? kind->defaultOptions : options;
    if (n < kind->minOptions || n > kind->maxOptions)
        return false;
    d->collab->startPoll(kind->pollType, kind->ordinalType, n, 1);
    d->followPoll();
    return true;
}

void Classroom::pausePoll()
{
    if (pollState() != PollState::Running)
        return;
    d->collab->pausePoll();
    d->followPoll();
}

void Classroom::resumePoll()
{
    if (pollState() != PollState::Paused)
        return;
    d->collab->resumePoll();
    d->followPoll();
}

void Classroom::stopPoll()
{
    const PollState s = pollState();
    if (s != PollState::Running && s != PollState::Paused)
        return;
    d->collab->stopPoll();
    d->followPoll();
}

void Classroom::stopSession()
{
    d->clearError();
    const QPointer<PresenterCollab> old = d->detach();
    d->setLive(false);
    d->learners->clear();
    const auto over = [this, old] {
        d->setSessionCode(QString());
        if (old)
            old->deleteLater();
    };
    d->track(d->client->stopSession(), [over](PresenterReply *) { over(); }, over);
}

void Classroom::signOut()
{
    d->clearError();
    const QPointer<PresenterCollab> old = d->detach();
    d->setLive(false);
    d->learners->clear();
    // The client stops a live session itself before it signs out.
    const auto over = [this, old] {
        d->setSessionCode(QString());
        d->setSignedIn(false, QString());
        if (old)
            old->deleteLater();
    };
    d->track(d->client->logout(), [over](PresenterReply *) { over(); }, over);
}

void Classroom::cancel()
{
    const auto calls = d->pending;
    for (PresenterReply *r : calls)
        r->cancel();
}

} // namespace Veltro
