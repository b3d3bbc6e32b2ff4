// The XHR transport and its worker against an in-process fake server, where
// exact bytes, drops and misbehaviour are under the test's control.
#include "fakesockjsserver.h"
#include "sockjsxhrpolling.h"
#include "sockjsxhrpollingworker.h"
#include "xhrrequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

Q_DECLARE_METATYPE(FakeSockJSServer::SendMode)

namespace {

const QString SESSION_PATH = QStringLiteral("/app/eventbus/119/abcdefgh");

// The transport on a fake server, and spies on what it reports.
struct Xhr
{
    FakeSockJSServer fake;
    SockJSXHRPolling xhr{nullptr};
    QSignalSpy frames{&xhr, &SockJSXHRPolling::textMessageReceived};
    QSignalSpy closed{&xhr, &SockJSXHRPolling::connectionClosed};

    bool open(bool streaming = false, const QString &path = SESSION_PATH)
    {
        return xhr.open(QStringLiteral("127.0.0.1"), fake.port(), false, path, streaming);
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
    void addresses_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("requestPath");
        QTest::newRow("leading slash") << SESSION_PATH << SESSION_PATH;
        QTest::newRow("no leading slash") << SESSION_PATH.mid(1) << SESSION_PATH;
        QTest::newRow("trailing slash") << SESSION_PATH + "/" << SESSION_PATH + "/";
    }

    // The receive request byte for byte.
    void addresses()
    {
        QFETCH(QString, path);
        QFETCH(QString, requestPath);
        Xhr x;
        QVERIFY(x.open(false, path));
        const QByteArray expected = "POST " + requestPath.toUtf8()
            + "/xhr HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n"
              "Accept-Encoding: identity\r\nContent-Type: application/json\r\nContent-Length: 0\r\n\r\n\r\n\r\n";
        // The open frame answers the first poll at once; the second follows it.
        QTRY_COMPARE_WITH_TIMEOUT(x.fake.bytesByConnection.value(1), expected + expected, 5000);
    }

    void openFailsWithoutServer()
    {
        auto gone = std::make_unique<FakeSockJSServer>();
        const quint16 port = gone->port();
        gone.reset();
        SockJSXHRPolling xhr(nullptr);
        QVERIFY(!xhr.open(QStringLiteral("127.0.0.1"), port, false, SESSION_PATH, false));
    }

    // Polling: every delivered response is followed at once by exactly one
    // new poll on the same connection (a poll written only after a second of
    // silence would make this take minutes).
    void pollingChain()
    {
        Xhr x;
        x.fake.answerPollsAtOnce = true;
        QVERIFY(x.open());
        QTRY_VERIFY_WITH_TIMEOUT(x.frames.size() >= 50, 20000);
        x.xhr.close();
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 5000);
        QCOMPARE(x.frames.first().first().toString(), QStringLiteral("o"));
        // (plus the one kept ahead, and at most one more whose answer was read
        // but, coming after close(), not delivered)
        const int polls = x.polls().size();
        QVERIFY2(polls >= x.frames.size() && polls <= x.frames.size() + 2,
                 qPrintable(QStringLiteral("%1 polls for %2 frames").arg(polls).arg(x.frames.size())));
        QCOMPARE(x.fake.connections, 1);
    }

    // Streaming: a delivered frame keeps the stream; a cleanly ended stream is
    // followed by a new streaming request.
    void streamingFrames()
    {
        Xhr x;
        QVERIFY(x.open(true));
        x.fake.push("a[\"one\"]");
        QTRY_COMPARE_WITH_TIMEOUT(x.lastFrame(), QStringLiteral("a[\"one\"]"), 5000);
        QCOMPARE(x.fake.requestsEndingWith("/xhr_streaming").size(), 1);
        x.fake.endStream();
        QTRY_COMPARE_WITH_TIMEOUT(x.fake.requestsEndingWith("/xhr_streaming").size(), 2, 5000);
        x.fake.push("a[\"two\"]");
        QTRY_COMPARE_WITH_TIMEOUT(x.lastFrame(), QStringLiteral("a[\"two\"]"), 5000);
    }

