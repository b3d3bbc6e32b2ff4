#include "presenterrun.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>
#include <csignal>

#include "activityoption.h"
#include "assessmentoptions.h"
#include "remotecontrolmessage.h"
#include "plainerror.h"
#include "presenterassessment.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "questionbasewithoptions.h"
#include "questionmultichoice.h"
#include "tallyview.h"
#include "tokenstore.h"

namespace {

// How long joining must be quiet before the learner wait ends when no
// count was given.
const int kQuietJoinMs = 2000;
// At most this many join lines are printed; later joins are only counted.
const int kMaxJoinLines = 40;

volatile std::sig_atomic_t g_interrupted = 0;

QString seconds(double s)
{
    return QStringLiteral("%1 s").arg(s, 0, 'f', s < 10 ? 2 : 1);
}

} // namespace

PresenterRun::PresenterRun(const PresentConfig &config, QTextStream &out, bool interactive, int columns,
                           std::function<QString()> password)
    : m_config(config), m_password(std::move(password)), m_out(out), m_interactive(interactive),
      m_columns(qBound(40, columns, 160))
{
    m_redraw.setInterval(100);
    connect(&m_redraw, &QTimer::timeout, this, [this] { drawTally(false); });
}

void PresenterRun::interrupt()
{
    g_interrupted = 1;
}

QString PresenterRun::noPasswordText()
{
    return QStringLiteral("no password: set VELTRO_PASSWORD, give --password-file FILE, "
                          "or run on a terminal to be asked");
}

PresenterRun::~PresenterRun()
{
    // The assessment refers to the session object, which goes with the
    // client; the client stops a session still open (blocking, bounded).
    delete m_assessment;
    delete m_client;
}

int PresenterRun::exec()
{
    if (!m_config.caCertFile.isEmpty()) {
        const auto certs = QSslCertificate::fromPath(m_config.caCertFile, QSsl::Pem);
        if (certs.isEmpty()) {
            m_out << "cannot read a PEM certificate from " << m_config.caCertFile << "\n";
            m_out.flush();
            return 1;
        }
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(certs);
        QSslConfiguration::setDefaultConfiguration(ssl);
    }

    m_out << "veltro-present: " << m_config.server << " as " << m_config.user << ", "
          << m_config.pollName << " poll";
    if (m_config.assessmentQuestions > 0)
        m_out << ", assessment of " << m_config.assessmentQuestions << " questions";
    m_out << "\n";
    m_out.flush();

    m_client = new PresenterClient(nullptr, m_config.server);
    if (!m_config.transports.isEmpty())
        m_client->setSockJSOverrideProtocols(m_config.transports);

    using S = bool (PresenterRun::*)(QString *, QString *);
    // After Ctrl-C only the closing steps still run.
    auto run = [this](const char *name, S fn, bool evenIfInterrupted = false) {
        if (g_interrupted && !evenIfInterrupted)
            return false;
        return step(QLatin1String(name), [this, fn](QString *d, QString *e) { return (this->*fn)(d, e); });
    };

    bool ok = run("check server", &PresenterRun::checkServer) && run("sign in", &PresenterRun::signIn)
              && run("user name", &PresenterRun::userName) && run("create session", &PresenterRun::createSession)
              && run("upload", &PresenterRun::upload);
    bool live = ok && run("start live session", &PresenterRun::startLive);
    if (live) {
        bool activities = run("learners", &PresenterRun::waitForLearners);
        activities = activities && run("poll", &PresenterRun::runPoll);
        // Whatever happened to the poll, it is stopped before going on.
        activities = run("stop poll", &PresenterRun::stopPoll, true) && activities;
        if (activities && m_config.assessmentQuestions > 0)
            activities = run("assessment", &PresenterRun::runAssessment);
        activities = run("list learners", &PresenterRun::listLearners) && activities;
        ok = activities;
    }
    // Stop what was started even after a failure, so the service is left tidy.
    if (!m_client->getSessionToken().isNull())
        ok = run("stop session", &PresenterRun::stopSession, true) && ok;
    if (m_client->isLoggedIn())
        ok = run("sign out", &PresenterRun::signOut, true) && ok;
    if (g_interrupted) {
        m_out << "interrupted: the session was stopped early\n";
        ok = false;
    }
    m_phase = Phase::Done;
    printSummary();
    m_out << (ok ? "done\n" : "FAILED\n");
    m_out.flush();
    return ok ? 0 : 1;
}

