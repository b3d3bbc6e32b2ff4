#include "questionfeedback.h"

namespace Veltro {

QuestionFeedback::QuestionFeedback(QObject *parent)
    : QObject(parent)
{
}

} // namespace Veltro
