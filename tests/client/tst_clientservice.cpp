// PresenterClient against the stand-in service: the whole flow, other sign-ins, misbehaving answers, TLS,
// an authenticating proxy, and a host that goes while its connection is live.
#include "presenterclient.h"
#include "presentercollab.h"
#include "presenterreply.h"
#include "standin.h"
#include "tcpproxy.h"

#include <QAuthenticator>
#include <QJsonArray>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QSslCertificate>
#include <QtTest>

class TestClient : public PresenterClient
{
public:
    using PresenterClient::PresenterClient;

    int failures = 0;
    QNetworkReply::NetworkError lastFailure = QNetworkReply::NoError;

    // A blocking request whose failure is counted.
    void countedRequest(const QString &path)
    {
        doRequest(true, QUrl(getServer() + path), QStringLiteral("{}"), nullptr,
                  static_cast<FailureHandler>(&TestClient::countFailure), false);
    }

private:
    void countFailure(QNetworkReply *reply, QString)
    {
        ++failures;
        lastFailure = reply->error();
    }
};

namespace {

bool received(const StandIn *s, const QString &token, const QString &type)
{
    for (const QJsonValue &r : s->records(token))
        if (r.toObject().value("type").toString() == type)
            return true;
    return false;
}

} // namespace

class tst_ClientService : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase()
    {
        qRegisterMetaType<QList<QSslError>>();
        qRegisterMetaType<QList<QSslCertificate>>();
        shared = StandIn::shared();
        QVERIFY(shared);
        own = StandIn::launch();
        QVERIFY(own);
    }

    void fullFlow()
    {
        TestClient client(nullptr, shared->server() + "/");
        QCOMPARE(client.getServer(), shared->server());
        QVERIFY(client.checkServer(QString(), QString()));
        QVERIFY(client.doLogin("teacher", "veltro"));
        QCOMPARE(client.doGetUserName(), "teacher"); // the sign-in cookie came along

        QVERIFY(client.doStartSession("ignored"));
        const QString code = client.getSessionCode();
        QCOMPARE(code.size(), 6);

        const QByteArray file("first line\r\n------boundary\r\n\x00\xff tail", 35);
        QString id, path;
        QVERIFY(client.doUploadResource("notes.bin", file, &id, &path));
        const QJsonObject upload = shared->control("GET", "/uploads/" + id).object();
        QCOMPARE(upload.value("fileName").toString() + ' ' + QString::number(upload.value("size").toInt()),
                 "notes.bin 35");

        PresenterCollab *first = nullptr;
        QVERIFY(client.startWebsocket(&first));
        QVERIFY(first);
        const QJsonObject session = shared->control("GET", "/sessions/" + code).object();
        QVERIFY(session.value("started").toBool());
        QCOMPARE(client.getSessionToken(), session.value("sessionToken").toString());

        // A learner to watch what the presenter's side publishes.
        const QString token = shared->control("POST", "/learners", {{"sessionCode", code}, {"count", 1}})
                                  .object().value("learners").toArray().first().toObject().value("token").toString();
        QVERIFY(!token.isEmpty());

        // Once the first collaboration object is live, a second start ends its
        // connection quietly: no goodbye, no signal, the learners stay and hear
        // the new object. The earlier object itself stays.
        QTRY_VERIFY_WITH_TIMEOUT((first->publishMessage("probe", "p"), received(shared, token, "probe")), 15000);
        QPointer<PresenterCollab> earlier(first);
        QSignalSpy firstClosed(first, &PresenterCollab::connectionClosed);
        PresenterCollab *second = nullptr;
        QVERIFY(client.startWebsocket(&second));
        QVERIFY(second && second != first);
        QTRY_VERIFY_WITH_TIMEOUT((second->publishMessage("again", "p"), received(shared, token, "again")), 15000);
        QVERIFY(!received(shared, token, "disconnect"));
        QVERIFY(!earlier.isNull() && !first->isConnected());
        QCOMPARE(firstClosed.count(), 0);

        QVERIFY(client.doStopSession());
        QVERIFY(shared->control("GET", "/sessions/" + code).object().value("stopped").toBool());
        QVERIFY(!client.doStopSession());

        // Signed out, the next session signs in again with the remembered password.
        QVERIFY(client.doLogout());
        QVERIFY(!client.isLoggedIn());
        QVERIFY(client.doStartSession());
        QVERIFY(client.isLoggedIn());

        // Without the cookie there is no sign-in, and nothing to sign in again with.
        TestClient stranger(nullptr, shared->server());
        QCOMPARE(stranger.doGetUserName(), "");
        QVERIFY(!stranger.doStartSession());
    }

    void otherSignIns()
    {
        TestClient client(nullptr, shared->server());
        QVERIFY(!client.doLogin("teacher", "wrong"));
        QCOMPARE(client.getLastError(), "error.login.invalidCredentials");
        QVERIFY(client.doLogin("teacher", "any-device", "device-token-teacher"));

        const QString token = client.doGetAccessToken("teacher", "veltro", "desk-7", "Desk \"7\"");
        QVERIFY(!token.isEmpty());
        TestClient device(nullptr, shared->server());
        QVERIFY(device.doLogin("teacher", "desk-7", token));
        QCOMPARE(device.doGetUserName(), "teacher");
    }

    void misbehavingService_data()
    {
        QTest::addColumn<QJsonObject>("switches");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("error");
        auto fail = [](int status, const QJsonValue &body) {
            return QJsonObject{{"fail", QJsonObject{{"/quorvane/login/submit", QJsonObject{{"status", status}, {"body", body}}}}}};
        };
        QTest::newRow("gzip") << QJsonObject{{"gzip", true}} << true << QString();
        QTest::newRow("error key") << fail(403, QJsonObject{{"errorMsgKeys", QJsonArray{"error.locked"}}}) << false
                                   << "error.locked";
        QTest::newRow("key without error") << fail(403, QJsonObject{{"errorMsgKeys", QJsonArray{"locked"}}}) << false
                                           << QString();
        QTest::newRow("not JSON") << QJsonObject{{"nonJson", QJsonArray{"/quorvane", "/quorvane/login/submit"}}}
                                  << false << QString();
        // Behind HTTP authentication: reached with its credentials only.
        QTest::newRow("basic auth") << QJsonObject{{"basicAuth", QJsonObject{{"user", "gate"}, {"password", "pass word"}}}}
                                    << false << "error.authenticationRequired";
    }
    void misbehavingService()
    {
        QFETCH(QJsonObject, switches);
        QFETCH(bool, signedIn);
        QFETCH(QString, error);
        setSwitches(switches);
        TestClient client(nullptr, own->server());
        const bool gated = switches.contains("basicAuth");
        QCOMPARE(client.checkServer(QString(), QString()), !switches.contains("nonJson") && !gated);
        QCOMPARE(client.doLogin("teacher", "veltro"), signedIn);
        QCOMPARE(client.getLastError(), error);
        QString id;
        if (signedIn)
            QVERIFY(client.doGetUserName() == "teacher" && client.doUploadResource("a.bin", "x", &id, nullptr));
        TestClient insider(nullptr, own->server());
        QVERIFY(!gated || (insider.checkServer("gate", "pass word") && insider.doLogin("teacher", "veltro")
                           && insider.doUploadResource("a.bin", "x", &id, nullptr)));
    }

    void neverAnswered()
    {
        setSwitches({{"hang", QJsonArray{"/quorvane/login/user"}}});
        TestClient client(nullptr, own->server());
        QSignalSpy processed(&client, &PresenterClient::requestProcessed);
        client.countedRequest("/quorvane/login/user"); // the wait ends on its own limit
        QCOMPARE(client.failures, 1);
        QCOMPARE(client.lastFailure, QNetworkReply::OperationCanceledError);
        QCOMPARE(processed.count(), 1);
    }

    void tls()
    {
        std::unique_ptr<StandIn> secure = StandIn::launch({"--tls"});
        QVERIFY(secure);
        QList<QSslError> errors;
        {
            // Refused by default, with the certificate error named, the chain for the host, and
            // the specified text in getLastError().
            TestClient untrusted(nullptr, secure->server());
            QSignalSpy refused(&untrusted, &PresenterClient::sslErrors);
            QString reason;
            PresenterReply *reply = untrusted.requestServerCheck();
            connect(reply, &PresenterReply::finished, reply, [&] { reason = reply->errorString(); });
            QTRY_VERIFY(!reason.isEmpty());
            QVERIFY2(reason.startsWith("certificate error: "), qPrintable(reason));
            QCOMPARE(untrusted.getLastError(), "SSLRootCertificateMissing");
            QCOMPARE(refused.count(), 1);
            errors = refused.first().at(0).value<QList<QSslError>>();
            QVERIFY(!errors.isEmpty() && !refused.first().at(1).value<QList<QSslCertificate>>().isEmpty());

            // Accepted, exactly these errors let every later handshake through.
            untrusted.ignoreSslErrors(errors);
            QVERIFY(untrusted.checkServer(QString(), QString()));
            QCOMPARE(untrusted.lastErrorCode(), Veltro::Error::None);
            QVERIFY(untrusted.getLastError().isNull());
            QCOMPARE(refused.count(), 1); // accepted errors are not reported again
        }
        {
            // ... and no other server's certificate.
            std::unique_ptr<StandIn> other = StandIn::launch({"--tls"});
            QVERIFY(other);
            TestClient elsewhere(nullptr, other->server());
            elsewhere.ignoreSslErrors(errors);
            QVERIFY(!elsewhere.checkServer(QString(), QString()));
            QCOMPARE(elsewhere.lastErrorCode(), Veltro::Error::Tls);
        }

        // The school's authority added in one call: trusted, nothing accepted.
        TestClient trusted(nullptr, secure->server());
        QVERIFY(trusted.addCaCertificates(secure->info().value("caFile").toString()));
        // The service offers HTTP/2 but answers it 505: the client keeps to HTTP/1.1.
        QVERIFY(trusted.checkServer(QString(), QString()));
        QVERIFY(trusted.doLogin("teacher", "veltro"));
        QVERIFY(trusted.getLastError().isNull());

        // From https a redirect to http is not followed: the 3xx answer is handled as it is.
        const QJsonObject toPlain{{"scheme", "http"}, {"host", "127.0.0.1"}, {"port", shared->info().value("port")}};
        QVERIFY(secure->setSwitches({{"redirect", toPlain}}));
        QVERIFY(trusted.checkServer(QString(), QString())); // its body is JSON
        QCOMPARE(trusted.getServer(), secure->server());
    }

    void proxyCredentials()
    {
        TcpProxy gate(0);
        gate.requireCredentials("school", "pass word");
        QNetworkProxy proxy(QNetworkProxy::HttpProxy, "127.0.0.1", gate.port());
        proxy.setCapabilities(QNetworkProxy::TunnelingCapability); // CONNECT, for plain HTTP too
        {
            // Nobody gives credentials: the proxy's reason, not a timeout.
            TestClient client(nullptr, shared->server());
            client.setProxy(proxy);
            QVERIFY(!client.checkServer(QString(), QString()));
            QCOMPARE(client.lastErrorCode(), Veltro::Error::ProxyAuthenticationRequired);
        }
        // Asked once; the answer serves every later request.
        TestClient client(nullptr, shared->server());
        client.setProxy(proxy);
        int asked = 0;
        connect(&client, &PresenterClient::proxyAuthenticationRequired, this,
                [&](const QNetworkProxy &, QAuthenticator *authenticator) {
                    ++asked;
                    authenticator->setUser("school");
                    authenticator->setPassword("pass word");
                });
        QVERIFY(client.checkServer(QString(), QString()));
        QVERIFY(client.doLogin("teacher", "veltro"));
        QString id;
        QVERIFY(client.doGetUserName() == "teacher" && client.doUploadResource("a.bin", "x", &id, nullptr));
        QCOMPARE(asked, 1);
        QCOMPARE(gate.connectTarget(), QUrl(shared->server()).authority().toLatin1());
    }

    // The connection defaults set on the client reach each collaboration object it creates, before its
    // first open: a link silent for 300 ms is dead, and reopened after at most 100 ms.
    void connectionDefaults()
    {
        TestClient client(nullptr, shared->server());
        client.setDeadLinkLimit(300);
        client.setAutoReconnect(true);
        client.setReconnectDelays(50, 100);
        PresenterCollab *collab = nullptr;
        QVERIFY(client.doLogin("teacher", "veltro") && client.doStartSession() && client.startWebsocket(&collab));
        QSignalSpy reconnecting(collab, &PresenterCollab::reconnecting);
        QTRY_VERIFY_WITH_TIMEOUT(!reconnecting.isEmpty(), 15000);
        QVERIFY(reconnecting.first().at(1).toInt() <= 100);
    }

    // A host whose client is a child of its application object quits with the connection up: it exits
    // at once, no event loop runs in the teardown, and the session is stopped (a server named by a name at
    // the address looked up ahead).
    void quitWithLiveConnection_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("by address") << shared->server();
        QUrl named(shared->server());
        named.setHost(QStringLiteral("localhost"));
        QTest::newRow("by name") << named.toString();
    }
    void quitWithLiveConnection()
    {
        QFETCH(QString, server);
        QProcess host;
        host.start(QStringLiteral(VELTRO_QUITHOST), {server});
        QVERIFY(host.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(host.canReadLine() || host.state() == QProcess::NotRunning, 30000);
        const QString code = QString::fromLatin1(host.readLine()).trimmed();
        QCOMPARE(code.size(), 6);
        QTRY_VERIFY_WITH_TIMEOUT(host.state() == QProcess::NotRunning, 5000);
        const QByteArray printed = host.readAllStandardError();
        QVERIFY2(host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0, printed.constData());
        QVERIFY2(!printed.contains("QEventLoop"), printed.constData());
        QVERIFY(shared->control("GET", "/sessions/" + code).object().value("stopped").toBool());
    }

    // A host slot deletes the client while doStopSession waits for the goodbye: a clear result, no crash.
    void deletedDuringStop()
    {
        auto *client = new TestClient(nullptr, shared->server());
        QPointer<TestClient> alive(client);
        PresenterCollab *collab = nullptr;
        QVERIFY(client->doLogin("teacher", "veltro") && client->doStartSession() && client->startWebsocket(&collab));
        const QString code = client->getSessionCode();
        QTRY_VERIFY_WITH_TIMEOUT(collab->isConnected(), 15000);
        connect(collab, &PresenterCollab::connectionClosed, client, &QObject::deleteLater);
        QVERIFY(!client->doStopSession());
        QVERIFY(alive.isNull());
        QTRY_VERIFY(shared->control("GET", "/sessions/" + code).object().value("stopped").toBool());
    }

private:
    StandIn *shared = nullptr;
    std::unique_ptr<StandIn> own; // for switches
    void setSwitches(const QJsonObject &switches) { QVERIFY(own->reset() && own->setSwitches(switches)); }
};

QTEST_GUILESS_MAIN(tst_ClientService)
#include "tst_clientservice.moc"
