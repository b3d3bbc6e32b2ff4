// PresenterClient against an in-process HTTP fake, where exact bytes and the
// order of replies matter.
#include "presenterclient.h"
#include "presentercollab.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <zlib.h>

namespace {

struct Request
{
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers)
            if (h.first == name)
                return h.second;
        return QByteArray();
    }
};

QByteArray httpAnswer(int status, const QByteArray &body, const QByteArray &extraHeaders = QByteArray())
{
    return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: application/json\r\n" + extraHeaders
           + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Speaks just enough HTTP/1.1: parses requests (several per connection), records
// them, and lets the test answer each one now, later or never.
class FakeService : public QObject
{
public:
    // Returns the raw answer, or an empty array to answer later (or never) by hand.
    std::function<QByteArray(const Request &, QTcpSocket *)> handler;
    QList<Request> requests;

    FakeService()
    {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
            }
        });
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
    QStringList paths() const
    {
        QStringList out;
        for (const Request &r : requests)
            out << QString::fromLatin1(r.path);
        return out;
    }
    Request last(const QByteArray &path) const
    {
        for (int i = requests.size() - 1; i >= 0; --i)
            if (requests.at(i).path == path)
                return requests.at(i);
        return Request();
    }

private:
    void onData(QTcpSocket *socket)
    {
        QByteArray &buf = buffers[socket];
        buf += socket->readAll();
        for (;;) {
            const int end = buf.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buf.left(end).split('\n');
            Request r;
            const QList<QByteArray> first = lines.first().trimmed().split(' ');
            r.method = first.value(0);
            r.path = first.value(1);
            int length = 0;
            for (int i = 1; i < lines.size(); ++i) {
                const int colon = lines.at(i).indexOf(':');
                const QByteArray name = lines.at(i).left(colon).trimmed().toLower();
                const QByteArray value = lines.at(i).mid(colon + 1).trimmed();
                r.headers.append({name, value});
                if (name == "content-length")
                    length = value.toInt();
            }
            if (buf.size() < end + 4 + length)
                return;
            r.body = buf.mid(end + 4, length);
            buf.remove(0, end + 4 + length);
            requests.append(r);
            const QByteArray answer = handler ? handler(r, socket) : httpAnswer(404, "{}");
            if (!answer.isEmpty())
                socket->write(answer);
        }
    }

    QTcpServer server;
    QHash<QTcpSocket *, QByteArray> buffers;
};

// Every member any handler looks for, so each operation finds its value.
QByteArray universalAnswer()
{
    return R"({"data":{"userLoginId":"teacher","sessionCode":"123456","url":"http://127.0.0.1:1/collab",)"
           R"("sockJSProtocols":["xhr-polling"],"sessionToken":"tok-1","userToken":"ut-1",)"
           R"("deviceAccessToken":"dat-1","id":42,"users":[]},"infoMsgKeys":["success"]})";
}

QByteArray gzipped(const QByteArray &data)
{
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, data.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

} // namespace

// Opens the protected seams of the client to the tests.
class TestClient : public PresenterClient
{
public:
    using PresenterClient::PresenterClient;
    using PresenterClient::keepAliveTimer;
    using PresenterClient::onPingTimer;

    // A blocking request of its own whose answer lands in the session code.
    void nestedRequest(const QString &path)
    {
        doRequest(true, QUrl(getServer() + path), QStringLiteral("{}"), &TestClient::sessionSuccessResponse);
    }
};

class tst_PresenterClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestBodies_data();
    void requestBodies();
    void requestHeaders();
    void redirects_data();
    void redirects();
    void gzipAnswers_data();
    void gzipAnswers();
    void signInAnswers_data();
    void signInAnswers();
    void oauthRegistration_data();
    void oauthRegistration();
    void replyDuringNestedWait_data();
    void replyDuringNestedWait();
    void sessionLifecycle();
    void startRefusals_data();
    void startRefusals();
    void learnerList();
    void uploadBody_data();
    void uploadBody();
    void uploadWithoutId();
};

