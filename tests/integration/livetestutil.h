// Shared steps of the end-to-end tests: a signed-in client with a live
// collaboration object on the stand-in service, learners and a controller
// joined through its control interface, and the messages they received.
#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>
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

inline QStringList allTransports()
{
    return {QStringLiteral("websocket"), QStringLiteral("xhr-streaming"), QStringLiteral("xhr-polling")};
}

inline void registerLiveTypes()
{
    Veltro::Learner::registerMetaType();
    Veltro::RemoteControlMessage::registerMetaType();
}

struct LiveSession
{
    StandIn *standIn = nullptr;
    std::unique_ptr<PresenterClient> client;
    PresenterCollab *collab = nullptr;
    QString code;
    QString token;

    bool connected() const { return collab && collab->isConnected(); }

    // Publishes a probe to `address` and waits for it to come back: proves the
    // presenter is registered there and the server has handled all it sent before.
    // Written as another sender: the presenter ignores its own bodies.
    bool probe(const QString &address, int timeoutMs = LIVE_WAIT_MS)
    {
        QSignalSpy spy(collab, &PresenterCollab::unhandledMessage);
        const QString type = QStringLiteral("probe-") + QString::number(QDateTime::currentMSecsSinceEpoch());
        QString data;
        LzmaCompress64(QStringLiteral("{}"), &data);
        const QJsonObject frame{{"type", "publish"},
                                {"address", address.startsWith(QLatin1Char('.')) ? token + address : address},
                                {"body", QJsonObject{{"from", "probe"}, {"type", type}, {"data", QJsonArray{data}}}}};
        QElapsedTimer clock;
        clock.start();
        bool sent = false;
        while (clock.elapsed() < timeoutMs) {
            if (!sent && connected()) {
                collab->findChild<SockJSConnector *>()->send(
                    QString::fromUtf8(QJsonDocument(frame).toJson(QJsonDocument::Compact)), false);
                sent = true;
            }
            for (const auto &args : spy)
                if (args.at(0).toMap().value(QStringLiteral("type")).toString() == type)
                    return true;
            spy.wait(50);
        }
        return false;
    }

    // Signs in, creates and starts a session on `transport` and waits until the
    // collaboration object is registered. Returns an error text, empty on success.
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
        if (!transport.isEmpty())
            client->setSockJSOverrideProtocols({transport});
        if (!client->startWebsocket(&collab) || !collab)
            return QStringLiteral("startWebsocket failed: ") + client->getLastError();
        token = client->getSessionToken();
        if (!probe(QStringLiteral(".presenter")))
            return QStringLiteral("collaboration object did not connect and register over ") + transport;
        return QString();
    }

    QJsonArray addLearners(int count, const QStringList &names = {}, const QString &deviceType = QString(),
                           const QString &shape = QStringLiteral("random"))
    {
        QJsonObject extra{{"shape", shape}, {"answerDelay", QJsonArray{20, 60}}};
        if (!names.isEmpty())
            extra.insert(QStringLiteral("names"), QJsonArray::fromStringList(names));
        if (!deviceType.isEmpty())
            extra.insert(QStringLiteral("deviceType"), deviceType);
        return standIn->addLearners(code, count, QStringLiteral("websocket"), extra);
    }

    QString addController()
    {
        return standIn->control("POST", QStringLiteral("/controller"),
                                QJsonObject{{"sessionCode", code}, {"transport", "websocket"}}, LIVE_WAIT_MS)
            .object().value(QStringLiteral("token")).toString();
    }

    bool controllerSend(const QString &type, const QJsonValue &data, const QString &shape)
    {
        return standIn->control("POST", QStringLiteral("/controller/send"),
                                QJsonObject{{"sessionCode", code}, {"type", type}, {"data", data}, {"shape", shape}})
            .object().value(QStringLiteral("ok")).toBool();
    }

    // The records of one message type that a device has received so far.
    QList<QJsonObject> recordsOfType(const QString &deviceToken, const QString &type) const
    {
        QList<QJsonObject> out;
        for (const QJsonValue &r : standIn->records(deviceToken))
            if (r.toObject().value(QStringLiteral("type")).toString() == type)
                out << r.toObject();
        return out;
    }

    // Waits until the device has received `count` messages of `type`; returns them.
    QList<QJsonObject> waitForRecords(const QString &deviceToken, const QString &type, int count = 1,
                                      int timeoutMs = LIVE_WAIT_MS) const
    {
        QElapsedTimer clock;
        clock.start();
        QList<QJsonObject> got;
        while (clock.elapsed() < timeoutMs) {
            got = recordsOfType(deviceToken, type);
            if (got.size() >= count)
                break;
            QTest::qWait(50);
        }
        return got;
    }

    QJsonObject sessionInfo() const
    {
        return standIn->control("GET", QStringLiteral("/sessions/") + code).object();
    }
};
