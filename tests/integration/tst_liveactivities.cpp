// End to end: polls, cards, lesson state and assessments as the simulated
// devices receive and answer them.
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
    QStringList learnerTokens;
    QString controllerToken;

    static QJsonObject data(const QJsonObject &record) { return record.value(QStringLiteral("data")).toObject(); }

    // Runs one poll on `session` to its answers: every learner's answer arrives
    // once, with its token, the id the device saw, whole seconds and a text
    // matching `answerPattern`. Returns the message each device received.
    static QList<QJsonObject> runPoll(LiveSession &session, const QStringList &learners, PollType::POLL_TYPE type,
                                      OrdinalType::ORDINAL_TYPE ordinal, int count, int correct,
                                      const QString &kind, const QString &answerPattern)
    {
        QList<QJsonObject> received;
        QSignalSpy answers(session.collab, &PresenterCollab::learnerPollResponse);
        QMap<QString, int> before;
        for (const QString &t : learners)
            before[t] = session.recordsOfType(t, kind).size();
        session.collab->startPoll(type, ordinal, count, correct);
        for (const QString &t : learners) {
            const auto got = session.waitForRecords(t, kind, before[t] + 1);
            if (got.size() != before[t] + 1) {
                QTest::qFail("a device did not receive the poll", __FILE__, __LINE__);
                return {};
            }
            received << got.last();
        }
        const QString seenId = data(received.first()).value(QStringLiteral("id")).toString();
        if (kind == QLatin1String("poll") && seenId != session.collab->getPollId()) {
            QTest::qFail("the template poll does not carry the poll id", __FILE__, __LINE__);
            return {};
        }
        QElapsedTimer clock;
        clock.start();
        while (answers.count() < learners.size() && clock.elapsed() < LIVE_WAIT_MS)
            answers.wait(100);
        QStringList answered;
        const QRegularExpression pattern(QLatin1Char('^') + answerPattern + QLatin1Char('$'));
        for (const auto &args : answers) {
            answered << args.at(0).toString();
            if (args.at(1).toString() != seenId || args.at(2).toInt() < 0 || args.at(2).toInt() > 30
                || !pattern.match(args.at(3).toString()).hasMatch()) {
                QTest::qFail(qPrintable(QStringLiteral("unexpected answer %1 / %2 / %3 s / '%4'")
                                            .arg(args.at(0).toString(), args.at(1).toString(),
                                                 args.at(2).toString(), args.at(3).toString())),
                             __FILE__, __LINE__);
                return {};
            }
        }
        answered.sort();
        QStringList expected = learners;
        expected.sort();
        if (answered != expected) {
            QTest::qFail(qPrintable(QStringLiteral("answers from [%1], expected [%2]")
                                        .arg(answered.join(','), expected.join(','))),
                         __FILE__, __LINE__);
            return {};
        }
        return received;
    }

