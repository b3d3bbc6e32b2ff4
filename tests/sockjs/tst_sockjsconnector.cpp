// The connector on each transport against the stand-in's echo endpoint, and the fake where a server misbehaves.
#include "fakesockjsserver.h"
#include "sockjsconnector.h"
#include "standin.h"
#include "tcpproxy.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>

Q_DECLARE_METATYPE(QList<SockJSProtocol>)
Q_DECLARE_METATYPE(FakeSockJSServer::WebSocketMode)

namespace {

using Protocols = QList<SockJSProtocol>;
using Mode = FakeSockJSServer::WebSocketMode;
const Protocols ALL = {WEBSOCKET, XHR_STREAMING, XHR_POLLING};

const QList<QPair<const char *, Protocols>> TRANSPORTS{
    {"websocket", ALL}, {"xhr-streaming", {XHR_STREAMING, WEBSOCKET}}, {"xhr-polling", {XHR_POLLING, WEBSOCKET}}};

void addTransportRows()
{
    QTest::addColumn<Protocols>("protocols");
    for (const auto &t : TRANSPORTS)
        QTest::newRow(t.first) << t.second;
}

QString echoUrl() { return StandIn::shared()->echoUrl(); }

// A connector and spies on what it reports.
struct Conn
{
    SockJSConnector c{nullptr};
    QSignalSpy connected{&c, &SockJSConnector::connected};
    QSignalSpy messages{&c, &SockJSConnector::sockJSMessage};
    QSignalSpy closed{&c, &SockJSConnector::closed};

    // Opens and waits for the session; false when it did not come.
    bool open(const QString &url, const Protocols &protocols)
    {
        c.open(QUrl(url), protocols);
        return QTest::qWaitFor([&] { return !connected.isEmpty(); }, 10000);
    }
};

// A CONNECT proxy on its own thread (the XHR transport connects blocking this one); read once it has ended.
class ProxyThread : public QThread
{
public:
    std::atomic<quint16> port{0};
    int tunnels = 0;
    QByteArray target;
    ~ProxyThread() override { stop(); }
    void stop()
    {
        quit();
        wait(10000);
    }

protected:
    void run() override
    {
        TcpProxy proxy(0);
        port.store(proxy.port());
        exec();
        tunnels = proxy.accepted();
        target = proxy.connectTarget();
    }
};

} // namespace