bool PresenterRun::step(const QString &name, const std::function<bool(QString *, QString *)> &body)
{
    ++m_stepNumber;
    m_out << QStringLiteral("%1. %2").arg(m_stepNumber, 2).arg(name) << "\n";
    m_out.flush();
    QElapsedTimer t;
    t.start();
    QString detail, error;
    const bool ok = body(&detail, &error);
    const QString head = QStringLiteral("   %1 %2 ms").arg(ok ? QStringLiteral("ok    ") : QStringLiteral("FAILED"))
                             .arg(t.elapsed(), 6);
    m_out << head;
    if (ok && !detail.isEmpty())
        m_out << "  " << detail;
    if (!ok)
        m_out << "  " << (error.isEmpty() ? QStringLiteral("no reason given") : error);
    m_out << "\n";
    m_out.flush();
    return ok;
}

bool PresenterRun::waitFor(int ms, const std::function<bool()> &done)
{
    if (done() || g_interrupted)
        return done();
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Signals end the wait at once; the tick catches conditions that only
    // time can make true (a quiet period).
    QTimer tick;
    tick.setInterval(100);
    auto check = [&] {
        if (done() || g_interrupted)
            loop.quit();
    };
    connect(&tick, &QTimer::timeout, &loop, check);
    connect(this, &PresenterRun::progressed, &loop, check);
    deadline.start(ms);
    tick.start();
    loop.exec();
    return done();
}

QString PresenterRun::clientError(const QString &fallback) const
{
    const QString e = m_client->getLastError();
    if (e.isNull())
        return fallback;
    // The library's words with the key, to search for, and where this program takes a CA certificate.
    QString words = Veltro::plainError(e);
    if (!words.contains(e))
        words += QStringLiteral(" [") + e + QLatin1Char(']');
    if (e == QLatin1String("SSLRootCertificateMissing"))
        words += QStringLiteral(" (--cacert FILE)");
    return words;
}

bool PresenterRun::checkServer(QString *detail, QString *error)
{
    if (!m_client->checkServer(QString(), QString())) {
        *error = clientError(QStringLiteral("no classroom service answered at %1").arg(m_config.server));
        return false;
    }
    *detail = m_client->getServer();
    return true;
}

bool PresenterRun::signIn(QString *detail, QString *error)
{
    const TokenStore::Account account{m_config.server, m_config.user};
    if (!m_config.keptToken.isEmpty()) {
        if (m_client->doLogin(m_config.user, TokenStore::deviceId(), m_config.keptToken)) {
            *detail = QStringLiteral("%1 (kept sign-in)").arg(m_config.user);
            return true;
        }
        if (m_client->lastErrorCode() != Veltro::Error::SignInRefused) {
            *error = clientError(QStringLiteral("the kept sign-in of %1 could not be used").arg(m_config.user));
            return false;
        }
        TokenStore::call(TokenStore::Op::Forget, account);
        m_out << "   " << TokenStore::refusedText() << "\n";
        m_out.flush();
    }
    const QString password = m_password ? m_password() : QString();
    if (password.isEmpty()) {
        *error = noPasswordText();
        return false;
    }
    if (!m_client->doLogin(m_config.user, password)) {
        *error = clientError(QStringLiteral("the service did not accept the sign-in of %1").arg(m_config.user));
        return false;
    }
    *detail = m_config.user;
    if (m_config.remember)
        *detail += keep(password);
    return true;
}

// Only the device token the service issues for this password is kept.
QString PresenterRun::keep(const QString &password)
{
    const QString token = m_client->doGetAccessToken(m_config.user, password, TokenStore::deviceId(),
                                                     TokenStore::deviceName());
    if (token.isEmpty())
        return QStringLiteral(", not kept: the service issued no device sign-in");
    const TokenStore::Outcome kept =
        TokenStore::call(TokenStore::Op::Write, {m_config.server, m_config.user}, token);
    return kept.kind == TokenStore::Outcome::Done ? QStringLiteral(", kept in the keyring")
                                                  : QStringLiteral(", not kept: %1").arg(kept.reason);
}

