// What the host calls on a session's live connection: opening and closing
// it, and the messages it publishes (polls, questions, cards, lesson state).
// The connection's machinery is the private side's (presentercollab_p.cpp).
#include "presentercollab.h"
#include "presentercollab_p.h"

#include <QSignalBlocker>

#include "card.h"
#include "collabtemplates_p.h"
#include "collaborationmessagehandler.h"
#include "jsontemplate_p.h"
#include "logging_p.h"
#include "pollfactory_p.h"
#include "questionbase.h"
#include "sockjsconnector.h"
#include "veltrocollabmessage.h"

using namespace Veltro;

namespace {

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

QString imageDataUrl(const QByteArray &png)
{
    return IMAGE_DATA_URL_PREFIX + QString::fromLatin1(png.toBase64());
}

} // namespace

const int PresenterCollab::PING_TIMER = 60000;
const int PresenterCollab::HEAVY_BYTE_THRESHOLD = 524288;

PresenterCollab::PresenterCollab(QObject *parent, QString serverUrl, QString sessionCode,
                                 QString sessionToken, QString userToken)
    : QObject(parent)
    , d(new PresenterCollabPrivate(this, std::move(serverUrl), std::move(sessionCode), std::move(sessionToken),
                                   std::move(userToken)))
{
    qRegisterMetaType<Veltro::ConnectionState>();
    qRegisterMetaType<Veltro::Error>();
    qRegisterMetaType<Veltro::PollState>();
    d->connector = new SockJSConnector(this);
    d->transport = std::make_unique<ConnectorTransport>(d->connector);
    // What the connector reports during a call of the host (a connector that
    // still opens in place) is handled once the call has returned, in order.
    connect(d->connector, &SockJSConnector::connected, this, [this] { d->notify([this] { onConnected(); }); });
    connect(d->connector, &SockJSConnector::closed, this,
            [this](bool inactivity) { d->notify([this, inactivity] { onClosed(inactivity); }); });
    connect(d->connector, &SockJSConnector::openFailed, this,
            [this] { d->notify([this] { d->transportOpenFailed(); }); });

    d->msgHandler = new CollaborationMessageHandler(this);
    connect(d->connector, &SockJSConnector::sockJSMessage, this, [this](const QString &m) { d->frameArrived(m); });
    const CollaborationMessageHandler *h = d->msgHandler;
    connect(h, &CollaborationMessageHandler::learnerPollResponse, this, &PresenterCollab::learnerPollResponse);
    connect(h, &CollaborationMessageHandler::learnerAnswer, this, &PresenterCollab::learnerAnswer);
    connect(h, &CollaborationMessageHandler::learnerJoin, this, &PresenterCollab::learnerJoin);
    connect(h, &CollaborationMessageHandler::learnerUnregister, this, &PresenterCollab::learnerUnregister);
    connect(h, &CollaborationMessageHandler::controllerRegister, this, &PresenterCollab::controllerRegister);
    connect(h, &CollaborationMessageHandler::remoteControl, this, &PresenterCollab::remoteControl);
    connect(h, &CollaborationMessageHandler::unhandledMessage, this, &PresenterCollab::unhandledMessage);

    connect(&d->pingTimer, &QTimer::timeout, this, &PresenterCollab::onPingTimer);
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
    // The private side (and the transport wrapper) goes before the children:
    // the connector goes with them.
}

void PresenterCollab::open()
{
    qCDebug(lcCollab).noquote() << "Connecting to collaboration server (default):" << d->serverUrl;
    d->openTransport(defaultProtocols);
}