class TestSockJSConnector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Protocols>();
        if (!StandIn::shared())
            QSKIP("the stand-in service is not running");
    }

    // One session per transport: 1000 messages each way in order, a 1 MiB message, awkward characters.
    void session_data() { addTransportRows(); }
    void session()
    {
        QFETCH(Protocols, protocols);
        Conn x;
        x.c.open(QUrl(echoUrl()), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(x.connected.size(), 1, 10000);
        QCOMPARE(x.c.transport(), int(protocols.first()));
        QVERIFY(x.c.isConnected());

        QStringList sent;
        for (int i = 0; i < 1000; ++i)
            sent << QStringLiteral("m%1").arg(i);
        QString controls;
        for (ushort ch = 0; ch < 0x20; ++ch)
            controls += QChar(ch);
        QString planes;
        for (uint cp : {0xE9u, 0x4E2Du, 0xFFFDu, 0x1F600u, 0x2A6D6u, 0x3134Au, 0xE0041u, 0xFFFFDu, 0x10FFFDu})
            planes += QString::fromUcs4(&cp, 1);
        QString big(1024 * 1024, QLatin1Char('x'));
        for (int i = 0; i < big.size(); i += 4099)
            big[i] = QChar(0x263A);
        sent << QStringLiteral("\"quoted\" and \\backslashed\\ \\\" \\u0041") << controls << planes
             << QStringLiteral("NUL>") + QChar(0) + QStringLiteral("<NUL") << QStringLiteral("[ \"b\" ] [ and blank ]")
             << QChar(0x2028) + QStringLiteral("separators") + QChar(0x2029) + QChar(0xFEFF) << big;
        for (const QString &m : sent)
            x.c.send(m, false);
        QTRY_VERIFY_WITH_TIMEOUT(x.messages.size() >= sent.size(), 30000);
        QCOMPARE(x.messages.size(), sent.size());
        for (int i = 0; i < sent.size(); ++i)
            QVERIFY2(x.messages.at(i).first().toString() == sent.at(i), qPrintable(QString::number(i)));

        // Opened again while its close is under way: the old end is reported once, at once; a new session starts.
        x.c.close();
        QVERIFY(!x.c.isConnected());
        x.c.open(QUrl(echoUrl()), protocols);
        QCOMPARE(x.closed.size(), 0);   // not inside open()
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 10000);
        QCOMPARE(x.connected.size(), 1);   // the old end comes first
        QCOMPARE(x.closed.first().first().toBool(), false);
        QTRY_COMPARE_WITH_TIMEOUT(x.connected.size(), 2, 10000);
        x.c.close();
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 2, 10000);
        QCOMPARE(x.c.transport(), 0);
    }

    void selection_data()
    {
        QTest::addColumn<Mode>("wsMode");
        QTest::addColumn<Protocols>("protocols");
        QTest::addColumn<int>("expected");
        QTest::newRow("websocket refused -> streaming") << Mode::Refuse << ALL << int(XHR_STREAMING);
        QTest::newRow("websocket refused, nothing after") << Mode::Refuse << Protocols{WEBSOCKET} << 0;
        QTest::newRow("websocket closes before open -> polling")
            << Mode::CloseBeforeOpen << Protocols{WEBSOCKET, XHR_STREAMING} << int(XHR_POLLING);
        QTest::newRow("empty list") << Mode::Open << Protocols{} << 0;
    }
    void selection()
    {
        QFETCH(Mode, wsMode);
        QFETCH(Protocols, protocols);
        QFETCH(int, expected);
        FakeSockJSServer fake(wsMode);
        Conn x;
        x.c.open(QUrl(fake.url(QStringLiteral("/app/"))), protocols);
        if (expected)
            QTRY_COMPARE_WITH_TIMEOUT(x.connected.size(), 1, 10000);
        else
            QVERIFY(!x.connected.wait(300));
        QCOMPARE(x.c.transport(), expected);
        QCOMPARE(x.closed.size(), 0);
        if (protocols.isEmpty())
            QCOMPARE(fake.connections, 0);
        if (expected == XHR_POLLING)
            QCOMPARE(fake.requestsEndingWith("/xhr_streaming").size(), 0);
        const QRegularExpression path(QStringLiteral("^/app/eventbus/119/[A-Za-z0-9]{8}/(websocket|xhr|xhr_streaming)$"));
        for (const auto &r : fake.requests)
            QVERIFY2(path.match(QString::fromLatin1(r.path)).hasMatch(), r.path.constData());
    }

    // A close frame, a second open frame (the server lost the session) and close() from the first message's
    // slot each end the session; frames read behind the end, even in the same burst, are not delivered.
    void sessionEnds_data()
    {
        QTest::addColumn<Protocols>("protocols");
        QTest::addColumn<QByteArray>("frame");   // empty: the host closes on the first message
        for (const auto &t : TRANSPORTS) {
            for (const char *frame : {"c[3000,\"Go away!\"]", "o", ""})
                QTest::addRow("%s %s", t.first, *frame ? frame : "close()") << t.second << QByteArray(frame);
        }
    }
    void sessionEnds()
    {
        QFETCH(Protocols, protocols);
        QFETCH(QByteArray, frame);
        FakeSockJSServer fake(Mode::Open);
        Conn x;
        if (frame.isEmpty())
            connect(&x.c, &SockJSConnector::sockJSMessage, &x.c, &SockJSConnector::close);
        QVERIFY(x.open(fake.url(), protocols));
        // Opening a live connector does nothing: same transport, same session.
        const int requests = fake.requests.size();
        x.c.open(QUrl(fake.url()), protocols);
        QVERIFY(x.c.isConnected());
        QCOMPARE(x.c.transport(), int(protocols.first()));
        for (int i = requests; i < fake.requests.size(); ++i)
            QCOMPARE(fake.requests.at(i).path.split('/').value(4), fake.requests.first().path.split('/').value(4));
        fake.push({frame.isEmpty() ? "a[\"1\",\"2\"]" : frame, "a[\"3\"]", "a[\"4\"]"});
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 10000);
        QCOMPARE(x.closed.first().first().toBool(), false);
        QVERIFY(!x.c.isConnected());
        const int polls = fake.requestsEndingWith("/xhr").size();
        QVERIFY(!x.closed.wait(300));
        QCOMPARE(fake.requestsEndingWith("/xhr").size(), polls);   // no polling of a dead session
        QCOMPARE(x.messages.size(), frame.isEmpty() ? 1 : 0);
    }

    // What comes in the handshake's read with the open frame reaches a slot connected after open() returned.
    void framesWithOpenWaitForReturn()
    {
        FakeSockJSServer fake(Mode::Open);
        fake.withOpen = {"a[\"join\"]"};
        SockJSConnector c(nullptr);
        c.open(QUrl(fake.url()), {WEBSOCKET});
        QSignalSpy messages(&c, &SockJSConnector::sockJSMessage);
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10000);
        QCOMPARE(messages.first().first().toString(), QStringLiteral("join"));
    }

    // A frame over the bound is refused: WebSocket drops and reports the connection, XHR opens the receive again.
    void frameBound_data()
    {
        QTest::addColumn<Protocols>("protocols");
        QTest::addColumn<int>("fragment");
        QTest::newRow("websocket frame") << ALL << 0;
        QTest::newRow("websocket message in fragments") << ALL << 4096;
        QTest::newRow("xhr-streaming") << Protocols{XHR_STREAMING} << 0;
    }
    void frameBound()
    {
        QFETCH(Protocols, protocols);
        QFETCH(int, fragment);
        FakeSockJSServer fake(Mode::Open);
        fake.wsFragment = fragment;
        Conn x;
        x.c.setMaxFrameSize(64 * 1024);
        QVERIFY(x.open(fake.url(), protocols));
        fake.push("a[\"" + QByteArray(100 * 1024, 'x') + "\"]");
        if (protocols.first() == WEBSOCKET) {
            QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 10000);
            QCOMPARE(x.closed.first().first().toBool(), false);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr_streaming").size(), 2, 10000);
            QCOMPARE(x.closed.size(), 0);
        }
        QCOMPARE(x.messages.size(), 0);
    }

    // More than an hour without an outgoing non-ping message ends the session at the next check.
    void inactivity()
    {
        const Protocols protocols{XHR_POLLING};
        QDateTime now = QDateTime::currentDateTimeUtc();
        Conn x;
        x.c.setClock([&now] { return now; });
        QVERIFY(x.open(echoUrl(), protocols));
        now = now.addSecs(3000);
        x.c.send(QStringLiteral("activity"), false);
        now = now.addSecs(3600);
        x.c.send(QStringLiteral("{\"type\":\"ping\"}"), true);
        QMetaObject::invokeMethod(&x.c, "onTimeout");
        QVERIFY(x.c.isConnected());   // exactly an hour is not more than an hour
        now = now.addSecs(1);
        QMetaObject::invokeMethod(&x.c, "onTimeout");
        QVERIFY(!x.c.isConnected());
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 10000);
        QCOMPARE(x.closed.first().first().toBool(), true);
    }

    // Both transports use the http_proxy proxy unless no_proxy exempts the server.
    void systemProxy_data()
    {
        QTest::addColumn<Protocols>("protocols");
        QTest::addColumn<QByteArray>("noProxy");
        const QList<QPair<const char *, SockJSProtocol>> transports{{"websocket", WEBSOCKET},
                                                                    {"xhr-polling", XHR_POLLING}};
        for (const auto &t : transports) {
            QTest::newRow(t.first) << Protocols{t.second} << QByteArray();
            QTest::addRow("%s, bypassed", t.first) << Protocols{t.second} << QByteArray("localhost,127.0.0.1");
        }
    }
    void systemProxy()
    {
        QFETCH(Protocols, protocols);
        QFETCH(QByteArray, noProxy);
        ProxyThread proxy;
        proxy.start();
        QTRY_VERIFY_WITH_TIMEOUT(proxy.port.load() != 0, 10000);
        const QByteArray saved = qgetenv("http_proxy");
        auto restore = qScopeGuard([saved] {
            if (saved.isNull())
                qunsetenv("http_proxy");
            else
                qputenv("http_proxy", saved);
            qunsetenv("no_proxy");
        });
        const QUrl url(echoUrl());
        qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port));
        qputenv("no_proxy", noProxy);
        qunsetenv("NO_PROXY");

        Conn x;
        QVERIFY(x.open(url.toString(), protocols));
        x.c.send(QStringLiteral("via proxy"), false);
        QTRY_COMPARE_WITH_TIMEOUT(x.messages.size(), 1, 10000);
        x.c.close();
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 10000);
        proxy.stop();
        QCOMPARE(proxy.tunnels > 0, noProxy.isEmpty());
        if (noProxy.isEmpty())
            QCOMPARE(proxy.target, url.host().toLatin1() + ':' + QByteArray::number(url.port()));
    }
};

QTEST_GUILESS_MAIN(TestSockJSConnector)
#include "tst_sockjsconnector.moc"
