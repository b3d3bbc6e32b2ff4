// The host's handle on the cloud classroom service: sign-in, sessions,
// learner list and resource upload over JSON-over-HTTP(S) requests, each
// operation in a non-blocking form (a PresenterReply) and a blocking one.
#pragma once

#include "veltroclient_export.h"
#include "veltronamespace.h"
#include "learner.h"

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QSsl>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class QAuthenticator;
class QNetworkReply;
class QUrl;
class PresenterCollab;
class PresenterReply;
class PresenterClientPrivate;

/// The host's handle on the classroom service: sign-in, sessions, learners and upload.
///
/// **Two forms of every operation.** The non-blocking form (login(),
/// startSession(), startCollab(), requestLearners() ...) returns a
/// PresenterReply at once; its finished() signal reports the outcome once,
/// from the event loop. The blocking form (doLogin(), doStartSession(),
/// startWebsocket(), doGetLearners() ...) starts the same call and waits for
/// its reply in a local event loop that excludes user input, then returns
/// the value it always returned; lastErrorCode() gives the typed reason.
/// A window should use the non-blocking form; a command-line tool or a
/// script thread may block. While a blocking call waits, timers, network
/// replies and queued signals run, so the host's slots can run inside it
/// (each signal below says whether it can arrive inside a blocking call).
///
/// **Several calls at once.** Calls that change or read the sign-in or the
/// session (requestServerCheck(), login(), loginWithOAuth(),
/// requestAccessToken(), requestOAuthAccessToken(), requestUserName(),
/// logout(), startSession(), startCollab(), stopSession(), and their blocking
/// forms) wait their turn in one queue and run one after the other, in the
/// order they were made: a startSession() made right after a login() runs
/// once the sign-in has answered, and a stopSession() made right after a
/// startCollab() ends the connection that call opened. A call's end never
/// starts the next one inside itself: the next queued call starts from the
/// event loop, after the ended call's finished() has been delivered. Calls
/// that depend on nothing but the live session (requestLearners(),
/// uploadResource(), and the keep-alive) run at once, side by side with each
/// other and with the queued call. Every request is bounded by 10 s.
///
/// **Calls that needed a failed one.** When a sign-in (login(),
/// loginWithOAuth()) ends without success, the startSession() calls queued
/// behind it end with Veltro::Error::Cancelled instead of trying (the host
/// hears the reason once, from the sign-in); likewise a startCollab() queued
/// behind a startSession() that created no session. Such a reply's
/// errorString() begins with "cancelled: ".
///
/// **State.** The client keeps the sign-in (isLoggedIn()) and the session
/// (getSessionCode(), getSessionToken()) and says when they change
/// (signedInChanged(), sessionChanged()). A service that no longer knows the
/// sign-in (it answers a request of a signed-in client with HTTP status 401:
/// restarted, or the sign-in expired) is reported once by signInLost(); the
/// client is then signed out and holds no session, and the call whose answer
/// revealed it fails with Veltro::Error::SignInLost.
///
/// **Cancelling.** PresenterReply::cancel() drops a queued call, or aborts
/// the running one's request; it finishes with Veltro::Error::Cancelled.
/// Deleting the client cancels every pending call: their finished() follows
/// from the event loop after the client is gone, and no host code runs
/// inside the destructor.
///
/// **Settings a host makes once.** The TLS configuration, accepted
/// certificate errors, the proxy and the defaults of the live connection
/// (reconnection, dead-link limit, frame bound) are set on the client before
/// the first call; they reach every REST request and every transport of each
/// collaboration object the client creates from then on.
class VELTROCLIENT_EXPORT PresenterClient : public QObject
{
    Q_OBJECT

public:
    /// Creates a client for the service at `server` (one trailing "/" is dropped).
    PresenterClient(QObject *parent, QString server);
    /// Cancels every pending call (their finished() follows from the event
    /// loop) and, with a live session, lets the collaboration object say
    /// goodbye to the devices and sends the service's session stop. Runs no
    /// event loop and no host code: the stop is one plain HTTP/1.1 POST with
    /// the client's cookies, TLS configuration and proxy, driven by bounded
    /// socket waits (about 2 s in all), best-effort and unanswered. It is
    /// skipped when it cannot apply: no live session, a server address that
    /// is neither http nor https, https without TLS support in this Qt, or a
    /// proxy of a kind a plain socket cannot use (a caching-only proxy). A
    /// proxy that asks for credentials gets only those already given (in the
    /// proxy or through proxyAuthenticationRequired() earlier); nobody is
    /// asked now. Safe while the application object itself is being destroyed.
    ~PresenterClient() override;

