// PresenterClient against an in-process HTTP fake, where exact bytes and the
// order of replies matter.
#include "fakeservice.h"
#include "networksettings_p.h"
#include "presenterclient.h"
#include "presenterclient_p.h"
#include "presentercollab.h"
#include "presenterreply.h"
#include "tcpproxy.h"
#include "teardownpost_p.h"
#include "testdata.h"
#include "testsupport.h"

#include <QMetaEnum>
#include <QPointer>
#include <QTcpSocket>
#include <QtTest>
#include <functional>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

using Request = FakeService::Request;

// Every member any handler looks for.
const QByteArray universal =
    R"({"data":{"userLoginId":"teacher","sessionCode":"123456","url":"http://127.0.0.1:1/collab",)"
    R"("sockJSProtocols":["xhr-polling"],"sessionToken":"tok-1","userToken":"ut-1","deviceAccessToken":"dat-1",)"
    R"("id":42,"users":[]},"infoMsgKeys":["success"]})";

// Every operation, in its two forms, with the request whose answer decides
// it and what must exist before it.
enum Need { Nothing, SignedIn, Created, Live };
struct Operation
{
    const char *name;
    QByteArray path;
    Need need;
    std::function<PresenterReply *(PresenterClient &)> start;
    std::function<bool(PresenterClient &)> block; // true: the blocking form's success value
};
const QList<Operation> &operations()
{
    static const QList<Operation> ops{
        {"server check", "/quorvane", Nothing, [](PresenterClient &c) { return c.requestServerCheck(); },
         [](PresenterClient &c) { return c.checkServer({}, {}); }},
        {"password sign-in", "/quorvane/login/submit", Nothing, [](PresenterClient &c) { return c.login("t", "pw"); },
         [](PresenterClient &c) { return c.doLogin("t", "pw"); }},
        {"device sign-in", "/quorvane/login/submit", Nothing,
         [](PresenterClient &c) { return c.login("t", "dev", "tok"); },
         [](PresenterClient &c) { return c.doLogin("t", "dev", "tok"); }},
        {"OAuth sign-in", "/quorvane/login/oauth/brightid/callback", Nothing,
         [](PresenterClient &c) { return c.loginWithOAuth("brightid", "c"); },
         [](PresenterClient &c) {
             QString reg;
             return c.doLoginWithOAuth("brightid", "c", reg);
         }},
        {"access token", "/quorvane/login/submit", Nothing,
         [](PresenterClient &c) { return c.requestAccessToken("t", "pw", "dev", "Desk"); },
         [](PresenterClient &c) { return !c.doGetAccessToken("t", "pw", "dev", "Desk").isEmpty(); }},
        {"OAuth access token", "/quorvane/login/oauth/brightid/callback", Nothing,
         [](PresenterClient &c) { return c.requestOAuthAccessToken("brightid", "c", "dev", "Desk"); },
         [](PresenterClient &c) {
             QString reg;
             return !c.doGetOAuthAccessToken("brightid", "c", "dev", "Desk", reg).isEmpty();
         }},
        {"sign-out", "/quorvane/login/logout", SignedIn, [](PresenterClient &c) { return c.logout(); },
         [](PresenterClient &c) { return c.doLogout(); }},
        {"user name", "/quorvane/login/user", Nothing, [](PresenterClient &c) { return c.requestUserName(); },
         [](PresenterClient &c) { return !c.doGetUserName().isEmpty(); }},
        {"session create", "/quorvane/session/create", SignedIn, [](PresenterClient &c) { return c.startSession(); },
         [](PresenterClient &c) { return c.doStartSession(); }},
        {"session start", "/quorvane/session/start", Created, [](PresenterClient &c) { return c.startCollab(); },
         [](PresenterClient &c) { return c.startWebsocket(nullptr); }},
        {"learners", "/quorvane/session/getusers", Live, [](PresenterClient &c) { return c.requestLearners(); },
         [](PresenterClient &c) { return c.doGetLearners(); }},
        {"session stop", "/quorvane/session/stop", Live, [](PresenterClient &c) { return c.stopSession(); },
         [](PresenterClient &c) { return c.doStopSession(); }},
        {"upload", "/quorvane/resource/uploadResourceFile", Nothing,
         [](PresenterClient &c) { return c.uploadResource("f.txt", "x"); },
         [](PresenterClient &c) {
             QString id, path;
             return c.doUploadResource("f.txt", "x", &id, &path);
         }},
    };
    return ops;
}
enum Outcome { Success, ErrorKey, RefusedSignIn, TimedOut, TooLarge, Cancel, ClientDeleted, NoSession, Forgotten };

// What the fake answers in the outcomes table; `decisive`: the operation's own request.
QByteArray outcomeAnswer(Outcome outcome, const QByteArray &path, bool decisive)
{
    switch (outcome) {
    case ErrorKey:
        if (decisive)
            return httpAnswer(409, R"({"errorMsgKeys":["error.denied"]})");
        break;
    case RefusedSignIn:
        return httpAnswer(200, path == "/quorvane/login/user" ? QByteArray(R"({"data":{"userLoginId":""}})")
                                                          : QByteArray(R"({"infoMsgKeys":["error.login.failed"]})"));
    case TimedOut:
    case Cancel:
    case ClientDeleted:
        if (decisive)
            return QByteArray(); // never answered
        break;
    case TooLarge:
        if (decisive)
            return httpAnswer(200, R"({"pad":")" + QByteArray(4096, 'p') + R"("})");
        break;
    case Forgotten: // the service was restarted: it knows the sign-in no more
        if (decisive)
            return httpAnswer(401, R"({"errorMsgKeys":["error.notSignedIn"]})");
        break;
    default:
        break;
    }
    return httpAnswer(200, universal, path == "/quorvane/login/submit" ? "Set-Cookie: QSESSION=abc; Path=/\r\n" : "");
}

