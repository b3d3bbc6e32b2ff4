#include "activityoption.h"

namespace Veltro {

ActivityOption::ActivityOption(QObject *parent)
    : QObject(parent)
{
}

} // namespace Veltro