    // ---- non-blocking operations ------------------------------------------

    /// Posts to the service root, with `user`/`password` for HTTP
    /// authentication challenges (empty arguments keep earlier ones). Queued.
    /// Succeeds when the service answers with JSON; otherwise the network's
    /// reason, or Service when the answer is not JSON.
    PresenterReply *requestServerCheck(const QString &user = QString(), const QString &password = QString());
    /// Signs in with user id and password and starts the keep-alive. Queued.
    /// SignInRefused when the service refuses (errorString() is its key when
    /// it gave one, which getLastError() also holds), or the network's reason.
    PresenterReply *login(const QString &userId, const QString &password);
    /// Signs in with a device access token and starts the keep-alive. Queued;
    /// reports as login(userId, password).
    PresenterReply *login(const QString &userId, const QString &deviceId, const QString &deviceAccessToken);
    /// Signs in with an OAuth code and starts the keep-alive. Queued. With an
    /// empty `registrationData` this is the first attempt; when the account
    /// must register, the reply fails with RegistrationRequired and carries
    /// the registration JSON (PresenterReply::registrationData()); the host
    /// completes it and calls again with it, which submits the registration.
    /// SignInRefused or the network's reason otherwise.
    PresenterReply *loginWithOAuth(const QString &provider, const QString &code,
                                   const QString &registrationData = QString());
    /// Obtains a device access token by user id and password (remembered for
    /// a later re-sign-in). Queued. The token is in
    /// PresenterReply::accessToken(); SignInRefused when none was issued
    /// (errorString() is the service's key when it gave one), or the
    /// network's reason. getLastError() is not changed.
    PresenterReply *requestAccessToken(const QString &userId, const QString &password, const QString &deviceId,
                                       const QString &deviceName);
    /// Obtains a device access token by OAuth code. Queued. As
    /// requestAccessToken(); RegistrationRequired, with the registration
    /// JSON, when the account must register first.
    PresenterReply *requestOAuthAccessToken(const QString &provider, const QString &code, const QString &deviceId,
                                            const QString &deviceName);
    /// Stops the keep-alive and a live session (as stopSession()), then signs
    /// out when signed in. Queued. Succeeds when not signed in afterwards;
    /// otherwise the network's reason, or Service when the answer is not JSON.
    PresenterReply *logout();
    /// Asks the service for the signed-in user id (PresenterReply::userName()).
    /// Queued. NotSignedIn when the service knows no sign-in (the name is
    /// then empty); the network's reason when it could not be asked.
    PresenterReply *requestUserName();
    /// Creates a classroom session (PresenterReply::sessionCode()), first
    /// stopping the session the client still holds (as stopSession(), e.g.
    /// one whose live connection gave up), then asking for the user and
    /// signing in again with the remembered credentials when the sign-in
    /// lapsed. Queued. NotSignedIn when no sign-in could be made; Service (the
    /// service's key in errorString()) when the service refused; Cancelled
    /// when a sign-in queued before it failed; or the network's reason.
    PresenterReply *startSession();
    /// Starts the created session live: fetches the collaboration server URL
    /// and the tenant's transports, starts the session, joins it as the
    /// presenter and creates a collaboration object (PresenterReply::collab(),
    /// owned by this client) with this client's connection defaults, and
    /// opens it. Its signals come from the event loop after the reply's
    /// finished() has been delivered, so the host connects them in its
    /// finished() slot and misses nothing.
    /// Queued. Service when there is no collaboration URL (getLastError()
    /// "CollabServerUrlMissing"), the start was refused (the service's key) or
    /// no session token was issued ("SessionTokenMissing"); Cancelled when a
    /// startSession() queued before it created no session; or the network's
    /// reason. An earlier collaboration object's connection ends quietly: no
    /// goodbye to the devices and no connectionClosed(), but its state becomes
    /// Closed (stateChanged(), from the event loop); it stays for the host to
    /// delete.
    PresenterReply *startCollab();
    /// Requests the live session's learner list (PresenterReply::learners(),
    /// also getLearners() afterwards). Runs at once, beside other calls.
    /// SessionMissing without a live session (nothing is sent); Service when
    /// the answer carries no list; or the network's reason.
    PresenterReply *requestLearners();
    /// Closes the collaboration object, waits for its goodbye to leave (until
    /// connectionClosed(), at most 3 s once what was published before it has
    /// been compressed, and only when a connection is open), tells the
    /// service to stop the session and forgets it. Queued. Neither this nor
    /// logout() waits on the caller's thread: a large card still being
    /// compressed goes out, then the goodbye, from the event loop.
    /// SessionMissing without a live session (nothing is sent). The session
    /// is forgotten even when the stop request fails; the reply then carries
    /// the network's reason (the blocking doStopSession() still returns true).
    PresenterReply *stopSession();
    /// Uploads `data` as file `fileName` (PresenterReply::resourceId() and
    /// downloadPath()). Runs at once, beside other calls. Service when the
    /// answer carries no id, or the network's reason.
    PresenterReply *uploadResource(const QString &fileName, const QByteArray &data);

