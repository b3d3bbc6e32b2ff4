// Plain records: the default texts of card and assessment options, the card's
// background image, and the signal records crossing queued connections.
#include "assessmentoptions.h"
#include "card.h"
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
    void defaultTexts()
    {
        Card card;
        QCOMPARE(compactJson(&card), QStringLiteral(
            R"({"active":true,"autoSend":true,"components":[],"hasRendered":true,"id":"","isTeacherCard":true,)"
            R"("notes":"","ordinal":1,"primary":true,"pristine":true,"remoteId":"","segment":{},)"
            R"("styles":{"backgroundColor":"","backgroundImage":"","backgroundSize":"100%"},"tracks":[],)"
            R"("type":"TEACHER","visible":true})"));
        AssessmentOptions options;
        QCOMPARE(compactJson(&options), QStringLiteral(
            R"({"allowNavigateQuestionSet":false,"allowResubmitResponse":true,"allowSkipQuestion":false,)"
            R"("allowedTime":0,"assessmentSectionConfigurations":{"leveled":false},"assessmentToken":"",)"
            R"("currentAssessmentSectionId":"","description":"","questionCount":1,"scored":false,)"
            R"("showAnswerOnIncorrectResponse":false,"showFeedback":false,)"
            R"("showSummaryOnAssessmentCompletion":false,"startingQuestionNumber":0,"title":""})"));
    }

    void cardBackgroundImage()
    {
        Card card;
        card.setBackgroundImage("data:image/png;base64,AAAA");
        QCOMPARE(card.getstyles(), (QVariantMap{{"backgroundColor", ""}, {"backgroundImage", "data:image/png;base64,AAAA"},
                                                {"backgroundSize", "100%"}}));
        // The lookup inserts a null entry when styles lacks it.
        card.setstyles({});
        QCOMPARE(card.getBackgroundImage(), QString());
        QCOMPARE(serialized(&card).value("styles").toObject(), (QJsonObject{{"backgroundImage", QJsonValue::Null}}));
        card.setstyles({{"backgroundColor", "#fff"}});
        card.setBackgroundImage("u");
        QCOMPARE(card.getstyles(), (QVariantMap{{"backgroundColor", "#fff"}, {"backgroundImage", "u"}}));
    }

    // The records cross queued connections without any registration by the host.
    void recordsInSignals()
    {
        Emitter emitter;
        Learner received;
        RemoteControlMessage command;
        connect(&emitter, &Emitter::learnerJoin, this, [&](Veltro::Learner l) { received = l; }, Qt::QueuedConnection);
        connect(&emitter, &Emitter::remoteControl, this, [&](Veltro::RemoteControlMessage m) { command = m; },
                Qt::QueuedConnection);
        const Learner ada(QStringLiteral("tok-1"), QStringLiteral("Ada \u00c5"), QStringLiteral("tablet"));
        const RemoteControlMessage next(QStringLiteral("ctrl.addr"), QStringLiteral("nextCard"), QVariantMap{{"index", 3}});
        emit emitter.learnerJoin(ada);
        emit emitter.remoteControl(next);
        QTRY_COMPARE_WITH_TIMEOUT(received, ada, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(command, next, 2000);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
