#include "lessonremote_p.h"

#include "presentercollab.h"

namespace Veltro {

QStringList LessonRemote::namesSent() const
{
    if (cardNames.size() == totalCards)
        return cardNames;
    QStringList names;
    for (int i = 1; i <= totalCards; ++i)
        names << QString::number(i);
    return names;
}

void LessonRemote::publishCard() const
{
    if (collab)
        collab->sendCurrentCardToRemote(currentCard, namesSent());
}

void LessonRemote::publishLesson() const
{
    if (collab)
        collab->sendCurrentLessonToRemote(lessonId, lessonName);
}

void LessonRemote::publishAll() const
{
    if (!collab)
        return;
    collab->sendPresenterIsActiveToRemote();
    publishLesson();
    publishCard();
}

RemoteCommand LessonRemote::heard(const RemoteControlMessage &message)
{
    const RemoteCommand command = RemoteCommand::fromMessage(message);
    const bool arrived = !present;
    present = true;
    if (arrived || command.type == RemoteCommand::RequestLessonInfo || command.type == RemoteCommand::PresenterActive)
        publishAll();
    return command;
}

} // namespace Veltro