// TCP_NODELAY of a connection of this process: by descriptor, or by the
// local port of the one that has it; -1 where there is none.
int noDelay(qintptr fd)
{
    int value = 0;
    socklen_t length = sizeof value;
    return ::getsockopt(int(fd), IPPROTO_TCP, TCP_NODELAY, &value, &length) == 0 ? value : -1;
}
int noDelayFrom(quint16 port)
{
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in local;
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0 && local.sin_family == AF_INET
            && ntohs(local.sin_port) == port)
            return noDelay(fd);
    }
    return -1;
}

QStringList capturedLog;
void captureLog(QtMsgType, const QMessageLogContext &, const QString &text) { capturedLog << text; }

} // namespace

class TestClient : public PresenterClient
{
public:
    using PresenterClient::PresenterClient;
    using PresenterClient::onPingTimer;
    QTimer *keepAliveTimer() { return &PresenterClientPrivate::get(this)->pingTimer; }
    void setRequestBound(int ms) { PresenterClientPrivate::get(this)->requestBoundMs = ms; }
    // A blocking request of its own whose answer lands in the session code.
    void nestedRequest()
    {
        doRequest(true, QUrl(getServer() + "/nested"), QStringLiteral("{}"), &TestClient::sessionSuccessResponse);
    }
};

// Brings a client to what an operation needs, by the blocking calls.
void setUp(PresenterClient *c, Need need)
{
    QVERIFY(need < SignedIn || c->doLogin("teacher", "pw"));
    QVERIFY(need < Created || c->doStartSession());
    QVERIFY(need < Live || c->startWebsocket(nullptr));
}

