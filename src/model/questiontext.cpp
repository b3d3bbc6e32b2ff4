#include "questiontext.h"

namespace Veltro {

QuestionText::QuestionText(QObject *parent)
    : QuestionBase(parent)
{
}

QString QuestionText::getType() const
{
    return QStringLiteral("text");
}

} // namespace Veltro
