// End to end: polls, cards and assessments as the simulated devices receive and answer them.
#include <QRegularExpression>

#include "assessmentoptions.h"
#include "livetestutil.h"
#include "presenterassessment.h"
#include "questionmultichoice.h"
#include "questiontext.h"

using namespace Veltro;

class TestLiveActivities : public QObject
{
    Q_OBJECT

    LiveSession live;
    QStringList learners;

    static QJsonObject data(const QJsonObject &record) { return record.value(QStringLiteral("data")).toObject(); }
    // The one new record of `type` each device got after it had `before` of them.
    QList<QJsonObject> nextRecords(const QStringList &devices, const QString &type, int before) const
    {
        QList<QJsonObject> out;
        for (const QString &t : devices) {
            const auto got = live.waitForRecords(t, type, before + 1);
            if (got.size() == before + 1)
                out << got.last();
        }
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        registerLiveTypes();
        QVERIFY2(StandIn::shared(), "the stand-in service fixture is not running");
        const QString err = live.start(StandIn::shared(), QStringLiteral("websocket"));
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QSignalSpy joins(live.collab, &PresenterCollab::learnerJoin);
        learners = live.addLearners(2);
        QCOMPARE(learners.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(joins.count(), 2, LIVE_WAIT_MS);
    }

    // The message each device receives, the answers coming back (each once, with its token, the id the device
    // saw, whole seconds and a text matching the row's pattern), then the poll's stop.
    void polls_data()
    {
        QTest::addColumn<int>("pollType");
        QTest::addColumn<int>("ordinal");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("image");      // card image URL set before the poll
        QTest::addColumn<QString>("kind");       // message type the devices receive
        QTest::addColumn<QString>("type");       // type text in the message
        QTest::addColumn<QString>("answer");     // pattern of the answers

        const QString q = QStringLiteral("questionStart");
        QTest::newRow("multiple with card image") << int(PollType::MULTIPLE) << int(OrdinalType::ALPHA_UPPER) << 4
                                                  << "http://img.test/q.png" << q << "multiple" << "(?!(.)\\1)[A-D]{2}";
        QTest::newRow("sort") << int(PollType::SORT) << int(OrdinalType::ALPHA_LOWER) << 3 << "" << q << "sort"
                              << "(?=.*a)(?=.*b)(?=.*c)[abc]{3}";
        QTest::newRow("text") << int(PollType::TEXT) << int(OrdinalType::GENERIC) << 0 << "" << q << "text" << ".+";
        QTest::newRow("word-seed with background") << int(PollType::WORD_SEED) << int(OrdinalType::GENERIC) << 3
                                                   << "http://img.test/w.png" << "poll" << "word-seed" << ".+";
        QTest::newRow("unknown kind picks an option") << 15 << int(OrdinalType::GENERIC) << 3 << "" << "poll" << ""
                                                      << "[012]";
    }
    void polls()
    {
        QFETCH(int, pollType);
        QFETCH(int, ordinal);
        QFETCH(int, count);
        QFETCH(QString, image);
        QFETCH(QString, kind);
        QFETCH(QString, type);
        QFETCH(QString, answer);

        if (!image.isEmpty())
            live.collab->setCardImage(image);
        QSignalSpy answers(live.collab, &PresenterCollab::learnerPollResponse);
        const int before = live.recordsOfType(learners.first(), kind).size();
        // (a multiple choice has two correct options, so devices pick two)
        const int correct = pollType == PollType::MULTIPLE ? 2 : 1;
        live.collab->startPoll(PollType::POLL_TYPE(pollType), OrdinalType::ORDINAL_TYPE(ordinal), count, correct);
        const auto received = nextRecords(learners, kind, before);
        QCOMPARE(received.size(), learners.size());
        const QJsonObject msg = data(received.first());
        const QString seenId = str(msg, "id");
        QCOMPARE(str(received.first(), "address"), live.token);
        QCOMPARE(str(msg, "type"), type);
        const QString background = image.isEmpty() ? QString() : QStringLiteral("url('") + image + QStringLiteral("')");
        QCOMPARE(msg.value(QStringLiteral("card")).toObject().value(QStringLiteral("styles")).toObject()
                     .value(QStringLiteral("backgroundImage")).toString(), background);
        if (kind == QLatin1String("poll")) {
            QCOMPARE(seenId, live.collab->getPollId());
            QCOMPARE(str(msg, "sessionToken"), live.token);
            QCOMPARE(str(msg, "sessionCode"), live.code);
        }

        QCOMPARE(live.collab->currentPollAnswerId(), seenId); // the id the answers carry, whatever the kind
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), learners.size(), LIVE_WAIT_MS);
        QStringList answered;
        const QRegularExpression pattern(QLatin1Char('^') + answer + QLatin1Char('$'));
        for (const auto &args : answers) {
            answered << args.at(0).toString();
            QCOMPARE(args.at(1).toString(), seenId);
            QVERIFY(args.at(2).toInt() >= 0 && args.at(2).toInt() <= 30);
            QVERIFY2(pattern.match(args.at(3).toString()).hasMatch(), qPrintable(args.at(3).toString()));
        }
        QCOMPARE(QSet<QString>(answered.begin(), answered.end()), QSet<QString>(learners.begin(), learners.end()));