void PresenterCollab::open(QStringList protocols)
{
    qCDebug(lcCollab).noquote() << "Connecting to collaboration server:" << d->serverUrl
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
    const PresenterCollabPrivate::HostCall call(d.get());
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
    publishMessage(d->sessionToken, QStringLiteral("disconnect"), EMPTY_JSON_STRING);
    d->pingTimer.stop();
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
    const PresenterCollabPrivate::HostCall call(d.get());
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
void PresenterCollab::setMaxIncomingFrameSize(qint64 bytes) { d->connector->setMaxFrameSize(bytes); }

void PresenterCollab::sendPing()
{
    d->transport->send(PING_FRAME, true);
}

QString PresenterCollab::getSessionToken() const { return d->sessionToken; }
CollaborationMessageHandler *PresenterCollab::getMsgHandler() const { return d->msgHandler; }
QString PresenterCollab::getPollId() const { return d->pollId; }

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
    publishMessage(d->sessionToken, std::move(type), std::move(data));
}

void PresenterCollab::publishMessage(QString address, VeltroCollabMessage *message)
{
    if (!message) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] No message to publish!";
        return;
    }
    d->publishBody(address, message);
}

void PresenterCollab::onConnected()
{
    d->transportCameUp();
}

void PresenterCollab::onClosed(bool bClosedForInactivity)
{
    d->transportEnded(bClosedForInactivity);
}

void PresenterCollab::onPingTimer()
{
    sendPing();
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
    return makePollQuestion(this, pollType, ordinalType, optionCount, correctOptionCount);
}

void PresenterCollab::startPoll(PollType::POLL_TYPE pollType, OrdinalType::ORDINAL_TYPE ordinalType,
                                int optionCount, int correctOptionCount)
{
    const PresenterCollabPrivate::HostCall call(d.get());
    d->pollId = newPollId();
    QuestionBase *question = createPollQuestion(pollType, ordinalType, optionCount, correctOptionCount);
    // A host may still hold the earlier poll's question and send it again, so
    // it stays; only an image its card carries as data (the bulk) goes.
    if (d->pollQuestion)
        releaseCardImage(d->pollQuestion);
    d->pollQuestion = question;
    d->pollText.clear();
    d->pollAnswerId = question ? question->getID() : d->pollId;
    d->pollKind = pollType;
    d->setPollState(PollState::Running, true);

    const QString reference = getCardImageRef(true);
    if (question) {
        if (!reference.isEmpty()) {
            auto *card = new Card(question);
            card->setBackgroundImage(reference);
            card->setid(question->getID());
            question->setcard(card);
        }
        sendQuestion(d->sessionToken, question);
        return;
    }
    const QString text = pollTemplateText(
        pollType, ordinalType, {d->sessionToken, d->sessionCode, d->pollId, optionCount, reference});
    publishMessage(d->sessionToken, QStringLiteral("poll"), text);
    d->pollText = text;
    clearCardImage();
}

void PresenterCollab::pausePoll()
{
    const PresenterCollabPrivate::HostCall call(d.get());
    d->publishPollControl(d->sessionToken, QStringLiteral("pause"));
    if (d->pollState == PollState::Running)
        d->setPollState(PollState::Paused);
}

void PresenterCollab::resumePoll()
{
    const PresenterCollabPrivate::HostCall call(d.get());
    d->publishPollControl(d->sessionToken, QStringLiteral("resume"));
    if (d->pollState == PollState::Paused)
        d->setPollState(PollState::Running);
}

void PresenterCollab::stopPoll()
{
    const PresenterCollabPrivate::HostCall call(d.get());
    d->publishPollControl(d->sessionToken, QStringLiteral("pollStop"));
    d->pollId = QString();
    d->pollText.clear();
    d->pollAnswerId.clear();
    clearCardImage();
    if (d->pollState == PollState::Running || d->pollState == PollState::Paused)
        d->setPollState(PollState::Stopped);
}

PollState PresenterCollab::pollState() const { return d->pollState; }

QString PresenterCollab::currentPollAnswerId() const
{
    return d->pollId.isNull() ? QString() : d->pollAnswerId;
}

QuestionBase *PresenterCollab::currentPollQuestion() const
{
    return d->pollId.isNull() ? nullptr : d->pollQuestion.data();
}

