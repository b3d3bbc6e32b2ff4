// The connector on each transport against the stand-in's echo endpoint (plain, TLS, through an asking proxy),
// and the fake where a server misbehaves.
#include "fakesockjsserver.h"
#include "networksettings_p.h"
#include "sockjsconnector.h"
#include "sockjsframe_p.h"
#include "standin.h"
#include "tcpproxy.h"
#include "testsupport.h"

#include <QAuthenticator>
#include <QSignalSpy>
#include <QSslSocket>
#include <QtTest>

Q_DECLARE_METATYPE(QList<SockJSProtocol>)
Q_DECLARE_METATYPE(FakeSockJSServer::WebSocketMode)
Q_DECLARE_METATYPE(Veltro::Error)

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELTRO_TEST_TSAN 1
#endif
#endif

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

// A connector and spies on what it reports; `log` has "m:<message>" and "closed" in the order they came.
struct Conn
{
    SockJSConnector c{nullptr};
    QSignalSpy connected{&c, &SockJSConnector::connected};
    QSignalSpy messages{&c, &SockJSConnector::sockJSMessage};
    QSignalSpy closed{&c, &SockJSConnector::closed};
    QSignalSpy failed{&c, &SockJSConnector::openFailed};
    QStringList log;

    Conn()
    {
        QObject::connect(&c, &SockJSConnector::sockJSMessage, &c, [this](const QString &m) { log << "m:" + m; });
        QObject::connect(&c, &SockJSConnector::closed, &c, [this] { log << QStringLiteral("closed"); });
    }
    int emitted() const { return connected.size() + messages.size() + closed.size() + failed.size(); }
    // Opens and waits for the session; false when it did not come (or something came inside open()).
    bool open(const QString &url, const Protocols &protocols)
    {
        c.open(QUrl(url), protocols);
        return emitted() == 0 && QTest::qWaitFor([&] { return !connected.isEmpty() || !failed.isEmpty(); }, 10000)
            && !connected.isEmpty();
    }
    // One message there and back.
    bool echoes(const QString &text)
    {
        c.send(text, false);
        return QTest::qWaitFor([&] { return log.contains("m:" + text); }, 10000);
    }
};

