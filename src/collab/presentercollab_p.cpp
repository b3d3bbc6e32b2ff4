// The connection's machinery behind PresenterCollab: opening and reopening
// the transport, what its reports mean to the host, and the way of every
// published frame to it.
#include "presentercollab_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include "collabtemplates_p.h"
#include "collaborationmessagehandler.h"
#include "jsonserializer.h"
#include "jsontemplate_p.h"
#include "logging_p.h"
#include "lzmacodec.h"
#include "networksettings_p.h"
#include "veltrocollabmessage.h"
#include "veltrocollabmessage_p.h"

using namespace Veltro;

namespace {

// Failures the host has to act on (accept a certificate, give proxy
// credentials) end the connection instead of being retried in a loop.
bool retryable(Error error)
{
    return error != Error::Tls && error != Error::ProxyAuthenticationRequired;
}

} // namespace

// Measured on a 2-core machine (bench/classroom's publish, kept coders): the
// hand-over to the worker costs the caller 13-18 us with the delivery of the
// result, compressing 256 characters itself 9-15 us, 512 15-22 us, 1024
// 29-41 us. Up to here the caller's thread is as quick and the frame leaves
// without a detour.
const int PresenterCollabPrivate::DEFAULT_BACKGROUND_THRESHOLD = 512;
// Beyond the WebSocket's bounded close handshake (2 s) and an XHR's last post.
const int PresenterCollabPrivate::CLOSE_WAIT_MS = 5000;

PresenterCollabPrivate::PresenterCollabPrivate(PresenterCollab *q, QString serverUrl, QString sessionCode,
                                               QString sessionToken, QString userToken)
    : serverUrl(std::move(serverUrl))
    , sessionCode(std::move(sessionCode))
    , sessionToken(std::move(sessionToken))
    , userToken(std::move(userToken))
    , q(q)
    , outgoing([this] { sendReady(); })
    , sessionPrefix(fillJsonTemplate(QStringLiteral(R"({"type":"publish","address":"%0","body":)"),
                                     {this->sessionToken}))
{
}

QString PresenterCollabPrivate::resolveAddress(const QString &address) const
{
    return address.startsWith(QLatin1Char('.')) ? sessionToken + address : address;
}

void PresenterCollabPrivate::frameArrived(const QString &message)
{
    // The presenter listens on the session address it broadcasts to; its own
    // bodies coming back are not news (a host mirroring a remote "pause"
    // would loop), but their delay is the round-trip figure. Only frames that
    // mention its token are looked into.
    if (!userToken.isEmpty() && message.contains(userToken)) {
        const QJsonObject root = QJsonDocument::fromJson(message.toUtf8()).object();
        const QJsonObject body = root.value(QStringLiteral("body")).toObject();
        const QJsonValue from = body.value(QStringLiteral("from"));
        if (from.isString() && from.toString() == userToken) {
            const QJsonArray data = body.value(QStringLiteral("data")).toArray();
            if (root.value(QStringLiteral("address")).toString() == sessionToken && data.size() == 1)
                echoArrived(body.value(QStringLiteral("type")).toString(), data.at(0).toString());
            qCDebug(lcCollab).noquote() << "[PresenterCollab] Own message ignored";
            return;
        }
    }
    msgHandler->onHandleMessage(message);
}

void PresenterCollabPrivate::transportCameUp()
{
    // Not an attempt this object follows (one a close() stopped, say).
    if (quiet || !attempting || closeRequested)
        return;
    attempting = false;
    transportUp = true;
    sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken}));
    sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken + QStringLiteral(".presenter")}));
    sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken + QStringLiteral(".presenter.") + userToken}));
    linkUp = true;
    error = Error::None;
    errorString.clear();
    backoff.reset();
    retryTimer.stop();
    flushHeld();
    pingTimer.start(pingIntervalMs);
    setState(ConnectionState::Connected);
    notify([this] { emit q->connected(); });
}