    // ---- blocking operations ----------------------------------------------

    /// Blocking requestServerCheck(). Returns false when the answer is not
    /// JSON or the service cannot be reached.
    bool checkServer(const QString &user, const QString &password);
    /// Blocking login(). Returns false when refused; getLastError() then
    /// holds the service's error key or null.
    bool doLogin(QString userId, QString password);
    /// Blocking login() with a device access token. Returns false when refused.
    bool doLogin(QString userId, QString deviceId, QString deviceAccessToken);
    /// Blocking loginWithOAuth(). Returns false when refused or when the
    /// account must (still) register, in which case `registrationData`
    /// receives the registration JSON (and, after a submit, getLastError()
    /// the service's key).
    bool doLoginWithOAuth(QString provider, QString code, QString &registrationData);
    /// Blocking requestAccessToken(). Returns the token, or the previous one
    /// (possibly null) on failure.
    QString doGetAccessToken(QString userId, QString password, QString deviceId, QString deviceName);
    /// Blocking requestOAuthAccessToken(); `registrationData` receives the
    /// registration JSON when the account must register. Returns the previous
    /// token on failure.
    QString doGetOAuthAccessToken(QString provider, QString code, QString deviceId, QString deviceName,
                                  QString &registrationData);
    /// Blocking logout(). Returns false only when the service did not confirm
    /// the sign-out, or when the client was deleted during the wait.
    bool doLogout();
    /// Tells the service to keep the sign-in alive, and waits. Failures change
    /// nothing. (The keep-alive timer sends it without waiting.)
    void sendKeepAlive();
    /// Blocking requestUserName(). Returns the user id, empty when not signed
    /// in, or the previous value when the service could not be reached.
    QString doGetUserName();
    /// Whether the last sign-in related answer said the user is signed in
    /// (false again after signInLost()).
    bool isLoggedIn();
    /// The user id of the sign-in; empty when not signed in, or not known yet
    /// (an OAuth sign-in before requestUserName()).
    QString signedInUser() const;
    /// The current service address (moved by followed redirects).
    QString getServer();
    /// Sets the application version sent at session start (default "3.0.0").
    void setHostAppVersion(QString version);
    /// The last error text; null when the last operation reported none. A
    /// text the library sets itself ("CollabServerUrlMissing",
    /// "SessionTokenMissing", "ResponseTooLarge", "SSLRootCertificateMissing")
    /// is cleared when the next call starts.
    QString getLastError();
    /// How the last blocking operation failed (Veltro::Error::None when it
    /// did not); the non-blocking calls report through their reply.
    Veltro::Error lastErrorCode() const;
    /// Largest answer body accepted, in bytes (after gzip inflation; default 4 MiB).
    /// A longer answer is aborted and its request fails with "ResponseTooLarge" in getLastError().
    void setMaxResponseSize(qint64 bytes);

    /// Blocking startSession(). Returns false when not signed in or when the
    /// service refused; the code is then null.
    bool doStartSession();
    /// As doStartSession(); `name` is not sent.
    bool doStartSession(QString name);
    /// Blocking startCollab(): the collaboration object is stored through
    /// `collab` (owned by this client) and opened before this returns; its
    /// connected() and every other signal come from the event loop later.
    /// Returns false, creating nothing, when there is no collaboration URL
    /// ("CollabServerUrlMissing" in getLastError()), the start was refused
    /// (the service's error key) or no session token was issued ("SessionTokenMissing").
    bool startWebsocket(PresenterCollab **collab);
    /// Blocking requestLearners() (read the list with getLearners()). Returns
    /// false without a request when no session is live; true when the request
    /// was made, whatever its answer.
    bool doGetLearners();
    /// The learners of the last successful learner-list answer.
    QList<Veltro::Learner> getLearners() const;
    /// Blocking stopSession(). Returns false without a request when no
    /// session is live, or when the client was deleted during the wait.
    bool doStopSession();
    /// Code of the created session, or null.
    QString getSessionCode();
    /// Token of the live session, or null.
    QString getSessionToken();
    /// Transport names to use instead of the service's list at the next startWebsocket
    /// (an empty list restores the service's choice).
    void setSockJSOverrideProtocols(QStringList protocols);

