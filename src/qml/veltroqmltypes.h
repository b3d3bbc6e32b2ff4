// What `import Veltro` offers: the library's classes and enumerations,
// registered as they are (no wrappers), so QML and widget hosts share them.
#pragma once

#include <QtQml/qqml.h>

#include "classroom.h"
#include "learnermodel.h"
#include "ordinaltype.h"
#include "polltallymodel.h"
#include "polltype.h"
#include "veltronamespace.h"

// The classroom object: properties, models and operations. The enumerations
// of its properties' types (Veltro's poll and connection states) read as
// Classroom.Running as well as Veltro.Running.
struct VeltroClassroomForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::Classroom)
    QML_NAMED_ELEMENT(Classroom)
};

// The learners present, for a host that follows a collaboration object itself.
struct VeltroLearnerModelForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::LearnerModel)
    QML_NAMED_ELEMENT(LearnerModel)
};

// The tally of one poll.
struct VeltroPollTallyModelForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::PollTallyModel)
    QML_NAMED_ELEMENT(PollTallyModel)
};

// Veltro.Error, Veltro.ConnectionState and Veltro.PollState.
namespace VeltroNamespaceForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(Veltro)
QML_NAMED_ELEMENT(Veltro)
}

// PollType.MULTIPLE, ...: the kinds of activity.
namespace VeltroPollTypeForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(Veltro::PollType)
QML_NAMED_ELEMENT(PollType)
}

// OrdinalType.ALPHA_UPPER, ...: the kinds of option label.
namespace VeltroOrdinalTypeForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(Veltro::OrdinalType)
QML_NAMED_ELEMENT(OrdinalType)
}
