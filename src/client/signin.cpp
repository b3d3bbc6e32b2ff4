// PresenterClient's sign-in: the server check, the four sign-in flows, device
// access tokens, sign-out, the user query and the keep-alive. Each call
// decides from the answer of its own request.
#include "presenterclient.h"
#include "presenterclient_p.h"

#include "clientbodies_p.h"
#include "presenterreply.h"
#include "presenterreply_p.h"
#include "registration_p.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QUrl>

using Veltro::fillBody;
using Veltro::RequestOutcome;

PresenterReply *PresenterClient::requestServerCheck(const QString &user, const QString &pass)
{
    return d->newCall(true, [this, user, pass](PresenterReply *call) {
        if (!user.isEmpty())
            d->authUser = user;
        if (!pass.isEmpty())
            d->authPassword = pass;
        d->lastError = QString();
        d->ownError = false;
        d->serverReachable = false;
        d->step(call, QStringLiteral("/quorvane"), QByteArray(), &PresenterClient::serverCheckResponse, nullptr, false,
                [this, call](const RequestOutcome &o) {
                    if (o.redirected || o.answer.json)
                        return d->finishCall(call, Veltro::Error::None);
                    d->failCall(call, o, Veltro::Error::Service, QStringLiteral("the service's answer is not JSON"));
                });
    });
}

bool PresenterClient::checkServer(const QString &user, const QString &pass)
{
    const auto reply = d->waitFor(requestServerCheck(user, pass));
    return reply && reply->error() == Veltro::Error::None;
}

void PresenterClient::serverCheckResponse(QString body)
{
    QJsonDocument doc;
    d->serverReachable = d->parseAnswer(body, &doc);
    d->answer().json = d->serverReachable;
}

void PresenterClientPrivate::signInStep(PresenterReply *call, const QString &path, const QString &body,
                                        bool registration, Continuation then)
{
    lastError = QString();
    ownError = false;
    step(call, path, body.toUtf8(), &PresenterClient::loginSuccessResponse, &PresenterClient::loginFailureResponse,
         false, [this, then](const RequestOutcome &o) {
             if (o.answer.signedIn)
                 pingTimer.start(PresenterClient::PING_TIMER);
             then(o);
         });
    pendingRequests[PresenterReplyPrivate::get(call)->request].registrationSubmit = registration;
}

void PresenterClientPrivate::signInOutcome(PresenterReply *call, const RequestOutcome &o)
{
    if (o.answer.signedIn)
        return finishCall(call, Veltro::Error::None);
    PresenterReplyPrivate::get(call)->registrationData = o.answer.registrationData;
    if (o.answer.registrationAsked)
        return finishCall(call, Veltro::Error::RegistrationRequired, o.answer.serviceError);
    failCall(call, o, Veltro::Error::SignInRefused, o.answer.serviceError);
}

void PresenterClientPrivate::passwordSignIn(PresenterReply *call, const QString &user, const QString &pass,
                                            Continuation then)
{
    userId = user;
    loginUserId = user;
    password = pass;
    signInStep(call, QStringLiteral("/quorvane/login/submit"), fillBody(Veltro::PASSWORD_LOGIN, {user, pass}), false,
               std::move(then));
}

void PresenterClientPrivate::deviceSignIn(PresenterReply *call, const QString &user, const QString &device,
                                          const QString &token, Continuation then)
{
    userId = user;
    loginUserId = user;
    deviceId = device;
    loginDeviceAccessToken = token;
    signInStep(call, QStringLiteral("/quorvane/login/submit"), fillBody(Veltro::DEVICE_LOGIN, {user, device, token}),
               false, std::move(then));
}

