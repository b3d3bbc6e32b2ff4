#include "presenterclient.h"
#include "presenterclient_p.h"

#include "gzip.h"
#include "gzip_p.h"
#include "jsontemplate_p.h"
#include "logging_p.h"
#include "lowdelaytuner_p.h"
#include "lzmacodec.h"
#include "presentercollab.h"
#include "networksettings_p.h"
#include "presentercollab_p.h"
#include "presenterreply.h"
#include "presenterreply_p.h"
#include "randomstring.h"
#include "registration_p.h"
#include "teardownpost_p.h"
#include "veltrocollabmessage.h"

#include <QAuthenticator>
#include <QCoreApplication>
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

#include <algorithm>
#include <cmath>
#include <memory>

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

    hub = new Veltro::NetworkHub(this);
    connect(hub, &Veltro::NetworkHub::sslErrors, this, &PresenterClient::sslErrors);
    connect(hub, &Veltro::NetworkHub::proxyAuthenticationRequired, this,
            &PresenterClient::proxyAuthenticationRequired);

    connect(networkAccessManager, &QNetworkAccessManager::finished, this, &PresenterClient::slotRequestFinished);
    // The network layer reports the errors a host accepted as well (then
    // ignores them): only a refused handshake is diagnosed, explained to its
    // call and reported to the host.
    connect(networkAccessManager, &QNetworkAccessManager::sslErrors, this,
            [this](QNetworkReply *reply, const QList<QSslError> &errors) {
                const QList<QSslError> &accepted = hub->settings().acceptedSslErrors;
                if (std::all_of(errors.begin(), errors.end(), [&](const QSslError &e) { return accepted.contains(e); }))
                    return;
                slotSslErrors(reply, errors);
                const auto it = pendingRequests.find(reply);
                if (it != pendingRequests.end())
                    it->tlsText = Veltro::sslErrorsText(errors);
                hub->reportSslErrors(errors, reply->sslConfiguration().peerCertificateChain());
            });
    connect(networkAccessManager, &QNetworkAccessManager::authenticationRequired, this,
            &PresenterClient::authenticationRequired);
    connect(networkAccessManager, &QNetworkAccessManager::proxyAuthenticationRequired, this,
            [this](const QNetworkProxy &proxy, QAuthenticator *authenticator) {
                hub->authenticateProxy(proxy, authenticator);
            });
    connect(&pingTimer, &QTimer::timeout, this, &PresenterClient::onPingTimer);
    lowDelay = new Veltro::LowDelayTuner(this);
}

PresenterClient::~PresenterClient()
{
    pingTimer.stop();
    // From here on nothing reaches this client again: replies torn down now
    // are not handled, and no host code runs.
    networkAccessManager->disconnect(this);
    hub->disconnect(this);

    // Calls still pending end Cancelled; calls that ended but were not yet
    // reported keep their outcome. Either way finished() comes from the event
    // loop after the client has gone, and the reply goes right after it.
    // While the application itself is being destroyed no loop follows: such
    // replies go at once, unreported, as every other object does then.
    const bool loopAhead = QCoreApplication::instance() && !QCoreApplication::closingDown();
    const QList<PresenterReply *> calls = findChildren<PresenterReply *>(QString(), Qt::FindDirectChildrenOnly);
    for (PresenterReply *call : calls) {
        PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
        if (d->emitted)
            continue; // kept by the host: goes with the client
        if (!d->completed) {
            if (d->stopWaiting)
                d->stopWaiting();
            d->complete(Veltro::Error::Cancelled, QStringLiteral("cancelled: the client was deleted"), lastError);
        }
        d->orphan = true;
        call->setParent(nullptr);
        if (!loopAhead)
            delete call;
    }
    queuedCalls.clear();
    sideCalls.clear();
    runningCall = nullptr;

    // Requests under way end unhandled; a blocking doRequest waiting for one returns.
    const auto pending = pendingRequests;
    pendingRequests.clear();
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        it.key()->disconnect(this);
        if (it->waiter)
            it->waiter->quit();
        it.key()->abort();
    }

    if (!sessionToken.isNull())
        stopSessionAtTeardown();
    networkAccessManager->deleteLater();
    networkAccessManager = nullptr;
    learners.clear();
    collab = nullptr;
    // The collaboration objects read the hub until they are gone, and the
    // hub, made first, would go first among the children.
    qDeleteAll(findChildren<PresenterCollab *>(QString(), Qt::FindDirectChildrenOnly));
}

void PresenterClient::stopSessionAtTeardown()
{
    if (collab)
        PresenterCollabPrivate::get(collab)->goodbyeNow();
    Veltro::TeardownPost post;
    post.url = serviceUrl(QStringLiteral("/quorvane/session/stop"));
    post.body = fill(SESSION_TOKEN_BODY, {sessionToken}).toUtf8();
    post.cookies = networkAccessManager->cookieJar()->cookiesForUrl(post.url);
    post.hub = hub;
    QString why;
    if (!Veltro::sendTeardownPost(post, &why))
        qCDebug(lcClient).noquote() << "[PresenterClient] Session stop not delivered:" << why;
    qCDebug(lcClient) << "[PresenterClient] Stopping session, closing websocket...";
    sessionToken = QString();
    sessionCode = QString();
}

QUrl PresenterClient::serviceUrl(const QString &path) const
{
    return QUrl(server + path, QUrl::TolerantMode);
}

// ---------------------------------------------------------------------------
// Request engine

