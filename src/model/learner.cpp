#include "learner.h"

namespace Veltro {

int Learner::registerMetaType()
{
    return qRegisterMetaType<Learner>("Veltro::Learner");
}

// Learners travel in queued and spied signals; register before any connection is made.
static void registerLearner()
{
    Learner::registerMetaType();
}
Q_CONSTRUCTOR_FUNCTION(registerLearner)

} // namespace Veltro