void PresenterClientPrivate::oauthSignIn(PresenterReply *call, const QString &provider, const QString &code,
                                         const QString &regData, Continuation then)
{
    registrationData = QString();
    oauthProvider = provider;
    oauthCode = code;
    if (regData.isEmpty()) {
        signInStep(call, oauthPath(provider), fillBody(Veltro::OAUTH_LOGIN, {code, callbackUrl(provider)}), false,
                   std::move(then));
        return;
    }
    signInStep(call, QStringLiteral("/quorvane/register/oauth/submit"), Veltro::addSourceSystemMember(regData), true,
               [this, regData, then](const RequestOutcome &o) {
                   // Asked again without new data: the host keeps what it sent, to try again.
                   RequestOutcome kept = o;
                   if ((!o.answer.serviceError.isNull() || o.transport != Veltro::Error::None)
                       && o.answer.registrationData.isNull()) {
                       registrationData = regData;
                       kept.answer.registrationData = regData;
                   }
                   then(kept);
               });
}

PresenterReply *PresenterClient::login(const QString &user, const QString &pass)
{
    return d->newCall(true, [this, user, pass](PresenterReply *call) {
        d->passwordSignIn(call, user, pass, [this, call](const RequestOutcome &o) { d->signInOutcome(call, o); });
    }, 0, PresenterReplyPrivate::SignIn);
}

PresenterReply *PresenterClient::login(const QString &user, const QString &device, const QString &token)
{
    return d->newCall(true, [this, user, device, token](PresenterReply *call) {
        d->deviceSignIn(call, user, device, token,
                        [this, call](const RequestOutcome &o) { d->signInOutcome(call, o); });
    }, 0, PresenterReplyPrivate::SignIn);
}

PresenterReply *PresenterClient::loginWithOAuth(const QString &provider, const QString &code, const QString &regData)
{
    return d->newCall(true, [this, provider, code, regData](PresenterReply *call) {
        d->oauthSignIn(call, provider, code, regData,
                       [this, call](const RequestOutcome &o) { d->signInOutcome(call, o); });
    }, 0, PresenterReplyPrivate::SignIn);
}

bool PresenterClient::doLogin(QString user, QString pass)
{
    const auto reply = d->waitFor(login(user, pass));
    return reply && reply->error() == Veltro::Error::None;
}

bool PresenterClient::doLogin(QString user, QString device, QString token)
{
    const auto reply = d->waitFor(login(user, device, token));
    return reply && reply->error() == Veltro::Error::None;
}

bool PresenterClient::doLoginWithOAuth(QString provider, QString code, QString &regData)
{
    const auto reply = d->waitFor(loginWithOAuth(provider, code, regData));
    if (!reply)
        return false;
    regData = reply->registrationData();
    return reply->error() == Veltro::Error::None;
}

void PresenterClient::loginSuccessResponse(QString body)
{
    Veltro::Answer &a = d->answer();
    d->loggedIn = false;
    QJsonDocument doc;
    if (!d->parseAnswer(body, &doc))
        return;
    a.json = true;
    const QJsonObject answer = doc.object();
    bool signedIn = false;
    QString message;
    const QJsonArray infoMsgs = answer.value(QLatin1String("infoMsgs")).toArray();
    if (!infoMsgs.isEmpty()) {
        message = infoMsgs.first().toVariant().toString();
        if (message.contains(QLatin1String("success")))
            signedIn = true;
    }
    if (!signedIn) {
        const QJsonArray infoMsgKeys = answer.value(QLatin1String("infoMsgKeys")).toArray();
        if (!infoMsgKeys.isEmpty()) {
            message = infoMsgKeys.first().toVariant().toString();
            if (message.contains(QLatin1String("success")))
                signedIn = true;
        }
    }
    // An OAuth account that must register first is not signed in; the host
    // completes the registration data and calls doLoginWithOAuth again.
    // A submit answered with the registration's own success ("registration.success")
    // is a sign-in, or a service confirming the registration would send the user
    // round for ever; one that still asks ("...success.registration...") is a failure.
    if (signedIn && !d->oauthProvider.isEmpty() && !d->oauthCode.isEmpty()
        && message.contains(QLatin1String("registration"))
        && !(d->submittingRegistration
             && message.indexOf(QLatin1String("registration")) < message.indexOf(QLatin1String("success")))) {
        signedIn = false;
        a.registrationAsked = true;
        if (d->submittingRegistration)
            d->setServiceError(message);
        const QString data = Veltro::topLevelMemberText(body, QStringLiteral("data"));
        if (!data.isNull())
            d->registrationData = data;
        a.registrationData = d->registrationData;
    }
    d->loggedIn = a.signedIn = signedIn;
}