bool PresenterRun::userName(QString *detail, QString *error)
{
    const QString name = m_client->doGetUserName();
    if (name.isEmpty()) {
        *error = clientError(QStringLiteral("the service reports no signed-in user"));
        return false;
    }
    *detail = name;
    return true;
}

bool PresenterRun::createSession(QString *detail, QString *error)
{
    if (!m_client->doStartSession()) {
        *error = clientError(QStringLiteral("the service created no session"));
        return false;
    }
    *detail = QStringLiteral("session code %1").arg(m_client->getSessionCode());
    return true;
}

bool PresenterRun::upload(QString *detail, QString *error)
{
    QString fileName;
    QByteArray data;
    if (!m_config.uploadFile.isEmpty()) {
        QFile f(m_config.uploadFile);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(m_config.uploadFile, f.errorString());
            return false;
        }
        data = f.readAll();
        fileName = QFileInfo(m_config.uploadFile).fileName();
    } else {
        fileName = QStringLiteral("lesson-notes.txt");
        data = QStringLiteral("Lesson notes for session %1, written %2.\n")
                   .arg(m_client->getSessionCode(), QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
                   .toUtf8();
    }
    QString resourceId, downloadPath;
    if (!m_client->doUploadResource(fileName, data, &resourceId, &downloadPath)) {
        *error = clientError(QStringLiteral("the service did not store %1").arg(fileName));
        return false;
    }
    *detail = QStringLiteral("%1 (%2 bytes) -> %3").arg(fileName).arg(data.size()).arg(downloadPath);
    return true;
}

bool PresenterRun::startLive(QString *detail, QString *error)
{
    PresenterCollab *collab = nullptr;
    if (!m_client->startWebsocket(&collab) || !collab) {
        *error = clientError(QStringLiteral("the session could not be started live"));
        return false;
    }
    m_collab = collab;
    connect(collab, &PresenterCollab::learnerJoin, this,
            [this](const Veltro::Learner &l) { noteLearner(l, true); });
    connect(collab, &PresenterCollab::learnerUnregister, this, &PresenterRun::onLeave);
    connect(collab, &PresenterCollab::learnerPollResponse, this, &PresenterRun::onResponse);
    connect(collab, &PresenterCollab::remoteControl, this, [this](const Veltro::RemoteControlMessage &m) {
        m_out << "   remote command " << m.type << "\n";
        m_out.flush();
    });
    // A school network drops links: the connection comes back by itself, and
    // the service's list tells who joined while this end could not hear it.
    collab->setAutoReconnect(true);
    connect(collab, &PresenterCollab::reconnecting, this, [this](int attempt, int delayMs) {
        if (!m_linkDown)
            m_out << "   live connection lost\n";
        m_linkDown = true;
        m_out << QStringLiteral("   reconnecting (attempt %1 in %2 ms)\n").arg(attempt).arg(delayMs);
        m_out.flush();
    });
    connect(collab, &PresenterCollab::connected, this, [this] {
        if (!m_linkDown)
            return;
        m_linkDown = false;
        m_out << "   live connection back\n";
        m_out.flush();
        // Not from inside the connection's own signal: the list request blocks.
        QTimer::singleShot(0, this, [this] {
            const QSet<QString> before(m_learners.keyBegin(), m_learners.keyEnd());
            mergeServiceLearners();
            QStringList names;
            for (auto it = m_learners.cbegin(); it != m_learners.cend(); ++it)
                if (!before.contains(it.key()))
                    names << it.value();
            names.sort();
            m_out << (names.isEmpty() ? QStringLiteral("   nobody joined meanwhile\n")
                                      : QStringLiteral("   joined meanwhile: %1\n").arg(names.join(QStringLiteral(", "))));
            m_out.flush();
        });
    });
    connect(collab, &PresenterCollab::connectionClosed, this, [this](bool inactivity) {
        m_connectionClosed = true;
        m_out << (inactivity ? "   live connection closed for inactivity\n" : "   live connection closed\n");
        m_out.flush();
        emit progressed();
    });
    *detail = QStringLiteral("transports %1").arg(m_config.transports.isEmpty()
                                                      ? QStringLiteral("as the service lists them")
                                                      : m_config.transports.join(QLatin1Char(',')));
    return true;
}

