// The live connection through a school network's faults on each transport; the presenter reaches the
// event bus through a proxy (the service reports its address), the devices directly.
#include <QtTest>

#include "livetestutil.h"
#include "tcpproxy.h"

namespace {

enum Fault { Silence, ServerDrop, Restart, HeldPoll };

const int DEAD_LINK_MS = 1500;

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestLiveReconnect : public QObject
{
    Q_OBJECT

    // Private: it is killed and restarted; its heartbeat suits a short dead-link limit.
    std::unique_ptr<StandIn> sim;

    bool presenterRegistered(const QString &address) const
    {
        return sim->control("GET", QStringLiteral("/registrations?address=") + QUrl::toPercentEncoding(address))
                   .object().value(QStringLiteral("count")).toInt() > 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        registerLiveTypes();
        sim = StandIn::launch({QStringLiteral("--ignore-stdin"), QStringLiteral("--heartbeat"), QStringLiteral("300")});
        QVERIFY(sim);
    }

    void reconnection_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<Fault>("fault");
        const QList<QPair<const char *, Fault>> faults{
            {"silent link", Silence}, {"server drops the presenter", ServerDrop},
            {"service restarted", Restart}, {"poll published while down", HeldPoll}};
        for (const char *t : {"websocket", "xhr-streaming", "xhr-polling"}) {
            for (const auto &f : faults)
                QTest::addRow("%s: %s", t, f.first) << QString::fromLatin1(t) << f.second;
        }
    }

    void reconnection()
    {
        QFETCH(QString, transport);
        QFETCH(Fault, fault);
        TcpProxy proxy(quint16(sim->info().value(QStringLiteral("port")).toInt()));
        QVERIFY(proxy.port());
        QVERIFY(sim->setSwitches({{"collabUrl", QStringLiteral("http://127.0.0.1:%1/collab").arg(proxy.port())}}));
        LiveSession live;
        const QString err = live.start(sim.get(), transport);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        const QString device = live.addLearners(1).value(0);
        QVERIFY(!device.isEmpty());

        PresenterCollab *c = live.collab;
        c->setDeadLinkLimit(DEAD_LINK_MS);
        c->setReconnectDelays(100, 400);
        c->setAutoReconnect(true);
        QSignalSpy up(c, &PresenterCollab::connected);
        QSignalSpy retrying(c, &PresenterCollab::reconnecting);
        QSignalSpy closed(c, &PresenterCollab::connectionClosed);
        QSignalSpy stateSpy(c, &PresenterCollab::stateChanged);
        const auto states = [&stateSpy] {
            QStringList out;
            for (const QList<QVariant> &args : stateSpy)
                out << QString::fromLatin1(QMetaEnum::fromType<Veltro::ConnectionState>().valueToKey(args.at(0).toInt()));
            return out;
        };
        if (fault == HeldPoll) {
            connect(c, &PresenterCollab::reconnecting, c, [c](int attempt) {
                if (attempt == 1)
                    c->startPoll(Veltro::PollType::MULTIPLE, Veltro::OrdinalType::ALPHA_UPPER, 3);
            });
        }

        switch (fault) {
        case Silence:
            proxy.silence();
            break;
        case ServerDrop:
        case HeldPoll:
            QVERIFY(sim->control("POST", QStringLiteral("/presenter/drop"), {{"sessionToken", live.token}})
                        .object().value(QStringLiteral("dropped")).toInt() >= 1);
            break;
        default:
            sim->kill();
            break;
        }
        // The drop is noticed within the dead-link limit and a margin.
        QTRY_VERIFY_WITH_TIMEOUT(retrying.size() >= 1, DEAD_LINK_MS + 3000);
        QVERIFY(!c->isConnected());

        if (fault == Restart) {
            QTRY_VERIFY_WITH_TIMEOUT(retrying.size() >= 2, LIVE_WAIT_MS);   // an attempt failed meanwhile
            QVERIFY(sim->relaunch());
        }

        QTRY_COMPARE_WITH_TIMEOUT(up.size(), 1, LIVE_WAIT_MS);
        QVERIFY(c->isConnected());
        QCOMPARE(closed.size(), 0);
        QCOMPARE(states().join(' '), "Reconnecting Connected");
        if (fault == Restart) {
            QTRY_VERIFY_WITH_TIMEOUT(presenterRegistered(live.token + QStringLiteral(".presenter")), LIVE_WAIT_MS);
            live.client.reset();
            return;
        }
        // What went out after the reconnection (and the poll held before it) reaches the device once, in order.
        if (fault != HeldPoll)
            c->startPoll(Veltro::PollType::MULTIPLE, Veltro::OrdinalType::ALPHA_UPPER, 3);
        c->stopPoll();
        QCOMPARE(live.waitForRecords(device, QStringLiteral("pollStop")).size(), 1);
        QStringList seen;
        for (const QJsonValue &r : sim->records(device))
            seen << str(r.toObject(), "type");
        seen = seen.filter(QRegularExpression(QStringLiteral("^(questionStart|pollStop)$")));
        QCOMPARE(seen, (QStringList{QStringLiteral("questionStart"), QStringLiteral("pollStop")}));
        QCOMPARE(c->droppedFrameCount(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestLiveReconnect)
#include "tst_livereconnect.moc"
