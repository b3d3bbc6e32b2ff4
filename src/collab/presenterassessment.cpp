#include "presenterassessment.h"

#include <QPointer>
#include <QUuid>
#include <QVariantMap>

#include "assessmentoptions.h"
#include "collaborationmessagehandler.h"
#include "logging_p.h"
#include "presentercollab.h"
#include "questionbase.h"
#include "veltrocollabmessage.h"

using namespace Veltro;

class PresenterAssessmentPrivate
{
public:
    // The session address, or one learner's when a token is given.
    QString addressFor(const QString &learnerToken) const
    {
        const QString session = collab->getSessionToken();
        return learnerToken.isEmpty() ? session : session + QStringLiteral(".user.") + learnerToken;
    }
    // Publishes a message object of `type` to `address` with `data` (a map) or `dataObject`.
    void publish(const QString &address, const QString &type, const QVariant &data, QObject *dataObject = nullptr)
    {
        VeltroCollabMessage message;
        message.settype(type);
        if (dataObject)
            message.setdataobject(dataObject);
        else
            message.setdata(data);
        collab->publishMessage(address, &message);
    }

    // Guarded: the session object belongs to the client and may go first.
    QPointer<PresenterCollab> collab;
    const QString assessmentId = QUuid::createUuid().toString(QUuid::WithoutBraces);
};

PresenterAssessment::PresenterAssessment(QObject *parent, PresenterCollab *collab)
    : QObject(parent)
    , d(new PresenterAssessmentPrivate)
{
    d->collab = collab;
    if (!collab) {
        qCWarning(lcCollab).noquote() << "[PresenterAssessment] No collaboration session; nothing will be sent!";
        return;
    }
    connect(collab->getMsgHandler(), &CollaborationMessageHandler::learnerGetQuestion, this,
            &PresenterAssessment::learnerGetQuestion);
}

PresenterAssessment::~PresenterAssessment() = default;

QString PresenterAssessment::getAssessmentId() const { return d->assessmentId; }

bool PresenterAssessment::start(AssessmentOptions *options)
{
    return start(QString(), options);
}

bool PresenterAssessment::start(QString learnerToken, AssessmentOptions *options)
{
    if (!d->collab || !options)
        return false;
    if (options->getassessmentToken().isEmpty())
        options->setassessmentToken(d->assessmentId);
    d->publish(d->addressFor(learnerToken), QStringLiteral("assessmentStart"), QVariant(), options);
    return true;
}

void PresenterAssessment::stop()
{
    if (d->collab)
        d->publish(d->addressFor(QString()), QStringLiteral("assessmentStop"),
                   QVariantMap{{QStringLiteral("assessmentToken"), d->assessmentId}});
}

void PresenterAssessment::pause()
{
    if (d->collab)
        d->collab->pausePoll();
}

void PresenterAssessment::resume()
{
    if (d->collab)
        d->collab->resumePoll();
}

bool PresenterAssessment::sendQuestion(QString learnerToken, QuestionBase *question)
{
    if (!d->collab || !question)
        return false;
    question->setquestionSetMode(QStringLiteral("Assessment"));
    question->inferOrdinalType();
    d->collab->sendQuestion(d->addressFor(learnerToken), question);
    return true;
}

void PresenterAssessment::sendMessage(QString learnerToken, QString text, bool isDismissible, bool isReview)
{
    if (!d->collab)
        return;
    QVariantMap data{{QStringLiteral("text"), text}};
    if (isReview)
        data.insert(QStringLiteral("showNavigation"), true);
    else
        data.insert(QStringLiteral("isDismissible"), isDismissible);
    d->publish(d->addressFor(learnerToken), isReview ? QStringLiteral("questionSetReview") : QStringLiteral("dialogShow"),
               data);
}

void PresenterAssessment::sendMessage(QString text, bool isDismissible, bool isReview)
{
    sendMessage(QString(), std::move(text), isDismissible, isReview);
}