void PresenterRun::noteLearner(const Veltro::Learner &learner, bool live)
{
    if (learner.userToken.isEmpty())
        return;
    m_left.remove(learner.userToken);
    const bool fresh = !m_learners.contains(learner.userToken);
    if (fresh || !learner.userName.isEmpty())
        m_learners.insert(learner.userToken, learner.userName);
    const bool freshLive = live && !m_live.contains(learner.userToken);
    if (live)
        m_live.insert(learner.userToken);
    if (fresh || freshLive)
        m_lastChange.start();
    if (fresh && m_phase == Phase::Setup) {
        if (m_joinLinesPrinted < kMaxJoinLines) {
            m_out << QStringLiteral("   + %1 (%2)").arg(learner.userName, learner.deviceType) << "\n";
            m_out.flush();
        } else if (m_joinLinesPrinted == kMaxJoinLines) {
            m_out << "   + ... further joins are counted without a line each\n";
            m_out.flush();
        }
        ++m_joinLinesPrinted;
    }
    if (fresh || freshLive)
        emit progressed();
}

void PresenterRun::onLeave(const QString &deviceId)
{
    if (!m_learners.contains(deviceId) || m_left.contains(deviceId))
        return;
    m_left.insert(deviceId);
    if (m_phase == Phase::Setup) {
        m_out << QStringLiteral("   - %1 left").arg(m_learners.value(deviceId)) << "\n";
        m_out.flush();
    }
    emit progressed();
}

int PresenterRun::presentLearners() const
{
    return m_learners.size() - m_left.size();
}

void PresenterRun::mergeServiceLearners()
{
    // Devices that joined before the live connection was registered are
    // known only to the service's list, so it is merged in.
    if (!m_client->doGetLearners())
        return;
    const auto listed = m_client->getLearners();
    m_serviceListed = listed.size();
    for (const Veltro::Learner &l : listed)
        noteLearner(l, false);
}

bool PresenterRun::waitForLearners(QString *detail, QString *error)
{
    const int limitMs = m_config.learnersWaitSeconds * 1000;
    const int expect = m_config.expectLearners;
    QElapsedTimer clock;
    clock.start();
    mergeServiceLearners();
    // A device is in the service's list as soon as it joined, but hears the
    // poll only once its live connection is registered, which its join
    // message on that connection tells. Joins published before this
    // presenter was listening are lost, so a quiet spell also ends the wait.
    auto quiet = [this] { return m_lastChange.isValid() && m_lastChange.elapsed() >= kQuietJoinMs; };
    auto enough = [&] {
        if (m_connectionClosed)
            return true;
        const int live = int((m_live - m_left).size());
        if (expect > 0)
            return live >= expect || (presentLearners() >= expect && quiet());
        return presentLearners() > 0 && quiet();
    };
    while (!enough() && !g_interrupted && clock.elapsed() < limitMs) {
        waitFor(int(qMin<qint64>(1000, limitMs - clock.elapsed())), enough);
        if (!enough())
            mergeServiceLearners();
    }
    if (m_connectionClosed) {
        *error = QStringLiteral("the live connection closed while waiting for learners");
        return false;
    }
    *detail = QStringLiteral("%1 learners").arg(presentLearners());
    if (g_interrupted)
        *detail += QStringLiteral(" (waiting interrupted)");
    else if (expect > 0 && presentLearners() < expect)
        *detail += QStringLiteral(" (expected %1; gave up waiting after %2 s)").arg(expect).arg(m_config.learnersWaitSeconds);
    else if (presentLearners() == 0)
        *detail += QStringLiteral(" (none joined within %1 s)").arg(m_config.learnersWaitSeconds);
    return true;
}

