#include "presentercollab.h"
#include "presentercollab_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSignalBlocker>
#include <QUrl>
#include <QUuid>

#include "card.h"
#include "collaborationmessagehandler.h"
#include "jsontemplate_p.h"
#include "logging_p.h"
#include "networksettings_p.h"
#include "lzmacodec.h"
#include "jsonserializer.h"
#include "questionbase.h"
#include "questionbasewithoptions.h"
#include "questionmathformula.h"
#include "questionmultichoice.h"
#include "questionnumeric.h"
#include "questionscale.h"
#include "questionsort.h"
#include "questiontext.h"
#include "questionyesno.h"
#include "sockjsconnector.h"
#include "veltrocollabmessage.h"

using namespace Veltro;

namespace {

// Wire texts of the event bus, all filled by fillJsonTemplate.
const QString REGISTER_TEMPLATE = QStringLiteral(R"({"type":"register","address":"%0"})");
const QString PING_FRAME = QStringLiteral(R"({"type":"ping"})");
const QString PUBLISH_ENVELOPE_TEMPLATE =
    QStringLiteral(R"({"type":"publish","address":"%0","body":{"from":"%1","type":"%2","data":["%3"]}})");
const QString PUBLISH_BODY_TEMPLATE = QStringLiteral(R"({"type":"publish","address":"%0","body":%1})");
// What follows the payload (%3) in the envelope: it is the template's last value.
const QString ENVELOPE_TAIL = QStringLiteral(R"("]}})");
// Stands for a payload still being compressed while the body is serialized.
// "data" is the body's first member, so its first occurrence is the payload's.
const QString PENDING_PAYLOAD = QStringLiteral("veltro-pending-payload");
const QString QUOTED_STRING_TEMPLATE = QStringLiteral(R"("%0")");
const QString EMPTY_JSON_STRING = QStringLiteral(R"("")");
const QString CURRENT_CARD_TEMPLATE =
    QStringLiteral(R"({"currentCard":"%0", "cards": [%1], "totalCards":"%2"})");
const QString CARD_NAME_TEMPLATE = QStringLiteral(R"({"name":"%0"})");
const QString CURRENT_LESSON_TEMPLATE = QStringLiteral(R"({"lessonId":"%0", "name":"%1"})");
const QString IMAGE_CARD_TEMPLATE = QStringLiteral(
    R"({"segment":{"id":"%0"},"isTeacherCard":true,"autoSend":true,"notes":null,"tracks":[],"visible":true,)"
    R"("ordinal":1,"styles":{"backgroundColor":"","backgroundImage":""},"components":[{"ordinal":1397148149039,)"
    R"("styles":{"anchor":false,"width":770,"left":15,"height":570,"top":15},"blob":{"url":"%1"},"type":"image"}],)"
    R"("trackSortSeq":0,"_tId":"DF8A71DA-3EF2-44E3-9B2F-F651C7A8B0F9","hasStudentCards":false})");
const QString POLL_QUESTION_TEMPLATE = QStringLiteral(
    R"({"type":"%0","expressionQuestionId":1,"metadata":{"ordinalType":"%1","options":[%6]},"id":"%5",)"
    R"("sessionToken":"%2","sessionCode":"%3","lessonId":null,"startTime":%4,"lastUpdatedOn":%4,)"
    R"("card":{"segment":"fake-id","tracks":[{"placeholder":true}],"visible":true,"ordinal":1395358139515,)"
    R"("styles":{"backgroundColor":"","backgroundImage":"%7","backgroundSize":"100%"},"components":[]},)"
    R"("unrespondedUsers":[]})");
const QString POLL_TIME_STAMP = QStringLiteral("1395358151638");
const QString IMAGE_DATA_URL_PREFIX = QStringLiteral("data:image/png;base64,");

QString imageDataUrl(const QByteArray &png)
{
    return IMAGE_DATA_URL_PREFIX + QString::fromLatin1(png.toBase64());
}