private Q_SLOTS:
    void initTestCase()
    {
        registerLiveTypes();
        QVERIFY2(StandIn::shared(), "the stand-in service fixture is not running");
        const QString err = live.start(StandIn::shared(), QStringLiteral("websocket"));
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QSignalSpy joins(live.collab, &PresenterCollab::learnerJoin);
        for (const QJsonValue &v : live.addLearners(2))
            learnerTokens << v.toObject().value(QStringLiteral("token")).toString();
        QCOMPARE(learnerTokens.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(joins.count(), 2, LIVE_WAIT_MS);
        controllerToken = live.addController();
        QVERIFY(!controllerToken.isEmpty());
    }

    // Options, metadata and template texts are checked exactly in isolation;
    // here: the message each device receives and the answers coming back.
    void polls_data()
    {
        QTest::addColumn<int>("pollType");
        QTest::addColumn<int>("ordinal");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("correct");
        QTest::addColumn<QString>("image");      // card image URL set before the poll
        QTest::addColumn<QString>("kind");       // message type the devices receive
        QTest::addColumn<QString>("type");       // type text in the message
        QTest::addColumn<QString>("answer");     // pattern of the answers

        QTest::newRow("true-false") << int(PollType::TRUE_FALSE) << int(OrdinalType::TRUE_FALSE) << 2 << 1 << ""
                                    << "questionStart" << "true-false" << "[AB]";
        QTest::newRow("yes-no-other") << int(PollType::YES_NO_OTHER) << int(OrdinalType::YES_NO_OTHER) << 3 << 1 << ""
                                      << "questionStart" << "yes-no-other" << "[AB?]";
        QTest::newRow("multiple with card image") << int(PollType::MULTIPLE) << int(OrdinalType::ALPHA_UPPER) << 4 << 2
                                                  << "http://img.test/q.png" << "questionStart" << "multiple"
                                                  << "(?!(.)\\1)[A-D]{2}";
        QTest::newRow("scale") << int(PollType::SCALE) << int(OrdinalType::AGREEMENT) << 5 << 1 << ""
                               << "questionStart" << "scale" << "[0-4]";
        QTest::newRow("sort") << int(PollType::SORT) << int(OrdinalType::ALPHA_LOWER) << 3 << 1 << ""
                              << "questionStart" << "sort" << "(?=.*a)(?=.*b)(?=.*c)[abc]{3}";
        QTest::newRow("text") << int(PollType::TEXT) << int(OrdinalType::GENERIC) << 0 << 1 << "" << "questionStart"
                              << "text" << ".+";
        QTest::newRow("number") << int(PollType::NUMBER) << int(OrdinalType::NUMBER) << 2 << 1 << ""
                                << "questionStart" << "number" << "\\d+\\.\\d{2}";
        QTest::newRow("math formula") << int(PollType::MATH_FORMULA) << int(OrdinalType::GENERIC) << 0 << 1 << ""
                                      << "questionStart" << "math formula" << ".+";
        QTest::newRow("word-seed with background") << int(PollType::WORD_SEED) << int(OrdinalType::GENERIC) << 3 << 1
                                                   << "http://img.test/w.png" << "poll" << "word-seed" << ".+";
        QTest::newRow("creative") << int(PollType::CREATIVE) << int(OrdinalType::NUMBER) << 0 << 1 << "" << "poll"
                                  << "creative" << ".+";
        QTest::newRow("unknown kind picks an option") << 15 << int(OrdinalType::GENERIC) << 3 << 1 << "" << "poll"
                                                      << "" << "[012]";
    }
    void polls()
    {
        QFETCH(int, pollType);
        QFETCH(int, ordinal);
        QFETCH(int, count);
        QFETCH(int, correct);
        QFETCH(QString, image);
        QFETCH(QString, kind);
        QFETCH(QString, type);
        QFETCH(QString, answer);

        if (!image.isEmpty())
            live.collab->setCardImage(image);
        const auto received = runPoll(live, learnerTokens, PollType::POLL_TYPE(pollType),
                                      OrdinalType::ORDINAL_TYPE(ordinal), count, correct, kind, answer);
        if (QTest::currentTestFailed())
            return;
        const QJsonObject first = received.first();
        QCOMPARE(first.value(QStringLiteral("address")).toString(), live.token);
        const QJsonObject msg = data(first);
        QCOMPARE(msg.value(QStringLiteral("type")).toString(), type);
        const QString background = image.isEmpty() ? QString() : QStringLiteral("url('") + image + QStringLiteral("')");
        QCOMPARE(msg.value(QStringLiteral("card")).toObject().value(QStringLiteral("styles")).toObject()
                     .value(QStringLiteral("backgroundImage")).toString(), background);
        if (kind == QLatin1String("poll")) {
            QCOMPARE(msg.value(QStringLiteral("sessionToken")).toString(), live.token);
            QCOMPARE(msg.value(QStringLiteral("sessionCode")).toString(), live.code);
        }

        const QString pollId = live.collab->getPollId();
        const int stopsBefore = live.recordsOfType(learnerTokens.first(), QStringLiteral("pollStop")).size();
        live.collab->stopPoll();
        const auto stops = live.waitForRecords(learnerTokens.first(), QStringLiteral("pollStop"), stopsBefore + 1);
        QCOMPARE(stops.size(), stopsBefore + 1);
        QCOMPARE(stops.last().value(QStringLiteral("data")).toString(), pollId);
    }

    // Answers held by pause come in after resume; both notices carry the poll id.
    void pauseAndResume()
    {
        QSignalSpy answers(live.collab, &PresenterCollab::learnerPollResponse);
        const QString device = learnerTokens.first();
        const int pausesBefore = live.recordsOfType(device, QStringLiteral("pause")).size();
        const int resumesBefore = live.recordsOfType(device, QStringLiteral("resume")).size();
        live.collab->startPoll(PollType::TEXT, OrdinalType::GENERIC);
        live.collab->pausePoll();
        const QString pollId = live.collab->getPollId();
        const auto paused = live.waitForRecords(device, QStringLiteral("pause"), pausesBefore + 1);
        QCOMPARE(paused.size(), pausesBefore + 1);
        QCOMPARE(paused.last().value(QStringLiteral("data")).toString(), pollId);
        live.collab->resumePoll();
        const auto resumed = live.waitForRecords(device, QStringLiteral("resume"), resumesBefore + 1);
        QCOMPARE(resumed.size(), resumesBefore + 1);
        QCOMPARE(resumed.last().value(QStringLiteral("data")).toString(), pollId);
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), learnerTokens.size(), LIVE_WAIT_MS);
        live.collab->stopPoll();
    }

    // The current card, lesson and presence reach a controller exactly.
    void controllerState()
    {
        live.collab->sendCurrentCardToRemote(2, 3);
        live.collab->sendCurrentLessonToRemote(QStringLiteral("lesson \"7\""), QStringLiteral("Fractions: ½ \"and\" ¼"));
        live.collab->sendPresenterIsActiveToRemote();
        const auto card = live.waitForRecords(controllerToken, QStringLiteral("currentCard"));
        const auto lesson = live.waitForRecords(controllerToken, QStringLiteral("currentLesson"));
        const auto active = live.waitForRecords(controllerToken, QStringLiteral("presenterIsActive"));
        QCOMPARE(card.size(), 1);
        QCOMPARE(lesson.size(), 1);
        QCOMPARE(active.size(), 1);
        QCOMPARE(card.first().value(QStringLiteral("address")).toString(), live.token + QStringLiteral(".controller"));
        QCOMPARE(data(card.first()), (QJsonObject{{"currentCard", "2"},
                                                  {"cards", QJsonArray{QJsonObject{{"name", "1"}}, QJsonObject{{"name", "2"}},
                                                                       QJsonObject{{"name", "3"}}}},
                                                  {"totalCards", "3"}}));
        QCOMPARE(data(lesson.first()), (QJsonObject{{"lessonId", "lesson \"7\""}, {"name", "Fractions: ½ \"and\" ¼"}}));
        QCOMPARE(active.first().value(QStringLiteral("data")).toString(), QStringLiteral("%0"));
        QCOMPARE(active.first().value(QStringLiteral("from")).toString(),
                 card.first().value(QStringLiteral("from")).toString());
        // Learners are not addressed by controller messages.
        QVERIFY(live.recordsOfType(learnerTokens.first(), QStringLiteral("currentCard")).isEmpty());
    }

    void imageCards_data()
    {
        QTest::addColumn<int>("bytes");   // image bytes, 0 for the URL form
        QTest::addColumn<bool>("check");
        QTest::addColumn<bool>("heavy");
        // (thresholds and the unchecked form are covered in isolation)
        QTest::newRow("plain url") << 0 << true << false;
        QTest::newRow("large image, checked") << 400000 << true << true;
    }
    void imageCards()
    {
        QFETCH(int, bytes);
        QFETCH(bool, check);
        QFETCH(bool, heavy);
        const QString device = learnerTokens.last();
        const int before = live.standIn->records(device).size();
        QString reference;
        if (bytes) {
            QByteArray image(bytes, '\0');
            for (int i = 0; i < bytes; ++i)
                image[i] = char(i % 7 == 0 ? 0x89 : 'P' + i % 5);
            live.collab->setCardImage(image);
            reference = QStringLiteral("data:image/png;base64,") + QString::fromLatin1(image.toBase64());
        } else {
            reference = QStringLiteral("https://img.test/cards/1.png?size=large&x=\"q\"");
            live.collab->setCardImage(reference);
        }
        const int shownBefore = live.recordsOfType(device, QStringLiteral("showCard")).size();
        live.collab->showImageCard(check);
        QCOMPARE(live.waitForRecords(device, QStringLiteral("showCard"), shownBefore + 1).size(), shownBefore + 1);
        QJsonArray all = live.standIn->records(device);
        QStringList types;
        for (int i = before; i < all.size(); ++i)
            types << all.at(i).toObject().value(QStringLiteral("type")).toString();
        QCOMPARE(types, (heavy ? QStringList{"heavy", "showCard"} : QStringList{"showCard"}));
        const QJsonObject card = all.last().toObject();
        QCOMPARE(card.value(QStringLiteral("address")).toString(), live.token + QStringLiteral(".learner"));
        QCOMPARE(data(card).value(QStringLiteral("components")).toArray().at(0).toObject()
                     .value(QStringLiteral("blob")).toObject().value(QStringLiteral("url")).toString(), reference);
    }

    // removeLearner disconnects that device and reports it at once.
    void removeLearner()
    {
        const QString device = live.addLearners(1).at(0).toObject().value(QStringLiteral("token")).toString();
        QVERIFY(!device.isEmpty());
        QSignalSpy left(live.collab, &PresenterCollab::learnerUnregister);
        live.collab->removeLearner(device);
        QCOMPARE(left.count(), 1);
        QCOMPARE(left.at(0).at(0).toString(), device);
        const auto bye = live.waitForRecords(device, QStringLiteral("disconnect"));
        QCOMPARE(bye.size(), 1);
        QCOMPARE(bye.first().value(QStringLiteral("address")).toString(), live.token + QStringLiteral(".user.") + device);
        QTRY_VERIFY_WITH_TIMEOUT(live.standIn->control("GET", QStringLiteral("/records?token=") + device)
                                     .object().value(QStringLiteral("connected")) == QJsonValue(false),
                                 LIVE_WAIT_MS);
        // Others stay.
        QVERIFY(live.standIn->control("GET", QStringLiteral("/records?token=") + learnerTokens.first())
                    .object().value(QStringLiteral("connected")).toBool());
    }

    // Devices ask for questions by number; the host answers each request.
    void assessment()
    {
        PresenterAssessment assessment(nullptr, live.collab);
        PresenterAssessment bystander(nullptr, live.collab);
        QSignalSpy asked(&assessment, &PresenterAssessment::learnerGetQuestion);
        QSignalSpy askedToo(&bystander, &PresenterAssessment::learnerGetQuestion);
        QSignalSpy answers(live.collab, &PresenterCollab::learnerPollResponse);

        QuestionMultiChoice first;
        for (const char *id : {"A", "B", "C", "D"})
            first.addActivityOption(QString::fromLatin1(id), QStringLiteral("option ") + QLatin1String(id), 0);
        QuestionText second;
        connect(&assessment, &PresenterAssessment::learnerGetQuestion, this,
                [&](const QString &device, int number) {
                    assessment.sendQuestion(device, number == 1 ? static_cast<QuestionBase *>(&first) : &second);
                });

        AssessmentOptions options;
        options.setquestionCount(2);
        options.settitle(QStringLiteral("Quiz \"one\""));
        QVERIFY(assessment.start(&options));
        QCOMPARE(options.getassessmentToken(), assessment.getAssessmentId());

        const int expected = 2 * learnerTokens.size();
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), expected, LIVE_WAIT_MS);
        QCOMPARE(asked.count(), expected);
        QCOMPARE(askedToo.count(), expected);
        QMap<QString, QList<int>> numbers;
        for (const auto &args : asked)
            numbers[args.at(0).toString()] << args.at(1).toInt();
        for (const QString &t : learnerTokens)
            QCOMPARE(numbers.value(t), (QList<int>{1, 2}));
        for (const auto &args : answers) {
            const bool isFirst = args.at(1).toString() == first.getID();
            QVERIFY(isFirst || args.at(1).toString() == second.getID());
            QVERIFY(QRegularExpression(isFirst ? "^[A-D]$" : "^.+$").match(args.at(3).toString()).hasMatch());
        }

        const QString device = learnerTokens.first();
        const auto started = live.recordsOfType(device, QStringLiteral("assessmentStart"));
        QVERIFY(!started.isEmpty());
        QCOMPARE(data(started.last()).value(QStringLiteral("assessmentToken")).toString(), assessment.getAssessmentId());
        QCOMPARE(data(started.last()).value(QStringLiteral("title")).toString(), QStringLiteral("Quiz \"one\""));
        const auto questions = live.recordsOfType(device, QStringLiteral("questionStart"));
        QVERIFY(questions.size() >= 2);
        const QJsonObject q1 = questions.at(questions.size() - 2);
        QCOMPARE(q1.value(QStringLiteral("address")).toString(), live.token + QStringLiteral(".user.") + device);
        QCOMPARE(data(q1).value(QStringLiteral("questionSetMode")).toString(), QStringLiteral("Assessment"));
        QCOMPARE(data(q1).value(QStringLiteral("metadata")).toObject().value(QStringLiteral("ordinalType")).toString(),
                 QStringLiteral("alpha-upper"));

        assessment.sendMessage(QStringLiteral("Nearly done"), true, false);
        assessment.sendMessage(device, QStringLiteral("Review"), false, true);
        assessment.pause();
        assessment.resume();
        assessment.stop();
        const auto dialog = live.waitForRecords(device, QStringLiteral("dialogShow"));
        const auto review = live.waitForRecords(device, QStringLiteral("questionSetReview"));
        const auto stopped = live.waitForRecords(device, QStringLiteral("assessmentStop"));
        QCOMPARE(dialog.size(), 1);
        QCOMPARE(data(dialog.first()), (QJsonObject{{"isDismissible", true}, {"text", "Nearly done"}}));
        QCOMPARE(review.size(), 1);
        QCOMPARE(data(review.first()), (QJsonObject{{"showNavigation", true}, {"text", "Review"}}));
        QCOMPARE(review.first().value(QStringLiteral("address")).toString(), live.token + QStringLiteral(".user.") + device);
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(data(stopped.first()), (QJsonObject{{"assessmentToken", assessment.getAssessmentId()}}));
        // The other learner got the session-wide messages but not the review.
        QCOMPARE(live.waitForRecords(learnerTokens.last(), QStringLiteral("assessmentStop")).size(), 1);
        QVERIFY(live.recordsOfType(learnerTokens.last(), QStringLiteral("questionSetReview")).isEmpty());
    }

    // Answers come back over the XHR transports too.
    void pollsOverXhr_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("xhr-streaming") << "xhr-streaming";
        QTest::newRow("xhr-polling") << "xhr-polling";
    }
    void pollsOverXhr()
    {
        QFETCH(QString, transport);
        LiveSession session;
        const QString err = session.start(StandIn::shared(), transport);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QStringList tokens;
        for (const QJsonValue &v : session.addLearners(2))
            tokens << v.toObject().value(QStringLiteral("token")).toString();
        runPoll(session, tokens, PollType::MULTIPLE, OrdinalType::ALPHA_UPPER, 3, 1, QStringLiteral("questionStart"),
                QStringLiteral("[ABC]"));
        if (QTest::currentTestFailed())
            return;
        session.collab->stopPoll();
        runPoll(session, tokens, PollType::WORD_SEED, OrdinalType::GENERIC, 2, 1, QStringLiteral("poll"),
                QStringLiteral(".+"));
    }
};

QTEST_GUILESS_MAIN(TestLiveActivities)
#include "tst_liveactivities.moc"