void PresenterCollabPrivate::transportEnded(bool bClosedForInactivity)
{
    if (quiet)
        return;
    // Ended while a close() waited for compressions: nothing left to close.
    if (closeRequested || closeWhenSent) {
        ended(bClosedForInactivity);
        return;
    }
    // An attempt that ends before it came up failed.
    if (!transportUp) {
        if (attempting)
            transportOpenFailed();
        return;
    }
    transportUp = false;
    pingTimer.stop();
    linkUp = false;
    takeReason(bClosedForInactivity ? Error::Inactivity : Error::Network);
    qCDebug(lcCollab).noquote() << "[PresenterCollab] Connection ended:" << errorString;
    // The inactivity check ends the session on the host's behalf, like close().
    if (autoReconnect && active && !bClosedForInactivity && retryable(error)) {
        scheduleRetry();
        return;
    }
    ended(bClosedForInactivity);
}

void PresenterCollabPrivate::setPingInterval(int ms)
{
    pingIntervalMs = ms;
    if (pingTimer.isActive())
        pingTimer.start(pingIntervalMs);
}

void PresenterCollabPrivate::openTransport(const QList<int> &list)
{
    const HostCall call(this);
    if (state == ConnectionState::Connecting || state == ConnectionState::Connected
        || state == ConnectionState::Reconnecting) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] Already open: close() it before opening again";
        return;
    }
    protocols = list;
    if (state == ConnectionState::Closing) {
        // The new connection starts once the earlier one has ended.
        reopenPending = true;
        return;
    }
    active = true;
    quiet = false;
    closeRequested = false;
    retryTimer.stop();
    backoff.reset();
    error = Error::None;
    errorString.clear();
    setState(ConnectionState::Connecting);
    transport->setDeadLinkLimit(deadLinkLimitMs);
    attempting = true;
    transportUp = false;
    transport->open(QUrl(serverUrl), protocols);
}

void PresenterCollabPrivate::adoptSettings(NetworkHub *hub)
{
    if (!hub)
        return;
    const NetworkSettings &s = hub->settings();
    autoReconnect = s.autoReconnect;
    backoff.setDelays(s.reconnectInitialMs, s.reconnectMaxMs);
    backoff.setLimits(s.reconnectMaxAttempts, s.reconnectMaxTotalMs);
    deadLinkLimitMs = qMax(0, s.deadLinkLimitMs);
    transport->setDeadLinkLimit(deadLinkLimitMs);
    connector->setMaxFrameSize(s.maxIncomingFrameSize);
    transport->setNetworkHub(hub);
}

void PresenterCollabPrivate::goodbyeNow()
{
    // Built and compressed here: nothing may wait for the worker or a loop.
    QString goodbye;
    // (A close() waiting for a compression has taken the link down, not yet the transport.)
    if ((linkUp || closeWhenSent) && transport->isConnected()) {
        QString compressed;
        lzmaCompress64(coder, EMPTY_JSON_STRING, &compressed);
        goodbye = fillJsonTemplate(PUBLISH_ENVELOPE_TEMPLATE,
                                   {sessionToken, userToken, QStringLiteral("disconnect"), compressed});
    }
    quiet = true;
    active = false;
    resetLink();
    held.clear();
    outgoing.clear();
    outbox.clear();
    state = ConnectionState::Closed;
    meter.clear();
    transport->closeNow(goodbye);
}

void PresenterCollabPrivate::endQuietly()
{
    const HostCall call(this);
    quiet = true;
    active = false;
    resetLink();
    held.clear();
    outgoing.clear();
    transport->close();
    setState(ConnectionState::Closed);
}

void PresenterCollabPrivate::notify(std::function<void()> emitter)
{
    if (hostCalls == 0 && outbox.isEmpty()) {
        emitter();
        return;
    }
    outbox.append(std::move(emitter));
    scheduleFlush();
}

void PresenterCollabPrivate::scheduleFlush()
{
    if (flushScheduled)
        return;
    flushScheduled = true;
    QMetaObject::invokeMethod(q, [this] { flushOutbox(); }, Qt::QueuedConnection);
}

void PresenterCollabPrivate::flushOutbox()
{
    flushScheduled = false;
    // A transport that still opens in place may turn the event loop inside a
    // call of the host; the call's end schedules the flush again.
    if (hostCalls > 0)
        return;
    // A slot may delete the object; nothing is touched after that.
    const QPointer<PresenterCollab> alive(q);
    while (!outbox.isEmpty()) {
        const std::function<void()> emitter = outbox.takeFirst();
        emitter();
        if (!alive)
            return;
    }
}