enum Op { CheckServer, PasswordLogin, DeviceLogin, OAuthLogin, AccessToken, OAuthAccessToken, KeepAlive, UserName,
          Logout, CreateSession, LiveStart, Learners, Stop };

void tst_PresenterClient::requestBodies_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body"); // $SERVER stands for the fake's address

    QTest::newRow("server check") << int(CheckServer) << QStringList() << QByteArray("/quorvane") << QByteArray();
    QTest::newRow("password") << int(PasswordLogin) << QStringList{"teacher", "veltro"}
                              << QByteArray("/quorvane/login/submit")
                              << QByteArray(R"({"userId":"teacher","password":"veltro","sourceSystem":"Nimbra"})");
    // Quotes, backslashes and "%1" in values neither break the body nor inject members.
    QTest::newRow("password escaped")
        << int(PasswordLogin) << QStringList{R"(x","admin":true,"y":")", R"(p"\%1)"}
        << QByteArray("/quorvane/login/submit")
        << QByteArray(R"({"userId":"x\",\"admin\":true,\"y\":\"","password":"p\"\\%1","sourceSystem":"Nimbra"})");
    QTest::newRow("device token") << int(DeviceLogin) << QStringList{"teacher", "dev-1", "tok%0"}
                                  << QByteArray("/quorvane/login/submit")
                                  << QByteArray(R"({"userId":"teacher","deviceId":"dev-1","deviceAccessToken":"tok%0",)"
                                                R"("sourceSystem":"Nimbra"})");
    QTest::newRow("oauth") << int(OAuthLogin) << QStringList{"schoolsso", "c-1"}
                           << QByteArray("/quorvane/login/oauth/schoolsso/callback")
                           << QByteArray(R"({"code":"c-1","callbackUrl":"$SERVER","sourceSystem":"Nimbra"})");
    QTest::newRow("oauth facebook") << int(OAuthLogin) << QStringList{"facebook", "c\n2"}
                                    << QByteArray("/quorvane/login/oauth/facebook/callback")
                                    << QByteArray(R"({"code":"c\n2","callbackUrl":"$SERVER/","sourceSystem":"Nimbra"})");
    QTest::newRow("access token") << int(AccessToken) << QStringList{"teacher", "veltro", "dev-1", "Desk \"A\""}
                                  << QByteArray("/quorvane/login/submit")
                                  << QByteArray(R"({"userId":"teacher","password":"veltro","deviceId":"dev-1",)"
                                                R"("deviceName":"Desk \"A\"","sourceSystem":"Nimbra"})");
    QTest::newRow("oauth access token") << int(OAuthAccessToken) << QStringList{"schoolsso", "c-1", "dev-1", "Desk"}
                                        << QByteArray("/quorvane/login/oauth/schoolsso/callback")
                                        << QByteArray(R"({"code":"c-1","callbackUrl":"$SERVER","deviceId":"dev-1",)"
                                                      R"("deviceName":"Desk","sourceSystem":"Nimbra"})");
    QTest::newRow("keep-alive") << int(KeepAlive) << QStringList() << QByteArray("/quorvane/login/keepSessionAlive")
                                << QByteArray();
    QTest::newRow("user name") << int(UserName) << QStringList() << QByteArray("/quorvane/login/user")
                               << QByteArray("{}");
    QTest::newRow("logout") << int(Logout) << QStringList() << QByteArray("/quorvane/login/logout")
                            << QByteArray("{}");
    QTest::newRow("create") << int(CreateSession) << QStringList() << QByteArray("/quorvane/session/create")
                            << QByteArray("{}");
    QTest::newRow("session start") << int(LiveStart) << QStringList() << QByteArray("/quorvane/session/start")
                                   << QByteArray(R"({"sessionCode": "123456","serverUrl":"http://127.0.0.1:1/collab",)"
                                                 R"("sourceSystem":"Nimbra","version":"3.0.0"})");
    QTest::newRow("session start, host version") << int(LiveStart) << QStringList{"5.2\"beta"}
                                                 << QByteArray("/quorvane/session/start")
                                                 << QByteArray(R"({"sessionCode": "123456","serverUrl":)"
                                                               R"("http://127.0.0.1:1/collab","sourceSystem":"Nimbra",)"
                                                               R"("version":"5.2\"beta"})");
    QTest::newRow("presenter join") << int(LiveStart) << QStringList() << QByteArray("/quorvane/classroom/session/join")
                                    << QByteArray(R"({"userName":"SessionStarter","sessionCode":"123456","mode":)"
                                                  R"("presenter","deviceName":"teacher_SessionStarter",)"
                                                  R"("deviceType":"presenter"})");
    QTest::newRow("learners") << int(Learners) << QStringList() << QByteArray("/quorvane/session/getusers")
                              << QByteArray(R"({"sessionToken":"tok-1"})");
    QTest::newRow("stop") << int(Stop) << QStringList() << QByteArray("/quorvane/session/stop")
                          << QByteArray(R"({"sessionToken":"tok-1"})");
}