// The certificate errors a plain handshake with `url`'s server meets.
QList<QSslError> handshakeErrors(const QUrl &url)
{
    QSslSocket s;
    QList<QSslError> errors;
    QObject::connect(&s, qOverload<const QList<QSslError> &>(&QSslSocket::sslErrors),
                     [&](const QList<QSslError> &e) { errors = e; });
    s.connectToHostEncrypted(url.host(), quint16(url.port()));
    s.waitForEncrypted(10000);
    return errors;
}

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

        // Closed before its first attempt has run: over at once, reported once, nothing tried.
        Conn y;
        y.c.open(QUrl(echoUrl()), protocols);
        y.c.close();
        QTRY_COMPARE_WITH_TIMEOUT(y.closed.size(), 1, 10000);
        QVERIFY(!y.closed.wait(300));
        QCOMPARE(y.connected.size() + y.failed.size(), 0);
    }

    // Nothing is reported inside open(); the outcome is connected(), or openFailed() once with the reason.
    void selection_data()
    {
        QTest::addColumn<Mode>("wsMode");
        QTest::addColumn<Protocols>("protocols");
        QTest::addColumn<int>("expected");
        QTest::addColumn<Veltro::Error>("failure");
        QTest::addColumn<bool>("listening");
        using E = Veltro::Error;
        QTest::newRow("websocket refused -> streaming") << Mode::Refuse << ALL << int(XHR_STREAMING) << E::None << true;
        QTest::newRow("websocket refused, nothing after")
            << Mode::Refuse << Protocols{WEBSOCKET} << 0 << E::ConnectionRefused << true;
        QTest::newRow("websocket closes before open -> polling")
            << Mode::CloseBeforeOpen << Protocols{WEBSOCKET, XHR_STREAMING} << int(XHR_POLLING) << E::None << true;
        QTest::newRow("empty list") << Mode::Open << Protocols{} << 0 << E::Network << true;
        QTest::newRow("every transport refused") << Mode::Open << ALL << 0 << E::ConnectionRefused << false;
    }
    void selection()
    {
        QFETCH(Mode, wsMode);
        QFETCH(Protocols, protocols);
        QFETCH(int, expected);
        QFETCH(Veltro::Error, failure);
        QFETCH(bool, listening);
        FakeSockJSServer fake(wsMode);
        Conn x;
        const QString url = listening ? fake.url(QStringLiteral("/app/"))
                                      : QStringLiteral("http://127.0.0.1:%1/app/").arg(closedPort());
        x.c.open(QUrl(url), protocols);
        QCOMPARE(x.emitted(), 0);
        if (expected) {
            QTRY_COMPARE_WITH_TIMEOUT(x.connected.size(), 1, 10000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(x.failed.size(), 1, 10000);
            QCOMPARE(x.c.error(), failure);
            QVERIFY(!x.c.errorString().isEmpty());
            QVERIFY(!x.failed.wait(300));
        }
        QCOMPARE(x.c.transport(), expected);
        QCOMPARE(x.closed.size(), 0);
        QCOMPARE(x.failed.size(), expected ? 0 : 1);
        if (protocols.isEmpty())
            QCOMPARE(fake.connections, 0);
        if (expected == XHR_POLLING)
            QCOMPARE(fake.requestsEndingWith("/xhr_streaming").size(), 0);
        const QRegularExpression path(QStringLiteral("^/app/eventbus/119/[A-Za-z0-9]{8}/(websocket|xhr|xhr_streaming)$"));
        for (const auto &r : fake.requests)
            QVERIFY2(path.match(QString::fromLatin1(r.path)).hasMatch(), r.path.constData());
    }

    // A close frame, a second open frame (the server lost the session) and a drop each end the session after
    // what came before them is delivered, and nothing read behind them is; close() from the first message's
    // slot drops what is not delivered yet, and nothing that arrives while the transport closes is delivered.
    void sessionEnds_data()
    {
        QTest::addColumn<Protocols>("protocols");
        QTest::addColumn<QByteArray>("frame");   // empty: the host closes on the first message; "drop": the server
        QTest::addColumn<Veltro::Error>("reason");
        for (const auto &t : TRANSPORTS) {
            for (const char *frame : {"c[3000,\"Go away!\"]", "o", ""})
                QTest::addRow("%s %s", t.first, *frame ? frame : "close()")
                    << t.second << QByteArray(frame) << (*frame ? Veltro::Error::ClosedByServer : Veltro::Error::None);
        }
        QTest::newRow("websocket drop") << ALL << QByteArray("drop") << Veltro::Error::ClosedByServer;
    }
    void sessionEnds()
    {
        QFETCH(Protocols, protocols);
        QFETCH(QByteArray, frame);
        QFETCH(Veltro::Error, reason);
        FakeSockJSServer fake(Mode::Open);
        Conn x;
        const bool hostCloses = frame.isEmpty();
        if (hostCloses) {
            connect(&x.c, &SockJSConnector::sockJSMessage, &x.c, &SockJSConnector::close);
        } else {
            // A host slot slower than a delivery slice: "2" still waits when the end arrives.
            connect(&x.c, &SockJSConnector::sockJSMessage, &x.c, [](const QString &m) {
                QElapsedTimer t;
                t.start();
                while (m == QLatin1String("1") && t.elapsed() <= 2 * Veltro::PacerBase::SLICE_MS) {
                }
            });
        }
        QVERIFY(x.open(fake.url(), protocols));
        // Opening a live connector does nothing: same transport, same session.
        const int requests = fake.requests.size();
        x.c.open(QUrl(fake.url()), protocols);
        QVERIFY(x.c.isConnected());
        QCOMPARE(x.c.transport(), int(protocols.first()));
        for (int i = requests; i < fake.requests.size(); ++i)
            QCOMPARE(fake.requests.at(i).path.split('/').value(4), fake.requests.first().path.split('/').value(4));
        if (frame == "drop") {
            fake.push("a[\"1\",\"2\"]");
            fake.dropAll();
        } else {
            fake.push(hostCloses ? QList<QByteArray>{"a[\"1\",\"2\"]", "a[\"3\"]"}
                                 : QList<QByteArray>{"a[\"1\",\"2\"]", frame, "a[\"3\"]"});
        }
        if (hostCloses) {
            QTRY_COMPARE_WITH_TIMEOUT(x.messages.size(), 1, 10000);
            fake.push("a[\"late\"]");   // while the transport closes
        }
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 10000);
        QCOMPARE(x.closed.first().first().toBool(), false);
        QCOMPARE(x.c.error(), reason);
        QVERIFY(!x.c.isConnected());
        const int polls = fake.requestsEndingWith("/xhr").size();
        QVERIFY(!x.closed.wait(300));
        QCOMPARE(fake.requestsEndingWith("/xhr").size(), polls);   // no polling of a dead session
        const QStringList expected = hostCloses ? QStringList{"m:1", "closed"} : QStringList{"m:1", "m:2", "closed"};
        QCOMPARE(x.log, expected);
    }

    // Past the backlog bound the transport is dropped (what fitted is delivered, in order) and reported. A frame
    // over the frame bound is refused: WebSocket drops and reports the connection, XHR opens the receive again.
    void bounds_data()
    {
        QTest::addColumn<Protocols>("protocols");
        QTest::addColumn<bool>("backlog");
        QTest::addColumn<int>("fragment");
        for (const auto &t : TRANSPORTS)
            QTest::addRow("%s, backlog", t.first) << t.second << true << 0;
        QTest::newRow("websocket frame") << ALL << false << 0;
        QTest::newRow("websocket message in fragments") << ALL << false << 4096;
        QTest::newRow("xhr-streaming frame") << Protocols{XHR_STREAMING} << false << 0;
    }
    void bounds()
    {
        QFETCH(Protocols, protocols);
        QFETCH(bool, backlog);
        QFETCH(int, fragment);
        FakeSockJSServer fake(Mode::Open);
        fake.wsFragment = fragment;
        Conn x;
        backlog ? x.c.setMaxBacklog(64 * 1024) : x.c.setMaxFrameSize(64 * 1024);
        QVERIFY(x.open(fake.url(), protocols));
        QByteArray frame = "a[";
        for (int i = 0; i < 100; ++i)
            frame += (i ? ",\"" : "\"") + QByteArray::number(i) + QByteArray(1024, 'x') + '"';
        fake.push(frame + ']');
        if (!backlog && protocols.first() != WEBSOCKET) {
            QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr_streaming").size(), 2, 10000);
            QCOMPARE(x.emitted(), 1); // connected() only
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 10000);
        QCOMPARE(x.closed.first().first().toBool(), false);
        QCOMPARE(x.c.error(), backlog ? Veltro::Error::BacklogFull : Veltro::Error::FrameTooLarge);
        QVERIFY(x.messages.size() < (backlog ? 100 : 1));
        for (int i = 0; i < x.messages.size(); ++i)
            QVERIFY(x.messages.at(i).first().toString().startsWith(QString::number(i) + 'x'));
        QCOMPARE(x.log.last(), QStringLiteral("closed"));
    }

    // What comes in the handshake's read with the open frame reaches the host after open() returned (the
    // WebSocket delivers it); closeNow() hands the last frame to the server without an event loop and reports
    // nothing, then or later.
    void closeNow_data() { addTransportRows(); }
    void closeNow()
    {
        QFETCH(Protocols, protocols);
        FakeSockJSServer fake(Mode::Open);
        fake.withOpen = {"a[\"join\"]"};
        Conn x;
        QVERIFY(x.open(fake.url(), protocols));
        if (protocols.first() == WEBSOCKET)
            QTRY_COMPARE_WITH_TIMEOUT(x.log, QStringList{"m:join"}, 10000);
        fake.push("a[\"unread\"]");
        x.c.closeNow(QStringLiteral("bye"));
        const QByteArray sent = Veltro::SockJSFrame::encode(QStringLiteral("bye")).toUtf8();
        if (protocols.first() == WEBSOCKET)
            QTRY_COMPARE_WITH_TIMEOUT(fake.wsTexts, QList<QByteArray>{sent}, 5000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(!fake.requestsEndingWith("/xhr_send").isEmpty()
                                         && fake.requestsEndingWith("/xhr_send").last().body == sent, 5000);
        QVERIFY(!x.closed.wait(300));
        QCOMPARE(x.failed.size(), 0);
        QVERIFY(!x.log.contains("m:unread"));
        QCOMPARE(x.c.transport(), 0);
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
        QCOMPARE(x.c.error(), Veltro::Error::Inactivity);
    }

    // A school's network on each transport: a TLS filter with its own authority, an outbound proxy asking for
    // Basic credentials, the system's proxy (http_proxy, unless no_proxy exempts the server). Refusals carry
    // their reason and are never retried in a loop.
    void schoolNetwork_data()
    {
        QTest::addColumn<Protocols>("protocols");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<Veltro::Error>("failure");   // None: it connects and echoes
        using E = Veltro::Error;
        const QList<QPair<const char *, Veltro::Error>> settings{
            {"tls default", E::Tls}, {"tls authority added", E::None}, {"tls error accepted", E::None},
            {"tls error accepted, other certificate", E::Tls}, {"proxy credentials in proxy", E::None},
            {"proxy credentials from host", E::None}, {"proxy without credentials", E::ProxyAuthenticationRequired},
            {"proxy wrong credentials", E::ProxyAuthenticationRequired}, {"system proxy", E::None},
            {"system proxy, bypassed", E::None}};
        for (const auto &t : TRANSPORTS) {
            for (const auto &setting : settings)
                QTest::addRow("%s, %s", t.first, setting.first)
                    << Protocols{t.second.first()} << QString::fromLatin1(setting.first) << setting.second;
        }
    }
    void schoolNetwork()
    {
        QFETCH(Protocols, protocols);
        QFETCH(QString, setting);
        QFETCH(Veltro::Error, failure);
        if (setting.startsWith("tls")) {
#if defined(__SANITIZE_THREAD__) || defined(VELTRO_TEST_TSAN)
            // The thread checker's runtime does not survive starting a child process from a threaded one.
            QSKIP("no private stand-in under the thread checker");
#endif
            if (!tlsServers[0]) {
                for (auto &server : tlsServers)
                    server = StandIn::launch({QStringLiteral("--tls")});
            }
            QVERIFY(tlsServers[0] && tlsServers[1]);
        }
        Veltro::NetworkHub hub;
        QSignalSpy sslErrors(&hub, &Veltro::NetworkHub::sslErrors);
        TcpProxy proxy(0);
        if (!setting.startsWith("system"))
            proxy.requireCredentials("teacher", "secret");
        const QByteArray savedProxy = qgetenv("http_proxy");
        auto restore = qScopeGuard([savedProxy] {
            savedProxy.isNull() ? qunsetenv("http_proxy") : qputenv("http_proxy", savedProxy);
            qunsetenv("no_proxy");
        });
        if (setting.startsWith("system")) {
            qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
            qputenv("no_proxy", setting.endsWith("bypassed") ? "localhost,127.0.0.1" : "");
            qunsetenv("NO_PROXY");
        }
        int asked = 0;
        QString url = setting.startsWith("tls") ? tlsServers[0]->echoUrl() : echoUrl();
        Veltro::NetworkSettings &s = hub.settings();
        if (setting == "tls authority added") {
            s.sslSet = true;
            s.ssl = QSslConfiguration::defaultConfiguration();
            s.ssl.addCaCertificates(QSslCertificate::fromPath(tlsServers[0]->info().value("caFile").toString()));
        } else if (setting.startsWith("tls error accepted")) {
            s.acceptedSslErrors = handshakeErrors(QUrl(url));
            QVERIFY(!s.acceptedSslErrors.isEmpty());
            if (setting.endsWith("other certificate"))
                url = tlsServers[1]->echoUrl();
        } else if (setting.startsWith("proxy")) {
            s.proxySet = true;
            s.proxy = QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy.port());
            if (setting.endsWith("in proxy") || setting.endsWith("wrong credentials")) {
                s.proxy.setUser(QStringLiteral("teacher"));
                s.proxy.setPassword(setting.endsWith("in proxy") ? QStringLiteral("secret") : QStringLiteral("guess"));
            }
            if (setting.endsWith("from host")) {
                connect(&hub, &Veltro::NetworkHub::proxyAuthenticationRequired, &hub,
                        [&asked](const QNetworkProxy &, QAuthenticator *a) {
                            ++asked;
                            a->setUser(QStringLiteral("teacher"));
                            a->setPassword(QStringLiteral("secret"));
                        });
            }
        }
        Conn x;
        x.c.setNetworkHub(&hub);
        if (failure == Veltro::Error::None) {
            QVERIFY(x.open(url, protocols));
            QVERIFY(x.echoes(QStringLiteral("through")));
            QCOMPARE(sslErrors.size(), 0);
            QCOMPARE(asked, setting.endsWith("from host") ? 1 : 0);   // asked once, remembered for every socket
            QCOMPARE(proxy.accepted() > 0, setting.contains("proxy") && !setting.endsWith("bypassed"));
            if (setting == "system proxy")
                QCOMPARE(proxy.connectTarget(), QUrl(url).host().toLatin1() + ':' + QByteArray::number(QUrl(url).port()));
            if (setting.startsWith("proxy") && protocols.first() != WEBSOCKET) {
                // The worker's own reconnection goes through with what is known, asking nobody. (The session
                // may carry on, or the server may have ended it for the interrupted request.)
                const int tunnels = proxy.tunnels();
                proxy.dropAll();
                QTRY_VERIFY_WITH_TIMEOUT(proxy.tunnels() > tunnels, 10000);
                QVERIFY(!x.closed.wait(300) || x.c.error() == Veltro::Error::ClosedByServer);
                QCOMPARE(asked, setting.endsWith("from host") ? 1 : 0);
            }
            return;
        }
        x.c.open(QUrl(url), protocols);
        QTRY_COMPARE_WITH_TIMEOUT(x.failed.size(), 1, 20000);
        QCOMPARE(x.c.error(), failure);
        if (failure == Veltro::Error::Tls) {
            QCOMPARE(sslErrors.size(), 1);
            const auto errors = sslErrors.first().first().value<QList<QSslError>>();
            QVERIFY(!errors.isEmpty());
            QVERIFY2(x.c.errorString().contains(errors.first().errorString()), qPrintable(x.c.errorString()));
        } else {
            QVERIFY2(proxy.refusals() >= 1 && proxy.refusals() <= 2, qPrintable(QString::number(proxy.refusals())));
        }
    }

private:
    std::unique_ptr<StandIn> tlsServers[2];
};

QTEST_GUILESS_MAIN(TestSockJSConnector)
#include "tst_sockjsconnector.moc"
