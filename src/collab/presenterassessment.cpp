#include "presenterassessment.h"

#include <QUuid>
#include <QVariantMap>

#include "assessmentoptions.h"
#include "collaborationmessagehandler.h"
#include "logging_p.h"
#include "presentercollab.h"
#include "questionbase.h"
#include "veltrocollabmessage.h"

using namespace Veltro;

PresenterAssessment::PresenterAssessment(QObject *parent, PresenterCollab *collab)
    : QObject(parent)
    , collab(collab)
    , assessmentId(QUuid::createUuid().toString().remove(QLatin1Char('{')).remove(QLatin1Char('}')))
{
    if (!collab) {
        qCWarning(lcCollab).noquote() << "[PresenterAssessment] No collaboration session; nothing will be sent!";
        return;
    }
    connect(collab->getMsgHandler(), &CollaborationMessageHandler::learnerGetQuestion, this,
            &PresenterAssessment::learnerGetQuestion);
}

PresenterAssessment::~PresenterAssessment() = default;

QString PresenterAssessment::getAssessmentId() const { return assessmentId; }

QString PresenterAssessment::addressFor(const QString &learnerToken) const
{
    const QString session = collab->getSessionToken();
    return learnerToken.isEmpty() ? session : session + QStringLiteral(".user.") + learnerToken;
}

bool PresenterAssessment::start(AssessmentOptions *options)
{
    return start(QString(), options);
}

bool PresenterAssessment::start(QString learnerToken, AssessmentOptions *options)
{
    if (!collab || !options)
        return false;
    if (options->getassessmentToken().isEmpty())
        options->setassessmentToken(assessmentId);
    VeltroCollabMessage message;
    message.settype(QStringLiteral("assessmentStart"));
    message.setdataobject(options);
    collab->publishMessage(addressFor(learnerToken), &message);
    return true;
}

void PresenterAssessment::stop()
{
    if (!collab)
        return;
    VeltroCollabMessage message;
    message.settype(QStringLiteral("assessmentStop"));
    message.setdata(QVariantMap{{QStringLiteral("assessmentToken"), assessmentId}});
    collab->publishMessage(collab->getSessionToken(), &message);
}

void PresenterAssessment::pause()
{
    if (collab)
        collab->pausePoll();
}

void PresenterAssessment::resume()
{
    if (collab)
        collab->resumePoll();
}

bool PresenterAssessment::sendQuestion(QString learnerToken, QuestionBase *question)
{
    if (!collab || !question)
        return false;
    question->setquestionSetMode(QStringLiteral("Assessment"));
    question->inferOrdinalType();
    collab->sendQuestion(addressFor(learnerToken), question);
    return true;
}

void PresenterAssessment::sendMessage(QString learnerToken, QString text, bool isDismissible, bool isReview)
{
    if (!collab)
        return;
    VeltroCollabMessage message;
    QVariantMap data{{QStringLiteral("text"), text}};
    if (isReview) {
        message.settype(QStringLiteral("questionSetReview"));
        data.insert(QStringLiteral("showNavigation"), true);
    } else {
        message.settype(QStringLiteral("dialogShow"));
        data.insert(QStringLiteral("isDismissible"), isDismissible);
    }
    message.setdata(data);
    collab->publishMessage(addressFor(learnerToken), &message);
}

void PresenterAssessment::sendMessage(QString text, bool isDismissible, bool isReview)
{
    sendMessage(QString(), std::move(text), isDismissible, isReview);
}
