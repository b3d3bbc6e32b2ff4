// End to end: the classroom object and its models against the stand-in service and twenty simulated
// devices: rows equal to the devices present, the tally of each kind of poll, late answers and late joiners,
// the roster after a drop, failures reported once, and ends that wait for no compression.
#include <QAbstractItemModelTester>
#include <QNetworkProxy>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslConfiguration>

#include "classroom.h"
#include "learnermodel.h"
#include "livetestutil.h"
#include "pollkinds.h"
#include "polltallymodel.h"
#include "presentercollab_p.h"

using namespace Veltro;

namespace {

const int CLASS_SIZE = 20;

QSet<QString> tokensOf(const LearnerModel &m)
{
    QSet<QString> out;
    for (const Learner &l : m.learners())
        out.insert(l.userToken);
    return out;
}

// The rows of a tally as optionId (or label) -> count.
QMap<QString, int> countsOf(PollTallyModel &t)
{
    t.flush();
    QMap<QString, int> out;
    for (int r = 0; r < t.rowCount(); ++r) {
        const QModelIndex i = t.index(r);
        const QString id = i.data(PollTallyModel::OptionIdRole).toString();
        out.insert(id.isEmpty() ? i.data(PollTallyModel::LabelRole).toString() : id,
                   i.data(PollTallyModel::CountRole).toInt());
    }
    return out;
}

} // namespace

class TestLiveClassroom : public QObject
{
    Q_OBJECT

    std::unique_ptr<Classroom> room;
    std::unique_ptr<QAbstractItemModelTester> learnersTester, tallyTester;
    LiveSession live; // the classroom's session, for the helpers
    QStringList devices;

