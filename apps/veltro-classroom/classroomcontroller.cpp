#include "classroomcontroller.h"

#include "learner.h"
#include "plainerror.h"
#include "presentconfig.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "questionbase.h"
#include "questionbasewithoptions.h"

// Marks the controller busy for the length of one blocking library call.
class ClassroomController::BusyScope
{
public:
    BusyScope(ClassroomController *c, const QString &text) : m_c(c)
    {
        m_c->m_busyText = text;
        emit m_c->busyChanged(true);
    }
    ~BusyScope()
    {
        m_c->m_busyText.clear();
        emit m_c->busyChanged(false);
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    ClassroomController *m_c;
};

ClassroomController::ClassroomController(QObject *parent)
    : QObject(parent), m_connectionText(QStringLiteral("Not connected"))
{
}

ClassroomController::~ClassroomController()
{
    // Deleting the client while one of its calls waits would pull the object
    // from under that call's nested event loop.
    Q_ASSERT(!busy());
    // The window calls shutdown() first; should a session still run, the
    // client's own stop must not call back into this half-destroyed object.
    if (m_collab)
        m_collab->disconnect(this);
    delete m_client;
}

bool ClassroomController::signIn(const QString &server, const QString &user, const QString &password)
{
    if (busy() || m_stage != Stage::SignedOut)
        return false;
    BusyScope scope(this, QStringLiteral("Signing in to %1...").arg(server));
    delete m_client;
    m_client = new PresenterClient(this, server);
    m_client->setHostAppVersion(QStringLiteral("veltro-classroom"));
    if (!m_client->doLogin(user, password)) {
        fail(QStringLiteral("Sign-in failed: %1").arg(plainError(m_client->getLastError())));
        return false;
    }
    setStage(Stage::SignedIn);
    return true;
}

bool ClassroomController::startSession()
{
    if (busy() || m_stage != Stage::SignedIn || !m_client)
        return false;
    BusyScope scope(this, QStringLiteral("Starting the session..."));
    if (!m_client->doStartSession()) {
        fail(QStringLiteral("The session could not be created: %1").arg(plainError(m_client->getLastError())));
        return false;
    }
    m_sessionCode = m_client->getSessionCode();
    m_learners.clear();
    emit learnersChanged();
    PresenterCollab *collab = nullptr;
    if (!m_client->startWebsocket(&collab) || !collab) {
        fail(QStringLiteral("The live connection did not start: %1").arg(plainError(m_client->getLastError())));
        m_client->doStopSession();
        m_sessionCode.clear();
        return false;
    }
    m_collab = collab;
    collab->setDeadLinkLimit(60000);
    collab->setAutoReconnect(true);
    connect(collab, &PresenterCollab::connected, this, [this] { setConnection(QStringLiteral("Connected")); });
    connect(collab, &PresenterCollab::reconnecting, this, [this](int attempt, int) {
        setConnection(QStringLiteral("Reconnecting (attempt %1)").arg(attempt));
    });
    connect(collab, &PresenterCollab::connectionClosed, this, [this](bool) { setConnection(QStringLiteral("Closed")); });
    connect(collab, &PresenterCollab::learnerJoin, this, &ClassroomController::onJoin);
    connect(collab, &PresenterCollab::learnerUnregister, this, &ClassroomController::onLeave);
    connect(collab, &PresenterCollab::learnerPollResponse, this, &ClassroomController::onResponse);
    setConnection(collab->isConnected() ? QStringLiteral("Connected") : QStringLiteral("Connecting"));
    m_tally = Tally();
    m_pollState = PollState::None;
    emit pollChanged();
    setStage(Stage::Live);
    return true;
}

bool ClassroomController::startPoll(const QString &kindName)
{
    const PollKind *kind = pollKindByName(kindName);
    if (busy() || !m_collab || !kind)
        return false;
    // The poll's question is a new child of the collaboration object; answers
    // name its id (or the poll id), and its options are what devices show.
    m_pollIds.clear();
    const QVector<TallyOption> options = startPollAndReadOptions(m_collab, [&] {
        m_collab->startPoll(kind->pollType, kind->ordinalType, kind->defaultOptions, 1);
    }, &m_pollIds);
    m_pollIds.insert(m_collab->getPollId());
    if (options.isEmpty())
        m_tally = Tally();
    else
        m_tally = Tally(kind->pollType == Veltro::PollType::SORT ? Tally::Mode::FirstPick : Tally::Mode::Choice, options);
    m_pollState = PollState::Running;
    emit pollChanged();
    return true;
}

void ClassroomController::pausePoll()
{
    if (m_collab && m_pollState == PollState::Running) {
        m_collab->pausePoll();
        m_pollState = PollState::Paused;
        emit pollChanged();
    }
}

void ClassroomController::resumePoll()
{
    if (m_collab && m_pollState == PollState::Paused) {
        m_collab->resumePoll();
        m_pollState = PollState::Running;
        emit pollChanged();
    }
}

void ClassroomController::stopPoll()
{
    if (m_collab && (m_pollState == PollState::Running || m_pollState == PollState::Paused)) {
        m_collab->stopPoll();
        m_pollState = PollState::Stopped;
        emit pollChanged();
    }
}

bool ClassroomController::stopSession()
{
    if (busy() || m_stage != Stage::Live || !m_client)
        return false;
    BusyScope scope(this, QStringLiteral("Stopping the session..."));
    stopPoll();
    const bool ok = m_client->doStopSession();
    m_collab = nullptr;
    m_sessionCode.clear();
    m_learners.clear();
    m_pollState = PollState::None;
    setConnection(QStringLiteral("Not connected"));
    emit learnersChanged();
    emit pollChanged();
    setStage(Stage::SignedIn);
    if (!ok)
        fail(QStringLiteral("The service did not confirm the stop: %1").arg(plainError(m_client->getLastError())));
    return ok;
}

void ClassroomController::shutdown()
{
    if (busy() || !m_client)
        return;
    if (m_stage == Stage::Live)
        stopSession();
    if (m_stage == Stage::SignedIn) {
        BusyScope scope(this, QStringLiteral("Signing out..."));
        m_client->doLogout();
    }
    setStage(Stage::SignedOut);
}

void ClassroomController::setStage(Stage stage)
{
    if (m_stage != stage) {
        m_stage = stage;
        emit stageChanged();
    }
}

void ClassroomController::setConnection(const QString &text)
{
    if (m_connectionText != text) {
        m_connectionText = text;
        emit connectionChanged();
    }
}

void ClassroomController::fail(const QString &what)
{
    emit errorOccurred(what);
}

void ClassroomController::onJoin(const Veltro::Learner &learner)
{
    m_learners.insert(learner.userToken, learner.userName.isEmpty() ? learner.userToken : learner.userName);
    emit learnersChanged();
}

void ClassroomController::onLeave(const QString &deviceId)
{
    if (m_learners.remove(deviceId) > 0)
        emit learnersChanged();
}

void ClassroomController::onResponse(const QString &deviceId, const QString &pollId, int, const QString &answer)
{
    if (m_pollState != PollState::Running || !m_pollIds.contains(pollId))
        return;
    m_tally.record(deviceId, answer);
    emit pollChanged();
}
