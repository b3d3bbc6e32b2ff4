// The exact frames PresenterCollab and PresenterAssessment hand to their transport; the reconnection policy.
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include "assessmentoptions.h"
#include "card.h"
#include "collabtestutil.h"
#include "collaborationmessagehandler.h"
#include "jsonserializer.h"
#include "networksettings_p.h"
#include "ordinaltype.h"
#include "outgoingqueue_p.h"
#include "polltype.h"
#include "presenterassessment.h"
#include "questionmultichoice.h"
#include "questionyesno.h"
#include "reconnectbackoff_p.h"
#include "roundtripmeter_p.h"
#include "sockjsconnector.h"
#include "veltrocollabmessage.h"

using namespace Veltro;
using Calls = QList<QVariantList>;

namespace {

// A payload far above the size compressed on the caller's thread.
QString largeJson() { return QLatin1Char('"') + QString(200000, QLatin1Char('b')) + QLatin1Char('"'); }

// One whose compression takes the worker a good while (random letters hardly compress).
QString slowJson()
{
    QString text(2 << 20, QLatin1Char('"'));
    for (int i = 1; i < text.size() - 1; ++i)
        text[i] = QLatin1Char(char('a' + QRandomGenerator::global()->bounded(26)));
    return text;
}

// The texts of the frames that are no pings.
QStringList texts(const QList<SentFrame> &frames)
{
    QStringList out;
    for (const SentFrame &f : frames)
        if (!f.ping)
            out << f.text;
    return out;
}

// Publishes a message object that is gone when this returns.
void publishObject(RecordingCollab &c, const QString &address, const QString &type, const QVariantMap &data)
{
    VeltroCollabMessage m;
    m.settype(type);
    m.setdata(data);
    c.publishMessage(address, &m);
}

template <typename E>
QString keyOf(E value)
{
    return QString::fromLatin1(QMetaEnum::fromType<E>().valueToKey(int(value)));
}

} // namespace

