// PresenterClient's classroom sessions (create, start live, learners, stop)
// and resource upload. Each call decides from the answers of its own
// requests, handed from step to step.
#include "presenterclient.h"
#include "presenterclient_p.h"

#include "clientbodies_p.h"
#include "logging_p.h"
#include "presentercollab.h"
#include "presentercollab_p.h"
#include "presenterreply.h"
#include "presenterreply_p.h"
#include "randomstring.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

#include <memory>

using Veltro::fillBody;
using Veltro::RequestOutcome;

namespace {

// The longest doStopSession waits for the live connection's goodbye to be read.
constexpr int STOP_GOODBYE_WAIT_MS = 3000;

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

// ---------------------------------------------------------------------------
// Classroom session

void PresenterClientPrivate::readData(const QString &body, const char *key, QString *field,
                                      QString Veltro::Answer::*own)
{
    QJsonDocument doc;
    if (parseAnswer(body, &doc))
        answer().*own = *field = Veltro::dataText(doc, key);
}

PresenterReply *PresenterClient::startSession()
{
    return d->newCall(true, [this](PresenterReply *call) {
        auto create = [this, call] {
            d->sessionToken = QString();
            d->sessionCode = QString();
            d->lastError = QString();
            d->ownError = false;
            d->step(call, QStringLiteral("/quorvane/session/create"), QByteArray(Veltro::EMPTY_OBJECT),
                    &PresenterClient::sessionSuccessResponse, &PresenterClient::sessionFailureResponse, false,
                    [this, call](const RequestOutcome &o) {
                        PresenterReplyPrivate::get(call)->sessionCode = o.answer.sessionCode;
                        if (!d->failedRequest(o) && !o.answer.sessionCode.isNull())
                            return d->finishCall(call, Veltro::Error::None);
                        d->failCall(call, o, Veltro::Error::Service,
                                    o.answer.serviceError.isNull() ? QStringLiteral("no session code in the answer")
                                                                   : o.answer.serviceError);
                    });
        };
        auto askUser = [this, call, create] {
            d->step(call, QStringLiteral("/quorvane/login/user"), QByteArray(Veltro::EMPTY_OBJECT),
                    &PresenterClient::userNameResponse, nullptr, false,
                    [this, call, create](const RequestOutcome &asked) {
                        // Without an answer the sign-in stands as it was.
                        if (d->failedRequest(asked) ? d->loggedIn : asked.answer.signedIn)
                            return create();
                        d->reLoginStep(call, [this, call, create, asked](const RequestOutcome *signIn) {
                            if (signIn && signIn->answer.signedIn)
                                return create();
                            // The network's reason when it was one, else no sign-in at all.
                            const RequestOutcome &last = signIn ? *signIn : asked;
                            if (last.transport != Veltro::Error::None)
                                return d->finishCall(call, last.transport, last.transportText);
                            const QString why = signIn ? signIn->answer.serviceError : QString();
                            d->finishCall(call, Veltro::Error::NotSignedIn,
                                          why.isNull() ? QString() : QStringLiteral("not signed in: ") + why);
                        });
                    });
        };
        // A session still held (its connection gave up, or its start failed
        // after the service started it) would go on without anybody running it.
        if (d->sessionToken.isNull())
            return askUser();
        d->stopStep(call, [askUser](const RequestOutcome &) { askUser(); });
    }, PresenterReplyPrivate::SignIn, PresenterReplyPrivate::Session);
}

bool PresenterClient::doStartSession()
{
    return doStartSession(QString());
}

bool PresenterClient::doStartSession(QString name)
{
    Q_UNUSED(name) // the service names sessions itself
    const auto reply = d->waitFor(startSession());
    return reply && reply->error() == Veltro::Error::None;
}

void PresenterClient::sessionSuccessResponse(QString body)
{
    d->readData(body, "sessionCode", &d->sessionCode, &Veltro::Answer::sessionCode);
}

PresenterReply *PresenterClient::startCollab()
{
    return d->newCall(true, [this](PresenterReply *call) {
        d->step(call, QStringLiteral("/quorvane/session/getcollabserverurl"), QByteArray(Veltro::EMPTY_OBJECT),
                &PresenterClient::getCollabUrlResponse, nullptr, false, [this, call](const RequestOutcome &urlAnswer) {
                    const QString url = urlAnswer.answer.collabUrl;
                    if (url.isEmpty()) {
                        qCDebug(lcClient) << "ERROR: Failed to get collab server URL!";
                        d->setOwnError(QStringLiteral("CollabServerUrlMissing"));
                        return d->failCall(call, urlAnswer, Veltro::Error::Service,
                                           QStringLiteral("no collaboration server URL in the answer"));
                    }
                    d->step(call, QStringLiteral("/quorvane/config/findTenantFeatureDetails"),
                            QByteArray(Veltro::EMPTY_OBJECT), &PresenterClient::getTenantFeatureDetailsResponse,
                            nullptr, false, [this, call, url](const RequestOutcome &) {
                                d->startCollabSession(call, url);
                            });
                });
    }, PresenterReplyPrivate::Session);
}

void PresenterClientPrivate::startCollabSession(PresenterReply *call, const QString &url)
{
    if (!sockJSOverrideProtocols.isEmpty())
        sockJSProtocols = sockJSOverrideProtocols;
    step(call, QStringLiteral("/quorvane/session/start"),
         fillBody(Veltro::SESSION_START, {sessionCode, url, hostAppVersion}).toUtf8(),
         &PresenterClient::sessionStartSuccessResponse, &PresenterClient::sessionStartFailureResponse, false,
         [this, call, url](const RequestOutcome &start) {
             // Refused with a key, or an answer the library refused itself.
             if (!start.answer.serviceError.isNull() || !start.answer.ownError.isNull())
                 return failCall(call, start, Veltro::Error::Service, start.answer.serviceError);
             // A refused start without an error key must not open a connection on no session.
             const QString token = start.answer.sessionToken;
             if (token.isEmpty()) {
                 qCDebug(lcClient) << "[PresenterClient] ERROR: The session was not started!";
                 setOwnError(QStringLiteral("SessionTokenMissing"));
                 return failCall(call, start, Veltro::Error::Service, QStringLiteral("the service started no session"));
             }
             step(call, QStringLiteral("/quorvane/classroom/session/join"),
                  fillBody(Veltro::PRESENTER_JOIN, {sessionCode, userId}).toUtf8(), &PresenterClient::sessionJoinResponse,
                  nullptr, false, [this, call, url, token](const RequestOutcome &join) {
                      // A join that was not answered leaves the presenter's earlier token.
                      openCollab(call, url, token, failedRequest(join) ? userToken : join.answer.userToken);
                  });
         });
}

void PresenterClientPrivate::openCollab(PresenterReply *call, const QString &url, const QString &token,
                                        const QString &presenterToken)
{
    qCDebug(lcClient).noquote() << tokenForLog(token);
    qCDebug(lcClient).noquote() << url;

    // The service hands out the same session token again, so the earlier
    // object's goodbye would send every device away: its connection ends
    // quietly instead. The host may still hold it, so it is not deleted.
    if (collab)
        PresenterCollabPrivate::get(collab)->endQuietly();
    collab = new PresenterCollab(q, url, sessionCode, token, presenterToken);
    PresenterCollabPrivate::get(collab)->adoptSettings(hub);
    PresenterReplyPrivate::get(call)->collab = collab;
    // The reply's finished() is queued before anything the connection
    // reports, so a host that connects in its finished() slot misses nothing.
    finishCall(call, Veltro::Error::None);
    collab->open(sockJSProtocols);
}

bool PresenterClient::startWebsocket(PresenterCollab **collabOut)
{
    const auto reply = d->waitFor(startCollab());
    if (!reply || reply->error() != Veltro::Error::None)
        return false;
    if (collabOut)
        *collabOut = reply->collab();
    return true;
}

void PresenterClient::getCollabUrlResponse(QString body)
{
    d->readData(body, "url", &d->collabServerUrl, &Veltro::Answer::collabUrl);
}

void PresenterClient::getTenantFeatureDetailsResponse(QString body)
{
    QJsonDocument doc;
    if (d->parseAnswer(body, &doc))
        d->sockJSProtocols = doc.object()
                                 .value(QLatin1String("data"))
                                 .toObject()
                                 .value(QLatin1String("sockJSProtocols"))
                                 .toVariant()
                                 .toStringList();
}

void PresenterClient::sessionStartSuccessResponse(QString body)
{
    d->readData(body, "sessionToken", &d->sessionToken, &Veltro::Answer::sessionToken);
}

void PresenterClient::sessionJoinResponse(QString body)
{
    d->readData(body, "userToken", &d->userToken, &Veltro::Answer::userToken);
}

PresenterReply *PresenterClient::requestLearners()
{
    return d->newCall(false, [this](PresenterReply *call) {
        if (d->sessionToken.isNull()) {
            qCDebug(lcClient) << "[PresenterClient] No session to get users for!";
            return d->finishCall(call, Veltro::Error::SessionMissing);
        }
        d->step(call, QStringLiteral("/quorvane/session/getusers"),
                fillBody(Veltro::SESSION_TOKEN_BODY, {d->sessionToken}).toUtf8(), &PresenterClient::getLearnersResponse,
                nullptr, false, [this, call](const RequestOutcome &o) {
                    if (d->failedRequest(o))
                        return d->failCall(call, o, Veltro::Error::Service);
                    if (!o.answer.learnersRead)
                        return d->finishCall(call, Veltro::Error::Service,
                                             QStringLiteral("the answer carries no learner list"));
                    PresenterReplyPrivate::get(call)->learners = o.answer.learners;
                    d->finishCall(call, Veltro::Error::None);
                });
    });
}

bool PresenterClient::doGetLearners()
{
    const auto reply = d->waitFor(requestLearners());
    return reply && reply->error() != Veltro::Error::SessionMissing;
}

void PresenterClient::getLearnersResponse(QString body)
{
    QJsonDocument doc;
    if (!d->parseAnswer(body, &doc))
        return;
    const QJsonValue users = doc.object().value(QLatin1String("data")).toObject().value(QLatin1String("users"));
    if (!users.isArray())
        return;
    QList<Veltro::Learner> list;
    const QJsonArray entries = users.toArray();
    for (const QJsonValue &entry : entries) {
        const QJsonObject user = entry.toObject();
        if (Veltro::jsonText(user.value(QLatin1String("mode"))) != QLatin1String("learner"))
            continue;
        list.append(Veltro::Learner(Veltro::jsonText(user.value(QLatin1String("userToken"))),
                                    Veltro::jsonText(user.value(QLatin1String("userName"))),
                                    Veltro::jsonText(user.value(QLatin1String("deviceType")))));
    }
    Veltro::Answer &a = d->answer();
    a.learnersRead = true;
    a.learners = d->learners = list;
}

void PresenterClientPrivate::stopStep(PresenterReply *call, Continuation then)
{
    if (sessionToken.isNull()) {
        qCDebug(lcClient) << "[PresenterClient] No session to stop!";
        return then(RequestOutcome());
    }
    auto sendStop = [this, call, then] {
        step(call, QStringLiteral("/quorvane/session/stop"), fillBody(Veltro::SESSION_TOKEN_BODY, {sessionToken}).toUtf8(),
             nullptr, nullptr, false, [this, then](const RequestOutcome &o) {
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
    auto *bound = new QTimer(q);
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
    *closed = QObject::connect(collab, &PresenterCollab::connectionClosed, q, proceed);
    const QPointer<PresenterCollab> closing = collab;
    QObject::connect(bound, &QTimer::timeout, q, [closing, bound, proceed] {
        if (closing && PresenterCollabPrivate::get(closing)->framesInLine())
            return bound->start();
        proceed();
    });
    PresenterReplyPrivate::get(call)->stopWaiting = stopWaiting;
    bound->start(STOP_GOODBYE_WAIT_MS);
}

PresenterReply *PresenterClient::stopSession()
{
    return d->newCall(true, [this](PresenterReply *call) {
        if (d->sessionToken.isNull()) {
            qCDebug(lcClient) << "[PresenterClient] No session to stop!";
            return d->finishCall(call, Veltro::Error::SessionMissing);
        }
        d->stopStep(call, [this, call](const RequestOutcome &o) {
            if (d->failedRequest(o))
                return d->failCall(call, o, Veltro::Error::Service);
            d->finishCall(call, Veltro::Error::None);
        });
    });
}

bool PresenterClient::doStopSession()
{
    const auto reply = d->waitFor(stopSession());
    return reply && reply->error() != Veltro::Error::SessionMissing;
}

// ---------------------------------------------------------------------------
// Resource upload

QString PresenterClient::addMultipartValue(QString name, QString value, bool last)
{
    return QStringLiteral("Content-Disposition: form-data; name=") + name + QStringLiteral("\r\n")
           + QStringLiteral("Content-Type: text/plain; charset=utf-8\r\n\r\n") + value + QStringLiteral("\r\n")
           + QStringLiteral("--") + d->uploadBoundary + (last ? QStringLiteral("--") : QString())
           + QStringLiteral("\r\n") + QStringLiteral("\r\n");
}

QByteArray PresenterClientPrivate::uploadBody(const QString &fileName, const QByteArray &data)
{
    // A file that happens to contain the delimiter would be cut short by the
    // service, so such a file alone travels with a longer boundary.
    uploadBoundary = PresenterClient::MULTIPART_BOUNDARY;
    while (data.contains(QString(QStringLiteral("--") + uploadBoundary).toUtf8()))
        uploadBoundary = PresenterClient::MULTIPART_BOUNDARY + Veltro::randomString(16);
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
    body += q->addMultipartValue(QStringLiteral("isTemporary"), QStringLiteral("true"), false).toUtf8();
    body += q->addMultipartValue(QStringLiteral("clientProvidedGUID"), QStringLiteral("false"), true).toUtf8();
    return body;
}

PresenterReply *PresenterClient::uploadResource(const QString &fileName, const QByteArray &data)
{
    return d->newCall(false, [this, fileName, data](PresenterReply *call) {
        const QByteArray body = d->uploadBody(fileName, data);
        d->resourceId = QString();
        d->step(call, QStringLiteral("/quorvane/resource/uploadResourceFile"), body,
                &PresenterClient::uploadResourceResponse, nullptr, true, [this, call](const RequestOutcome &o) {
                    if (d->failedRequest(o))
                        return d->failCall(call, o, Veltro::Error::Service);
                    const QString id = o.answer.resourceId;
                    if (id.isNull())
                        return d->finishCall(call, Veltro::Error::Service,
                                             QStringLiteral("the answer carries no resource id"));
                    PresenterReplyPrivate *c = PresenterReplyPrivate::get(call);
                    c->resourceId = id;
                    c->downloadPath = QStringLiteral("/quorvane/resource/downloadResourceFile?resourceId=") + id;
                    d->finishCall(call, Veltro::Error::None);
                });
    });
}

bool PresenterClient::doUploadResource(QString fileName, QByteArray data, QString *resourceIdOut,
                                       QString *downloadPath)
{
    const auto reply = d->waitFor(uploadResource(fileName, data));
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
    d->resourceId = QString();
    QJsonDocument doc;
    if (d->parseAnswer(body, &doc))
        d->resourceId = Veltro::dataText(doc, "id");
    d->answer().resourceId = d->resourceId;
}
