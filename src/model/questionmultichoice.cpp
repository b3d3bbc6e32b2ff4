#include "questionmultichoice.h"

namespace Veltro {

QuestionMultiChoice::QuestionMultiChoice(QObject *parent)
    : QuestionBaseWithOptions(parent)
{
}

QString QuestionMultiChoice::getType() const
{
    return QStringLiteral("multiple");
}

void QuestionMultiChoice::setPriorAnswer(const QString &answer)
{
    setPriorAnswerPerCharacter(answer);
}

} // namespace Veltro