class TestPresenterCollab : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    // Registration on the three addresses, then a ping every interval; none after a drop, or after a close
    // (whose goodbye and states the connection-state table checks).
    void registrationAndPings()
    {
        RecordingCollab c;
        c.priv()->setPingInterval(20);
        const QString reg = QStringLiteral(R"({"type":"register","address":"%1"})");
        for (const bool byHost : {false, true}) {
            c.frames.clear();
            c.open();
            c.onConnected();
            QCOMPARE(texts(c.frames), (QStringList{reg.arg("S1"), reg.arg("S1.presenter"), reg.arg("S1.presenter.U1")}));
            QTRY_VERIFY_WITH_TIMEOUT(c.frames.size() >= 5, 5000);
            for (const SentFrame &f : c.frames.mid(3))
                QVERIFY(f.ping && f.text == R"({"type":"ping"})");
            byHost ? c.close() : c.onClosed(false);
            settle();
            const int before = c.frames.size();
            QTest::qWait(100);
            QCOMPARE(c.frames.size(), before);
        }
    }

    // Wherever payloads are compressed, frames leave in publish order (pings aside), byte for byte as when all is
    // done on the caller's thread, and close() sends its "disconnect" last and only then closes.
    void publishOrder_data()
    {
        QTest::addColumn<int>("threshold");
        QTest::newRow("large payloads in the background") << PresenterCollabPrivate::DEFAULT_BACKGROUND_THRESHOLD;
        QTest::newRow("every payload in the background") << -1;
    }
    void publishOrder()
    {
        QFETCH(int, threshold);
        auto run = [](RecordingCollab &c) {
            c.publishMessage("first", R"("a")");
            c.setCardImage(QByteArray(420000, 'x'));
            c.showImageCard(true); // "heavy", then the large "showCard"
            c.sendPing();
            c.publishMessage("second", R"("b")");
            publishObject(c, ".learner", "dialogShow", {{"text", largeJson()}}); // gone before it is compressed
            publishObject(c, "S1", "tiny", {{"n", 1}});
            c.close();
        };
        RecordingCollab reference;
        reference.up();
        run(reference);
        QCOMPARE(reference.sent(false), (QStringList{"S1 first", "S1.learner heavy", "S1.learner showCard", "S1 second",
                                                     "S1.learner dialogShow", "S1 tiny", "S1 disconnect"}));

        RecordingCollab c;
        c.up();
        QList<SentFrame> sent;
        c.alsoTo = &sent;
        c.priv()->setBackgroundThreshold(threshold);
        run(c);
        QVERIFY(c.priv()->framesInLine());
        QCOMPARE(c.transportCloses, 0);
        QTRY_COMPARE_WITH_TIMEOUT(c.transportCloses, 1, 30000);
        QCOMPARE(sent.last().text, "(closed)");
        QCOMPARE(texts(c.frames), texts(reference.frames));
        QCOMPARE(c.frames.size(), texts(c.frames).size() + 1);
    }

    // Deleted while a compression runs: the deletion does not wait for it, and its frame is never sent; after a
    // close() the goodbye still goes, at once.
    void deletionWhileCompressing()
    {
        QList<SentFrame> open, closed;
        for (QList<SentFrame> *frames : {&open, &closed}) {
            auto *c = new RecordingCollab;
            c->up();
            c->alsoTo = frames;
            c->priv()->setBackgroundThreshold(PresenterCollabPrivate::DEFAULT_BACKGROUND_THRESHOLD);
            c->publishMessage("large", slowJson());
            if (frames == &closed)
                c->close();
            delete c;
        }
        // The worker takes jobs in turn: once this one is done, so are the others.
        RecordingCollab next;
        next.priv()->setBackgroundThreshold(-1);
        next.publishMessage("next", R"("x")");
        QTRY_COMPARE_WITH_TIMEOUT(next.frames.size(), 1, 30000);
        QVERIFY(open.isEmpty());
        QStringList types;
        for (const SentFrame &f : closed)
            types << jat(parsed(f.text), "body.type").toString(f.text);
        QCOMPARE(types, (QStringList{"disconnect", "(closed)"}));
    }

    // With reconnection on, a drop is retried after the backoff on the same transports; what is published meanwhile
    // (pings aside) and frames whose compression ends while the link is down are held in publish order and follow
    // the registration; one still compressing then follows them.
    void reconnectionHoldsFrames()
    {
        RecordingCollab c;
        c.priv()->setBackgroundThreshold(-1);
        c.setReconnectDelays(10, 10);
        c.setAutoReconnect(true);
        QSignalSpy up(&c, &PresenterCollab::connected);
        QSignalSpy retrying(&c, &PresenterCollab::reconnecting);
        QSignalSpy closed(&c, &PresenterCollab::connectionClosed);
        c.up(QStringList{"xhr-polling"});
        c.publishMessage("before", largeJson());
        c.fakeConnected = false;
        c.onClosed(false);
        QCOMPARE(retrying.count(), 1);
        QCOMPARE(retrying.at(0).at(0).toInt(), 1);
        c.publishMessage("down", R"("x")");
        c.sendPing();
        c.startPoll(PollType::TEXT, OrdinalType::GENERIC);
        QTRY_VERIFY_WITH_TIMEOUT(!c.priv()->framesInLine(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(c.opens.size(), 2, 5000);
        QCOMPARE(c.opens.at(1), QList<int>{4});
        QVERIFY(c.frames.size() == 1 && c.frames.at(0).ping);
        c.publishMessage("late", largeJson());
        c.fakeConnected = true;
        c.onConnected();
        QTRY_VERIFY_WITH_TIMEOUT(!c.priv()->framesInLine(), 30000);
        QCOMPARE(up.count(), 2);
        QCOMPARE(c.sent(false), (QStringList{"S1 register", "S1.presenter register", "S1.presenter.U1 register",
                                             "S1 before", "S1 down", "S1 questionStart", "S1 late"}));
        QCOMPARE(restoredText(c.published().at(3)), largeJson());

        // With it off, an envelope frame finishing after a drop is dropped as
        // when published then; a message object is handed over regardless.
        c.setAutoReconnect(false);
        c.frames.clear();
        c.publishMessage("envelope", largeJson());
        publishObject(c, "S1", "object", {{"text", largeJson()}});
        c.fakeConnected = false;
        c.onClosed(false);
        QTRY_VERIFY_WITH_TIMEOUT(!c.priv()->framesInLine(), 30000);
        QCOMPARE(c.sent(false), QStringList{"S1 object"});
        QCOMPARE(closed.count(), 1);
        QCOMPARE(retrying.count(), 1);
    }

    // What the host sees of the connection over each course of events: the signals in order (with error() as
    // read in the slot), none inside a call of the host, the publishes that went out, the transport's opens and
    // the final state and reason. Steps: host calls (open, close, auto/manual: reconnection on/off, limit1: one
    // attempt, hub: the client's settings with reconnection on, quiet/goodbye: the client's endings), the
    // transport's reports (up, drop, idle: the inactivity check, fail: no transport came up), the reason the
    // transport gives next (refused, dead, tls, proxyauth; none: it gives none), retry: wait for the next attempt.
    void connectionStates_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<int>("opens");
        QTest::addColumn<ConnectionState>("state");
        QTest::addColumn<Error>("error");
        const auto row = [](const char *name, const char *script, const char *expected, const char *sent, int opens,
                            ConnectionState state, Error error) {
            QTest::newRow(name) << script << expected << sent << opens << state << error;
        };
        using S = ConnectionState;
        row("first open fails on every transport", "open refused fail",
            "Connecting Closed closed:ConnectionRefused", "", 1, S::Closed, Error::ConnectionRefused);
        row("a failure the transport does not explain still has a reason", "open fail",
            "Connecting Closed closed:Network", "", 1, S::Closed, Error::Network);
        row("the client's settings cover the first open", "hub open refused fail retry up",
            "Connecting Reconnecting reconnecting:ConnectionRefused Connected connected", "", 2, S::Connected,
            Error::None);
        row("drop and back", "auto open up dead drop retry up",
            "Connecting Connected connected Reconnecting reconnecting:DeadLink Connected connected", "", 2,
            S::Connected, Error::None);
        row("gives up after the attempt limit", "auto limit1 open up drop retry fail",
            "Connecting Connected connected Reconnecting reconnecting:Network Closed closed:Network", "", 2,
            S::Closed, Error::Network);
        row("a refused certificate is not retried", "auto open up tls drop",
            "Connecting Connected connected Closed closed:Tls", "", 1, S::Closed, Error::Tls);
        row("missing proxy credentials are not retried", "auto open proxyauth fail",
            "Connecting Closed closed:ProxyAuthenticationRequired", "", 1, S::Closed,
            Error::ProxyAuthenticationRequired);
        row("the inactivity check ends it", "auto open up idle",
            "Connecting Connected connected Closed closed(idle):Inactivity", "", 1, S::Closed, Error::Inactivity);
        row("close() while connected", "open up close drop",
            "Connecting Connected connected Closing Closed closed:None", "S1 disconnect", 1, S::Closed, Error::None);
        row("close() while connecting: ended by the stopped attempt's report", "open close fail up drop",
            "Connecting Closing Closed closed:None", "", 1, S::Closed, Error::None);
        row("close() while waiting to reconnect", "auto open up drop close",
            "Connecting Connected connected Reconnecting reconnecting:Network Closing Closed closed:None", "", 1,
            S::Closed, Error::None);
        row("reconnection turned off while waiting", "auto open up refused drop manual",
            "Connecting Connected connected Reconnecting reconnecting:ConnectionRefused Closed "
            "closed:ConnectionRefused", "", 1, S::Closed, Error::ConnectionRefused);
        row("open() while open does nothing; while closing, it waits for the end", "open up open close open drop",
            "Connecting Connected connected Closing Closed closed:None Connecting", "S1 disconnect", 2,
            S::Connecting, Error::None);
        row("an attempt that ends before it came up failed", "auto open drop retry up",
            "Connecting Reconnecting reconnecting:Network Connected connected", "", 2, S::Connected, Error::None);
        row("replaced by the client: no goodbye, no connectionClosed", "open up quiet drop",
            "Connecting Connected connected Closed", "", 1, S::Closed, Error::None);
        row("teardown: a goodbye, then silence", "open up goodbye drop", "Connecting Connected connected",
            "S1 disconnect", 1, S::Closed, Error::None);
    }
    void connectionStates()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QFETCH(QString, sent);
        QFETCH(int, opens);
        QFETCH(ConnectionState, state);
        QFETCH(Error, error);
        RecordingCollab c;
        c.fakeConnected = false;
        c.setReconnectDelays(10, 10);
        auto *connector = c.findChild<SockJSConnector *>();
        NetworkHub hub;
        hub.settings().autoReconnect = true;
        hub.settings().reconnectInitialMs = hub.settings().reconnectMaxMs = 10;
        QStringList log;
        connect(&c, &PresenterCollab::stateChanged, this, [&](ConnectionState s) { log << keyOf(s); });
        connect(&c, &PresenterCollab::connected, this, [&] { log << "connected"; });
        connect(&c, &PresenterCollab::reconnecting, this, [&] { log << "reconnecting:" + keyOf(c.error()); });
        connect(&c, &PresenterCollab::connectionClosed, this,
                [&](bool idle) { log << (idle ? "closed(idle):" : "closed:") + keyOf(c.error()); });
        const QMap<QString, Error> reasons{{"refused", Error::ConnectionRefused}, {"dead", Error::DeadLink},
                                           {"tls", Error::Tls}, {"proxyauth", Error::ProxyAuthenticationRequired},
                                           {"none", Error::None}};
        const QMap<QString, std::function<void()>> hostCalls{
            {"open", [&] { c.open(); }}, {"close", [&] { c.close(); }},
            {"auto", [&] { c.setAutoReconnect(true); }}, {"manual", [&] { c.setAutoReconnect(false); }},
            {"limit1", [&] { c.setReconnectLimits(1, 0); }}, {"hub", [&] { c.priv()->adoptSettings(&hub); }},
            {"quiet", [&] { c.priv()->endQuietly(); }}, {"goodbye", [&] { c.priv()->goodbyeNow(); }}};
        for (const QString &step : script.split(' ')) {
            const int before = log.size(), opened = c.opens.size();
            if (hostCalls.contains(step)) {
                hostCalls.value(step)();
                QVERIFY2(log.size() == before, qPrintable(step + " emitted inside the call"));
            } else if (reasons.contains(step)) {
                c.reason = reasons.value(step);
                c.reasonText = step == "tls" ? "certificate error: expired" : QString();
            } else if (step == "up") {
                c.fakeConnected = true;
                emit connector->connected();
            } else if (step == "drop" || step == "idle") {
                c.fakeConnected = false;
                emit connector->closed(step == "idle");
            } else if (step == "fail") {
                emit connector->openFailed();
            } else if (step == "retry") {
                QTRY_VERIFY_WITH_TIMEOUT(c.opens.size() > opened, 5000);
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
            settle();
        }
        QCOMPARE(log.join(' '), expected);
        const QStringList published = c.sent(false).filter(QRegularExpression(" (?!register$)\\w+$"));
        QCOMPARE(published.join(' '), sent);
        QCOMPARE(c.opens.size(), opens);
        QCOMPARE(c.state(), state);
        QCOMPARE(c.error(), error);
        QCOMPARE(c.errorString().isEmpty(), error == Error::None);
        if (error == Error::Tls)
            QCOMPARE(c.errorString(), "certificate error: expired");
        QTest::qWait(50); // nothing follows
        QCOMPARE(log.join(' '), expected);
    }

    // Round trips of the presenter's own broadcasts. Events: "type:payload@ms" sent, "type:payload>ms" its echo,
    // "clear" the connection ended; "many@ms" sends 17 other frames. Expected: the figures reported, the last value.
    void roundTripFigure_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QList<int>>("reported");
        QTest::addColumn<int>("value");
        QTest::newRow("first echo") << "p:x@0 p:x>30" << QList<int>{30} << 30;
        QTest::newRow("equal frames: the oldest first") << "p:x@0 p:x@100 p:x>150 p:x>160" << QList<int>{150} << 150;
        QTest::newRow("same type, other payload") << "p:x@0 p:y@40 p:y>50 p:x>100" << QList<int>{10, 100} << 100;
        QTest::newRow("same payload, other type") << "p:x@0 q:x@40 q:x>50 p:x>100" << QList<int>{10, 100} << 100;
        QTest::newRow("below 20 ms not reported, 30 of 100 is")
            << "a:1@0 a:1>100 a:2@200 a:2>310 a:3@400 a:3>530 a:4@600 a:4>730" << QList<int>{100, 130} << 130;
        QTest::newRow("less than a quarter not reported")
            << "a:1@0 a:1>200 a:2@1000 a:2>1240 a:3@2000 a:3>2240" << QList<int>{200} << 240;
        QTest::newRow("median of the last five")
            << "a:1@0 a:1>900 a:2@0 a:2>10 a:3@0 a:3>10 a:4@0 a:4>10 a:5@0 a:5>900 a:6@0 a:6>900 a:7@0 a:7>900"
            << QList<int>{900, 10, 900} << 900;
        QTest::newRow("an echo after the expiry is not matched") << "p:x@0 p:x>30001" << QList<int>{} << -1;
        QTest::newRow("the oldest of too many waiting frames go") << "p:x@0 many@1 p:x>50" << QList<int>{} << -1;
        QTest::newRow("ended: unknown, then known anew")
            << "p:x@0 p:x>30 clear clear p:x@100 p:x>105" << QList<int>{30, -1, 5} << 5;
    }
    void roundTripFigure()
    {
        QFETCH(QString, events);
        QFETCH(QList<int>, reported);
        QFETCH(int, value);
        RoundTripMeter meter;
        QList<int> got;
        for (const QString &e : events.split(' ')) {
            const QStringList parts = e.split(QRegularExpression("[:@>]"));
            if (e == "clear") {
                if (meter.clear())
                    got << meter.reported();
            } else if (parts.at(0) == "many") {
                for (int i = 0; i < RoundTripMeter::MAX_WAITING; ++i)
                    meter.sent(RoundTripMeter::key("o", QString::number(i)), parts.at(1).toInt());
            } else if (e.contains('@')) {
                meter.sent(RoundTripMeter::key(parts.at(0), parts.at(1)), parts.at(2).toInt());
            } else if (meter.echoed(RoundTripMeter::key(parts.at(0), parts.at(1)), parts.at(2).toInt())) {
                got << meter.reported();
            }
        }
        QCOMPARE(got, reported);
        QCOMPARE(meter.value(), value);
    }

    // The figure comes from the echoes of what was broadcast on the session address, whatever its form; only
    // while connected; unknown again when the connection ends.
    void roundTripFromEchoes()
    {
        RecordingCollab c;
        qint64 now = 0;
        c.priv()->setClock([&] { return now; });
        c.up();
        QSignalSpy figure(&c, &PresenterCollab::roundTripChanged);
        auto *connector = c.findChild<SockJSConnector *>();
        c.publishMessage("pause", R"("p")");
        publishObject(c, "S1", "dialogShow", {{"text", "x"}});
        c.publishMessage(".learner", "heavy", R"("%0")");
        now = 20;
        c.publishMessage("pause", R"("q")");
        QCOMPARE(c.roundTripMs(), -1);
        const QStringList sent = texts(c.frames);
        QCOMPARE(sent.size(), 4);
        for (const auto &[at, i] : QList<QPair<int, int>>{{40, 3}, {100, 0}, {130, 1}}) {
            now = at;
            emit connector->sockJSMessage(echoOf(sent.at(i)));
        }
        QCOMPARE(Calls(figure), (Calls{{20}, {100}}));
        QCOMPARE(c.roundTripMs(), 100);
        QCOMPARE(c.priv()->roundTrips().waiting(), 0); // the learners' frame was not timed
        c.fakeConnected = false;
        c.onClosed(false);
        QCOMPARE(figure.last(), QVariantList{-1});
        QCOMPARE(c.roundTripMs(), -1);
    }

    // The current poll: the id its answers carry, its question (the earlier poll's kept for a host that holds it,
    // without its card's image data), its state (announced from the event loop), re-sending it to one device;
    // nothing of it once stopped.
    void currentPoll_data()
    {
        QTest::addColumn<int>("pollType");
        QTest::addColumn<int>("options");
        QTest::addColumn<QString>("kind");
        QTest::newRow("multiple choice") << int(PollType::MULTIPLE) << 3 << "questionStart";
        QTest::newRow("text") << int(PollType::TEXT) << 0 << "questionStart";
        QTest::newRow("word seed (template)") << int(PollType::WORD_SEED) << 3 << "poll";
    }
    void currentPoll()
    {
        QFETCH(int, pollType);
        QFETCH(int, options);
        QFETCH(QString, kind);
        const bool asQuestion = kind == "questionStart";
        RecordingCollab c;
        QSignalSpy states(&c, &PresenterCollab::pollStateChanged);
        const auto imageOf = [](QuestionBase *q) { return qobject_cast<Card *>(q->getcard())->getBackgroundImage(); };
        QVERIFY(c.currentPollAnswerId().isNull());
        c.setCardImage(QByteArray(3000, 'x'));
        c.startPoll(PollType::POLL_TYPE(pollType), OrdinalType::ALPHA_UPPER, options);
        QVERIFY(states.isEmpty() && c.pollState() == PollState::Running);
        const QPointer<QuestionBase> first = c.currentPollQuestion();
        QCOMPARE(bool(first), asQuestion);
        c.startPoll(PollType::POLL_TYPE(pollType), OrdinalType::ALPHA_UPPER, options);
        QCOMPARE(bool(first), asQuestion);
        QCOMPARE(c.findChildren<QuestionBase *>().size(), asQuestion ? 2 : 0);
        QuestionBase *question = c.currentPollQuestion();
        if (asQuestion)
            QCOMPARE(imageOf(first) + '|' + imageOf(question).left(5), "|data:");
        QCOMPARE(c.currentPollAnswerId(), asQuestion ? question->getID() : c.getPollId());
        QCOMPARE(c.sent(false).last(), "S1 " + kind);
        const QString started = restoredText(c.published().last());
        const QString quotedId = '"' + c.getPollId() + '"';

        c.pausePoll();
        QVERIFY(c.isPollPaused());
        c.frames.clear();
        c.sendCurrentPollTo("D9");
        QCOMPARE(c.sent(false), (QStringList{"S1.user.D9 " + kind, "S1.user.D9 pause"}));
        QCOMPARE(restoredText(c.published().at(0)), started);
        QCOMPARE(restoredText(c.published().at(1)), quotedId);
        c.resumePoll();
        QVERIFY(!c.isPollPaused());
        c.frames.clear();
        c.sendCurrentPollTo("D9");
        QCOMPARE(c.sent(false), QStringList{"S1.user.D9 " + kind});

        c.frames.clear();
        c.pausePoll();
        c.setCardImage(QStringLiteral("u"));
        c.stopPoll();
        c.stopPoll();               // no poll: an empty id
        c.resumePoll();             // nothing to resume: the message only
        c.sendCurrentPollTo("D9");  // nothing
        c.showImageCard(false);     // stopPoll cleared the image: an empty url
        QCOMPARE(c.sent().mid(0, 4), (QStringList{"S1 pause " + quotedId, "S1 pollStop " + quotedId,
                                                  "S1 pollStop \"\"", "S1 resume \"\""}));
        QCOMPARE(jat(c.data(-1), "components.0.blob.url"), QJsonValue(""));
        QVERIFY(c.getPollId().isNull() && c.currentPollAnswerId().isNull() && !c.currentPollQuestion());
        QVERIFY(!c.isPollPaused());
        settle();
        QStringList seen;
        for (const QVariantList &args : qAsConst(states))
            seen << keyOf(args.at(0).value<PollState>());
        QCOMPARE(seen.join(' '), "Running Running Paused Running Paused Stopped");
        QCOMPARE(c.pollState(), PollState::Stopped);
    }

    // The presenter's own broadcasts coming back are not dispatched.
    void ownBroadcastsIgnored()
    {
        RecordingCollab c;
        QSignalSpy control(&c, &PresenterCollab::remoteControl);
        auto *connector = c.findChild<SockJSConnector *>();
        for (const char *from : {"U1", "D7"})
            emit connector->sockJSMessage(
                deliveredFrame({{"from", from}, {"type", "pause"}, {"data", QVariantList{compress64(R"("p")")}}}));
        QCOMPARE(control.count(), 1);
        QCOMPARE(control.at(0).at(0).value<RemoteControlMessage>().from, "D7");
    }

    void openProtocols_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("capitalised or unknown only") << QStringList{"Websocket", "xhr"} << QList<int>{1, 2, 4};
        QTest::newRow("order kept") << QStringList{"xhr-polling", "websocket"} << QList<int>{4, 1};
        QTest::newRow("unknown skipped, duplicates kept")
            << QStringList{"xhr-streaming", "bogus", "xhr-streaming"} << QList<int>{2, 2};
    }
    void openProtocols()
    {
        QFETCH(QStringList, names);
        QFETCH(QList<int>, expected);
        RecordingCollab c;
        c.open(names);
        c.open(); // nothing while open
        c.priv()->transportOpenFailed();
        c.open();
        QCOMPARE(c.opens, (QList<QList<int>>{expected, {1, 2, 4}}));
    }


    void messageObjects()
    {
        RecordingCollab c;
        VeltroCollabMessage withMap, empty;
        withMap.settype("dialogShow");
        withMap.setdata(QVariantMap{{"text", "say \"hi\""}});
        c.publishMessage(".user.d1", &withMap);
        empty.settype("x");
        c.publishMessage("S1", &empty);
        c.publishMessage("S1", static_cast<VeltroCollabMessage *>(nullptr));
        c.sendQuestion(nullptr);
        QCOMPARE(c.frames.size(), 2);
        // The body is the serializer's text of the message, inserted whole.
        QCOMPARE(c.frames.at(0).text, QStringLiteral(R"({"type":"publish","address":"S1.user.d1","body":%1})")
                                          .arg(JsonSerializer::serializeToJson(&withMap)));
        const QJsonObject body = jat(c.published().at(0), "body").toObject();
        QCOMPARE((QStringList{jstr(body, "from"), jstr(body, "version"), jstr(body, "sourceSystem")}),
                 (QStringList{"U1", "3.0.0", "Nimbra"}));
        QCOMPARE(jstr(c.data(0), "text"), "say \"hi\"");
        QVERIFY(jat(c.published().at(1), "body.data").isNull());
    }


    void pollQuestions_data()
    {
        QTest::addColumn<QList<int>>("args");  // poll type, ordinal type, options, correct options
        QTest::addColumn<QString>("expected"); // type|activity id|options id:text|ordinal type|extra=value
        QTest::newRow("yes-no-other, 3") << QList<int>{PollType::YES_NO_OTHER, OrdinalType::YES_NO_OTHER, 3, 1}
            << "yes-no-other|3c476afbcfce45eda0b44df4737c3d27|A:YES,B:NO,?:DONTKNOW|alpha-upper|";
        QTest::newRow("true-false labels past two") << QList<int>{PollType::SCALE, OrdinalType::TRUE_FALSE, 4, 1}
            << "scale|c80eb89f2c7240fb83d53069bf4c1f2c|A:TRUE,B:FALSE,?:DONTKNOW,?:DONTKNOW|alpha-upper|";
        QTest::newRow("multiple A-D, 2 correct") << QList<int>{PollType::MULTIPLE, OrdinalType::ALPHA_UPPER, 4, 2}
            << "multiple|8755bfc923cb492094df5c842a30da5f|A:,B:,C:,D:|alpha-upper|numberOfCorrectOptions=2";
        QTest::newRow("sort lower") << QList<int>{PollType::SORT, OrdinalType::ALPHA_LOWER, 3, 1}
                                    << "sort|be8a3a7f5d624a798ec54900385a9eb8|a:,b:,c:|alpha-lower|";
        QTest::newRow("scale numbered") << QList<int>{PollType::SCALE, OrdinalType::AGREEMENT, 3, 1}
                                        << "scale|c80eb89f2c7240fb83d53069bf4c1f2c|0:,1:,2:|number|";
        QTest::newRow("text") << QList<int>{PollType::TEXT, OrdinalType::GENERIC, 2, 1}
                              << "text|6efc81c52cfe4502976de55df9af2f89|||";
        QTest::newRow("number, decimals") << QList<int>{PollType::NUMBER, OrdinalType::NUMBER, 2, 1}
                                          << "number|24e7bda40c4140f896648511a5782466|||noOfDecimals=2";
    }
    void pollQuestions()
    {
        QFETCH(QList<int>, args);
        QFETCH(QString, expected);
        RecordingCollab c;
        c.startPoll(PollType::POLL_TYPE(args[0]), OrdinalType::ORDINAL_TYPE(args[1]), args[2], args[3]);
        QCOMPARE(c.sent(false), QStringList{"S1 questionStart"});
        const QJsonObject q = c.data(0);
        QStringList options;
        for (const QJsonValue &o : q.value("activityOptions").toArray()) {
            QCOMPARE(jat(o, "displaySeqNumber").toInt(), options.size() + 1);
            options << jstr(o, "id") + ':' + jstr(o, "optionText");
        }
        const QString extra = expected.section('|', 4).section('=', 0, 0);
        const QStringList got{jstr(q, "type"), jstr(q, "activityType.id"), options.join(','),
                              jstr(q, "metadata.ordinalType"),
                              extra.isEmpty() ? QString() : extra + '=' + QString::number(q.value(extra).toInt())};
        QCOMPARE(got.join('|'), expected);
        QCOMPARE((QStringList{jstr(q, "activityType.name"), jstr(q, "questionSetMode")}),
                 (QStringList{jstr(q, "type"), "Poll"}));
        QCOMPARE(q.value("card").toObject(), QJsonObject()); // no card image set: the question keeps its empty card
    }

    void templatePolls()
    {
        RecordingCollab c;
        c.setCardImage(QStringLiteral("http://img/x.png"));
        c.startPoll(PollType::WORD_SEED, OrdinalType::GENERIC, 3);
        const QString id = c.getPollId();
        QCOMPARE(c.sent(false), QStringList{"S1 poll"});
        const QString expected = QStringLiteral(
            R"({"type":"word-seed","expressionQuestionId":1,"metadata":{"ordinalType":"generic","options":[0,1,2]},"id":"%1",)"
            R"("sessionToken":"S1","sessionCode":"123456","lessonId":null,"startTime":1395358151638,"lastUpdatedOn":1395358151638,)"
            R"("card":{"segment":"fake-id","tracks":[{"placeholder":true}],"visible":true,"ordinal":1395358139515,)"
            R"x("styles":{"backgroundColor":"","backgroundImage":"url('http://img/x.png')","backgroundSize":"100%"},"components":[]},)x"
            R"("unrespondedUsers":[]})").arg(id);
        QCOMPARE(restoredText(c.published().at(0)), expected);

        // The template path used the image and cleared it.
        c.startPoll(PollType::CREATIVE, OrdinalType::NUMBER, 0);
        QCOMPARE(jstr(c.data(1), "card.styles.backgroundImage") + jstr(c.data(1), "type"), "creative");
        QVERIFY(jstr(c.data(1), "id") != id);
    }

    // Envelope frames byte for byte as the template gives them; an address starting with a dot is relative to
    // the session.
    void envelopeFrames()
    {
        RecordingCollab c;
        c.publishMessage(".learner", "showCard", R"({"a":1})");
        c.publishMessage64("x.learner", "heavy", R"("%0")");
        c.sendCurrentCardToRemote(2, 3);
        c.sendCurrentCardToRemote(1, 0);
        c.sendCurrentLessonToRemote("L\"1", "Fractions \"basic\" \\ %1");
        c.sendPresenterIsActiveToRemote();
        c.removeLearner("D7");
        QCOMPARE(c.sent(), (QStringList{
            R"(S1.learner showCard {"a":1})", R"(x.learner heavy "%0")",
            R"(S1.controller currentCard {"currentCard":"2", "cards": [{"name":"1"},{"name":"2"},{"name":"3"}], )"
            R"("totalCards":"3"})",
            R"(S1.controller currentCard {"currentCard":"1", "cards": [], "totalCards":"0"})",
            "S1.controller currentLesson {\"lessonId\":\"L\\\"1\", \"name\":\"Fractions \\\"basic\\\" \\\\ %1\"}",
            R"(S1.controller presenterIsActive "%0")", R"(S1.user.D7 disconnect "")"}));
    }

    void imageCards_data()
    {
        QTest::addColumn<bool>("useBytes");
        QTest::addColumn<int>("size"); // bytes of the image, or characters of the URL
        QTest::addColumn<bool>("check");
        QTest::addColumn<bool>("heavy");
        QTest::newRow("url of exactly the threshold") << false << 524288 << true << false;
        QTest::newRow("url one past, checked") << false << 524289 << true << true;
        QTest::newRow("url one past, unchecked") << false << 524289 << false << false;
        QTest::newRow("large bytes, checked") << true << 400000 << true << true;
    }
    void imageCards()
    {
        QFETCH(bool, useBytes);
        QFETCH(int, size);
        QFETCH(bool, check);
        QFETCH(bool, heavy);
        RecordingCollab c;
        const QByteArray image(size, 'x');
        const QString reference = useBytes ? QString("data:image/png;base64," + QString::fromLatin1(image.toBase64()))
                                           : QString("http://h/" + QString(size - 9, QLatin1Char('a')));
        useBytes ? c.setCardImage(image) : c.setCardImage(reference);
        c.showImageCard(check);
        QCOMPARE(c.sent().mid(0, heavy ? 1 : 0), heavy ? QStringList{R"(S1.learner heavy "%0")"} : QStringList());
        QCOMPARE(c.sent(false).last(), "S1.learner showCard");
        QCOMPARE(restoredText(c.published().last()),
                 QStringLiteral(
                     R"({"segment":{"id":"any"},"isTeacherCard":true,"autoSend":true,"notes":null,"tracks":[],)"
                     R"("visible":true,"ordinal":1,"styles":{"backgroundColor":"","backgroundImage":""},"components":)"
                     R"([{"ordinal":1397148149039,"styles":{"anchor":false,"width":770,"left":15,"height":570,"top":15},)"
                     R"("blob":{"url":"%1"},"type":"image"}],"trackSortSeq":0,)"
                     R"("_tId":"DF8A71DA-3EF2-44E3-9B2F-F651C7A8B0F9","hasStudentCards":false})")
                     .arg(reference));
    }


    // Start to one learner with the host's token, messages, questions, stop; with the session object gone, nothing.
    void assessment()
    {
        auto *c = new RecordingCollab;
        PresenterAssessment a(nullptr, c);
        AssessmentOptions mine, filled;
        mine.setassessmentToken("mine");
        mine.setquestionCount(5);
        QVERIFY(a.start("d-2", &mine) && a.start(&filled) && !a.start(nullptr));
        QCOMPARE(filled.getassessmentToken(), a.getAssessmentId());
        const QString text = QStringLiteral("Done \"soon\"");
        a.sendMessage(text, true, true); // a review ignores "dismissible"
        a.sendMessage("d-2", text, false, false);
        QuestionMultiChoice q;
        q.addActivityOption("A", "x", 1);
        QVERIFY(a.sendQuestion("d-1", &q));
        QuestionYesNo yn; // true-false: its activity type is set anew
        yn.setTrueFalseType(true);
        yn.setactivityType(QVariantMap{{"stale", 1}});
        QVERIFY(a.sendQuestion(QString(), &yn) && !a.sendQuestion(QString(), nullptr));
        a.pause();
        a.resume();
        a.stop();
        QCOMPARE(c->sent(false),
                 (QStringList{"S1.user.d-2 assessmentStart", "S1 assessmentStart", "S1 questionSetReview",
                              "S1.user.d-2 dialogShow", "S1.user.d-1 questionStart", "S1 questionStart", "S1 pause",
                              "S1 resume", "S1 assessmentStop"}));
        QCOMPARE(c->data(0).size(), 15);
        QCOMPARE(jstr(c->data(0), "assessmentToken") + jstr(c->data(1), "assessmentToken"),
                 "mine" + a.getAssessmentId());
        QCOMPARE(jat(c->data(0), "questionCount").toInt(), 5);
        QCOMPARE(c->data(2), (QJsonObject{{"showNavigation", true}, {"text", text}}));
        QCOMPARE(c->data(3), (QJsonObject{{"isDismissible", false}, {"text", text}}));
        QCOMPARE(q.getquestionSetMode(), "Assessment");
        QCOMPARE(c->data(5).value("activityType").toObject(),
                 (QJsonObject{{"id", "3c476afbcfce45eda0b44df4737c3d27"}, {"name", "true-false"}}));
        QCOMPARE(c->data(-1), (QJsonObject{{"assessmentToken", a.getAssessmentId()}}));

        delete c;
        AssessmentOptions later;
        QVERIFY(!a.start(&later) && !a.sendQuestion(QString(), &q));
        a.sendMessage("x", true, false);
        a.pause();
        a.resume();
        a.stop();
        QVERIFY(later.getassessmentToken().isEmpty());
    }


    // Each step: the time of the attempt's scheduling and the random draw;
    // the expected delays (-1: give up).
    void backoff_data()
    {
        QTest::addColumn<QList<int>>("config"); // initial, max, attempts, total
        QTest::addColumn<QList<int>>("times");
        QTest::addColumn<QList<double>>("draws");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("doubling from half to full step, capped")
            << QList<int>{500, 3000, 0, 0} << QList<int>{0, 1, 2, 3, 4, 5}
            << QList<double>{0.0, 0.999, 0.5, 0.0, 0.0, 0.999} << QList<int>{250, 999, 1500, 1500, 1500, 2998};
        QTest::newRow("attempt limit") << QList<int>{100, 1000, 2, 0} << QList<int>{0, 10, 20}
                                       << QList<double>{0, 0, 0} << QList<int>{50, 100, -1};
        QTest::newRow("total time limit counts from the first drop")
            << QList<int>{1000, 1000, 0, 5000} << QList<int>{100, 3000, 4400} << QList<double>{0, 0, 0.999}
            << QList<int>{500, 500, -1};
        QList<int> many{250, 500, 1000, 2000, 4000, 8000}, zeros;
        while (many.size() < 70)
            many << 15000;
        while (zeros.size() < 70)
            zeros << 0;
        QTest::newRow("no overflow after many attempts") // all at 0 with draw 0
            << QList<int>{500, 30000, 0, 0} << zeros << QList<double>(zeros.begin(), zeros.end()) << many;
    }
    void backoff()
    {
        QFETCH(QList<int>, config);
        QFETCH(QList<int>, times);
        QFETCH(QList<double>, draws);
        QFETCH(QList<int>, expected);
        ReconnectBackoff b;
        b.setDelays(config[0], config[1]);
        b.setLimits(config[2], config[3]);
        for (int i = 0; i < times.size(); ++i) {
            QCOMPARE(b.next(times[i], draws[i]), expected[i]);
            if (expected[i] >= 0)
                QCOMPARE(b.attempt(), i + 1);
        }
        // Up again: the next drop starts a new series and its own clock.
        b.reset();
        QCOMPARE(b.next(1000000, 0), config[0] / 2);
    }

    void hold_data()
    {
        QTest::addColumn<int>("maxFrames");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<QList<int>>("pushed"); // frame lengths, frame i made of letter 'a' + i
        QTest::addColumn<QString>("kept");      // first letters of the frames left, in order
        QTest::newRow("within bounds") << 3 << 100 << QList<int>{1, 2, 3} << "abc";
        QTest::newRow("frame count: oldest go") << 2 << 100 << QList<int>{1, 1, 1, 1} << "cd";
        QTest::newRow("size: oldest go until it fits") << 10 << 10 << QList<int>{4, 4, 4, 9} << "d";
        QTest::newRow("frame larger than the bound") << 10 << 10 << QList<int>{4, 11, 4} << "ac";
    }
    void hold()
    {
        QFETCH(int, maxFrames);
        QFETCH(int, maxChars);
        QFETCH(QList<int>, pushed);
        QFETCH(QString, kept);
        OutgoingQueue q(maxFrames, maxChars);
        for (int i = 0; i < pushed.size(); ++i)
            q.push(QString(pushed[i], QChar('a' + i)));
        QCOMPARE(q.dropped(), qint64(pushed.size() - kept.size()));
        QString firsts;
        for (const QString &f : q.takeAll())
            firsts += f.at(0);
        QCOMPARE(firsts, kept);
    }
};

QTEST_GUILESS_MAIN(TestPresenterCollab)
#include "tst_presentercollab.moc"
