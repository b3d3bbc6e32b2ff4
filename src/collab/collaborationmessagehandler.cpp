#include "collaborationmessagehandler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMap>
#include <QStringList>
#include <cmath>
#include <limits>

#include "bytelist_p.h"
#include "logging_p.h"
#include "lzmacodec.h"

namespace {

// Reads a device-reported integer (milliseconds, question numbers). Follows
// the usual variant conversion for ordinary values (a double is rounded, a
// numeric text is parsed), but a number outside the int range, or not finite,
// is clamped instead of being converted with undefined behaviour.
int toIntClamped(const QVariant &value)
{
    if (value.userType() == QMetaType::Double || value.userType() == QMetaType::Float) {
        const double d = value.toDouble();
        if (std::isnan(d))
            return 0;
        if (d >= double(std::numeric_limits<int>::max()))
            return std::numeric_limits<int>::max();
        if (d <= double(std::numeric_limits<int>::min()))
            return std::numeric_limits<int>::min();
        return int(std::lround(d));
    }
    if (value.userType() == QMetaType::LongLong || value.userType() == QMetaType::ULongLong) {
        bool ok = false;
        const qlonglong v = value.toLongLong(&ok);
        if (value.userType() == QMetaType::ULongLong && !ok)
            return std::numeric_limits<int>::max();
        if (v > std::numeric_limits<int>::max())
            return std::numeric_limits<int>::max();
        if (v < std::numeric_limits<int>::min())
            return std::numeric_limits<int>::min();
        return int(v);
    }
    return value.toInt();
}

// The text form of an answer element: its bytes read as UTF-8.
QString answerText(const QVariant &value)
{
    return QString::fromUtf8(value.toByteArray());
}

// What a restored list payload gives: an object as a map, other JSON as it is,
// anything else as its Latin-1 bytes.
QVariant restoredListValue(const QString &accumulated)
{
    qCDebug(lcCollab).noquote() << "[MessageHandler.Decompressed from List] " + shortenedForLog(accumulated);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(accumulated.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return QVariant(accumulated.toLatin1());
    if (doc.isObject())
        return doc.object().toVariantMap();
    if (doc.isArray())
        return doc.array().toVariantList();
    return QVariant();
}

} // namespace

// The handler's tables: which member handles an action, which a message type.
class CollaborationMessageHandlerPrivate
{
public:
    using ActionHandler = void (CollaborationMessageHandler::*)(const QVariantMap &body);
    using TypeHandler = void (CollaborationMessageHandler::*)(const QVariantMap &body, const QVariant &data);