QString PresenterClientPrivate::oauthPath(const QString &provider) const
{
    return QStringLiteral("/quorvane/login/oauth/%1/callback")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(provider)));
}

QString PresenterClientPrivate::callbackUrl(const QString &provider) const
{
    return provider == QLatin1String("facebook") ? server + QLatin1Char('/') : server;
}

void PresenterClientPrivate::tokenOutcome(PresenterReply *call, const RequestOutcome &o)
{
    PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
    c->accessToken = o.answer.tokenIssued ? o.answer.accessToken : deviceAccessToken;
    c->registrationData = o.answer.registrationAsked ? o.answer.registrationData : registrationData;
    if (failedRequest(o))
        return failCall(call, o, Veltro::Error::SignInRefused);
    if (o.answer.tokenIssued)
        return finishCall(call, Veltro::Error::None);
    if (o.answer.registrationAsked)
        return finishCall(call, Veltro::Error::RegistrationRequired);
    finishCall(call, Veltro::Error::SignInRefused, QStringLiteral("no device access token was issued"));
}

PresenterReply *PresenterClient::requestAccessToken(const QString &user, const QString &pass, const QString &device,
                                                    const QString &deviceName)
{
    return d->newCall(true, [this, user, pass, device, deviceName](PresenterReply *call) {
        d->userId = user;
        d->loginUserId = user;
        d->password = pass;
        d->step(call, QStringLiteral("/quorvane/login/submit"),
                fillBody(Veltro::ACCESS_TOKEN, {user, pass, device, deviceName}).toUtf8(),
                &PresenterClient::getDeviceAccessTokenResponse, nullptr, false,
                [this, call](const RequestOutcome &o) { d->tokenOutcome(call, o); });
    });
}

PresenterReply *PresenterClient::requestOAuthAccessToken(const QString &provider, const QString &code,
                                                         const QString &device, const QString &deviceName)
{
    return d->newCall(true, [this, provider, code, device, deviceName](PresenterReply *call) {
        d->oauthProvider = provider;
        d->oauthCode = code;
        d->step(call, d->oauthPath(provider),
                fillBody(Veltro::OAUTH_ACCESS_TOKEN, {code, d->callbackUrl(provider), device, deviceName}).toUtf8(),
                &PresenterClient::getDeviceAccessTokenResponse, nullptr, false,
                [this, call](const RequestOutcome &o) { d->tokenOutcome(call, o); });
    });
}

QString PresenterClient::doGetAccessToken(QString user, QString pass, QString device, QString deviceName)
{
    const auto reply = d->waitFor(requestAccessToken(user, pass, device, deviceName));
    return reply ? reply->accessToken() : QString();
}

QString PresenterClient::doGetOAuthAccessToken(QString provider, QString code, QString device, QString deviceName,
                                               QString &regData)
{
    const auto reply = d->waitFor(requestOAuthAccessToken(provider, code, device, deviceName));
    if (!reply)
        return QString();
    regData = reply->registrationData();
    return reply->accessToken();
}

void PresenterClient::getDeviceAccessTokenResponse(QString body)
{
    Veltro::Answer &a = d->answer();
    QJsonDocument doc;
    if (!d->parseAnswer(body, &doc))
        return;
    a.json = true;
    d->deviceAccessToken = Veltro::dataText(doc, "deviceAccessToken");
    if (d->deviceAccessToken.isEmpty()) {
        d->loggedIn = false;
        const QString data = Veltro::topLevelMemberText(body, QStringLiteral("data"));
        if (!data.isNull()) {
            d->registrationData = a.registrationData = data;
            a.registrationAsked = true;
        }
    } else {
        d->loggedIn = a.signedIn = a.tokenIssued = true;
        a.accessToken = d->deviceAccessToken;
    }
}

