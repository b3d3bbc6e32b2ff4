// Shared steps of the end-to-end tests: a signed-in client with a live collaboration object on the stand-in,
// devices joined through its control interface, and the messages they received.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMutex>
#include <QSignalSpy>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "collaborationmessagehandler.h"
#include "learner.h"
#include "lzmacodec.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "remotecontrolmessage.h"
#include "sockjsconnector.h"
#include "standin.h"

const int LIVE_WAIT_MS = 20000;

inline void addTransportRows()
{
    QTest::addColumn<QString>("transport");
    for (const char *t : {"websocket", "xhr-streaming", "xhr-polling"})
        QTest::newRow(t) << QString::fromLatin1(t);
}

inline void registerLiveTypes()
{
    Veltro::Learner::registerMetaType();
    Veltro::RemoteControlMessage::registerMetaType();
}

inline QString str(const QJsonObject &o, const char *key) { return o.value(QLatin1String(key)).toString(); }

// Collects the debug lines of veltro.collab while it lives (turned on for that category alone; the verbose
// switch stays off), instead of printing them.
class CollabLog
{
public:
    CollabLog()
    {
        self = this;
        oldFilter = QLoggingCategory::installFilter(&filter);
        oldHandler = qInstallMessageHandler(&handler);
    }
    ~CollabLog()
    {
        qInstallMessageHandler(oldHandler);
        QLoggingCategory::installFilter(oldFilter);
        self = nullptr;
    }
    QStringList lines() const
    {
        QMutexLocker lock(&mutex);
        return m_lines;
    }

private:
    static bool isCollab(const char *category) { return category && qstrcmp(category, "veltro.collab") == 0; }
    static void filter(QLoggingCategory *category)
    {
        if (oldFilter)
            oldFilter(category);
        if (isCollab(category->categoryName()))
            category->setEnabled(QtDebugMsg, true);
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (self && isCollab(context.category)) {
            QMutexLocker lock(&mutex);
            self->m_lines << message;
            return;
        }
        if (oldHandler)
            oldHandler(type, context, message);
    }
    static inline CollabLog *self = nullptr;
    static inline QLoggingCategory::CategoryFilter oldFilter = nullptr;
    static inline QtMessageHandler oldHandler = nullptr;
    static inline QMutex mutex;
    QStringList m_lines;
};

struct LiveSession
{
    StandIn *standIn = nullptr;
    std::unique_ptr<PresenterClient> client;
    PresenterCollab *collab = nullptr;
    QString code;
    QString token;

    // Publishes a probe to `address` as another sender and waits for it to come back: the presenter is
    // registered there and the server has handled all it sent before.
    bool probe(const QString &address)
    {
        QSignalSpy spy(collab, &PresenterCollab::unhandledMessage);
        const QString type = QStringLiteral("probe-") + QString::number(QDateTime::currentMSecsSinceEpoch());
        QString data;
        LzmaCompress64(QStringLiteral("{}"), &data);
        const QJsonObject frame{{"type", "publish"},
                                {"address", address.startsWith(QLatin1Char('.')) ? token + address : address},
                                {"body", QJsonObject{{"from", "probe"}, {"type", type}, {"data", QJsonArray{data}}}}};
        if (!QTest::qWaitFor([this] { return collab->isConnected(); }, LIVE_WAIT_MS))
            return false;
        collab->findChild<SockJSConnector *>()->send(
            QString::fromUtf8(QJsonDocument(frame).toJson(QJsonDocument::Compact)), false);
        return QTest::qWaitFor([&] {
            return std::any_of(spy.begin(), spy.end(), [&](const QList<QVariant> &args) {
                return args.at(0).toMap().value(QStringLiteral("type")).toString() == type;
            });
        }, LIVE_WAIT_MS);
    }

    // Signs in, starts a session on `transport`, waits for the registration; an error text, empty on success.
    QString start(StandIn *s, const QString &transport)
    {
        standIn = s;
        if (!s)
            return QStringLiteral("stand-in service not running");
        client = std::make_unique<PresenterClient>(nullptr, s->server());
        if (!client->doLogin(QStringLiteral("teacher"), QStringLiteral("veltro")))
            return QStringLiteral("sign-in failed: ") + client->getLastError();
        if (!client->doStartSession())
            return QStringLiteral("session create failed");
        code = client->getSessionCode();
        client->setSockJSOverrideProtocols({transport});
        if (!client->startWebsocket(&collab) || !collab)
            return QStringLiteral("startWebsocket failed: ") + client->getLastError();
        token = client->getSessionToken();
        // Connected to once the call has returned, as a host does: the signal is not missed.
        QSignalSpy up(collab, &PresenterCollab::connected);
        if (!up.wait(LIVE_WAIT_MS) && up.isEmpty())
            return QStringLiteral("connected() not received after startWebsocket() returned");
        if (collab->state() != Veltro::ConnectionState::Connected)
            return QStringLiteral("not in the Connected state");
        return probe(QStringLiteral(".presenter")) ? QString() : QStringLiteral("not registered over ") + transport;
    }