QNetworkReply *PresenterClient::sendRequest(const QUrl &url, const QByteArray &body, SuccessHandler success,
                                            FailureHandler failure, bool multipart, PresenterReply *call,
                                            Continuation then)
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
    const Veltro::NetworkSettings &settings = hub->settings();
    request.setSslConfiguration(settings.sslConfiguration());
    lookUpForTeardown(url);
    lowDelay->setEndpoint(url);
    QNetworkReply *reply = networkAccessManager->post(request, body);
    if (!settings.acceptedSslErrors.isEmpty())
        reply->ignoreSslErrors(settings.acceptedSslErrors);
    limitResponseSize(reply);

    RequestCallbacks callbacks;
    callbacks.success = success;
    callbacks.failure = failure;
    callbacks.call = call;
    callbacks.then = std::move(then);
    callbacks.bound = new QTimer(this);
    callbacks.bound->setSingleShot(true);
    callbacks.bound->setTimerType(Qt::PreciseTimer); // a coarse timer may end the wait 5% early
    connect(callbacks.bound, &QTimer::timeout, this, [this, reply] {
        const auto it = pendingRequests.find(reply);
        if (it == pendingRequests.end())
            return;
        it->timedOut = true;
        // Aborting completes the reply through slotRequestFinished's failure path.
        reply->abort();
    });
    callbacks.bound->start(requestBoundMs);
    pendingRequests.insert(reply, callbacks);
    return reply;
}

void PresenterClient::lookUpForTeardown(const QUrl &url)
{
    // The teardown's stop must not wait on a name lookup, which has no bound:
    // the service's name and its proxy's are looked up ahead, in the background.
    const QString host = url.host();
    hub->lookUpAhead(host);
    const quint16 port = quint16(url.port(url.scheme() == QLatin1String("https") ? 443 : 80));
    hub->lookUpAhead(Veltro::connectionProxy(hub->settings(), host, port).hostName());
}

