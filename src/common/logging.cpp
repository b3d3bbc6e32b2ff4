// Debug lines of every category are off unless a host turns them on
// (QT_LOGGING_RULES="veltro.*.debug=true"); warnings always show.
#include "logging_p.h"

Q_LOGGING_CATEGORY(lcClient, "veltro.client", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSockJS, "veltro.sockjs", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCollab, "veltro.collab", QtInfoMsg)
Q_LOGGING_CATEGORY(lcModel, "veltro.model", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCodec, "veltro.codec", QtInfoMsg)
Q_LOGGING_CATEGORY(lcClientVerbose, "veltro.client.verbose", QtInfoMsg)