// Drops the background image a question's card carries as data; a plain URL is small and stays.
void releaseCardImage(QuestionBase *question)
{
    auto *card = qobject_cast<Card *>(question->getcard());
    if (card && card->getBackgroundImage().startsWith(QLatin1String("data:")))
        card->setBackgroundImage(QString());
}

const QList<QPair<SockJSProtocol, QString>> &protocolNames()
{
    static const QList<QPair<SockJSProtocol, QString>> names{
        {WEBSOCKET, QStringLiteral("websocket")},
        {XHR_STREAMING, QStringLiteral("xhr-streaming")},
        {XHR_POLLING, QStringLiteral("xhr-polling")}};
    return names;
}

const QList<int> defaultProtocols{WEBSOCKET, XHR_STREAMING, XHR_POLLING};

QList<int> protocolsFromNames(const QStringList &names)
{
    QList<int> result;
    for (const QString &name : names) {
        for (const auto &entry : protocolNames()) {
            if (entry.second == name) {
                result.append(entry.first);
                break;
            }
        }
    }
    return result;
}

// The JSON text VeltroCollabMessage::compileData() compresses: the data
// object, else a map in `data`. False, with its debug line, for neither.
bool payloadJson(const VeltroCollabMessage &message, QString *json)
{
    if (QObject *object = message.getdataobject()) {
        *json = JsonSerializer::serializeToJson(object);
        return true;
    }
    if (message.getdata().canConvert<QVariantMap>()) {
        *json = JsonSerializer::serializeToJson(message.getdata().toMap());
        return true;
    }
    return false;
}

// Failures the host has to act on (accept a certificate, give proxy
// credentials) end the connection instead of being retried in a loop.
bool retryable(Error error)
{
    return error != Error::Tls && error != Error::ProxyAuthenticationRequired;
}

QString newUuidText()
{
    return QUuid::createUuid().toString().remove(QLatin1Char('{')).remove(QLatin1Char('}'));
}

// The generated option i of a poll with the given label kind: (id, text).
QPair<QString, QString> generatedOption(OrdinalType::ORDINAL_TYPE ordinalType, int i)
{
    static const QStringList trueFalse{QStringLiteral("TRUE"), QStringLiteral("FALSE"), QStringLiteral("DONTKNOW")};
    static const QStringList yesNo{QStringLiteral("YES"), QStringLiteral("NO"), QStringLiteral("DONTKNOW")};
    const QString abId = i == 0 ? QStringLiteral("A") : i == 1 ? QStringLiteral("B") : QStringLiteral("?");
    switch (ordinalType) {
    case OrdinalType::ALPHA_LOWER:
        return {QString(QChar(ushort('a' + i))), QString()};
    case OrdinalType::ALPHA_UPPER:
        return {QString(QChar(ushort('A' + i))), QString()};
    case OrdinalType::TRUE_FALSE:
        return {abId, trueFalse.at(qMin(i, 2))};
    case OrdinalType::YES_NO:
    case OrdinalType::YES_NO_MAYBE:
    case OrdinalType::YES_NO_UNSURE:
    case OrdinalType::YES_NO_OTHER:
        return {abId, yesNo.at(qMin(i, 2))};
    default:
        return {QString::number(i), QString()};
    }
}

} // namespace

const int PresenterCollab::PING_TIMER = 60000;
const int PresenterCollab::HEAVY_BYTE_THRESHOLD = 524288;
// Measured on a 2-core machine (bench/classroom's publish, kept coders): the
// hand-over to the worker costs the caller 13-18 us with the delivery of the
// result, compressing 256 characters itself 9-15 us, 512 15-22 us, 1024
// 29-41 us. Up to here the caller's thread is as quick and the frame leaves
// without a detour.
const int PresenterCollabPrivate::DEFAULT_BACKGROUND_THRESHOLD = 512;
// Beyond the WebSocket's bounded close handshake (2 s) and an XHR's last post.
const int PresenterCollabPrivate::CLOSE_WAIT_MS = 5000;

