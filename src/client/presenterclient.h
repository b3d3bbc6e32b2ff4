// The host's handle on the cloud classroom service: sign-in, sessions,
// learner list and resource upload over blocking JSON-over-HTTP(S) requests.
#pragma once

#include "veltroclient_export.h"
#include "learner.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

class QAuthenticator;
class QEventLoop;
class QJsonDocument;
class QNetworkAccessManager;
class QNetworkReply;
class QUrl;
class PresenterCollab;
namespace Veltro {
class LowDelayTuner;
}

/// The host's handle on the classroom service: sign-in, sessions, learners and upload, each a blocking request.
class VELTROCLIENT_EXPORT PresenterClient : public QObject
{
    Q_OBJECT

public:
    /// Creates a client for the service at `server` (one trailing "/" is dropped).
    PresenterClient(QObject *parent, QString server);
    /// Stops a created or live session (blocking) before going.
    ~PresenterClient() override;

    /// Posts to the service root with `user`/`password` for HTTP authentication
    /// challenges (empty arguments keep earlier ones). Returns false when the
    /// answer is not JSON or the service cannot be reached.
    bool checkServer(const QString &user, const QString &password);
    /// Signs in with user id and password and starts the keep-alive. Returns
    /// false when refused; getLastError() then holds the service's error key or null.
    bool doLogin(QString userId, QString password);
    /// Signs in with a device access token and starts the keep-alive. Returns false when refused.
    bool doLogin(QString userId, QString deviceId, QString deviceAccessToken);
    /// Signs in with an OAuth code; with a non-empty `registrationData` submits the
    /// completed registration instead. Returns false when refused or when the account
    /// must (still) register, in which case `registrationData` receives the registration
    /// JSON (and, after a submit, getLastError() the service's key).
    bool doLoginWithOAuth(QString provider, QString code, QString &registrationData);
    /// Obtains a device access token by user id and password. Returns the token,
    /// or the previous one (possibly null) on failure.
    QString doGetAccessToken(QString userId, QString password, QString deviceId, QString deviceName);
    /// Obtains a device access token by OAuth code; `registrationData` receives the
    /// registration JSON when the account must register. Returns the previous token on failure.
    QString doGetOAuthAccessToken(QString provider, QString code, QString deviceId, QString deviceName,
                                  QString &registrationData);
    /// Stops the keep-alive and any session, then signs out. Returns false only when
    /// the service did not confirm the sign-out.
    bool doLogout();
    /// Tells the service to keep the sign-in alive (blocking). Failures change nothing.
    void sendKeepAlive();
    /// Asks the service for the signed-in user id. Returns it, empty when not signed in,
    /// or the previous value when the service could not be reached.
    QString doGetUserName();
    /// Whether the last sign-in related answer said the user is signed in.
    bool isLoggedIn();
    /// The current service address (moved by followed redirects).
    QString getServer();
    /// Sets the application version sent at session start (default "3.0.0").
    void setHostAppVersion(QString version);
    /// The last error text; null when the last operation reported none.
    QString getLastError();
    /// Largest answer body accepted, in bytes (after gzip inflation; default 4 MiB).
    /// A longer answer is aborted and its request fails with "ResponseTooLarge" in getLastError().
    void setMaxResponseSize(qint64 bytes);

    /// Creates a classroom session, signing in again first when needed. Returns
    /// false when not signed in or when the service refused; the code is then null.
    bool doStartSession();
    /// As doStartSession(); `name` is not sent.
    bool doStartSession(QString name);
    /// Starts the created session live and opens a collaboration object on it, stored
    /// through `collab` (owned by this client). Returns false, creating nothing, when
    /// there is no collaboration URL ("CollabServerUrlMissing" in getLastError()), the
    /// start was refused (the service's error key) or no session token was issued
    /// ("SessionTokenMissing").
    /// An earlier collaboration object's connection ends quietly (no goodbye to
    /// the devices, no signal); it stays for the host to delete.
    bool startWebsocket(PresenterCollab **collab);
    /// Requests the session's learner list (read it with getLearners()). Returns
    /// false without a request when no session is live.
    bool doGetLearners();
    /// The learners of the last successful learner-list answer.
    QList<Veltro::Learner> getLearners() const;
    /// Closes the collaboration object and stops the live session. Returns false
    /// without a request when no session is live.
    bool doStopSession();
    /// Code of the created session, or null.
    QString getSessionCode();
    /// Token of the live session, or null.
    QString getSessionToken();
    /// Transport names to use instead of the service's list at the next startWebsocket
    /// (an empty list restores the service's choice).
    void setSockJSOverrideProtocols(QStringList protocols);