void tst_PresenterClient::requestBodies()
{
    QFETCH(int, op);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);

    FakeService fake;
    fake.handler = [](const Request &, QTcpSocket *) { return httpAnswer(200, universalAnswer()); };
    TestClient client(nullptr, fake.url());
    QString reg;
    switch (Op(op)) {
    case CheckServer: QVERIFY(client.checkServer(QString(), QString())); break;
    case PasswordLogin: QVERIFY(client.doLogin(args.at(0), args.at(1))); break;
    case DeviceLogin: QVERIFY(client.doLogin(args.at(0), args.at(1), args.at(2))); break;
    case OAuthLogin: QVERIFY(client.doLoginWithOAuth(args.at(0), args.at(1), reg)); break;
    case AccessToken: QCOMPARE(client.doGetAccessToken(args.at(0), args.at(1), args.at(2), args.at(3)), "dat-1"); break;
    case OAuthAccessToken:
        QCOMPARE(client.doGetOAuthAccessToken(args.at(0), args.at(1), args.at(2), args.at(3), reg), "dat-1");
        break;
    case KeepAlive: client.sendKeepAlive(); break;
    case UserName: QCOMPARE(client.doGetUserName(), "teacher"); break;
    case Logout:
        QVERIFY(client.doLogin("teacher", "veltro"));
        QVERIFY(client.doLogout());
        break;
    case CreateSession: QVERIFY(client.doStartSession()); break;
    case LiveStart:
    case Learners:
    case Stop: {
        if (!args.isEmpty())
            client.setHostAppVersion(args.first());
        QVERIFY(client.doStartSession());
        PresenterCollab *collab = nullptr;
        QVERIFY(client.startWebsocket(&collab));
        if (op == Learners)
            QVERIFY(client.doGetLearners());
        if (op == Stop)
            QVERIFY(client.doStopSession());
        break;
    }
    }

    const Request r = fake.last(path);
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.body, QByteArray(body).replace("$SERVER", fake.url().toUtf8()));
    if (!body.isEmpty()) {
        QJsonParseError error;
        QJsonDocument::fromJson(r.body, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
    }
}

