// Incoming dispatch in isolation: frames fed straight to onHandleMessage.
// (Each remote-control type is checked end to end by the live-session test.)
#include <QSignalSpy>
#include <QtTest>

#include <map>
#include <memory>

#include "bytelist_p.h"
#include "collabtestutil.h"
#include "collaborationmessagehandler.h"
#include "learner.h"
#include "remotecontrolmessage.h"

using Veltro::Learner;
using Veltro::RemoteControlMessage;

class TestCollaborationMessageHandler : public QObject
{
    Q_OBJECT

private:
    CollaborationMessageHandler *handler = nullptr;
    std::map<QByteArray, std::unique_ptr<QSignalSpy>> spies; // every signal of the handler, by name

    void feed(const QString &frame)
    {
        QVERIFY(QMetaObject::invokeMethod(handler, "onHandleMessage", Qt::DirectConnection, Q_ARG(QString, frame)));
    }
    void feed(const QString &type, const QVariant &data, const QString &from = QStringLiteral("d-1"))
    {
        QVariantMap b{{QStringLiteral("type"), type}, {QStringLiteral("from"), from}};
        if (data.isValid())
            b.insert(QStringLiteral("data"), data);
        feed(deliveredFrame(b));
    }

    // Every emission so far as "signal(arguments)", by signal name (arguments without a text form read empty).
    QStringList emitted() const
    {
        QStringList out;
        for (const auto &spy : spies)
            for (const QVariantList &args : *spy.second) {
                QStringList texts;
                for (const QVariant &a : args)
                    texts << (a.userType() == QMetaType::QStringList ? a.toStringList().join('+') : a.toString());
                out << QString::fromLatin1(spy.first) + '(' + texts.join(',') + ')';
            }
        return out;
    }

    // A variant with its type at every level: restored JSON values get the same types in every Qt build.
    static QString typed(const QVariant &v)
    {
        QString out = QString::fromLatin1(v.typeName()) + QLatin1Char('(');
        if (v.userType() == QMetaType::QVariantMap) {
            const QVariantMap map = v.toMap();
            for (auto it = map.cbegin(); it != map.cend(); ++it)
                out += it.key() + QLatin1Char(':') + typed(it.value()) + QLatin1Char(',');
        } else if (v.userType() == QMetaType::QVariantList) {
            for (const QVariant &element : v.toList())
                out += typed(element) + QLatin1Char(',');
        } else {
            out += v.toString();
        }
        return out + QLatin1Char(')');
    }

private Q_SLOTS:
    void initTestCase()
    {
        Learner::registerMetaType();
        RemoteControlMessage::registerMetaType();
    }
    void init()
    {
        handler = new CollaborationMessageHandler(this);
        const QMetaObject *mo = handler->metaObject();
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
            if (mo->method(i).methodType() == QMetaMethod::Signal)
                spies[mo->method(i).name()] =
                    std::make_unique<QSignalSpy>(handler, QByteArray("2" + mo->method(i).methodSignature()).constData());
    }
    void cleanup()
    {
        spies.clear();
        delete handler;
    }

    // Each payload shape a device may use, restored through an unknown type.
    void payloadShapes_data()
    {
        QTest::addColumn<QVariant>("data");
        QTest::addColumn<QVariant>("expected");

        const QString obj = QStringLiteral(R"({"k":"v","n":2})");
        const QVariant map = QVariantMap{{"k", "v"}, {"n", qlonglong(2)}};
        const QByteArray bytes = QByteArray::fromBase64(compress64(obj).toLatin1());
        QTest::newRow("base64 text") << QVariant(compress64(obj)) << map;
        QTest::newRow("signed byte list") << QVariant(signedByteList(obj)) << map;
        QTest::newRow("byte list as text") << QVariant(byteListText(bytes, false)) << map;
        QTest::newRow("pieces joined")
            << QVariant(QVariantList{compress64(R"({"k":"v",)"), QString(), compress64(R"("n":2})")}) << map;

        // The two branches treat non-object and unparseable results differently.
        QTest::newRow("text: restored array is dropped") << QVariant(compress64("[1,2]")) << QVariant();
        QTest::newRow("text: undecodable forwarded raw") << QVariant("not a payload") << QVariant("not a payload");
        QTest::newRow("list: restored array passed on")
            << QVariant(signedByteList("[1,2]")) << QVariant(QVariantList{qlonglong(1), qlonglong(2)});
        QTest::newRow("json values keep their types")
            << QVariant(compress64(R"({"b":true,"d":1.5,"e":1e300,"n":-3,"s":["x","y"],"z":null})"))
            << QVariant(QVariantMap{{"b", true}, {"d", 1.5}, {"e", 1e300}, {"n", qlonglong(-3)},
                                    {"s", QVariantList{"x", "y"}}, {"z", QVariant::fromValue(nullptr)}});
        QTest::newRow("list: restored non-json as bytes") << QVariant(signedByteList("plain")) << QVariant(QByteArray("plain"));
        QTest::newRow("list: all pieces fail") << QVariant(QVariantList{"AAAA", "bad"}) << QVariant();
        QTest::newRow("list: too short byte list") << QVariant(QVariantList{1, 2, 3}) << QVariant();
        QTest::newRow("null") << QVariant::fromValue(nullptr) << QVariant();
        QTest::newRow("absent") << QVariant() << QVariant();
    }
    void payloadShapes()
    {
        QFETCH(QVariant, data);
        QFETCH(QVariant, expected);
        feed("heavy", data);
        QCOMPARE(emitted().size(), 1);
        QCOMPARE(spies["unhandledMessage"]->count(), 1);
        QCOMPARE(typed(spies["unhandledMessage"]->at(0).at(1)), typed(expected));
        QCOMPARE(spies["unhandledMessage"]->at(0).at(0).toMap().value("type").toString(), "heavy");
    }

