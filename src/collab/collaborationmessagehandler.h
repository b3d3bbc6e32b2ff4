// Dispatch of incoming event-bus frames to signals.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include "learner.h"
#include "remotecontrolmessage.h"
#include "veltroclient_export.h"

/// Turns the event-bus frames arriving on the collaboration connection into
/// signals. Owned by a PresenterCollab, which feeds it every frame and relays
/// all signals but learnerGetQuestion (used by PresenterAssessment).
/// Malformed frames and payloads are ignored or passed on as unhandled.
class VELTROCLIENT_EXPORT CollaborationMessageHandler : public QObject
{
    Q_OBJECT

public:
    /// Creates the handler with its action and type tables filled.
    explicit CollaborationMessageHandler(QObject *parent = nullptr);
    ~CollaborationMessageHandler() override;

Q_SIGNALS:
    /// A poll or question answer; responseTime in whole seconds.
    void learnerPollResponse(QString deviceId, QString pollId, int responseTime, QString answer);
    /// A learner's device joined the session.
    void learnerJoin(Veltro::Learner learner);
    /// A learner's device (its token) left the session.
    void learnerUnregister(QString deviceId);
    /// Only ever emitted with false (a controller left).
    void controllerRegister(bool isRegister);
    /// A remote-controller device sent a command.
    void remoteControl(Veltro::RemoteControlMessage Signal);
    /// A body of a type the handler does not know, with its restored payload (a
    /// "data" list of byte values is in the body as the QByteArray of those bytes).
    void unhandledMessage(QVariantMap jsonMessage, QVariant data);
    /// A device asks for assessment question number questionId.
    void learnerGetQuestion(QString id, int questionId);

protected Q_SLOTS:
    /// Handles one event-bus frame text; unparseable frames are ignored.
    void onHandleMessage(QString message);

private:
    friend class PresenterCollab;   // feeds it frames, leaving out the presenter's own
    using ActionHandler = void (CollaborationMessageHandler::*)(const QVariantMap &body);
    using TypeHandler = void (CollaborationMessageHandler::*)(const QVariantMap &body, const QVariant &data);

    QVariant decompressData(const QVariantMap &body) const;

    void onUnregister(const QVariantMap &body);
    void onJoin(const QVariantMap &body, const QVariant &data);
    void onPollResponse(const QVariantMap &body, const QVariant &data);
    void onQuestionResponse(const QVariantMap &body, const QVariant &data);
    void onQuestionGet(const QVariantMap &body, const QVariant &data);
    void onRemoteControl(const QVariantMap &body, const QVariant &data);

    QMap<QString, ActionHandler> actionHandlers;
    QMap<QString, TypeHandler> typeHandlers;
};
