#include "questionmathformula.h"

namespace Veltro {

QuestionMathFormula::QuestionMathFormula(QObject *parent)
    : QuestionBase(parent)
{
}

QString QuestionMathFormula::getType() const
{
    return QStringLiteral("math formula");
}

} // namespace Veltro