void tst_PresenterClient::requestHeaders()
{
    FakeService fake;
    fake.handler = [](const Request &r, QTcpSocket *) {
        if (r.path == "/quorvane/login/submit")
            return httpAnswer(200, universalAnswer(), "Set-Cookie: QSESSION=abc; Path=/\r\n");
        return httpAnswer(200, universalAnswer());
    };
    TestClient client(nullptr, fake.url());
    QVERIFY(client.doLogin("teacher", "veltro"));
    QString id, path;
    QVERIFY(client.doUploadResource("a.txt", "x", &id, &path));
    client.doGetUserName();

    // Besides what the network layer itself always sends, only these.
    const QSet<QByteArray> allowed{"host", "content-length", "connection", "accept-language", "user-agent",
                                   "accept-encoding", "content-type", "cookie"};
    QCOMPARE(fake.requests.size(), 3);
    for (const Request &r : qAsConst(fake.requests)) {
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(r.header("accept-encoding"), QByteArray("identity"));
        for (const auto &h : r.headers)
            QVERIFY2(allowed.contains(h.first), h.first.constData());
    }
    QCOMPARE(fake.requests.at(0).header("content-type"), QByteArray("application/json; charset=UTF-8"));
    QCOMPARE(fake.requests.at(1).header("content-type"),
             QByteArray("multipart/form-data; charset=UTF-8; boundary=----boundary"));
    // The sign-in cookie travels on later requests.
    QCOMPARE(fake.requests.at(0).header("cookie"), QByteArray());
    QCOMPARE(fake.requests.at(2).header("cookie"), QByteArray("QSESSION=abc"));
}

void tst_PresenterClient::redirects_data()
{
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("server"); // $SERVER: unchanged
    QTest::addColumn<bool>("reachable");

    QTest::newRow("https elsewhere, 8443 and path") << QByteArray("https://elsewhere.example:8443/quorvane?x=1")
                                                    << QByteArray() << "https://elsewhere.example:8443" << true;
    QTest::newRow("https, port 443 kept") << QByteArray("https://elsewhere.example:443/a") << QByteArray()
                                          << "https://elsewhere.example:443" << true;
    QTest::newRow("http, port 80 dropped") << QByteArray("http://127.0.0.1:80/quorvane") << QByteArray()
                                           << "http://127.0.0.1" << true;
    QTest::newRow("http, other port") << QByteArray("http://127.0.0.1:8080/moved") << QByteArray()
                                      << "http://127.0.0.1:8080" << true;
    QTest::newRow("relative, same origin") << QByteArray("/somewhere/else") << QByteArray() << "$SERVER" << true;
    // Another scheme is not followed: the 3xx reply is handled as an answer.
    QTest::newRow("other scheme, JSON body") << QByteArray("ftp://elsewhere.example/x") << QByteArray("{}")
                                             << "$SERVER" << true;
    QTest::newRow("other scheme, no body") << QByteArray("ftp://elsewhere.example/x") << QByteArray() << "$SERVER"
                                           << false;
}

void tst_PresenterClient::redirects()
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
    QCOMPARE(client.getServer(), QString(server).replace("$SERVER", fake.url()));
    QCOMPARE(fake.requests.size(), 1); // never repeated
    QCOMPARE(processed.count(), 1);
}

void tst_PresenterClient::gzipAnswers_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QString>("userName");
    QTest::newRow("gzip") << QByteArray("gzip") << "zipped";
    QTest::newRow("capitals not recognised") << QByteArray("GZIP") << "";
}

void tst_PresenterClient::gzipAnswers()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QString, userName);
    FakeService fake;
    fake.handler = [&](const Request &, QTcpSocket *) {
        return httpAnswer(200, gzipped(R"({"data":{"userLoginId":"zipped"}})"), "Content-Encoding: " + encoding + "\r\n");
    };
    TestClient client(nullptr, fake.url());
    QCOMPARE(client.doGetUserName(), userName);
    QCOMPARE(client.isLoggedIn(), !userName.isEmpty());
}

