// PresenterClient's face: construction and teardown, state, the settings a
// host makes once, and the common failure handling. The calls themselves run
// in the call engine (callengine.cpp), the sign-in flows in signin.cpp and
// the sessions and uploads in sessions.cpp.
#include "presenterclient.h"
#include "presenterclient_p.h"

#include "clientbodies_p.h"
#include "logging_p.h"
#include "lowdelaytuner_p.h"
#include "lzmacodec.h"
#include "networksettings_p.h"
#include "presentercollab.h"
#include "presentercollab_p.h"
#include "presenterreply.h"
#include "presenterreply_p.h"
#include "socketupload_p.h"
#include "teardownpost_p.h"
#include "veltrocollabmessage.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <algorithm>

const int PresenterClient::PING_TIMER = 60000;
const int PresenterClient::NETREQUEST_TIMEOUT = 10000;
const QString PresenterClient::MULTIPART_BOUNDARY = QStringLiteral("----boundary");

PresenterClientPrivate::PresenterClientPrivate(PresenterClient *q, const QString &serverAddress)
    : q(q)
    , hostAppVersion(Veltro::VeltroCollabMessage::PROTOCOL_VERSION)
    , server(serverAddress)
    , uploadBoundary(PresenterClient::MULTIPART_BOUNDARY)
{
    if (server.endsWith(QLatin1Char('/')))
        server.chop(1);
}

PresenterClient::PresenterClient(QObject *parent, QString serverAddress)
    : QObject(parent)
    , d(new PresenterClientPrivate(this, serverAddress))
{
    auto *hub = d->hub = new Veltro::NetworkHub(this);
    auto *networkAccessManager = d->networkAccessManager = new Veltro::ClientAccessManager(hub, this);
    // Redirects are handled by slotRequestFinished, never by the network layer.
    networkAccessManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    auto *jar = new QNetworkCookieJar(this);
    networkAccessManager->setCookieJar(jar);
    jar->setParent(this); // the manager adopts the jar; the client keeps it

    connect(hub, &Veltro::NetworkHub::sslErrors, this, &PresenterClient::sslErrors);
    connect(hub, &Veltro::NetworkHub::proxyAuthenticationRequired, this,
            &PresenterClient::proxyAuthenticationRequired);

    connect(networkAccessManager, &QNetworkAccessManager::finished, this, &PresenterClient::slotRequestFinished);
    // The network layer reports the errors a host accepted as well (then
    // ignores them): only a refused handshake is diagnosed, explained to its
    // call and reported to the host.
    connect(networkAccessManager, &QNetworkAccessManager::sslErrors, this,
            [this, hub](QNetworkReply *reply, const QList<QSslError> &errors) {
                const QList<QSslError> &accepted = hub->settings().acceptedSslErrors;
                if (std::all_of(errors.begin(), errors.end(), [&](const QSslError &e) { return accepted.contains(e); }))
                    return;
                slotSslErrors(reply, errors);
                const auto it = d->pendingRequests.find(reply);
                if (it != d->pendingRequests.end())
                    it->tlsText = Veltro::sslErrorsText(errors);
                hub->reportSslErrors(errors, reply->sslConfiguration().peerCertificateChain());
            });
    connect(networkAccessManager, &QNetworkAccessManager::authenticationRequired, this,
            &PresenterClient::authenticationRequired);
    connect(networkAccessManager, &QNetworkAccessManager::proxyAuthenticationRequired, this,
            [hub](const QNetworkProxy &proxy, QAuthenticator *authenticator) {
                hub->authenticateProxy(proxy, authenticator);
            });
    connect(&d->pingTimer, &QTimer::timeout, this, &PresenterClient::onPingTimer);
    d->lowDelay = new Veltro::LowDelayTuner(this);
}

PresenterClient::~PresenterClient()
{
    d->pingTimer.stop();
    // From here on nothing reaches this client again: replies torn down now
    // are not handled, and no host code runs.
    d->networkAccessManager->disconnect(this);
    d->hub->disconnect(this);

    // Calls still pending end Cancelled; calls that ended but were not yet
    // reported keep their outcome. Either way finished() comes from the event
    // loop after the client has gone, and the reply goes right after it.
    // While the application itself is being destroyed no loop follows: such
    // replies go at once, unreported, as every other object does then.
    const bool loopAhead = QCoreApplication::instance() && !QCoreApplication::closingDown();
    const QList<PresenterReply *> calls = findChildren<PresenterReply *>(QString(), Qt::FindDirectChildrenOnly);
    for (PresenterReply *call : calls) {
        PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
        if (c->state == PresenterReplyPrivate::Reported)
            continue; // kept by the host: goes with the client
        if (!c->ended()) {
            if (c->stopWaiting)
                c->stopWaiting();
            c->complete(Veltro::Error::Cancelled, QStringLiteral("cancelled: the client was deleted"), d->lastError);
        }
        c->orphan = true;
        call->setParent(nullptr);
        if (!loopAhead)
            delete call;
    }
    d->queuedCalls.clear();
    d->sideCalls.clear();
    d->runningCall = nullptr;

    // Requests under way end unhandled; a blocking doRequest waiting for one returns.
    const auto pending = d->pendingRequests;
    d->pendingRequests.clear();
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        it.key()->disconnect(this);
        if (it->waiter)
            it->waiter->quit();
        it.key()->abort();
    }

    if (!d->sessionToken.isNull())
        d->stopSessionAtTeardown();
    d->networkAccessManager->deleteLater();
    d->networkAccessManager = nullptr;
    d->learners.clear();
    d->collab = nullptr;
    // The collaboration objects read the hub until they are gone, and the
    // hub, made first, would go first among the children.
    qDeleteAll(findChildren<PresenterCollab *>(QString(), Qt::FindDirectChildrenOnly));
}

