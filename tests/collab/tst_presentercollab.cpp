// Publishing in isolation: the exact frames PresenterCollab hands to its
// connector, captured through the transport seam.
#include <QSignalSpy>
#include <QtTest>

#include "collabtestutil.h"
#include "jsonserializer.h"
#include "ordinaltype.h"
#include "polltype.h"
#include "questionmultichoice.h"
#include "questionyesno.h"
#include "sockjsconnector.h"
#include "veltrocollabmessage.h"

using namespace Veltro;

class TestPresenterCollab : public QObject
{
    Q_OBJECT

    static QString envelope(const QString &address, const QString &type, const QString &data)
    {
        return QStringLiteral(R"({"type":"publish","address":"%1","body":{"from":"U1","type":"%2","data":["%3"]}})")
            .arg(address, type, compress64(data));
    }

    static QJsonObject bodyOf(const QJsonObject &frame) { return frame.value(QStringLiteral("body")).toObject(); }

    // A payload far above the size compressed on the caller's thread.
    static QString largeJson() { return QLatin1Char('"') + QString(200000, QLatin1Char('b')) + QLatin1Char('"'); }

private Q_SLOTS:
    // ---- frames and addresses ---------------------------------------------

    void envelopeFrames_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("sentTo");
        QTest::newRow("relative") << ".learner" << "S1.learner";
        QTest::newRow("absolute with .learner inside") << "x.learner" << "x.learner";
        QTest::newRow("session token") << "S1" << "S1";
        QTest::newRow("lone dot") << "." << "S1.";
    }
    void envelopeFrames()
    {
        QFETCH(QString, address);
        QFETCH(QString, sentTo);
        RecordingCollab c;
        c.publishMessage(address, QStringLiteral("showCard"), QStringLiteral(R"({"a":1})"));
        c.publishMessage64(address, QStringLiteral("heavy"), QStringLiteral(R"("%0")"));
        QCOMPARE(c.frames.size(), 2);
        QCOMPARE(c.frames.at(0).text, envelope(sentTo, QStringLiteral("showCard"), QStringLiteral(R"({"a":1})")));
        QCOMPARE(c.frames.at(1).text, envelope(sentTo, QStringLiteral("heavy"), QStringLiteral(R"("%0")")));
        QVERIFY(!c.frames.at(0).ping && !c.frames.at(1).ping);
    }

    // Values needing escaping keep the frame valid and reach the peer intact.
    void hostileValuesStayIntact()
    {
        RecordingCollab c(QStringLiteral("S\"%1"), QStringLiteral("U\\%0"));
        c.publishMessage(QStringLiteral(".x\"y"), QStringLiteral("t\"%1"), QStringLiteral("d"));
        c.onConnected();
        QCOMPARE(c.frames.size(), 4);
        for (const SentFrame &f : c.frames) {
            QJsonParseError err;
            QJsonDocument::fromJson(f.text.toUtf8(), &err);
            QCOMPARE(err.error, QJsonParseError::NoError);
        }
        const QJsonObject pub = c.published().at(0);
        QCOMPARE(pub.value(QStringLiteral("address")).toString(), QStringLiteral("S\"%1.x\"y"));
        QCOMPARE(bodyOf(pub).value(QStringLiteral("from")).toString(), QStringLiteral("U\\%0"));
        QCOMPARE(bodyOf(pub).value(QStringLiteral("type")).toString(), QStringLiteral("t\"%1"));
        QCOMPARE(c.published().at(3).value(QStringLiteral("address")).toString(),
                 QStringLiteral("S\"%1.presenter.U\\%0"));
    }

    void notConnected()
    {
        RecordingCollab c;
        c.fakeConnected = false;
        QSignalSpy left(&c, &PresenterCollab::learnerUnregister);
        c.publishMessage(QStringLiteral("poll"), QStringLiteral("x"));
        c.startPoll(PollType::WORD_SEED, OrdinalType::GENERIC);
        c.pausePoll();
        c.sendCurrentCardToRemote(1, 2);
        c.removeLearner(QStringLiteral("d-9"));
        c.close();
        QVERIFY(c.frames.isEmpty());
        QCOMPARE(c.transportCloses, 0);
        QCOMPARE(left.count(), 1);
        QCOMPARE(left.at(0).at(0).toString(), QStringLiteral("d-9"));
        // Pings, message objects and questions are handed over regardless.
        c.sendPing();
        VeltroCollabMessage m;
        m.settype(QStringLiteral("t"));
        c.publishMessage(QStringLiteral("S1"), &m);
        c.startPoll(PollType::TEXT, OrdinalType::GENERIC);
        QCOMPARE(c.frames.size(), 3);
        QCOMPARE(c.frames.at(0).text, QStringLiteral(R"({"type":"ping"})"));
        QVERIFY(c.frames.at(0).ping);
        QVERIFY(!c.frames.at(1).ping && !c.frames.at(2).ping);
    }

    // ---- lifecycle ----------------------------------------------------------

    void registrationAndPing()
    {
        RecordingCollab c;
        QCOMPARE(c.pingInterval(), 60000);
        c.setPingInterval(20);
        c.onConnected();
        QCOMPARE(c.frames.size(), 3);
        QCOMPARE(c.frames.at(0).text, QStringLiteral(R"({"type":"register","address":"S1"})"));
        QCOMPARE(c.frames.at(1).text, QStringLiteral(R"({"type":"register","address":"S1.presenter"})"));
        QCOMPARE(c.frames.at(2).text, QStringLiteral(R"({"type":"register","address":"S1.presenter.U1"})"));
        QTRY_VERIFY_WITH_TIMEOUT(c.frames.size() >= 5, 5000);
        for (int i = 0; i < c.frames.size(); ++i) {
            QCOMPARE(c.frames.at(i).ping, i >= 3);
            if (i >= 3)
                QCOMPARE(c.frames.at(i).text, QStringLiteral(R"({"type":"ping"})"));
        }

        QSignalSpy closed(&c, &PresenterCollab::connectionClosed);
        c.onClosed(true);
        c.onClosed(false);
        QCOMPARE(closed.count(), 2);
        QCOMPARE(closed.at(0).at(0).toBool(), true);
        QCOMPARE(closed.at(1).at(0).toBool(), false);
        // The timer stopped with the close: no further pings arrive.
        const int before = c.frames.size();
        QTest::qWait(100);
        QCOMPARE(c.frames.size(), before);
    }

    void close()
    {
        RecordingCollab c;
        c.setPingInterval(20);
        c.onConnected();
        c.frames.clear();
        QSignalSpy closed(&c, &PresenterCollab::connectionClosed);
        c.close();
        QCOMPARE(c.frames.size(), 1);
        QCOMPARE(c.frames.at(0).text, envelope(QStringLiteral("S1"), QStringLiteral("disconnect"), QStringLiteral(R"("")")));
        QCOMPARE(c.transportCloses, 1);
        QCOMPARE(closed.count(), 0);
        QTest::qWait(100);
        QCOMPARE(c.frames.size(), 1);
    }

    // Wherever payloads are compressed, frames leave in publish order (pings
    // aside), byte for byte as when all is done on the caller's thread, and
    // close() sends its "disconnect" last and only then closes.
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
            c.publishMessage(QStringLiteral("first"), QStringLiteral(R"("a")"));
            c.setCardImage(QByteArray(420000, 'x'));
            c.showImageCard(true); // "heavy", then the large "showCard"
            c.sendPing();
            c.publishMessage(QStringLiteral("second"), QStringLiteral(R"("b")"));
            {
                VeltroCollabMessage large; // gone before its payload is compressed
                large.settype(QStringLiteral("dialogShow"));
                large.setdata(QVariantMap{{QStringLiteral("text"), largeJson()}});
                c.publishMessage(QStringLiteral(".learner"), &large);
            }
            VeltroCollabMessage small;
            small.settype(QStringLiteral("tiny"));
            small.setdata(QVariantMap{{QStringLiteral("n"), 1}});
            c.publishMessage(QStringLiteral("S1"), &small);
            c.close();
        };
        RecordingCollab reference;
        reference.priv()->setBackgroundThreshold(std::numeric_limits<int>::max());
        run(reference);
        QCOMPARE(reference.publishedTypes(), (QStringList{"first", "heavy", "showCard", "second", "dialogShow", "tiny",
                                                          "disconnect"}));

        RecordingCollab c;
        QList<SentFrame> sent;
        c.alsoTo = &sent;
        c.priv()->setBackgroundThreshold(threshold);
        run(c);
        QVERIFY(c.priv()->framesInLine());
        QCOMPARE(c.transportCloses, 0);
        QTRY_COMPARE_WITH_TIMEOUT(c.transportCloses, 1, 30000);
        QCOMPARE(sent.last().text, QStringLiteral("(closed)"));
        QStringList expected, got;
        for (const SentFrame &f : reference.frames)
            if (!f.ping)
                expected << f.text;
        for (const SentFrame &f : c.frames)
            if (!f.ping)
                got << f.text;
        QCOMPARE(got, expected);
        QCOMPARE(c.frames.size(), got.size() + 1);
    }

    // With reconnection on, frames whose compression ends while the link is
    // down are held with the others in publish order and follow the
    // registration; one still compressing then follows them. With it off, an
    // envelope frame finishing after a drop is dropped as when published
    // then; a message object is handed over regardless.
    void backgroundFramesAcrossDrops()
    {
        RecordingCollab c;
        c.priv()->setBackgroundThreshold(-1);
        c.setReconnectDelays(60000, 60000);
        c.setAutoReconnect(true);
        c.open();
        c.onConnected();
        c.frames.clear();
        c.publishMessage(QStringLiteral("before"), largeJson());
        c.fakeConnected = false;
        c.onClosed(false);
        c.publishMessage(QStringLiteral("down"), QStringLiteral(R"("x")"));
        QTRY_VERIFY_WITH_TIMEOUT(!c.priv()->framesInLine(), 30000);
        QVERIFY(c.frames.isEmpty());
        c.publishMessage(QStringLiteral("late"), largeJson());
        c.fakeConnected = true;
        c.onConnected();
        QTRY_VERIFY_WITH_TIMEOUT(!c.priv()->framesInLine(), 30000);
        QCOMPARE(c.publishedTypes(), (QStringList{"register", "register", "register", "before", "down", "late"}));
        QCOMPARE(restoredText(c.published().at(3)), largeJson());

        c.setAutoReconnect(false);
        c.frames.clear();
        c.publishMessage(QStringLiteral("envelope"), largeJson());
        VeltroCollabMessage object;
        object.settype(QStringLiteral("object"));
        object.setdata(QVariantMap{{QStringLiteral("text"), largeJson()}});
        c.publishMessage(QStringLiteral("S1"), &object);
        c.fakeConnected = false;
        c.onClosed(false);
        QTRY_VERIFY_WITH_TIMEOUT(!c.priv()->framesInLine(), 30000);
        QCOMPARE(c.publishedTypes(), QStringList{"object"});
    }

    // Deleted while a compression runs: nothing is sent afterwards, unless a
    // close() was waiting for it, which then completes first.
    void deletionWhileCompressing_data()
    {
        QTest::addColumn<bool>("closeFirst");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("open") << false << QStringList{};
        QTest::newRow("closed") << true << QStringList{"large", "disconnect", "(closed)"};
    }
    void deletionWhileCompressing()
    {
        QFETCH(bool, closeFirst);
        QFETCH(QStringList, sent);
        QList<SentFrame> frames;
        auto *c = new RecordingCollab;
        c->alsoTo = &frames;
        c->priv()->setBackgroundThreshold(PresenterCollabPrivate::DEFAULT_BACKGROUND_THRESHOLD);
        c->publishMessage(QStringLiteral("large"), largeJson());
        if (closeFirst)
            c->close();
        delete c;
        // The worker takes jobs in turn: once this one is done, so is the first.
        RecordingCollab next;
        next.priv()->setBackgroundThreshold(-1);
        next.publishMessage(QStringLiteral("next"), QStringLiteral(R"("x")"));
        QTRY_COMPARE_WITH_TIMEOUT(next.frames.size(), 1, 30000);
        QStringList types;
        for (const SentFrame &f : frames)
            types << (f.ping ? QStringLiteral("ping")
                             : bodyOf(QJsonDocument::fromJson(f.text.toUtf8()).object())
                                   .value(QStringLiteral("type")).toString(f.text));
        QCOMPARE(types, sent);
    }

    // With reconnection on, a drop is retried after the backoff; what the host
    // publishes meanwhile (pings aside) goes out in order right after the
    // registration.
    void reconnectionHoldsFrames()
    {
        RecordingCollab c;
        c.setReconnectDelays(10, 10);
        c.setAutoReconnect(true);
        QSignalSpy up(&c, &PresenterCollab::connected);
        QSignalSpy retrying(&c, &PresenterCollab::reconnecting);
        QSignalSpy closed(&c, &PresenterCollab::connectionClosed);
        c.open(QStringList{QStringLiteral("xhr-polling")});
        c.onConnected();
        QVERIFY(c.isConnected());
        c.fakeConnected = false;
        c.onClosed(false);
        QVERIFY(!c.isConnected());
        QCOMPARE(retrying.count(), 1);
        QCOMPARE(retrying.at(0).at(0).toInt(), 1);
        c.frames.clear();
        c.publishMessage(QStringLiteral("first"), QStringLiteral("1"));
        c.sendPing();
        c.startPoll(PollType::TEXT, OrdinalType::GENERIC);
        QCOMPARE(c.frames.size(), 1);
        QVERIFY(c.frames.at(0).ping);
        QTRY_COMPARE_WITH_TIMEOUT(c.opens.size(), 2, 5000);
        QCOMPARE(c.opens.at(1), QList<int>{4});
        c.fakeConnected = true;
        c.frames.clear();
        c.onConnected();
        QCOMPARE(up.count(), 2);
        const QList<QJsonObject> sent = c.published();
        QCOMPARE(sent.size(), 5);
        QCOMPARE(sent.at(2).value(QStringLiteral("address")).toString(), QStringLiteral("S1.presenter.U1"));
        QCOMPARE(bodyOf(sent.at(3)).value(QStringLiteral("type")).toString(), QStringLiteral("first"));
        QCOMPARE(bodyOf(sent.at(4)).value(QStringLiteral("type")).toString(), QStringLiteral("questionStart"));

        // Turned off while waiting: no attempt, the connection is reported over.
        c.fakeConnected = false;
        c.onClosed(false);
        c.setAutoReconnect(false);
        QCOMPARE(closed.count(), 1);
        QTest::qWait(100);
        QCOMPARE(c.opens.size(), 2);
        QCOMPARE(retrying.count(), 2);
    }

    // The presenter's own broadcasts coming back are not dispatched.
    void ownBroadcastsIgnored()
    {
        RecordingCollab c;
        QSignalSpy control(&c, &PresenterCollab::remoteControl);
        auto *connector = c.findChild<SockJSConnector *>();
        for (const QString &from : {QStringLiteral("U1"), QStringLiteral("D7")})
            emit connector->sockJSMessage(deliveredFrame(
                {{"from", from}, {"type", "pause"}, {"data", QVariantList{compress64(QStringLiteral("\"p\""))}}}));
        QCOMPARE(control.count(), 1);
        QCOMPARE(control.at(0).at(0).value<RemoteControlMessage>().from, QStringLiteral("D7"));
    }

    void openProtocols_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<int>>("expected");
        const QList<int> defaults{1, 2, 4};
        QTest::newRow("empty") << QStringList{} << defaults;
        QTest::newRow("capitalised only") << QStringList{"Websocket"} << defaults;
        QTest::newRow("unknown only") << QStringList{"xhr", "eventsource"} << defaults;
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
        c.open();
        QCOMPARE(c.opens.size(), 2);
        QCOMPARE(c.opens.at(0), expected);
        QCOMPARE(c.opens.at(1), (QList<int>{1, 2, 4}));
    }

    // ---- message objects ------------------------------------------------------

    void messageObjectBodies()
    {
        RecordingCollab c;
        VeltroCollabMessage withMap;
        withMap.settype(QStringLiteral("dialogShow"));
        withMap.setdata(QVariantMap{{QStringLiteral("text"), QStringLiteral("say \"hi\"")}});
        c.publishMessage(QStringLiteral(".user.d1"), &withMap);

        VeltroCollabMessage empty;
        empty.settype(QStringLiteral("x"));
        c.publishMessage(QStringLiteral("S1"), &empty);

        QCOMPARE(c.frames.size(), 2);
        // The body is the serializer's text of the message, inserted whole.
        QCOMPARE(c.frames.at(0).text, QStringLiteral(R"({"type":"publish","address":"S1.user.d1","body":%1})")
                                          .arg(JsonSerializer::serializeToJson(&withMap)));
        const QJsonObject body = bodyOf(c.published().at(0));
        QCOMPARE(body.value(QStringLiteral("from")).toString(), QStringLiteral("U1"));
        QCOMPARE(body.value(QStringLiteral("version")).toString(), QStringLiteral("3.0.0"));
        QCOMPARE(body.value(QStringLiteral("sourceSystem")).toString(), QStringLiteral("Nimbra"));
        QCOMPARE(restoredJson(c.published().at(0)).object().value(QStringLiteral("text")).toString(),
                 QStringLiteral("say \"hi\""));
        QVERIFY(bodyOf(c.published().at(1)).value(QStringLiteral("data")).isNull());
        QVERIFY(bodyOf(c.published().at(1)).contains(QStringLiteral("data")));

        c.publishMessage(QStringLiteral("S1"), static_cast<VeltroCollabMessage *>(nullptr));
        c.sendQuestion(nullptr);
        QCOMPARE(c.frames.size(), 2);
    }

    // ---- polls ------------------------------------------------------------------

    void pollQuestions_data()
    {
        QTest::addColumn<int>("pollType");
        QTest::addColumn<int>("ordinalType");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("correct");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("activityId");
        QTest::addColumn<QStringList>("options"); // id:text pairs, seq implied
        QTest::addColumn<QString>("metaOrdinal");
        QTest::addColumn<QString>("extraKey");
        QTest::addColumn<int>("extraValue");

        QTest::newRow("yes-no-other, 3") << int(PollType::YES_NO_OTHER) << int(OrdinalType::YES_NO_OTHER) << 3 << 1
                                         << "yes-no-other" << "3c476afbcfce45eda0b44df4737c3d27"
                                         << QStringList{"A:YES", "B:NO", "?:DONTKNOW"} << "alpha-upper" << "" << 0;
        QTest::newRow("true-false labels past two") << int(PollType::SCALE) << int(OrdinalType::TRUE_FALSE) << 4 << 1
                                                    << "scale" << "c80eb89f2c7240fb83d53069bf4c1f2c"
                                                    << QStringList{"A:TRUE", "B:FALSE", "?:DONTKNOW", "?:DONTKNOW"}
                                                    << "alpha-upper" << "" << 0;
        QTest::newRow("multiple A-D, 2 correct") << int(PollType::MULTIPLE) << int(OrdinalType::ALPHA_UPPER) << 4 << 2
                                                 << "multiple" << "8755bfc923cb492094df5c842a30da5f"
                                                 << QStringList{"A:", "B:", "C:", "D:"} << "alpha-upper"
                                                 << "numberOfCorrectOptions" << 2;
        QTest::newRow("sort lower") << int(PollType::SORT) << int(OrdinalType::ALPHA_LOWER) << 3 << 1 << "sort"
                                    << "be8a3a7f5d624a798ec54900385a9eb8" << QStringList{"a:", "b:", "c:"}
                                    << "alpha-lower" << "" << 0;
        QTest::newRow("scale numbered") << int(PollType::SCALE) << int(OrdinalType::AGREEMENT) << 3 << 1 << "scale"
                                        << "c80eb89f2c7240fb83d53069bf4c1f2c" << QStringList{"0:", "1:", "2:"}
                                        << "number" << "" << 0;
        QTest::newRow("yes-no with generic labels") << int(PollType::YES_NO_OTHER) << int(OrdinalType::GENERIC) << 2 << 1
                                                    << "yes-no-other" << "3c476afbcfce45eda0b44df4737c3d27"
                                                    << QStringList{"0:", "1:"} << "number" << "" << 0;
        QTest::newRow("text") << int(PollType::TEXT) << int(OrdinalType::GENERIC) << 2 << 1 << "text"
                              << "6efc81c52cfe4502976de55df9af2f89" << QStringList{} << "" << "" << 0;
        QTest::newRow("number, decimals") << int(PollType::NUMBER) << int(OrdinalType::NUMBER) << 2 << 1 << "number"
                                          << "24e7bda40c4140f896648511a5782466" << QStringList{} << ""
                                          << "noOfDecimals" << 2;
        QTest::newRow("math formula") << int(PollType::MATH_FORMULA) << int(OrdinalType::GENERIC) << 0 << 1
                                      << "math formula" << "9f31dd1a55374c49a3127b8f94a1f1a6" << QStringList{} << ""
                                      << "" << 0;
    }
    void pollQuestions()
    {
        QFETCH(int, pollType);
        QFETCH(int, ordinalType);
        QFETCH(int, count);
        QFETCH(int, correct);
        QFETCH(QString, type);
        QFETCH(QString, activityId);
        QFETCH(QStringList, options);
        QFETCH(QString, metaOrdinal);
        QFETCH(QString, extraKey);
        QFETCH(int, extraValue);

        RecordingCollab c;
        c.startPoll(PollType::POLL_TYPE(pollType), OrdinalType::ORDINAL_TYPE(ordinalType), count, correct);
        QCOMPARE(c.getPollId().size(), 36);
        QCOMPARE(c.published().size(), 1);
        const QJsonObject frame = c.published().at(0);
        QCOMPARE(frame.value(QStringLiteral("address")).toString(), QStringLiteral("S1"));
        QCOMPARE(bodyOf(frame).value(QStringLiteral("type")).toString(), QStringLiteral("questionStart"));
        const QJsonObject q = restoredJson(frame).object();
        QCOMPARE(q.value(QStringLiteral("type")).toString(), type);
        QCOMPARE(q.value(QStringLiteral("questionSetMode")).toString(), QStringLiteral("Poll"));
        QCOMPARE(q.value(QStringLiteral("activityType")).toObject(),
                 (QJsonObject{{"id", activityId}, {"name", type}}));
        const QJsonArray opts = q.value(QStringLiteral("activityOptions")).toArray();
        QCOMPARE(opts.size(), options.size());
        for (int i = 0; i < opts.size(); ++i) {
            const QStringList idText = options.at(i).split(QLatin1Char(':'));
            const QJsonObject o = opts.at(i).toObject();
            QCOMPARE(o.value(QStringLiteral("id")).toString(), idText.at(0));
            QCOMPARE(o.value(QStringLiteral("optionText")).toString(), idText.at(1));
            QCOMPARE(o.value(QStringLiteral("displaySeqNumber")).toInt(), i + 1);
        }
        if (!options.isEmpty() || q.contains(QStringLiteral("metadata")))
            QCOMPARE(q.value(QStringLiteral("metadata")).toObject().value(QStringLiteral("ordinalType")).toString(),
                     metaOrdinal);
        if (!extraKey.isEmpty())
            QCOMPARE(q.value(extraKey).toInt(), extraValue);
        // No card image set: the question keeps its empty card.
        QCOMPARE(q.value(QStringLiteral("card")).toObject(), QJsonObject());
    }

    void templatePolls()
    {
        RecordingCollab c;
        c.setCardImage(QStringLiteral("http://img/x.png"));
        c.startPoll(PollType::WORD_SEED, OrdinalType::GENERIC, 3);
        const QString id = c.getPollId();
        QCOMPARE(c.published().size(), 1);
        QCOMPARE(bodyOf(c.published().at(0)).value(QStringLiteral("type")).toString(), QStringLiteral("poll"));
        const QString expected = QStringLiteral(
            R"({"type":"word-seed","expressionQuestionId":1,"metadata":{"ordinalType":"generic","options":[0,1,2]},"id":"%1",)"
            R"("sessionToken":"S1","sessionCode":"123456","lessonId":null,"startTime":1395358151638,"lastUpdatedOn":1395358151638,)"
            R"("card":{"segment":"fake-id","tracks":[{"placeholder":true}],"visible":true,"ordinal":1395358139515,)"
            R"x("styles":{"backgroundColor":"","backgroundImage":"url('http://img/x.png')","backgroundSize":"100%"},"components":[]},)x"
            R"("unrespondedUsers":[]})").arg(id);
        QCOMPARE(restoredText(c.published().at(0)), expected);

        // The template path used the image and cleared it.
        c.startPoll(PollType::CREATIVE, OrdinalType::NUMBER, 0);
        const QJsonObject second = restoredJson(c.published().at(1)).object();
        QCOMPARE(second.value(QStringLiteral("type")).toString(), QStringLiteral("creative"));
        QCOMPARE(second.value(QStringLiteral("metadata")).toObject().value(QStringLiteral("options")).toArray(),
                 QJsonArray());
        QCOMPARE(second.value(QStringLiteral("card")).toObject().value(QStringLiteral("styles")).toObject()
                     .value(QStringLiteral("backgroundImage")).toString(), QString());
        QVERIFY(second.value(QStringLiteral("id")).toString() != id);

        // A kind outside the table: empty type text, still valid JSON.
        // 15 is the largest value the enumerations can hold without undefined behaviour.
        c.startPoll(PollType::POLL_TYPE(15), OrdinalType::ORDINAL_TYPE(15), 2);
        const QJsonObject third = restoredJson(c.published().at(2)).object();
        QCOMPARE(third.value(QStringLiteral("type")).toString(), QString());
        QCOMPARE(third.value(QStringLiteral("metadata")).toObject().value(QStringLiteral("ordinalType")).toString(),
                 QString());
    }

    void pollControl()
    {
        RecordingCollab c;
        c.startPoll(PollType::TEXT, OrdinalType::GENERIC);
        const QString id = c.getPollId();
        c.pausePoll();
        c.resumePoll();
        c.setCardImage(QStringLiteral("u"));
        c.stopPoll();
        QVERIFY(c.getPollId().isNull());
        c.stopPoll();
        QCOMPARE(c.frames.size(), 5);
        const QString quoted = QLatin1Char('"') + id + QLatin1Char('"');
        QCOMPARE(c.frames.at(1).text, envelope(QStringLiteral("S1"), QStringLiteral("pause"), quoted));
        QCOMPARE(c.frames.at(2).text, envelope(QStringLiteral("S1"), QStringLiteral("resume"), quoted));
        QCOMPARE(c.frames.at(3).text, envelope(QStringLiteral("S1"), QStringLiteral("pollStop"), quoted));
        QCOMPARE(c.frames.at(4).text, envelope(QStringLiteral("S1"), QStringLiteral("pollStop"), QStringLiteral(R"("")")));
        // stopPoll cleared the image: an image card now carries an empty url.
        c.showImageCard(false);
        QCOMPARE(restoredJson(c.published().last()).object().value(QStringLiteral("components")).toArray().at(0)
                     .toObject().value(QStringLiteral("blob")).toObject().value(QStringLiteral("url")).toString(),
                 QString());
    }

    void questionPollCard_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("background");
        QTest::newRow("url") << QByteArray() << "http://h/i.png" << "url('http://h/i.png')";
        QTest::newRow("empty url") << QByteArray() << "" << "url('')";
        QTest::newRow("bytes win") << QByteArray("\x89PNG") << "http://h/i.png"
                                   << "data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG").toBase64());
    }
    void questionPollCard()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, url);
        QFETCH(QString, background);
        RecordingCollab c;
        if (!bytes.isEmpty())
            c.setCardImage(bytes);
        c.setCardImage(url);
        c.startPoll(PollType::MULTIPLE, OrdinalType::ALPHA_UPPER, 3);
        const QJsonObject q = restoredJson(c.published().at(0)).object();
        const QJsonObject card = q.value(QStringLiteral("card")).toObject();
        QCOMPARE(card.value(QStringLiteral("styles")).toObject().value(QStringLiteral("backgroundImage")).toString(),
                 background);
        QCOMPARE(card.value(QStringLiteral("id")).toString(), q.value(QStringLiteral("id")).toString());
        QCOMPARE(card.value(QStringLiteral("type")).toString(), QStringLiteral("TEACHER"));
        // The question path leaves the image set for the next card.
        c.showImageCard(false);
        const QString shown = restoredJson(c.published().at(1)).object().value(QStringLiteral("components")).toArray()
                                  .at(0).toObject().value(QStringLiteral("blob")).toObject()
                                  .value(QStringLiteral("url")).toString();
        QCOMPARE(shown, bytes.isEmpty() ? url : background);
    }

    // ---- cards, lesson, presence ------------------------------------------------

    void controllerMessages()
    {
        RecordingCollab c;
        c.sendCurrentCardToRemote(2, 3);
        c.sendCurrentCardToRemote(1, 0);
        c.sendCurrentLessonToRemote(QStringLiteral("L\"1"), QStringLiteral("Fractions \"basic\" \\ %1"));
        c.sendPresenterIsActiveToRemote();
        QCOMPARE(c.frames.size(), 4);
        QCOMPARE(c.frames.at(0).text,
                 envelope(QStringLiteral("S1.controller"), QStringLiteral("currentCard"),
                          QStringLiteral(R"({"currentCard":"2", "cards": [{"name":"1"},{"name":"2"},{"name":"3"}], "totalCards":"3"})")));
        QCOMPARE(restoredText(c.published().at(1)),
                 QStringLiteral(R"({"currentCard":"1", "cards": [], "totalCards":"0"})"));
        const QJsonObject lesson = restoredJson(c.published().at(2)).object();
        QCOMPARE(lesson.value(QStringLiteral("lessonId")).toString(), QStringLiteral("L\"1"));
        QCOMPARE(lesson.value(QStringLiteral("name")).toString(), QStringLiteral("Fractions \"basic\" \\ %1"));
        QCOMPARE(c.frames.at(3).text,
                 envelope(QStringLiteral("S1.controller"), QStringLiteral("presenterIsActive"), QStringLiteral(R"("%0")")));
        // Plain values travel byte for byte as the template gives them.
        c.sendCurrentLessonToRemote(QStringLiteral("L1"), QStringLiteral("Algebra"));
        QCOMPARE(restoredText(c.published().at(4)), QStringLiteral(R"({"lessonId":"L1", "name":"Algebra"})"));
    }

    void imageCards_data()
    {
        QTest::addColumn<bool>("useBytes");
        QTest::addColumn<int>("size"); // bytes of the image, or characters of the URL
        QTest::addColumn<bool>("check");
        QTest::addColumn<bool>("heavy");
        QTest::newRow("small bytes, checked") << true << 300 << true << false;
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
        QString reference;
        if (useBytes) {
            const QByteArray image(size, 'x');
            c.setCardImage(image);
            reference = QStringLiteral("data:image/png;base64,") + QString::fromLatin1(image.toBase64());
        } else {
            reference = QStringLiteral("http://h/") + QString(size - 9, QLatin1Char('a'));
            c.setCardImage(reference);
        }
        c.showImageCard(check);
        QCOMPARE(c.published().size(), heavy ? 2 : 1);
        if (heavy)
            QCOMPARE(c.frames.at(0).text,
                     envelope(QStringLiteral("S1.learner"), QStringLiteral("heavy"), QStringLiteral(R"("%0")")));
        const QJsonObject card = c.published().last();
        QCOMPARE(card.value(QStringLiteral("address")).toString(), QStringLiteral("S1.learner"));
        QCOMPARE(bodyOf(card).value(QStringLiteral("type")).toString(), QStringLiteral("showCard"));
        const QJsonObject data = restoredJson(card).object();
        QCOMPARE(data.value(QStringLiteral("components")).toArray().at(0).toObject().value(QStringLiteral("blob"))
                     .toObject().value(QStringLiteral("url")).toString(), reference);
    }

    void imageCardTextWithPlainUrl()
    {
        RecordingCollab c;
        c.setCardImage(QStringLiteral("http://h/a.png"));
        c.showImageCard(true);
        QCOMPARE(restoredText(c.published().at(0)),
                 QStringLiteral(
                     R"({"segment":{"id":"any"},"isTeacherCard":true,"autoSend":true,"notes":null,"tracks":[],"visible":true,)"
                     R"("ordinal":1,"styles":{"backgroundColor":"","backgroundImage":""},"components":[{"ordinal":1397148149039,)"
                     R"("styles":{"anchor":false,"width":770,"left":15,"height":570,"top":15},"blob":{"url":"http://h/a.png"},"type":"image"}],)"
                     R"("trackSortSeq":0,"_tId":"DF8A71DA-3EF2-44E3-9B2F-F651C7A8B0F9","hasStudentCards":false})"));
    }

    void removeLearnerAndQuestions()
    {
        RecordingCollab c;
        c.removeLearner(QStringLiteral("D7"));
        QCOMPARE(c.frames.at(0).text, envelope(QStringLiteral("S1.user.D7"), QStringLiteral("disconnect"), QStringLiteral(R"("")")));

        QuestionYesNo yn;
        yn.setTrueFalseType(true);
        yn.setactivityType(QVariantMap{{QStringLiteral("stale"), 1}});
        c.sendQuestion(&yn);
        c.sendQuestion(QStringLiteral(".learner"), &yn);
        QCOMPARE(c.published().size(), 3);
        QCOMPARE(c.published().at(1).value(QStringLiteral("address")).toString(), QStringLiteral("S1"));
        QCOMPARE(c.published().at(2).value(QStringLiteral("address")).toString(), QStringLiteral("S1.learner"));
        QCOMPARE(restoredJson(c.published().at(1)).object().value(QStringLiteral("activityType")).toObject(),
                 (QJsonObject{{"id", "3c476afbcfce45eda0b44df4737c3d27"}, {"name", "true-false"}}));
    }
};

QTEST_GUILESS_MAIN(TestPresenterCollab)
#include "tst_presentercollab.moc"