namespace {

// The library's transport: the SockJS connector.
class ConnectorTransport : public CollabTransport
{
public:
    explicit ConnectorTransport(SockJSConnector *c) : connector(c) {}
    void open(const QUrl &url, const QList<int> &protocols) override
    {
        QList<SockJSProtocol> list;
        for (int value : protocols)
            list.append(static_cast<SockJSProtocol>(value));
        connector->open(url, list);
    }
    void send(const QString &frame, bool bIsPing) override { connector->send(frame, bIsPing); }
    bool isConnected() const override { return connector->isConnected(); }
    void close() override { connector->close(); }
    void setDeadLinkLimit(int ms) override { connector->setDeadLinkLimit(ms); }
    Veltro::Error error() const override { return connector->error(); }
    QString errorString() const override { return connector->errorString(); }
    void closeNow(const QString &lastFrame) override { connector->closeNow(lastFrame); }
    void setNetworkHub(NetworkHub *hub) override { connector->setNetworkHub(hub); }

private:
    SockJSConnector *connector;
};

} // namespace

PresenterCollab::PresenterCollab(QObject *parent, QString serverUrl, QString sessionCode,
                                 QString sessionToken, QString userToken)
    : QObject(parent)
    , serverUrl(std::move(serverUrl))
    , sessionCode(std::move(sessionCode))
    , sessionToken(std::move(sessionToken))
    , userToken(std::move(userToken))
    , d(new PresenterCollabPrivate(this))
{
    qRegisterMetaType<Veltro::ConnectionState>();
    qRegisterMetaType<Veltro::Error>();
    qRegisterMetaType<Veltro::PollState>();
    connector = new SockJSConnector(this);
    d->transport = std::make_unique<ConnectorTransport>(connector);
    // What the connector reports during a call of the host (a connector that
    // still opens in place) is handled once the call has returned, in order.
    connect(connector, &SockJSConnector::connected, this, [this] { d->notify([this] { onConnected(); }); });
    connect(connector, &SockJSConnector::closed, this,
            [this](bool inactivity) { d->notify([this, inactivity] { onClosed(inactivity); }); });
    connect(connector, &SockJSConnector::openFailed, this, [this] { d->notify([this] { d->transportOpenFailed(); }); });
    d->sessionPrefix = fillJsonTemplate(QStringLiteral(R"({"type":"publish","address":"%0","body":)"), {this->sessionToken});

    msgHandler = new CollaborationMessageHandler(this);
    // The presenter listens on the session address it broadcasts to; its own
    // bodies coming back are not news (a host mirroring a remote "pause"
    // would loop), but their delay is the round-trip figure. Only frames that
    // mention its token are looked into.
    connect(connector, &SockJSConnector::sockJSMessage, this, [this](const QString &message) {
        if (!this->userToken.isEmpty() && message.contains(this->userToken)) {
            const QJsonObject root = QJsonDocument::fromJson(message.toUtf8()).object();
            const QJsonObject body = root.value(QStringLiteral("body")).toObject();
            const QJsonValue from = body.value(QStringLiteral("from"));
            if (from.isString() && from.toString() == this->userToken) {
                const QJsonArray data = body.value(QStringLiteral("data")).toArray();
                if (root.value(QStringLiteral("address")).toString() == this->sessionToken && data.size() == 1)
                    d->echoArrived(body.value(QStringLiteral("type")).toString(), data.at(0).toString());
                qCDebug(lcCollab).noquote() << "[PresenterCollab] Own message ignored";
                return;
            }
        }
        msgHandler->onHandleMessage(message);
    });

    connect(msgHandler, &CollaborationMessageHandler::learnerPollResponse, this, &PresenterCollab::learnerPollResponse);
    connect(msgHandler, &CollaborationMessageHandler::learnerAnswer, this, &PresenterCollab::learnerAnswer);
    connect(msgHandler, &CollaborationMessageHandler::learnerJoin, this, &PresenterCollab::learnerJoin);
    connect(msgHandler, &CollaborationMessageHandler::learnerUnregister, this, &PresenterCollab::learnerUnregister);
    connect(msgHandler, &CollaborationMessageHandler::controllerRegister, this, &PresenterCollab::controllerRegister);
    connect(msgHandler, &CollaborationMessageHandler::remoteControl, this, &PresenterCollab::remoteControl);
    connect(msgHandler, &CollaborationMessageHandler::unhandledMessage, this, &PresenterCollab::unhandledMessage);

    connect(&pingTimer, &QTimer::timeout, this, &PresenterCollab::onPingTimer);
    d->retryTimer.setSingleShot(true);
    connect(&d->retryTimer, &QTimer::timeout, this, [this] { d->retry(); });
    d->closeTimer.setSingleShot(true);
    connect(&d->closeTimer, &QTimer::timeout, this, [this] {
        qCWarning(lcCollab).noquote() << "[PresenterCollab] The transport did not report its end; closed all the same";
        d->ended(false);
    });
    d->clock.start();
}