        const QString pollId = live.collab->getPollId();
        const int stops = live.recordsOfType(learners.first(), QStringLiteral("pollStop")).size();
        live.collab->stopPoll();
        const auto stopped = live.waitForRecords(learners.first(), QStringLiteral("pollStop"), stops + 1);
        QCOMPARE(stopped.size(), stops + 1);
        QCOMPARE(str(stopped.last(), "data"), pollId);
    }

    // A large image card reaches the learners, announced by "heavy" first.
    void imageCard()
    {
        const QString device = learners.last();
        const int before = live.standIn->records(device).size();
        QByteArray image(400000, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i % 7 == 0 ? 0x89 : 'P' + i % 5);
        live.collab->setCardImage(image);
        const int shown = live.recordsOfType(device, QStringLiteral("showCard")).size();
        live.collab->showImageCard(true);
        QCOMPARE(nextRecords({device}, QStringLiteral("showCard"), shown).size(), 1);
        const QJsonArray all = live.standIn->records(device);
        QStringList types;
        for (int i = before; i < all.size(); ++i)
            types << str(all.at(i).toObject(), "type");
        QCOMPARE(types, (QStringList{"heavy", "showCard"}));
        const QJsonObject card = all.last().toObject();
        QCOMPARE(str(card, "address"), live.token + QStringLiteral(".learner"));
        QCOMPARE(data(card).value(QStringLiteral("components")).toArray().at(0).toObject()
                     .value(QStringLiteral("blob")).toObject().value(QStringLiteral("url")).toString(),
                 QStringLiteral("data:image/png;base64,") + QString::fromLatin1(image.toBase64()));
    }

    // Devices ask for questions by number; the host answers each request.
    void assessment()
    {
        PresenterAssessment assessment(nullptr, live.collab);
        QSignalSpy asked(&assessment, &PresenterAssessment::learnerGetQuestion);
        QSignalSpy answers(live.collab, &PresenterCollab::learnerPollResponse);
        QuestionMultiChoice first;
        for (const char *id : {"A", "B", "C", "D"})
            first.addActivityOption(QString::fromLatin1(id), QStringLiteral("option ") + QLatin1String(id), 0);
        QuestionText second;
        connect(&assessment, &PresenterAssessment::learnerGetQuestion, this, [&](const QString &device, int number) {
            assessment.sendQuestion(device, number == 1 ? static_cast<QuestionBase *>(&first) : &second);
        });
        AssessmentOptions options;
        options.setquestionCount(2);
        options.settitle(QStringLiteral("Quiz \"one\""));
        QVERIFY(assessment.start(&options));

        const int expected = 2 * learners.size();
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), expected, LIVE_WAIT_MS);
        QCOMPARE(asked.count(), expected);
        QMap<QString, QList<int>> numbers;
        for (const auto &args : asked)
            numbers[args.at(0).toString()] << args.at(1).toInt();
        for (const QString &t : learners)
            QCOMPARE(numbers.value(t), (QList<int>{1, 2}));
        for (const auto &args : answers) {
            const bool isFirst = args.at(1).toString() == first.getID();
            QVERIFY(isFirst || args.at(1).toString() == second.getID());
            QVERIFY(QRegularExpression(isFirst ? "^[A-D]$" : "^.+$").match(args.at(3).toString()).hasMatch());
        }

        // (the texts of its messages and whom they address are checked in isolation)
        assessment.stop();
        for (const QString &t : learners)
            QCOMPARE(live.waitForRecords(t, QStringLiteral("assessmentStop")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLiveActivities)
#include "tst_liveactivities.moc"
