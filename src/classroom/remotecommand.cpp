#include "remotecommand.h"

#include <iterator>

namespace Veltro {

namespace {
// In the order of RemoteCommand::Type, from StopSession on.
const char *const kTypeTexts[] = {"stopSession", "requestLessonInfo", "requestLesson", "presenterActive",
                                  "pause",       "resume",            "lockAll",       "unlockAll",
                                  "nextCard",    "previousCard",      "pushCurrentCard", "addImageCard"};
} // namespace

RemoteCommand RemoteCommand::fromMessage(const RemoteControlMessage &message)
{
    RemoteCommand c;
    c.type = typeOf(message.type);
    c.typeText = message.type;
    c.data = message.data;
    c.from = message.from;
    return c;
}

RemoteCommand::Type RemoteCommand::typeOf(const QString &typeText)
{
    for (int i = 0; i < int(std::size(kTypeTexts)); ++i) {
        if (typeText == QLatin1String(kTypeTexts[i]))
            return Type(i + 1);
    }
    return Unknown;
}

QString RemoteCommand::textOf(Type type)
{
    return type > Unknown && int(type) <= int(std::size(kTypeTexts)) ? QLatin1String(kTypeTexts[type - 1])
                                                                     : QString();
}

int RemoteCommand::registerMetaType()
{
    return qRegisterMetaType<RemoteCommand>("Veltro::RemoteCommand");
}

// Commands travel in queued and spied signals; registered before any connection is made.
static void registerRemoteCommand()
{
    RemoteCommand::registerMetaType();
}
Q_CONSTRUCTOR_FUNCTION(registerRemoteCommand)

} // namespace Veltro