class tst_PresenterClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // moc reads raw string literals as ordinary ones: the tables whose JSON
    // holds escaped quotes are defined after the class, where that is harmless.
    void requestBodies_data();
    void requestBodies()
    {
        QFETCH(int, op);
        QFETCH(QString, value);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);
        FakeService fake;
        fake.handler = [](const Request &r, QTcpSocket *) {
            return httpAnswer(200, universal, r.path.endsWith("submit") ? "Set-Cookie: QSESSION=abc; Path=/\r\n" : "");
        };
        TestClient client(nullptr, fake.url());
        QString reg;
        switch (op) {
        case 0:
            QVERIFY(client.doLogin(value, "pw"));
            QVERIFY(client.keepAliveTimer()->isActive());
            QCOMPARE(client.keepAliveTimer()->interval(), 60000);
            break;
        case 1: QVERIFY(client.doLogin("teacher", "dev-1", value)); break;
        case 2: QVERIFY(client.doLoginWithOAuth(value, "c\n1", reg)); break;
        case 3: QCOMPARE(client.doGetAccessToken("teacher", "pw", "dev-1", value), "dat-1"); break;
        default:
            QVERIFY(client.doLogin("teacher", "pw"));
            client.setHostAppVersion(value);
            QVERIFY(client.doStartSession() && client.startWebsocket(nullptr));
            QVERIFY(op != 7 || client.doStopSession());
            if (op == 8)
                client.sendKeepAlive();
        }
        const Request r = fake.last(path);
        QCOMPARE(r.body, QByteArray(body).replace("$SERVER", fake.url().toUtf8()));
        if (op >= 5)
            QCOMPARE(r.headers.value("cookie"), QByteArray("QSESSION=abc"));
        // Headers: identity encoding, the JSON content type, the sign-in cookie
        // once set, and nothing else of the library's own.
        const QSet<QByteArray> allowed{"host",        "content-length",  "connection",   "accept-language",
                                       "user-agent",  "accept-encoding", "content-type", "cookie"};
        for (const Request &q : qAsConst(fake.requests)) {
            QCOMPARE(q.headers.value("accept-encoding") + ", " + q.headers.value("content-type"),
                     QByteArray("identity, application/json; charset=UTF-8"));
            for (const QByteArray &name : q.headers.keys())
                QVERIFY2(allowed.contains(name), name.constData());
        }
    }

    void redirects_data()
    {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("server"); // empty: unchanged
        QTest::addColumn<bool>("reachable");
        auto row = [](const char *name, const char *location, const char *body, const char *server, bool reachable) {
            QTest::newRow(name) << QByteArray(location) << QByteArray(body) << QString(server) << reachable;
        };
        row("https, 8443, path dropped", "https://elsewhere.example:8443/quorvane?x=1", "",
            "https://elsewhere.example:8443", true);
        row("https, 443 kept", "https://elsewhere.example:443/a", "", "https://elsewhere.example:443", true);
        row("http, 80 dropped", "http://127.0.0.1:80/quorvane", "", "http://127.0.0.1", true);
        row("relative", "/somewhere/else", "", "", true);
        // Another scheme is not followed: the 3xx reply is handled as an answer.
        row("other scheme, JSON", "ftp://elsewhere.example/x", "{}", "", true);
        row("other scheme, empty", "ftp://elsewhere.example/x", "", "", false);
    }
    void redirects()
    {
        QFETCH(QByteArray, location);
        QFETCH(QByteArray, body);
        QFETCH(QString, server);
        QFETCH(bool, reachable);
        FakeService fake;
        fake.handler = [&](const Request &, QTcpSocket *) {
            return httpAnswer(307, body, "Location: " + location + "\r\n");
        };
        TestClient client(nullptr, fake.url());
        QSignalSpy processed(&client, &PresenterClient::requestProcessed);
        QCOMPARE(client.checkServer(QString(), QString()), reachable);
        QCOMPARE(client.getServer(), server.isEmpty() ? fake.url() : server);
        QCOMPARE(fake.requests.size(), 1); // never repeated
        QCOMPARE(processed.count(), 1);
    }
    void answerSize_data();
    void answerSize()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, name);
        FakeService fake;
        fake.handler = [&](const Request &, QTcpSocket *s) {
            s->write(reply);
            s->disconnectFromHost();
            return QByteArray();
        };
        TestClient client(nullptr, fake.url());
        if (!name.isEmpty()) {
            client.setMaxResponseSize(1024);
            QCOMPARE(client.doGetUserName(), QString());
            QCOMPARE(client.getLastError(), "ResponseTooLarge");
        }
        client.setMaxResponseSize(4096);
        QCOMPARE(client.doGetUserName(), name);
    }
    void oauthRegistration_data();
    void oauthRegistration()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, handed);
        QFETCH(QByteArray, submitted);
        FakeService fake;
        bool askAgain = false;
        fake.handler = [&](const Request &r, QTcpSocket *) {
            // The submit's own key names the registration's success: it is a sign-in.
            const bool submit = r.path.endsWith("submit") && !askAgain;
            return httpAnswer(200, submit ? R"({"infoMsgKeys":["registration.success"]})" : body);
        };
        TestClient client(nullptr, fake.url());
        QString registration;
        QVERIFY(!client.doLoginWithOAuth("brightid", "c", registration));
        QCOMPARE(registration, handed);
        QCOMPARE(client.lastErrorCode(), Veltro::Error::RegistrationRequired);
        QVERIFY(client.doLoginWithOAuth("brightid", "c", registration));
        QCOMPARE(fake.requests.last().path, QByteArray("/quorvane/register/oauth/submit"));
        QCOMPARE(fake.requests.last().body, submitted);
        QVERIFY(registration.isNull());
        // The device-token path hands over the same text when no token is issued.
        QCOMPARE(client.doGetOAuthAccessToken("brightid", "c", "dev", "Desk", registration), QString());
        QCOMPARE(registration, handed);
        // A submit answered with the registration request again fails, handing the data back.
        askAgain = true;
        QVERIFY(!client.doLoginWithOAuth("brightid", "c", registration));
        QCOMPARE(registration, handed);
        QVERIFY(client.getLastError().contains("success") && client.getLastError().contains("registration"));
    }

    void replyDuringNestedWait_data()
    {
        QTest::addColumn<bool>("outerFirst");
        QTest::newRow("keep-alive inside a sign-in, answered first") << false;
        QTest::newRow("outer answered while the inner waits") << true;
    }
    void replyDuringNestedWait()
    {
        QFETCH(bool, outerFirst);
        FakeService fake;
        QPointer<QTcpSocket> held;
        QByteArray heldAnswer;
        fake.handler = [&](const Request &r, QTcpSocket *s) -> QByteArray {
            const QByteArray mine = httpAnswer(
                200, r.path == "/nested" ? R"({"data":{"sessionCode":"777"}})" : R"({"infoMsgKeys":["success"]})");
            if (held.isNull()) { // the sign-in waits for the second request
                held = s;
                heldAnswer = mine;
                return QByteArray();
            }
            // One now, the other a moment later, so the client completes them in that order.
            QTcpSocket *later = outerFirst ? s : held.data();
            const QByteArray laterAnswer = outerFirst ? mine : heldAnswer;
            QTimer::singleShot(150, later, [later, laterAnswer] { later->write(laterAnswer); });
            return outerFirst ? (held->write(heldAnswer), QByteArray()) : mine;
        };
        TestClient client(nullptr, fake.url());
        QTimer::singleShot(50, &client, [&] { outerFirst ? client.nestedRequest() : client.onPingTimer(); });
        // Neither request is cut short by the other's completion.
        QVERIFY(client.doLogin("teacher", "pw"));
        QCOMPARE(fake.paths().value(1), outerFirst ? "/nested" : "/quorvane/login/keepSessionAlive");
        QCOMPARE(client.getSessionCode(), outerFirst ? "777" : QString());
    }

    // Every operation against every way it can end: the typed code, the
    // text, getLastError(), one finished() from the event loop, and the
    // blocking form reporting alike (or surviving its client's deletion).
    void outcomes_data();
    void outcomes()
    {
        QFETCH(int, op);
        QFETCH(int, outcome);
        QFETCH(Veltro::Error, code);
        QFETCH(QString, text); // errorString() begins with it
        QFETCH(QString, lastError);
        const Operation &o = operations().at(op);
        FakeService fake;
        bool testing = false;
        QPointer<PresenterClient> deleteOnRequest;
        fake.handler = [&](const Request &r, QTcpSocket *) -> QByteArray {
            const bool decisive = testing && r.path == o.path;
            if (decisive && deleteOnRequest)
                deleteOnRequest->deleteLater(); // a host slot deleting the client during the wait
            return outcomeAnswer(testing ? Outcome(outcome) : Success, r.path, decisive);
        };
        auto prepare = [&](TestClient *c) {
            testing = false;
            if (outcome != NoSession)
                setUp(c, o.need);
            fake.requests.clear();
            testing = true;
            c->setRequestBound(outcome == TimedOut ? 200 : 10000);
            c->setMaxResponseSize(outcome == TooLarge ? 1024 : 4096);
        };

        auto *client = new TestClient(nullptr, fake.url());
        prepare(client);
        QSignalSpy lost(client, &PresenterClient::signInLost);
        QSignalSpy signedIn(client, &PresenterClient::signedInChanged);
        PresenterReply *reply = o.start(*client);
        QPointer<PresenterReply> alive(reply);
        QSignalSpy finished(reply, &PresenterReply::finished);
        Veltro::Error got = Veltro::Error::None;
        QString gotText, gotLastError;
        connect(reply, &PresenterReply::finished, reply, [&] {
            QVERIFY(reply->isFinished());
            got = reply->error();
            gotText = reply->errorString();
            gotLastError = reply->lastErrorText();
        });
        QCOMPARE(finished.count(), 0); // never inside the call
        if (outcome == Cancel || outcome == ClientDeleted) {
            QTRY_VERIFY(fake.paths().contains(QString::fromLatin1(o.path)));
            if (outcome == Cancel)
                reply->cancel();
            else
                delete client;
            QCOMPARE(finished.count(), 0);
        }
        QTRY_VERIFY(alive.isNull()); // gone after finished(), whoever owned it
        QCOMPARE(finished.count(), 1);
        QCOMPARE(got, code);
        QVERIFY2(gotText.startsWith(text) && gotText.isEmpty() == (code == Veltro::Error::None), qPrintable(gotText));
        if (outcome == Forgotten) {
            // Told once, signed out, the session gone with the sign-in.
            QCOMPARE(lost.count(), 1);
            QCOMPARE(signedIn.count(), 1);
            QVERIFY(!client->isLoggedIn() && client->getSessionToken().isNull() && client->getSessionCode().isNull());
        } else {
            QCOMPARE(lost.count(), 0);
        }
        if (outcome != ClientDeleted) {
            QCOMPARE(gotLastError, lastError);
            delete client;
        } else if (o.need == Live) {
            // Gone with a live session: the stop went out, with the sign-in's cookie.
            QTRY_COMPARE(fake.last("/quorvane/session/stop").headers.value("cookie"), QByteArray("QSESSION=abc"));
        }

        if (outcome == Cancel)
            return;
        auto *blocking = new TestClient(nullptr, fake.url());
        QPointer<PresenterClient> guard(blocking);
        prepare(blocking);
        if (outcome == ClientDeleted)
            deleteOnRequest = blocking;
        const bool ok = o.block(*blocking);
        if (outcome == ClientDeleted) {
            QVERIFY(guard.isNull() && !ok);
            return;
        }
        QCOMPARE(blocking->lastErrorCode(), code);
        QCOMPARE(blocking->getLastError(), lastError);
        delete blocking;
    }

    // Sign-in and session calls wait their turn; learner list and upload go
    // at once and end as they are answered; a queued call cancelled goes unsent.
    void callsAtOnce()
    {
        FakeService fake;
        QStringList events;
        fake.handler = [&](const Request &r, QTcpSocket *) {
            if (fake.holding)
                events << QStringLiteral("sent ") + QString::fromLatin1(r.path);
            return httpAnswer(200, universal);
        };
        TestClient client(nullptr, fake.url());
        QVERIFY(client.doLogin("teacher", "pw") && client.doStartSession() && client.startWebsocket(nullptr));
        fake.holding = true;
        auto track = [&](PresenterReply *r, const char *name) {
            connect(r, &PresenterReply::finished, r, [&events, r, name] {
                events << QString::fromLatin1(name) + (r->error() == Veltro::Error::None ? " done" : " cancelled");
            });
            return r;
        };
        track(client.requestUserName(), "name");
        PresenterReply *stop = track(client.stopSession(), "stop");
        track(client.requestUserName(), "name again");
        track(client.requestLearners(), "learners");
        track(client.uploadResource("a.txt", "a"), "upload");
        QTRY_COMPARE(events.size(), 3);
        std::sort(events.begin(), events.end());
        QCOMPARE(events, QStringList({"sent /quorvane/login/user", "sent /quorvane/resource/uploadResourceFile",
                                      "sent /quorvane/session/getusers"}));
        events.clear();
        stop->cancel();
        QTRY_COMPARE(events, QStringList({"stop cancelled"}));
        for (const char *path : {"/quorvane/resource/uploadResourceFile", "/quorvane/session/getusers",
                                 "/quorvane/login/user"}) {
            const int before = events.size();
            QVERIFY(fake.releaseHeld(path));
            QTRY_VERIFY(events.size() > before);
        }
        QTRY_COMPARE(events.size(), 5);
        QVERIFY(fake.releaseHeld("/quorvane/login/user"));
        QTRY_COMPARE(events, QStringList({"stop cancelled", "upload done", "learners done", "name done",
                                          "sent /quorvane/login/user", "name again done"}));
        QVERIFY(!client.getSessionToken().isNull()); // the cancelled stop was never sent
    }

    // Queued calls run in the host's order, each from the event loop after the one before has ended: a stop
    // or sign-out behind a live start ends the connection it opened, a new session stops the one held, and a
    // call whose sign-in or session failed before it ends Cancelled, unsent, instead of failing again.
    void queueOrder_data()
    {
        QTest::addColumn<int>("need");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QByteArray>("refused"); // answered with an error status
        QTest::addColumn<QString>("outcomes");
        QTest::addColumn<QString>("sent");       // paths below /quorvane/
        auto row = [](const char *name, Need need, const char *calls, const char *refused, const char *outcomes,
                      const char *sent) {
            QTest::newRow(name) << int(need) << QString(calls) << QByteArray(refused) << QString(outcomes)
                                << QString(sent);
        };
        const char *live = "session/getcollabserverurl config/findTenantFeatureDetails session/start "
                           "classroom/session/join";
        row("stop behind a live start", Created, "startCollab stopSession", "", "startCollab:None stopSession:None",
            qPrintable(QString(live) + " session/stop"));
        row("sign-out behind a live start", Created, "startCollab logout", "", "startCollab:None logout:None",
            qPrintable(QString(live) + " session/stop login/logout"));
        row("a new session stops the one held", Live, "startSession", "", "startSession:None",
            "session/stop login/user session/create");
        row("session behind a refused sign-in", Nothing, "login startSession startCollab", "/quorvane/login/submit",
            "login:SignInRefused startSession:Cancelled startCollab:Cancelled", "login/submit");
        row("live start behind a refused create", SignedIn, "startSession startCollab", "/quorvane/session/create",
            "startSession:Service startCollab:Cancelled", "login/user session/create");
    }
    void queueOrder()
    {
        QFETCH(int, need);
        QFETCH(QString, calls);
        QFETCH(QByteArray, refused);
        QFETCH(QString, outcomes);
        QFETCH(QString, sent);
        FakeService fake;
        bool testing = false;
        fake.handler = [&](const Request &r, QTcpSocket *) {
            if (testing && r.path == refused)
                return httpAnswer(r.path.endsWith("submit") ? 401 : 409, R"({"errorMsgKeys":["error.denied"]})");
            return outcomeAnswer(Success, r.path, false);
        };
        TestClient client(nullptr, fake.url());
        client.setAutoReconnect(true); // a connection left open keeps coming back
        setUp(&client, Need(need));
        fake.requests.clear();
        testing = true;
        QStringList got;
        QList<QPointer<PresenterCollab>> opened;
        for (const QString &name : calls.split(' ')) {
            PresenterReply *r = name == "login" ? client.login("teacher", "pw")
                : name == "startSession"        ? client.startSession()
                : name == "startCollab"         ? client.startCollab()
                : name == "stopSession"         ? client.stopSession()
                                                : client.logout();
            connect(r, &PresenterReply::finished, r, [&got, &opened, r, name] {
                got << name + ':' + QMetaEnum::fromType<Veltro::Error>().valueToKey(int(r->error()));
                if (r->collab())
                    opened << r->collab();
            });
        }
        QTRY_COMPARE(got.join(' '), outcomes);
        QCOMPARE(fake.paths().replaceInStrings("/quorvane/", "").join(' '), sent);
        for (const QPointer<PresenterCollab> &c : qAsConst(opened))
            QTRY_COMPARE(c->state(), Veltro::ConnectionState::Closed);
    }

    // Qt sends a body in writes of their own (Qt 5 every body, Qt 6 one past
    // 16 KiB), held back by Nagle's algorithm; the library turns it off on its
    // own connections, and only there.
    void lowDelayOnOwnConnectionsOnly_data()
    {
        QTest::addColumn<int>("hostOpensAt"); // 0: before the first call; n: while request n waits for its answer
        QTest::addColumn<bool>("keepAlive");  // as a host's own access manager has it
        QTest::addColumn<bool>("ownTuned");
        QTest::newRow("host socket opened before") << 0 << false << true;
        QTest::newRow("host keep-alive socket opened before") << 0 << true << true;
        QTest::newRow("host socket opened during the first request") << 1 << false << true;
        // Two new connections where the library could have opened one: neither is touched.
        QTest::newRow("host keep-alive socket opened during the first request") << 1 << true << false;
        QTest::newRow("host keep-alive socket opened during a later request") << 2 << true << true;
    }
    void lowDelayOnOwnConnectionsOnly()
    {
        QFETCH(int, hostOpensAt);
        QFETCH(bool, keepAlive);
        QFETCH(bool, ownTuned);
        FakeService fake;
        QTcpSocket host;
        auto openHost = [&] {
            host.connectToHost(QHostAddress::LocalHost, fake.serverPort());
            const bool connected = host.waitForConnected(5000);
            host.setSocketOption(QAbstractSocket::KeepAliveOption, int(keepAlive)); // Qt 5: only once connected
            return connected;
        };
        QSet<quint16> libraryPorts;
        fake.handler = [&](const Request &, QTcpSocket *s) {
            libraryPorts << s->peerPort();
            if (fake.requests.size() == hostOpensAt)
                openHost();
            return httpAnswer(200, universal);
        };
        QVERIFY(hostOpensAt > 0 || openHost());
        TestClient client(nullptr, fake.url());
        QVERIFY(client.doLogin("teacher", "pw"));
        QCOMPARE(client.doGetUserName(), "teacher");
        QCOMPARE(client.doGetUserName(), "teacher");
        QCOMPARE(host.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(noDelay(host.socketDescriptor()), 0);
        QCOMPARE(libraryPorts.size(), 1); // one kept-alive connection
        QCOMPARE(noDelayFrom(*libraryPorts.begin()), int(ownTuned));
    }

    void sessionLifecycle()
    {
        FakeService fake;
        QByteArray users = R"({"data":{"users":[{"mode":"learner","userToken":"u1","userName":"Ann","deviceType":"tab"},)"
                           R"({"mode":"presenter","userToken":"p"},{"mode":"learner","userToken":"u2","userName":"Bo"},)"
                           R"({"mode":"Learner","userToken":"u3"}]}})";
        fake.handler = [&](const Request &r, QTcpSocket *) {
            return httpAnswer(200, r.path == "/quorvane/session/getusers" ? users : universal);
        };
        TestClient client(nullptr, fake.url());
        // Nothing to do without a sign-in or a live session: no request.
        QVERIFY(client.doLogout() && !client.doGetLearners() && !client.doStopSession());
        QCOMPARE(fake.requests.size(), 0);

        // A blocking call from a requestProcessed() slot waits its turn behind the sign-in, and returns.
        QString nested;
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(&client, &PresenterClient::requestProcessed, &client, [&, once] {
            QObject::disconnect(*once);
            nested = client.doGetUserName();
        });
        QVERIFY(client.doLogin("teacher", "pw"));
        QCOMPARE(nested, "teacher");
        QVERIFY(client.doStartSession());
        QCOMPARE(client.getSessionCode(), "123456");
        QVERIFY(!client.doStopSession()); // created, not started
        PresenterCollab *first = nullptr;
        QVERIFY(client.startWebsocket(&first)); // its requests: queueOrder
        QVERIFY(first && first->parent() == &client);

        const QList<Veltro::Learner> expected{Veltro::Learner("u1", "Ann", "tab"), Veltro::Learner("u2", "Bo", "")};
        QVERIFY(client.doGetLearners());
        QCOMPARE(client.getLearners(), expected);
        delete first; // against the rules, but the stop must survive it

        // Signing out stops the live session first (its requests: queueOrder).
        QVERIFY(client.doLogout());
        QVERIFY(!client.keepAliveTimer()->isActive());
        QVERIFY(client.getSessionToken().isNull() && client.getSessionCode().isNull());
        QVERIFY(!client.doStopSession());
    }

    // The session stop of a client deleted with a live session looks no name up, as a lookup has no bound:
    // the server, or the proxy in front of it, is reached at an address looked up ahead, or not at all.
    void teardownPost_data()
    {
        QTest::addColumn<QString>("host");  // of the server's address
        QTest::addColumn<bool>("viaProxy"); // through a proxy named "localhost"
        QTest::addColumn<bool>("lookedUp"); // "localhost" looked up ahead
        QTest::addColumn<bool>("sent");
        QTest::newRow("an address") << "127.0.0.1" << false << false << true;
        QTest::newRow("a name looked up ahead") << "localhost" << false << true << true;
        QTest::newRow("a name not looked up: not sent") << "localhost" << false << false << false;
        QTest::newRow("a proxy's name looked up ahead") << "127.0.0.1" << true << true << true;
        QTest::newRow("a proxy's name not looked up: not sent") << "127.0.0.1" << true << false << false;
    }
    void teardownPost()
    {
        QFETCH(QString, host);
        QFETCH(bool, viaProxy);
        QFETCH(bool, lookedUp);
        QFETCH(bool, sent);
        // The service and the proxy on a thread of their own, as other machines are.
        PeerThread peers;
        std::unique_ptr<FakeService> service;
        std::unique_ptr<TcpProxy> proxy;
        peers.run([&] {
            service = std::make_unique<FakeService>();
            proxy = std::make_unique<TcpProxy>(0);
        });
        auto release = qScopeGuard([&] {
            peers.run([&] {
                proxy.reset();
                service.reset();
            });
        });
        const auto seen = [&] { // "tunnels|body|host" of the stop the service got
            QString out;
            peers.run([&] {
                const Request r = service->last("/quorvane/session/stop");
                out = QString::number(proxy->tunnels()) + '|' + r.body + '|' + r.headers.value("host");
            });
            return out;
        };
        Veltro::NetworkHub hub;
        hub.settings().proxySet = true;
        hub.settings().proxy = viaProxy ? QNetworkProxy(QNetworkProxy::HttpProxy, "localhost", proxy->port())
                                        : QNetworkProxy(QNetworkProxy::NoProxy);
        if (lookedUp) {
            hub.lookUpAhead("localhost");
            QTRY_VERIFY(!hub.addressesAhead("localhost").isEmpty());
        }
        Veltro::TeardownPost post;
        post.url = QUrl(QStringLiteral("http://%1:%2/quorvane/session/stop").arg(host).arg(service->serverPort()));
        post.body = R"({"sessionToken":"tok-1"})";
        post.hub = &hub;
        QString why;
        QVERIFY2(Veltro::sendTeardownPost(post, &why) == sent, qPrintable(why));
        QCOMPARE(why.isEmpty(), sent);
        if (!sent)
            return;
        const QString expected = QString::number(int(viaProxy)) + '|' + post.body + '|' + post.url.authority();
        QTRY_COMPARE(seen(), expected);
    }

    void startRefusals_data()
    {
        QTest::addColumn<QByteArray>("failing");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("retried"); // getLastError() after a retry against a mended service, which succeeds
        auto row = [](const char *name, const char *failing, int status, const char *body, int requests,
                      const char *error, const char *retried) {
            QTest::newRow(name) << QByteArray(failing) << status << QByteArray(body) << requests << QString(error)
                                << QString(retried);
        };
        row("no user", "/quorvane/login/user", 200, R"({"data":{}})", 1, "", nullptr);
        // The library's own texts go when the next call starts; the service's key stays.
        row("no collab URL", "/quorvane/session/getcollabserverurl", 200, R"({"data":{}})", 3,
            "CollabServerUrlMissing", nullptr);
        row("start refused with key", "/quorvane/session/start", 409, R"({"errorMsgKeys":["error.closed"]})", 5,
            "error.closed", "error.closed");
        // No key, no token: nothing to open a connection on.
        row("start refused without key", "/quorvane/session/start", 500, "{}", 5, "SessionTokenMissing", nullptr);
    }
    void startRefusals()
    {
        QFETCH(QByteArray, failing);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, requests);
        QFETCH(QString, error);
        QFETCH(QString, retried);
        FakeService fake;
        fake.handler = [&](const Request &r, QTcpSocket *) {
            return r.path == failing ? httpAnswer(status, body) : httpAnswer(200, universal);
        };
        TestClient client(nullptr, fake.url());
        const bool created = client.doStartSession();
        QCOMPARE(created, failing != "/quorvane/login/user"); // no user and nothing to sign in with
        PresenterCollab *collab = nullptr;
        QVERIFY(!created || !client.startWebsocket(&collab));
        QCOMPARE(fake.requests.size(), requests);
        QVERIFY(!collab && client.findChildren<PresenterCollab *>().isEmpty());
        QCOMPARE(client.getLastError(), error);
        if (!created)
            return;
        failing.clear();
        QVERIFY(client.startWebsocket(&collab)); // a refusal left in getLastError() is not this call's
        QCOMPARE(client.getLastError(), retried);
    }

    void upload_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("quotedName"); // as the Content-Disposition line gives it
        QTest::newRow("binary") << "pic.png" << QByteArray("\x00\xff\r\n-----boundary\r\nz", 21) << QByteArray("pic.png");
        // Characters that would end the quoted name or the header line are encoded.
        QTest::newRow("quote and line break in name") << QString::fromUtf8("a\"b\r\n\xc3\xa9") << QByteArray("x")
                                                      << QByteArray("a%22b%0D%0A\xc3\xa9");
        // A file holding the delimiter goes with a longer boundary.
        QTest::newRow("delimiter in file") << "t" << QByteArray("a\r\n------boundary--\r\nb") << QByteArray("t");
    }
    void upload()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, quotedName);
        FakeService fake;
        QByteArray body = R"({"data":{"id":42}})";
        fake.handler = [&](const Request &, QTcpSocket *) { return httpAnswer(200, body); };
        TestClient client(nullptr, fake.url());
        QString id, path;
        QVERIFY(client.doUploadResource(fileName, data, &id, &path));
        QCOMPARE(id + ' ' + path, "42 /quorvane/resource/downloadResourceFile?resourceId=42");

        const Request r = fake.last("/quorvane/resource/uploadResourceFile");
        const QByteArray type = r.headers.value("content-type");
        QVERIFY(type.startsWith("multipart/form-data; charset=UTF-8; boundary=----boundary"));
        const QByteArray delimiter = "--" + type.mid(type.indexOf('=', 40) + 1);
        QCOMPARE(delimiter == "------boundary", !data.contains("------boundary"));
        QVERIFY(!data.contains(delimiter));
        auto field = [&](const QByteArray &name, const QByteArray &value) -> QByteArray {
            return delimiter + "\r\n\r\nContent-Disposition: form-data; name=" + name
                   + "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + value + "\r\n";
        };
        QCOMPARE(r.body, delimiter + "\r\nContent-Disposition: form-data; name=files; filename=\"" + quotedName
                             + "\"\r\n\r\n" + data + "\r\n" + field("isTemporary", "true")
                             + field("clientProvidedGUID", "false") + delimiter + "--\r\n\r\n");
        // An answer without an id fails and leaves the earlier results alone.
        body = R"({"data":{}})";
        QVERIFY(!client.doUploadResource(fileName, data, &id, &path));
        QCOMPARE(id, "42");
    }

    void secretsMaskedInTheLog_data();
    void secretsMaskedInTheLog()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, logged);
        QFETCH(QStringList, notLogged);
        FakeService fake;
        fake.handler = [&](const Request &, QTcpSocket *) { return httpAnswer(200, answer); };
        const auto previousFilter = QLoggingCategory::installFilter([](QLoggingCategory *category) {
            if (QByteArray(category->categoryName()).startsWith("veltro."))
                category->setEnabled(QtDebugMsg, category->categoryName() != QByteArray("veltro.client.verbose"));
        });
        capturedLog.clear();
        const QtMessageHandler previousHandler = qInstallMessageHandler(captureLog);
        {
            TestClient client(nullptr, fake.url());
            QVERIFY(client.doLogin("teacher", "pw"));
            if (answer == universal)
                QVERIFY(client.doStartSession() && client.startWebsocket(nullptr));
        }
        qInstallMessageHandler(previousHandler);
        QLoggingCategory::installFilter(previousFilter);

        const QString log = capturedLog.join(QLatin1Char('\n'));
        QVERIFY(log.contains(QLatin1String("[REST Response]")));
        for (const QString &text : logged)
            QVERIFY2(log.contains(text), qPrintable(text));
        for (const QString &text : notLogged)
            QVERIFY2(!log.contains(text), qPrintable(text));
    }
};