PresenterCollab::~PresenterCollab()
{
    // A close() still waiting for a compression is not waited for: what is
    // ready goes out, what is still being compressed is dropped, and the
    // goodbye follows at once. Nothing is reported to the host from a
    // destructor (what is posted goes with it).
    if (d->closeWhenSent) {
        const QSignalBlocker silent(this);
        d->sendReady();
        if (d->closeWhenSent)
            d->goodbyeNow();
    }
    // The transport wrapper goes first; the connector goes with the children.
    delete d;
}

void PresenterCollab::open()
{
    qCDebug(lcCollab).noquote() << "Connecting to collaboration server (default):" << serverUrl;
    d->openTransport(defaultProtocols);
}

void PresenterCollab::open(QStringList protocols)
{
    qCDebug(lcCollab).noquote() << "Connecting to collaboration server:" << serverUrl
                                << " [" + protocols.join(QStringLiteral(", ")) + "]";
    QList<int> list = protocolsFromNames(protocols);
    if (list.isEmpty()) {
        qCDebug(lcCollab).noquote() << "[SockJSConnector] No protocols specified. Using defaults.";
        list = defaultProtocols;
    }
    d->openTransport(list);
}

void PresenterCollab::close()
{
    const PresenterCollabPrivate::HostCall call(d);
    const ConnectionState was = d->state;
    if (was == ConnectionState::Closing)
        return;
    d->active = false;
    d->retryTimer.stop();
    if (d->held.size())
        qCDebug(lcCollab).noquote() << "[PresenterCollab] Closed with" << d->held.size() << "held frames discarded";
    d->held.clear();
    // Frames still compressing could only have been held for a reconnection.
    if (!d->transport->isConnected())
        d->outgoing.clear();
    publishMessage(sessionToken, QStringLiteral("disconnect"), EMPTY_JSON_STRING);
    pingTimer.stop();
    d->linkUp = false;
    if (was == ConnectionState::Closed)
        return;
    d->error = Error::None;
    d->errorString.clear();
    d->setState(ConnectionState::Closing);
    if (d->transportUp) {
        // The connection ends after the "disconnect", which waits in line;
        // the transport reports its end.
        if (d->outgoing.isEmpty())
            d->finishClose();
        else
            d->closeWhenSent = true;
        return;
    }
    if (d->attempting) {
        // An attempt under way is stopped; its report ends the close.
        d->finishClose();
        return;
    }
    // Waiting before the next attempt: there is nothing to end.
    d->ended(false);
}

ConnectionState PresenterCollab::state() const { return d->state; }
bool PresenterCollab::isConnected() const { return d->linkUp; }
Error PresenterCollab::error() const { return d->error; }
QString PresenterCollab::errorString() const { return d->errorString; }
int PresenterCollab::roundTripMs() const { return d->meter.value(); }

void PresenterCollab::setDeadLinkLimit(int ms)
{
    d->deadLinkLimitMs = qMax(0, ms);
    d->transport->setDeadLinkLimit(d->deadLinkLimitMs);
}

void PresenterCollab::setAutoReconnect(bool on)
{
    const PresenterCollabPrivate::HostCall call(d);
    d->autoReconnect = on;
    if (on)
        return;
    d->held.clear();
    if (d->retryTimer.isActive()) {
        // Turned off while waiting to reconnect: the connection is over.
        d->retryTimer.stop();
        d->ended(false);
    }
}

