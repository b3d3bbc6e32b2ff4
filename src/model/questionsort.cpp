#include "questionsort.h"

namespace Veltro {

QuestionSort::QuestionSort(QObject *parent)
    : QuestionBaseWithOptions(parent)
{
}

QString QuestionSort::getType() const
{
    return QStringLiteral("sort");
}

void QuestionSort::setPriorAnswer(const QString &answer)
{
    setPriorAnswerPerCharacter(answer);
}

} // namespace Veltro
