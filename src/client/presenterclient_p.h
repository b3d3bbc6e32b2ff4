// Private side of PresenterClient: its state, the call engine that runs its
// requests and calls, and what the library's own classes and the tests do
// with a client beyond its installed interface. Not installed.
#pragma once

#include "presenterclient.h"
#include "callengine_p.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QEventLoop;
class QJsonDocument;
class QNetworkAccessManager;
namespace Veltro {
class LowDelayTuner;
class NetworkHub;
}

class PresenterClientPrivate
{
public:
    using SuccessHandler = PresenterClient::SuccessHandler;
    using FailureHandler = PresenterClient::FailureHandler;
    using RequestOutcome = Veltro::RequestOutcome;
    using Continuation = Veltro::Continuation;
    using Answer = Veltro::Answer;

    struct RequestCallbacks
    {
        SuccessHandler success = nullptr;
        FailureHandler failure = nullptr;
        bool *finished = nullptr;       // set by completion so the waiting doRequest knows its reply is done
        QEventLoop *waiter = nullptr;   // the event loop of that doRequest, ended by completion
        PresenterReply *call = nullptr; // the call this request is a step of
        Continuation then;              // the call's next step
        QTimer *bound = nullptr;        // aborts the request after requestBoundMs
        bool timedOut = false;
        bool cancelled = false;
        bool registrationSubmit = false; // an OAuth registration submit (read by loginSuccessResponse)
        QString tlsText;                 // the refused handshake's errors
    };

    static PresenterClientPrivate *get(PresenterClient *c) { return c->d.get(); }

    PresenterClientPrivate(PresenterClient *q, const QString &server);

    /// Queues a change of the service address, in order with the client's
    /// other queued calls. When its turn comes while the client is signed out
    /// and holds no session, the address (one trailing "/" dropped) is taken
    /// for every later request and the reply succeeds; otherwise nothing
    /// changes and the reply ends Cancelled. Everything the host set on or
    /// connected to the client stays.
    PresenterReply *setServer(const QString &server);
    /// The TLS, proxy and connection settings every transport of the client
    /// reads, and the hub that asks the host for what they lack.
    Veltro::NetworkHub *networkHub() const { return hub; }

    // ---- call engine (callengine.cpp) --------------------------------------
    QUrl serviceUrl(const QString &path) const;
    QNetworkReply *sendRequest(const QUrl &url, const QByteArray &body, SuccessHandler success,
                               FailureHandler failure, bool multipart, PresenterReply *call, Continuation then);
    void requestFinished(QNetworkReply *reply);
    void completeRequest(QNetworkReply *reply, const RequestOutcome &outcome);
    void outcomeOf(QNetworkReply *reply, const RequestCallbacks &callbacks, bool tooLarge, const QByteArray &body,
                   RequestOutcome *out) const;
    void limitResponseSize(QNetworkReply *reply);
    bool parseAnswer(const QString &body, QJsonDocument *doc) const;
    void lookUpForTeardown(const QUrl &url);
    /// The answer the handler now running reads into: the request's own.
    Answer &answer() { return answering ? *answering : scratch; }
    void setOwnError(const QString &text);
    void setServiceError(const QString &text);
    void commonFailure(const QString &body);

    PresenterReply *newCall(bool serial, std::function<void(PresenterReply *)> begin, int needs = 0,
                            int provides = 0);
    void startCall(PresenterReply *call);
    void startNextSerial();
    void cancelDependents(int missing);
    void loseSignIn();
    void step(PresenterReply *call, const QString &path, const QByteArray &body, SuccessHandler success,
              FailureHandler failure, bool multipart, Continuation then);
    void finishCall(PresenterReply *call, Veltro::Error error, const QString &text = QString());
    void failCall(PresenterReply *call, const RequestOutcome &outcome, Veltro::Error error,
                  const QString &text = QString());
    void cancelCall(PresenterReply *call);
    void forgetCall(PresenterReply *call);
    std::unique_ptr<PresenterReply> waitFor(PresenterReply *call);
    static bool failedRequest(const RequestOutcome &outcome);

    // ---- sign-in (signin.cpp) ----------------------------------------------
    void signInStep(PresenterReply *call, const QString &path, const QString &body, bool registration,
                    Continuation then);
    void signInOutcome(PresenterReply *call, const RequestOutcome &outcome);
    void passwordSignIn(PresenterReply *call, const QString &user, const QString &pass, Continuation then);
    void deviceSignIn(PresenterReply *call, const QString &user, const QString &device, const QString &token,
                      Continuation then);
    void oauthSignIn(PresenterReply *call, const QString &provider, const QString &code, const QString &regData,
                     Continuation then);
    void tokenOutcome(PresenterReply *call, const RequestOutcome &outcome);
    void reLoginStep(PresenterReply *call, std::function<void(const RequestOutcome *)> then);
    QString oauthPath(const QString &provider) const;
    QString callbackUrl(const QString &provider) const;

    // ---- sessions and upload (sessions.cpp) --------------------------------
    void stopStep(PresenterReply *call, Continuation then);
    void startCollabSession(PresenterReply *call, const QString &url);
    void openCollab(PresenterReply *call, const QString &url, const QString &token, const QString &presenterToken);
    void stopSessionAtTeardown();
    /// Reads member `key` of the answer's "data" into `field` and into the request's own answer.
    void readData(const QString &body, const char *key, QString *field, QString Answer::*own);
    QByteArray uploadBody(const QString &fileName, const QByteArray &data);

    static const qint64 DEFAULT_MAX_RESPONSE_SIZE;

    PresenterClient *q;

    QTimer pingTimer; // test hook: its interval may be shortened
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
    Veltro::LowDelayTuner *lowDelay = nullptr; // keeps the manager's requests from waiting on Nagle
    Veltro::NetworkHub *hub = nullptr;         // TLS, proxy and connection settings; asks the host
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
    bool submittingRegistration = false; // a registration submit is being answered
    bool ownError = false;               // lastError is a text of the library's own, not the service's
    qint64 maxResponseSize = DEFAULT_MAX_RESPONSE_SIZE;
    int requestBoundMs = PresenterClient::NETREQUEST_TIMEOUT; // test hook: may be shortened
    Veltro::Error lastCode = Veltro::Error::None;
    QByteArray answerBytes;              // the answer being handled, for parseAnswer
    Answer *answering = nullptr;         // that answer's reading, while its handler runs
    Answer scratch;                      // where handlers of a request outside the engine read into
    QList<PresenterReply *> queuedCalls; // waiting their turn, oldest first
    PresenterReply *runningCall = nullptr; // the queued call whose turn it is
    QList<PresenterReply *> sideCalls;   // running beside the queue
};
