#include "assessmentoptions.h"
#include "card.h"
#include "jsonserializer.h"
#include "learner.h"
#include "modeltestutil.h"
#include "remotecontrolmessage.h"

#include <QtTest>

using namespace Veltro;

// Emits the records the way the collaboration session does.
class Emitter : public QObject
{
    Q_OBJECT
signals:
    void learnerJoin(Veltro::Learner learner);
    void remoteControl(Veltro::RemoteControlMessage message);
};

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    // Compact forms of the default texts; the indented layout itself is
    // the serializer test's concern.
    void defaultTexts_data()
    {
        QTest::addColumn<QObject *>("object");
        QTest::addColumn<QString>("expected");
        QTest::newRow("card") << static_cast<QObject *>(new Card(this)) << QStringLiteral(
            "{\"active\":true,\"autoSend\":true,\"components\":[],\"hasRendered\":true,\"id\":\"\","
            "\"isTeacherCard\":true,\"notes\":\"\",\"ordinal\":1,\"primary\":true,\"pristine\":true,\"remoteId\":\"\","
            "\"segment\":{},\"styles\":{\"backgroundColor\":\"\",\"backgroundImage\":\"\",\"backgroundSize\":\"100%\"},"
            "\"tracks\":[],\"type\":\"TEACHER\",\"visible\":true}");
        QTest::newRow("assessment options") << static_cast<QObject *>(new AssessmentOptions(this)) << QStringLiteral(
            "{\"allowNavigateQuestionSet\":false,\"allowResubmitResponse\":true,\"allowSkipQuestion\":false,"
            "\"allowedTime\":0,\"assessmentSectionConfigurations\":{\"leveled\":false},\"assessmentToken\":\"\","
            "\"currentAssessmentSectionId\":\"\",\"description\":\"\",\"questionCount\":1,\"scored\":false,"
            "\"showAnswerOnIncorrectResponse\":false,\"showFeedback\":false,"
            "\"showSummaryOnAssessmentCompletion\":false,\"startingQuestionNumber\":0,\"title\":\"\"}");
    }
    void defaultTexts()
    {
        QFETCH(QObject *, object);
        QFETCH(QString, expected);
        const QString text = JsonSerializer::serializeToJson(object);
        QCOMPARE(QString::fromUtf8(QJsonDocument::fromJson(text.toUtf8()).toJson(QJsonDocument::Compact)), expected);
    }

    void cardBackgroundImage()
    {
        Card card;
        card.setBackgroundImage("data:image/png;base64,AAAA");
        QCOMPARE(card.getBackgroundImage(), QStringLiteral("data:image/png;base64,AAAA"));
        QCOMPARE(card.getstyles().value("backgroundSize").toString(), QStringLiteral("100%"));

        // The lookup inserts a null entry when styles lacks it.
        card.setstyles({});
        QCOMPARE(card.getBackgroundImage(), QString());
        QCOMPARE(parseObject(JsonSerializer::serializeToJson(&card)).value("styles").toObject(),
                 (QJsonObject{{"backgroundImage", QJsonValue::Null}}));

        card.setstyles({{"backgroundColor", "#fff"}});
        card.setBackgroundImage("u");
        QCOMPARE(card.getstyles(), (QVariantMap{{"backgroundColor", "#fff"}, {"backgroundImage", "u"}}));
    }

    // The records cross queued connections and spies without any registration by the host.
    void recordsInSignals()
    {
        QVERIFY(QMetaType::type("Veltro::Learner") != QMetaType::UnknownType);
        QVERIFY(QMetaType::type("Veltro::RemoteControlMessage") != QMetaType::UnknownType);

        Emitter emitter;
        Learner received;
        RemoteControlMessage command;
        connect(&emitter, &Emitter::learnerJoin, this, [&](Veltro::Learner l) { received = l; }, Qt::QueuedConnection);
        connect(&emitter, &Emitter::remoteControl, this, [&](Veltro::RemoteControlMessage m) { command = m; },
                Qt::QueuedConnection);
        QSignalSpy spy(&emitter, &Emitter::remoteControl);

        const Learner ada(QStringLiteral("tok-1"), QStringLiteral("Ada \u00c5"), QStringLiteral("tablet"));
        const RemoteControlMessage next(QStringLiteral("ctrl.addr"), QStringLiteral("nextCard"),
                                        QVariantMap{{"index", 3}});
        emit emitter.learnerJoin(ada);
        emit emitter.remoteControl(next);
        QTRY_COMPARE_WITH_TIMEOUT(received, ada, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(command, next, 2000);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<RemoteControlMessage>().data.toMap().value("index").toInt(), 3);
        QCOMPARE(received.userName, QStringLiteral("Ada \u00c5"));
        QCOMPARE(received.deviceType, QStringLiteral("tablet"));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
