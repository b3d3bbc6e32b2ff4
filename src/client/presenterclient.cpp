#include "presenterclient.h"

#include "gzip.h"
#include "gzip_p.h"
#include "jsontemplate_p.h"
#include "logging_p.h"
#include "lowdelaytuner_p.h"
#include "lzmacodec.h"
#include "presentercollab.h"
#include "presentercollab_p.h"
#include "randomstring.h"
#include "registration_p.h"
#include "veltrocollabmessage.h"

#include <QAuthenticator>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

#include <cmath>

const int PresenterClient::PING_TIMER = 60000;
const int PresenterClient::NETREQUEST_TIMEOUT = 10000;
const qint64 PresenterClient::DEFAULT_MAX_RESPONSE_SIZE = qint64(4) * 1024 * 1024;
const QString PresenterClient::MULTIPART_BOUNDARY = QStringLiteral("----boundary");

namespace {

// The longest doStopSession waits for the live connection's goodbye to be read.
constexpr int STOP_GOODBYE_WAIT_MS = 3000;

// Request bodies. Values go in through Veltro::fillJsonTemplate only.
const char PASSWORD_LOGIN[] = R"({"userId":"%0","password":"%1","sourceSystem":"Nimbra"})";
const char DEVICE_LOGIN[] =
    R"({"userId":"%0","deviceId":"%1","deviceAccessToken":"%2","sourceSystem":"Nimbra"})";
const char OAUTH_LOGIN[] = R"({"code":"%0","callbackUrl":"%1","sourceSystem":"Nimbra"})";
const char ACCESS_TOKEN[] =
    R"({"userId":"%0","password":"%1","deviceId":"%2","deviceName":"%3","sourceSystem":"Nimbra"})";
const char OAUTH_ACCESS_TOKEN[] =
    R"({"code":"%0","callbackUrl":"%1","deviceId":"%2","deviceName":"%3","sourceSystem":"Nimbra"})";
const char SESSION_START[] =
    R"({"sessionCode": "%0","serverUrl":"%1","sourceSystem":"Nimbra","version":"%2"})";
const char PRESENTER_JOIN[] =
    R"({"userName":"SessionStarter","sessionCode":"%0","mode":"presenter","deviceName":"%1_SessionStarter","deviceType":"presenter"})";
const char SESSION_TOKEN_BODY[] = R"({"sessionToken":"%0"})";
const char EMPTY_OBJECT[] = "{}";

QString fill(const char *tmpl, const QStringList &values)
{
    return Veltro::fillJsonTemplate(QString::fromLatin1(tmpl), values);
}

// A REST answer for the log: the text value of every member whose name
// speaks of a token, password or secret is replaced by "***", unless the host
// turned on veltro.client.verbose. Only the part that is logged is masked; a
// value cut off at the end of it is masked as well.
QString answerForLog(const QString &body)
{
    if (lcClientVerbose().isDebugEnabled())
        return shortenedForLog(body);
    static const QRegularExpression secret(
        QStringLiteral(R"re(("[^"\\]*(?:token|password|secret)[^"\\]*"\s*:\s*)"(?:[^"\\]|\\.)*(?:"|\\?$))re"),
        QRegularExpression::CaseInsensitiveOption);
    const int max = 1024;
    QString masked = body.left(max);
    masked.replace(secret, QStringLiteral(R"(\1"***")"));
    if (body.size() > max)
        masked += QStringLiteral("... (") + QString::number(body.size()) + QStringLiteral(" characters)");
    return masked;
}

// Marks a reply aborted for its size.
const char TOO_LARGE[] = "veltroTooLarge";

// A member value as text: strings as they are (an empty string stays non-null),
// numbers in their shortest decimal form, booleans as "true"/"false", anything
// else (absent, null, object, array) null.
QString jsonText(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::String: {
        QString s = v.toString();
        if (s.isNull())
            s = QLatin1String("");
        return s;
    }
    case QJsonValue::Double: {
        const double d = v.toDouble();
        if (std::floor(d) == d && std::fabs(d) < 9007199254740992.0)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return QString();
    }
}

// Text of member `key` inside the answer's "data" object.
QString dataText(const QJsonDocument &doc, const char *key)
{
    return jsonText(doc.object().value(QLatin1String("data")).toObject().value(QLatin1String(key)));
}

// Characters that would let a file name leave its quoted header parameter are
// percent-encoded, as form submissions do; other names go out unchanged.
QString quotedFileName(const QString &fileName)
{
    QString out = fileName;
    out.replace(QLatin1Char('"'), QLatin1String("%22"));
    out.replace(QLatin1Char('\r'), QLatin1String("%0D"));
    out.replace(QLatin1Char('\n'), QLatin1String("%0A"));
    return out;
}

} // namespace

PresenterClient::PresenterClient(QObject *parent, QString serverAddress)
    : QObject(parent)
    , hostAppVersion(Veltro::VeltroCollabMessage::PROTOCOL_VERSION)
    , server(serverAddress)
    , uploadBoundary(MULTIPART_BOUNDARY)
{
    if (server.endsWith(QLatin1Char('/')))
        server.chop(1);

    networkAccessManager = new QNetworkAccessManager(this);
    // Redirects are handled by slotRequestFinished, never by the network layer.
    networkAccessManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    auto *jar = new QNetworkCookieJar(this);
    networkAccessManager->setCookieJar(jar);
    jar->setParent(this); // the manager adopts the jar; the client keeps it

    connect(networkAccessManager, &QNetworkAccessManager::finished, this, &PresenterClient::slotRequestFinished);
    connect(networkAccessManager, &QNetworkAccessManager::sslErrors, this, &PresenterClient::slotSslErrors);
    connect(networkAccessManager, &QNetworkAccessManager::authenticationRequired, this,
            &PresenterClient::authenticationRequired);
    connect(&pingTimer, &QTimer::timeout, this, &PresenterClient::onPingTimer);
    lowDelay = new Veltro::LowDelayTuner(this);
}

PresenterClient::~PresenterClient()
{
    if (!sessionCode.isNull() || !sessionToken.isNull())
        doStopSession();
    pingTimer.stop();
    // Replies torn down with the manager must not reach a half-destroyed client.
    networkAccessManager->disconnect(this);
    networkAccessManager->deleteLater();
    networkAccessManager = nullptr;
    learners.clear();
    pendingRequests.clear();
    collab = nullptr;
}

QUrl PresenterClient::serviceUrl(const QString &path) const
{
    return QUrl(server + path, QUrl::TolerantMode);
}

// ---------------------------------------------------------------------------
// Request engine

void PresenterClient::doRequest(bool wait, const QUrl &url, const QByteArray &body, SuccessHandler success,
                                FailureHandler failure, bool multipart)
{
    QNetworkRequest request(url);
    // "identity" also keeps the network layer from inflating bodies itself.
    request.setRawHeader(QByteArrayLiteral("accept-encoding"), QByteArrayLiteral("identity"));
    // HTTP/1.1 only, in both Qt builds: Qt 6 would take up HTTP/2 where a TLS
    // server offers it, Qt 5 never does, and the body and gzip paths stay as sent.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      multipart ? QString(QStringLiteral("multipart/form-data; charset=UTF-8; boundary=")
                                          + uploadBoundary)
                                : QStringLiteral("application/json; charset=UTF-8"));
    lowDelay->setEndpoint(url);
    QNetworkReply *reply = networkAccessManager->post(request, body);
    limitResponseSize(reply);

    RequestCallbacks callbacks;
    callbacks.success = success;
    callbacks.failure = failure;
    if (!wait) {
        pendingRequests.insert(reply, callbacks);
        return;
    }

    // Only this request's own completion (or its own timer) ends this wait, so a
    // nested request answered meanwhile cannot cut it short.
    bool finished = false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // a coarse timer may end the wait 5% early
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    callbacks.finished = &finished;
    callbacks.waiter = &loop;
    pendingRequests.insert(reply, callbacks);
    timer.start(NETREQUEST_TIMEOUT);
    loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (!finished) {
        // Aborting completes the reply through slotRequestFinished's failure path.
        reply->abort();
        if (!finished) {
            // Should the completion come later after all, it must not touch these locals.
            auto it = pendingRequests.find(reply);
            if (it != pendingRequests.end()) {
                it->finished = nullptr;
                it->waiter = nullptr;
            }
        }
    }
}