void tst_PresenterClient::signInAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("error");

    QTest::newRow("infoMsgs success") << 200 << QByteArray(R"({"infoMsgs":["login.success"]})") << true << QString();
    QTest::newRow("empty infoMsgs, infoMsgKeys success")
        << 200 << QByteArray(R"({"infoMsgs":[],"infoMsgKeys":["success"]})") << true << QString();
    QTest::newRow("infoMsgs without, infoMsgKeys with")
        << 200 << QByteArray(R"({"infoMsgs":["welcome"],"infoMsgKeys":["success"]})") << true << QString();
    QTest::newRow("no success") << 200 << QByteArray(R"({"infoMsgKeys":["Success"]})") << false << QString();
    QTest::newRow("not JSON") << 200 << QByteArray("<html>ok</html>") << false << QString();
    QTest::newRow("error key") << 401 << QByteArray(R"({"errorMsgKeys":["error.badPassword","x"]})") << false
                               << "error.badPassword";
    QTest::newRow("first key without error") << 401 << QByteArray(R"({"errorMsgKeys":["denied","error.x"]})")
                                             << false << QString();
    QTest::newRow("error body not JSON") << 500 << QByteArray("Internal") << false << QString();
}

void tst_PresenterClient::signInAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    QFETCH(bool, signedIn);
    QFETCH(QString, error);

    FakeService fake;
    fake.handler = [&](const Request &r, QTcpSocket *) {
        return r.path == "/quorvane/login/submit" ? httpAnswer(status, answer) : httpAnswer(200, "{}");
    };
    TestClient client(nullptr, fake.url());
    QCOMPARE(client.doLogin("teacher", "veltro"), signedIn);
    QCOMPARE(client.getLastError(), error);
    QCOMPARE(client.getLastError().isNull(), error.isNull());
    QCOMPARE(client.keepAliveTimer()->isActive(), signedIn);
    if (signedIn) {
        QCOMPARE(client.keepAliveTimer()->interval(), 60000);
        QVERIFY(client.doLogout());
        QVERIFY(!client.keepAliveTimer()->isActive());
        QCOMPARE(fake.paths().last(), "/quorvane/login/logout");
    } else {
        // Signed out already: no request.
        QVERIFY(client.doLogout());
        QCOMPARE(fake.requests.size(), 1);
    }
}

void tst_PresenterClient::oauthRegistration_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("handed");
    QTest::addColumn<QByteArray>("submitted");

    QTest::newRow("string last, data last")
        << QByteArray(R"({"infoMsgKeys":["success.registration"],"data":{"email":"a@b.c","name":"A"}})")
        << R"({"email":"a@b.c","name":"A"})" << QByteArray(R"({"email":"a@b.c","name":"A","sourceSystem":"Nimbra"})");
    QTest::newRow("number, boolean, null last; members after data")
        << QByteArray(R"({"infoMsgKeys":["success.registration"],"data":{"email":"a@b.c","age":12,"ok":true,)"
                      R"("x":null},"errorMsgKeys":[]})")
        << R"({"email":"a@b.c","age":12,"ok":true,"x":null})"
        << QByteArray(R"({"email":"a@b.c","age":12,"ok":true,"x":null,"sourceSystem":"Nimbra"})");
    QTest::newRow("nested object last")
        << QByteArray(R"({"data":{"profile":{"first":"A"}},"infoMsgs":["success, registration required"]})")
        << R"({"profile":{"first":"A"}})" << QByteArray(R"({"profile":{"first":"A"},"sourceSystem":"Nimbra"})");
}

void tst_PresenterClient::oauthRegistration()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, handed);
    QFETCH(QByteArray, submitted);

    FakeService fake;
    fake.handler = [&](const Request &r, QTcpSocket *) {
        if (r.path == "/quorvane/register/oauth/submit")
            return httpAnswer(200, R"({"infoMsgKeys":["success"]})");
        return httpAnswer(200, answer);
    };
    TestClient client(nullptr, fake.url());
    QString registration;
    QVERIFY(!client.doLoginWithOAuth("brightid", "code-1", registration));
    QCOMPARE(registration, handed);
    QVERIFY(!client.keepAliveTimer()->isActive());

    QVERIFY(client.doLoginWithOAuth("brightid", "code-1", registration));
    QCOMPARE(fake.requests.last().path, QByteArray("/quorvane/register/oauth/submit"));
    QCOMPARE(fake.requests.last().body, submitted);
    QVERIFY(registration.isNull());
    QVERIFY(client.keepAliveTimer()->isActive());

    // The device-token path hands over the same text when no token is issued.
    QString again;
    QCOMPARE(client.doGetOAuthAccessToken("brightid", "code-1", "dev", "Desk", again), QString());
    QCOMPARE(again, handed);
}

