#include "questionmetadata.h"

namespace Veltro {

QuestionMetadata::QuestionMetadata(QObject *parent)
    : QObject(parent)
{
}

} // namespace Veltro
