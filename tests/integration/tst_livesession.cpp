// End to end: a live session's lifecycle and incoming dispatch with simulated devices, on each transport.
#include "livetestutil.h"

using namespace Veltro;

class TestLiveSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        registerLiveTypes();
        QVERIFY2(StandIn::shared(), "the stand-in service fixture is not running");
    }

    // Registered on all three addresses; joins, every remote-control type in every payload shape, answers and
    // departures come back as signals; the polls' own echoes give the round-trip figure, raised when the echoes
    // are held back; close() (doStopSession on the first row) says goodbye to the devices; no token in the
    // collaboration's debug lines.
    void classroom_data() { addTransportRows(); }
    void classroom()
    {
        QFETCH(QString, transport);
        const CollabLog log;
        LiveSession live;
        const QString err = live.start(StandIn::shared(), transport);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        const QJsonObject teacher = live.standIn->control("GET", QStringLiteral("/sessions/") + live.code)
                                        .object().value(QStringLiteral("learners")).toArray().at(0).toObject();
        QVERIFY(live.probe(live.token));
        QVERIFY(live.probe(live.token + QStringLiteral(".presenter.") + str(teacher, "userToken")));
        QSignalSpy joins(live.collab, &PresenterCollab::learnerJoin);
        QSignalSpy left(live.collab, &PresenterCollab::learnerUnregister);
        QSignalSpy remote(live.collab, &PresenterCollab::remoteControl);
        QSignalSpy unhandled(live.collab, &PresenterCollab::unhandledMessage);
        QSignalSpy answers(live.collab, &PresenterCollab::learnerPollResponse);
        QSignalSpy closed(live.collab, &PresenterCollab::connectionClosed);

        const QStringList names{QStringLiteral("Ada \"Q\" Lovelace"), QStringLiteral("Bö")};
        const QStringList tokens = live.addLearners(2, names);
        QCOMPARE(tokens.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(joins.count(), 2, LIVE_WAIT_MS);
        const QList<Learner> expected{Learner(tokens.at(0), names.at(0), QStringLiteral("tablet")),
                                      Learner(tokens.at(1), names.at(1), QStringLiteral("tablet"))};
        const QList<Learner> joined{joins.at(0).at(0).value<Learner>(), joins.at(1).at(0).value<Learner>()};
        QVERIFY((joined == expected || joined == QList<Learner>{expected.at(1), expected.at(0)}));
        QVERIFY(live.client->doGetLearners());
        QCOMPARE(live.client->getLearners(), expected);

        const QString controller = live.control(QStringLiteral("/controller")).value(QStringLiteral("token")).toString();
        QVERIFY(!controller.isEmpty());
        const QStringList types{"stopSession", "requestLessonInfo", "requestLesson", "presenterActive",
                                "pause", "resume", "lockAll", "unlockAll", "nextCard", "previousCard",
                                "pushCurrentCard", "addImageCard", "laserPointer"};
        const QStringList shapes{"base64", "list", "text"};
        for (int i = 0; i < types.size(); ++i) {
            const QJsonObject body{{"type", types.at(i)}, {"data", QJsonObject{{"n", i}, {"note", "ü \"x\""}}},
                                   {"shape", shapes.at(i % 3)}};
            QVERIFY(live.control(QStringLiteral("/controller/send"), body).value(QStringLiteral("ok")).toBool());
        }
        QTRY_COMPARE_WITH_TIMEOUT(remote.count(), types.size() - 1, LIVE_WAIT_MS);
        for (int i = 0; i < remote.size(); ++i) {
            const auto msg = remote.at(i).at(0).value<RemoteControlMessage>();
            QCOMPARE(msg.type, types.at(i));
            QCOMPARE(msg.from, controller);
            QCOMPARE(msg.data.toMap(), (QVariantMap{{"n", i}, {"note", QStringLiteral("ü \"x\"")}}));
        }
        // A type the library does not know arrives as unhandled.
        QTRY_VERIFY_WITH_TIMEOUT(!unhandled.isEmpty(), LIVE_WAIT_MS);
        QCOMPARE(unhandled.last().at(0).toMap().value(QStringLiteral("type")).toString(), types.last());
        QCOMPARE(unhandled.last().at(1).toMap(), (QVariantMap{{"n", 12}, {"note", QStringLiteral("ü \"x\"")}}));

        QSignalSpy figure(live.collab, &PresenterCollab::roundTripChanged);
        // A question poll, then a template one: both kinds of answer.
        live.collab->startPoll(PollType::MULTIPLE, OrdinalType::ALPHA_UPPER, 3);
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 2, LIVE_WAIT_MS);
        live.collab->startPoll(PollType::CREATIVE, OrdinalType::GENERIC, 2);
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 4, LIVE_WAIT_MS);
        QStringList answered;
        for (const auto &args : answers)
            answered << args.at(0).toString();
        answered.sort();
        QCOMPARE(answered, (QStringList{qMin(tokens.at(0), tokens.at(1)), qMin(tokens.at(0), tokens.at(1)),
                                        qMax(tokens.at(0), tokens.at(1)), qMax(tokens.at(0), tokens.at(1))}));

        QTRY_VERIFY_WITH_TIMEOUT(live.collab->roundTripMs() >= 0, LIVE_WAIT_MS);
        QVERIFY(!figure.isEmpty() && figure.first().at(0).toInt() >= 0);
        // Held back 400 ms, the next echoes raise it.
        QVERIFY(live.standIn->setSwitches({{"echoDelay", 400}}));
        for (int i = 0; i < 3; ++i)
            live.collab->publishMessage(QStringLiteral("probe"), QString::number(i));
        QTRY_VERIFY_WITH_TIMEOUT(live.collab->roundTripMs() >= 380, LIVE_WAIT_MS);
        QVERIFY(live.standIn->setSwitches({{"echoDelay", 0}}));
        QVERIFY(figure.last().at(0).toInt() >= 300); // within the reporting step of the figure

        QVERIFY(live.control(QStringLiteral("/learners/leave"), {{"token", tokens.at(0)}}).value("ok").toBool());
        QTRY_COMPARE_WITH_TIMEOUT(left.count(), 1, LIVE_WAIT_MS);
        QCOMPARE(left.at(0).at(0).toString(), tokens.at(0));
        QCOMPARE(joins.count(), 2);

        const bool stop = transport == QLatin1String("websocket");
        if (stop)
            QVERIFY(live.client->doStopSession());
        else
            live.collab->close();
        // The goodbye reaches the devices before a stop sends them away.
        const auto bye = live.waitForRecords(tokens.at(1), QStringLiteral("disconnect"));
        QCOMPARE(bye.size(), 1);
        QCOMPARE(str(bye.at(0), "address"), live.token);
        QCOMPARE(str(bye.at(0), "data"), QString());
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, LIVE_WAIT_MS);
        QCOMPARE(closed.at(0).at(0).toBool(), false);
        QVERIFY(!live.collab->isConnected());
        QCOMPARE(live.collab->state(), ConnectionState::Closed);
        QCOMPARE(live.collab->error(), Error::None);
        QCOMPARE(live.collab->roundTripMs(), -1);
        QTRY_VERIFY_WITH_TIMEOUT(!live.deviceConnected(tokens.at(1)), LIVE_WAIT_MS);   // the device left
        if (stop) {
            QVERIFY(live.standIn->control("GET", QStringLiteral("/sessions/") + live.code)
                        .object().value(QStringLiteral("stopped")).toBool());
            QVERIFY(!live.client->doStopSession());
            QVERIFY(live.client->getSessionToken().isNull());
        }
        QVERIFY(!log.lines().isEmpty());
        for (const QString &secret : QStringList{live.token, str(teacher, "userToken"), controller} + tokens)
            QCOMPARE(log.lines().filter(secret), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestLiveSession)
#include "tst_livesession.moc"
