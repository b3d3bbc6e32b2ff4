// "Stay signed in" for both windows, on the library's classroom object. With
// the option chosen, a password sign-in is followed by a request for a device
// access token, which is kept in the system keyring (TokenStore); the next
// start signs in with it and shows no password form. Signing out forgets it.
// Without a keyring the option is not offered, and the reason is given.
#pragma once

#include "classroom.h"
#include "tokenstore.h"

#include <QObject>
#include <QPointer>
#include <QString>

class PresenterReply;

class KeptSignIn : public QObject
{
    Q_OBJECT
    /// The classroom it signs in; set before start().
    Q_PROPERTY(Veltro::Classroom *classroom READ classroom WRITE setClassroom NOTIFY classroomChanged)
    /// Whether "Stay signed in" is offered: a keyring answered start().
    Q_PROPERTY(bool offered READ isOffered NOTIFY changed)
    /// True from start() until a kept sign-in succeeded or the form is needed:
    /// meanwhile the window shows no password form.
    Q_PROPERTY(bool resuming READ isResuming NOTIFY changed)
    /// Why the option is not offered, in one line; empty while it is, or before start().
    Q_PROPERTY(QString reason READ reason NOTIFY changed)
    /// What became of a kept sign-in (refused and forgotten, or not kept);
    /// empty otherwise, and again at the next signIn().
    Q_PROPERTY(QString note READ note NOTIFY changed)

public:
    explicit KeptSignIn(QObject *parent = nullptr);

    Veltro::Classroom *classroom() const { return m_room; }
    void setClassroom(Veltro::Classroom *classroom);
    bool isOffered() const { return m_offered; }
    bool isResuming() const { return m_resuming; }
    QString reason() const { return m_reason; }
    QString note() const { return m_note; }

public Q_SLOTS:
    /// Looks in the keyring for a sign-in kept for `user` at `server` and signs
    /// in with it. Without one the form is needed; the option is offered when
    /// a keyring answered. A token the service refuses is forgotten (note says so).
    void start(const QString &server, const QString &user);
    /// Signs in with the password; with `stay` and a keyring, then keeps a
    /// device token for the next start. Without `stay`, a sign-in kept for
    /// this account is forgotten.
    void signIn(const QString &server, const QString &user, const QString &password, bool stay);
    /// Signs out and forgets the kept sign-in: from the keyring, and from the
    /// service as far as it lets a device: its sign-in ends (the token itself
    /// lapses only when the service withdraws it).
    void signOut();

Q_SIGNALS:
    /// classroom changed.
    void classroomChanged();
    /// offered, resuming, reason or note changed.
    void changed();

private:
    void signedIn();
    void failed(const QString &message, bool refused);
    void keep(const QString &password);
    void forget();
    void setNote(const QString &note);

    QPointer<Veltro::Classroom> m_room;
    TokenStore::Account m_account;
    bool m_offered = false;
    bool m_resuming = false;
    QString m_reason;
    QString m_note;
    QString m_password;                 // until the sign-in that keeps it has answered
    QPointer<PresenterReply> m_request; // the token request
    int m_generation = 0;               // a sign-out makes late answers stale
};