void tst_PresenterClient::replyDuringNestedWait_data()
{
    QTest::addColumn<bool>("outerFirst");
    // A keep-alive fires inside a sign-in and is answered first.
    QTest::newRow("inner answered first") << false;
    // The outer request is answered while the inner one still waits.
    QTest::newRow("outer answered first") << true;
}

void tst_PresenterClient::replyDuringNestedWait()
{
    QFETCH(bool, outerFirst);
    FakeService fake;
    QPointer<QTcpSocket> held;
    QByteArray heldAnswer;
    const QByteArray nestedPath = outerFirst ? "/nested" : "/quorvane/login/keepSessionAlive";
    const QByteArray nestedAnswer = outerFirst ? R"({"data":{"sessionCode":"777"}})" : "{}";
    fake.handler = [&](const Request &r, QTcpSocket *socket) -> QByteArray {
        const QByteArray answer = r.path == nestedPath ? nestedAnswer : QByteArray(R"({"infoMsgKeys":["success"]})");
        if (held.isNull()) { // the first request waits for the second
            held = socket;
            heldAnswer = httpAnswer(200, answer);
            return QByteArray();
        }
        // Answer one now and the other a moment later, so the client
        // completes them in that order.
        QTcpSocket *now = outerFirst ? held.data() : socket;
        QTcpSocket *later = outerFirst ? socket : held.data();
        const QByteArray nowAnswer = outerFirst ? heldAnswer : httpAnswer(200, answer);
        const QByteArray laterAnswer = outerFirst ? httpAnswer(200, answer) : heldAnswer;
        now->write(nowAnswer);
        QTimer::singleShot(150, later, [later, laterAnswer] { later->write(laterAnswer); });
        return QByteArray();
    };
    TestClient client(nullptr, fake.url());
    if (outerFirst)
        QTimer::singleShot(50, &client, [&client] { client.nestedRequest("/nested"); });
    else
        QTimer::singleShot(50, &client, [&client] { client.onPingTimer(); });

    // The outer request must not be cut short by the inner one, nor the inner by the outer.
    QVERIFY(client.doLogin("teacher", "veltro"));
    QCOMPARE(fake.requests.size(), 2);
    QCOMPARE(fake.requests.at(1).path, nestedPath);
    if (outerFirst)
        QCOMPARE(client.getSessionCode(), "777");
}

void tst_PresenterClient::sessionLifecycle()
{
    FakeService fake;
    fake.handler = [](const Request &, QTcpSocket *) { return httpAnswer(200, universalAnswer()); };
    TestClient client(nullptr, fake.url());

    // Nothing to do without a live session: no request at all.
    QVERIFY(!client.doGetLearners());
    QVERIFY(!client.doStopSession());
    QCOMPARE(fake.requests.size(), 0);

    QVERIFY(client.doLogin("teacher", "veltro"));
    QVERIFY(client.doStartSession());
    QCOMPARE(client.getSessionCode(), "123456");
    QVERIFY(client.getSessionToken().isNull());
    QVERIFY(!client.doStopSession()); // created, not started

    fake.requests.clear();
    PresenterCollab *first = nullptr;
    QVERIFY(client.startWebsocket(&first));
    QCOMPARE(fake.paths(), QStringList({"/quorvane/session/getcollabserverurl",
                                        "/quorvane/config/findTenantFeatureDetails", "/quorvane/session/start",
                                        "/quorvane/classroom/session/join"}));
    QVERIFY(first);
    QCOMPARE(first->parent(), &client);
    QCOMPARE(first->getSessionToken(), "tok-1");
    QCOMPARE(client.getSessionToken(), "tok-1");

    // A second start closes the earlier object but leaves it to its holder.
    QPointer<PresenterCollab> earlier(first);
    PresenterCollab *second = nullptr;
    client.setSockJSOverrideProtocols({"websocket"});
    QVERIFY(client.startWebsocket(&second));
    QVERIFY(second && second != first);
    QVERIFY(!earlier.isNull());
    QCOMPARE(client.findChildren<PresenterCollab *>().size(), 2);

    // Signing out stops the live session first.
    fake.requests.clear();
    QVERIFY(client.doLogout());
    QCOMPARE(fake.paths(), QStringList({"/quorvane/session/stop", "/quorvane/login/logout"}));
    QVERIFY(client.getSessionToken().isNull());
    QVERIFY(client.getSessionCode().isNull());
    QVERIFY(!client.doStopSession());
}