    // A byte list read straight from the frame text, with the conversion the
    // variant path applies, the last member of a name winning, and the cap.
    void byteListFromText_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("tooLong");
        QTest::newRow("element kinds")
            << R"({"body":{"type":"t","data":[93, -1,1.9,-1e3,"65",true,false,null,[7],{"a":8}]}})" << true
            << QByteArray::fromHex("5dff0118410100000000") << false;
        QTest::newRow("last body and data win") << R"({"body":{"data":[1]},"body":{"data":[2],"from":"x","data":[3,4]}})"
                                                << true << QByteArray::fromHex("0304") << false;
        QTest::newRow("beyond the cap") << R"({"body":{"data":[1,2,3,4,5,6,7,8,9,10,11]}})" << true << QByteArray()
                                        << true;
        QTest::newRow("texts are pieces, not bytes") << R"({"body":{"data":["AAAA",1]}})" << false << QByteArray()
                                                     << false;
        QTest::newRow("broken list") << R"({"body":{"data":[1,,2]}})" << false << QByteArray() << false;
        QTest::newRow("number beyond a double") << R"({"body":{"data":[1,1e999]}})" << false << QByteArray() << false;
        QTest::newRow("broken after the list") << R"({"body":{"data":[1]},})" << false << QByteArray() << false;
    }
    void byteListFromText()
    {
        QFETCH(QString, frame);
        QFETCH(bool, taken);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, tooLong);
        QString rest;
        QByteArray got;
        bool gotTooLong = false;
        QCOMPARE(Veltro::takeByteList(frame, 10, &rest, &got, &gotTooLong), taken);
        QCOMPARE(got, bytes);
        QCOMPARE(gotTooLong, tooLong);
        // How the rest of the frame reads is checked against the JSON reader by fuzz_bytelist.
    }

    // Frames and what they emit (";" between emissions).
    void dispatch_data()
    {
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("emissions");
        auto row = [](const char *name, const QString &frame, const QString &emissions) {
            QTest::newRow(name) << QStringList{frame} << emissions;
        };
        // Answers: the payload after the id member; reported as (device, id, whole seconds, answer text), then
        // with text and option ids apart (`apart`: "text,id+id").
        auto answer = [](const char *name, const char *type, const char *rest, const char *emission,
                         const char *apart) {
            const bool poll = QByteArray(type) == "pollResponse";
            const QString data =
                QString(poll ? R"({"pollId":"p")" : R"({"questionId":"q")") + (*rest ? "," : "") + rest + '}';
            const QString id = poll ? "p" : "q", time = QString::fromUtf8(emission).section(',', 0, 0);
            QTest::newRow(name) << QStringList{deliveredFrame(
                                       {{"type", type}, {"from", "dev-7"}, {"data", compress64(data)}})}
                                << QStringLiteral("learnerAnswer(dev-7,%1,%2,%3);learnerPollResponse(dev-7,%1,%4)")
                                       .arg(id, time, QString::fromUtf8(apart), QString::fromUtf8(emission));
        };
        answer("pick two", "pollResponse", R"("responseTime":1999,"blob":{"pick":["A","C"]})", "1,A,C", ",A+C");
        answer("negative truncates toward zero", "pollResponse", R"("responseTime":-1999,"blob":{"pick":["B"]})",
               "-1,B", ",B");
        answer("pick string ignored, no input", "pollResponse", R"("responseTime":2000,"blob":{"pick":"A"})", "2,",
               ",");
        answer("input", "pollResponse", R"("responseTime":999,"blob":{"input":"x, y"})", "0,x, y", "x, y,");
        answer("pick wins over input", "pollResponse", R"("responseTime":0,"blob":{"pick":[],"input":"z"})", "0,",
               ",");
        answer("other json values in pick", "pollResponse",
               R"("responseTime":0,"blob":{"pick":[2.5,1e21,true,null,{"a":1},"é"]})", "0,2.5,1e+21,true,,,\u00e9",
               ",2.5+1e+21+true+\u00e9");
        answer("time as text", "pollResponse", R"("responseTime":"4500","blob":{})", "4,", ",");
        answer("huge time clamped", "pollResponse", R"("responseTime":1e300,"blob":{})", "2147483,", ",");
        answer("no blob", "pollResponse", "", "0,", ",");
        answer("a text of id letters beside the options", "questionResponse",
               R"("responseTime":2500,"answer":"BAD","optionAnswers":)"
               R"([{"activityOptionId":"C"},{"activityOptionId":"A"}])",
               "2,BADCA", "BAD,C+A");
        answer("options only", "questionResponse", R"("responseTime":10,"optionAnswers":[{"activityOptionId":"C"}])",
               "0,C", ",C");
        answer("options not a list", "questionResponse", R"("answer":"t","optionAnswers":5)", "0,t", "t,");
        answer("option without id", "questionResponse", R"("answer":"t","optionAnswers":[{}, "x"])", "0,t", "t,");

        QTest::newRow("join, a question asked for")
            << QStringList{deliveredFrame({{"type", "join"}, {"from", "tok-1"}, {"data", signedByteList("{}")}}),
                           deliveredFrame({{"type", "questionGet"}, {"from", "tok-2"},
                                           {"data", compress64(R"({"questionNumber":3})")}})}
            << "learnerJoin();learnerGetQuestion(tok-2,3)";
        row("unregister user", R"({"body":{"action":"unregister","client":{"token":"u-1","type":"user"}}})",
            "learnerUnregister(u-1)");
        row("unregister controller", R"({"body":{"action":"unregister","client":{"token":"c","type":"controller"}}})",
            "controllerRegister(false)");
        row("presenter kind ignored", R"({"body":{"action":"unregister","client":{"token":"p","type":"presenter"}}})",
            "");
        row("action wins over type",
            R"({"body":{"action":"unregister","type":"join","from":"x","client":{"token":"u-2","type":"user"}}})",
            "learnerUnregister(u-2)");
        row("unknown action, type not looked at", R"({"body":{"action":"register","type":"heavy"}})", "");

        // Malformed frames emit nothing (crash safety is the incoming fuzz target's).
        row("empty", "", "");
        row("not json", "not json", "");
        row("truncated", "{\"body\":{\"type\":\"join\",\"data\":\"", "");
        row("no body", R"({"type":"rec","address":"a"})", "");
        row("body string", R"({"body":"heavy"})", "");
        row("body without action or type", R"({"body":{"from":"x","data":"y"}})", "");
        row("type null", R"({"body":{"type":null}})", "");
        row("join without from", R"({"body":{"type":"join","data":"x"}})", "");
        row("join with empty from", R"({"body":{"type":"join","from":""}})", "");

        // Known types whose payload does not restore still emit, with empty values.
        const QString answered = QStringLiteral("learnerAnswer(d-1,,0,,);learnerPollResponse(d-1,,0,)");
        const QStringList known{"join", "learnerJoin()", "pollResponse", answered, "questionResponse", answered,
                                "questionGet", "learnerGetQuestion(d-1,0)", "nextCard", "remoteControl()"};
        for (int i = 0; i < known.size(); i += 2) {
            QStringList frames, emissions;
            for (const QVariant &g : {QVariant("%%%"), QVariant(QVariantList{1, 2}), QVariant(QVariantList{"x"}),
                                      QVariant(5), QVariant(true)}) {
                frames << deliveredFrame({{"type", known[i]}, {"from", "d-1"}, {"data", g}});
                emissions << known[i + 1];
            }
            QTest::newRow(qPrintable("broken " + known[i])) << frames << emissions.join(';');
        }
    }
    void dispatch()
    {
        QFETCH(QStringList, frames);
        QFETCH(QString, emissions);
        for (const QString &frame : frames)
            feed(frame);
        // emitted() lists by signal, in order within each.
        QStringList expected = emissions.split(';', Qt::SkipEmptyParts);
        const auto name = [](const QString &emission) { return emission.section('(', 0, 0); };
        std::stable_sort(expected.begin(), expected.end(),
                         [&](const QString &a, const QString &b) { return name(a) < name(b); });
        QCOMPARE(emitted(), expected);
    }
};

QTEST_GUILESS_MAIN(TestCollaborationMessageHandler)
#include "tst_collaborationmessagehandler.moc"
