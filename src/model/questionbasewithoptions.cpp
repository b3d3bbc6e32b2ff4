#include "questionbasewithoptions.h"

#include "jsonserializer.h"
#include "logging_p.h"
#include "questionfeedback.h"

namespace Veltro {

QuestionBaseWithOptions::QuestionBaseWithOptions(QObject *parent)
    : QuestionBase(parent)
    , m_metadata(new QuestionMetadata(this))
{
}

static QVariantMap optionAnswer(const QString &id)
{
    return {{QStringLiteral("activityOptionId"), id}};
}

void QuestionBaseWithOptions::setPriorAnswer(const QString &answer)
{
    if (!feedback()) {
        qCDebug(lcModel) << "[QuestionBase] no feedback block; prior answer dropped";
        return;
    }
    feedback()->setoptionAnswers({optionAnswer(answer)});
    configurePriorAnswer();
}

void QuestionBaseWithOptions::setPriorAnswerPerCharacter(const QString &answer)
{
    if (!feedback()) {
        qCDebug(lcModel) << "[QuestionBase] no feedback block; prior answer dropped";
        return;
    }
    QVariantList answers;
    answers.reserve(answer.size());
    for (const QChar c : answer)
        answers.append(optionAnswer(QString(c)));
    feedback()->setoptionAnswers(answers);
    configurePriorAnswer();
}

void QuestionBaseWithOptions::inferOrdinalType()
{
    if (m_options.isEmpty())
        return;
    const QString first = m_options.first()->getID();
    if (first == QLatin1String("A"))
        setMetadata(QStringLiteral("alpha-upper"), 0);
    else if (first == QLatin1String("a"))
        setMetadata(QStringLiteral("alpha-lower"), 0);
    else if (first == QLatin1String("0") || first == QLatin1String("1"))
        setMetadata(OrdinalType::NUMBER, 0);
}

QObject *QuestionBaseWithOptions::getmetadata() const
{
    return m_metadata;
}

QVariantList QuestionBaseWithOptions::getactivityOptions() const
{
    QList<QObject *> objects;
    objects.reserve(m_options.size());
    for (ActivityOption *option : m_options)
        objects.append(option);
    return JsonSerializer::buildArrayObjectMap(objects);
}

void QuestionBaseWithOptions::addActivityOption(const QString &id, const QString &optionText, int displaySeqNumber)
{
    auto *option = new ActivityOption(this);
    option->setID(id);
    option->setoptionText(optionText);
    option->setdisplaySeqNumber(displaySeqNumber);
    m_options.append(option);
}

void QuestionBaseWithOptions::setMetadata(const QString &ordinalType, int optionCount)
{
    if (!m_metadata) {
        qCDebug(lcModel) << "[QuestionBase] no metadata object; ordinal type dropped";
        return;
    }
    QVariantList indices;
    for (int i = 0; i < optionCount; ++i)
        indices.append(i);
    m_metadata->setordinalType(ordinalType);
    m_metadata->setoptions(indices);
}

void QuestionBaseWithOptions::setMetadata(OrdinalType::ORDINAL_TYPE ordinalType, int optionCount)
{
    setMetadata(OrdinalType::ORDINAL_TYPE_STR().value(ordinalType), optionCount);
}

void QuestionBaseWithOptions::setOrdinals(OrdinalType::ORDINAL_TYPE ordinalType)
{
    setMetadata(ordinalType, m_options.size());
}

void QuestionBaseWithOptions::setmetadata(QObject *object)
{
    m_metadata = qobject_cast<QuestionMetadata *>(object);
}

} // namespace Veltro