    /// Uploads `data` as file `fileName`. Returns true and stores the resource id and
    /// its download path (relative to getServer()) through the out-parameters; returns
    /// false and leaves them untouched on failure.
    bool doUploadResource(QString fileName, QByteArray data, QString *resourceId, QString *downloadPath);

    /// Restores an event-bus payload from its Base64 form. Returns false and leaves
    /// `*out` untouched when the input is not a valid payload.
    bool LzmaDecompress64(QString in, QString *out);

Q_SIGNALS:
    /// Emitted once for every completed reply, after its handler has run.
    void requestProcessed();

protected Q_SLOTS:
    /// Handles a finished reply: follows a redirect or runs the request's answer handler.
    void slotRequestFinished(QNetworkReply *reply);
    /// Sends the keep-alive request.
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
    /// Signs in again with the remembered credentials, if any.
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

    /// Test seam: the keep-alive timer (its interval may be shortened).
    QTimer *keepAliveTimer() { return &pingTimer; }

private:
    struct RequestCallbacks
    {
        SuccessHandler success = nullptr;
        FailureHandler failure = nullptr;
        bool *finished = nullptr; // set by completion so the waiting doRequest knows its reply is done
        QEventLoop *waiter = nullptr; // the event loop of that doRequest, ended by completion
    };

    bool isErrorInErrorMsgKeys(const QVariant &response, QString &error);
    bool parseAnswer(const QString &body, QJsonDocument *doc) const;
    void limitResponseSize(QNetworkReply *reply);
    void commonFailure(const QString &body);
    QUrl serviceUrl(const QString &path) const;
    void completeRequest(QNetworkReply *reply);

    static const int PING_TIMER;
    static const int NETREQUEST_TIMEOUT;
    static const QString MULTIPART_BOUNDARY;
    static const qint64 DEFAULT_MAX_RESPONSE_SIZE;

    QTimer pingTimer;
    bool loggedIn = false;
    bool serverReachable = false;
    QString sessionCode;
    QString deviceAccessToken;
    QString collabServerUrl;
    QString hostAppVersion;
    QStringList sockJSProtocols;
    QStringList sockJSOverrideProtocols;
    QString sessionToken;
    QString userToken;
    QString server;
    QList<Veltro::Learner> learners;
    QNetworkAccessManager *networkAccessManager = nullptr;
    Veltro::LowDelayTuner *lowDelay = nullptr; // Qt 5: keeps the manager's requests from waiting on Nagle
    QHash<QNetworkReply *, RequestCallbacks> pendingRequests;
    QPointer<PresenterCollab> collab; // guarded: a host that deletes it anyway must not crash the stop
    QString userId;
    QString password;
    QString deviceId;
    QString loginDeviceAccessToken;
    QString oauthProvider;
    QString oauthCode;
    QString registrationData;
    QString resourceId;
    QString lastError;
    QString authUser;
    QString authPassword;
    QString loginUserId;                 // user id of the last sign-in call, for reLogin
    QString uploadBoundary;              // MULTIPART_BOUNDARY unless the file contains it
    bool submittingRegistration = false; // a registration submit is waiting for its answer
    qint64 maxResponseSize = DEFAULT_MAX_RESPONSE_SIZE;
    QByteArray answerBytes;              // the answer being handled, for parseAnswer
};