bool PresenterRun::runPoll(QString *detail, QString *error)
{
    if (!m_collab) {
        *error = QStringLiteral("no live session");
        return false;
    }
    // Answers carry the id of the question the poll sent (or the poll id of
    // a template poll); the tally counts those, with the options devices show.
    m_pollClock.start();
    m_phase = Phase::Poll;
    m_collab->startPoll(m_config.pollType, m_config.ordinalType, m_config.options, m_config.correctOptions);
    m_tally.start(m_collab, m_config.pollType);
    if (m_tally.mode() == Veltro::PollTallyModel::Mode::FirstPick)
        m_out << "   (a sort poll: bars count the option ranked first)\n";
    m_out << "   poll " << m_collab->getPollId() << " sent to " << presentLearners() << " learners\n";
    m_out.flush();

    if (m_interactive)
        m_redraw.start();
    drawTally(false);
    auto allAnswered = [this] {
        if (m_connectionClosed)
            return true;
        const int present = presentLearners();
        if (present == 0)
            return false;
        for (auto it = m_learners.cbegin(); it != m_learners.cend(); ++it) {
            if (!m_left.contains(it.key()) && !m_tally.hasAnswered(it.key()))
                return false;
        }
        return true;
    };
    const bool complete = waitFor(m_config.pollTimeSeconds * 1000, allAnswered) && !m_connectionClosed;
    m_redraw.stop();
    drawTally(true);
    const double elapsed = m_pollClock.elapsed() / 1000.0;
    m_phase = Phase::Setup;

    if (m_connectionClosed) {
        *error = QStringLiteral("the live connection closed during the poll");
        return false;
    }
    if (presentLearners() > 0 && m_tally.answered() == 0) {
        *error = QStringLiteral("no learner answered within %1 s").arg(m_config.pollTimeSeconds);
        return false;
    }
    *detail = QStringLiteral("%1 of %2 learners answered in %3").arg(m_tally.answered()).arg(presentLearners())
                  .arg(seconds(elapsed));
    if (!complete)
        *detail += QStringLiteral(" (time limit reached)");
    return true;
}

void PresenterRun::onResponse(const QString &deviceId, const QString &id, int reportedSeconds, const QString &answer)
{
    if (m_phase == Phase::Poll && id == m_tally.pollId()) {
        const bool first = !m_tally.hasAnswered(deviceId);
        if (m_tally.record(deviceId, id, answer) && first) {
            m_reportedSeconds.append(reportedSeconds);
            m_arrivalSeconds.append(m_pollClock.elapsed() / 1000.0);
        }
        if (!m_learners.contains(deviceId))
            m_learners.insert(deviceId, deviceId);   // answered before its join was seen
        m_live.insert(deviceId);
        if (!m_interactive) {
            // Plain output: a progress line at most twice a second (and for
            // the last answer), so a large class does not flood the log.
            const QString progress = QStringLiteral("   answered %1/%2").arg(m_tally.answered()).arg(presentLearners());
            const bool last = m_tally.answered() >= presentLearners();
            if (progress != m_lastPlainProgress
                && (last || !m_lastPlainPrint.isValid() || m_lastPlainPrint.elapsed() >= 500)) {
                m_out << progress << "\n";
                m_out.flush();
                m_lastPlainProgress = progress;
                m_lastPlainPrint.start();
            }
        }
        emit progressed();
        return;
    }
    if (m_phase == Phase::Assessment && m_questionNumberById.contains(id)) {
        Veltro::PollTallyModel *t = m_assessmentTallies.value(m_questionNumberById.value(id));
        const bool first = t && !t->hasAnswered(deviceId);
        if (t && t->record(deviceId, id, answer)) {
            if (first)
                m_assessmentSeconds.append(reportedSeconds);
            else
                ++m_assessmentRepeats;
        }
        emit progressed();
        return;
    }
    ++m_strayAnswers;
}

void PresenterRun::drawTally(bool final)
{
    m_tally.flush();
    const QStringList lines = renderTally(m_tally, presentLearners(), m_columns - 1, m_pollClock.elapsed() / 1000.0);
    if (m_interactive) {
        m_out << redrawInPlace(m_drawnLines, lines);
        m_drawnLines = lines.size();
    } else if (final) {
        for (const QString &l : lines)
            m_out << l << "\n";
    }
    if (final)
        m_drawnLines = 0;
    m_out.flush();
}