void PresenterCollab::setReconnectDelays(int initialMs, int maxMs) { d->backoff.setDelays(initialMs, maxMs); }
void PresenterCollab::setReconnectLimits(int maxAttempts, int maxTotalMs) { d->backoff.setLimits(maxAttempts, maxTotalMs); }
qint64 PresenterCollab::droppedFrameCount() const { return d->held.dropped(); }
void PresenterCollab::setMaxIncomingFrameSize(qint64 bytes) { connector->setMaxFrameSize(bytes); }

void PresenterCollab::sendPing()
{
    d->transport->send(PING_FRAME, true);
}

QString PresenterCollab::getSessionToken() const { return sessionToken; }
CollaborationMessageHandler *PresenterCollab::getMsgHandler() const { return msgHandler; }
QString PresenterCollab::getPollId() const { return pollId; }

// ---- private side -----------------------------------------------------------

void PresenterCollabPrivate::setPingInterval(int ms)
{
    pingIntervalMs = ms;
    if (q->pingTimer.isActive())
        q->pingTimer.start(pingIntervalMs);
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
    transport->open(QUrl(q->serverUrl), protocols);
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
    q->connector->setMaxFrameSize(s.maxIncomingFrameSize);
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
                                   {q->sessionToken, q->userToken, QStringLiteral("disconnect"), compressed});
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
    q->pingTimer.stop();
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
    QString head = fillJsonTemplate(PUBLISH_ENVELOPE_TEMPLATE,
                                    {q->resolveAddress(address), q->userToken, type, QString()});
    head.chop(ENVELOPE_TAIL.size());
    publish(head, size, data, ENVELOPE_TAIL, EnvelopeFrame);
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
    transport->open(QUrl(q->serverUrl), protocols);
}

void PresenterCollabPrivate::giveUp()
{
    qCWarning(lcCollab).noquote() << "[PresenterCollab] Reconnection given up after" << backoff.attempt()
                                  << "attempts;" << held.size() << "held frames discarded";
    ended(false);
}

QString PresenterCollab::resolveAddress(const QString &address) const
{
    return address.startsWith(QLatin1Char('.')) ? sessionToken + address : address;
}

void PresenterCollab::publishMessage(QString address, QString type, QString data)
{
    const qsizetype size = data.size();
    d->publishEnvelope(address, type, size, [data = std::move(data)] { return data; });
}

void PresenterCollab::publishMessage64(QString address, QString type, QString data)
{
    publishMessage(std::move(address), std::move(type), std::move(data));
}

void PresenterCollab::publishMessage(QString type, QString data)
{
    publishMessage(sessionToken, std::move(type), std::move(data));
}

void PresenterCollab::publishMessage(QString address, VeltroCollabMessage *message)
{
    if (!message) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] No message to publish!";
        return;
    }
    message->setfrom(userToken);
    QString json;
    const bool hasPayload = payloadJson(*message, &json);
    if (!hasPayload || json.size() <= d->backgroundThreshold) {
        if (hasPayload) {
            // What compileData() does, without serializing the payload twice.
            QString compressed;
            lzmaCompress64(d->coder, json, &compressed);
            message->setdata(QVariantList{compressed});
        } else {
            message->compileData(); // writes the invalid-data line, leaves `data` as it is
        }
        const QString body = JsonSerializer::serializeToJson(message);
        d->publishFrame(fillJsonTemplate(PUBLISH_BODY_TEMPLATE, {resolveAddress(address), body}),
                        PresenterCollabPrivate::BodyFrame);
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
    d->publish(head, size, [json = std::move(json)] { return json; },
               body.mid(at + PENDING_PAYLOAD.size()) + QLatin1Char('}'), PresenterCollabPrivate::BodyFrame);
}

