// What the teacher's remote controllers are kept in step with: the lesson
// and its current card, published to them when it changes and again when
// one turns up or asks.
#pragma once

#include "remotecommand.h"

#include <QPointer>
#include <QString>
#include <QStringList>

class PresenterCollab;

namespace Veltro {

class LessonRemote
{
public:
    /// Whether a controller is taken to be there: from any command it sends
    /// until a controller's departure (which does not say which one left).
    bool present = false;
    int currentCard = 0;
    int totalCards = 0;
    QStringList cardNames; // empty, or one per card
    QString lessonId;
    QString lessonName;
    QPointer<PresenterCollab> collab; // the live session's, null without one

    /// The cards' names as the controllers get them: cardNames, else "1" to totalCards.
    QStringList namesSent() const;
    void publishCard() const;
    void publishLesson() const;
    /// The presenter is active, the lesson and its card: all a controller that
    /// turns up or asks needs.
    void publishAll() const;
    /// A controller's message: it is there (told the state when it was not,
    /// or when it asks); returns the command.
    RemoteCommand heard(const RemoteControlMessage &message);
};

} // namespace Veltro
