// End to end: the classroom object and its models against the stand-in service and twenty simulated
// devices: rows equal to the devices present, the tally of each kind of poll, late answers and late joiners,
// the roster after a drop, sessions that end early, a service that forgets the sign-in, failures reported
// once, one client through address changes, a host that deletes it from its signals, silently, and ends
// that wait for no compression.
#include <QAbstractItemModelTester>
#include <QMetaProperty>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryFile>

#include "classroom.h"
#include "remotecommand.h"
#include "fakeservice.h"
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

// What a classroom told, notify signal by notify signal, and the first time it contradicted itself: a notify
// signal without a change, or live while its connection is not up.
class Trace : public QObject
{
    Q_OBJECT

public:
    explicit Trace(Classroom *c) : c(c)
    {
        for (int i = c->metaObject()->propertyOffset(); i < c->metaObject()->propertyCount(); ++i) {
            const QMetaProperty p = c->metaObject()->property(i);
            said[p.notifySignalIndex()] = values(p.notifySignalIndex());
            if (p.hasNotifySignal())
                connect(c, p.notifySignal(), this, metaObject()->method(metaObject()->indexOfSlot("record()")),
                        Qt::UniqueConnection);
        }
    }
    QStringList states; // each connectionState told, in order
    bool wasLive = false;
    QString fault;

public Q_SLOTS:
    void record()
    {
        const int signal = senderSignalIndex();
        if (fault.isEmpty() && said.value(signal) == values(signal))
            fault = QString::fromLatin1(c->metaObject()->method(signal).name()) + QStringLiteral(" without a change");
        said[signal] = values(signal);
        const ConnectionState s = c->connectionState();
        if (signal == QMetaMethod::fromSignal(&Classroom::connectionStateChanged).methodIndex())
            states << QString::fromLatin1(QMetaEnum::fromType<ConnectionState>().valueToKey(int(s)));
        wasLive = wasLive || c->isLive();
        if (fault.isEmpty() && c->isLive() && s != ConnectionState::Connected && s != ConnectionState::Reconnecting)
            fault = QStringLiteral("live while ") + states.value(states.size() - 1);
    }

private:
    // The values of the properties `signal` notifies.
    QString values(int signal) const
    {
        QString out;
        for (int i = c->metaObject()->propertyOffset(); i < c->metaObject()->propertyCount(); ++i) {
            const QMetaProperty p = c->metaObject()->property(i);
            if (p.notifySignalIndex() == signal)
                out += p.read(c).toString() + QString::number(p.read(c).toInt()) + QLatin1Char('|');
        }
        return out;
    }
    Classroom *c;
    QHash<int, QString> said;
};

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
        Trace trace(room.get());
        QVERIFY(goLive(room.get()));
        QVERIFY(room->isSignedIn() && room->userName() == QLatin1String("teacher") && !room->isBusy());
        QCOMPARE(trace.fault, QString());
        QCOMPARE(trace.states, QStringList({"Connecting", "Connected"}));
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

    // A device that joins while a poll runs is sent it, and its answer counts; with the resend turned off it gets
    // nothing before the next broadcast (here the pause).
    void lateJoiner_data()
    {
        QTest::addColumn<bool>("resend");
        QTest::newRow("running") << true;
        QTest::newRow("resend off") << false;
    }

    void lateJoiner()
    {
        QFETCH(bool, resend);
        room->setResendPollToLateJoiners(resend);
        QVERIFY(room->startPoll(QStringLiteral("multiple")));
        QTRY_COMPARE_WITH_TIMEOUT(room->tally()->answered(), room->learners()->count(), LIVE_WAIT_MS);
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
        roster.setClient(own.client.get());
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

        QTRY_COMPARE_WITH_TIMEOUT(tokensOf(roster), own.serviceLearners(), LIVE_WAIT_MS);
        QCOMPARE(roster.count(), 7);
    }

    // Each failure is reported once, typed, in words a teacher can act on, and busy covers the call. A session
    // asked for right after a sign-in that fails is not a second failure.
    void failures_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("words");
        const QString refused = QStringLiteral("the user id or password was not accepted");
        QTest::newRow("wrong password") << "signIn" << int(Error::SignInRefused) << refused;
        QTest::newRow("wrong password, then a session") << "signIn startSession" << int(Error::SignInRefused)
                                                        << refused;
        QTest::newRow("session without a sign-in") << "startSession" << int(Error::NotSignedIn) << "not signed in";
        QTest::newRow("stop without a session") << "stopSession" << int(Error::SessionMissing) << "no session";
    }

    void failures()
    {
        QFETCH(QString, call);
        QFETCH(int, error);
        QFETCH(QString, words);
        Classroom c(StandIn::shared()->server());
        QSignalSpy failed(&c, &Classroom::failed);
        QSignalSpy busy(&c, &Classroom::busyChanged);
        if (call.startsWith(QLatin1String("signIn"))) {
            c.signIn(QStringLiteral("teacher"), QStringLiteral("wrong"));
            if (call.endsWith(QLatin1String("startSession")))
                c.startSession();
        } else if (call == QLatin1String("startSession")) {
            c.startSession();
        } else {
            c.stopSession();
        }
        QVERIFY(c.isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(!c.isBusy(), LIVE_WAIT_MS);
        QCOMPARE(busy.size(), 2);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(int(failed.first().at(0).value<Error>()), error);
        QCOMPARE(int(c.error()), error);
        QCOMPARE(c.errorString(), words);
        QCOMPARE(failed.first().at(1).toString(), c.errorString());
        QVERIFY(!c.isSignedIn() && !c.isLive());
        QTest::qWait(0);
        QCOMPARE(failed.size(), 1);
    }

    // A session ended by a stop, a sign-out or a cancel made at once after startSession(), while its connection
    // opens, or once it is live: the calls run in the order made, a start overtaken never goes live, and the
    // session it started does not stay running. Every state of the connection is told, the Closing of a stop too.
    void sessionEnds_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("how");
        for (const char *when : {"at once", "connecting", "live"}) {
            for (const char *how : {"stop", "signOut", "cancel"}) {
                if (qstrcmp(how, "cancel") != 0 || qstrcmp(when, "live") != 0) // a live class has nothing to cancel
                    QTest::addRow("%s, %s", how, when) << QString::fromLatin1(when) << QString::fromLatin1(how);
            }
        }
    }

    void sessionEnds()
    {
        QFETCH(QString, when);
        QFETCH(QString, how);
        Classroom c(StandIn::shared()->server());
        c.signIn(QStringLiteral("teacher"), QStringLiteral("veltro"));
        QTRY_VERIFY_WITH_TIMEOUT(c.isSignedIn() && !c.isBusy(), LIVE_WAIT_MS);
        Trace trace(&c);
        QSignalSpy failed(&c, &Classroom::failed);
        QString code;
        connect(&c, &Classroom::sessionCodeChanged, this, [&] { code = code.isEmpty() ? c.sessionCode() : code; });
        const auto end = [&] { how == "stop" ? c.stopSession() : how == "signOut" ? c.signOut() : c.cancel(); };
        connect(&c, &Classroom::connectionStateChanged, this, [&] {
            if (when == QLatin1String("connecting") && c.connectionState() == ConnectionState::Connecting)
                end();
        });
        c.startSession();
        if (when == QLatin1String("at once"))
            end();
        if (when == QLatin1String("live")) {
            QTRY_VERIFY_WITH_TIMEOUT(c.isLive(), LIVE_WAIT_MS);
            end();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!c.isBusy() && c.connectionState() == ConnectionState::Closed, LIVE_WAIT_MS);
        QCOMPARE(trace.fault, QString());
        QCOMPARE(trace.wasLive, when == QLatin1String("live"));
        if (when != QLatin1String("at once"))
            QVERIFY2(trace.states.join(' ').endsWith(QLatin1String("Closing Closed")), qPrintable(trace.states.join(' ')));
        QCOMPARE(failed.size(), int(how == QLatin1String("cancel")));
        QVERIFY(failed.isEmpty() || failed.first().at(0).value<Error>() == Error::Cancelled);
        QCOMPARE(c.isSignedIn(), how != QLatin1String("signOut"));
        if (!code.isEmpty()) {
            const QJsonObject info = StandIn::shared()->control("GET", QStringLiteral("/sessions/") + code).object();
            QVERIFY(!info.value(QStringLiteral("started")).toBool() || info.value(QStringLiteral("stopped")).toBool());
        }
    }

    // The service is restarted, as a real one is, and forgets the sign-in and the session: once the link is
    // back, the host hears it once, and is shown neither a sign-in nor a class nor learners that are gone.
    void signInForgotten()
    {
        std::unique_ptr<StandIn> service = StandIn::launch();
        QVERIFY(service);
        Classroom c(service->server());
        QVERIFY(goLive(&c));
        LiveSession s;
        s.standIn = service.get();
        s.code = c.sessionCode();
        QCOMPARE(s.addLearners(8).size(), 8);
        QTRY_COMPARE_WITH_TIMEOUT(c.learners()->count(), 8, LIVE_WAIT_MS);
        Trace trace(&c);
        QSignalSpy failed(&c, &Classroom::failed);
        service->kill();
        QVERIFY(service->relaunch());
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, LIVE_WAIT_MS);
        QCOMPARE(failed.first().at(0).value<Error>(), Error::SignInLost);
        QCOMPARE(c.error(), Error::SignInLost);
        QVERIFY(!c.isSignedIn() && !c.isLive() && c.sessionCode().isEmpty());
        QCOMPARE(c.learners()->count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(c.connectionState(), ConnectionState::Closed, LIVE_WAIT_MS); // its devices told
        QCOMPARE(trace.fault, QString());
    }

    // The teacher's remote: a controller that turns up late is told the lesson and its card with its first
    // command; commands reach the host typed, an unknown type as Unknown with its data; the card set on the
    // classroom follows to the controller; a controller that leaves is no longer present.
    void remote()
    {
        QSignalSpy commands(room.get(), &Classroom::remoteCommand);
        room->setLessonId(QStringLiteral("L1"));
        room->setLessonName(QStringLiteral("Cells, \"part 2\""));
        room->setCardNames({QStringLiteral("Intro"), QStringLiteral("Cell wall"), QStringLiteral("Quiz")});
        room->setCurrentCard(1);
        QVERIFY(!room->isRemotePresent());
        const QString controller = live.control(QStringLiteral("/controller")).value(QStringLiteral("token")).toString();
        QVERIFY(!controller.isEmpty());
        const auto send = [this](const char *type, const QJsonValue &data = QJsonValue()) {
            QJsonObject body{{"type", type}};
            if (!data.isNull())
                body.insert(QStringLiteral("data"), data);
            QVERIFY(live.control(QStringLiteral("/controller/send"), body).value(QStringLiteral("ok")).toBool());
        };
        send("nextCard");
        send("previous-card", QJsonObject{{"by", 2}});
        QTRY_COMPARE_WITH_TIMEOUT(commands.size(), 2, LIVE_WAIT_MS);
        QVERIFY(room->isRemotePresent());
        const auto command = [&](int i) { return commands.at(i).at(0).value<RemoteCommand>(); };
        QCOMPARE(command(0).type, RemoteCommand::NextCard);
        QCOMPARE(command(0).from, controller);
        QCOMPARE(command(1).type, RemoteCommand::Unknown);
        QCOMPARE(command(1).typeText, QStringLiteral("previous-card"));
        QCOMPARE(command(1).data.toMap().value(QStringLiteral("by")).toInt(), 2);
        const auto last = [&](const char *type) {
            const QList<QJsonObject> got = live.waitForRecords(controller, QLatin1String(type));
            return got.isEmpty() ? QJsonObject() : got.last().value(QStringLiteral("data")).toObject();
        };
        QCOMPARE(last("currentLesson").value(QStringLiteral("name")).toString(), room->lessonName());
        QCOMPARE(last("currentCard").value(QStringLiteral("cards")).toArray().at(1).toObject()
                     .value(QStringLiteral("name")).toString(), QStringLiteral("Cell wall"));
        QVERIFY(!live.waitForRecords(controller, QStringLiteral("presenterIsActive")).isEmpty());
        room->setCurrentCard(3);
        QTRY_COMPARE_WITH_TIMEOUT(last("currentCard").value(QStringLiteral("currentCard")).toString(),
                                  QStringLiteral("3"), LIVE_WAIT_MS);
        QCOMPARE(last("currentCard").value(QStringLiteral("totalCards")).toString(), QStringLiteral("3"));
        QVERIFY(live.control(QStringLiteral("/controller/leave")).value(QStringLiteral("ok")).toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!room->isRemotePresent(), LIVE_WAIT_MS);
    }

    // An image card in one call: bytes or a file travel as a data URL, preceded by the heavy notice past
    // 524288 characters; an http(s) URL as it is; a file that cannot be read sends nothing.
    void imageCard_data()
    {
        QTest::addColumn<QVariant>("image");
        QTest::addColumn<QString>("url"); // its beginning; empty: refused
        QTest::addColumn<bool>("heavy");
        const QString png = QStringLiteral("data:image/png;base64,");
        QTest::newRow("bytes") << QVariant(QByteArray(300, 'x')) << png + QByteArray(300, 'x').toBase64().left(8) << false;
        QTest::newRow("heavy bytes") << QVariant(QByteArray(400000, 'x')) << png << true;
        QTest::newRow("file") << QVariant(QStringLiteral("file")) << png + QByteArray("PNGfile").toBase64() << false;
        QTest::newRow("url") << QVariant(QUrl(QStringLiteral("https://127.0.0.1/cell.png")))
                             << "https://127.0.0.1/cell.png" << false;
        QTest::newRow("missing file") << QVariant(QStringLiteral("/no/such/cell.png")) << QString() << false;
    }

    void imageCard()
    {
        QFETCH(QVariant, image);
        QFETCH(QString, url);
        QFETCH(bool, heavy);
        QTemporaryFile file;
        if (image == QVariant(QStringLiteral("file"))) {
            QVERIFY(file.open() && file.write("PNGfile") == 7 && file.flush());
            image = QUrl::fromLocalFile(file.fileName());
        }
        const QString device = devices.last();
        const int cards = live.recordsOfType(device, QStringLiteral("showCard")).size();
        const int notices = live.recordsOfType(device, QStringLiteral("heavy")).size();
        QCOMPARE(room->showImageCard(image), !url.isEmpty());
        if (url.isEmpty())
            return;
        const QList<QJsonObject> got = live.waitForRecords(device, QStringLiteral("showCard"), cards + 1);
        QCOMPARE(got.size(), cards + 1);
        QVERIFY(str(got.last().value(QStringLiteral("data")).toObject().value(QStringLiteral("components")).toArray()
                        .at(0).toObject().value(QStringLiteral("blob")).toObject(), "url").startsWith(url));
        QCOMPARE(live.recordsOfType(device, QStringLiteral("heavy")).size(), notices + int(heavy));
    }

    // A host may delete the classroom in a slot of any of its signals: nothing of it is touched afterwards
    // (run under AddressSanitizer), and the teardown reaches no host code (no signal of it or of its models)
    // but tells the devices the session is over. A class runs through until the signal comes.
    void deletedFromItsSignals_data()
    {
        QTest::addColumn<QByteArray>("signal");
        const QMetaObject &mo = Classroom::staticMetaObject;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
            if (mo.method(i).methodType() == QMetaMethod::Signal)
                QTest::newRow(mo.method(i).name().constData()) << mo.method(i).methodSignature();
        }
    }

    void deletedFromItsSignals()
    {
        QFETCH(QByteArray, signal);
        QPointer<Classroom> c = new Classroom(StandIn::shared()->server());
        countSignals(c);
        int commands = 0;
        connect(c, &Classroom::remoteCommand, this, [&commands] { ++commands; });
        connect(c, c->metaObject()->method(c->metaObject()->indexOfSignal(signal.constData())), this,
                metaObject()->method(metaObject()->indexOfSlot("deleteSender()")));
        const auto until = [&c](const std::function<bool()> &done) {
            return QTest::qWaitFor([&] { return !c || done(); }, LIVE_WAIT_MS) && c;
        };
        for (const std::function<void()> &set : {std::function<void()>([&] { c->setResendPollToLateJoiners(false); }),
                                                 std::function<void()>([&] { c->setAutoReconnect(false); }),
                                                 std::function<void()>([&] { c->setHostAppVersion("deleting"); }),
                                                 std::function<void()>([&] { c->setServerUrl(c->serverUrl() + '/'); }),
                                                 std::function<void()>([&] { c->signIn("teacher", "wrong"); })}) {
            if (c)
                set();
        }
        if (until([&] { return !c->isBusy(); }))
            c->signIn(QStringLiteral("teacher"), QStringLiteral("veltro"));
        if (until([&] { return c->isSignedIn() && !c->isBusy(); }))
            c->startSession();
        LiveSession s;
        s.standIn = StandIn::shared();
        QStringList joined;
        if (until([&] { return c->isLive(); })) {
            s.code = c->sessionCode();
            joined = s.addLearners(1);
            QCOMPARE(joined.size(), 1);
        }
        if (until([&] { return c->learners()->count() == 1; }))
            c->startPoll(QStringLiteral("yes-no"));
        if (until([&] { return c->tally()->answered() == 1 && c->roundTripMs() >= 0; })) {
            c->setCurrentCard(2);
            if (c && s.control(QStringLiteral("/controller")).contains(QStringLiteral("token")))
                s.control(QStringLiteral("/controller/send"), {{"type", "nextCard"}});
        }
        if (until([&] { return c->isRemotePresent(); }) && until([&] { return commands > 0; }))
            c->stopSession();
        if (until([&] { return !c->isBusy(); }))
            c->signOut();
        (void)until([] { return false; });
        QVERIFY2(!c, "the signal never came");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QCOMPARE(emittedInTeardown, 0);
        QVERIFY(joined.isEmpty() || QTest::qWaitFor([&] { return !s.deviceConnected(joined.first()); }, LIVE_WAIT_MS));
    }

    // One client for the classroom's life: a new address reaches it, and a sign-in made right after a sign-out
    // goes to the address set before them.
    void addressChange()
    {
        Classroom c(QStringLiteral("http://127.0.0.1:9"));
        QVERIFY(c.autoReconnect());
        c.setServerUrl(StandIn::shared()->server());
        c.signIn(QStringLiteral("teacher"), QStringLiteral("veltro"));
        QTRY_VERIFY_WITH_TIMEOUT(c.isSignedIn(), LIVE_WAIT_MS);

        FakeService other;
        other.handler = [](const FakeService::Request &, QTcpSocket *) {
            return httpAnswer(200, R"({"infoMsgKeys":["success"]})");
        };
        c.setServerUrl(other.url()); // signed in: taken at the next sign-in
        c.signOut();
        c.signIn(QStringLiteral("teacher"), QStringLiteral("veltro"));
        QTRY_VERIFY_WITH_TIMEOUT(!c.isBusy(), LIVE_WAIT_MS);
        QVERIFY(c.isSignedIn());
        QCOMPARE(other.paths(), QStringList({"/quorvane/login/submit"}));
        QCOMPARE(c.client()->getServer(), other.url());
    }

    // Ending a live classroom while a large image card is being compressed: a stop or a sign-out returns with
    // the card still compressing, never waiting for the worker (the card, then the goodbye, follow from the
    // event loop), and the devices and the service are told.
    void endsWhileCompressing_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"stopSession", "signOut"})
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
        how == QLatin1String("stopSession") ? c->stopSession() : c->signOut();
        QVERIFY2(PresenterCollabPrivate::get(collab)->framesInLine(), "the call waited for the compression");
        QTRY_VERIFY_WITH_TIMEOUT(!c->isBusy(), LIVE_WAIT_MS);
        QVERIFY(QTest::qWaitFor([&] { return !s.deviceConnected(device); }, LIVE_WAIT_MS));
        QTRY_VERIFY_WITH_TIMEOUT(
            s.standIn->control("GET", QStringLiteral("/sessions/") + s.code).object().value("stopped").toBool(),
            LIVE_WAIT_MS);
    }

public Q_SLOTS:
    void count() { emittedInTeardown += deleting; }
    void deleteSender()
    {
        deleting = true;
        delete sender();
        deleting = false;
    }

private:
    // Counts every signal of `c` and its models emitted while it is being deleted (none may be).
    void countSignals(Classroom *c)
    {
        emittedInTeardown = 0;
        for (QObject *o : {static_cast<QObject *>(c), static_cast<QObject *>(c->learners()),
                           static_cast<QObject *>(c->tally())}) {
            const QMetaObject *mo = o->metaObject();
            for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
                if (mo->method(i).methodType() == QMetaMethod::Signal)
                    connect(o, mo->method(i), this, metaObject()->method(metaObject()->indexOfSlot("count()")));
            }
        }
    }
    bool deleting = false;
    int emittedInTeardown = 0;
};

QTEST_GUILESS_MAIN(TestLiveClassroom)
#include "tst_liveclassroom.moc"