void tst_PresenterClient::requestBodies_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QString>("value"); // goes into the body
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body"); // $SERVER: the fake's address
    auto row = [](const char *name, int op, const QString &value, const char *path, const char *body) {
        QTest::newRow(name) << op << value << QByteArray(path) << QByteArray(body);
    };
    // Quotes, backslashes and "%1" in values neither break the body nor inject members.
    row("password", 0, R"(x","admin":true,"y":"\%1)", "/quorvane/login/submit",
        R"({"userId":"x\",\"admin\":true,\"y\":\"\\%1","password":"pw","sourceSystem":"Nimbra"})");
    row("device token", 1, "tok%0", "/quorvane/login/submit",
        R"({"userId":"teacher","deviceId":"dev-1","deviceAccessToken":"tok%0","sourceSystem":"Nimbra"})");
    row("oauth", 2, "schoolsso", "/quorvane/login/oauth/schoolsso/callback",
        R"({"code":"c\n1","callbackUrl":"$SERVER","sourceSystem":"Nimbra"})");
    row("oauth facebook", 2, "facebook", "/quorvane/login/oauth/facebook/callback",
        R"({"code":"c\n1","callbackUrl":"$SERVER/","sourceSystem":"Nimbra"})");
    row("access token", 3, "Desk \"A\"", "/quorvane/login/submit",
        R"({"userId":"teacher","password":"pw","deviceId":"dev-1",)"
        R"("deviceName":"Desk \"A\"","sourceSystem":"Nimbra"})");
    row("session start, host version", 5, "5.2\"b", "/quorvane/session/start",
        R"({"sessionCode": "123456","serverUrl":"http://127.0.0.1:1/collab","sourceSystem":"Nimbra","version":"5.2\"b"})");
    row("presenter join", 5, "3.0.0", "/quorvane/classroom/session/join",
        R"({"userName":"SessionStarter","sessionCode":"123456","mode":"presenter",)"
        R"("deviceName":"teacher_SessionStarter","deviceType":"presenter"})");
    row("stop", 7, "", "/quorvane/session/stop", R"({"sessionToken":"tok-1"})");
    row("keep-alive", 8, "", "/quorvane/login/keepSessionAlive", "");
}

