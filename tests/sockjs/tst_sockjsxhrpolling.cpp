// The XHR transport and its worker against the fake server: exact bytes, drops and misbehaviour.
#include "fakesockjsserver.h"
#include "networksettings_p.h"
#include "sockjsxhrpolling.h"
#include "tcpproxy.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(FakeSockJSServer::SendMode)
Q_DECLARE_METATYPE(Veltro::Error)

namespace {

const QString SESSION_PATH = QStringLiteral("/app/eventbus/119/abcdefgh");

// The transport on a fake server, and spies.
struct Xhr
{
    FakeSockJSServer fake;
    SockJSXHRPolling xhr{nullptr};
    QSignalSpy frames{&xhr, &SockJSXHRPolling::textMessageReceived};
    QSignalSpy closed{&xhr, &SockJSXHRPolling::connectionClosed};

    // Opens and waits until the receive side is up (nothing is reported inside open()).
    bool open(bool streaming = false, const QString &path = SESSION_PATH, const QString &host = "127.0.0.1")
    {
        QSignalSpy opened(&xhr, &SockJSXHRPolling::opened);
        return xhr.open(host, fake.port(), false, path, streaming) && opened.isEmpty() && opened.wait(5000);
    }
    QString lastFrame() const { return frames.isEmpty() ? QString() : frames.last().first().toString(); }
    QList<FakeSockJSServer::Request> polls() const { return fake.requestsEndingWith("/xhr"); }
    // The texts of every "/xhr_send" post so far, in order.
    QStringList posted() const
    {
        QStringList out;
        for (const auto &r : fake.requestsEndingWith("/xhr_send")) {
            for (const QJsonValue v : QJsonDocument::fromJson(r.body).array())
                out << v.toString();
        }
        return out;
    }
};

QString message(const QString &text)
{
    return QStringLiteral("[\n    \"%1\"\n]\n").arg(text);
}

} // namespace