void PresenterCollabPrivate::setState(ConnectionState s)
{
    if (state == s)
        return;
    const ConnectionState was = state;
    state = s;
    qCDebug(lcCollab).noquote() << "[PresenterCollab] State" << int(was) << "->" << int(s);
    notify([this, s] { emit q->stateChanged(s); });
    if (was == ConnectionState::Connected && meter.clear())
        notify([this] { emit q->roundTripChanged(-1); });
}

void PresenterCollabPrivate::takeReason(Error fallback)
{
    error = transport->error();
    errorString = transport->errorString();
    if (error == Error::None)
        error = fallback;
    if (errorString.isEmpty())
        errorString = errorDescription(error);
}

void PresenterCollabPrivate::resetLink()
{
    attempting = false;
    transportUp = false;
    closeRequested = false;
    closeWhenSent = false;
    reopenPending = false;
    linkUp = false;
    retryTimer.stop();
    closeTimer.stop();
    pingTimer.stop();
}

void PresenterCollabPrivate::ended(bool bClosedForInactivity)
{
    const bool reopen = reopenPending;
    active = false;
    resetLink();
    held.clear();
    setState(ConnectionState::Closed);
    notify([this, bClosedForInactivity] { emit q->connectionClosed(bClosedForInactivity); });
    if (reopen)
        openTransport(protocols);
}

void PresenterCollabPrivate::transportOpenFailed()
{
    if (quiet)
        return;
    // The attempt a close() stopped has ended: so has the close.
    if (closeRequested) {
        ended(false);
        return;
    }
    // Not an attempt this object follows.
    if (!attempting)
        return;
    attempting = false;
    takeReason(Error::Network);
    qCDebug(lcCollab).noquote() << "[PresenterCollab] No transport came up:" << errorString;
    if (autoReconnect && active && retryable(error))
        scheduleRetry();
    else
        ended(false); // not retried: the host hears of it
}

void PresenterCollabPrivate::sendFrame(const QString &frame)
{
    transport->send(frame, false);
    const QString key = RoundTripMeter::keyOfFrame(frame, sessionPrefix);
    if (!key.isNull())
        meter.sent(key, nowMs());
}

void PresenterCollabPrivate::echoArrived(const QString &type, QStringView payload)
{
    if (state == ConnectionState::Connected && meter.echoed(RoundTripMeter::key(type, payload), nowMs())) {
        const int ms = meter.reported();
        notify([this, ms] { emit q->roundTripChanged(ms); });
    }
}

void PresenterCollabPrivate::hold(const QString &frame)
{
    if (held.push(frame) > 0)
        qCWarning(lcCollab).noquote() << "[PresenterCollab] Outgoing hold full: oldest frames dropped, total"
                                      << held.dropped();
}

void PresenterCollabPrivate::publishEnvelope(const QString &address, const QString &type, qsizetype size,
                                             const TextMaker &data)
{
    if (!holding() && !transport->isConnected()) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] SockJS socket not connected!";
        return;
    }
    // The payload is the envelope's last value and needs no escaping (Base64),
    // so the frame is the envelope up to it, the payload, and the tail.
    QString head = fillJsonTemplate(PUBLISH_ENVELOPE_TEMPLATE, {resolveAddress(address), userToken, type, QString()});
    head.chop(ENVELOPE_TAIL.size());
    publish(head, size, data, ENVELOPE_TAIL, EnvelopeFrame);
}

void PresenterCollabPrivate::publishBody(const QString &address, VeltroCollabMessage *message)
{
    message->setfrom(userToken);
    QString json;
    const bool hasPayload = VeltroCollabMessagePrivate::payloadJson(*message, &json);
    if (!hasPayload || json.size() <= backgroundThreshold) {
        if (hasPayload) {
            // What compileData() does, without serializing the payload twice.
            QString compressed;
            lzmaCompress64(coder, json, &compressed);
            message->setdata(QVariantList{compressed});
        } else {
            message->compileData(); // writes the invalid-data line, leaves `data` as it is
        }
        const QString body = JsonSerializer::serializeToJson(message);
        publishFrame(fillJsonTemplate(PUBLISH_BODY_TEMPLATE, {resolveAddress(address), body}), BodyFrame);
        return;
    }
    // A large payload: the body is serialized now around a stand-in for the
    // compressed text, which the worker puts in its place. The message keeps
    // its plain data, as the caller may destroy it before the worker is done.
    const QVariant plain = message->getdata();
    message->setdata(QVariantList{PENDING_PAYLOAD});
    const QString body = JsonSerializer::serializeToJson(message);
    message->setdata(plain);
    const auto at = body.indexOf(PENDING_PAYLOAD);
    // The body is the frame template's last value, followed only by "}".
    QString head = fillJsonTemplate(PUBLISH_BODY_TEMPLATE, {resolveAddress(address), body.left(at)});
    head.chop(1);
    const qsizetype size = json.size();
    publish(head, size, [json = std::move(json)] { return json; },
            body.mid(at + PENDING_PAYLOAD.size()) + QLatin1Char('}'), BodyFrame);
}