void PresenterClient::doRequest(bool wait, const QUrl &url, const QByteArray &body, SuccessHandler success,
                                FailureHandler failure, bool multipart)
{
    QNetworkReply *reply = sendRequest(url, body, success, failure, multipart, nullptr, nullptr);
    if (!wait)
        return;

    // Only this request's own completion (or its own bound) ends this wait,
    // so a nested request answered meanwhile cannot cut it short.
    bool finished = false;
    QEventLoop loop;
    auto it = pendingRequests.find(reply);
    it->finished = &finished;
    it->waiter = &loop;
    QPointer<PresenterClient> self(this);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!self || finished)
        return;
    // Ended some other way: a completion coming later must not touch these locals.
    it = pendingRequests.find(reply);
    if (it != pendingRequests.end()) {
        it->finished = nullptr;
        it->waiter = nullptr;
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

PresenterClient::RequestOutcome PresenterClient::outcomeOf(QNetworkReply *reply, const RequestCallbacks &callbacks,
                                                           bool tooLarge, const QByteArray &body) const
{
    RequestOutcome out;
    if (callbacks.timedOut) {
        out.transport = Veltro::Error::Timeout;
        out.transportText = QStringLiteral("timed out: no answer within %1 ms").arg(requestBoundMs);
    } else if (callbacks.cancelled) {
        out.transport = Veltro::Error::Cancelled;
    } else if (tooLarge) {
        out.transport = Veltro::Error::ResponseTooLarge;
    } else if (reply->error() != QNetworkReply::NoError) {
        const Veltro::Error kind = Veltro::errorFromReply(reply->error());
        out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (kind == Veltro::Error::Service || out.status >= 400) {
            out.httpError = true;
            const QVariantList keys = QJsonDocument::fromJson(body).object().toVariantMap()
                                          .value(QStringLiteral("errorMsgKeys")).toList();
            if (!keys.isEmpty() && keys.first().toString().contains(QLatin1String("error")))
                out.serviceKey = keys.first().toString();
        } else {
            out.transport = kind;
            if (kind == Veltro::Error::Tls && !callbacks.tlsText.isEmpty())
                out.transportText = callbacks.tlsText;
            else if (kind == Veltro::Error::Network)
                out.transportText = reply->errorString();
        }
    }
    if (out.transport != Veltro::Error::None && out.transportText.isEmpty())
        out.transportText = Veltro::errorDescription(out.transport);
    return out;
}

void PresenterClient::completeRequest(QNetworkReply *reply, const RequestOutcome &outcome)
{
    const RequestCallbacks callbacks = pendingRequests.take(reply);
    if (callbacks.bound) {
        callbacks.bound->stop();
        callbacks.bound->deleteLater(); // it may be the sender of this very completion
    }
    if (callbacks.finished)
        *callbacks.finished = true;
    if (callbacks.waiter)
        callbacks.waiter->quit();
    reply->deleteLater();

    // The call goes on (its next request sent, or its reply completed)
    // before the host hears of this answer: a blocking call made from a
    // requestProcessed() slot then waits behind a call that can still end.
    // No host code runs in a call's steps.
    if (PresenterReply *call = callbacks.call) {
        PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
        if (d->request == reply)
            d->request = nullptr;
        if (!d->completed && d->cancelRequested)
            finishCall(call, Veltro::Error::Cancelled);
        else if (!d->completed && callbacks.then)
            callbacks.then(outcome);
    }
}

void PresenterClient::slotRequestFinished(QNetworkReply *reply)
{
    // A connection the manager opened for this request now exists; later
    // requests on it must not wait on Nagle's algorithm.
    lowDelay->tune();
    // What the host is told changed is what this answer changed, once it is handled.
    const bool signedInBefore = loggedIn;
    const QString codeBefore = sessionCode;
    const QString tokenBefore = sessionToken;
    QPointer<PresenterClient> self(this);
    bool lost = false;
    const auto announce = [&] {
        if (loggedIn != signedInBefore)
            emit signedInChanged(loggedIn);
        if (self && (sessionCode != codeBefore || sessionToken != tokenBefore))
            emit sessionChanged();
        if (self && lost)
            emit signInLost();
        if (self)
            emit requestProcessed();
    };
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
            RequestOutcome moved;
            moved.redirected = true;
            completeRequest(reply, moved);
            announce();
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
    submittingRegistration = callbacks.registrationSubmit;
    if (reply->error() != QNetworkReply::NoError || tooLarge) {
        qCDebug(lcClient).noquote()
            << QStringLiteral("ERROR: %1\nRESPONSE: %2").arg(reply->errorString(), answerForLog(body));
        if (callbacks.failure)
            (this->*callbacks.failure)(reply, body);
    } else if (callbacks.success) {
        (this->*callbacks.success)(body);
    }
    submittingRegistration = false;
    answerBytes = QByteArray();
    if (tooLarge) {
        qCWarning(lcClient) << "[PresenterClient] Answer larger than" << maxResponseSize << "bytes refused";
        setOwnError(QStringLiteral("ResponseTooLarge"));
    }
    const RequestOutcome outcome = outcomeOf(reply, callbacks, tooLarge, raw);
    completeRequest(reply, outcome);
    // A 401 to anything but a sign-in or sign-out: the service forgot this sign-in.
    const bool signInRequest = callbacks.success == &PresenterClient::loginSuccessResponse
                               || callbacks.success == &PresenterClient::getDeviceAccessTokenResponse
                               || callbacks.success == &PresenterClient::logoutResponse;
    if (outcome.httpError && outcome.status == 401 && loggedIn && !signInRequest) {
        loseSignIn();
        lost = true;
    }
    announce();
}

void PresenterClient::loseSignIn()
{
    qCWarning(lcClient) << "[PresenterClient] The service no longer knows the sign-in; the session is gone";
    loggedIn = false;
    pingTimer.stop();
    if (PresenterCollab *c = collab)
        c->close(); // the devices are told the session is over
    sessionToken = QString();
    sessionCode = QString();
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
        setOwnError(QStringLiteral("SSLRootCertificateMissing"));
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

Veltro::Error PresenterClient::lastErrorCode() const
{
    return lastCode;
}

void PresenterClient::setOwnError(const QString &text)
{
    lastError = text;
    ownError = true;
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
    if (parseAnswer(body, &doc)) {
        isErrorInErrorMsgKeys(doc.toVariant(), lastError);
        ownError = false;
    }
}

void PresenterClient::loginFailureResponse(QNetworkReply *reply, QString body)
{
    Q_UNUSED(reply)
    loggedIn = false;
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
// Calls: one queue for what changes the sign-in or the session, the rest
// beside it; each call a chain of requests ending in its reply.

PresenterReply *PresenterClient::newCall(bool serial, std::function<void(PresenterReply *)> begin, int needs,
                                         int provides)
{
    auto *call = new PresenterReply(this);
    PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
    d->serial = serial;
    d->begin = std::move(begin);
    d->needs = needs;
    d->provides = provides;
    if (serial) {
        queuedCalls.append(call);
        startNextSerial();
    } else {
        sideCalls.append(call);
        startCall(call);
    }
    return call;
}

void PresenterClient::startCall(PresenterReply *call)
{
    PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
    d->started = true;
    // A text of the library's own describes the call it ended; the next starts afresh.
    if (ownError) {
        lastError = QString();
        ownError = false;
    }
    const auto begin = std::move(d->begin);
    d->begin = nullptr;
    begin(call);
}

void PresenterClient::startNextSerial()
{
    if (runningCall || queuedCalls.isEmpty())
        return;
    runningCall = queuedCalls.takeFirst();
    startCall(runningCall);
}

void PresenterClient::cancelDependents(int missing)
{
    // A call that needed what a failed one was to give has nothing to work
    // on: it ends Cancelled, unsent, and so do the calls that needed it. The
    // host hears the reason once, from the call that failed.
    const QList<PresenterReply *> queued = queuedCalls;
    for (PresenterReply *next : queued) {
        if (!missing)
            return;
        PresenterReplyPrivate *n = PresenterReplyPrivate::get(next);
        if (!(n->needs & missing)) {
            missing &= ~n->provides; // given again by this one
            continue;
        }
        const QString why = n->needs & missing & PresenterReplyPrivate::SignIn
            ? QStringLiteral("cancelled: the sign-in before it did not succeed")
            : QStringLiteral("cancelled: the session it needed was not created");
        missing |= n->provides;
        n->dependencyFailed = true;
        queuedCalls.removeOne(next);
        n->complete(Veltro::Error::Cancelled, why, lastError);
    }
}

void PresenterClient::step(PresenterReply *call, const QString &path, const QByteArray &body, SuccessHandler success,
                           FailureHandler failure, bool multipart, Continuation then)
{
    PresenterReplyPrivate::get(call)->request =
        sendRequest(serviceUrl(path), body, success, failure, multipart, call, std::move(then));
}

void PresenterClient::finishCall(PresenterReply *call, Veltro::Error error, const QString &text)
{
    PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
    if (d->completed)
        return;
    if (d->stopWaiting) {
        const auto stop = std::move(d->stopWaiting);
        d->stopWaiting = nullptr;
        stop();
    }
    queuedCalls.removeOne(call);
    sideCalls.removeOne(call);
    d->complete(error, text.isEmpty() ? Veltro::errorDescription(error) : text, lastError);
    if (error != Veltro::Error::None)
        cancelDependents(d->provides);
    if (runningCall == call) {
        // The next call starts from the event loop, after this one's finished():
        // never inside the end of this one, where the host's order could be overtaken.
        runningCall = nullptr;
        QMetaObject::invokeMethod(this, &PresenterClient::startNextSerial, Qt::QueuedConnection);
    }
}

bool PresenterClient::failedRequest(const RequestOutcome &o)
{
    return o.transport != Veltro::Error::None || o.redirected || o.httpError;
}

void PresenterClient::failCall(PresenterReply *call, const RequestOutcome &o, Veltro::Error error,
                               const QString &text)
{
    if (o.transport != Veltro::Error::None)
        return finishCall(call, o.transport, o.transportText);
    if (o.redirected)
        return finishCall(call, Veltro::Error::Service,
                          QStringLiteral("the service moved to %1; the request was not repeated").arg(server));
    if (o.httpError) {
        // A refusal is a client error with the service's word for it; a
        // server error is the service failing, not the credentials.
        if (error == Veltro::Error::SignInRefused && o.serviceKey.isEmpty() && (o.status < 400 || o.status >= 500))
            error = Veltro::Error::Service;
        else if (error != Veltro::Error::SignInRefused && o.status == 401 && loggedIn)
            error = Veltro::Error::SignInLost;
        if (!o.serviceKey.isEmpty())
            return finishCall(call, error, o.serviceKey);
        return finishCall(call, error, QStringLiteral("the service answered with HTTP status %1").arg(o.status));
    }
    finishCall(call, error, text);
}

void PresenterClient::cancelCall(PresenterReply *call)
{
    PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
    if (!d->started)
        return finishCall(call, Veltro::Error::Cancelled);
    d->cancelRequested = true;
    const auto it = d->request ? pendingRequests.find(d->request) : pendingRequests.end();
    if (it == pendingRequests.end())
        return finishCall(call, Veltro::Error::Cancelled); // between steps, or waiting for the goodbye
    it->cancelled = true;
    // Completes through the failure path, and the call with it.
    d->request->abort();
}

void PresenterClient::forgetCall(PresenterReply *call)
{
    // The host deleted a pending reply: the call ends without a word.
    PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
    if (d->stopWaiting)
        d->stopWaiting();
    d->stopWaiting = nullptr;
    d->completed = true;
    d->client = nullptr;
    queuedCalls.removeOne(call);
    sideCalls.removeOne(call);
    const auto it = d->request ? pendingRequests.find(d->request) : pendingRequests.end();
    if (it != pendingRequests.end()) {
        it->call = nullptr;
        it->then = nullptr;
        it->cancelled = true;
        d->request->abort();
    }
    if (runningCall == call) {
        runningCall = nullptr;
        QMetaObject::invokeMethod(this, &PresenterClient::startNextSerial, Qt::QueuedConnection);
    }
}

std::unique_ptr<PresenterReply> PresenterClient::waitFor(PresenterReply *call)
{
    call->setAutoDelete(false);
    QPointer<PresenterClient> self(this);
    QPointer<PresenterReply> guard(call);
    if (!call->isFinished()) {
        // Every request of the call is bounded, so this wait is too; only
        // the call's own end finishes it.
        QEventLoop loop;
        connect(call, &PresenterReply::finished, &loop, &QEventLoop::quit);
        connect(call, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!self || !guard)
        return nullptr; // the host deleted the client meanwhile: the reply goes by itself
    lastCode = call->error();
    return std::unique_ptr<PresenterReply>(call);
}

// ---------------------------------------------------------------------------
// Sign-in and keep-alive

PresenterReply *PresenterClient::requestServerCheck(const QString &user, const QString &pass)
{
    return newCall(true, [this, user, pass](PresenterReply *call) {
        if (!user.isEmpty())
            authUser = user;
        if (!pass.isEmpty())
            authPassword = pass;
        lastError = QString();
        ownError = false;
        serverReachable = false;
        step(call, QStringLiteral("/quorvane"), QByteArray(), &PresenterClient::serverCheckResponse, nullptr, false,
             [this, call](const RequestOutcome &o) {
                 if (serverReachable)
                     return finishCall(call, Veltro::Error::None);
                 failCall(call, o, Veltro::Error::Service, QStringLiteral("the service's answer is not JSON"));
             });
    });
}

bool PresenterClient::checkServer(const QString &user, const QString &pass)
{
    const auto reply = waitFor(requestServerCheck(user, pass));
    return reply && serverReachable;
}

void PresenterClient::serverCheckResponse(QString body)
{
    QJsonDocument doc;
    serverReachable = parseAnswer(body, &doc);
}

void PresenterClient::signInStep(PresenterReply *call, const QString &path, const QString &body, bool registration,
                                 Continuation then)
{
    lastError = QString();
    ownError = false;
    registrationAsked = false;
    step(call, path, body.toUtf8(), &PresenterClient::loginSuccessResponse, &PresenterClient::loginFailureResponse,
         false, [this, then](const RequestOutcome &o) {
             if (loggedIn)
                 pingTimer.start(PING_TIMER);
             then(o);
         });
    pendingRequests[PresenterReplyPrivate::get(call)->request].registrationSubmit = registration;
}

void PresenterClient::signInOutcome(PresenterReply *call, const RequestOutcome &o)
{
    if (loggedIn)
        return finishCall(call, Veltro::Error::None);
    if (registrationAsked) {
        PresenterReplyPrivate::get(call)->registrationData = registrationData;
        return finishCall(call, Veltro::Error::RegistrationRequired, lastError);
    }
    failCall(call, o, Veltro::Error::SignInRefused, lastError);
}

void PresenterClient::passwordSignIn(PresenterReply *call, const QString &user, const QString &pass,
                                     Continuation then)
{
    userId = user;
    loginUserId = user;
    password = pass;
    signInStep(call, QStringLiteral("/quorvane/login/submit"), fill(PASSWORD_LOGIN, {user, pass}), false,
               std::move(then));
}

void PresenterClient::deviceSignIn(PresenterReply *call, const QString &user, const QString &device,
                                   const QString &token, Continuation then)
{
    userId = user;
    loginUserId = user;
    deviceId = device;
    loginDeviceAccessToken = token;
    signInStep(call, QStringLiteral("/quorvane/login/submit"), fill(DEVICE_LOGIN, {user, device, token}), false,
               std::move(then));
}

void PresenterClient::oauthSignIn(PresenterReply *call, const QString &provider, const QString &code,
                                  const QString &regData, Continuation then)
{
    registrationData = QString();
    oauthProvider = provider;
    oauthCode = code;
    if (regData.isEmpty()) {
        signInStep(call, oauthPath(provider), fill(OAUTH_LOGIN, {code, callbackUrl(provider)}), false,
                   std::move(then));
        return;
    }
    signInStep(call, QStringLiteral("/quorvane/register/oauth/submit"), Veltro::addSourceSystemMember(regData), true,
               [this, regData, then](const RequestOutcome &o) {
                   // Asked again without new data: the host keeps what it sent, to try again.
                   if (!lastError.isNull() && registrationData.isNull())
                       registrationData = regData;
                   then(o);
               });
}

PresenterReply *PresenterClient::login(const QString &user, const QString &pass)
{
    return newCall(true, [this, user, pass](PresenterReply *call) {
        passwordSignIn(call, user, pass, [this, call](const RequestOutcome &o) { signInOutcome(call, o); });
    }, 0, PresenterReplyPrivate::SignIn);
}

PresenterReply *PresenterClient::login(const QString &user, const QString &device, const QString &token)
{
    return newCall(true, [this, user, device, token](PresenterReply *call) {
        deviceSignIn(call, user, device, token, [this, call](const RequestOutcome &o) { signInOutcome(call, o); });
    }, 0, PresenterReplyPrivate::SignIn);
}

PresenterReply *PresenterClient::loginWithOAuth(const QString &provider, const QString &code, const QString &regData)
{
    return newCall(true, [this, provider, code, regData](PresenterReply *call) {
        oauthSignIn(call, provider, code, regData, [this, call](const RequestOutcome &o) { signInOutcome(call, o); });
    }, 0, PresenterReplyPrivate::SignIn);
}

bool PresenterClient::doLogin(QString user, QString pass)
{
    const auto reply = waitFor(login(user, pass));
    return reply && loggedIn;
}

bool PresenterClient::doLogin(QString user, QString device, QString token)
{
    const auto reply = waitFor(login(user, device, token));
    return reply && loggedIn;
}

bool PresenterClient::doLoginWithOAuth(QString provider, QString code, QString &regData)
{
    const auto reply = waitFor(loginWithOAuth(provider, code, regData));
    if (!reply)
        return false;
    regData = registrationData;
    return loggedIn;
}

void PresenterClient::loginSuccessResponse(QString body)
{
    loggedIn = false;
    registrationAsked = false;
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
        registrationAsked = true;
        if (submittingRegistration) {
            lastError = message;
            ownError = false;
        }
        const QString data = Veltro::topLevelMemberText(body, QStringLiteral("data"));
        if (!data.isNull())
            registrationData = data;
    }
}

QString PresenterClient::oauthPath(const QString &provider) const
{
    return QStringLiteral("/quorvane/login/oauth/%1/callback")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(provider)));
}

QString PresenterClient::callbackUrl(const QString &provider) const
{
    return provider == QLatin1String("facebook") ? server + QLatin1Char('/') : server;
}

void PresenterClient::tokenOutcome(PresenterReply *call, const RequestOutcome &o)
{
    PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
    d->accessToken = deviceAccessToken;
    d->registrationData = registrationData;
    if (failedRequest(o))
        return failCall(call, o, Veltro::Error::SignInRefused);
    if (tokenIssued)
        return finishCall(call, Veltro::Error::None);
    if (registrationAsked)
        return finishCall(call, Veltro::Error::RegistrationRequired);
    finishCall(call, Veltro::Error::SignInRefused, QStringLiteral("no device access token was issued"));
}

PresenterReply *PresenterClient::requestAccessToken(const QString &user, const QString &pass, const QString &device,
                                                    const QString &deviceName)
{
    return newCall(true, [this, user, pass, device, deviceName](PresenterReply *call) {
        userId = user;
        loginUserId = user;
        password = pass;
        step(call, QStringLiteral("/quorvane/login/submit"), fill(ACCESS_TOKEN, {user, pass, device, deviceName}).toUtf8(),
             &PresenterClient::getDeviceAccessTokenResponse, nullptr, false,
             [this, call](const RequestOutcome &o) { tokenOutcome(call, o); });
    });
}

PresenterReply *PresenterClient::requestOAuthAccessToken(const QString &provider, const QString &code,
                                                         const QString &device, const QString &deviceName)
{
    return newCall(true, [this, provider, code, device, deviceName](PresenterReply *call) {
        oauthProvider = provider;
        oauthCode = code;
        step(call, oauthPath(provider),
             fill(OAUTH_ACCESS_TOKEN, {code, callbackUrl(provider), device, deviceName}).toUtf8(),
             &PresenterClient::getDeviceAccessTokenResponse, nullptr, false,
             [this, call](const RequestOutcome &o) { tokenOutcome(call, o); });
    });
}

QString PresenterClient::doGetAccessToken(QString user, QString pass, QString device, QString deviceName)
{
    const auto reply = waitFor(requestAccessToken(user, pass, device, deviceName));
    return reply ? deviceAccessToken : QString();
}

QString PresenterClient::doGetOAuthAccessToken(QString provider, QString code, QString device, QString deviceName,
                                               QString &regData)
{
    const auto reply = waitFor(requestOAuthAccessToken(provider, code, device, deviceName));
    if (!reply)
        return QString();
    regData = registrationData;
    return deviceAccessToken;
}

void PresenterClient::getDeviceAccessTokenResponse(QString body)
{
    tokenIssued = false;
    registrationAsked = false;
    QJsonDocument doc;
    if (!parseAnswer(body, &doc))
        return;
    deviceAccessToken = dataText(doc, "deviceAccessToken");
    if (deviceAccessToken.isEmpty()) {
        loggedIn = false;
        const QString data = Veltro::topLevelMemberText(body, QStringLiteral("data"));
        if (!data.isNull()) {
            registrationData = data;
            registrationAsked = true;
        }
    } else {
        loggedIn = true;
        tokenIssued = true;
    }
}

PresenterReply *PresenterClient::logout()
{
    return newCall(true, [this](PresenterReply *call) {
        pingTimer.stop();
        auto signOut = [this, call] {
            if (!loggedIn)
                return finishCall(call, Veltro::Error::None);
            step(call, QStringLiteral("/quorvane/login/logout"), QByteArray(EMPTY_OBJECT),
                 &PresenterClient::logoutResponse, nullptr, false, [this, call](const RequestOutcome &o) {
                     if (!loggedIn)
                         return finishCall(call, Veltro::Error::None);
                     failCall(call, o, Veltro::Error::Service, QStringLiteral("the sign-out was not confirmed"));
                 });
        };
        if (!sessionCode.isNull() || !sessionToken.isNull())
            stopStep(call, [signOut](const RequestOutcome &) { signOut(); });
        else
            signOut();
    });
}

bool PresenterClient::doLogout()
{
    const auto reply = waitFor(logout());
    return reply && !loggedIn;
}

void PresenterClient::logoutResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        loggedIn = false;
}