void PresenterCollab::onConnected()
{
    // Not an attempt this object follows (one a close() stopped, say).
    if (d->quiet || !d->attempting || d->closeRequested)
        return;
    d->attempting = false;
    d->transportUp = true;
    d->sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken}));
    d->sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken + QStringLiteral(".presenter")}));
    d->sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken + QStringLiteral(".presenter.") + userToken}));
    d->linkUp = true;
    d->error = Error::None;
    d->errorString.clear();
    d->backoff.reset();
    d->retryTimer.stop();
    d->flushHeld();
    pingTimer.start(d->pingIntervalMs);
    d->setState(ConnectionState::Connected);
    d->notify([this] { emit connected(); });
}

void PresenterCollab::onClosed(bool bClosedForInactivity)
{
    if (d->quiet)
        return;
    // Ended while a close() waited for compressions: nothing left to close.
    if (d->closeRequested || d->closeWhenSent) {
        d->ended(bClosedForInactivity);
        return;
    }
    // An attempt that ends before it came up failed.
    if (!d->transportUp) {
        if (d->attempting)
            d->transportOpenFailed();
        return;
    }
    d->transportUp = false;
    pingTimer.stop();
    d->linkUp = false;
    d->takeReason(bClosedForInactivity ? Error::Inactivity : Error::Network);
    qCDebug(lcCollab).noquote() << "[PresenterCollab] Connection ended:" << d->errorString;
    // The inactivity check ends the session on the host's behalf, like close().
    if (d->autoReconnect && d->active && !bClosedForInactivity && retryable(d->error)) {
        d->scheduleRetry();
        return;
    }
    d->ended(bClosedForInactivity);
}

void PresenterCollab::onPingTimer()
{
    d->transport->send(PING_FRAME, true);
}

// ---- polls ----------------------------------------------------------------

void PresenterCollab::startPoll(PollType::POLL_TYPE pollType, OrdinalType::ORDINAL_TYPE ordinalType)
{
    startPoll(pollType, ordinalType, 2, 1);
}

void PresenterCollab::startPoll(PollType::POLL_TYPE pollType, OrdinalType::ORDINAL_TYPE ordinalType,
                                int optionCount)
{
    startPoll(pollType, ordinalType, optionCount, 1);
}

QuestionBase *PresenterCollab::createPollQuestion(PollType::POLL_TYPE pollType,
                                                  OrdinalType::ORDINAL_TYPE ordinalType, int optionCount,
                                                  int correctOptionCount)
{
    QuestionBase *question = nullptr;
    switch (pollType) {
    case PollType::TRUE_FALSE: {
        auto *q = new QuestionYesNo(this);
        q->setTrueFalseType(true);
        question = q;
        break;
    }
    case PollType::YES_NO_OTHER:
        question = new QuestionYesNo(this);
        break;
    case PollType::MULTIPLE: {
        auto *q = new QuestionMultiChoice(this);
        q->setnumberOfCorrectOptions(correctOptionCount);
        question = q;
        break;
    }
    case PollType::SCALE:
        question = new QuestionScale(this);
        break;
    case PollType::SORT:
        question = new QuestionSort(this);
        break;
    case PollType::TEXT:
        question = new QuestionText(this);
        break;
    case PollType::NUMBER: {
        auto *q = new QuestionNumeric(this);
        q->setnoOfDecimals(optionCount);
        question = q;
        break;
    }
    case PollType::MATH_FORMULA:
        question = new QuestionMathFormula(this);
        break;
    default:
        return nullptr;
    }

    if (auto *withOptions = qobject_cast<QuestionBaseWithOptions *>(question)) {
        for (int i = 0; i < optionCount; ++i) {
            const auto option = generatedOption(ordinalType, i);
            withOptions->addActivityOption(option.first, option.second, i + 1);
        }
    }
    question->inferOrdinalType();
    return question;
}

