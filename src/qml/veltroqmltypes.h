// What `import Veltro` offers: the library's classes and enumerations,
// registered as they are (no wrappers), so QML and widget hosts share them.
#pragma once

#include <QtQml/qqml.h>

#include "assessment.h"
#include "assessmentprogressmodel.h"
#include "classroom.h"
#include "learnermodel.h"
#include "ordinaltype.h"
#include "polltallymodel.h"
#include "polltype.h"
#include "questiondescription.h"
#include "remotecommand.h"
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

// The models are fed by the classroom alone: QML reads them from it, and
// their roles and enumerations by these names.
struct VeltroLearnerModelForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::LearnerModel)
    QML_NAMED_ELEMENT(LearnerModel)
    QML_UNCREATABLE("a LearnerModel is fed by its Classroom: use Classroom.learners")
};

struct VeltroPollTallyModelForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::PollTallyModel)
    QML_NAMED_ELEMENT(PollTallyModel)
    QML_UNCREATABLE("a PollTallyModel is fed by its Classroom: use Classroom.tally")
};

struct VeltroAssessmentForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::Assessment)
    QML_NAMED_ELEMENT(Assessment)
    QML_UNCREATABLE("an Assessment runs on its Classroom's session: use Classroom.assessment")
};

struct VeltroAssessmentProgressModelForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::AssessmentProgressModel)
    QML_NAMED_ELEMENT(AssessmentProgressModel)
    QML_UNCREATABLE("an AssessmentProgressModel is fed by its Assessment: use Classroom.assessment.progress")
};

// Values QML reads: a remote command (onRemoteCommand), a tally's option,
// an assessment question.
struct VeltroRemoteCommandForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::RemoteCommand)
    QML_VALUE_TYPE(remoteCommand)
};

struct VeltroTallyOptionForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::TallyOption)
    QML_VALUE_TYPE(tallyOption)
};

struct VeltroQuestionDescriptionForeign
{
    Q_GADGET
    QML_FOREIGN(Veltro::QuestionDescription)
    QML_VALUE_TYPE(questionDescription)
};

// RemoteCommand.NextCard, ...: the kinds of remote command.
namespace VeltroRemoteCommandTypeForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(Veltro::RemoteCommand)
QML_NAMED_ELEMENT(RemoteCommand)
}

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
