#include "questionwordseed.h"

namespace Veltro {

QuestionWordSeed::QuestionWordSeed(QObject *parent)
    : QuestionBase(parent)
{
}

QString QuestionWordSeed::getType() const
{
    return QStringLiteral("word-seed");
}

} // namespace Veltro
