#include "questioncreative.h"

namespace Veltro {

QuestionCreative::QuestionCreative(QObject *parent)
    : QuestionBaseWithOptions(parent)
{
}

QString QuestionCreative::getType() const
{
    return QStringLiteral("creative");
}

} // namespace Veltro
