// The exact frames PresenterCollab and PresenterAssessment hand to their transport; the reconnection policy.
#include <QSignalSpy>
#include <QtTest>

#include "assessmentoptions.h"
#include "collabtestutil.h"
#include "collaborationmessagehandler.h"
#include "jsonserializer.h"
#include "ordinaltype.h"
#include "outgoingqueue_p.h"
#include "polltype.h"
#include "presenterassessment.h"
#include "questionmultichoice.h"
#include "questionyesno.h"
#include "reconnectbackoff_p.h"
#include "sockjsconnector.h"
#include "veltrocollabmessage.h"

using namespace Veltro;
using Calls = QList<QVariantList>;

namespace {

// A payload far above the size compressed on the caller's thread.
QString largeJson() { return QLatin1Char('"') + QString(200000, QLatin1Char('b')) + QLatin1Char('"'); }

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

} // namespace

class TestPresenterCollab : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    // Addresses starting with a dot are relative to the session.
    void envelopeFrames()
    {
        RecordingCollab c;
        c.publishMessage(".learner", "showCard", R"({"a":1})");
        c.publishMessage64("x.learner", "heavy", R"("%0")");
        QCOMPARE(texts(c.frames), (QStringList{envelopeText("S1.learner", "showCard", R"({"a":1})"),
                                               envelopeText("x.learner", "heavy", R"("%0")")}));
    }

    // Registration on the three addresses, then pings; a drop is reported and
    // stops them; close() tells the devices, then closes the transport.
    void lifecycle()
    {
        RecordingCollab c;
        c.priv()->setPingInterval(20);
        c.onConnected();
        const QString reg = QStringLiteral(R"({"type":"register","address":"%1"})");
        QCOMPARE(texts(c.frames), (QStringList{reg.arg("S1"), reg.arg("S1.presenter"), reg.arg("S1.presenter.U1")}));
        QTRY_VERIFY_WITH_TIMEOUT(c.frames.size() >= 5, 5000);
        for (const SentFrame &f : c.frames.mid(3))
            QVERIFY(f.ping && f.text == R"({"type":"ping"})");

        QSignalSpy closed(&c, &PresenterCollab::connectionClosed);
        c.onClosed(true);
        c.onClosed(false);
        QCOMPARE(Calls(closed), (Calls{{true}, {false}}));
        const int before = c.frames.size();
        QTest::qWait(100);
        QCOMPARE(c.frames.size(), before);

        c.onConnected();
        c.frames.clear();
        c.close();
        QTest::qWait(100);
        QCOMPARE(c.frames.size(), 1); // no pings after the close either
        QCOMPARE(c.frames.at(0).text, envelopeText("S1", "disconnect", R"("")"));
        QCOMPARE(c.transportCloses, 1);
        QCOMPARE(closed.count(), 2);
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
        run(reference);
        QCOMPARE(reference.sent(false), (QStringList{"S1 first", "S1.learner heavy", "S1.learner showCard", "S1 second",
                                                     "S1.learner dialogShow", "S1 tiny", "S1 disconnect"}));

        RecordingCollab c;
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

    // Deleted while a compression runs: nothing is sent afterwards, unless a close() waited for it (then it completes).
    void deletionWhileCompressing()
    {
        QList<SentFrame> open, closed;
        for (QList<SentFrame> *frames : {&open, &closed}) {
            auto *c = new RecordingCollab;
            c->alsoTo = frames;
            c->priv()->setBackgroundThreshold(PresenterCollabPrivate::DEFAULT_BACKGROUND_THRESHOLD);
            c->publishMessage("large", largeJson());
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
        QCOMPARE(types, (QStringList{"large", "disconnect", "(closed)"}));
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
        c.open(QStringList{"xhr-polling"});
        c.onConnected();
        c.frames.clear();
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

        // Turned off while waiting: no attempt, the connection is reported over.
        c.setAutoReconnect(true);
        c.open();
        c.fakeConnected = true;
        c.onConnected();
        c.fakeConnected = false;
        c.onClosed(false);
        c.setAutoReconnect(false);
        QCOMPARE(closed.count(), 2);
        QTest::qWait(100);
        QCOMPARE(c.opens.size(), 3);
        QCOMPARE(retrying.count(), 2);
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

    void pollControl()
    {
        RecordingCollab c;
        c.startPoll(PollType::TEXT, OrdinalType::GENERIC);
        const QString quoted = QLatin1Char('"') + c.getPollId() + QLatin1Char('"');
        c.pausePoll();
        c.resumePoll();
        c.setCardImage(QStringLiteral("u"));
        c.stopPoll();
        QVERIFY(c.getPollId().isNull());
        c.stopPoll();
        // stopPoll cleared the image: an image card now carries an empty url.
        c.showImageCard(false);
        QCOMPARE(c.sent().mid(1, 4), (QStringList{"S1 pause " + quoted, "S1 resume " + quoted, "S1 pollStop " + quoted,
                                                  "S1 pollStop \"\""}));
        QCOMPARE(jat(c.data(-1), "components.0.blob.url"), QJsonValue(""));
    }

    // A question's card: image bytes win over a URL (the URL form is a live
    // row), it takes the question's id, and the image stays for the next card.
    void questionPollCard()
    {
        RecordingCollab c;
        c.setCardImage(QByteArray("\x89PNG"));
        c.setCardImage(QStringLiteral("http://h/i.png"));
        c.startPoll(PollType::MULTIPLE, OrdinalType::ALPHA_UPPER, 3);
        const QJsonObject q = c.data(0);
        const QString background = "data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG").toBase64());
        QCOMPARE((QStringList{jstr(q, "card.styles.backgroundImage"), jstr(q, "card.id"), jstr(q, "card.type")}),
                 (QStringList{background, jstr(q, "id"), "TEACHER"}));
        c.showImageCard(false);
        QCOMPARE(jstr(c.data(1), "components.0.blob.url"), background);
    }

    void controllerMessages()
    {
        RecordingCollab c;
        c.sendCurrentCardToRemote(2, 3);
        c.sendCurrentCardToRemote(1, 0);
        c.sendCurrentLessonToRemote("L\"1", "Fractions \"basic\" \\ %1");
        c.sendPresenterIsActiveToRemote();
        c.removeLearner("D7");
        QCOMPARE(c.sent(), (QStringList{
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
        QCOMPARE(jstr(c.data(-1), "components.0.blob.url"), reference);
    }

    void imageCardTextWithPlainUrl()
    {
        RecordingCollab c;
        c.setCardImage(QStringLiteral("http://h/a.png"));
        c.showImageCard(true);
        QCOMPARE(restoredText(c.published().at(0)),
                 R"({"segment":{"id":"any"},"isTeacherCard":true,"autoSend":true,"notes":null,"tracks":[],"visible":true,)"
                 R"("ordinal":1,"styles":{"backgroundColor":"","backgroundImage":""},"components":[{"ordinal":1397148149039,)"
                 R"("styles":{"anchor":false,"width":770,"left":15,"height":570,"top":15},"blob":{"url":"http://h/a.png"},)"
                 R"("type":"image"}],"trackSortSeq":0,"_tId":"DF8A71DA-3EF2-44E3-9B2F-F651C7A8B0F9","hasStudentCards":false})");
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