    // A cookie set on a response comes back on the next raw request and on
    // "/xhr_send".
    void cookies()
    {
        Xhr x;
        x.fake.setCookie = "X=1; Path=/app";
        QVERIFY(x.open());
        QTRY_COMPARE_WITH_TIMEOUT(x.polls().size(), 2, 5000);
        QVERIFY(!x.polls().at(0).raw.contains("Cookie:"));
        QVERIFY(x.polls().at(1).raw.endsWith("Content-Length: 0\r\nCookie: X=1; \r\n\r\n"));
        x.xhr.send(message("m"));
        QTRY_COMPARE_WITH_TIMEOUT(x.fake.requestsEndingWith("/xhr_send").size(), 1, 5000);
        const FakeSockJSServer::Request post = x.fake.requestsEndingWith("/xhr_send").first();
        QVERIFY(post.raw.contains("\r\nCookie: X=1; \r\n"));
        QCOMPARE(post.body, message("m").toUtf8());
        QVERIFY(post.raw.toLower().contains("content-type: application/json; charset=utf-8\r\n"));
    }

    // Posts go one at a time; what queues meanwhile is merged in order, into
    // posts of bounded size (a longer text goes alone), so a burst never
    // becomes one huge body.
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
        Xhr x;
        x.fake.sendMode = mode;
        x.xhr.setSendTimeout(300);
        QVERIFY(x.open());
        x.xhr.send(message("a"));
        QTRY_COMPARE_WITH_TIMEOUT(x.posted().size(), 1, 5000);
        x.xhr.send(message("b"));
        QCOMPARE(x.closed.wait(dropped ? 5000 : 800), dropped);
        QCOMPARE(x.posted(), posted);
    }

    // A receive connection dropped, or broken by bytes that are no HTTP, is
    // opened again and polled on. (Each kind of broken byte is a parser test.)
    void receiveRestored_data()
    {
        QTest::addColumn<QByteArray>("firstPoll");   // empty: answered, then the connection dropped
        const QByteArray head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        QTest::newRow("dropped") << QByteArray();
        QTest::newRow("chunk size not hex") << head + "xyz\r\no\n\r\n";
        QTest::newRow("incomplete data times out") << head + "10\r\nab";
    }
    void receiveRestored()
    {
        QFETCH(QByteArray, firstPoll);
        Xhr x;
        x.fake.firstPollRaw = firstPoll;
        QVERIFY(x.open());
        if (firstPoll.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(x.polls().size(), 2, 5000);
            x.fake.dropAll();
        }
        QTRY_COMPARE_WITH_TIMEOUT(x.polls().size(), firstPoll.isEmpty() ? 3 : 2, 8000);
        QCOMPARE(x.polls().last().connection, 2);
        x.fake.push("a[\"after\"]");
        QTRY_COMPARE_WITH_TIMEOUT(x.lastFrame(), QStringLiteral("a[\"after\"]"), 5000);
        QCOMPARE(x.closed.size(), 0);
    }

    // An error status ends polling at once; a server gone for good ends it
    // after the retry limit.
    void pollingEnds_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("error status") << 404;
        QTest::newRow("server gone") << 200;
    }
    void pollingEnds()
    {
        QFETCH(int, status);
        Xhr x;
        x.fake.pollStatus = status;
        QVERIFY(x.open());
        if (status == 200) {
            QTRY_COMPARE_WITH_TIMEOUT(x.polls().size(), 2, 5000);
            x.fake.stop();
        }
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 20000);
        if (status != 200)
            QCOMPARE(x.polls().size(), 1);
    }

    // After close() no poll is made, while posts still go out.
    void closeStopsRequests()
    {
        Xhr x;
        QVERIFY(x.open());
        QTRY_COMPARE_WITH_TIMEOUT(x.polls().size(), 2, 5000);
        x.xhr.close();
        QTRY_COMPARE_WITH_TIMEOUT(x.closed.size(), 1, 5000);
        x.fake.push("a[\"late\"]");
        x.xhr.send(message("still posted"));
        QTRY_COMPARE_WITH_TIMEOUT(x.posted(), QStringList{"still posted"}, 5000);
        QCOMPARE(x.polls().size(), 2);
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