// Each reply is sent, then the connection closed. (Decoding gzip is a flow
// case of the stand-in test; only the header's exact spelling needs the fake.)
void tst_PresenterClient::outcomes_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<Veltro::Error>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("lastError");
    using E = Veltro::Error;
    const char *names[] = {"success", "error key", "refused sign-in", "timeout", "too large", "cancel",
                           "client deleted", "no session", "sign-in forgotten"};
    for (int i = 0; i < operations().size(); ++i) {
        const Operation &o = operations().at(i);
        auto row = [&](Outcome out, E code, const char *text, const char *lastError = nullptr) {
            QTest::addRow("%s, %s", o.name, names[out]) << i << int(out) << code << QString(text) << QString(lastError);
        };
        const bool token = QByteArray(o.name).contains("token");
        const bool signIn = o.path == "/quorvane/login/submit" || o.path.contains("oauth");
        // The specified failure handlers keep the service's key; the token requests have none.
        const bool keyKept = (signIn && !token) || o.path.startsWith("/quorvane/session/create")
                             || o.path == "/quorvane/session/start";
        row(Success, E::None, nullptr);
        row(ErrorKey, signIn ? E::SignInRefused : E::Service, "error.denied", keyKept ? "error.denied" : nullptr);
        if (signIn)
            row(RefusedSignIn, E::SignInRefused, token ? "no device access token" : "sign-in refused");
        if (o.path == "/quorvane/login/user" || o.path == "/quorvane/session/create")
            row(RefusedSignIn, E::NotSignedIn, "not signed in");
        row(TimedOut, E::Timeout, "timed out", o.path == "/quorvane/session/start" ? "SessionTokenMissing" : nullptr);
        row(TooLarge, E::ResponseTooLarge, "the answer is larger", "ResponseTooLarge");
        row(Cancel, E::Cancelled, "cancelled");
        row(ClientDeleted, E::Cancelled, "cancelled: the client was deleted");
        if (o.need == Live)
            row(NoSession, E::SessionMissing, "no session");
        if (o.need >= SignedIn && o.path != "/quorvane/login/logout")
            row(Forgotten, E::SignInLost, "error.notSignedIn", keyKept ? "error.notSignedIn" : nullptr);
    }
}