void PresenterCollab::startPoll(PollType::POLL_TYPE pollType, OrdinalType::ORDINAL_TYPE ordinalType,
                                int optionCount, int correctOptionCount)
{
    const PresenterCollabPrivate::HostCall call(d);
    pollId = newUuidText();
    QuestionBase *question = createPollQuestion(pollType, ordinalType, optionCount, correctOptionCount);
    // A host may still hold the earlier poll's question and send it again, so
    // it stays; only an image its card carries as data (the bulk) goes.
    if (d->pollQuestion)
        releaseCardImage(d->pollQuestion);
    d->pollQuestion = question;
    d->pollText.clear();
    d->pollAnswerId = question ? question->getID() : pollId;
    d->pollKind = pollType;
    d->setPollState(PollState::Running, true);

    if (question) {
        const QString reference = getCardImageRef(true);
        if (!reference.isEmpty()) {
            auto *card = new Card(question);
            card->setBackgroundImage(reference);
            card->setid(question->getID());
            question->setcard(card);
        }
        sendQuestion(sessionToken, question);
        return;
    }

    QStringList options;
    for (int i = 0; i < optionCount; ++i)
        options << QString::number(i);
    const QString reference = getCardImageRef(true);
    const QString text = fillJsonTemplate(
        POLL_QUESTION_TEMPLATE,
        {PollType::POLL_TYPE_STR().value(pollType), OrdinalType::ORDINAL_TYPE_STR().value(ordinalType),
         sessionToken, sessionCode, POLL_TIME_STAMP, pollId, options.join(QLatin1Char(',')), reference});
    publishMessage(sessionToken, QStringLiteral("poll"), text);
    d->pollText = text;
    clearCardImage();
}

void PresenterCollab::pausePoll()
{
    const PresenterCollabPrivate::HostCall call(d);
    publishMessage(sessionToken, QStringLiteral("pause"), fillJsonTemplate(QUOTED_STRING_TEMPLATE, {pollId}));
    if (d->pollState == PollState::Running)
        d->setPollState(PollState::Paused);
}

void PresenterCollab::resumePoll()
{
    const PresenterCollabPrivate::HostCall call(d);
    publishMessage(sessionToken, QStringLiteral("resume"), fillJsonTemplate(QUOTED_STRING_TEMPLATE, {pollId}));
    if (d->pollState == PollState::Paused)
        d->setPollState(PollState::Running);
}

void PresenterCollab::stopPoll()
{
    const PresenterCollabPrivate::HostCall call(d);
    publishMessage(sessionToken, QStringLiteral("pollStop"), fillJsonTemplate(QUOTED_STRING_TEMPLATE, {pollId}));
    pollId = QString();
    d->pollText.clear();
    d->pollAnswerId.clear();
    clearCardImage();
    if (d->pollState == PollState::Running || d->pollState == PollState::Paused)
        d->setPollState(PollState::Stopped);
}

void PresenterCollabPrivate::setPollState(PollState s, bool newPoll)
{
    if (pollState == s && !newPoll)
        return;
    pollState = s;
    notify([this, s] { emit q->pollStateChanged(s); });
}

PollState PresenterCollab::pollState() const { return d->pollState; }

QString PresenterCollab::currentPollAnswerId() const
{
    return pollId.isNull() ? QString() : d->pollAnswerId;
}

QuestionBase *PresenterCollab::currentPollQuestion() const
{
    return pollId.isNull() ? nullptr : d->pollQuestion.data();
}

bool PresenterCollab::isPollPaused() const
{
    return d->pollState == PollState::Paused;
}

void PresenterCollab::sendCurrentPollTo(QString deviceId)
{
    if (pollId.isNull()) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] No poll running to send!";
        return;
    }
    const QString address = sessionToken + QStringLiteral(".user.") + deviceId;
    if (d->pollQuestion)
        sendQuestion(address, d->pollQuestion);
    else if (!d->pollText.isNull())
        publishMessage(address, QStringLiteral("poll"), d->pollText);
    else
        qCDebug(lcCollab).noquote() << "[PresenterCollab] The poll's question is gone!";
    if (d->pollState == PollState::Paused)
        publishMessage(address, QStringLiteral("pause"), fillJsonTemplate(QUOTED_STRING_TEMPLATE, {pollId}));
}

// ---- cards, lesson and presenter state ------------------------------------

QString PresenterCollab::getCardImageRef(bool cssUrl)
{
    if (!cardImageData.isEmpty())
        return imageDataUrl(cardImageData);
    if (cardImageUrl.isNull()) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] No image reference has been set!";
        return QString();
    }
    return cssUrl ? QStringLiteral("url('") + cardImageUrl + QStringLiteral("')") : cardImageUrl;
}