bool PresenterRun::stopPoll(QString *detail, QString *error)
{
    if (!m_collab) {
        *error = QStringLiteral("no live session");
        return false;
    }
    const QString id = m_collab->getPollId();
    m_collab->stopPoll();
    *detail = id.isEmpty() ? QStringLiteral("no poll was running") : QStringLiteral("poll %1").arg(id);
    return true;
}

void PresenterRun::onQuestionRequest(const QString &deviceId, int number)
{
    if (m_phase != Phase::Assessment || !m_assessment)
        return;
    const int n = m_config.assessmentQuestions;
    if (number < 1 || number > n) {
        ++m_badRequests;
        return;
    }
    Veltro::QuestionBase *q = m_questions.value(number);
    if (!q) {
        auto *mc = new Veltro::QuestionMultiChoice(m_assessment);
        for (int i = 0; i < 4; ++i)
            mc->addActivityOption(QString(QChar('A' + i)), QStringLiteral("Answer %1").arg(QChar('A' + i)), i + 1);
        mc->setquestionNumber(number);
        mc->sethasNext(number < n);
        mc->setinstructions(QStringLiteral("Question %1 of %2").arg(number).arg(n));
        m_questions.insert(number, mc);
        m_questionNumberById.insert(mc->getID(), number);
        QVector<Veltro::TallyOption> options;
        for (int i = 0; i < 4; ++i)
            options.append({QString(QChar('A' + i)), QString()});
        auto *tally = new Veltro::PollTallyModel(this);
        tally->start(mc->getID(), Veltro::PollType::MULTIPLE, options);
        m_assessmentTallies.insert(number, tally);
        q = mc;
    }
    m_assessment->sendQuestion(deviceId, q);
    ++m_questionsServed;
}

bool PresenterRun::runAssessment(QString *detail, QString *error)
{
    if (!m_collab) {
        *error = QStringLiteral("no live session");
        return false;
    }
    const int n = m_config.assessmentQuestions;
    m_assessment = new PresenterAssessment(this, m_collab);
    connect(m_assessment, &PresenterAssessment::learnerGetQuestion, this, &PresenterRun::onQuestionRequest);
    Veltro::AssessmentOptions options(nullptr);
    options.setquestionCount(n);
    options.setstartingQuestionNumber(1);
    options.settitle(QStringLiteral("Quick check"));
    options.setallowSkipQuestion(false);
    m_phase = Phase::Assessment;
    QElapsedTimer clock;
    clock.start();
    m_assessment->start(&options);
    m_out << "   assessment " << options.getassessmentToken() << " started: " << n << " questions\n";
    m_out.flush();

    auto finished = [this, n] {
        if (m_connectionClosed)
            return true;
        if (presentLearners() == 0)
            return false;
        for (int q = 1; q <= n; ++q) {
            const auto t = m_assessmentTallies.constFind(q);
            if (t == m_assessmentTallies.cend())
                return false;
            for (auto it = m_learners.cbegin(); it != m_learners.cend(); ++it) {
                if (!m_left.contains(it.key()) && !(*t)->hasAnswered(it.key()))
                    return false;
            }
        }
        return true;
    };
    const bool complete = waitFor(m_config.pollTimeSeconds * 1000, finished) && !m_connectionClosed;
    m_assessment->stop();
    m_phase = Phase::Setup;

    int answers = 0;
    for (int q = 1; q <= n; ++q) {
        const Veltro::PollTallyModel *t = m_assessmentTallies.value(q);
        const int counted = t ? t->answered() : 0;
        answers += counted;
        QStringList parts;
        if (t) {
            m_assessmentTallies.value(q)->flush();
            for (int r = 0; r < t->rowCount(); ++r) {
                const QModelIndex i = t->index(r);
                parts << QStringLiteral("%1 %2").arg(i.data(Veltro::PollTallyModel::LabelRole).toString())
                             .arg(i.data(Veltro::PollTallyModel::CountRole).toInt());
            }
        }
        m_out << QStringLiteral("   question %1: %2 answers%3").arg(q).arg(counted)
                     .arg(parts.isEmpty() ? QString() : QStringLiteral(" (") + parts.join(QStringLiteral(", ")) + QLatin1Char(')'))
              << "\n";
    }
    m_out.flush();
    if (m_connectionClosed) {
        *error = QStringLiteral("the live connection closed during the assessment");
        return false;
    }
    if (presentLearners() > 0 && answers == 0) {
        *error = QStringLiteral("no learner answered within %1 s").arg(m_config.pollTimeSeconds);
        return false;
    }
    *detail = QStringLiteral("%1 questions served, %2 answers in %3").arg(m_questionsServed).arg(answers)
                  .arg(seconds(clock.elapsed() / 1000.0));
    if (!complete)
        *detail += QStringLiteral(" (time limit reached)");
    return true;
}