    // Joins `count` learners (named `names` when given; `more` adds to the stand-in's options) and returns their
    // tokens.
    QStringList addLearners(int count, const QStringList &names = {}, const QJsonObject &more = {})
    {
        QJsonObject extra{{"shape", "random"}, {"answerDelay", QJsonArray{20, 60}}, {"deviceType", "tablet"}};
        for (auto it = more.begin(); it != more.end(); ++it)
            extra.insert(it.key(), it.value());
        if (!names.isEmpty())
            extra.insert(QStringLiteral("names"), QJsonArray::fromStringList(names));
        QStringList out;
        for (const QJsonValue &v : standIn->addLearners(code, count, QStringLiteral("websocket"), extra))
            out << str(v.toObject(), "token");
        return out;
    }

    QJsonObject control(const QString &path, QJsonObject body = {}) const
    {
        body.insert(QStringLiteral("sessionCode"), code);
        return standIn->control("POST", path, body, LIVE_WAIT_MS).object();
    }

    // The records of one message type that a device has received so far.
    QList<QJsonObject> recordsOfType(const QString &deviceToken, const QString &type) const
    {
        QList<QJsonObject> out;
        for (const QJsonValue &r : standIn->records(deviceToken)) {
            if (str(r.toObject(), "type") == type)
                out << r.toObject();
        }
        return out;
    }

    // Waits until the device has received `count` messages of `type`; returns them.
    QList<QJsonObject> waitForRecords(const QString &deviceToken, const QString &type, int count = 1) const
    {
        QList<QJsonObject> got;
        (void)QTest::qWaitFor([&] { return (got = recordsOfType(deviceToken, type)).size() >= count; }, LIVE_WAIT_MS);
        return got;
    }

    // The device with `deviceToken` answers the question or poll `answerId` with `answer`, as its own frame (a
    // "questionResponse" on the presenter address of session `sessionToken`, or of this session); false
    // when the service refused.
    bool answerAs(const QString &deviceToken, const QString &answerId, const QString &answer,
                  const QString &sessionToken = QString()) const
    {
        QString data;
        const QJsonObject response{{"questionId", answerId}, {"answer", answer}, {"optionAnswers", QJsonArray()},
                                   {"responseTime", 1000}};
        LzmaCompress64(QString::fromUtf8(QJsonDocument(response).toJson(QJsonDocument::Compact)), &data);
        const QJsonObject frame{
            {"type", "publish"},
            {"address", QString((sessionToken.isEmpty() ? token : sessionToken) + QStringLiteral(".presenter"))},
            {"body", QJsonObject{{"from", deviceToken}, {"type", "questionResponse"}, {"data", QJsonArray{data}}}}};
        const QJsonObject body{{"token", deviceToken},
                               {"frame", QString::fromUtf8(QJsonDocument(frame).toJson(QJsonDocument::Compact))}};
        return standIn->control("POST", QStringLiteral("/raw"), body, LIVE_WAIT_MS).object()
            .value(QStringLiteral("ok")).toBool();
    }

    // The learners the service lists for session `sessionCode` (this session by default): joined as learners
    // and not departed.
    QSet<QString> serviceLearners(const QString &sessionCode = QString()) const
    {
        QSet<QString> out;
        const QJsonObject info = standIn->control("GET", QStringLiteral("/sessions/")
                                                      + (sessionCode.isEmpty() ? code : sessionCode)).object();
        for (const QJsonValue &v : info.value(QStringLiteral("learners")).toArray()) {
            const QJsonObject l = v.toObject();
            if (str(l, "mode") == QLatin1String("learner") && !l.value(QStringLiteral("departed")).toBool())
                out.insert(str(l, "userToken"));
        }
        return out;
    }

    bool deviceConnected(const QString &deviceToken) const
    {
        return standIn->control("GET", QStringLiteral("/records?token=") + deviceToken)
            .object().value(QStringLiteral("connected")).toBool();
    }
};
