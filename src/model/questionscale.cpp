#include "questionscale.h"

namespace Veltro {

QuestionScale::QuestionScale(QObject *parent)
    : QuestionBaseWithOptions(parent)
{
}

QString QuestionScale::getType() const
{
    return QStringLiteral("scale");
}

} // namespace Veltro
