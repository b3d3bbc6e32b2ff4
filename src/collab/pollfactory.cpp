#include "pollfactory_p.h"

#include <QStringList>
#include <QUuid>

#include "card.h"
#include "collabtemplates_p.h"
#include "jsontemplate_p.h"
#include "questionbasewithoptions.h"
#include "questionmathformula.h"
#include "questionmultichoice.h"
#include "questionnumeric.h"
#include "questionscale.h"
#include "questionsort.h"
#include "questiontext.h"
#include "questionyesno.h"

namespace Veltro {

QPair<QString, QString> generatedPollOption(OrdinalType::ORDINAL_TYPE ordinalType, int i)
{
    static const QStringList trueFalse{QStringLiteral("TRUE"), QStringLiteral("FALSE"), QStringLiteral("DONTKNOW")};
    static const QStringList yesNo{QStringLiteral("YES"), QStringLiteral("NO"), QStringLiteral("DONTKNOW")};
    const QString abId = i == 0 ? QStringLiteral("A") : i == 1 ? QStringLiteral("B") : QStringLiteral("?");
    switch (ordinalType) {
    case OrdinalType::ALPHA_LOWER:
        return {QString(QChar(ushort('a' + i))), QString()};
    case OrdinalType::ALPHA_UPPER:
        return {QString(QChar(ushort('A' + i))), QString()};
    case OrdinalType::TRUE_FALSE:
        return {abId, trueFalse.at(qMin(i, 2))};
    case OrdinalType::YES_NO:
    case OrdinalType::YES_NO_MAYBE:
    case OrdinalType::YES_NO_UNSURE:
    case OrdinalType::YES_NO_OTHER:
        return {abId, yesNo.at(qMin(i, 2))};
    default:
        return {QString::number(i), QString()};
    }
}

QuestionBase *makePollQuestion(QObject *parent, PollType::POLL_TYPE pollType, OrdinalType::ORDINAL_TYPE ordinalType,
                               int optionCount, int correctOptionCount)
{
    QuestionBase *question = nullptr;
    switch (pollType) {
    case PollType::TRUE_FALSE: {
        auto *q = new QuestionYesNo(parent);
        q->setTrueFalseType(true);
        question = q;
        break;
    }
    case PollType::YES_NO_OTHER:
        question = new QuestionYesNo(parent);
        break;
    case PollType::MULTIPLE: {
        auto *q = new QuestionMultiChoice(parent);
        q->setnumberOfCorrectOptions(correctOptionCount);
        question = q;
        break;
    }
    case PollType::SCALE:
        question = new QuestionScale(parent);
        break;
    case PollType::SORT:
        question = new QuestionSort(parent);
        break;
    case PollType::TEXT:
        question = new QuestionText(parent);
        break;
    case PollType::NUMBER: {
        auto *q = new QuestionNumeric(parent);
        q->setnoOfDecimals(optionCount);
        question = q;
        break;
    }
    case PollType::MATH_FORMULA:
        question = new QuestionMathFormula(parent);
        break;
    default:
        return nullptr;
    }

    if (auto *withOptions = qobject_cast<QuestionBaseWithOptions *>(question)) {
        for (int i = 0; i < optionCount; ++i) {
            const auto option = generatedPollOption(ordinalType, i);
            withOptions->addActivityOption(option.first, option.second, i + 1);
        }
    }
    question->inferOrdinalType();
    return question;
}

QString pollTemplateText(PollType::POLL_TYPE pollType, OrdinalType::ORDINAL_TYPE ordinalType,
                         const PollTemplateValues &values)
{
    QStringList options;
    for (int i = 0; i < values.optionCount; ++i)
        options << QString::number(i);
    return fillJsonTemplate(POLL_QUESTION_TEMPLATE,
                            {PollType::POLL_TYPE_STR().value(pollType), OrdinalType::ORDINAL_TYPE_STR().value(ordinalType),
                             values.sessionToken, values.sessionCode, POLL_TIME_STAMP, values.pollId,
                             options.join(QLatin1Char(',')), values.backgroundImage});
}

QString newPollId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void releaseCardImage(QuestionBase *question)
{
    auto *card = qobject_cast<Card *>(question->getcard());
    if (card && card->getBackgroundImage().startsWith(QLatin1String("data:")))
        card->setBackgroundImage(QString());
}

} // namespace Veltro
