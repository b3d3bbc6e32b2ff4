// The call engine of PresenterClient: requests (redirects, size limits,
// bounds), the handlers' dispatch, and calls: one queue for what changes the
// sign-in or the session, the rest beside it; each call a chain of requests
// ending in its reply, each step handed the answer of its own request.
#include "presenterclient.h"
#include "presenterclient_p.h"

#include "gzip_p.h"
#include "logging_p.h"
#include "lowdelaytuner_p.h"
#include "networksettings_p.h"
#include "presentercollab.h"
#include "presenterreply.h"
#include "presenterreply_p.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

namespace {

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

} // namespace

const qint64 PresenterClientPrivate::DEFAULT_MAX_RESPONSE_SIZE = qint64(4) * 1024 * 1024;

QUrl PresenterClientPrivate::serviceUrl(const QString &path) const
{
    return QUrl(server + path, QUrl::TolerantMode);
}

// ---------------------------------------------------------------------------
// Requests

QNetworkReply *PresenterClientPrivate::sendRequest(const QUrl &url, const QByteArray &body, SuccessHandler success,
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
    callbacks.bound = new QTimer(q);
    callbacks.bound->setSingleShot(true);
    callbacks.bound->setTimerType(Qt::PreciseTimer); // a coarse timer may end the wait 5% early
    QObject::connect(callbacks.bound, &QTimer::timeout, q, [this, reply] {
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

void PresenterClientPrivate::lookUpForTeardown(const QUrl &url)
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
    QNetworkReply *reply = d->sendRequest(url, body, success, failure, multipart, nullptr, nullptr);
    if (!wait)
        return;

    // Only this request's own completion (or its own bound) ends this wait,
    // so a nested request answered meanwhile cannot cut it short.
    bool finished = false;
    QEventLoop loop;
    auto it = d->pendingRequests.find(reply);
    it->finished = &finished;
    it->waiter = &loop;
    QPointer<PresenterClient> self(this);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!self || finished)
        return;
    // Ended some other way: a completion coming later must not touch these locals.
    it = d->pendingRequests.find(reply);
    if (it != d->pendingRequests.end()) {
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

void PresenterClientPrivate::limitResponseSize(QNetworkReply *reply)
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
    QObject::connect(reply, &QNetworkReply::metaDataChanged, q, [reply, check] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            check(0, length.toLongLong());
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, q, check);
}

bool PresenterClientPrivate::parseAnswer(const QString &body, QJsonDocument *doc) const
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

void PresenterClientPrivate::outcomeOf(QNetworkReply *reply, const RequestCallbacks &callbacks, bool tooLarge,
                                       const QByteArray &body, RequestOutcome *out) const
{
    if (callbacks.timedOut) {
        out->transport = Veltro::Error::Timeout;
        out->transportText = QStringLiteral("timed out: no answer within %1 ms").arg(requestBoundMs);
    } else if (callbacks.cancelled) {
        out->transport = Veltro::Error::Cancelled;
    } else if (tooLarge) {
        out->transport = Veltro::Error::ResponseTooLarge;
    } else if (reply->error() != QNetworkReply::NoError) {
        const Veltro::Error kind = Veltro::errorFromReply(reply->error());
        out->status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (kind == Veltro::Error::Service || out->status >= 400) {
            out->httpError = true;
            const QVariantList keys = QJsonDocument::fromJson(body).object().toVariantMap()
                                          .value(QStringLiteral("errorMsgKeys")).toList();
            if (!keys.isEmpty() && keys.first().toString().contains(QLatin1String("error")))
                out->serviceKey = keys.first().toString();
        } else {
            out->transport = kind;
            if (kind == Veltro::Error::Tls && !callbacks.tlsText.isEmpty())
                out->transportText = callbacks.tlsText;
            else if (kind == Veltro::Error::Network)
                out->transportText = reply->errorString();
        }
    }
    if (out->transport != Veltro::Error::None && out->transportText.isEmpty())
        out->transportText = Veltro::errorDescription(out->transport);
}

void PresenterClientPrivate::completeRequest(QNetworkReply *reply, const RequestOutcome &outcome)
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
        PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
        if (c->request == reply)
            c->request = nullptr;
        if (!c->ended() && c->state == PresenterReplyPrivate::Cancelling)
            finishCall(call, Veltro::Error::Cancelled);
        else if (!c->ended() && callbacks.then)
            callbacks.then(outcome);
    }
}