void PresenterClient::doRequest(bool wait, const QUrl &url, const QString &body, SuccessHandler success)
{
    doRequest(wait, url, body.toUtf8(), success, nullptr, false);
}

void PresenterClient::doRequest(bool wait, const QUrl &url, const QString &body, SuccessHandler success,
                                FailureHandler failure, bool multipart)
{
    doRequest(wait, url, body.toUtf8(), success, failure, multipart);
}

void PresenterClient::limitResponseSize(QNetworkReply *reply)
{
    // Checked as the answer arrives (its declared length first), and the reply
    // buffers no more than that, so an endless answer never fills memory.
    const qint64 cap = maxResponseSize;
    reply->setReadBufferSize(cap + 1);
    auto check = [reply, cap](qint64 received, qint64 total) {
        if ((received > cap || total > cap) && !reply->property(TOO_LARGE).toBool()) {
            reply->setProperty(TOO_LARGE, true);
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, check] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            check(0, length.toLongLong());
    });
    connect(reply, &QNetworkReply::downloadProgress, this, check);
}

void PresenterClient::setMaxResponseSize(qint64 bytes)
{
    maxResponseSize = qMax<qint64>(1, bytes);
}

bool PresenterClient::parseAnswer(const QString &body, QJsonDocument *doc) const
{
    // The answer being handled is parsed from its own bytes, without encoding
    // its text again; the text is the fallback (bytes that are not UTF-8).
    QJsonParseError error;
    if (!answerBytes.isNull()) {
        *doc = QJsonDocument::fromJson(answerBytes, &error);
        if (error.error != QJsonParseError::IllegalUTF8String)
            return error.error == QJsonParseError::NoError;
    }
    *doc = QJsonDocument::fromJson(body.toUtf8(), &error);
    return error.error == QJsonParseError::NoError;
}

