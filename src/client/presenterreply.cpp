#include "presenterreply.h"
#include "presenterreply_p.h"

#include "presenterclient.h"
#include "presenterclient_p.h"
#include "presentercollab.h"

#include <QPointer>

PresenterReply::PresenterReply(PresenterClient *client)
    : QObject(client)
    , d(new PresenterReplyPrivate(this))
{
    d->client = client;
}

PresenterReply::~PresenterReply()
{
    // A host that deletes a pending reply cancels its call; nothing is emitted.
    if (d->client && !d->ended())
        PresenterClientPrivate::get(d->client)->forgetCall(this);
}

void PresenterReplyPrivate::complete(Veltro::Error e, const QString &text, const QString &lastError)
{
    if (ended())
        return;
    state = Ended;
    client = nullptr;
    request = nullptr;
    stopWaiting = nullptr;
    begin = nullptr;
    error = e;
    errorString = e == Veltro::Error::None ? QString() : text;
    lastErrorText = lastError;
    QMetaObject::invokeMethod(q, [this] { emitFinished(); }, Qt::QueuedConnection);
}

void PresenterReplyPrivate::emitFinished()
{
    if (state == Reported)
        return;
    state = Reported;
    QPointer<PresenterReply> self(q);
    emit q->finished();
    if (!self)
        return; // the host deleted it in its slot
    if (autoDelete || orphan)
        q->deleteLater();
}

bool PresenterReply::isFinished() const
{
    return d->state == PresenterReplyPrivate::Reported;
}

Veltro::Error PresenterReply::error() const
{
    return d->error;
}

QString PresenterReply::errorString() const
{
    return d->errorString;
}

QString PresenterReply::lastErrorText() const
{
    return d->lastErrorText;
}

bool PresenterReply::autoDelete() const
{
    return d->autoDelete;
}

void PresenterReply::setAutoDelete(bool on)
{
    d->autoDelete = on;
}

QString PresenterReply::sessionCode() const
{
    return d->sessionCode;
}

QString PresenterReply::userName() const
{
    return d->userName;
}

QString PresenterReply::accessToken() const
{
    return d->accessToken;
}

QList<Veltro::Learner> PresenterReply::learners() const
{
    return d->learners;
}

QString PresenterReply::resourceId() const
{
    return d->resourceId;
}

QString PresenterReply::downloadPath() const
{
    return d->downloadPath;
}

QString PresenterReply::registrationData() const
{
    return d->registrationData;
}

PresenterCollab *PresenterReply::collab() const
{
    return d->collab.data();
}

void PresenterReply::cancel()
{
    if (d->client && !d->ended())
        PresenterClientPrivate::get(d->client)->cancelCall(this);
}
