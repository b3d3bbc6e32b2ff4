// End to end: a live session's lifecycle and incoming dispatch against the
// stand-in service with simulated devices, over each SockJS transport.
#include "livetestutil.h"

using Veltro::Learner;
using Veltro::RemoteControlMessage;

class TestLiveSession : public QObject
{
    Q_OBJECT

    static void transportRows()
    {
        QTest::addColumn<QString>("transport");
        for (const QString &t : allTransports())
            QTest::newRow(qPrintable(t)) << t;
    }

private Q_SLOTS:
    void initTestCase()
    {
        registerLiveTypes();
        QVERIFY2(StandIn::shared(), "the stand-in service fixture is not running");
    }

    // The collaboration object connects and is registered on all three of its
    // addresses; learners' joins and departures, and a controller's departure,
    // come back as signals; the service lists the joined learners in order.
    void joinsAndDepartures_data() { transportRows(); }
    void joinsAndDepartures()
    {
        QFETCH(QString, transport);
        LiveSession live;
        const QString err = live.start(StandIn::shared(), transport);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QVERIFY(live.probe(live.token));
        QVERIFY(live.probe(live.token + QStringLiteral(".presenter.") + live.sessionInfo()
                               .value(QStringLiteral("learners")).toArray().at(0).toObject()
                               .value(QStringLiteral("userToken")).toString()));

        QSignalSpy joins(live.collab, &PresenterCollab::learnerJoin);
        QSignalSpy left(live.collab, &PresenterCollab::learnerUnregister);
        QSignalSpy controllers(live.collab, &PresenterCollab::controllerRegister);

        const QJsonArray learners = live.addLearners(2, {QStringLiteral("Ada \"Q\" Lovelace"), QStringLiteral("Bö")},
                                                     QStringLiteral("tablet"));
        QCOMPARE(learners.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(joins.count(), 2, LIVE_WAIT_MS);
        QList<Learner> expected;
        for (const QJsonValue &v : learners) {
            const QJsonObject o = v.toObject();
            expected << Learner(o.value(QStringLiteral("token")).toString(), o.value(QStringLiteral("name")).toString(),
                                QStringLiteral("tablet"));
        }
        QList<Learner> joined{joins.at(0).at(0).value<Learner>(), joins.at(1).at(0).value<Learner>()};
        QVERIFY((joined == expected || joined == QList<Learner>{expected.at(1), expected.at(0)}));
        QCOMPARE(expected.at(0).userName, QStringLiteral("Ada \"Q\" Lovelace"));

        QVERIFY(live.client->doGetLearners());
        QCOMPARE(live.client->getLearners(), expected);

        QVERIFY(live.standIn->control("POST", QStringLiteral("/learners/leave"),
                                      QJsonObject{{"token", expected.at(0).userToken}, {"abrupt", false}})
                    .object().value(QStringLiteral("ok")).toBool());
        QTRY_COMPARE_WITH_TIMEOUT(left.count(), 1, LIVE_WAIT_MS);
        QCOMPARE(left.at(0).at(0).toString(), expected.at(0).userToken);

        QVERIFY(!live.addController().isEmpty());
        QVERIFY(live.standIn->control("POST", QStringLiteral("/controller/leave"),
                                      QJsonObject{{"sessionCode", live.code}, {"abrupt", false}})
                    .object().value(QStringLiteral("ok")).toBool());
        QTRY_COMPARE_WITH_TIMEOUT(controllers.count(), 1, LIVE_WAIT_MS);
        QCOMPARE(controllers.at(0).at(0).toBool(), false);
        QCOMPARE(joins.count(), 2);
    }

    // Every remote-control type, in every payload shape, arrives with its data
    // restored; a type the library does not know arrives as unhandled.
    void remoteControl_data() { transportRows(); }
    void remoteControl()
    {
        QFETCH(QString, transport);
        LiveSession live;
        const QString err = live.start(StandIn::shared(), transport);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        const QString controller = live.addController();
        QVERIFY(!controller.isEmpty());

        QSignalSpy remote(live.collab, &PresenterCollab::remoteControl);
        QSignalSpy unhandled(live.collab, &PresenterCollab::unhandledMessage);
        const QStringList types{"stopSession", "requestLessonInfo", "requestLesson", "presenterActive",
                                "pause", "resume", "lockAll", "unlockAll", "nextCard", "previousCard",
                                "pushCurrentCard", "addImageCard"};
        const QStringList shapes{"base64", "list", "text"};
        for (int i = 0; i < types.size(); ++i)
            QVERIFY(live.controllerSend(types.at(i), QJsonObject{{"n", i}, {"note", "ü \"x\""}}, shapes.at(i % 3)));
        QVERIFY(live.controllerSend(QStringLiteral("laserPointer"), QJsonObject{{"x", 5}}, QStringLiteral("list")));

        QTRY_COMPARE_WITH_TIMEOUT(remote.count(), types.size(), LIVE_WAIT_MS);
        QTRY_VERIFY_WITH_TIMEOUT(!unhandled.isEmpty(), LIVE_WAIT_MS);
        for (int i = 0; i < types.size(); ++i) {
            const auto msg = remote.at(i).at(0).value<RemoteControlMessage>();
            QCOMPARE(msg.type, types.at(i));
            QCOMPARE(msg.from, controller);
            QCOMPARE(msg.data.toMap(), (QVariantMap{{"n", i}, {"note", QStringLiteral("ü \"x\"")}}));
        }
        const QVariantMap body = unhandled.last().at(0).toMap();
        QCOMPARE(body.value(QStringLiteral("type")).toString(), QStringLiteral("laserPointer"));
        QCOMPARE(unhandled.last().at(1).toMap(), (QVariantMap{{"x", 5}}));
    }

    // close() says goodbye to the devices and ends the transport.
    void closeDisconnectsDevices_data() { transportRows(); }
    void closeDisconnectsDevices()
    {
        QFETCH(QString, transport);
        LiveSession live;
        const QString err = live.start(StandIn::shared(), transport);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        const QJsonArray learners = live.addLearners(1);
        QCOMPARE(learners.size(), 1);
        const QString device = learners.at(0).toObject().value(QStringLiteral("token")).toString();

        QSignalSpy closed(live.collab, &PresenterCollab::connectionClosed);
        live.collab->close();
        const auto bye = live.waitForRecords(device, QStringLiteral("disconnect"));
        QCOMPARE(bye.size(), 1);
        QCOMPARE(bye.at(0).value(QStringLiteral("address")).toString(), live.token);
        QCOMPARE(bye.at(0).value(QStringLiteral("data")).toString(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, LIVE_WAIT_MS);
        QCOMPARE(closed.at(0).at(0).toBool(), false);
        QVERIFY(!live.connected());
        // The device left on the goodbye.
        QTRY_VERIFY_WITH_TIMEOUT(live.standIn->control("GET", QStringLiteral("/records?token=") + device)
                                     .object().value(QStringLiteral("connected")) == QJsonValue(false),
                                 LIVE_WAIT_MS);
    }

    // doStopSession closes the collaboration object and stops the session once.
    void stopSession()
    {
        LiveSession live;
        const QString err = live.start(StandIn::shared(), QStringLiteral("websocket"));
        QVERIFY2(err.isEmpty(), qPrintable(err));
        const QString device = live.addLearners(1).at(0).toObject().value(QStringLiteral("token")).toString();
        QSignalSpy closed(live.collab, &PresenterCollab::connectionClosed);
        QVERIFY(live.client->doStopSession());
        QCOMPARE(live.waitForRecords(device, QStringLiteral("disconnect")).size(), 1);
        QVERIFY(live.sessionInfo().value(QStringLiteral("stopped")).toBool());
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, LIVE_WAIT_MS);
        QVERIFY(!live.client->doStopSession());
        QVERIFY(live.client->getSessionToken().isNull());
    }

    // The server going away shows as connectionClosed(false).
    void serverEndsSession_data() { transportRows(); }
    void serverEndsSession()
    {
        QFETCH(QString, transport);
        auto own = StandIn::launch({QStringLiteral("--ignore-stdin"), QStringLiteral("--max-lifetime"),
                                    QStringLiteral("120")});
        QVERIFY(own);
        LiveSession live;
        const QString err = live.start(own.get(), transport);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QSignalSpy closed(live.collab, &PresenterCollab::connectionClosed);
        own.reset();
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, LIVE_WAIT_MS);
        QCOMPARE(closed.at(0).at(0).toBool(), false);
        // The client would stop the session against a vanished service on destruction.
        live.client.reset();
    }
};

QTEST_GUILESS_MAIN(TestLiveSession)
#include "tst_livesession.moc"