bool PresenterRun::listLearners(QString *detail, QString *error)
{
    if (!m_client->doGetLearners()) {
        *error = clientError(QStringLiteral("no live session to list learners of"));
        return false;
    }
    const auto listed = m_client->getLearners();
    m_serviceListed = listed.size();
    QStringList names;
    for (const Veltro::Learner &l : listed)
        names << l.userName;
    const int shown = 8;
    QString list = names.mid(0, shown).join(QStringLiteral(", "));
    if (names.size() > shown)
        list += QStringLiteral(", ... (%1 more)").arg(names.size() - shown);
    *detail = QStringLiteral("%1 listed%2").arg(names.size()).arg(names.isEmpty() ? QString() : QStringLiteral(": ") + list);
    return true;
}

bool PresenterRun::stopSession(QString *detail, QString *error)
{
    const QString code = m_client->getSessionCode();
    if (!m_client->doStopSession()) {
        *error = clientError(QStringLiteral("the session could not be stopped"));
        return false;
    }
    *detail = QStringLiteral("session %1").arg(code);
    return true;
}

bool PresenterRun::signOut(QString *detail, QString *error)
{
    if (!m_client->doLogout()) {
        *error = clientError(QStringLiteral("the service did not confirm the sign-out"));
        return false;
    }
    *detail = m_config.user;
    return true;
}

void PresenterRun::printSummary()
{
    m_out << "summary\n";
    m_out << QStringLiteral("   learners    %1 joined, %2 left").arg(m_learners.size()).arg(m_left.size());
    if (m_serviceListed >= 0)
        m_out << QStringLiteral(", %1 listed by the service").arg(m_serviceListed);
    m_out << "\n";
    m_out << QStringLiteral("   answers     %1 to the poll").arg(m_tally.answered());
    if (m_tally.repeats() > 0)
        m_out << QStringLiteral(" (%1 changed)").arg(m_tally.repeats());
    if (m_config.assessmentQuestions > 0) {
        int answers = 0;
        for (const Veltro::PollTallyModel *t : qAsConst(m_assessmentTallies))
            answers += t->answered();
        m_out << QStringLiteral(", %1 to %2 assessment questions (%3 served)")
                     .arg(answers).arg(m_config.assessmentQuestions).arg(m_questionsServed);
    }
    if (m_strayAnswers > 0)
        m_out << QStringLiteral(", %1 outside any activity").arg(m_strayAnswers);
    m_out << "\n";
    const ResponseStats reported = summarize(m_reportedSeconds);
    const ResponseStats arrival = summarize(m_arrivalSeconds);
    if (reported.count > 0) {
        m_out << QStringLiteral("   response    median %1 s, slowest %2 s (as the devices report, whole seconds)")
                     .arg(reported.median, 0, 'f', reported.median == int(reported.median) ? 0 : 1)
                     .arg(reported.slowest, 0, 'f', 0)
              << "\n";
        m_out << QStringLiteral("   arrival     median %1, last %2 after the poll started")
                     .arg(seconds(arrival.median), seconds(arrival.slowest))
              << "\n";
    } else {
        m_out << "   response    no answers\n";
    }
    if (m_config.csv) {
        m_out << "results (CSV)\npoll\n" << m_tally.toCsv();
        for (auto it = m_assessmentTallies.cbegin(); it != m_assessmentTallies.cend(); ++it)
            m_out << "assessment question " << it.key() << "\n" << it.value()->toCsv();
    }
    m_out.flush();
}
