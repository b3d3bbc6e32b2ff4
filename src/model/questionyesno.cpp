#include "questionyesno.h"

namespace Veltro {

QuestionYesNo::QuestionYesNo(QObject *parent)
    : QuestionBaseWithOptions(parent)
{
}

QString QuestionYesNo::getType() const
{
    return m_trueFalse ? QStringLiteral("true-false") : QStringLiteral("yes-no-other");
}

} // namespace Veltro