void PresenterClient::completeRequest(QNetworkReply *reply)
{
    const RequestCallbacks callbacks = pendingRequests.take(reply);
    if (callbacks.finished)
        *callbacks.finished = true;
    if (callbacks.waiter)
        callbacks.waiter->quit();
    reply->deleteLater();
    emit requestProcessed();
}

void PresenterClient::slotRequestFinished(QNetworkReply *reply)
{
    // A connection the manager opened for this request now exists; later
    // requests on it must not wait on Nagle's algorithm.
    lowDelay->tune();
    QUrl target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (!target.isEmpty()) {
        target = reply->url().resolved(target); // a relative Location names the same origin
        const QString currentScheme = QUrl(server, QUrl::TolerantMode).scheme();
        if (currentScheme == target.scheme() || target.scheme() == QLatin1String("https")) {
            serverReachable = true;
            QUrl origin;
            origin.setScheme(target.scheme());
            origin.setHost(target.host());
            if (target.port() != -1 && target.port() != 80)
                origin.setPort(target.port());
            const QString newServer = origin.toString();
            if (newServer != server)
                server = newServer;
            completeRequest(reply);
            return;
        }
    }

    QByteArray raw = reply->isOpen() ? reply->readAll() : QByteArray(); // an aborted reply is closed
    bool tooLarge = reply->property(TOO_LARGE).toBool();
    if (reply->rawHeader(QByteArrayLiteral("content-encoding")) == QByteArrayLiteral("gzip")) {
        qCDebug(lcClient).noquote() << "[REST Responze.gzip] Compressed size: " << raw.size();
        bool inflatedTooLarge = false;
        raw = Veltro::gUncompressLimited(raw, maxResponseSize, &inflatedTooLarge);
        tooLarge = tooLarge || inflatedTooLarge;
    }
    const QString body = QString::fromUtf8(raw);
    qCDebug(lcClient).noquote() << "[REST Response] " << answerForLog(body);

    const auto it = pendingRequests.constFind(reply);
    const RequestCallbacks callbacks = it != pendingRequests.constEnd() ? *it : RequestCallbacks();
    answerBytes = raw;
    if (reply->error() != QNetworkReply::NoError || tooLarge) {
        qCDebug(lcClient).noquote()
            << QStringLiteral("ERROR: %1\nRESPONSE: %2").arg(reply->errorString(), answerForLog(body));
        if (callbacks.failure)
            (this->*callbacks.failure)(reply, body);
    } else if (callbacks.success) {
        (this->*callbacks.success)(body);
    }
    answerBytes = QByteArray();
    if (tooLarge) {
        qCWarning(lcClient) << "[PresenterClient] Answer larger than" << maxResponseSize << "bytes refused";
        lastError = QStringLiteral("ResponseTooLarge");
    }
    completeRequest(reply);
}