    /// Blocking uploadResource(). Returns true and stores the resource id and
    /// its download path (relative to getServer()) through the out-parameters;
    /// returns false and leaves them untouched on failure.
    bool doUploadResource(QString fileName, QByteArray data, QString *resourceId, QString *downloadPath);

    /// Restores an event-bus payload from its Base64 form. Returns false and leaves
    /// `*out` untouched when the input is not a valid payload.
    bool LzmaDecompress64(QString in, QString *out);

    // ---- settings a host makes once ---------------------------------------

    /// TLS configuration of every REST request and every transport of the
    /// collaboration objects created from now on. Until set, Qt's default
    /// configuration as it stands when each connection opens.
    void setSslConfiguration(const QSslConfiguration &configuration);
    /// The TLS configuration connections opened now use.
    QSslConfiguration sslConfiguration() const;
    /// Trusts `certificates` (a school's own certificate authority) in
    /// addition to those of sslConfiguration().
    void addCaCertificates(const QList<QSslCertificate> &certificates);
    /// Trusts the certificates read from the file `path` (PEM by default).
    /// Returns false, changing nothing, when the file holds none.
    bool addCaCertificates(const QString &path, QSsl::EncodingFormat format = QSsl::Pem);
    /// Accepts exactly these certificate errors (kind and certificate both
    /// match) in every later TLS handshake of every transport: REST, WebSocket
    /// and both XHR sockets. Adds to the errors accepted before. The handshake
    /// that reported them has failed already; the next attempt succeeds.
    /// Nothing is ever accepted otherwise.
    void ignoreSslErrors(const QList<QSslError> &errors);
    /// Proxy of every REST request and every transport opened from now on.
    /// Until set, the application's proxy (or the system's) as before.
    /// Credentials in `proxy` are offered first.
    void setProxy(const QNetworkProxy &proxy);
    /// The proxy set with setProxy(), or QNetworkProxy::DefaultProxy when none was.
    QNetworkProxy proxy() const;

    /// Default of PresenterCollab::setAutoReconnect() for each collaboration
    /// object created from now on, so that the first open is covered too (default off).
    void setAutoReconnect(bool on);
    /// The default set with setAutoReconnect().
    bool autoReconnect() const;
    /// Default of PresenterCollab::setReconnectDelays() (500, 30000).
    void setReconnectDelays(int initialMs, int maxMs);
    /// Default of PresenterCollab::setReconnectLimits() (0, 1800000).
    void setReconnectLimits(int maxAttempts, int maxTotalMs);
    /// Default of PresenterCollab::setDeadLinkLimit() (60000).
    void setDeadLinkLimit(int ms);
    /// Default of PresenterCollab::setMaxIncomingFrameSize() (8 MiB).
    void setMaxIncomingFrameSize(qint64 bytes);

Q_SIGNALS:
    /// Emitted once for every completed reply, after its handler has run.
    /// From the event loop; can arrive inside a blocking call, and inside
    /// PresenterReply::cancel(), whose aborted request completes at once.
    void requestProcessed();
    /// A TLS handshake of REST or of any transport of this client's
    /// collaboration objects was refused for `errors`; `chain` is the peer's
    /// certificate chain. The connection has failed; to accept exactly these
    /// errors from now on, pass them to ignoreSslErrors(). From the event
    /// loop, while the network layer waits for the slot; can arrive inside a
    /// blocking call. Make no blocking call from its slot.
    void sslErrors(const QList<QSslError> &errors, const QList<QSslCertificate> &chain);
    /// A proxy asks for credentials, for REST or any transport, and none are
    /// known (or it refused those given). Fill `authenticator` in a directly
    /// connected slot; leaving it empty lets the connection fail with
    /// Veltro::Error::ProxyAuthenticationRequired. Asked once per proxy:
    /// the credentials given are remembered for every later connection.
    /// From the event loop, while the connection waits for the slot; can
    /// arrive inside a blocking call. Make no blocking call from its slot.
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    /// isLoggedIn() changed to `signedIn`: a sign-in or sign-out answered, the
    /// user-name query found no sign-in, or signInLost(). Emitted when the
    /// answer that changed it is handled, before the call's finished(); from
    /// the event loop; can arrive inside a blocking call, and inside
    /// PresenterReply::cancel(), whose aborted request completes at once.
    void signedInChanged(bool signedIn);
    /// getSessionCode() or getSessionToken() changed: a session was created,
    /// started, stopped or forgotten. Arrives as signedInChanged() does, after it.
    void sessionChanged();
    /// The service answered a request of this signed-in client with HTTP
    /// status 401: it no longer knows the sign-in (it was restarted, or the
    /// sign-in expired), and a session held is gone with it. The client is
    /// signed out and holds no session (signedInChanged(false) and
    /// sessionChanged() came just before), the keep-alive has stopped and the
    /// live collaboration object has been closed (its devices told). Sign in
    /// and start a session again; learners join the new code. Once per loss;
    /// arrives as signedInChanged() does. A call whose answer revealed the
    /// loss fails with Veltro::Error::SignInLost; the keep-alive reveals it too.
    void signInLost();

protected Q_SLOTS:
    /// Handles a finished reply: follows a redirect or runs the request's answer handler.
    void slotRequestFinished(QNetworkReply *reply);
    /// Sends the keep-alive request (without waiting for it).
    void onPingTimer();
    /// Logs the certificate chain of a TLS error (diagnosis only).
    void slotSslErrors(QNetworkReply *reply, QList<QSslError> errors);
    /// Answers an HTTP authentication challenge with the credentials of checkServer().
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

protected:
    /// Handles the body of a successful answer.
    using SuccessHandler = void (PresenterClient::*)(QString body);
    /// Handles a failed reply and its body.
    using FailureHandler = void (PresenterClient::*)(QNetworkReply *reply, QString body);