    bool goLive(Classroom *c)
    {
        c->signIn(QStringLiteral("teacher"), QStringLiteral("veltro"));
        c->startSession();
        return QTest::qWaitFor([c] { return c->isLive() && c->connectionState() == ConnectionState::Connected; },
                               LIVE_WAIT_MS);
    }

private Q_SLOTS:
    void initTestCase()
    {
        registerLiveTypes();
        QVERIFY2(StandIn::shared(), "the stand-in service fixture is not running");
        room = std::make_unique<Classroom>(StandIn::shared()->server());
        learnersTester = std::make_unique<QAbstractItemModelTester>(
            room->learners(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        tallyTester = std::make_unique<QAbstractItemModelTester>(
            room->tally(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        QSignalSpy busy(room.get(), &Classroom::busyChanged);
        QVERIFY(goLive(room.get()));
        QVERIFY(room->isSignedIn() && room->userName() == QLatin1String("teacher") && !room->isBusy());
        QVERIFY(busy.size() >= 2);
        QCOMPARE(room->sessionCode(), room->client()->getSessionCode());
        QCOMPARE(room->collab()->state(), ConnectionState::Connected);
        live.standIn = StandIn::shared();
        live.code = room->sessionCode();
        live.token = room->client()->getSessionToken();

        // Half the class fills both parts of an option answer: a text ("YES", or other ids' letters) and the ids.
        devices = live.addLearners(CLASS_SIZE / 2) + live.addLearners(CLASS_SIZE / 2, {}, {{"fillText", true}});
        QCOMPARE(devices.size(), CLASS_SIZE);
        // One row per device present, each once, with what the device said of itself.
        QTRY_COMPARE_WITH_TIMEOUT(tokensOf(*room->learners()), QSet<QString>(devices.begin(), devices.end()),
                                  LIVE_WAIT_MS);
        QCOMPARE(room->learners()->count(), CLASS_SIZE);
        QCOMPARE(room->tally()->present(), CLASS_SIZE);
        QCOMPARE(room->learners()->index(0).data(LearnerModel::DeviceTypeRole).toString(), QStringLiteral("tablet"));
        QCOMPARE(tokensOf(*room->learners()), live.serviceLearners());
    }

    void cleanupTestCase()
    {
        learnersTester.reset();
        tallyTester.reset();
        room.reset();
    }

    // Each device answers the poll once; the tally's rows equal the answers the collaboration object relayed,
    // counted here by the option each chose (whatever text came with it) or by text. Then the poll stops, and
    // an answer that arrives later, with the stopped poll's id, is relayed but not counted. A host may start
    // and stop the poll on collab() itself: the classroom and its tally follow.
    void polls_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("answer"); // pattern of every answer's one option id, or of its text
        QTest::addColumn<bool>("byText");
        QTest::addColumn<bool>("onCollab");
        QTest::newRow("multiple choice") << "multiple" << "[A-D]" << false << false;
        QTest::newRow("yes/no, the host's own calls on collab()") << "yes-no" << "[AB?]" << false << true;
        QTest::newRow("free text") << "text" << ".+" << true << false;
        QTest::newRow("word seed, a template poll") << "word-seed" << ".+" << true << false;
    }

    void polls()
    {
        QFETCH(QString, kind);
        QFETCH(QString, answer);
        QFETCH(bool, byText);
        QFETCH(bool, onCollab);
        QSignalSpy relayed(room->collab(), &PresenterCollab::learnerAnswer);
        QSignalSpy joined(room->collab(), &PresenterCollab::learnerPollResponse);
        QSignalSpy answered(room.get(), &Classroom::learnerAnswered);
        QSignalSpy states(room.get(), &Classroom::pollStateChanged);
        if (onCollab) {
            const PollKind *k = pollKindByName(kind);
            room->collab()->startPoll(k->pollType, k->ordinalType, k->defaultOptions);
            QTRY_COMPARE(states.size(), 1);
        } else {
            QVERIFY(room->startPoll(kind));
        }
        QCOMPARE(room->pollState(), PollState::Running);
        QCOMPARE(room->pollKind(), kind);
        const QString answerId = room->collab()->currentPollAnswerId();
        QCOMPARE(room->tally()->pollId(), answerId);
        QTRY_COMPARE_WITH_TIMEOUT(room->tally()->answered(), CLASS_SIZE, LIVE_WAIT_MS);

        QMap<QString, int> expected;
        const QRegularExpression pattern(QLatin1Char('^') + answer + QLatin1Char('$'));
        for (const auto &args : qAsConst(relayed)) {
            QCOMPARE(args.at(1).toString(), answerId);
            const QStringList ids = args.at(4).toStringList();
            QCOMPARE(ids.size(), byText ? 0 : 1);
            const QString a = byText ? args.at(3).toString() : ids.first();
            QVERIFY2(pattern.match(a).hasMatch(), qPrintable(a));
            ++expected[byText ? a.trimmed() : a];
        }
        if (!byText) {
            for (const TallyOption &o : room->tally()->options())
                expected.insert(o.id, expected.value(o.id));
        }
        QCOMPARE(relayed.size(), CLASS_SIZE);
        QCOMPARE(answered.size(), CLASS_SIZE);
        QTRY_COMPARE(countsOf(*room->tally()), expected);
        for (const auto &args : qAsConst(joined)) // what a device answered reads as the relayed text
            QCOMPARE(room->tally()->answerOf(args.at(0).toString()), args.at(3).toString());
        // The learners show who answered what.
        room->learners()->flush();
        for (int r = 0; r < room->learners()->rowCount(); ++r) {
            const QModelIndex i = room->learners()->index(r);
            QVERIFY(i.data(LearnerModel::AnsweredRole).toBool());
            QCOMPARE(i.data(LearnerModel::AnswerRole).toString(),
                     room->tally()->answerOf(i.data(LearnerModel::DeviceIdRole).toString()));
        }

        onCollab ? room->collab()->stopPoll() : room->stopPoll();
        QTRY_COMPARE(states.size(), 2);
        QCOMPARE(room->pollState(), PollState::Stopped);
        QVERIFY(!room->tally()->isCounting());
        QVERIFY(live.answerAs(devices.first(), answerId, byText ? QStringLiteral("late") : QStringLiteral("B")));
        QTRY_COMPARE_WITH_TIMEOUT(relayed.size(), CLASS_SIZE + 1, LIVE_WAIT_MS);
        QCOMPARE(room->tally()->answered(), CLASS_SIZE);
        QCOMPARE(countsOf(*room->tally()), expected);
        QCOMPARE(answered.size(), CLASS_SIZE);
    }

    // A device that joins while a poll runs is sent it (and its pause), and its answer counts; with the
    // resend turned off it gets nothing before the next broadcast (here the pause).
    void lateJoiner_data()
    {
        QTest::addColumn<bool>("resend");
        QTest::addColumn<bool>("paused");
        QTest::newRow("running") << true << false;
        QTest::newRow("paused") << true << true;
        QTest::newRow("resend off") << false << false;
    }

    void lateJoiner()
    {
        QFETCH(bool, resend);
        QFETCH(bool, paused);
        room->setResendPollToLateJoiners(resend);
        QVERIFY(room->startPoll(QStringLiteral("multiple")));
        QTRY_COMPARE_WITH_TIMEOUT(room->tally()->answered(), room->learners()->count(), LIVE_WAIT_MS);
        if (paused)
            room->pausePoll();
        const QStringList late = live.addLearners(1);
        QCOMPARE(late.size(), 1);
        const QString device = late.first();
        devices << device;
        QTRY_VERIFY_WITH_TIMEOUT(room->learners()->rowOf(device) >= 0, LIVE_WAIT_MS);
        if (!resend) {
            room->pausePoll();
            QCOMPARE(live.waitForRecords(device, QStringLiteral("pause")).size(), 1);
            QVERIFY(live.recordsOfType(device, QStringLiteral("questionStart")).isEmpty());
        } else {
            const auto question = live.waitForRecords(device, QStringLiteral("questionStart"));
            QCOMPARE(question.size(), 1);
            QCOMPARE(str(question.first().value(QStringLiteral("data")).toObject(), "id"),
                     room->collab()->currentPollAnswerId());
            QCOMPARE(str(question.first(), "address"), live.token + QStringLiteral(".user.") + device);
            if (paused) {
                QCOMPARE(live.waitForRecords(device, QStringLiteral("pause")).size(), 1);
                room->resumePoll();
            }
            QTRY_VERIFY_WITH_TIMEOUT(room->tally()->hasAnswered(device), LIVE_WAIT_MS);
        }
        room->stopPoll();
        room->setResendPollToLateJoiners(true);
    }

    // A learner model following a collaboration object alone: after the link drops while devices join and
    // leave, the reconnection leaves it equal to the service's list.
    void rosterAfterDrop()
    {
        LiveSession own;
        QString err = own.start(StandIn::shared(), QStringLiteral("websocket"));
        QVERIFY2(err.isEmpty(), qPrintable(err));
        own.collab->setAutoReconnect(true);
        // Long enough for the joins and departures below to fall into the gap.
        own.collab->setReconnectDelays(6000, 6000);
        LearnerModel roster;
        QAbstractItemModelTester tester(&roster, QAbstractItemModelTester::FailureReportingMode::Fatal);
        roster.setCollab(own.collab);
        QSignalSpy reconciled(&roster, &LearnerModel::reconciled);
        const QStringList first = own.addLearners(6);
        QCOMPARE(first.size(), 6);
        QTRY_COMPARE_WITH_TIMEOUT(roster.count(), 6, LIVE_WAIT_MS);

        QSignalSpy reconnecting(own.collab, &PresenterCollab::reconnecting);
        QVERIFY(own.standIn->control("POST", QStringLiteral("/presenter/drop"), {{"sessionToken", own.token}})
                    .object().value(QStringLiteral("dropped")).toInt() >= 1);
        QTRY_COMPARE_WITH_TIMEOUT(reconnecting.size(), 1, LIVE_WAIT_MS);
        const QStringList joined = own.addLearners(3);
        QCOMPARE(joined.size(), 3);
        for (const QString &t : first.mid(0, 2))
            QVERIFY(own.control(QStringLiteral("/learners/leave"), {{"token", t}}).value(QStringLiteral("ok")).toBool());
        QVERIFY2(own.collab->state() == ConnectionState::Reconnecting, "the link came back too early for the test");
        QCOMPARE(roster.count(), 6); // nothing of it seen yet

        QTRY_COMPARE_WITH_TIMEOUT(reconciled.size(), 1, LIVE_WAIT_MS);
        QTRY_COMPARE_WITH_TIMEOUT(tokensOf(roster), own.serviceLearners(), LIVE_WAIT_MS);
        QCOMPARE(roster.count(), 7);
        QStringList added = reconciled.first().at(0).toStringList();
        QStringList removed = reconciled.first().at(1).toStringList();
        std::sort(added.begin(), added.end());
        std::sort(removed.begin(), removed.end());
        QStringList wantAdded = joined, wantRemoved = first.mid(0, 2);
        std::sort(wantAdded.begin(), wantAdded.end());
        std::sort(wantRemoved.begin(), wantRemoved.end());
        QCOMPARE(added, wantAdded);
        QCOMPARE(removed, wantRemoved);
    }

    // Each failure is reported once, typed, with a text, and busy covers the call.
    void failures_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("error");
        QTest::newRow("wrong password") << "signIn" << int(Error::SignInRefused);
        QTest::newRow("session without a sign-in") << "startSession" << int(Error::NotSignedIn);
        QTest::newRow("stop without a session") << "stopSession" << int(Error::SessionMissing);
        QTest::newRow("cancelled sign-in") << "cancel" << int(Error::Cancelled);
    }

    void failures()
    {
        QFETCH(QString, call);
        QFETCH(int, error);
        Classroom c(StandIn::shared()->server());
        QSignalSpy failed(&c, &Classroom::failed);
        QSignalSpy busy(&c, &Classroom::busyChanged);
        if (call == QLatin1String("signIn")) {
            c.signIn(QStringLiteral("teacher"), QStringLiteral("wrong"));
        } else if (call == QLatin1String("startSession")) {
            c.startSession();
        } else if (call == QLatin1String("stopSession")) {
            c.stopSession();
        } else {
            c.signIn(QStringLiteral("teacher"), QStringLiteral("veltro"));
            c.cancel();
        }
        QVERIFY(c.isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(!c.isBusy(), LIVE_WAIT_MS);
        QCOMPARE(busy.size(), 2);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(int(failed.first().at(0).value<Error>()), error);
        QCOMPARE(int(c.error()), error);
        QVERIFY(!c.errorString().isEmpty());
        QCOMPARE(failed.first().at(1).toString(), c.errorString());
        QVERIFY(!c.isSignedIn() && !c.isLive());
        QTest::qWait(0);
        QCOMPARE(failed.size(), 1);
    }

    // A new address brings a new client; what the host set for its connections comes along, and a class
    // reconnects after a drop unless told otherwise.
    void settingsOutliveTheAddress()
    {
        Classroom c(QStringLiteral("http://127.0.0.1:9"));
        QVERIFY(c.autoReconnect());
        QSignalSpy changed(&c, &Classroom::autoReconnectChanged);
        c.setAutoReconnect(false);
        const QNetworkProxy proxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 3128);
        c.client()->setProxy(proxy);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyDepth(3);
        c.client()->setSslConfiguration(tls);
        const PresenterClient *before = c.client();
        c.setServerUrl(QStringLiteral("http://127.0.0.1:10"));
        QVERIFY(c.client() != before);
        QCOMPARE(changed.size(), 1);
        QVERIFY(!c.autoReconnect());
        QCOMPARE(c.client()->proxy(), proxy);
        QCOMPARE(c.client()->sslConfiguration().peerVerifyDepth(), 3);
    }

    // Ending a live classroom while a large image card is being compressed: a stop or a sign-out returns with
    // the card still compressing, never waiting for the worker (the card, then the goodbye, follow from the
    // event loop); a deletion reaches no host code (no signal of the classroom or of its models). Either way
    // the devices and the service are told.
    void endsWhileCompressing_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"stopSession", "signOut", "delete"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }

    void endsWhileCompressing()
    {
        QFETCH(QString, how);
        auto c = std::make_unique<Classroom>(StandIn::shared()->server());
        QVERIFY(goLive(c.get()));
        LiveSession s;
        s.standIn = StandIn::shared();
        s.code = c->sessionCode();
        const QString device = s.addLearners(1).value(0);
        QTRY_COMPARE_WITH_TIMEOUT(c->learners()->count(), 1, LIVE_WAIT_MS);
        QVERIFY(c->startPoll(QStringLiteral("text")));
        QByteArray image(512 << 10, '\0'); // random bytes: a compression far longer than the call
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(image.data()), image.size() / 4);
        PresenterCollab *collab = c->collab();
        collab->setCardImage(image);
        collab->showImageCard(false);
        if (how == QLatin1String("delete")) {
            int emitted = 0;
            for (QObject *o : {static_cast<QObject *>(c.get()), static_cast<QObject *>(c->learners()),
                               static_cast<QObject *>(c->tally())}) {
                const QMetaObject *mo = o->metaObject();
                for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
                    if (mo->method(i).methodType() == QMetaMethod::Signal)
                        connect(o, mo->method(i), this, metaObject()->method(metaObject()->indexOfSlot("count()")));
                }
            }
            connect(this, &TestLiveClassroom::counted, this, [&emitted] { ++emitted; });
            c.reset();
            QCOMPARE(emitted, 0);
        } else {
            how == QLatin1String("stopSession") ? c->stopSession() : c->signOut();
            QVERIFY2(PresenterCollabPrivate::get(collab)->framesInLine(), "the call waited for the compression");
            QTRY_VERIFY_WITH_TIMEOUT(!c->isBusy(), LIVE_WAIT_MS);
        }
        QVERIFY(QTest::qWaitFor([&] { return !s.deviceConnected(device); }, LIVE_WAIT_MS));
        QTRY_VERIFY_WITH_TIMEOUT(
            s.standIn->control("GET", QStringLiteral("/sessions/") + s.code).object().value("stopped").toBool(),
            LIVE_WAIT_MS);
    }

public Q_SLOTS:
    void count() { Q_EMIT counted(); }

Q_SIGNALS:
    void counted();
};

QTEST_GUILESS_MAIN(TestLiveClassroom)
#include "tst_liveclassroom.moc"