void tst_PresenterClient::startRefusals_data()
{
    QTest::addColumn<QByteArray>("failingPath");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("requests"); // made by startWebsocket
    QTest::addColumn<QString>("error");

    QTest::newRow("no collab URL") << QByteArray("/quorvane/session/getcollabserverurl") << 200
                                   << QByteArray(R"({"data":{}})") << 1 << QString();
    QTest::newRow("start refused with key") << QByteArray("/quorvane/session/start") << 409
                                            << QByteArray(R"({"errorMsgKeys":["error.sessionClosed"]})") << 3
                                            << "error.sessionClosed";
    // No error key and no token: nothing to open a connection on.
    QTest::newRow("start refused without key") << QByteArray("/quorvane/session/start") << 500 << QByteArray("{}")
                                               << 3 << QString();
}

void tst_PresenterClient::startRefusals()
{
    QFETCH(QByteArray, failingPath);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    QFETCH(int, requests);
    QFETCH(QString, error);

    FakeService fake;
    fake.handler = [&](const Request &r, QTcpSocket *) {
        return r.path == failingPath ? httpAnswer(status, answer) : httpAnswer(200, universalAnswer());
    };
    TestClient client(nullptr, fake.url());
    QVERIFY(client.doStartSession());
    fake.requests.clear();
    PresenterCollab *collab = nullptr;
    QVERIFY(!client.startWebsocket(&collab));
    QCOMPARE(fake.requests.size(), requests);
    QVERIFY(!collab);
    QVERIFY(client.findChildren<PresenterCollab *>().isEmpty());
    QCOMPARE(client.getLastError(), error);
}

void tst_PresenterClient::learnerList()
{
    FakeService fake;
    QByteArray users = R"({"data":{"users":[)"
                       R"({"mode":"learner","userToken":"u1","userName":"Ann","deviceType":"tablet"},)"
                       R"({"mode":"presenter","userToken":"p","userName":"SessionStarter","deviceType":"presenter"},)"
                       R"({"mode":"learner","userToken":"u2","userName":"Bo"},)"
                       R"({"mode":"Learner","userToken":"u3"}]}})";
    fake.handler = [&](const Request &r, QTcpSocket *) {
        return httpAnswer(200, r.path == "/quorvane/session/getusers" ? users : universalAnswer());
    };
    TestClient client(nullptr, fake.url());
    QVERIFY(client.doStartSession());
    QVERIFY(client.startWebsocket(nullptr));
    QVERIFY(client.doGetLearners());
    const QList<Veltro::Learner> expected{Veltro::Learner("u1", "Ann", "tablet"), Veltro::Learner("u2", "Bo", "")};
    QCOMPARE(client.getLearners(), expected);

    // An answer without a list keeps the last one.
    users = R"({"data":{"users":"none"}})";
    QVERIFY(client.doGetLearners());
    QCOMPARE(client.getLearners(), expected);
}

