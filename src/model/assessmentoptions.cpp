#include "assessmentoptions.h"

namespace Veltro {

AssessmentOptions::AssessmentOptions(QObject *parent)
    : QObject(parent)
    , m_assessmentSectionConfigurations{{QStringLiteral("leveled"), false}}
{
}

} // namespace Veltro