void PresenterCollabPrivate::publish(const QString &head, qsizetype size, const TextMaker &text,
                                     const QString &tail, FrameKind kind)
{
    if (size > backgroundThreshold) {
        outgoing.appendCompressed(head, text, tail, kind);
        return;
    }
    QString compressed;
    lzmaCompress64(coder, text(), &compressed);
    publishFrame(head + compressed + tail, kind);
}

void PresenterCollabPrivate::publishFrame(QString frame, FrameKind kind)
{
    if (outgoing.isEmpty())
        deliver(frame, kind);
    else
        outgoing.append(std::move(frame), kind);
}

// Where a frame goes once everything published before it has gone: the same
// rules as at the moment of publishing, applied to the link's state now.
void PresenterCollabPrivate::deliver(const QString &frame, int kind)
{
    if (kind == BodyFrame)
        qCDebug(lcCollab).noquote() << "TRANSMIT: " + frameForLog(frame);
    if (holding())
        hold(frame);
    else if (kind == EnvelopeFrame && !transport->isConnected())
        qCDebug(lcCollab).noquote() << "[PresenterCollab] SockJS socket not connected!";
    else
        sendFrame(frame);
}

void PresenterCollabPrivate::sendReady()
{
    const QList<PublishQueue::Frame> frames = outgoing.takeReady();
    for (const PublishQueue::Frame &f : frames)
        deliver(f.text, f.kind);
    if (closeWhenSent && outgoing.isEmpty())
        finishClose();
}

void PresenterCollabPrivate::finishClose()
{
    closeWhenSent = false;
    closeRequested = true;
    // A transport that never reports its end does not keep the close open.
    closeTimer.start(CLOSE_WAIT_MS);
    transport->close();
}

void PresenterCollabPrivate::flushHeld()
{
    const QStringList frames = held.takeAll();
    if (!frames.isEmpty())
        qCDebug(lcCollab).noquote() << "[PresenterCollab] Sending" << frames.size() << "frames held while down";
    for (const QString &f : frames)
        sendFrame(f);
}

void PresenterCollabPrivate::scheduleRetry()
{
    const int delay = backoff.next(clock.elapsed(), QRandomGenerator::global()->generateDouble());
    if (delay < 0) {
        giveUp();
        return;
    }
    qCDebug(lcCollab).noquote() << "[PresenterCollab] Link down; attempt" << backoff.attempt() << "in" << delay << "ms";
    retryTimer.start(delay);
    setState(ConnectionState::Reconnecting);
    const int attempt = backoff.attempt();
    notify([this, attempt, delay] { emit q->reconnecting(attempt, delay); });
}

void PresenterCollabPrivate::retry()
{
    if (!active || !autoReconnect || quiet)
        return;
    attempting = true;
    transportUp = false;
    // The connector draws a new SockJS session id for every open.
    transport->open(QUrl(serverUrl), protocols);
}

void PresenterCollabPrivate::giveUp()
{
    qCWarning(lcCollab).noquote() << "[PresenterCollab] Reconnection given up after" << backoff.attempt()
                                  << "attempts;" << held.size() << "held frames discarded";
    ended(false);
}

void PresenterCollabPrivate::setPollState(PollState s, bool newPoll)
{
    if (pollState == s && !newPoll)
        return;
    pollState = s;
    notify([this, s] { emit q->pollStateChanged(s); });
}

void PresenterCollabPrivate::publishPollControl(const QString &address, const QString &type)
{
    q->publishMessage(address, type, fillJsonTemplate(QUOTED_STRING_TEMPLATE, {pollId}));
}
