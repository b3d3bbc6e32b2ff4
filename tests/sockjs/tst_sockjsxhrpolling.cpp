// The XHR transport and its worker against an in-process fake server, where
// exact bytes, drops and misbehaviour are under the test's control.
#include "fakesockjsserver.h"
#include "sockjsxhrpolling.h"
#include "sockjsxhrpollingworker.h"
#include "xhrrequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

Q_DECLARE_METATYPE(FakeSockJSServer::SendMode)

namespace {
const QString SESSION_PATH = QStringLiteral("/app/eventbus/119/abcdefgh");
}

class TestSockJSXHRPolling : public QObject
{
    Q_OBJECT

private slots:
    void addresses_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("requestPath");
        QTest::addColumn<QString>("baseUrl");
        QTest::newRow("leading slash") << SESSION_PATH << SESSION_PATH << "http://127.0.0.1:%1" + SESSION_PATH;
        QTest::newRow("no leading slash") << SESSION_PATH.mid(1) << SESSION_PATH << "http://127.0.0.1:%1" + SESSION_PATH;
        QTest::newRow("trailing slash") << SESSION_PATH + "/" << SESSION_PATH + "/" << "http://127.0.0.1:%1" + SESSION_PATH;
    }

    // The addresses the transport derives, and the receive request byte for byte.
    void addresses()
    {
        QFETCH(QString, path);
        QFETCH(QString, requestPath);
        QFETCH(QString, baseUrl);
        FakeSockJSServer fake;
        SockJSXHRPolling xhr(nullptr);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, path, false));
        QCOMPARE(xhr.getRequestPath(), requestPath);
        QCOMPARE(xhr.getServerRoot(), QStringLiteral("http://127.0.0.1:%1").arg(fake.port()));
        QCOMPARE(xhr.getBaseUrl(), baseUrl.arg(fake.port()));
        QTRY_VERIFY_WITH_TIMEOUT(fake.bytesByConnection.value(1).endsWith("\r\n\r\n\r\n\r\n"), 5000);
        const QByteArray expected = "POST " + requestPath.toUtf8()
            + "/xhr HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n"
              "Accept-Encoding: identity\r\nContent-Type: application/json\r\nContent-Length: 0\r\n\r\n\r\n\r\n";
        // The open frame answers the first poll at once; the second follows it.
        QCOMPARE(fake.bytesByConnection.value(1).left(expected.size()), expected);
        QTRY_COMPARE_WITH_TIMEOUT(fake.bytesByConnection.value(1), expected + expected, 5000);
    }

    void openFailsWithoutServer()
    {
        quint16 port;
        {
            FakeSockJSServer gone;
            port = gone.port();
        }
        SockJSXHRPolling xhr(nullptr);
        QVERIFY(!xhr.open(QStringLiteral("127.0.0.1"), port, false, SESSION_PATH, false));
    }

    // Polling: every delivered response is followed at once by exactly one
    // new poll on the same connection (a poll written only after a second of
    // silence would make this take minutes).
    void pollingChain()
    {
        FakeSockJSServer fake;
        fake.answerPollsAtOnce = true;
        SockJSXHRPolling xhr(nullptr);
        QSignalSpy frames(&xhr, &SockJSXHRPolling::textMessageReceived);
        QSignalSpy closed(&xhr, &SockJSXHRPolling::connectionClosed);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        QTRY_VERIFY_WITH_TIMEOUT(frames.size() >= 50, 20000);
        xhr.close();
        QVERIFY(closed.wait(5000));
        QCOMPARE(frames.first().first().toString(), QStringLiteral("o"));
        // (plus the one kept ahead, and at most one more whose answer was read
        // but, coming after close(), not delivered)
        const int polls = fake.requestsEndingWith("/xhr").size();
        QVERIFY2(polls >= frames.size() && polls <= frames.size() + 2,
                 qPrintable(QStringLiteral("%1 polls for %2 frames").arg(polls).arg(frames.size())));
        QCOMPARE(fake.connections, 1);
    }

    // Streaming: frames are delivered as they arrive; a cleanly ended stream
    // is followed by a new streaming request, a delivered frame is not.
    void streamingFrames()
    {
        FakeSockJSServer fake;
        SockJSXHRPolling xhr(nullptr);
        QSignalSpy frames(&xhr, &SockJSXHRPolling::textMessageReceived);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, true));
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 2, 5000);
        QCOMPARE(frames.at(0).first().toString(), QString(2048, QLatin1Char('h')));
        QCOMPARE(frames.at(1).first().toString(), QStringLiteral("o"));
        fake.push("a[\"one\"]");
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 3, 5000);
        QCOMPARE(frames.at(2).first().toString(), QStringLiteral("a[\"one\"]"));
        QCOMPARE(fake.requestsEndingWith("/xhr_streaming").size(), 1);
        fake.endStream();
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr_streaming").size(), 2, 5000);
        fake.push("a[\"two\"]");
        QTRY_COMPARE_WITH_TIMEOUT(frames.last().first().toString(), QStringLiteral("a[\"two\"]"), 5000);
    }

    // A cookie set on a response comes back on the next raw request and on
    // "/xhr_send".
    void cookies()
    {
        FakeSockJSServer fake;
        fake.setCookie = "X=1; Path=/app";
        SockJSXHRPolling xhr(nullptr);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr").size(), 2, 5000);
        QVERIFY(!fake.requestsEndingWith("/xhr").at(0).raw.contains("Cookie:"));
        QVERIFY(fake.requestsEndingWith("/xhr").at(1).raw.endsWith("Content-Length: 0\r\nCookie: X=1; \r\n\r\n"));
        xhr.send(QStringLiteral("[\n    \"m\"\n]\n"));
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr_send").size(), 1, 5000);
        const FakeSockJSServer::Request post = fake.requestsEndingWith("/xhr_send").first();
        QVERIFY(post.raw.contains("\r\nCookie: X=1; \r\n"));
        QCOMPARE(post.body, QByteArray("[\n    \"m\"\n]\n"));
        QVERIFY(post.raw.toLower().contains("content-type: application/json; charset=utf-8\r\n"));
    }

    // Posts go one at a time; what queues meanwhile is merged in order, into
    // posts of bounded size (a longer text goes alone), so a burst never
    // becomes one huge body.
    void sendsKeepOrder()
    {
        FakeSockJSServer fake;
        SockJSXHRPolling xhr(nullptr);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        const int n = 300;
        const int oversized = 150;
        const QString pad(1000, QLatin1Char('p'));
        auto text = [&](int i) -> QString { return QString::number(i) + (i == oversized ? pad.repeated(100) : pad); };
        for (int i = 0; i < n; ++i)
            xhr.send(QStringLiteral("[\n    \"%1\"\n]\n").arg(text(i)));
        QStringList got;
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            got.clear();
            for (const auto &r : fake.requestsEndingWith("/xhr_send")) {
                const QJsonArray a = QJsonDocument::fromJson(r.body).array();
                for (const QJsonValue v : a)
                    got << v.toString();
            }
            return got.size() == n;
        }(), 10000);
        for (int i = 0; i < n; ++i)
            QCOMPARE(got.at(i), text(i));
        const auto posts = fake.requestsEndingWith("/xhr_send");
        QVERIFY(posts.size() < n / 2);   // merged
        for (const auto &r : posts)
            QVERIFY(r.body.size() <= 64 * 1024 || !r.body.contains(",\n"));
    }

    // A post reaches the server at most once: one whose connection ended
    // after it was written is not written again (the server may have read
    // it); one not answered in time drops the transport with what queued
    // behind it.
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
        FakeSockJSServer fake;
        fake.sendMode = mode;
        SockJSXHRPolling xhr(nullptr);
        xhr.setSendTimeout(300);
        QSignalSpy closed(&xhr, &SockJSXHRPolling::connectionClosed);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        auto texts = [&fake] {
            QStringList out;
            for (const auto &r : fake.requestsEndingWith("/xhr_send"))
                out << QJsonDocument::fromJson(r.body).array().at(0).toString();
            return out;
        };
        xhr.send(QStringLiteral("[\n    \"a\"\n]\n"));
        QTRY_COMPARE_WITH_TIMEOUT(texts().size(), 1, 5000);
        xhr.send(QStringLiteral("[\n    \"b\"\n]\n"));
        QCOMPARE(closed.wait(dropped ? 5000 : 800), dropped);
        QCOMPARE(texts(), posted);
    }

    void reconnectsAfterDrop()
    {
        FakeSockJSServer fake;
        SockJSXHRPolling xhr(nullptr);
        QSignalSpy frames(&xhr, &SockJSXHRPolling::textMessageReceived);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr").size(), 2, 5000);
        fake.dropAll();
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr").size(), 3, 5000);
        QCOMPARE(fake.requestsEndingWith("/xhr").last().connection, 2);
        fake.push("a[\"after\"]");
        QTRY_COMPARE_WITH_TIMEOUT(frames.last().first().toString(), QStringLiteral("a[\"after\"]"), 5000);
    }

    // Bytes that break the stream drop the connection; the worker reconnects
    // and polls again. (Each kind of broken byte is a parser test.)
    void protocolErrorsReconnect_data()
    {
        QTest::addColumn<QByteArray>("response");
        const QByteArray head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        QTest::newRow("chunk size not hex") << head + "xyz\r\no\n\r\n";
        QTest::newRow("incomplete data times out") << head + "10\r\nab";
    }

    void protocolErrorsReconnect()
    {
        QFETCH(QByteArray, response);
        FakeSockJSServer fake;
        fake.firstPollRaw = response;
        SockJSXHRPolling xhr(nullptr);
        QSignalSpy closed(&xhr, &SockJSXHRPolling::connectionClosed);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr").size(), 2, 8000);
        QCOMPARE(fake.requestsEndingWith("/xhr").last().connection, 2);
        QCOMPARE(closed.size(), 0);
    }

    void retryLimitWithServerGone()
    {
        auto fake = std::make_unique<FakeSockJSServer>();
        SockJSXHRPolling xhr(nullptr);
        QSignalSpy closed(&xhr, &SockJSXHRPolling::connectionClosed);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake->port(), false, SESSION_PATH, false));
        QTRY_COMPARE_WITH_TIMEOUT(fake->requestsEndingWith("/xhr").size(), 2, 5000);
        fake.reset();   // stops listening and drops the connection
        QVERIFY(closed.wait(20000));
    }

    void errorStatusEndsPolling()
    {
        FakeSockJSServer fake;
        fake.pollStatus = 404;
        SockJSXHRPolling xhr(nullptr);
        QSignalSpy closed(&xhr, &SockJSXHRPolling::connectionClosed);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        QVERIFY(closed.wait(5000));
        QCOMPARE(fake.requestsEndingWith("/xhr").size(), 1);
    }

    void closeStopsRequests()
    {
        FakeSockJSServer fake;
        SockJSXHRPolling xhr(nullptr);
        QSignalSpy closed(&xhr, &SockJSXHRPolling::connectionClosed);
        QVERIFY(xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr").size(), 2, 5000);
        xhr.close();
        QVERIFY(closed.wait(5000));
        fake.push("a[\"late\"]");
        xhr.send(QStringLiteral("[\n    \"still posted\"\n]\n"));
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestsEndingWith("/xhr_send").size(), 1, 5000);
        QCOMPARE(fake.requestsEndingWith("/xhr").size(), 2);
    }

    // A stop that comes before the worker thread has even started still ends it.
    void closeRightAfterOpen()
    {
        FakeSockJSServer fake;
        auto xhr = std::make_unique<SockJSXHRPolling>(nullptr);
        QSignalSpy closed(xhr.get(), &SockJSXHRPolling::connectionClosed);
        QVERIFY(xhr->open(QStringLiteral("127.0.0.1"), fake.port(), false, SESSION_PATH, false));
        xhr->close();
        QVERIFY(closed.wait(5000));
        QElapsedTimer t;
        t.start();
        xhr.reset();   // joins the worker thread
        QVERIFY(t.elapsed() < 5000);
    }

    // The transmit queue holds at most 51 requests and refuses everything
    // once the worker is stopping.
    void queueLimits()
    {
        QTcpSocket socket;
        SockJSXHRPollingWorker worker(nullptr, &socket, QStringLiteral("127.0.0.1"), 1, false, true);
        for (int i = 0; i < SockJSXHRPollingWorker::MAX_QUEUE + 1; ++i)
            QVERIFY(worker.enqueue(new XHRRequest(nullptr, QStringLiteral("/p"), QStringLiteral("x"))));
        XHRRequest extra(nullptr, QStringLiteral("/p"), QStringLiteral("x"));
        QVERIFY(!worker.enqueue(&extra));
        worker.stop();
        QVERIFY(worker.isStopping());
        XHRRequest late(nullptr, QStringLiteral("/p"), QStringLiteral("x"));
        QVERIFY(!worker.enqueue(&late));
        QVERIFY(late.getRequestId() > extra.getRequestId());
    }
};

QTEST_GUILESS_MAIN(TestSockJSXHRPolling)
#include "tst_sockjsxhrpolling.moc"
