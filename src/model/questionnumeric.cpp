#include "questionnumeric.h"

namespace Veltro {

QuestionNumeric::QuestionNumeric(QObject *parent)
    : QuestionBase(parent)
{
}

QString QuestionNumeric::getType() const
{
    return QStringLiteral("number");
}

} // namespace Veltro