class TestSockJSXHRPolling : public QObject
{
    Q_OBJECT

private slots:
    void requests_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("requestPath");
        QTest::newRow("leading slash") << SESSION_PATH << SESSION_PATH;
        QTest::newRow("no leading slash") << SESSION_PATH.mid(1) << SESSION_PATH;
    }

    // The receive requests byte for byte; a cookie set on a response comes back on later requests.
    void requests()
    {
        QFETCH(QString, path);
        QFETCH(QString, requestPath);
        Xhr x;
        x.fake.setCookie = "X=1; Path=/app";
        QVERIFY(x.open(false, path));
        const QByteArray expected = "POST " + requestPath.toUtf8()
            + "/xhr HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(x.fake.port()) + "\r\nConnection: keep-alive\r\n"
              "Accept-Encoding: identity\r\nContent-Type: application/json\r\nContent-Length: 0\r\n";
        QTRY_COMPARE_WITH_TIMEOUT(x.fake.bytesByConnection.value(1),
                                  expected + "\r\n\r\n\r\n" + expected + "Cookie: X=1; \r\n\r\n\r\n\r\n", 5000);
        x.xhr.send(message("m"));
        QTRY_COMPARE_WITH_TIMEOUT(x.fake.requestsEndingWith("/xhr_send").size(), 1, 5000);
        const FakeSockJSServer::Request post = x.fake.requestsEndingWith("/xhr_send").first();
        QVERIFY(post.raw.contains("\r\nCookie: X=1; \r\n"));
        QCOMPARE(post.body, message("m").toUtf8());
        QVERIFY(post.raw.toLower().contains("content-type: application/json; charset=utf-8\r\n"));
    }

    // Every delivered poll answer is followed at once by exactly one new poll on the same connection; after
    // close() no poll is made, while posts still go out.
    void pollingChain()
    {
        Xhr x;
        x.fake.answerPollsAtOnce = true;
        QVERIFY(x.open());
        QTRY_VERIFY_WITH_TIMEOUT(x.frames.size() >= 50, 20000);
        x.xhr.close();
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 5000);
        QCOMPARE(x.frames.first().first().toString(), QStringLiteral("o"));
        // (plus the one kept ahead, and at most one read after close())
        const int polls = x.polls().size();
        QVERIFY2(polls >= x.frames.size() && polls <= x.frames.size() + 2,
                 qPrintable(QStringLiteral("%1 polls for %2 frames").arg(polls).arg(x.frames.size())));
        QCOMPARE(x.fake.connections, 1);
        x.fake.push("a[\"late\"]");
        x.xhr.send(message("still posted"));
        QTRY_COMPARE_WITH_TIMEOUT(x.posted(), QStringList{"still posted"}, 5000);
        QCOMPARE(x.polls().size(), polls);
    }

    // Posts go one at a time; what queues meanwhile is merged in order into posts of bounded size.
    void sendsKeepOrder()
    {
        Xhr x;
        QVERIFY(x.open());
        const int n = 300;
        const QString pad(1000, QLatin1Char('p'));
        QStringList texts;
        for (int i = 0; i < n; ++i) {
            texts << QString::number(i) + (i == 150 ? pad.repeated(100) : pad);
            x.xhr.send(message(texts.last()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(x.posted(), texts, 10000);
        const auto posts = x.fake.requestsEndingWith("/xhr_send");
        QVERIFY(posts.size() < n / 2);   // merged
        for (const auto &r : posts)
            QVERIFY(r.body.size() <= 64 * 1024 || !r.body.contains(",\n"));
    }

    // A post reaches the server at most once: one whose connection ended after it was written is not
    // written again; one not answered in time drops the transport with what queued behind it.
    void sendConnectionEnds_data()
    {
        using M = FakeSockJSServer::SendMode;
        QTest::addColumn<M>("mode");
        QTest::addColumn<QStringList>("posted");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("answered, then closed") << M::AnswerAndClose << QStringList{"a", "b"} << false;
        QTest::newRow("reset once read") << M::Reset << QStringList{"a", "b"} << false;
        QTest::newRow("never answered") << M::Ignore << QStringList{"a"} << true;
    }
    void sendConnectionEnds()
    {
        QFETCH(FakeSockJSServer::SendMode, mode);
        QFETCH(QStringList, posted);
        QFETCH(bool, dropped);
        Xhr x;
        x.fake.sendMode = mode;
        x.xhr.setSendTimeout(300);
        QVERIFY(x.open());
        x.xhr.send(message("a"));
        QTRY_COMPARE_WITH_TIMEOUT(x.posted().size(), 1, 5000);
        x.xhr.send(message("b"));
        QCOMPARE(x.closed.wait(dropped ? 5000 : 800), dropped);
        QCOMPARE(x.xhr.error(), dropped ? Veltro::Error::Timeout : Veltro::Error::None);
        QCOMPARE(x.posted(), posted);
    }

    // A receive connection dropped, or broken by bytes that are no HTTP, is opened again and polled on;
    // an error status ends polling at once, a server gone for good after the retry limit, a frame the
    // backlog bound cannot take at once: each end says why.
    void receiveSide_data()
    {
        QTest::addColumn<QByteArray>("firstPoll");   // "drop", "stop": answered, then dropped / the server gone
        QTest::addColumn<int>("status");
        QTest::addColumn<Veltro::Error>("end");     // None: it carries on
        using E = Veltro::Error;
        const QByteArray head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        const QByteArray big = "a[\"" + QByteArray(100 * 1024, 'x') + "\"]\n";
        QTest::newRow("dropped") << QByteArray("drop") << 200 << E::None;
        QTest::newRow("chunk size not hex") << head + "xyz\r\no\n\r\n" << 200 << E::None;
        QTest::newRow("incomplete data times out") << head + "10\r\nab" << 200 << E::None;
        QTest::newRow("error status") << QByteArray() << 404 << E::ClosedByServer;
        QTest::newRow("server gone") << QByteArray("stop") << 200 << E::ConnectionRefused;
        QTest::newRow("backlog bound")
            << "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(big.size()) + "\r\n\r\n" + big << 200
            << E::BacklogFull;
    }
    void receiveSide()
    {
        QFETCH(QByteArray, firstPoll);
        QFETCH(int, status);
        QFETCH(Veltro::Error, end);
        Xhr x;
        x.xhr.setBacklog(std::make_shared<Veltro::BacklogBudget>(64 * 1024));
        const bool later = firstPoll == "drop" || firstPoll == "stop";
        x.fake.firstPollRaw = later ? QByteArray() : firstPoll;
        x.fake.pollStatus = status;
        QVERIFY(x.open());
        if (later) {
            QTRY_COMPARE_WITH_TIMEOUT(x.polls().size(), 2, 5000);
            firstPoll == "drop" ? x.fake.dropAll() : x.fake.stop();
        }
        if (end != Veltro::Error::None) {
            QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 20000);
            QCOMPARE(x.xhr.error(), end);
            QCOMPARE(x.polls().size(), status == 200 && later ? 2 : 1);
            QCOMPARE(x.frames.size(), end == Veltro::Error::BacklogFull ? 0 : 1);   // "o", or the error's body
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(x.polls().size(), later ? 3 : 2, 8000);
        QCOMPARE(x.polls().last().connection, 2);
        x.fake.push("a[\"after\"]");
        QTRY_COMPARE_WITH_TIMEOUT(x.lastFrame(), QStringLiteral("a[\"after\"]"), 5000);
        QCOMPARE(x.closed.size(), 0);
    }

    // The last post at teardown looks no name up, as a lookup has no bound: on a connection of its own it goes
    // to the address the receive side reached, or to a proxy's address looked up ahead, or not at all.
    void lastPostAtTeardown_data()
    {
        QTest::addColumn<QString>("proxy"); // how a proxy named "localhost" is set: "", "hub", "environment"
        QTest::addColumn<bool>("sent");
        QTest::newRow("direct, to a server named localhost") << "" << true;
        QTest::newRow("the client's proxy, its name looked up ahead") << "hub" << true;
        QTest::newRow("the system's proxy, its name not looked up: not sent") << "environment" << false;
    }
    void lastPostAtTeardown()
    {
        QFETCH(QString, proxy);
        QFETCH(bool, sent);
        PeerThread peers;
        std::unique_ptr<TcpProxy> relay;
        peers.run([&] { relay = std::make_unique<TcpProxy>(0); });
        const QByteArray saved = qgetenv("http_proxy");
        auto done = qScopeGuard([&] {
            saved.isNull() ? qunsetenv("http_proxy") : qputenv("http_proxy", saved);
            peers.run([&] { relay.reset(); });
        });
        const QNetworkProxy named(QNetworkProxy::HttpProxy, "localhost", relay->port());
        Veltro::NetworkHub hub;
        hub.settings().proxySet = proxy == "hub";
        hub.settings().proxy = named;
        if (proxy == "environment")
            qputenv("http_proxy", "http://localhost:" + QByteArray::number(relay->port()));
        Xhr x;
        if (proxy != "environment")
            x.xhr.setNetworkHub(&hub);
        QVERIFY(x.open(false, SESSION_PATH, "localhost"));
        QTRY_VERIFY(proxy != "hub" || !hub.addressesAhead("localhost").isEmpty());
        QCOMPARE(x.xhr.sendNowAndStop(message("bye"), 300), sent);
        if (sent)
            QTRY_COMPARE_WITH_TIMEOUT(x.posted(), QStringList{"bye"}, 5000);
    }
};

QTEST_GUILESS_MAIN(TestSockJSXHRPolling)
#include "tst_sockjsxhrpolling.moc"
