// The connector over each transport against the stand-in's SockJS echo
// endpoint (a real sockjs server), and against the in-process fake where a
// server has to misbehave.
#include "fakesockjsserver.h"
#include "sockjsconnector.h"
#include "standin.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxyFactory>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

Q_DECLARE_METATYPE(QList<SockJSProtocol>)
Q_DECLARE_METATYPE(FakeSockJSServer::WebSocketMode)

namespace {

const QList<SockJSProtocol> ALL = {WEBSOCKET, XHR_STREAMING, XHR_POLLING};

void addTransportRows()
{
    QTest::addColumn<QList<SockJSProtocol>>("protocols");
    QTest::newRow("websocket") << ALL;
    QTest::newRow("xhr-streaming") << QList<SockJSProtocol>{XHR_STREAMING, WEBSOCKET};
    QTest::newRow("xhr-polling") << QList<SockJSProtocol>{XHR_POLLING, WEBSOCKET};
}

QString echoUrl()
{
    StandIn *s = StandIn::shared();
    return s ? s->echoUrl() : QString();
}

// An HTTP CONNECT proxy on its own thread (the XHR transport connects while
// blocking the test's thread). Every name it is asked for leads to this
// machine, so a test can name a host that only the proxy knows.
class ConnectProxy : public QTcpServer
{
public:
    int tunnels = 0;
    QByteArray lastTarget;

protected:
    void incomingConnection(qintptr fd) override
    {
        auto *client = new QTcpSocket(this);
        client->setSocketDescriptor(fd);
        auto *upstream = new QTcpSocket(this);
        auto head = std::make_shared<QByteArray>();
        connect(client, &QTcpSocket::readyRead, this, [=] {
            if (upstream->state() == QAbstractSocket::ConnectedState) {
                upstream->write(client->readAll());
                return;
            }
            *head += client->readAll();
            const int end = head->indexOf("\r\n\r\n");
            if (end < 0 || !head->startsWith("CONNECT ") || upstream->state() != QAbstractSocket::UnconnectedState)
                return;
            const QByteArray target = head->mid(8, head->indexOf(' ', 8) - 8);
            lastTarget = target;
            const QByteArray rest = head->mid(end + 4);
            connect(upstream, &QTcpSocket::connected, client, [=] {
                ++tunnels;
                client->write("HTTP/1.1 200 Connection established\r\n\r\n");
                if (!rest.isEmpty())
                    upstream->write(rest);
            });
            connect(upstream, &QTcpSocket::readyRead, client, [=] { client->write(upstream->readAll()); });
            connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
            const int colon = target.lastIndexOf(':');
            upstream->connectToHost(QHostAddress(QHostAddress::LocalHost), quint16(target.mid(colon + 1).toUInt()));
        });
    }
};

// Runs the proxy on a thread of its own; everything it reports crosses
// under a standard mutex, and it stops on a flag, so the hand-offs stay
// visible to thread checkers.
class ProxyThread : public QThread
{
public:
    quint16 start()
    {
        QThread::start();
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::seconds(10), [this] { return ready; });
        return port;
    }
    void stop()
    {
        stopping.store(true);
        wait(10000);
    }
    int tunnels()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return tunnelCount;
    }
    QByteArray lastTarget()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return target;
    }

protected:
    void run() override
    {
        ConnectProxy proxy;
        proxy.listen(QHostAddress::LocalHost, 0);
        {
            std::lock_guard<std::mutex> lock(mutex);
            port = proxy.serverPort();
            ready = true;
        }
        cv.notify_all();
        QTimer beat;   // bounds each wait for events, so the flag is seen
        beat.start(20);
        QEventLoop loop;
        while (!stopping.load()) {
            loop.processEvents(QEventLoop::WaitForMoreEvents);
            std::lock_guard<std::mutex> lock(mutex);
            tunnelCount = proxy.tunnels;
            target = proxy.lastTarget;
        }
    }

private:
    std::mutex mutex;
    std::condition_variable cv;
    bool ready = false;
    quint16 port = 0;
    int tunnelCount = 0;
    QByteArray target;
    std::atomic<bool> stopping{false};
};

} // namespace