bool PresenterCollab::isPollPaused() const
{
    return d->pollState == PollState::Paused;
}

void PresenterCollab::sendCurrentPollTo(QString deviceId)
{
    if (d->pollId.isNull()) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] No poll running to send!";
        return;
    }
    const QString address = d->sessionToken + QStringLiteral(".user.") + deviceId;
    if (d->pollQuestion)
        sendQuestion(address, d->pollQuestion);
    else if (!d->pollText.isNull())
        publishMessage(address, QStringLiteral("poll"), d->pollText);
    else
        qCDebug(lcCollab).noquote() << "[PresenterCollab] The poll's question is gone!";
    if (d->pollState == PollState::Paused)
        d->publishPollControl(address, QStringLiteral("pause"));
}

// ---- cards, lesson and presenter state ------------------------------------

QString PresenterCollab::getCardImageRef(bool cssUrl)
{
    if (!d->cardImageData.isEmpty())
        return imageDataUrl(d->cardImageData);
    if (d->cardImageUrl.isNull()) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] No image reference has been set!";
        return QString();
    }
    return cssUrl ? QStringLiteral("url('") + d->cardImageUrl + QStringLiteral("')") : d->cardImageUrl;
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
    publishMessage(d->sessionToken + QStringLiteral(".controller"), QStringLiteral("currentCard"), data);
}

void PresenterCollab::sendCurrentLessonToRemote(QString lessonId, QString name)
{
    const QString data = fillJsonTemplate(CURRENT_LESSON_TEMPLATE, {lessonId, name});
    publishMessage(d->sessionToken + QStringLiteral(".controller"), QStringLiteral("currentLesson"), data);
}

void PresenterCollab::sendPresenterIsActiveToRemote()
{
    publishMessage(d->sessionToken + QStringLiteral(".controller"), QStringLiteral("presenterIsActive"),
                   QUOTED_STRING_TEMPLATE);
}

void PresenterCollab::showImageCard(bool checkHeavy)
{
    const QString learners = d->sessionToken + QStringLiteral(".learner");
    const QString type = QStringLiteral("showCard");
    if (d->cardImageData.isEmpty()) {
        const QString reference = getCardImageRef(false);
        if (checkHeavy && reference.length() > HEAVY_BYTE_THRESHOLD)
            sendHeavy();
        publishMessage(learners, type, fillJsonTemplate(IMAGE_CARD_TEMPLATE, {QStringLiteral("any"), reference}));
    } else {
        // The data URL's length is known without building it; a large one is
        // built, filled in and compressed on the worker.
        const qsizetype length = IMAGE_DATA_URL_PREFIX.size() + (d->cardImageData.size() + 2) / 3 * 4;
        if (checkHeavy && length > HEAVY_BYTE_THRESHOLD)
            sendHeavy();
        d->publishEnvelope(learners, type, IMAGE_CARD_TEMPLATE.size() + length, [bytes = d->cardImageData] {
            return fillJsonTemplate(IMAGE_CARD_TEMPLATE, {QStringLiteral("any"), imageDataUrl(bytes)});
        });
    }
    clearCardImage();
}

void PresenterCollab::sendHeavy()
{
    publishMessage(d->sessionToken + QStringLiteral(".learner"), QStringLiteral("heavy"), QUOTED_STRING_TEMPLATE);
}

void PresenterCollab::setCardImage(QByteArray data) { d->cardImageData = std::move(data); }
void PresenterCollab::setCardImage(QString url) { d->cardImageUrl = std::move(url); }

void PresenterCollab::clearCardImage()
{
    d->cardImageData = QByteArray();
    d->cardImageUrl = QString();
}

void PresenterCollab::sendQuestion(QuestionBase *question)
{
    sendQuestion(d->sessionToken, question);
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
    publishMessage(d->sessionToken + QStringLiteral(".user.") + deviceId, QStringLiteral("disconnect"),
                   EMPTY_JSON_STRING);
    emit learnerUnregister(deviceId);
}