PresenterReply *PresenterClient::logout()
{
    return d->newCall(true, [this](PresenterReply *call) {
        d->pingTimer.stop();
        auto signOut = [this, call] {
            if (!d->loggedIn)
                return d->finishCall(call, Veltro::Error::None);
            d->step(call, QStringLiteral("/quorvane/login/logout"), QByteArray(Veltro::EMPTY_OBJECT),
                    &PresenterClient::logoutResponse, nullptr, false, [this, call](const RequestOutcome &o) {
                        if (o.answer.json)
                            return d->finishCall(call, Veltro::Error::None);
                        d->failCall(call, o, Veltro::Error::Service, QStringLiteral("the sign-out was not confirmed"));
                    });
        };
        if (!d->sessionCode.isNull() || !d->sessionToken.isNull())
            d->stopStep(call, [signOut](const RequestOutcome &) { signOut(); });
        else
            signOut();
    });
}

bool PresenterClient::doLogout()
{
    const auto reply = d->waitFor(logout());
    return reply && reply->error() == Veltro::Error::None;
}

void PresenterClient::logoutResponse(QString body)
{
    QJsonDocument doc;
    const bool signedOut = d->parseAnswer(body, &doc);
    if (signedOut)
        d->loggedIn = false;
    d->answer().json = signedOut;
}

void PresenterClientPrivate::reLoginStep(PresenterReply *call, std::function<void(const RequestOutcome *)> then)
{
    // The user-name query clears userId when the sign-in has lapsed, which is
    // exactly when this is needed, so the id given at sign-in is preferred.
    const QString id = loginUserId.isEmpty() ? userId : loginUserId;
    auto done = [then](const RequestOutcome &o) { then(&o); };
    if (id.isEmpty())
        then(nullptr);
    else if (!password.isEmpty())
        passwordSignIn(call, id, password, done);
    else if (!deviceId.isEmpty() && !loginDeviceAccessToken.isEmpty())
        deviceSignIn(call, id, deviceId, loginDeviceAccessToken, done);
    else if (!oauthProvider.isEmpty() && !oauthCode.isEmpty())
        oauthSignIn(call, oauthProvider, oauthCode, QString(), done);
    else
        then(nullptr);
}

void PresenterClient::reLogin()
{
    d->waitFor(d->newCall(true, [this](PresenterReply *call) {
        d->reLoginStep(call, [this, call](const RequestOutcome *) { d->finishCall(call, Veltro::Error::None); });
    }));
}

void PresenterClient::onPingTimer()
{
    // Not waited for: the timer may fire while the host's own call waits.
    d->sendRequest(d->serviceUrl(QStringLiteral("/quorvane/login/keepSessionAlive")), QByteArray(),
                   &PresenterClient::serverCheckResponse, nullptr, false, nullptr, nullptr);
}

void PresenterClient::sendKeepAlive()
{
    doRequest(true, d->serviceUrl(QStringLiteral("/quorvane/login/keepSessionAlive")), QString(),
              &PresenterClient::serverCheckResponse);
}

PresenterReply *PresenterClient::requestUserName()
{
    return d->newCall(true, [this](PresenterReply *call) {
        d->step(call, QStringLiteral("/quorvane/login/user"), QByteArray(Veltro::EMPTY_OBJECT),
                &PresenterClient::userNameResponse, nullptr, false, [this, call](const RequestOutcome &o) {
                    if (d->failedRequest(o)) {
                        PresenterReplyPrivate::get(call)->userName = d->userId; // the previous one
                        return d->failCall(call, o, Veltro::Error::Service);
                    }
                    PresenterReplyPrivate::get(call)->userName = o.answer.userId;
                    d->finishCall(call, o.answer.userId.isEmpty() ? Veltro::Error::NotSignedIn : Veltro::Error::None);
                });
    });
}

QString PresenterClient::doGetUserName()
{
    const auto reply = d->waitFor(requestUserName());
    return reply ? reply->userName() : QString();
}

void PresenterClient::userNameResponse(QString body)
{
    Veltro::Answer &a = d->answer();
    d->userId = QString();
    QJsonDocument doc;
    if (d->parseAnswer(body, &doc))
        d->userId = Veltro::dataText(doc, "userLoginId");
    d->loggedIn = !d->userId.isEmpty();
    a.userId = d->userId;
    a.signedIn = d->loggedIn;
}