void PresenterClient::slotSslErrors(QNetworkReply *reply, QList<QSslError> errors)
{
    // Diagnosis only: the connection fails or succeeds as the network layer decides.
    const QSslConfiguration config = reply->sslConfiguration();
    qCDebug(lcClient) << "+++ SSL Config +++";
    for (const QSslError &error : qAsConst(errors))
        qCDebug(lcClient).noquote() << "ssl error" << error.errorString();

    qCDebug(lcClient) << "peer certificate list";
    QSslCertificate last;
    const QList<QSslCertificate> chain = config.peerCertificateChain();
    for (const QSslCertificate &cert : chain) {
        qCDebug(lcClient).noquote() << "CommonName:" << cert.issuerInfo(QSslCertificate::CommonName).join(QLatin1Char(' '));
        last = cert;
    }
    const QString rootIssuer = last.issuerInfo(QSslCertificate::CommonName).join(QLatin1Char(' '));

    qCDebug(lcClient) << "certificate list";
    bool found = false;
    const QList<QSslCertificate> cas = config.caCertificates();
    for (const QSslCertificate &ca : cas) {
        const QString issuer = ca.issuerInfo(QSslCertificate::CommonName).join(QLatin1Char(' '));
        qCDebug(lcClient).noquote() << "CommonName:" << issuer;
        if (issuer == rootIssuer)
            found = true;
    }
    if (!found)
        lastError = QStringLiteral("SSLRootCertificateMissing");
}

void PresenterClient::authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator)
{
    Q_UNUSED(reply)
    if (!authUser.isEmpty())
        authenticator->setUser(authUser);
    if (!authPassword.isEmpty())
        authenticator->setPassword(authPassword);
}

QString PresenterClient::getLastError()
{
    return lastError;
}

bool PresenterClient::isErrorInErrorMsgKeys(const QVariant &response, QString &error)
{
    error = QString();
    bool result = false;
    const QVariantList keys = response.toMap().value(QStringLiteral("errorMsgKeys")).toList();
    if (!keys.isEmpty()) {
        const QString first = keys.first().toString();
        if (first.contains(QLatin1String("error"))) {
            error = first;
            result = true;
        }
    }
    return result;
}

void PresenterClient::commonFailure(const QString &body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        isErrorInErrorMsgKeys(doc.toVariant(), lastError);
}

void PresenterClient::loginFailureResponse(QNetworkReply *reply, QString body)
{
    Q_UNUSED(reply)
    commonFailure(body);
}

void PresenterClient::sessionFailureResponse(QNetworkReply *reply, QString body)
{
    Q_UNUSED(reply)
    commonFailure(body);
}

void PresenterClient::sessionStartFailureResponse(QNetworkReply *reply, QString body)
{
    Q_UNUSED(reply)
    commonFailure(body);
}

// ---------------------------------------------------------------------------
// Sign-in and keep-alive

bool PresenterClient::checkServer(const QString &user, const QString &pass)
{
    if (!user.isEmpty())
        authUser = user;
    if (!pass.isEmpty())
        authPassword = pass;
    lastError = QString();
    serverReachable = false;
    doRequest(true, serviceUrl(QStringLiteral("/quorvane")), QString(), &PresenterClient::serverCheckResponse);
    return serverReachable;
}

