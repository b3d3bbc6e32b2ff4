// A teacher's remote-control command as a typed value, for widget and QML
// hosts alike.
#pragma once

#include "remotecontrolmessage.h"
#include "veltroclient_export.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

namespace Veltro {

/// One command a remote controller sent (Classroom::remoteCommand()): its
/// kind, the type text as it came, its data and its sender. QML reads the
/// fields as properties and the kinds as RemoteCommand.NextCard, ...
class VELTROCLIENT_EXPORT RemoteCommand
{
    Q_GADGET
    /// The kind of command; Unknown for a type text not among the twelve.
    Q_PROPERTY(Veltro::RemoteCommand::Type type MEMBER type)
    /// The type text as the controller sent it ("nextCard").
    Q_PROPERTY(QString typeText MEMBER typeText)
    /// The command's data, as restored from the message.
    Q_PROPERTY(QVariant data MEMBER data)
    /// The sending controller's token.
    Q_PROPERTY(QString from MEMBER from)

public:
    /// The twelve commands a remote controller sends, and Unknown.
    enum Type {
        Unknown = 0,       ///< None of the twelve below.
        StopSession,       ///< "stopSession": end the class.
        RequestLessonInfo, ///< "requestLessonInfo": the controller asks for the lesson and card state.
        RequestLesson,     ///< "requestLesson": the controller asks for a lesson to be opened.
        PresenterActive,   ///< "presenterActive": the controller asks whether the presenter is there.
        Pause,             ///< "pause": pause what runs on the devices.
        Resume,            ///< "resume": resume it.
        LockAll,           ///< "lockAll": lock every device's screen.
        UnlockAll,         ///< "unlockAll": unlock them.
        NextCard,          ///< "nextCard": show the next card.
        PreviousCard,      ///< "previousCard": show the previous card.
        PushCurrentCard,   ///< "pushCurrentCard": send the current card to the devices.
        AddImageCard,      ///< "addImageCard": show an image (in the data) as a card.
    };
    Q_ENUM(Type)

    /// An Unknown command with no data.
    RemoteCommand() = default;
    /// The command a controller's message carries.
    static RemoteCommand fromMessage(const Veltro::RemoteControlMessage &message);
    /// The kind named by `typeText` (exact, case-sensitive); Unknown for any other text.
    static Type typeOf(const QString &typeText);
    /// The type text of `type` ("nextCard"); empty for Unknown.
    static QString textOf(Type type);
    /// Registers the type with Qt's meta-type system; returns its id.
    static int registerMetaType();

    Type type = Unknown; ///< The kind of command.
    QString typeText;    ///< The type text as sent.
    QVariant data;       ///< The command's data.
    QString from;        ///< The sending controller's token.

    /// True when all four fields are equal.
    friend bool operator==(const RemoteCommand &a, const RemoteCommand &b)
    {
        return a.type == b.type && a.typeText == b.typeText && a.data == b.data && a.from == b.from;
    }
    /// True when any field differs.
    friend bool operator!=(const RemoteCommand &a, const RemoteCommand &b) { return !(a == b); }
};

} // namespace Veltro

Q_DECLARE_METATYPE(Veltro::RemoteCommand)