void PresenterClientPrivate::stopSessionAtTeardown()
{
    if (collab)
        PresenterCollabPrivate::get(collab)->goodbyeNow();
    Veltro::TeardownPost post;
    post.url = serviceUrl(QStringLiteral("/quorvane/session/stop"));
    post.body = Veltro::fillBody(Veltro::SESSION_TOKEN_BODY, {sessionToken}).toUtf8();
    post.cookies = networkAccessManager->cookieJar()->cookiesForUrl(post.url);
    post.hub = hub;
    QString why;
    if (!Veltro::sendTeardownPost(post, &why))
        qCDebug(lcClient).noquote() << "[PresenterClient] Session stop not delivered:" << why;
    qCDebug(lcClient) << "[PresenterClient] Stopping session, closing websocket...";
    sessionToken = QString();
    sessionCode = QString();
}

// ---------------------------------------------------------------------------
// Failures and diagnosis

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
        d->setOwnError(QStringLiteral("SSLRootCertificateMissing"));
}

void PresenterClient::authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator)
{
    Q_UNUSED(reply)
    if (!d->authUser.isEmpty())
        authenticator->setUser(d->authUser);
    if (!d->authPassword.isEmpty())
        authenticator->setPassword(d->authPassword);
}

QString PresenterClient::getLastError()
{
    return d->lastError;
}

Veltro::Error PresenterClient::lastErrorCode() const
{
    return d->lastCode;
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

void PresenterClient::loginFailureResponse(QNetworkReply *reply, QString body)
{
    Q_UNUSED(reply)
    d->loggedIn = false;
    d->commonFailure(body);
}

void PresenterClient::sessionFailureResponse(QNetworkReply *reply, QString body)
{
    Q_UNUSED(reply)
    d->commonFailure(body);
}

void PresenterClient::sessionStartFailureResponse(QNetworkReply *reply, QString body)
{
    Q_UNUSED(reply)
    d->commonFailure(body);
}

// ---------------------------------------------------------------------------
// State

bool PresenterClient::isLoggedIn()
{
    return d->loggedIn;
}

QString PresenterClient::signedInUser() const
{
    return d->loggedIn ? d->userId : QString();
}

PresenterReply *PresenterClientPrivate::setServer(const QString &address)
{
    return newCall(true, [this, address](PresenterReply *call) {
        if (loggedIn || !sessionToken.isNull())
            return finishCall(call, Veltro::Error::Cancelled,
                              QStringLiteral("cancelled: the address changes only while signed out"));
        server = address;
        if (server.endsWith(QLatin1Char('/')))
            server.chop(1);
        collabServerUrl = QString(); // the earlier service's
        serverReachable = false;
        finishCall(call, Veltro::Error::None);
    });
}

QString PresenterClient::getServer()
{
    return d->server;
}

void PresenterClient::setHostAppVersion(QString version)
{
    d->hostAppVersion = version;
}

QList<Veltro::Learner> PresenterClient::getLearners() const
{
    return d->learners;
}

QString PresenterClient::getSessionCode()
{
    return d->sessionCode;
}

QString PresenterClient::getSessionToken()
{
    return d->sessionToken;
}

void PresenterClient::setSockJSOverrideProtocols(QStringList protocols)
{
    d->sockJSOverrideProtocols = protocols;
}

bool PresenterClient::LzmaDecompress64(QString in, QString *out)
{
    return ::LzmaDecompress64(in, out);
}

// ---------------------------------------------------------------------------
// Settings a host makes once

void PresenterClient::setMaxResponseSize(qint64 bytes)
{
    d->maxResponseSize = qMax<qint64>(1, bytes);
}

void PresenterClient::setSslConfiguration(const QSslConfiguration &configuration)
{
    d->hub->settings().ssl = configuration;
    d->hub->settings().sslSet = true;
}

QSslConfiguration PresenterClient::sslConfiguration() const
{
    return d->hub->settings().sslConfiguration();
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
    QList<QSslError> &accepted = d->hub->settings().acceptedSslErrors;
    for (const QSslError &e : errors)
        if (!accepted.contains(e))
            accepted.append(e);
}

void PresenterClient::setProxy(const QNetworkProxy &proxy)
{
    d->hub->settings().proxy = proxy;
    d->hub->settings().proxySet = true;
    d->networkAccessManager->setProxy(proxy);
}

QNetworkProxy PresenterClient::proxy() const
{
    const Veltro::NetworkSettings &s = d->hub->settings();
    return s.proxySet ? s.proxy : QNetworkProxy(QNetworkProxy::DefaultProxy);
}

void PresenterClient::setAutoReconnect(bool on)
{
    d->hub->settings().autoReconnect = on;
}

bool PresenterClient::autoReconnect() const
{
    return d->hub->settings().autoReconnect;
}

void PresenterClient::setReconnectDelays(int initialMs, int maxMs)
{
    d->hub->settings().reconnectInitialMs = initialMs;
    d->hub->settings().reconnectMaxMs = maxMs;
}

void PresenterClient::setReconnectLimits(int maxAttempts, int maxTotalMs)
{
    d->hub->settings().reconnectMaxAttempts = maxAttempts;
    d->hub->settings().reconnectMaxTotalMs = maxTotalMs;
}

void PresenterClient::setDeadLinkLimit(int ms)
{
    d->hub->settings().deadLinkLimitMs = qMax(0, ms);
}

void PresenterClient::setMaxIncomingFrameSize(qint64 bytes)
{
    d->hub->settings().maxIncomingFrameSize = bytes;
}