void PresenterClient::serverCheckResponse(QString body)
{
    QJsonDocument doc;
    serverReachable = parseAnswer(body, &doc);
}

bool PresenterClient::doLogin(QString user, QString pass)
{
    lastError = QString();
    loggedIn = false;
    userId = user;
    loginUserId = user;
    password = pass;
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/login/submit")), fill(PASSWORD_LOGIN, {user, pass}),
              &PresenterClient::loginSuccessResponse, &PresenterClient::loginFailureResponse, false);
    if (loggedIn)
        pingTimer.start(PING_TIMER);
    return loggedIn;
}

bool PresenterClient::doLogin(QString user, QString device, QString token)
{
    lastError = QString();
    loggedIn = false;
    userId = user;
    loginUserId = user;
    deviceId = device;
    loginDeviceAccessToken = token;
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/login/submit")), fill(DEVICE_LOGIN, {user, device, token}),
              &PresenterClient::loginSuccessResponse, &PresenterClient::loginFailureResponse, false);
    if (loggedIn)
        pingTimer.start(PING_TIMER);
    return loggedIn;
}

void PresenterClient::loginSuccessResponse(QString body)
{
    QJsonDocument doc;
    if (!parseAnswer(body, &doc))
        return;
    const QJsonObject answer = doc.object();
    QString message;
    const QJsonArray infoMsgs = answer.value(QLatin1String("infoMsgs")).toArray();
    if (!infoMsgs.isEmpty()) {
        message = infoMsgs.first().toVariant().toString();
        if (message.contains(QLatin1String("success")))
            loggedIn = true;
    }
    if (!loggedIn) {
        const QJsonArray infoMsgKeys = answer.value(QLatin1String("infoMsgKeys")).toArray();
        if (!infoMsgKeys.isEmpty()) {
            message = infoMsgKeys.first().toVariant().toString();
            if (message.contains(QLatin1String("success")))
                loggedIn = true;
        }
    }
    // An OAuth account that must register first is not signed in; the host
    // completes the registration data and calls doLoginWithOAuth again.
    if (loggedIn && !oauthProvider.isEmpty() && !oauthCode.isEmpty()
        && message.contains(QLatin1String("registration"))) {
        // A submit answered with the registration's own success ("registration.success")
        // is a sign-in, or a service confirming the registration would send the user
        // round for ever; one that still asks ("...success.registration...") is a failure.
        if (submittingRegistration
            && message.indexOf(QLatin1String("registration")) < message.indexOf(QLatin1String("success")))
            return;
        loggedIn = false;
        if (submittingRegistration)
            lastError = message;
        const QString data = Veltro::topLevelMemberText(body, QStringLiteral("data"));
        if (!data.isNull())
            registrationData = data;
    }
}

bool PresenterClient::doLoginWithOAuth(QString provider, QString code, QString &regData)
{
    lastError = QString();
    registrationData = QString();
    loggedIn = false;
    oauthProvider = provider;
    oauthCode = code;
    if (regData.isEmpty()) {
        QString callbackUrl = server;
        if (provider == QLatin1String("facebook"))
            callbackUrl += QLatin1Char('/');
        const QString path = QStringLiteral("/quorvane/login/oauth/%1/callback")
                                 .arg(QString::fromLatin1(QUrl::toPercentEncoding(provider)));
        doRequest(true, serviceUrl(path), fill(OAUTH_LOGIN, {code, callbackUrl}),
                  &PresenterClient::loginSuccessResponse, &PresenterClient::loginFailureResponse, false);
    } else {
        const QString submitted = regData;
        regData = Veltro::addSourceSystemMember(regData);
        submittingRegistration = true;
        doRequest(true, serviceUrl(QStringLiteral("/quorvane/register/oauth/submit")), regData,
                  &PresenterClient::loginSuccessResponse, &PresenterClient::loginFailureResponse, false);
        submittingRegistration = false;
        // Asked again without new data: the host keeps what it sent, to try again.
        if (!lastError.isNull() && registrationData.isNull())
            registrationData = submitted;
    }
    if (loggedIn)
        pingTimer.start(PING_TIMER);
    regData = registrationData;
    return loggedIn;
}

