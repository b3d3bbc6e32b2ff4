#include "remotecontrolmessage.h"

namespace Veltro {

int RemoteControlMessage::registerMetaType()
{
    return qRegisterMetaType<RemoteControlMessage>("Veltro::RemoteControlMessage");
}

// Commands travel in queued and spied signals; register before any connection is made.
static void registerRemoteControlMessage()
{
    RemoteControlMessage::registerMetaType();
}
Q_CONSTRUCTOR_FUNCTION(registerRemoteControlMessage)

} // namespace Veltro
