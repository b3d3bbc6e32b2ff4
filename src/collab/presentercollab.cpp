#include "presentercollab.h"

#include <QUrl>
#include <QUuid>

#include "card.h"
#include "collaborationmessagehandler.h"
#include "jsontemplate_p.h"
#include "logging_p.h"
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

PresenterCollab::PresenterCollab(QObject *parent, QString serverUrl, QString sessionCode,
                                 QString sessionToken, QString userToken)
    : QObject(parent)
    , serverUrl(std::move(serverUrl))
    , sessionCode(std::move(sessionCode))
    , sessionToken(std::move(sessionToken))
    , userToken(std::move(userToken))
    , pingIntervalMs(PING_TIMER)
{
    connector = new SockJSConnector(this);
    connect(connector, &SockJSConnector::connected, this, &PresenterCollab::onConnected);
    connect(connector, &SockJSConnector::closed, this, &PresenterCollab::onClosed);

    msgHandler = new CollaborationMessageHandler(this);
    // onHandleMessage is protected; the connection is made by name.
    connect(connector, SIGNAL(sockJSMessage(QString)), msgHandler, SLOT(onHandleMessage(QString)));

    connect(msgHandler, &CollaborationMessageHandler::learnerPollResponse, this, &PresenterCollab::learnerPollResponse);
    connect(msgHandler, &CollaborationMessageHandler::learnerJoin, this, &PresenterCollab::learnerJoin);
    connect(msgHandler, &CollaborationMessageHandler::learnerUnregister, this, &PresenterCollab::learnerUnregister);
    connect(msgHandler, &CollaborationMessageHandler::controllerRegister, this, &PresenterCollab::controllerRegister);
    connect(msgHandler, &CollaborationMessageHandler::remoteControl, this, &PresenterCollab::remoteControl);
    connect(msgHandler, &CollaborationMessageHandler::unhandledMessage, this, &PresenterCollab::unhandledMessage);

    connect(&pingTimer, &QTimer::timeout, this, &PresenterCollab::onPingTimer);
}

PresenterCollab::~PresenterCollab() = default;

void PresenterCollab::open()
{
    qCDebug(lcCollab).noquote() << "Connecting to collaboration server (default):" << serverUrl;
    openTransport(QUrl(serverUrl), defaultProtocols);
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
    openTransport(QUrl(serverUrl), list);
}

void PresenterCollab::close()
{
    publishMessage(sessionToken, QStringLiteral("disconnect"), EMPTY_JSON_STRING);
    pingTimer.stop();
    if (isTransportConnected())
        closeTransport();
}

void PresenterCollab::sendPing()
{
    sendFrame(PING_FRAME, true);
}

QString PresenterCollab::getSessionToken() const { return sessionToken; }
CollaborationMessageHandler *PresenterCollab::getMsgHandler() const { return msgHandler; }
QString PresenterCollab::getPollId() const { return pollId; }

void PresenterCollab::openTransport(const QUrl &url, const QList<int> &protocols)
{
    QList<SockJSProtocol> list;
    for (int value : protocols)
        list.append(static_cast<SockJSProtocol>(value));
    connector->open(url, list);
}

void PresenterCollab::closeTransport()
{
    connector->close();
}

void PresenterCollab::sendFrame(const QString &frame, bool bIsPing)
{
    connector->send(frame, bIsPing);
}

bool PresenterCollab::isTransportConnected() const
{
    return connector->isConnected();
}

void PresenterCollab::setPingInterval(int ms)
{
    pingIntervalMs = ms;
    if (pingTimer.isActive())
        pingTimer.start(pingIntervalMs);
}

int PresenterCollab::pingInterval() const { return pingIntervalMs; }

QString PresenterCollab::resolveAddress(const QString &address) const
{
    return address.startsWith(QLatin1Char('.')) ? sessionToken + address : address;
}

void PresenterCollab::publishMessage(QString address, QString type, QString data)
{
    if (!isTransportConnected()) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] SockJS socket not connected!";
        return;
    }
    QString compressed;
    LzmaCompress64(data, &compressed);
    const QString frame = fillJsonTemplate(PUBLISH_ENVELOPE_TEMPLATE,
                                           {resolveAddress(address), userToken, type, compressed});
    sendFrame(frame, false);
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
    message->compileData();
    const QString body = JsonSerializer::serializeToJson(message);
    const QString frame = fillJsonTemplate(PUBLISH_BODY_TEMPLATE, {resolveAddress(address), body});
    qCDebug(lcCollab).noquote() << "TRANSMIT: " + frame;
    sendFrame(frame, false);
}

void PresenterCollab::onConnected()
{
    sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken}), false);
    sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken + QStringLiteral(".presenter")}), false);
    sendFrame(fillJsonTemplate(REGISTER_TEMPLATE, {sessionToken + QStringLiteral(".presenter.") + userToken}),
              false);
    pingTimer.start(pingIntervalMs);
}

void PresenterCollab::onClosed(bool bClosedForInactivity)
{
    pingTimer.stop();
    emit connectionClosed(bClosedForInactivity);
}

void PresenterCollab::onPingTimer()
{
    sendFrame(PING_FRAME, true);
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
    pollId = newUuidText();
    QuestionBase *question = createPollQuestion(pollType, ordinalType, optionCount, correctOptionCount);

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
    clearCardImage();
}

void PresenterCollab::pausePoll()
{
    publishMessage(sessionToken, QStringLiteral("pause"), fillJsonTemplate(QUOTED_STRING_TEMPLATE, {pollId}));
}

void PresenterCollab::resumePoll()
{
    publishMessage(sessionToken, QStringLiteral("resume"), fillJsonTemplate(QUOTED_STRING_TEMPLATE, {pollId}));
}

void PresenterCollab::stopPoll()
{
    publishMessage(sessionToken, QStringLiteral("pollStop"), fillJsonTemplate(QUOTED_STRING_TEMPLATE, {pollId}));
    pollId = QString();
    clearCardImage();
}

// ---- cards, lesson and presenter state ------------------------------------

QString PresenterCollab::getCardImageRef(bool cssUrl)
{
    if (!cardImageData.isEmpty())
        return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(cardImageData.toBase64());
    if (cardImageUrl.isNull()) {
        qCDebug(lcCollab).noquote() << "[PresenterCollab] No image reference has been set!";
        return QString();
    }
    return cssUrl ? QStringLiteral("url('") + cardImageUrl + QStringLiteral("')") : cardImageUrl;
}

void PresenterCollab::sendCurrentCardToRemote(int currentCard, int totalCards)
{
    QStringList cards;
    for (int i = 1; i <= totalCards; ++i)
        cards << fillJsonTemplate(CARD_NAME_TEMPLATE, {QString::number(i)});
    const QString data = fillJsonTemplate(
        CURRENT_CARD_TEMPLATE, {QString::number(currentCard), cards.join(QLatin1Char(',')), QString::number(totalCards)});
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
    const QString reference = getCardImageRef(false);
    if (checkHeavy && reference.length() > HEAVY_BYTE_THRESHOLD)
        sendHeavy();
    const QString data = fillJsonTemplate(IMAGE_CARD_TEMPLATE, {QStringLiteral("any"), reference});
    publishMessage(sessionToken + QStringLiteral(".learner"), QStringLiteral("showCard"), data);
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