void tst_PresenterClient::uploadBody_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("fileLines"); // lines 2 to 4

    const QByteArray binary("\x00\xff\r\n-----boundary\r\nz", 21);
    QTest::newRow("binary") << "pic.png" << binary
                            << "Content-Disposition: form-data; name=files; filename=\"pic.png\"\r\n\r\n" + binary
                                   + "\r\n";
    // A file holding the delimiter itself goes with a longer boundary.
    const QByteArray tricky("a\r\n------boundary--\r\nb");
    QTest::newRow("delimiter in file") << "t.txt" << tricky
                                       << "Content-Disposition: form-data; name=files; filename=\"t.txt\"\r\n\r\n"
                                              + tricky + "\r\n";
    QTest::newRow("empty file") << "empty.txt" << QByteArray()
                                << QByteArray("Content-Disposition: form-data; name=files; filename=\"empty.txt\"\r\n"
                                              "\r\n\r\n");
    // Characters that would end the quoted name or the header line are encoded.
    QTest::newRow("quote and line break in name")
        << QString::fromUtf8("a\"b\r\nc\xc3\xa9.txt") << QByteArray("x")
        << QByteArray("Content-Disposition: form-data; name=files; filename=\"a%22b%0D%0Ac\xc3\xa9.txt\"\r\n\r\nx\r\n");
}

void tst_PresenterClient::uploadBody()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, fileLines);

    FakeService fake;
    fake.handler = [](const Request &, QTcpSocket *) { return httpAnswer(200, R"({"data":{"id":42}})"); };
    TestClient client(nullptr, fake.url());
    QString id, path;
    QVERIFY(client.doUploadResource(fileName, data, &id, &path));
    QCOMPARE(id, "42");
    QCOMPARE(path, "/quorvane/resource/downloadResourceFile?resourceId=42");

    const Request r = fake.last("/quorvane/resource/uploadResourceFile");
    const QByteArray prefix = "multipart/form-data; charset=UTF-8; boundary=";
    QVERIFY(r.header("content-type").startsWith(prefix));
    const QByteArray boundary = r.header("content-type").mid(prefix.size());
    if (data.contains("------boundary")) {
        QVERIFY(boundary.startsWith("----boundary") && boundary.size() > 12);
        QVERIFY(!data.contains("--" + boundary));
    } else {
        QCOMPARE(boundary, QByteArray("----boundary"));
    }
    QByteArray expected = "------boundary\r\n" + fileLines
                                + "------boundary\r\n"
                                  "\r\n"
                                  "Content-Disposition: form-data; name=isTemporary\r\n"
                                  "Content-Type: text/plain; charset=utf-8\r\n"
                                  "\r\n"
                                  "true\r\n"
                                  "------boundary\r\n"
                                  "\r\n"
                                  "Content-Disposition: form-data; name=clientProvidedGUID\r\n"
                                  "Content-Type: text/plain; charset=utf-8\r\n"
                                  "\r\n"
                                  "false\r\n"
                                  "------boundary--\r\n"
                                  "\r\n";
    // Delimiters are "--" and the boundary; the file bytes stay as they are.
    const int fileStart = expected.indexOf(fileLines);
    expected = expected.left(fileStart).replace("----boundary", boundary) + fileLines
               + expected.mid(fileStart + fileLines.size()).replace("----boundary", boundary);
    QCOMPARE(r.body, expected);
}

void tst_PresenterClient::uploadWithoutId()
{
    FakeService fake;
    QByteArray answer = R"({"data":{"id":"r-1"}})";
    fake.handler = [&](const Request &, QTcpSocket *) { return httpAnswer(200, answer); };
    TestClient client(nullptr, fake.url());
    QString id, path;
    QVERIFY(client.doUploadResource("a", "1", &id, &path));
    QCOMPARE(id, "r-1");
    answer = R"({"data":{}})";
    QVERIFY(!client.doUploadResource("b", "2", &id, &path));
    QCOMPARE(id, "r-1");
    QCOMPARE(path, "/quorvane/resource/downloadResourceFile?resourceId=r-1");
}

QTEST_GUILESS_MAIN(tst_PresenterClient)
#include "tst_presenterclient.moc"