    /// Posts `body` to `url`; with `wait` blocks (user input excluded) until this
    /// request's own reply is handled or NETREQUEST_TIMEOUT ms pass, then aborts it.
    void doRequest(bool wait, const QUrl &url, const QByteArray &body, SuccessHandler success,
                   FailureHandler failure, bool multipart);
    /// As above, with a text body and the common failure handling.
    void doRequest(bool wait, const QUrl &url, const QString &body, SuccessHandler success);
    /// As above, with a text body.
    void doRequest(bool wait, const QUrl &url, const QString &body, SuccessHandler success,
                   FailureHandler failure, bool multipart);

    /// One text part of the upload body followed by its delimiter.
    QString addMultipartValue(QString name, QString value, bool last);
    /// Signs in again with the remembered credentials, if any, and waits.
    void reLogin();

    // Answer handlers.
    /// Notes that the service answered checkServer().
    void serverCheckResponse(QString body);
    /// Reads a sign-in answer: signed in when its first info key says "success".
    void loginSuccessResponse(QString body);
    /// Reads a refused sign-in: the error key goes to getLastError().
    void loginFailureResponse(QNetworkReply *reply, QString body);
    /// Reads a refused session request: the error key goes to getLastError().
    void sessionFailureResponse(QNetworkReply *reply, QString body);
    /// Reads a refused session start: the error key goes to getLastError().
    void sessionStartFailureResponse(QNetworkReply *reply, QString body);
    /// Reads the sign-out answer.
    void logoutResponse(QString body);
    /// Reads "data"."deviceAccessToken".
    void getDeviceAccessTokenResponse(QString body);
    /// Reads "data"."userLoginId".
    void userNameResponse(QString body);
    /// Reads "data"."sessionCode".
    void sessionSuccessResponse(QString body);
    /// Reads "data"."url", the collaboration server.
    void getCollabUrlResponse(QString body);
    /// Reads "data"."sockJSProtocols", the tenant's transports.
    void getTenantFeatureDetailsResponse(QString body);
    /// Reads "data"."sessionToken".
    void sessionStartSuccessResponse(QString body);
    /// Reads "data"."userToken", the presenter's token.
    void sessionJoinResponse(QString body);
    /// Reads "data"."users" into getLearners().
    void getLearnersResponse(QString body);
    /// Reads "data"."id", the uploaded resource.
    void uploadResourceResponse(QString body);

private:
    friend class PresenterClientPrivate;

    bool isErrorInErrorMsgKeys(const QVariant &response, QString &error);

    static const int PING_TIMER;
    static const int NETREQUEST_TIMEOUT;
    static const QString MULTIPART_BOUNDARY;

    std::unique_ptr<PresenterClientPrivate> d;
};