QString PresenterClient::doGetAccessToken(QString user, QString pass, QString device, QString deviceName)
{
    userId = user;
    loginUserId = user;
    password = pass;
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/login/submit")),
              fill(ACCESS_TOKEN, {user, pass, device, deviceName}), &PresenterClient::getDeviceAccessTokenResponse);
    return deviceAccessToken;
}

QString PresenterClient::doGetOAuthAccessToken(QString provider, QString code, QString device, QString deviceName,
                                               QString &regData)
{
    oauthProvider = provider;
    oauthCode = code;
    QString callbackUrl = server;
    if (provider == QLatin1String("facebook"))
        callbackUrl += QLatin1Char('/');
    const QString path = QStringLiteral("/quorvane/login/oauth/%1/callback")
                             .arg(QString::fromLatin1(QUrl::toPercentEncoding(provider)));
    doRequest(true, serviceUrl(path), fill(OAUTH_ACCESS_TOKEN, {code, callbackUrl, device, deviceName}),
              &PresenterClient::getDeviceAccessTokenResponse);
    regData = registrationData;
    return deviceAccessToken;
}

void PresenterClient::getDeviceAccessTokenResponse(QString body)
{
    QJsonDocument doc;
    if (!parseAnswer(body, &doc))
        return;
    deviceAccessToken = dataText(doc, "deviceAccessToken");
    if (deviceAccessToken.isEmpty()) {
        loggedIn = false;
        const QString data = Veltro::topLevelMemberText(body, QStringLiteral("data"));
        if (!data.isNull())
            registrationData = data;
    } else {
        loggedIn = true;
    }
}

bool PresenterClient::doLogout()
{
    pingTimer.stop();
    if (!sessionCode.isNull() || !sessionToken.isNull())
        doStopSession();
    if (loggedIn)
        doRequest(true, serviceUrl(QStringLiteral("/quorvane/login/logout")), QString::fromLatin1(EMPTY_OBJECT),
                  &PresenterClient::logoutResponse);
    return !loggedIn;
}

void PresenterClient::logoutResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        loggedIn = false;
}

void PresenterClient::reLogin()
{
    // The user-name query clears userId when the sign-in has lapsed, which is
    // exactly when this is needed, so the id given at sign-in is preferred.
    const QString id = loginUserId.isEmpty() ? userId : loginUserId;
    if (id.isEmpty())
        return;
    if (!password.isEmpty()) {
        doLogin(id, password);
    } else if (!deviceId.isEmpty() && !loginDeviceAccessToken.isEmpty()) {
        doLogin(id, deviceId, loginDeviceAccessToken);
    } else if (!oauthProvider.isEmpty() && !oauthCode.isEmpty()) {
        QString fresh;
        doLoginWithOAuth(oauthProvider, oauthCode, fresh);
    }
}

void PresenterClient::onPingTimer()
{
    sendKeepAlive();
}

void PresenterClient::sendKeepAlive()
{
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/login/keepSessionAlive")), QString(),
              &PresenterClient::serverCheckResponse);
}

QString PresenterClient::doGetUserName()
{
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/login/user")), QString::fromLatin1(EMPTY_OBJECT),
              &PresenterClient::userNameResponse);
    return userId;
}

void PresenterClient::userNameResponse(QString body)
{
    userId = QString();
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        userId = dataText(doc, "userLoginId");
    loggedIn = !userId.isEmpty();
}

bool PresenterClient::isLoggedIn()
{
    return loggedIn;
}

QString PresenterClient::getServer()
{
    return server;
}

void PresenterClient::setHostAppVersion(QString version)
{
    hostAppVersion = version;
}

// ---------------------------------------------------------------------------
// Classroom session

bool PresenterClient::doStartSession()
{
    return doStartSession(QString());
}