void PresenterCollab::sendCurrentCardToRemote(int currentCard, int totalCards)
{
    QStringList names;
    for (int i = 1; i <= totalCards; ++i)
        names << QString::number(i);
    sendCurrentCardToRemote(currentCard, names);
}

void PresenterCollab::sendCurrentCardToRemote(int currentCard, const QStringList &cardNames)
{
    QStringList cards;
    for (const QString &name : cardNames)
        cards << fillJsonTemplate(CARD_NAME_TEMPLATE, {name});
    const QString data = fillJsonTemplate(CURRENT_CARD_TEMPLATE, {QString::number(currentCard),
                                                                  cards.join(QLatin1Char(',')),
                                                                  QString::number(cardNames.size())});
    publishMessage(sessionToken + QStringLiteral(".controller"), QStringLiteral("currentCard"), data);
}

void PresenterCollab::sendCurrentLessonToRemote(QString lessonId, QString name)
{
    const QString data = fillJsonTemplate(CURRENT_LESSON_TEMPLATE, {lessonId, name});
    publishMessage(sessionToken + QStringLiteral(".controller"), QStringLiteral("currentLesson"), data);
}

void PresenterCollab::sendPresenterIsActiveToRemote()
{
    publishMessage(sessionToken + QStringLiteral(".controller"), QStringLiteral("presenterIsActive"),
                   QUOTED_STRING_TEMPLATE);
}

void PresenterCollab::showImageCard(bool checkHeavy)
{
    const QString learners = sessionToken + QStringLiteral(".learner");
    const QString type = QStringLiteral("showCard");
    if (cardImageData.isEmpty()) {
        const QString reference = getCardImageRef(false);
        if (checkHeavy && reference.length() > HEAVY_BYTE_THRESHOLD)
            sendHeavy();
        publishMessage(learners, type, fillJsonTemplate(IMAGE_CARD_TEMPLATE, {QStringLiteral("any"), reference}));
    } else {
        // The data URL's length is known without building it; a large one is
        // built, filled in and compressed on the worker.
        const qsizetype length = IMAGE_DATA_URL_PREFIX.size() + (cardImageData.size() + 2) / 3 * 4;
        if (checkHeavy && length > HEAVY_BYTE_THRESHOLD)
            sendHeavy();
        d->publishEnvelope(learners, type, IMAGE_CARD_TEMPLATE.size() + length, [bytes = cardImageData] {
            return fillJsonTemplate(IMAGE_CARD_TEMPLATE, {QStringLiteral("any"), imageDataUrl(bytes)});
        });
    }
    clearCardImage();
}

void PresenterCollab::sendHeavy()
{
    publishMessage(sessionToken + QStringLiteral(".learner"), QStringLiteral("heavy"), QUOTED_STRING_TEMPLATE);
}

void PresenterCollab::setCardImage(QByteArray data) { cardImageData = std::move(data); }
void PresenterCollab::setCardImage(QString url) { cardImageUrl = std::move(url); }

void PresenterCollab::clearCardImage()
{
    cardImageData = QByteArray();
    cardImageUrl = QString();
}

void PresenterCollab::sendQuestion(QuestionBase *question)
{
    sendQuestion(sessionToken, question);
}

void PresenterCollab::sendQuestion(QString address, QuestionBase *question)
{
    if (!question) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] No question to send!";
        return;
    }
    const QString type = question->getType();
    question->setactivityType(QVariantMap{{QStringLiteral("id"), PollType::POLL_TYPE_ID().value(type)},
                                          {QStringLiteral("name"), type}});
    VeltroCollabMessage message;
    message.settype(QStringLiteral("questionStart"));
    message.setdataobject(question);
    publishMessage(address, &message);
}

void PresenterCollab::removeLearner(QString deviceId)
{
    publishMessage(sessionToken + QStringLiteral(".user.") + deviceId, QStringLiteral("disconnect"),
                   EMPTY_JSON_STRING);
    emit learnerUnregister(deviceId);
}