    QMap<QString, ActionHandler> actionHandlers;
    QMap<QString, TypeHandler> typeHandlers;
};

CollaborationMessageHandler::CollaborationMessageHandler(QObject *parent)
    : QObject(parent)
    , d(new CollaborationMessageHandlerPrivate)
{
    auto &actionHandlers = d->actionHandlers;
    auto &typeHandlers = d->typeHandlers;
    actionHandlers.insert(QStringLiteral("unregister"), &CollaborationMessageHandler::onUnregister);

    typeHandlers.insert(QStringLiteral("join"), &CollaborationMessageHandler::onJoin);
    typeHandlers.insert(QStringLiteral("pollResponse"), &CollaborationMessageHandler::onPollResponse);
    typeHandlers.insert(QStringLiteral("questionResponse"), &CollaborationMessageHandler::onQuestionResponse);
    typeHandlers.insert(QStringLiteral("questionGet"), &CollaborationMessageHandler::onQuestionGet);
    const QStringList remoteTypes{
        QStringLiteral("stopSession"), QStringLiteral("requestLessonInfo"), QStringLiteral("requestLesson"),
        QStringLiteral("presenterActive"), QStringLiteral("pause"), QStringLiteral("resume"),
        QStringLiteral("lockAll"), QStringLiteral("unlockAll"), QStringLiteral("nextCard"),
        QStringLiteral("previousCard"), QStringLiteral("pushCurrentCard"), QStringLiteral("addImageCard")};
    for (const QString &type : remoteTypes)
        typeHandlers.insert(type, &CollaborationMessageHandler::onRemoteControl);
}

CollaborationMessageHandler::~CollaborationMessageHandler() = default;

void CollaborationMessageHandler::onHandleMessage(QString message)
{
    qCDebug(lcCollab).noquote() << "[MessageHandler]" << frameForLog(message) << "\n";

    // A list of byte values is read from the text itself and kept as its bytes:
    // as a JSON document, and then a variant per element, it would cost many
    // times the payload. The rest of the frame is read as usual.
    QString rest;
    QByteArray listBytes;
    bool tooLong = false;
    const bool textList = Veltro::takeByteList(message, Veltro::LZMA_MAX_DECODED_SIZE, &rest, &listBytes, &tooLong);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson((textList ? rest : message).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return;

    const QJsonObject bodyObject = doc.object().value(QLatin1String("body")).toObject();
    QVariantMap body;
    for (auto it = bodyObject.constBegin(); it != bodyObject.constEnd(); ++it) {
        const QJsonValue v = it.value();
        if (it.key() != QLatin1String("data")) {
            body.insert(it.key(), v.toVariant());
        } else if (textList) {
            body.insert(it.key(), listBytes);
        } else if (v.isArray() && !v.toArray().isEmpty() && !v.toArray().first().isString()) {
            body.insert(it.key(), Veltro::byteListOf(v.toArray(), Veltro::LZMA_MAX_DECODED_SIZE, &tooLong));
        } else {
            body.insert(it.key(), v.toVariant());
        }
    }
    if (tooLong)
        qCDebug(lcCollab) << "[MessageHandler] Byte list longer than" << Veltro::LZMA_MAX_DECODED_SIZE << "refused";

    const QString action = body.value(QStringLiteral("action")).toString();
    if (!action.isNull()) {
        qCDebug(lcCollab).noquote() << "[MessageHandler.ACTION]" << action;
        const auto handler = d->actionHandlers.value(action, nullptr);
        if (handler)
            (this->*handler)(body);
        return;
    }

    const QString type = body.value(QStringLiteral("type")).toString();
    if (type.isNull())
        return;

    qCDebug(lcCollab).noquote() << "[MessageHandler.TYPE]" << type;
    const QVariant data = decompressData(body);
    const auto handler = d->typeHandlers.value(type, nullptr);
    if (handler)
        (this->*handler)(body, data);
    else
        emit unhandledMessage(body, data);
}

QVariant CollaborationMessageHandler::decompressData(const QVariantMap &body) const
{
    const QVariant d = body.value(QStringLiteral("data"));
    const int kind = d.userType();

    const bool scalar = kind == QMetaType::QString || kind == QMetaType::Double || kind == QMetaType::Bool
                        || kind == QMetaType::Int || kind == QMetaType::LongLong
                        || kind == QMetaType::ULongLong;
    if (scalar) {
        const QString text = d.toString();
        QString restored;
        if (!LzmaDecompress64(text, &restored) && !LzmaDecompressText(text, &restored)) {
            qCDebug(lcCollab).noquote() << "[MessageHandler.Decompressed] FAILED to decompress, forwarding raw string!";
            return QVariant(text);
        }
        qCDebug(lcCollab).noquote() << "[MessageHandler.Decompressed from String] " + shortenedForLog(restored);
        const QJsonDocument doc = QJsonDocument::fromJson(restored.toUtf8());
        if (doc.isObject())
            return doc.object().toVariantMap();
        return QVariant();
    }

    QString accumulated;
    if (kind == QMetaType::QByteArray) {
        // A list of byte values, as onHandleMessage keeps it.
        if (!LzmaDecompressBytes(d.toByteArray(), &accumulated)) {
            qCDebug(lcCollab).noquote() << "[MessageHandler.Decompressed] FAILED to decompress List!";
            return QVariant();
        }
        return restoredListValue(accumulated);
    }
    if (kind != QMetaType::QVariantList && kind != QMetaType::QStringList)
        return QVariant();

    const QVariantList list = d.toList();
    // Nothing to restore: no payload, like the other paths that restore nothing.
    if (list.isEmpty())
        return QVariant();

    if (list.first().userType() == QMetaType::QString) {
        bool any = false;
        for (const QVariant &element : list) {
            const QString piece = element.toString();
            if (piece.isEmpty())
                continue;
            QString restored;
            if (LzmaDecompress64(piece, &restored)) {
                accumulated += restored;
                any = true;
            }
            // The pieces together are held to the cap of a single payload.
            if (accumulated.size() > Veltro::LZMA_MAX_DECODED_SIZE) {
                qCDebug(lcCollab).noquote() << "[MessageHandler.Decompressed] FAILED to decompress List!";
                return QVariant();
            }
        }
        if (!any)
            return QVariant();
    } else if (!LzmaDecompressList(list, &accumulated)) {
        qCDebug(lcCollab).noquote() << "[MessageHandler.Decompressed] FAILED to decompress List!";
        return QVariant();
    }
    return restoredListValue(accumulated);
}

void CollaborationMessageHandler::onUnregister(const QVariantMap &body)
{
    const QVariantMap client = body.value(QStringLiteral("client")).toMap();
    const QString token = client.value(QStringLiteral("token")).toString();
    const QString kind = client.value(QStringLiteral("type")).toString();
    if (kind == QLatin1String("user")) {
        qCDebug(lcCollab).noquote() << "UNREGISTER" << tokenForLog(token);
        emit learnerUnregister(token);
    } else if (kind == QLatin1String("controller")) {
        qCDebug(lcCollab).noquote() << "UNREGISTER CONTROLLER" << tokenForLog(token);
        emit controllerRegister(false);
    }
}

void CollaborationMessageHandler::onJoin(const QVariantMap &body, const QVariant &data)
{
    const QString from = body.value(QStringLiteral("from")).toString();
    // Without a sender token there is nobody to answer or to see leave.
    if (from.isEmpty()) {
        qCDebug(lcCollab) << "[MessageHandler] Dropped a join without \"from\"";
        return;
    }
    const QVariantMap map = data.toMap();
    qCDebug(lcCollab).noquote() << "JOIN" << tokenForLog(from);
    emit learnerJoin(Veltro::Learner(from, map.value(QStringLiteral("userName")).toString(),
                                     map.value(QStringLiteral("deviceType")).toString()));
}

void CollaborationMessageHandler::onPollResponse(const QVariantMap &body, const QVariant &data)
{
    const QString deviceId = body.value(QStringLiteral("from")).toString();
    const QVariantMap map = data.toMap();
    const QString pollId = map.value(QStringLiteral("pollId")).toString();
    // Devices report milliseconds; the signal carries whole seconds, truncated.
    const int responseTime = toIntClamped(map.value(QStringLiteral("responseTime"))) / 1000;

    const QVariantMap blob = map.value(QStringLiteral("blob")).toMap();
    const QVariant pick = blob.value(QStringLiteral("pick"));
    QString text, answer;
    QStringList picks;
    if (pick.userType() == QMetaType::QVariantList || pick.userType() == QMetaType::QStringList) {
        for (const QVariant &element : pick.toList())
            picks << answerText(element);
        answer = picks.join(QLatin1Char(','));
    } else {
        answer = text = answerText(blob.value(QStringLiteral("input")));
    }

    qCDebug(lcCollab).noquote() << "POLL_RESPONSE" << tokenForLog(deviceId) << ":" << answer;
    emit learnerPollResponse(deviceId, pollId, responseTime, answer);
    picks.removeAll(QString()); // an empty pick names no option
    emit learnerAnswer(deviceId, pollId, responseTime, text, picks);
}

void CollaborationMessageHandler::onQuestionResponse(const QVariantMap &body, const QVariant &data)
{
    const QString deviceId = body.value(QStringLiteral("from")).toString();
    const QVariantMap map = data.toMap();
    const QString questionId = map.value(QStringLiteral("questionId")).toString();
    const int responseTime = toIntClamped(map.value(QStringLiteral("responseTime"))) / 1000;

    const QString text = map.value(QStringLiteral("answer")).toString();
    QStringList options;
    if (map.contains(QStringLiteral("optionAnswers"))) {
        for (const QVariant &element : map.value(QStringLiteral("optionAnswers")).toList()) {
            const QString id = element.toMap().value(QStringLiteral("activityOptionId")).toString();
            if (!id.isEmpty())
                options << id;
        }
    }
    // The specified answer runs text and ids together; learnerAnswer keeps them apart.
    const QString answer = text + options.join(QString());

    qCDebug(lcCollab).noquote() << "[DEBUG] RECEIVED RESPONSE FROM DEVICE " + tokenForLog(deviceId) + " of value: " + answer;
    emit learnerPollResponse(deviceId, questionId, responseTime, answer);
    emit learnerAnswer(deviceId, questionId, responseTime, text, options);
}

void CollaborationMessageHandler::onQuestionGet(const QVariantMap &body, const QVariant &data)
{
    const QString from = body.value(QStringLiteral("from")).toString();
    const int questionNumber = toIntClamped(data.toMap().value(QStringLiteral("questionNumber")));
    qCDebug(lcCollab).noquote() << "Learner " + tokenForLog(from) + " requesting question " << questionNumber;
    emit learnerGetQuestion(from, questionNumber);
}

void CollaborationMessageHandler::onRemoteControl(const QVariantMap &body, const QVariant &data)
{
    const QString type = body.value(QStringLiteral("type")).toString();
    const QString from = body.value(QStringLiteral("from")).toString();
    emit remoteControl(Veltro::RemoteControlMessage(from, type, data));
}