bool PresenterClient::doStartSession(QString name)
{
    Q_UNUSED(name) // the service names sessions itself
    doGetUserName();
    if (!loggedIn) {
        reLogin();
        if (!loggedIn)
            return false;
    }
    sessionToken = QString();
    sessionCode = QString();
    lastError = QString();
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/session/create")), QString::fromLatin1(EMPTY_OBJECT),
              &PresenterClient::sessionSuccessResponse, &PresenterClient::sessionFailureResponse, false);
    return lastError.isNull() && !sessionCode.isNull();
}

void PresenterClient::sessionSuccessResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        sessionCode = dataText(doc, "sessionCode");
}

bool PresenterClient::startWebsocket(PresenterCollab **collabOut)
{
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/session/getcollabserverurl")),
              QString::fromLatin1(EMPTY_OBJECT), &PresenterClient::getCollabUrlResponse);
    if (collabServerUrl.isEmpty()) {
        qCDebug(lcClient) << "ERROR: Failed to get collab server URL!";
        lastError = QStringLiteral("CollabServerUrlMissing");
        return false;
    }

    doRequest(true, serviceUrl(QStringLiteral("/quorvane/config/findTenantFeatureDetails")),
              QString::fromLatin1(EMPTY_OBJECT), &PresenterClient::getTenantFeatureDetailsResponse);
    if (!sockJSOverrideProtocols.isEmpty())
        sockJSProtocols = sockJSOverrideProtocols;

    doRequest(true, serviceUrl(QStringLiteral("/quorvane/session/start")),
              fill(SESSION_START, {sessionCode, collabServerUrl, hostAppVersion}),
              &PresenterClient::sessionStartSuccessResponse, &PresenterClient::sessionStartFailureResponse, false);
    if (!lastError.isNull())
        return false;
    // A refused start without an error key must not open a connection on no session.
    if (sessionToken.isEmpty()) {
        qCDebug(lcClient) << "[PresenterClient] ERROR: The session was not started!";
        lastError = QStringLiteral("SessionTokenMissing");
        return false;
    }

    doRequest(true, serviceUrl(QStringLiteral("/quorvane/classroom/session/join")),
              fill(PRESENTER_JOIN, {sessionCode, userId}), &PresenterClient::sessionJoinResponse);

    qCDebug(lcClient).noquote() << tokenForLog(sessionToken);
    qCDebug(lcClient).noquote() << collabServerUrl;

    // The service hands out the same session token again, so the earlier
    // object's goodbye would send every device away: its connection ends
    // quietly instead. The host may still hold it, so it is not deleted.
    if (collab)
        PresenterCollabPrivate::get(collab)->endQuietly();
    collab = new PresenterCollab(this, collabServerUrl, sessionCode, sessionToken, userToken);
    collab->open(sockJSProtocols);
    if (collabOut)
        *collabOut = collab;
    return true;
}

void PresenterClient::getCollabUrlResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        collabServerUrl = dataText(doc, "url");
}

void PresenterClient::getTenantFeatureDetailsResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        sockJSProtocols = doc.object()
                              .value(QLatin1String("data"))
                              .toObject()
                              .value(QLatin1String("sockJSProtocols"))
                              .toVariant()
                              .toStringList();
}

void PresenterClient::sessionStartSuccessResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        sessionToken = dataText(doc, "sessionToken");
}

void PresenterClient::sessionJoinResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        userToken = dataText(doc, "userToken");
}

bool PresenterClient::doGetLearners()
{
    if (sessionToken.isNull()) {
        qCDebug(lcClient) << "[PresenterClient] No session to get users for!";
        return false;
    }
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/session/getusers")), fill(SESSION_TOKEN_BODY, {sessionToken}),
              &PresenterClient::getLearnersResponse);
    return true;
}