void tst_PresenterClient::answerSize_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("name"); // read with room enough; when not empty, refused at a lower cap
    const QByteArray json = R"({"data":{"userLoginId":"big"},"pad":")" + QByteArray(2048, 'x') + R"("})";
    QTest::newRow("declared length") << httpAnswer(200, json) << "big";
    QTest::newRow("undeclared, up to the close") << "HTTP/1.1 200 X\r\nConnection: close\r\n\r\n" + json << "big";
    QTest::newRow("inflates past the cap") << httpAnswer(200, deflated(json), "Content-Encoding: gzip\r\n") << "big";
    QTest::newRow("GZIP in capitals is not recognised")
        << httpAnswer(200, deflated(R"({"data":{"userLoginId":"zipped"}})"), "Content-Encoding: GZIP\r\n") << "";
}

void tst_PresenterClient::oauthRegistration_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("handed");
    QTest::addColumn<QByteArray>("submitted");
    QTest::newRow("number, null last; members after data")
        << QByteArray(R"({"infoMsgKeys":["success.registration"],"data":{"age":12,"x":null},"errorMsgKeys":[]})")
        << R"({"age":12,"x":null})" << QByteArray(R"({"age":12,"x":null,"sourceSystem":"Nimbra"})");
    // Only the top-level "data" member counts, whatever its strings hold.
    QTest::newRow("braces in strings, nested data first")
        << QByteArray(R"({"info":{"data":{"no":1}},"infoMsgs":["success, registration"],"data":{"t":"}\"{"}})")
        << R"({"t":"}\"{"})" << QByteArray(R"({"t":"}\"{","sourceSystem":"Nimbra"})");
    QTest::newRow("spaces, nested object last")
        << QByteArray("{\"infoMsgKeys\":[\"success.registration\"], \"data\" : {\"p\":{\"q\":1} }\n}")
        << R"({"p":{"q":1} })" << QByteArray(R"({"p":{"q":1},"sourceSystem":"Nimbra" })");
}

void tst_PresenterClient::secretsMaskedInTheLog_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<QStringList>("notLogged");
    QTest::newRow("masked") << universal << QStringList{R"("sessionToken":"***")", "123456"}
                            << QStringList{"tok-1", "ut-1", "dat-1"};
    // The log keeps the first 1024 characters: a token cut off there is still masked.
    const QByteArray pad(960, 'p'); // the token's value starts just before character 1024
    QTest::newRow("token cut by the log's bound")
        << QByteArray(R"({"infoMsgKeys":["success"],"pad":")" + pad + R"(","deviceAccessToken":"secret-secret-secret"})")
        << QStringList{"deviceAccessToken\":\"***"} << QStringList{"secret-"};
}

QTEST_GUILESS_MAIN(tst_PresenterClient)
#include "tst_presenterclient.moc"
