// veltroclient: presenter-side client library for the Veltro live cloud classroom.
// Include this umbrella header, or a single class header, as <veltroclient/...>.
#pragma once

// enumerations and failure texts shared by every class
#include "veltronamespace.h"
#include "plainerror.h"

// codec
#include "lzmacodec.h"
#include "gzip.h"

// model
#include "polltype.h"
#include "ordinaltype.h"
#include "latexmarkup.h"
#include "jsonserializer.h"
#include "questionbase.h"
#include "questionbasewithoptions.h"
#include "questionyesno.h"
#include "questionmultichoice.h"
#include "questionsort.h"
#include "questionscale.h"
#include "questioncreative.h"
#include "questionnumeric.h"
#include "questiontext.h"
#include "questionmathformula.h"
#include "questionwordseed.h"
#include "questionmetadata.h"
#include "activityoption.h"
#include "questionfeedback.h"
#include "card.h"
#include "assessmentoptions.h"
#include "learner.h"
#include "remotecontrolmessage.h"

// client
#include "presenterclient.h"
#include "presenterreply.h"

// collab
#include "veltrocollabmessage.h"
#include "collaborationmessagehandler.h"
#include "presentercollab.h"
#include "presenterassessment.h"

// classroom: one object and live models over the client and the collaboration session
#include "pollkinds.h"
#include "polltallymodel.h"
#include "learnermodel.h"
#include "remotecommand.h"
#include "questiondescription.h"
#include "assessmentprogressmodel.h"
#include "assessment.h"
#include "classroom.h"
