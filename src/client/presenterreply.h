// The outcome of one non-blocking call of PresenterClient, shaped like
// QNetworkReply: a finished() signal emitted once from the event loop, a
// typed error with a readable reason, and the call's result.
#pragma once

#include "learner.h"
#include "veltroclient_export.h"
#include "veltronamespace.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class PresenterClient;
class PresenterCollab;
class PresenterReplyPrivate;

/// The result of one non-blocking call of PresenterClient (login(),
/// startSession(), requestLearners() ...).
///
/// **Reporting.** finished() is emitted exactly once, always from the event
/// loop and never inside the call that created the reply, also when the call
/// fails at once (for example requestLearners() without a session). When it
/// arrives, isFinished(), error(), errorString(), lastErrorText() and the
/// results of the call are readable.
///
/// **Ownership.** The reply belongs to the client that made it. After
/// finished() has been emitted it deletes itself (deleteLater()) unless the
/// host called setAutoDelete(false); then it stays until the host deletes it
/// or the client goes. It never outlives its client, with one exception: a
/// reply whose finished() was not yet delivered when its client is deleted
/// delivers it from the event loop afterwards (with Veltro::Error::Cancelled
/// if the call was still pending) and is deleted right after that emission.
/// A QPointer to a reply is therefore always safe, and a host that only reads
/// a reply in its finished() slot needs no bookkeeping at all.
///
/// ```
/// PresenterReply *r = client->login(user, password);
/// connect(r, &PresenterReply::finished, this, [r] { if (r->error() != Veltro::Error::None) show(r->errorString()); });
/// ```
class VELTROCLIENT_EXPORT PresenterReply : public QObject
{
    Q_OBJECT
    /// Whether the call has ended (readable from finished() on).
    Q_PROPERTY(bool finished READ isFinished NOTIFY finished)
    /// How the call failed; Veltro::Error::None on success.
    Q_PROPERTY(Veltro::Error error READ error NOTIFY finished)
    /// Why the call failed, readable; empty on success.
    Q_PROPERTY(QString errorString READ errorString NOTIFY finished)

public:
    /// Cancels the call if it is still pending (see cancel()); emits nothing.
    ~PresenterReply() override;

    /// True once finished() has been emitted.
    bool isFinished() const;
    /// How the call failed: None on success; Cancelled after cancel(), when
    /// the client was deleted, or when a queued call it needed failed (see
    /// PresenterClient); Timeout when a request got no answer within 10 s;
    /// ConnectionRefused, HostNotFound, Tls, Proxy,
    /// ProxyAuthenticationRequired, Network for the network's failures;
    /// ResponseTooLarge; SignInRefused, RegistrationRequired, NotSignedIn,
    /// SessionMissing, SignInLost and Service for the service's answers. Each
    /// call's documentation in PresenterClient names the codes it reports.
    Veltro::Error error() const;
    /// A readable reason, never empty on failure: the service's error key
    /// when it gave one (e.g. "error.login.invalidCredentials"), else a
    /// description such as "connection refused", "host not found", "timed
    /// out", or the certificate error of a refused TLS handshake. Empty on success.
    QString errorString() const;
    /// The text PresenterClient::getLastError() returned when the call
    /// finished (null when it reported none), for hosts that keep the
    /// service's keys; errorString() is the text to show.
    QString lastErrorText() const;

    /// Whether the reply deletes itself after finished() (true by default).
    bool autoDelete() const;
    /// With false the reply stays after finished() until the host deletes it
    /// or the client is deleted. Call it before control returns to the event loop.
    void setAutoDelete(bool on);

    /// The created session's code (startSession()); null otherwise.
    QString sessionCode() const;
    /// The signed-in user id (requestUserName()); null otherwise.
    QString userName() const;
    /// The device access token (requestAccessToken(), requestOAuthAccessToken());
    /// on failure the previous token, possibly null, as the blocking calls return it.
    QString accessToken() const;
    /// The session's learners (requestLearners()); empty otherwise.
    QList<Veltro::Learner> learners() const;
    /// The uploaded resource's id (uploadResource()); null otherwise.
    QString resourceId() const;
    /// The uploaded resource's download path, relative to
    /// PresenterClient::getServer() (uploadResource()); null otherwise.
    QString downloadPath() const;
    /// The registration JSON the service asks the host to complete when the
    /// error is RegistrationRequired (loginWithOAuth(), requestOAuthAccessToken());
    /// pass it, completed, to PresenterClient::loginWithOAuth() again.
    QString registrationData() const;
    /// The live collaboration object (startCollab()), owned by the client;
    /// null on failure or once deleted. It is opening already, and every
    /// signal of it comes from the event loop after finished() has been
    /// delivered, so signals connected in a finished() slot (connected()
    /// among them) cannot be missed.
    PresenterCollab *collab() const;

public Q_SLOTS:
    /// Cancels the call: a call waiting its turn is dropped before it sends
    /// anything; a running call's network request is aborted and no further
    /// step is taken. finished() follows from the event loop with
    /// Veltro::Error::Cancelled. No effect once the call has ended.
    void cancel();

Q_SIGNALS:
    /// Emitted once when the call has ended, successfully or not, from the
    /// event loop: never inside the call that created the reply, but it can
    /// arrive inside a blocking call of PresenterClient (whose wait runs the
    /// event loop, user input excluded).
    void finished();

private:
    friend class PresenterClientPrivate;
    friend class PresenterReplyPrivate;
    explicit PresenterReply(PresenterClient *client);
    std::unique_ptr<PresenterReplyPrivate> d;
};
