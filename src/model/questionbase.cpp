#include "questionbase.h"

#include "logging_p.h"
#include "randomstring.h"

namespace Veltro {

QuestionBase::QuestionBase(QObject *parent)
    : QObject(parent)
    // Drawn from the process-wide seeded generator, so questions made within
    // the same second still get distinct ids.
    , m_id(randomString(8))
    , m_questionSetMode(QStringLiteral("Poll"))
    , m_feedBack(new QuestionFeedback(this))
    , m_card(new QObject(this))
{
}

QString QuestionBase::getType() const
{
    return m_type;
}

void QuestionBase::inferOrdinalType()
{
}

void QuestionBase::setPriorAnswer(const QString &answer)
{
    if (!m_feedBack) {
        qCDebug(lcModel) << "[QuestionBase] no feedback block; prior answer dropped";
        return;
    }
    m_feedBack->setanswer(answer);
    m_feedBack->setnumberOfRetriesRemaining(99);
}

void QuestionBase::configurePriorAnswer()
{
    if (m_feedBack)
        m_feedBack->setnumberOfRetriesRemaining(99);
}

QObject *QuestionBase::getfeedBack() const
{
    return m_feedBack;
}

void QuestionBase::setfeedBack(QObject *object)
{
    m_feedBack = qobject_cast<QuestionFeedback *>(object);
}

} // namespace Veltro
