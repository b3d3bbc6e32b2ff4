// Dispatch of incoming event-bus frames to signals.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

#include "learner.h"
#include "remotecontrolmessage.h"
#include "veltroclient_export.h"

class CollaborationMessageHandlerPrivate;

/// Turns the event-bus frames arriving on the collaboration connection into
/// signals. Owned by a PresenterCollab, which feeds it every frame and relays
/// all signals but learnerGetQuestion (used by PresenterAssessment).
/// Malformed frames and payloads are ignored or passed on as unhandled.
/// Every signal is emitted while a frame is handled, that is from the event
/// loop as frames arrive; so each can arrive inside a blocking call of
/// PresenterClient (they run a local event loop).
class VELTROCLIENT_EXPORT CollaborationMessageHandler : public QObject
{
    Q_OBJECT

public:
    /// Creates the handler with its action and type tables filled.
    explicit CollaborationMessageHandler(QObject *parent = nullptr);
    ~CollaborationMessageHandler() override;

Q_SIGNALS:
    /// A poll or question answer; responseTime in whole seconds. The answer
    /// text: for a "questionResponse" the device's answer text followed by the
    /// id of each option it chose, no separator ("B", "AC", a typed text or
    /// number); for a "pollResponse" the picks joined by "," ("0,2") or the
    /// typed input. `pollId` is the question's id or the poll id it carries.
    void learnerPollResponse(QString deviceId, QString pollId, int responseTime, QString answer);
    /// A learner's device joined the session (a "join" with a sender).
    void learnerJoin(Veltro::Learner learner);
    /// A learner's device (its token) left the session (the server's "unregister").
    void learnerUnregister(QString deviceId);
    /// Only ever emitted with false: a controller left (the server's "unregister").
    void controllerRegister(bool isRegister);
    /// A remote-controller device sent a command (one of the twelve command types).
    void remoteControl(Veltro::RemoteControlMessage Signal);
    /// A body of a type the handler does not know, with its restored payload (a
    /// "data" list of byte values is in the body as the QByteArray of those bytes).
    void unhandledMessage(QVariantMap jsonMessage, QVariant data);
    /// A device asks for assessment question number questionId ("questionGet").
    void learnerGetQuestion(QString id, int questionId);
    /// The answer learnerPollResponse() reported, right after it, with what
    /// the device typed and the options it chose apart: `text` is a
    /// "questionResponse"'s "answer" or a "pollResponse"'s "input", `optionIds`
    /// the ids of its "optionAnswers" or its "pick", in the device's order.
    void learnerAnswer(QString deviceId, QString answerId, int responseTime, QString text, QStringList optionIds);

protected Q_SLOTS:
    /// Handles one event-bus frame text; unparseable frames are ignored.
    void onHandleMessage(QString message);

private:
    friend class PresenterCollabPrivate; // feeds it frames, leaving out the presenter's own
    friend class CollaborationMessageHandlerPrivate;

    QVariant decompressData(const QVariantMap &body) const;

    void onUnregister(const QVariantMap &body);
    void onJoin(const QVariantMap &body, const QVariant &data);
    void onPollResponse(const QVariantMap &body, const QVariant &data);
    void onQuestionResponse(const QVariantMap &body, const QVariant &data);
    void onQuestionGet(const QVariantMap &body, const QVariant &data);
    void onRemoteControl(const QVariantMap &body, const QVariant &data);

    // The action and type tables live in the private side.
    const std::unique_ptr<CollaborationMessageHandlerPrivate> d;
};
