// Private side of PresenterReply: the state of one call of PresenterClient
// (which queue it is in, the request it waits for, how to go on) and its
// outcome. Not installed.
#pragma once

#include "presenterreply.h"

#include <QPointer>
#include <QString>

#include <functional>

class QNetworkReply;

class PresenterReplyPrivate
{
public:
    /// What a queued call gives the calls queued behind it, and what they need
    /// of it: a call whose provider failed has nothing to work on.
    enum Provision { SignIn = 1, Session = 2 };
    /// Where the call is in its life, in this order.
    enum State {
        Queued,     // waiting its turn (or about to start beside the queue)
        Running,    // its steps are under way
        Cancelling, // cancel() asked; its request is being aborted
        Ended,      // outcome set, finished() on its way
        Reported,   // finished() has been emitted
    };

    static PresenterReplyPrivate *get(PresenterReply *r) { return r->d.get(); }

    explicit PresenterReplyPrivate(PresenterReply *q) : q(q) {}

    /// Ends the call with `error` (None for success). finished() follows from
    /// the event loop; the reply is then deleted unless the host keeps it.
    void complete(Veltro::Error error, const QString &text, const QString &lastError);
    /// Emits finished() now (from the event loop) and lets the reply go when
    /// nobody keeps it.
    void emitFinished();

    /// Whether the outcome is set.
    bool ended() const { return state >= Ended; }

    PresenterReply *q;
    PresenterClient *client = nullptr; // null once the call has ended or the client went
    State state = Queued;
    bool serial = false;               // waits its turn in the client's queue
    bool autoDelete = true;
    bool orphan = false;               // its client was deleted: it goes after finished()
    int needs = 0;                     // Provisions it needs of the calls queued before it
    int provides = 0;                  // Provisions it gives the calls queued behind it
    bool dependencyFailed = false;     // cancelled because a call it needed failed

    std::function<void(PresenterReply *)> begin; // the call's first step, run when its turn comes
    QNetworkReply *request = nullptr;  // the request it waits for, if any
    std::function<void()> stopWaiting; // ends a wait that is not a request (the goodbye)

    Veltro::Error error = Veltro::Error::None;
    QString errorString;
    QString lastErrorText;

    QString sessionCode;
    QString userName;
    QString accessToken;
    QList<Veltro::Learner> learners;
    QString resourceId;
    QString downloadPath;
    QString registrationData;
    QPointer<PresenterCollab> collab;
};