void PresenterClient::getLearnersResponse(QString body)
{
    QJsonDocument doc;
    if (!parseAnswer(body, &doc))
        return;
    const QJsonValue users = doc.object().value(QLatin1String("data")).toObject().value(QLatin1String("users"));
    if (!users.isArray())
        return;
    learners.clear();
    const QJsonArray list = users.toArray();
    for (const QJsonValue &entry : list) {
        const QJsonObject user = entry.toObject();
        if (jsonText(user.value(QLatin1String("mode"))) != QLatin1String("learner"))
            continue;
        learners.append(Veltro::Learner(jsonText(user.value(QLatin1String("userToken"))),
                                        jsonText(user.value(QLatin1String("userName"))),
                                        jsonText(user.value(QLatin1String("deviceType")))));
    }
}

QList<Veltro::Learner> PresenterClient::getLearners() const
{
    return learners;
}

bool PresenterClient::doStopSession()
{
    if (sessionToken.isNull()) {
        qCDebug(lcClient) << "[PresenterClient] No session to stop!";
        return false;
    }
    if (collab) {
        collab->close();
        // The session ends after what was published into it has left, and
        // after the server has read it: the stop request travels on another
        // connection and could otherwise overtake the devices' "disconnect".
        PresenterCollabPrivate::get(collab)->drain();
        PresenterCollabPrivate::get(collab)->waitClosed(STOP_GOODBYE_WAIT_MS);
    }
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/session/stop")), fill(SESSION_TOKEN_BODY, {sessionToken}),
              nullptr);
    qCDebug(lcClient) << "[PresenterClient] Stopping session, closing websocket...";
    sessionToken = QString();
    sessionCode = QString();
    return true;
}

QString PresenterClient::getSessionCode()
{
    return sessionCode;
}

QString PresenterClient::getSessionToken()
{
    return sessionToken;
}

void PresenterClient::setSockJSOverrideProtocols(QStringList protocols)
{
    sockJSOverrideProtocols = protocols;
}

// ---------------------------------------------------------------------------
// Resource upload

QString PresenterClient::addMultipartValue(QString name, QString value, bool last)
{
    return QStringLiteral("Content-Disposition: form-data; name=") + name + QStringLiteral("\r\n")
           + QStringLiteral("Content-Type: text/plain; charset=utf-8\r\n\r\n") + value + QStringLiteral("\r\n")
           + QStringLiteral("--") + uploadBoundary + (last ? QStringLiteral("--") : QString())
           + QStringLiteral("\r\n") + QStringLiteral("\r\n");
}

bool PresenterClient::doUploadResource(QString fileName, QByteArray data, QString *resourceIdOut,
                                       QString *downloadPath)
{
    // A file that happens to contain the delimiter would be cut short by the
    // service, so such a file alone travels with a longer boundary.
    uploadBoundary = MULTIPART_BOUNDARY;
    while (data.contains(QString(QStringLiteral("--") + uploadBoundary).toUtf8()))
        uploadBoundary = MULTIPART_BOUNDARY + Veltro::randomString(16);
    const QString delimiter = QStringLiteral("--") + uploadBoundary + QStringLiteral("\r\n");
    QByteArray body;
    body += delimiter.toUtf8();
    body += QString(QStringLiteral("Content-Disposition: form-data; name=files; filename=\"")
                    + quotedFileName(fileName) + QStringLiteral("\"\r\n\r\n"))
                .toUtf8();
    body += data;
    body += QByteArrayLiteral("\r\n");
    body += delimiter.toUtf8();
    body += QByteArrayLiteral("\r\n");
    body += addMultipartValue(QStringLiteral("isTemporary"), QStringLiteral("true"), false).toUtf8();
    body += addMultipartValue(QStringLiteral("clientProvidedGUID"), QStringLiteral("false"), true).toUtf8();

    resourceId = QString();
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/resource/uploadResourceFile")), body,
              &PresenterClient::uploadResourceResponse, nullptr, true);
    if (resourceId.isNull())
        return false;
    if (resourceIdOut)
        *resourceIdOut = resourceId;
    if (downloadPath)
        *downloadPath = QStringLiteral("/quorvane/resource/downloadResourceFile?resourceId=") + resourceId;
    return true;
}

void PresenterClient::uploadResourceResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        resourceId = dataText(doc, "id");
}

bool PresenterClient::LzmaDecompress64(QString in, QString *out)
{
    return ::LzmaDecompress64(in, out);
}