class TestSockJSConnector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QList<SockJSProtocol>>();
        if (!StandIn::shared())
            QSKIP("the stand-in service is not running");
    }

    // One session per transport: open once, 1000 messages each way in order,
    // a 1 MiB message, awkward characters, and close() ending it.
    void session_data() { addTransportRows(); }

    void session()
    {
        QFETCH(QList<SockJSProtocol>, protocols);
        SockJSConnector c(nullptr);
        QSignalSpy connected(&c, &SockJSConnector::connected);
        QSignalSpy messages(&c, &SockJSConnector::sockJSMessage);
        QSignalSpy closed(&c, &SockJSConnector::closed);
        c.open(QUrl(echoUrl()), protocols);
        QCOMPARE(c.transport(), int(protocols.first()));
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        QVERIFY(c.isConnected());

        const int n = 1000;
        for (int i = 0; i < n; ++i)
            c.send(QStringLiteral("m%1").arg(i), false);
        QTRY_VERIFY_WITH_TIMEOUT(messages.size() >= n, 30000);
        QCOMPARE(messages.size(), n);
        for (int i = 0; i < n; ++i)
            QCOMPARE(messages.at(i).first().toString(), QStringLiteral("m%1").arg(i));

        QString controls;
        for (ushort ch = 0; ch < 0x20; ++ch)
            controls += QChar(ch);
        QString planes;
        for (uint cp : {0xE9u, 0x4E2Du, 0xFFFDu, 0x1F600u, 0x2A6D6u, 0x3134Au, 0xE0041u, 0xFFFFDu, 0x10FFFDu})
            planes += QString::fromUcs4(&cp, 1);
        QString big(1024 * 1024, QLatin1Char('x'));
        for (int i = 0; i < big.size(); i += 4099)
            big[i] = QChar(0x263A);
        const QStringList special = {
            QStringLiteral("\"quoted\" and \\backslashed\\ \\\" \\u0041"),
            controls,
            QStringLiteral("NUL>") + QChar(0) + QStringLiteral("<NUL"),
            planes,
            QStringLiteral("[ \"bracket\" ] [ and blank ]"),
            QChar(0x2028) + QStringLiteral("separators") + QChar(0x2029) + QChar(0xFEFF),
            big,
        };
        messages.clear();
        for (const QString &m : special)
            c.send(m, false);
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), special.size(), 30000);
        for (int i = 0; i < special.size(); ++i)
            QVERIFY2(messages.at(i).first().toString() == special.at(i), qPrintable(QString::number(i)));

        // Opened again while its close is still under way: the old session's
        // end is reported once, at once, and a new session starts.
        c.close();
        QVERIFY(!c.isConnected());
        c.open(QUrl(echoUrl()), protocols);
        QCOMPARE(closed.size(), 1);
        QCOMPARE(closed.first().first().toBool(), false);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, 10000);
        c.close();
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 2, 10000);
        QCOMPARE(c.transport(), 0);
    }

    void selection_data()
    {
        QTest::addColumn<FakeSockJSServer::WebSocketMode>("wsMode");
        QTest::addColumn<QList<SockJSProtocol>>("protocols");
        QTest::addColumn<int>("expected");
        using M = FakeSockJSServer::WebSocketMode;
        // (the list's first entry winning is shown by the session test on each transport)
        QTest::newRow("websocket refused -> streaming") << M::Refuse << ALL << int(XHR_STREAMING);
        QTest::newRow("websocket refused, nothing after") << M::Refuse << QList<SockJSProtocol>{WEBSOCKET} << 0;
        QTest::newRow("websocket closes before open -> polling")
            << M::CloseBeforeOpen << QList<SockJSProtocol>{WEBSOCKET, XHR_STREAMING} << int(XHR_POLLING);
        QTest::newRow("empty list") << M::Open << QList<SockJSProtocol>{} << 0;
    }

    void selection()
    {
        QFETCH(FakeSockJSServer::WebSocketMode, wsMode);
        QFETCH(QList<SockJSProtocol>, protocols);
        QFETCH(int, expected);
        FakeSockJSServer fake;
        fake.wsMode = wsMode;
        SockJSConnector c(nullptr);
        QSignalSpy connected(&c, &SockJSConnector::connected);
        QSignalSpy closed(&c, &SockJSConnector::closed);
        c.open(QUrl(fake.url(QStringLiteral("/app/"))), protocols);
        if (expected == 0) {
            QVERIFY(!connected.wait(300));
            QCOMPARE(c.transport(), 0);
            QVERIFY(!c.isConnected());
            QCOMPARE(closed.size(), 0);
            if (protocols.isEmpty())
                QCOMPARE(fake.connections, 0);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        QCOMPARE(c.transport(), expected);
        QCOMPARE(closed.size(), 0);
        if (expected == XHR_POLLING)
            QCOMPARE(fake.requestsEndingWith("/xhr_streaming").size(), 0);
        // Every endpoint lies below the URL's path, "/eventbus/119/" and an
        // 8-character session id.
        const QRegularExpression path(QStringLiteral("^/app/eventbus/119/[A-Za-z0-9]{8}/(websocket|xhr|xhr_streaming)$"));
        for (const auto &r : fake.requests)
            QVERIFY2(path.match(QString::fromLatin1(r.path)).hasMatch(), r.path.constData());
    }

    // A close frame from the server ends the session on every transport, and
    // so does a second open frame (the server lost the session and opened a
    // new one under the same id, on an XHR receive side that reconnected).
    // Frames read behind it are not delivered.
    void serverClosesSession_data()
    {
        QTest::addColumn<QList<SockJSProtocol>>("protocols");
        QTest::addColumn<QByteArray>("frame");
        for (const QByteArray &frame : {QByteArray("c[3000,\"Go away!\"]"), QByteArray("o")}) {
            QTest::newRow(QByteArray("websocket " + frame).constData()) << ALL << frame;
            QTest::newRow(QByteArray("xhr-streaming " + frame).constData())
                << QList<SockJSProtocol>{XHR_STREAMING, WEBSOCKET} << frame;
            QTest::newRow(QByteArray("xhr-polling " + frame).constData())
                << QList<SockJSProtocol>{XHR_POLLING, WEBSOCKET} << frame;
        }
    }

    void serverClosesSession()
    {
        QFETCH(QList<SockJSProtocol>, protocols);
        FakeSockJSServer fake;
        fake.wsMode = FakeSockJSServer::WebSocketMode::Open;
        SockJSConnector c(nullptr);
        QSignalSpy connected(&c, &SockJSConnector::connected);
        QSignalSpy closed(&c, &SockJSConnector::closed);
        QSignalSpy messages(&c, &SockJSConnector::sockJSMessage);
        c.open(QUrl(fake.url()), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        // Opening a live connector does nothing: same transport, same session.
        const int requests = fake.requests.size();
        c.open(QUrl(fake.url()), protocols);
        QVERIFY(c.isConnected());
        QCOMPARE(c.transport(), int(protocols.first()));
        for (int i = requests; i < fake.requests.size(); ++i)
            QCOMPARE(fake.requests.at(i).path.split('/').value(4), fake.requests.first().path.split('/').value(4));
        QFETCH(QByteArray, frame);
        fake.push({frame, "a[\"join 1\"]", "a[\"join 2\"]", "a[\"join 3\"]", "a[\"join 4\"]", "a[\"join 5\"]"});
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
        QCOMPARE(closed.first().first().toBool(), false);
        QVERIFY(!c.isConnected());
        const int polls = fake.requestsEndingWith("/xhr").size();
        QVERIFY(!closed.wait(300));
        QCOMPARE(fake.requestsEndingWith("/xhr").size(), polls);   // no polling of a dead session
        QCOMPARE(messages.size(), 0);
    }

    // After close() nothing more is delivered, not even what was already read
    // in the same burst.
    void closeDropsQueuedFrames_data() { addTransportRows(); }

    void closeDropsQueuedFrames()
    {
        QFETCH(QList<SockJSProtocol>, protocols);
        FakeSockJSServer fake;
        fake.wsMode = FakeSockJSServer::WebSocketMode::Open;
        SockJSConnector c(nullptr);
        QSignalSpy connected(&c, &SockJSConnector::connected);
        QSignalSpy closed(&c, &SockJSConnector::closed);
        QStringList got;
        connect(&c, &SockJSConnector::sockJSMessage, &c, [&](const QString &m) {
            got << m;
            c.close();
        });
        c.open(QUrl(fake.url()), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        fake.push({"a[\"1\",\"2\"]", "a[\"3\"]", "a[\"4\"]"});
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
        QVERIFY(!closed.wait(200));
        QCOMPARE(got, QStringList{QStringLiteral("1")});
    }

    // What the server sends with the WebSocket's open frame, in the same read
    // as the handshake, reaches a slot connected after open() returned.
    void framesWithOpenWaitForReturn()
    {
        FakeSockJSServer fake;
        fake.wsMode = FakeSockJSServer::WebSocketMode::Open;
        fake.withOpen = {"a[\"join\"]"};
        SockJSConnector c(nullptr);
        c.open(QUrl(fake.url()), {WEBSOCKET});
        QSignalSpy messages(&c, &SockJSConnector::sockJSMessage);
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10000);
        QCOMPARE(messages.first().first().toString(), QStringLiteral("join"));
        QVERIFY(c.isConnected());
    }

    // A burst is delivered whole and in order, but a slice at a time: the
    // event loop runs before the last message of the frame is delivered.
    void burstDeliveredInSlices_data() { addTransportRows(); }

    void burstDeliveredInSlices()
    {
        QFETCH(QList<SockJSProtocol>, protocols);
        FakeSockJSServer fake;
        fake.wsMode = FakeSockJSServer::WebSocketMode::Open;
        SockJSConnector c(nullptr);
        QSignalSpy connected(&c, &SockJSConnector::connected);
        c.open(QUrl(fake.url()), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        const int n = 200000;
        QByteArray frame = "a[\"0\"";
        for (int i = 1; i < n; ++i)
            frame += ",\"" + QByteArray::number(i) + '"';
        frame += ']';
        int delivered = 0;
        int deliveredWhenLoopRan = -1;
        bool inOrder = true;
        connect(&c, &SockJSConnector::sockJSMessage, &c, [&](const QString &m) {
            inOrder = inOrder && m.toInt() == delivered;
            if (delivered++ == 0)
                QTimer::singleShot(0, &c, [&] { deliveredWhenLoopRan = delivered; });
        });
        fake.push(frame);
        QTRY_COMPARE_WITH_TIMEOUT(delivered, n, 30000);
        QVERIFY(inOrder);
        QVERIFY2(deliveredWhenLoopRan > 0 && deliveredWhenLoopRan < n, qPrintable(QString::number(deliveredWhenLoopRan)));
    }

    // A frame over the bound is refused before it is held whole: on WebSocket
    // (one frame, or one message of many fragments) the connection is dropped
    // and reported; on XHR the receive connection is opened again.
    void frameBound_data()
    {
        QTest::addColumn<QList<SockJSProtocol>>("protocols");
        QTest::addColumn<int>("fragment");
        QTest::newRow("websocket frame") << ALL << 0;
        QTest::newRow("websocket message in fragments") << ALL << 4096;
        QTest::newRow("xhr-streaming") << QList<SockJSProtocol>{XHR_STREAMING} << 0;
    }

    void frameBound()
    {
        QFETCH(QList<SockJSProtocol>, protocols);
        QFETCH(int, fragment);
        FakeSockJSServer fake;
        fake.wsMode = FakeSockJSServer::WebSocketMode::Open;
        fake.wsFragment = fragment;
        SockJSConnector c(nullptr);
        c.setMaxFrameSize(64 * 1024);
        QSignalSpy connected(&c, &SockJSConnector::connected);
        QSignalSpy closed(&c, &SockJSConnector::closed);
        QSignalSpy messages(&c, &SockJSConnector::sockJSMessage);
        c.open(QUrl(fake.url()), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        fake.push("a[\"" + QByteArray(100 * 1024, 'x') + "\"]");
        if (protocols.first() == WEBSOCKET) {
            QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
            QCOMPARE(closed.first().first().toBool(), false);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr_streaming").size(), 2, 10000);
            QCOMPARE(closed.size(), 0);
        }
        QCOMPARE(messages.size(), 0);
    }

    // The server process killed mid-session (a graceful shutdown is covered
    // end to end by the live-session tests).
    void serverKilled_data() { addTransportRows(); }

    void serverKilled()
    {
        QFETCH(QList<SockJSProtocol>, protocols);
        auto server = StandIn::launch({QStringLiteral("--ignore-stdin")});
        QVERIFY(server);
        SockJSConnector c(nullptr);
        QSignalSpy connected(&c, &SockJSConnector::connected);
        QSignalSpy messages(&c, &SockJSConnector::sockJSMessage);
        QSignalSpy closed(&c, &SockJSConnector::closed);
        c.open(QUrl(server->echoUrl()), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        c.send(QStringLiteral("ping me"), false);
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10000);
        server->kill();
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 20000);
        QCOMPARE(closed.first().first().toBool(), false);
        QVERIFY(!c.isConnected());
    }

    // More than an hour without an outgoing non-ping message ends the session
    // at the next check; pings do not count.
    void inactivity_data() { addTransportRows(); }

    void inactivity()
    {
        QFETCH(QList<SockJSProtocol>, protocols);
        QDateTime now = QDateTime::currentDateTimeUtc();
        SockJSConnector c(nullptr);
        c.setClock([&now] { return now; });
        QSignalSpy connected(&c, &SockJSConnector::connected);
        QSignalSpy closed(&c, &SockJSConnector::closed);
        c.open(QUrl(echoUrl()), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);

        now = now.addSecs(3000);
        c.send(QStringLiteral("activity"), false);
        now = now.addSecs(3600);
        c.send(QStringLiteral("{\"type\":\"ping\"}"), true);
        QMetaObject::invokeMethod(&c, "onTimeout");
        QVERIFY(c.isConnected());   // exactly an hour is not more than an hour
        now = now.addSecs(1);
        QMetaObject::invokeMethod(&c, "onTimeout");
        QVERIFY(!c.isConnected());
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
        QCOMPARE(closed.first().first().toBool(), true);

        // The next session starts afresh.
        c.open(QUrl(echoUrl()), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, 10000);
        c.close();
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 2, 10000);
        QCOMPARE(closed.last().first().toBool(), false);
    }

    // The raw sockets and the WebSocket go through the proxy that http_proxy
    // names unless no_proxy exempts the server; a proxy the host set for the
    // application wins (a name only the proxy knows proves the way).
    void systemProxy_data()
    {
        QTest::addColumn<QList<SockJSProtocol>>("protocols");
        QTest::addColumn<QByteArray>("noProxy");
        QTest::addColumn<bool>("application");
        const QList<QPair<const char *, SockJSProtocol>> transports{{"websocket", WEBSOCKET},
                                                                    {"xhr-polling", XHR_POLLING}};
        for (const auto &t : transports) {
            QTest::newRow(t.first) << QList<SockJSProtocol>{t.second} << QByteArray() << false;
            QTest::addRow("%s, bypassed", t.first) << QList<SockJSProtocol>{t.second}
                                                   << QByteArray("localhost,127.0.0.1") << false;
            QTest::addRow("%s, application proxy", t.first) << QList<SockJSProtocol>{t.second} << QByteArray()
                                                            << true;
        }
    }

    void systemProxy()
    {
        QFETCH(QList<SockJSProtocol>, protocols);
        QFETCH(QByteArray, noProxy);
        QFETCH(bool, application);
        ProxyThread proxy;
        const quint16 proxyPort = proxy.start();
        QVERIFY(proxyPort != 0);
        auto stopProxy = qScopeGuard([&proxy] { proxy.stop(); });

        const QByteArray saved = qgetenv("http_proxy");
        auto restoreEnv = qScopeGuard([saved] {
            if (saved.isNull())
                qunsetenv("http_proxy");
            else
                qputenv("http_proxy", saved);
        });
        auto restoreNoProxy = qScopeGuard([] {
            qunsetenv("no_proxy");
            QNetworkProxyFactory::setUseSystemConfiguration(true); // Qt's default, undoing the application proxy
        });
        QUrl url(echoUrl());
        if (application) {
            qunsetenv("http_proxy");
            QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", proxyPort));
            url.setHost(QStringLiteral("collab.veltro.invalid"));
        } else {
            qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxyPort));
        }
        qputenv("no_proxy", noProxy);
        qunsetenv("NO_PROXY");

        SockJSConnector c(nullptr);
        QSignalSpy connected(&c, &SockJSConnector::connected);
        QSignalSpy messages(&c, &SockJSConnector::sockJSMessage);
        QSignalSpy closed(&c, &SockJSConnector::closed);
        c.open(url, protocols);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        c.send(QStringLiteral("via proxy"), false);
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10000);
        c.close();
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
        if (!noProxy.isEmpty()) {
            QCOMPARE(proxy.tunnels(), 0);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(proxy.tunnels() >= 1, 5000);
        QCOMPARE(proxy.lastTarget(), url.host().toLatin1() + ':' + QByteArray::number(url.port()));
    }
};

QTEST_GUILESS_MAIN(TestSockJSConnector)
#include "tst_sockjsconnector.moc"
