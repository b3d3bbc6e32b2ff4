#include "keptsignin.h"

#include "classroom.h"
#include "plainerror.h"
#include "presenterclient.h"
#include "presenterreply.h"

#include <utility>

using Veltro::Classroom;
using Op = TokenStore::Op;
using Outcome = TokenStore::Outcome;

KeptSignIn::KeptSignIn(QObject *parent) : QObject(parent) {}

void KeptSignIn::setClassroom(Classroom *classroom)
{
    if (classroom == m_room)
        return;
    if (m_room)
        m_room->disconnect(this);
    m_room = classroom;
    if (classroom) {
        connect(classroom, &Classroom::signedInChanged, this, [this] {
            if (m_room->isSignedIn())
                signedIn();
        });
        connect(classroom, &Classroom::failed, this, [this](Veltro::Error error, const QString &message) {
            failed(message, error == Veltro::Error::SignInRefused);
        });
    }
    Q_EMIT classroomChanged();
}

void KeptSignIn::start(const QString &server, const QString &user)
{
    if (!m_room || m_room->isSignedIn() || m_room->isBusy())
        return;
    m_account = {server, user};
    m_resuming = true;
    m_note.clear();
    Q_EMIT changed();
    TokenStore::start(Op::Read, m_account, QString(), this, [this](const Outcome &o) {
        m_offered = o.kind != Outcome::NoKeyring;
        m_reason = o.reason;
        if (o.kind == Outcome::Done && m_room) {
            m_room->setServerUrl(m_account.server);
            m_room->signInWithToken(m_account.user, TokenStore::deviceId(), o.token);
        } else {
            m_resuming = false;
        }
        Q_EMIT changed();
    });
}

void KeptSignIn::signIn(const QString &server, const QString &user, const QString &password, bool stay)
{
    if (!m_room)
        return;
    setNote(QString());
    m_account = {server, user};
    if (!stay && m_offered)
        forget();
    m_password = stay && m_offered ? password : QString();
    m_room->setServerUrl(server);
    m_room->signIn(user, password);
}

void KeptSignIn::signOut()
{
    if (!m_room)
        return;
    ++m_generation;
    m_password.clear();
    if (m_request)
        m_request->cancel();
    m_room->signOut();
    if (m_offered)
        forget(); // the service's sign-in ends with signOut(); a device token cannot be withdrawn by the device
}

void KeptSignIn::signedIn()
{
    if (m_resuming) {
        m_resuming = false;
        Q_EMIT changed();
    }
    if (!m_password.isEmpty())
        keep(std::exchange(m_password, QString()));
}

void KeptSignIn::failed(const QString &message, bool refused)
{
    m_password.clear();
    if (!m_resuming)
        return;
    m_resuming = false;
    if (refused)
        forget(); // the service will not take it again
    m_note = refused ? TokenStore::refusedText()
                     : tr("The kept sign-in could not be used now: %1").arg(Veltro::plainError(message));
    Q_EMIT changed();
}

// The token is asked for after the password sign-in has succeeded, with the
// same password, and only the token is kept.
void KeptSignIn::keep(const QString &password)
{
    const int generation = m_generation;
    const TokenStore::Account account = m_account;
    PresenterReply *reply = m_room->client()->requestAccessToken(account.user, password, TokenStore::deviceId(),
                                                                 TokenStore::deviceName());
    m_request = reply;
    connect(reply, &PresenterReply::finished, this, [this, reply, generation, account] {
        if (generation != m_generation)
            return;
        if (reply->error() != Veltro::Error::None) {
            setNote(tr("Signed in, but the sign-in could not be kept: %1").arg(Veltro::plainError(reply->errorString())));
            return;
        }
        TokenStore::start(Op::Write, account, reply->accessToken(), this,
                          [this, generation, account](const Outcome &o) {
                              if (generation != m_generation)
                                  return;
                              if (o.kind == Outcome::Done)
                                  TokenStore::setKeptAccount(account);
                              else
                                  setNote(o.reason);
                          });
    });
}

void KeptSignIn::forget()
{
    const TokenStore::Account account = m_account;
    if (TokenStore::keptAccount() == account)
        TokenStore::setKeptAccount({});
    TokenStore::start(Op::Forget, account, QString(), this, [](const Outcome &) {});
}

void KeptSignIn::setNote(const QString &note)
{
    if (note == m_note)
        return;
    m_note = note;
    Q_EMIT changed();
}