void PresenterClient::slotRequestFinished(QNetworkReply *reply)
{
    d->requestFinished(reply);
}

void PresenterClientPrivate::requestFinished(QNetworkReply *reply)
{
    // A connection the manager opened for this request now exists; later
    // requests on it must not wait on Nagle's algorithm.
    lowDelay->tune();
    // What the host is told changed is what this answer changed, once it is handled.
    const bool signedInBefore = loggedIn;
    const QString codeBefore = sessionCode;
    const QString tokenBefore = sessionToken;
    QPointer<PresenterClient> self(q);
    bool lost = false;
    const auto announce = [&] {
        if (loggedIn != signedInBefore)
            emit q->signedInChanged(loggedIn);
        if (self && (sessionCode != codeBefore || sessionToken != tokenBefore))
            emit q->sessionChanged();
        if (self && lost)
            emit q->signInLost();
        if (self)
            emit q->requestProcessed();
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
    // The handler reads this answer into the request's own outcome, which
    // the call's next step is handed.
    RequestOutcome outcome;
    answerBytes = raw;
    answering = &outcome.answer;
    submittingRegistration = callbacks.registrationSubmit;
    if (reply->error() != QNetworkReply::NoError || tooLarge) {
        qCDebug(lcClient).noquote()
            << QStringLiteral("ERROR: %1\nRESPONSE: %2").arg(reply->errorString(), answerForLog(body));
        if (callbacks.failure)
            (q->*callbacks.failure)(reply, body);
    } else if (callbacks.success) {
        (q->*callbacks.success)(body);
    }
    if (!self)
        return; // a handler overridden by the host deleted the client
    if (tooLarge) {
        qCWarning(lcClient) << "[PresenterClient] Answer larger than" << maxResponseSize << "bytes refused";
        setOwnError(QStringLiteral("ResponseTooLarge"));
    }
    submittingRegistration = false;
    answering = nullptr;
    answerBytes = QByteArray();
    outcomeOf(reply, callbacks, tooLarge, raw, &outcome);
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

void PresenterClientPrivate::loseSignIn()
{
    qCWarning(lcClient) << "[PresenterClient] The service no longer knows the sign-in; the session is gone";
    loggedIn = false;
    pingTimer.stop();
    if (PresenterCollab *c = collab)
        c->close(); // the devices are told the session is over
    sessionToken = QString();
    sessionCode = QString();
}

void PresenterClientPrivate::setOwnError(const QString &text)
{
    lastError = text;
    ownError = true;
    answer().ownError = text;
}

void PresenterClientPrivate::setServiceError(const QString &text)
{
    lastError = text;
    ownError = false;
    answer().serviceError = text;
}

void PresenterClientPrivate::commonFailure(const QString &body)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc)) {
        QString key;
        q->isErrorInErrorMsgKeys(doc.toVariant(), key);
        setServiceError(key);
    }
}

// ---------------------------------------------------------------------------
// Calls

PresenterReply *PresenterClientPrivate::newCall(bool serial, std::function<void(PresenterReply *)> begin, int needs,
                                                int provides)
{
    auto *call = new PresenterReply(q);
    PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
    c->serial = serial;
    c->begin = std::move(begin);
    c->needs = needs;
    c->provides = provides;
    if (serial) {
        queuedCalls.append(call);
        startNextSerial();
    } else {
        sideCalls.append(call);
        startCall(call);
    }
    return call;
}

