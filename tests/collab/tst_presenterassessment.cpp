// Assessment messages in isolation, captured through the collaboration seam.
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include "assessmentoptions.h"
#include "collaborationmessagehandler.h"
#include "collabtestutil.h"
#include "presenterassessment.h"
#include "questionmultichoice.h"
#include "questiontext.h"

using namespace Veltro;

class TestPresenterAssessment : public QObject
{
    Q_OBJECT

    static QJsonObject bodyOf(const QJsonObject &frame) { return frame.value(QStringLiteral("body")).toObject(); }

private Q_SLOTS:
    void startAndStop_data()
    {
        QTest::addColumn<QString>("learner");
        QTest::addColumn<QString>("presetToken");
        QTest::addColumn<QString>("address");
        QTest::newRow("session, token filled") << "" << "" << "S1";
        QTest::newRow("one learner") << "d-2" << "" << "S1.user.d-2";
        QTest::newRow("host token kept") << "" << "mine" << "S1";
    }
    void startAndStop()
    {
        QFETCH(QString, learner);
        QFETCH(QString, presetToken);
        QFETCH(QString, address);
        RecordingCollab c;
        PresenterAssessment a(nullptr, &c);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                    .match(a.getAssessmentId()).hasMatch());
        AssessmentOptions options;
        options.setassessmentToken(presetToken);
        options.setquestionCount(5);
        QVERIFY(learner.isEmpty() ? a.start(&options) : a.start(learner, &options));
        const QString expectedToken = presetToken.isEmpty() ? a.getAssessmentId() : presetToken;
        QCOMPARE(options.getassessmentToken(), expectedToken);
        a.stop();

        QCOMPARE(c.published().size(), 2);
        const QJsonObject start = c.published().at(0);
        QCOMPARE(start.value(QStringLiteral("address")).toString(), address);
        QCOMPARE(bodyOf(start).value(QStringLiteral("type")).toString(), QStringLiteral("assessmentStart"));
        const QJsonObject opts = restoredJson(start).object();
        QCOMPARE(opts.size(), 15);
        QCOMPARE(opts.value(QStringLiteral("assessmentToken")).toString(), expectedToken);
        QCOMPARE(opts.value(QStringLiteral("questionCount")).toInt(), 5);