void PresenterClient::reLoginStep(PresenterReply *call, std::function<void(const RequestOutcome *)> then)
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
    waitFor(newCall(true, [this](PresenterReply *call) {
        reLoginStep(call, [this, call](const RequestOutcome *) { finishCall(call, Veltro::Error::None); });
    }));
}

void PresenterClient::onPingTimer()
{
    // Not waited for: the timer may fire while the host's own call waits.
    sendRequest(serviceUrl(QStringLiteral("/quorvane/login/keepSessionAlive")), QByteArray(),
                &PresenterClient::serverCheckResponse, nullptr, false, nullptr, nullptr);
}

void PresenterClient::sendKeepAlive()
{
    doRequest(true, serviceUrl(QStringLiteral("/quorvane/login/keepSessionAlive")), QString(),
              &PresenterClient::serverCheckResponse);
}

PresenterReply *PresenterClient::requestUserName()
{
    return newCall(true, [this](PresenterReply *call) {
        step(call, QStringLiteral("/quorvane/login/user"), QByteArray(EMPTY_OBJECT), &PresenterClient::userNameResponse,
             nullptr, false, [this, call](const RequestOutcome &o) {
                 PresenterReplyPrivate::get(call)->userName = userId;
                 if (failedRequest(o))
                     return failCall(call, o, Veltro::Error::Service);
                 finishCall(call, userId.isEmpty() ? Veltro::Error::NotSignedIn : Veltro::Error::None);
             });
    });
}