void PresenterClientPrivate::startCall(PresenterReply *call)
{
    PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
    c->state = PresenterReplyPrivate::Running;
    // A text of the library's own describes the call it ended; the next starts afresh.
    if (ownError) {
        lastError = QString();
        ownError = false;
    }
    const auto begin = std::move(c->begin);
    c->begin = nullptr;
    begin(call);
}

void PresenterClientPrivate::startNextSerial()
{
    if (runningCall || queuedCalls.isEmpty())
        return;
    runningCall = queuedCalls.takeFirst();
    startCall(runningCall);
}

void PresenterClientPrivate::cancelDependents(int missing)
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

void PresenterClientPrivate::step(PresenterReply *call, const QString &path, const QByteArray &body,
                                  SuccessHandler success, FailureHandler failure, bool multipart, Continuation then)
{
    PresenterReplyPrivate::get(call)->request =
        sendRequest(serviceUrl(path), body, success, failure, multipart, call, std::move(then));
}

void PresenterClientPrivate::finishCall(PresenterReply *call, Veltro::Error error, const QString &text)
{
    PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
    if (c->ended())
        return;
    if (c->stopWaiting) {
        const auto stop = std::move(c->stopWaiting);
        c->stopWaiting = nullptr;
        stop();
    }
    queuedCalls.removeOne(call);
    sideCalls.removeOne(call);
    c->complete(error, text.isEmpty() ? Veltro::errorDescription(error) : text, lastError);
    if (error != Veltro::Error::None)
        cancelDependents(c->provides);
    if (runningCall == call) {
        // The next call starts from the event loop, after this one's finished():
        // never inside the end of this one, where the host's order could be overtaken.
        runningCall = nullptr;
        QMetaObject::invokeMethod(q, [this] { startNextSerial(); }, Qt::QueuedConnection);
    }
}

bool PresenterClientPrivate::failedRequest(const RequestOutcome &o)
{
    return o.transport != Veltro::Error::None || o.redirected || o.httpError;
}

void PresenterClientPrivate::failCall(PresenterReply *call, const RequestOutcome &o, Veltro::Error error,
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

void PresenterClientPrivate::cancelCall(PresenterReply *call)
{
    PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
    if (c->state == PresenterReplyPrivate::Queued)
        return finishCall(call, Veltro::Error::Cancelled);
    c->state = PresenterReplyPrivate::Cancelling;
    const auto it = c->request ? pendingRequests.find(c->request) : pendingRequests.end();
    if (it == pendingRequests.end())
        return finishCall(call, Veltro::Error::Cancelled); // between steps, or waiting for the goodbye
    it->cancelled = true;
    // Completes through the failure path, and the call with it.
    c->request->abort();
}

void PresenterClientPrivate::forgetCall(PresenterReply *call)
{
    // The host deleted a pending reply: the call ends without a word.
    PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
    if (c->stopWaiting)
        c->stopWaiting();
    c->stopWaiting = nullptr;
    c->state = PresenterReplyPrivate::Ended;
    c->client = nullptr;
    queuedCalls.removeOne(call);
    sideCalls.removeOne(call);
    const auto it = c->request ? pendingRequests.find(c->request) : pendingRequests.end();
    if (it != pendingRequests.end()) {
        it->call = nullptr;
        it->then = nullptr;
        it->cancelled = true;
        c->request->abort();
    }
    if (runningCall == call) {
        runningCall = nullptr;
        QMetaObject::invokeMethod(q, [this] { startNextSerial(); }, Qt::QueuedConnection);
    }
}

std::unique_ptr<PresenterReply> PresenterClientPrivate::waitFor(PresenterReply *call)
{
    call->setAutoDelete(false);
    QPointer<PresenterClient> self(q);
    QPointer<PresenterReply> guard(call);
    if (!call->isFinished()) {
        // Every request of the call is bounded, so this wait is too; only
        // the call's own end finishes it.
        QEventLoop loop;
        QObject::connect(call, &PresenterReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(call, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!self || !guard)
        return nullptr; // the host deleted the client meanwhile: the reply goes by itself
    lastCode = call->error();
    return std::unique_ptr<PresenterReply>(call);
}