        const QJsonObject stop = c.published().at(1);
        QCOMPARE(stop.value(QStringLiteral("address")).toString(), QStringLiteral("S1"));
        QCOMPARE(bodyOf(stop).value(QStringLiteral("type")).toString(), QStringLiteral("assessmentStop"));
        QCOMPARE(restoredJson(stop).object(), (QJsonObject{{"assessmentToken", a.getAssessmentId()}}));
    }

    void messages_data()
    {
        QTest::addColumn<QString>("learner");
        QTest::addColumn<bool>("dismissible");
        QTest::addColumn<bool>("review");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QJsonObject>("data");
        const QString text = QStringLiteral("Done \"soon\"");
        QTest::newRow("review ignores dismissible") << "" << true << true << "questionSetReview" << "S1"
                                                    << QJsonObject{{"showNavigation", true}, {"text", text}};
        QTest::newRow("dialog, not dismissible") << "" << false << false << "dialogShow" << "S1"
                                                 << QJsonObject{{"isDismissible", false}, {"text", text}};
    }
    void messages()
    {
        QFETCH(QString, learner);
        QFETCH(bool, dismissible);
        QFETCH(bool, review);
        QFETCH(QString, type);
        QFETCH(QString, address);
        QFETCH(QJsonObject, data);
        RecordingCollab c;
        PresenterAssessment a(nullptr, &c);
        const QString text = QStringLiteral("Done \"soon\"");
        if (learner.isEmpty())
            a.sendMessage(text, dismissible, review);
        else
            a.sendMessage(learner, text, dismissible, review);
        QCOMPARE(c.published().size(), 1);
        QCOMPARE(c.published().at(0).value(QStringLiteral("address")).toString(), address);
        QCOMPARE(bodyOf(c.published().at(0)).value(QStringLiteral("type")).toString(), type);
        QCOMPARE(restoredJson(c.published().at(0)).object(), data);
    }

    void questionsPauseResume()
    {
        RecordingCollab c;
        PresenterAssessment a(nullptr, &c);
        QuestionMultiChoice q;
        q.addActivityOption(QStringLiteral("A"), QStringLiteral("x"), 1);
        q.addActivityOption(QStringLiteral("B"), QStringLiteral("y"), 2);
        QVERIFY(a.sendQuestion(QStringLiteral("d-1"), &q));
        QuestionText t;
        QVERIFY(a.sendQuestion(QString(), &t));
        QVERIFY(!a.sendQuestion(QString(), nullptr));
        QVERIFY(!a.start(nullptr));
        c.startPoll(PollType::TEXT, OrdinalType::GENERIC);
        a.pause();
        a.resume();

        const auto frames = c.published();
        QCOMPARE(frames.size(), 5);
        QCOMPARE(frames.at(0).value(QStringLiteral("address")).toString(), QStringLiteral("S1.user.d-1"));
        QCOMPARE(bodyOf(frames.at(0)).value(QStringLiteral("type")).toString(), QStringLiteral("questionStart"));
        QCOMPARE(q.getquestionSetMode(), QStringLiteral("Assessment"));
        QCOMPARE(frames.at(1).value(QStringLiteral("address")).toString(), QStringLiteral("S1"));
        QCOMPARE(restoredJson(frames.at(1)).object().value(QStringLiteral("type")).toString(), QStringLiteral("text"));
        const QString quoted = QLatin1Char('"') + c.getPollId() + QLatin1Char('"');
        QCOMPARE(bodyOf(frames.at(3)).value(QStringLiteral("type")).toString(), QStringLiteral("pause"));
        QCOMPARE(restoredText(frames.at(3)), quoted);
        QCOMPARE(bodyOf(frames.at(4)).value(QStringLiteral("type")).toString(), QStringLiteral("resume"));
        QCOMPARE(restoredText(frames.at(4)), quoted);
    }

    // Every assessment over a session relays a device's request; the session does not.
    void requestsRelayedByEveryAssessment()
    {
        RecordingCollab c;
        PresenterAssessment first(nullptr, &c);
        auto *second = new PresenterAssessment(nullptr, &c);
        QSignalSpy s1(&first, &PresenterAssessment::learnerGetQuestion);
        QSignalSpy s2(second, &PresenterAssessment::learnerGetQuestion);
        const QVariantMap body{{QStringLiteral("type"), QStringLiteral("questionGet")},
                               {QStringLiteral("from"), QStringLiteral("d-5")},
                               {QStringLiteral("data"), compress64(QStringLiteral(R"({"questionNumber":2})"))}};
        auto feed = [&] {
            QVERIFY(QMetaObject::invokeMethod(c.getMsgHandler(), "onHandleMessage", Qt::DirectConnection,
                                              Q_ARG(QString, deliveredFrame(body))));
        };
        feed();
        QCOMPARE(s1.count(), 1);
        QCOMPARE(s2.count(), 1);
        QCOMPARE(s1.at(0), (QList<QVariant>{QStringLiteral("d-5"), 2}));
        delete second;
        feed();
        QCOMPARE(s1.count(), 2);
        QVERIFY(first.getAssessmentId() != PresenterAssessment(nullptr, &c).getAssessmentId());
    }

    // The session object belongs to the client and may be gone first.
    void sessionGoneFirst()
    {
        auto *c = new RecordingCollab;
        PresenterAssessment a(nullptr, c);
        delete c;
        AssessmentOptions options;
        QuestionText q;
        QVERIFY(!a.start(&options));
        QVERIFY(!a.sendQuestion(QString(), &q));
        a.sendMessage(QStringLiteral("x"), true, false);
        a.pause();
        a.resume();
        a.stop();
        QVERIFY(options.getassessmentToken().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPresenterAssessment)
#include "tst_presenterassessment.moc"
