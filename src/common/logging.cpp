#include "logging_p.h"

Q_LOGGING_CATEGORY(lcClient, "veltro.client")
Q_LOGGING_CATEGORY(lcSockJS, "veltro.sockjs")
Q_LOGGING_CATEGORY(lcCollab, "veltro.collab")
Q_LOGGING_CATEGORY(lcModel, "veltro.model")
Q_LOGGING_CATEGORY(lcCodec, "veltro.codec")
Q_LOGGING_CATEGORY(lcClientVerbose, "veltro.client.verbose", QtInfoMsg)