QString PresenterClient::doGetUserName()
{
    const auto reply = waitFor(requestUserName());
    return reply ? userId : QString();
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

QString PresenterClient::signedInUser() const
{
    return loggedIn ? userId : QString();
}

PresenterReply *PresenterClientPrivate::setServer(PresenterClient *c, const QString &address)
{
    return c->newCall(true, [c, address](PresenterReply *call) {
        if (c->loggedIn || !c->sessionToken.isNull())
            return c->finishCall(call, Veltro::Error::Cancelled,
                                 QStringLiteral("cancelled: the address changes only while signed out"));
        c->server = address;
        if (c->server.endsWith(QLatin1Char('/')))
            c->server.chop(1);
        c->collabServerUrl = QString(); // the earlier service's
        c->serverReachable = false;
        c->finishCall(call, Veltro::Error::None);
    });
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

PresenterReply *PresenterClient::startSession()
{
    return newCall(true, [this](PresenterReply *call) {
        auto create = [this, call] {
            sessionToken = QString();
            sessionCode = QString();
            lastError = QString();
            ownError = false;
            step(call, QStringLiteral("/quorvane/session/create"), QByteArray(EMPTY_OBJECT),
                 &PresenterClient::sessionSuccessResponse, &PresenterClient::sessionFailureResponse, false,
                 [this, call](const RequestOutcome &o) {
                     PresenterReplyPrivate::get(call)->sessionCode = sessionCode;
                     if (lastError.isNull() && !sessionCode.isNull())
                         return finishCall(call, Veltro::Error::None);
                     failCall(call, o, Veltro::Error::Service,
                              lastError.isNull() ? QStringLiteral("no session code in the answer") : lastError);
                 });
        };
        auto askUser = [this, call, create] {
            step(call, QStringLiteral("/quorvane/login/user"), QByteArray(EMPTY_OBJECT),
                 &PresenterClient::userNameResponse, nullptr, false, [this, call, create](const RequestOutcome &asked) {
                     if (loggedIn)
                         return create();
                     reLoginStep(call, [this, call, create, asked](const RequestOutcome *signIn) {
                         if (loggedIn)
                             return create();
                         // The network's reason when it was one, else no sign-in at all.
                         const RequestOutcome &last = signIn ? *signIn : asked;
                         if (last.transport != Veltro::Error::None)
                             return finishCall(call, last.transport, last.transportText);
                         finishCall(call, Veltro::Error::NotSignedIn,
                                    lastError.isNull() ? QString() : QStringLiteral("not signed in: ") + lastError);
                     });
                 });
        };
        // A session still held (its connection gave up, or its start failed
        // after the service started it) would go on without anybody running it.
        if (sessionToken.isNull())
            return askUser();
        stopStep(call, [askUser](const RequestOutcome &) { askUser(); });
    }, PresenterReplyPrivate::SignIn, PresenterReplyPrivate::Session);
}

bool PresenterClient::doStartSession()
{
    return doStartSession(QString());
}

bool PresenterClient::doStartSession(QString name)
{
    Q_UNUSED(name) // the service names sessions itself
    const auto reply = waitFor(startSession());
    return reply && lastError.isNull() && !sessionCode.isNull();
}

void PresenterClient::sessionSuccessResponse(QString body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        sessionCode = dataText(doc, "sessionCode");
}

PresenterReply *PresenterClient::startCollab()
{
    return newCall(true, [this](PresenterReply *call) {
        step(call, QStringLiteral("/quorvane/session/getcollabserverurl"), QByteArray(EMPTY_OBJECT),
             &PresenterClient::getCollabUrlResponse, nullptr, false, [this, call](const RequestOutcome &urlAnswer) {
                 if (collabServerUrl.isEmpty()) {
                     qCDebug(lcClient) << "ERROR: Failed to get collab server URL!";
                     setOwnError(QStringLiteral("CollabServerUrlMissing"));
                     return failCall(call, urlAnswer, Veltro::Error::Service,
                                     QStringLiteral("no collaboration server URL in the answer"));
                 }
                 step(call, QStringLiteral("/quorvane/config/findTenantFeatureDetails"), QByteArray(EMPTY_OBJECT),
                      &PresenterClient::getTenantFeatureDetailsResponse, nullptr, false,
                      [this, call](const RequestOutcome &) { startCollabSession(call); });
             });
    }, PresenterReplyPrivate::Session);
}

void PresenterClient::startCollabSession(PresenterReply *call)
{
    if (!sockJSOverrideProtocols.isEmpty())
        sockJSProtocols = sockJSOverrideProtocols;
    step(call, QStringLiteral("/quorvane/session/start"),
         fill(SESSION_START, {sessionCode, collabServerUrl, hostAppVersion}).toUtf8(),
         &PresenterClient::sessionStartSuccessResponse, &PresenterClient::sessionStartFailureResponse, false,
         [this, call](const RequestOutcome &start) {
             if (!lastError.isNull())
                 return failCall(call, start, Veltro::Error::Service, lastError);
             // A refused start without an error key must not open a connection on no session.
             if (sessionToken.isEmpty()) {
                 qCDebug(lcClient) << "[PresenterClient] ERROR: The session was not started!";
                 setOwnError(QStringLiteral("SessionTokenMissing"));
                 return failCall(call, start, Veltro::Error::Service, QStringLiteral("the service started no session"));
             }
             step(call, QStringLiteral("/quorvane/classroom/session/join"),
                  fill(PRESENTER_JOIN, {sessionCode, userId}).toUtf8(), &PresenterClient::sessionJoinResponse, nullptr,
                  false, [this, call](const RequestOutcome &) { openCollab(call); });
         });
}

void PresenterClient::openCollab(PresenterReply *call)
{
    qCDebug(lcClient).noquote() << tokenForLog(sessionToken);
    qCDebug(lcClient).noquote() << collabServerUrl;

    // The service hands out the same session token again, so the earlier
    // object's goodbye would send every device away: its connection ends
    // quietly instead. The host may still hold it, so it is not deleted.
    if (collab)
        PresenterCollabPrivate::get(collab)->endQuietly();
    collab = new PresenterCollab(this, collabServerUrl, sessionCode, sessionToken, userToken);
    PresenterCollabPrivate::get(collab)->adoptSettings(hub);
    PresenterReplyPrivate::get(call)->collab = collab;
    // The reply's finished() is queued before anything the connection
    // reports, so a host that connects in its finished() slot misses nothing.
    finishCall(call, Veltro::Error::None);
    collab->open(sockJSProtocols);
}

bool PresenterClient::startWebsocket(PresenterCollab **collabOut)
{
    const auto reply = waitFor(startCollab());
    if (!reply || reply->error() != Veltro::Error::None)
        return false;
    if (collabOut)
        *collabOut = reply->collab();
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

PresenterReply *PresenterClient::requestLearners()
{
    return newCall(false, [this](PresenterReply *call) {
        if (sessionToken.isNull()) {
            qCDebug(lcClient) << "[PresenterClient] No session to get users for!";
            return finishCall(call, Veltro::Error::SessionMissing);
        }
        step(call, QStringLiteral("/quorvane/session/getusers"), fill(SESSION_TOKEN_BODY, {sessionToken}).toUtf8(),
             &PresenterClient::getLearnersResponse, nullptr, false, [this, call](const RequestOutcome &o) {
                 if (failedRequest(o))
                     return failCall(call, o, Veltro::Error::Service);
                 if (!learnersRead)
                     return finishCall(call, Veltro::Error::Service, QStringLiteral("the answer carries no learner list"));
                 PresenterReplyPrivate::get(call)->learners = learners;
                 finishCall(call, Veltro::Error::None);
             });
    });
}

bool PresenterClient::doGetLearners()
{
    const auto reply = waitFor(requestLearners());
    return reply && reply->error() != Veltro::Error::SessionMissing;
}

void PresenterClient::getLearnersResponse(QString body)
{
    learnersRead = false;
    QJsonDocument doc;
    if (!parseAnswer(body, &doc))
        return;
    const QJsonValue users = doc.object().value(QLatin1String("data")).toObject().value(QLatin1String("users"));
    if (!users.isArray())
        return;
    learnersRead = true;
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

void PresenterClient::stopStep(PresenterReply *call, Continuation then)
{
    if (sessionToken.isNull()) {
        qCDebug(lcClient) << "[PresenterClient] No session to stop!";
        return then(RequestOutcome());
    }
    auto sendStop = [this, call, then] {
        step(call, QStringLiteral("/quorvane/session/stop"), fill(SESSION_TOKEN_BODY, {sessionToken}).toUtf8(), nullptr,
             nullptr, false, [this, then](const RequestOutcome &o) {
                 qCDebug(lcClient) << "[PresenterClient] Stopping session, closing websocket...";
                 sessionToken = QString();
                 sessionCode = QString();
                 then(o);
             });
    };
    if (!collab)
        return sendStop();
    const bool connected = collab->isConnected();
    collab->close();
    if (!connected)
        return sendStop(); // no transport to end, no goodbye to wait for

    // The session ends after the server has read the devices' goodbye: the
    // stop travels on another connection and could otherwise overtake it.
    // Waited for without a nested loop, up to its bound, which starts anew
    // while frames ahead of the goodbye (a large card) are still compressed
    // on the worker: the caller's thread never waits for them.
    auto *bound = new QTimer(this);
    bound->setSingleShot(true);
    auto closed = std::make_shared<QMetaObject::Connection>();
    auto stopWaiting = [bound, closed] {
        QObject::disconnect(*closed);
        bound->stop();
        bound->deleteLater();
    };
    auto proceed = [call, stopWaiting, sendStop] {
        PresenterReplyPrivate::get(call)->stopWaiting = nullptr;
        stopWaiting();
        sendStop();
    };
    *closed = connect(collab, &PresenterCollab::connectionClosed, this, proceed);
    const QPointer<PresenterCollab> closing = collab;
    connect(bound, &QTimer::timeout, this, [closing, bound, proceed] {
        if (closing && PresenterCollabPrivate::get(closing)->framesInLine())
            return bound->start();
        proceed();
    });
    PresenterReplyPrivate::get(call)->stopWaiting = stopWaiting;
    bound->start(STOP_GOODBYE_WAIT_MS);
}

PresenterReply *PresenterClient::stopSession()
{
    return newCall(true, [this](PresenterReply *call) {
        if (sessionToken.isNull()) {
            qCDebug(lcClient) << "[PresenterClient] No session to stop!";
            return finishCall(call, Veltro::Error::SessionMissing);
        }
        stopStep(call, [this, call](const RequestOutcome &o) {
            if (failedRequest(o))
                return failCall(call, o, Veltro::Error::Service);
            finishCall(call, Veltro::Error::None);
        });
    });
}

bool PresenterClient::doStopSession()
{
    const auto reply = waitFor(stopSession());
    return reply && reply->error() != Veltro::Error::SessionMissing;
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

PresenterReply *PresenterClient::uploadResource(const QString &fileName, const QByteArray &data)
{
    return newCall(false, [this, fileName, data](PresenterReply *call) {
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
        step(call, QStringLiteral("/quorvane/resource/uploadResourceFile"), body,
             &PresenterClient::uploadResourceResponse, nullptr, true, [this, call](const RequestOutcome &o) {
                 if (failedRequest(o))
                     return failCall(call, o, Veltro::Error::Service);
                 if (resourceId.isNull())
                     return finishCall(call, Veltro::Error::Service, QStringLiteral("the answer carries no resource id"));
                 PresenterReplyPrivate *d = PresenterReplyPrivate::get(call);
                 d->resourceId = resourceId;
                 d->downloadPath = QStringLiteral("/quorvane/resource/downloadResourceFile?resourceId=") + resourceId;
                 finishCall(call, Veltro::Error::None);
             });
    });
}

bool PresenterClient::doUploadResource(QString fileName, QByteArray data, QString *resourceIdOut,
                                       QString *downloadPath)
{
    const auto reply = waitFor(uploadResource(fileName, data));
    if (!reply || reply->error() != Veltro::Error::None)
        return false;
    if (resourceIdOut)
        *resourceIdOut = reply->resourceId();
    if (downloadPath)
        *downloadPath = reply->downloadPath();
    return true;
}

void PresenterClient::uploadResourceResponse(QString body)
{
    // Cleared here as well as before the upload: uploads side by side each
    // read their own answer's id.
    resourceId = QString();
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        resourceId = dataText(doc, "id");
}

bool PresenterClient::LzmaDecompress64(QString in, QString *out)
{
    return ::LzmaDecompress64(in, out);
}

// ---------------------------------------------------------------------------
// Settings a host makes once

void PresenterClient::setSslConfiguration(const QSslConfiguration &configuration)
{
    hub->settings().ssl = configuration;
    hub->settings().sslSet = true;
}

QSslConfiguration PresenterClient::sslConfiguration() const
{
    return hub->settings().sslConfiguration();
}

void PresenterClient::addCaCertificates(const QList<QSslCertificate> &certificates)
{
    QSslConfiguration config = sslConfiguration();
    config.addCaCertificates(certificates);
    setSslConfiguration(config);
}

bool PresenterClient::addCaCertificates(const QString &path, QSsl::EncodingFormat format)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, format);
    if (certificates.isEmpty())
        return false;
    addCaCertificates(certificates);
    return true;
}

void PresenterClient::ignoreSslErrors(const QList<QSslError> &errors)
{
    QList<QSslError> &accepted = hub->settings().acceptedSslErrors;
    for (const QSslError &e : errors)
        if (!accepted.contains(e))
            accepted.append(e);
}

void PresenterClient::setProxy(const QNetworkProxy &proxy)
{
    hub->settings().proxy = proxy;
    hub->settings().proxySet = true;
    networkAccessManager->setProxy(proxy);
}

QNetworkProxy PresenterClient::proxy() const
{
    return hub->settings().proxySet ? hub->settings().proxy : QNetworkProxy(QNetworkProxy::DefaultProxy);
}

void PresenterClient::setAutoReconnect(bool on)
{
    hub->settings().autoReconnect = on;
}

bool PresenterClient::autoReconnect() const
{
    return hub->settings().autoReconnect;
}

void PresenterClient::setReconnectDelays(int initialMs, int maxMs)
{
    hub->settings().reconnectInitialMs = initialMs;
    hub->settings().reconnectMaxMs = maxMs;
}

void PresenterClient::setReconnectLimits(int maxAttempts, int maxTotalMs)
{
    hub->settings().reconnectMaxAttempts = maxAttempts;
    hub->settings().reconnectMaxTotalMs = maxTotalMs;
}

void PresenterClient::setDeadLinkLimit(int ms)
{
    hub->settings().deadLinkLimitMs = qMax(0, ms);
}

void PresenterClient::setMaxIncomingFrameSize(qint64 bytes)
{
    hub->settings().maxIncomingFrameSize = bytes;
}
