// SockJS frame reading, the outgoing message text, the XHR worker's HTTP/1.1 response reader, the XHR request
// heads and the delivery pacer: the transports' pieces that need no network.
#include "deliverypacer_p.h"
#include "httpresponseparser_p.h"
#include "sockjsframe_p.h"
#include "xhrrequestwriter_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <thread>

using Veltro::HttpResponseParser;
using Veltro::SockJSFrame;
using Event = HttpResponseParser::Event;

namespace {

// A compact trace of the events: "H200" headers, "F:text" frame, "E" end.
QStringList trace(const QVector<Event> &events)
{
    QStringList out;
    for (const Event &e : events) {
        if (e.kind == Event::Headers)
            out << QStringLiteral("H%1").arg(e.status);
        else if (e.kind == Event::Frame)
            out << QStringLiteral("F:") + QString::fromUtf8(e.data);
        else
            out << QStringLiteral("E");
    }
    return out;
}

using Pacer = Veltro::DeliveryPacer<int>;

// A host slot that takes longer than a delivery slice.
void busy(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() <= ms) {
    }
}

QByteArray chunked(const QList<QByteArray> &chunks)
{
    QByteArray out = "HTTP/1.1 200 OK\r\nContent-Type: application/javascript; charset=UTF-8\r\n"
                     "Transfer-Encoding: chunked\r\n\r\n";
    for (const QByteArray &c : chunks)
        out += QByteArray::number(c.size(), 16) + "\r\n" + c + "\r\n";
    return out + "0\r\n\r\n";
}

} // namespace

class TestSockJSFrame : public QObject
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("closeCode");

        QTest::newRow("open") << "o" << int(SockJSFrame::Open) << QStringList() << 0;
        QTest::newRow("open with trailing text is not open") << "oo" << int(SockJSFrame::Unknown) << QStringList() << 0;
        QTest::newRow("heartbeat") << "h" << int(SockJSFrame::Heartbeat) << QStringList() << 0;
        QTest::newRow("streaming prelude") << QString(2048, QLatin1Char('h')) << int(SockJSFrame::Heartbeat)
                                           << QStringList() << 0;
        QTest::newRow("two messages in order") << "a[\"x\",\"y\"]" << int(SockJSFrame::Messages)
                                               << QStringList{"x", "y"} << 0;
        QTest::newRow("escapes and astral plane") << "a[\"q\\\"b\\\\n\\u0000\\ud83d\\ude00\\u2028\"]"
                                                  << int(SockJSFrame::Messages)
                                                  << QStringList{QStringLiteral("q\"b\\n") + QChar(0)
                                                                 + QString::fromUtf8("\xF0\x9F\x98\x80")
                                                                 + QChar(0x2028)}
                                                  << 0;
        QTest::newRow("only strings are messages") << "a[{\"body\":{\"type\":\"join\"}},\"x\",2,null,[\"y\"]]"
                                                   << int(SockJSFrame::Messages) << QStringList{"x"} << 0;
        QTest::newRow("broken JSON gives nothing") << "a[\"x\"" << int(SockJSFrame::Messages) << QStringList() << 0;
        QTest::newRow("object instead of array") << "a{}" << int(SockJSFrame::Messages) << QStringList() << 0;
        QTest::newRow("close") << "c[3000,\"Go away!\"]" << int(SockJSFrame::Close) << QStringList() << 3000;
        QTest::newRow("empty") << "" << int(SockJSFrame::Unknown) << QStringList() << 0;
        QTest::newRow("other letter") << "x[]" << int(SockJSFrame::Unknown) << QStringList() << 0;
    }

    void read()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QFETCH(QStringList, messages);
        QFETCH(int, closeCode);
        const SockJSFrame f = SockJSFrame::read(text);
        QCOMPARE(int(f.type), type);
        QCOMPARE(f.messages, messages);
        QCOMPARE(f.closeCode, closeCode);
    }

    // The exact outgoing layout; awkward characters survive encoding (and each transport, in the connector test).
    void encodeRoundTrip()
    {
        const QString message = QStringLiteral("\"q\" \\ \\\" [ x ] ") + QChar(0) + QChar(0x1F) + QChar(0x2028);
        const QString text = SockJSFrame::encode(message);
        QCOMPARE(SockJSFrame::encode(QStringLiteral("abc")), QStringLiteral("[\n    \"abc\"\n]\n"));
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &err);
        QCOMPARE(err.error, QJsonParseError::NoError);
        QCOMPARE(doc.array(), QJsonArray{message});
    }

    void responses_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("frames across chunks") << chunked({"a[\"x\"]\nh", "\na[\"y", "\"]\n"})
                                              << QStringList{"H200", "F:a[\"x\"]", "F:h", "F:a[\"y\"]", "E"};
        QTest::newRow("chunk of size 1 is data") << chunked({"o", "\n", "h"}) << QStringList{"H200", "F:o", "F:h", "E"};
        QTest::newRow("streaming prelude then open")
            << chunked({QByteArray(2048, 'h') + "\n", "o\n"})
            << QStringList{"H200", "F:" + QString(2048, QLatin1Char('h')), "F:o", "E"};
        QTest::newRow("chunk extension and trailer")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2;x=y\r\no\n\r\n0\r\nX-T: 1\r\n\r\n")
            << QStringList{"H200", "F:o", "E"};
        QTest::newRow("no content") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << QStringList{"H204", "E"};
        QTest::newRow("zero length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
                                     << QStringList{"H200", "E"};
        QTest::newRow("interim response skipped")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nh\n")
            << QStringList{"H200", "F:h", "E"};
        QTest::newRow("error status delivered") << QByteArray("HTTP/1.1 404 Not Found\r\ncontent-length: 9\r\n\r\nNot found")
                                                << QStringList{"H404", "F:Not found", "E"};
        QTest::newRow("two pipelined responses")
            << (chunked({"o\n"}) + "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\na[\"z\"]\n\n\n")
            << QStringList{"H200", "F:o", "E", "H200", "F:a[\"z\"]", "E"};
        QTest::newRow("stray bytes before status line") << ("\r\n\r\n" + chunked({"o\n"}))
                                                        << QStringList{"H200", "F:o", "E"};
        QTest::newRow("body ending like a status line, stray bytes after")
            << ("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nHT" + QByteArray("TP/x junk\r\n") + chunked({"o\n"}))
            << QStringList{"H200", "F:HT", "E", "H200", "F:o", "E"};
        QTest::newRow("body frame without trailing newline")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nh") << QStringList{"H200", "F:h", "E"};
        QTest::newRow("body until close") << QByteArray("HTTP/1.0 200 OK\r\n\r\no\nh")
                                          << QStringList{"H200", "F:o", "F:h", "E"};
    }

    // Every response reads the same whole, split at every byte and byte by byte; the close ends it cleanly.
    void responses()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        auto read = [&bytes](const QList<int> &cuts) {
            HttpResponseParser p;
            QVector<Event> ev;
            int at = 0;
            for (int cut : cuts + QList<int>{int(bytes.size())}) {
                if (!p.feed(bytes.mid(at, cut - at), &ev))
                    return QStringList{QStringLiteral("refused at %1").arg(cut)};
                at = cut;
            }
            // (only the body that ends with the connection, HTTP/1.0 here, is held open)
            if (p.hasPartialData() != bytes.startsWith("HTTP/1.0"))
                return QStringList{QStringLiteral("partial data")};
            return p.finish(&ev) ? trace(ev) : QStringList{QStringLiteral("finish refused")};
        };
        QCOMPARE(read({}), expected);
        QList<int> each;
        for (int cut = 1; cut < bytes.size(); ++cut) {
            each << cut;
            const QStringList got = read({cut});
            if (got != expected)
                QFAIL(qPrintable(QStringLiteral("split at %1: %2").arg(cut).arg(got.join(QLatin1Char('|')))));
        }
        QCOMPARE(read(each), expected);
    }

    void headerFields()
    {
        HttpResponseParser p;
        QVector<Event> ev;
        QVERIFY(p.feed(QByteArray("HTTP/1.1 200 OK\r\nSet-Cookie: A=1; Path=/\r\nSet-Cookie: B=2\r\n"
                                  "transfer-encoding: gzip, chunked\r\nX-Empty:\r\nno colon line\r\n\r\n"),
                       &ev));
        QCOMPARE(ev.size(), 1);
        QVERIFY(ev[0].chunked);
        QCOMPARE(ev[0].headers.value("Set-Cookie"), QStringLiteral("A=1; Path=/\nB=2"));
        QCOMPARE(ev[0].headers.value("X-Empty"), QString(""));
        QVERIFY(p.inResponse());
        QVERIFY(!p.hasPartialData());   // a stream waiting for its next chunk is not stuck
    }

    // A body the connection ends short of its length is refused.
    void bodyCutShort()
    {
        HttpResponseParser p;
        QVector<Event> ev;
        QVERIFY(p.feed(QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab"), &ev));
        QVERIFY(p.hasPartialData());
        QVERIFY(!p.finish(&ev));
    }

    void protocolErrors_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        QTest::newRow("chunk size not hex") << head + "zz\r\nab\r\n";
        QTest::newRow("chunk size overflows") << head + "fffffffffffffffffffffff\r\n";
        QTest::newRow("chunk size beyond the cap") << head + "7fffffffffffffff\r\n";
        QTest::newRow("chunk size line without end") << head + QByteArray(2000, '1');
        QTest::newRow("chunk not followed by line end") << head + "2\r\nabXY";
        QTest::newRow("bad content length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n");
        QTest::newRow("malformed status line") << QByteArray("HTTP/1.1 OK\r\n\r\n");
        QTest::newRow("header block over the cap")
            << "HTTP/1.1 200 OK\r\nX: " + QByteArray(HttpResponseParser::MAX_HEADER_BYTES + 10, 'a');
        QTest::newRow("frame over the bound") << "HTTP/1.0 200 OK\r\n\r\n" + QByteArray(70 * 1024, 'a') + '\n';
    }

    // Refused whole or trickling in; the memory is given back and nothing is read until reset().
    void protocolErrors()
    {
        QFETCH(QByteArray, bytes);
        for (int block : {int(bytes.size()), 1024}) {
            HttpResponseParser p;
            p.setMaxFrameBytes(64 * 1024);
            QVector<Event> ev;
            bool ok = true;
            for (int sent = 0; ok && sent < bytes.size(); sent += block)
                ok = p.feed(bytes.mid(sent, block), &ev);
            QVERIFY(!ok);
            QVERIFY(!p.errorString().isEmpty());
            QVERIFY(!trace(ev).join(QLatin1Char('|')).contains(QLatin1String("F:")));
            QVERIFY(p.pendingBytes().isEmpty());
            QVERIFY(!p.feed(QByteArray("HTTP/1.1 204 x\r\n\r\n"), &ev));
            p.reset();
            ev.clear();
            QVERIFY(p.feed(QByteArray("HTTP/1.1 204 x\r\n\r\n"), &ev));
            QCOMPARE(trace(ev), (QStringList{"H204", "E"}));
        }
    }

    // The request heads byte for byte: the Host header names the port unless it is the scheme's default, and
    // no value can add a line.
    void requestHead_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("useSsl");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("cookies");
        QTest::addColumn<QString>("expected");
        const QString tail = QStringLiteral("Connection: keep-alive\r\nAccept-Encoding: identity\r\n"
                                            "Content-Type: application/json\r\nContent-Length: 7\r\n");
        QTest::newRow("http default port") << "h" << 80 << false << "/s/xhr" << ""
                                           << "POST /s/xhr HTTP/1.1\r\nHost: h\r\n" + tail + "\r\n";
        QTest::newRow("https default port") << "h" << 443 << true << "/s/xhr" << ""
                                            << "POST /s/xhr HTTP/1.1\r\nHost: h\r\n" + tail + "\r\n";
        QTest::newRow("other port") << "h" << 8080 << false << "/s/xhr" << "X=1; "
                                    << "POST /s/xhr HTTP/1.1\r\nHost: h:8080\r\n" + tail + "Cookie: X=1; \r\n\r\n";
        QTest::newRow("https on 80") << "h" << 80 << true << "/s/xhr" << ""
                                     << "POST /s/xhr HTTP/1.1\r\nHost: h:80\r\n" + tail + "\r\n";
        QTest::newRow("IPv6") << "::1" << 8080 << false << "/s/xhr" << ""
                              << "POST /s/xhr HTTP/1.1\r\nHost: [::1]:8080\r\n" + tail + "\r\n";
        QTest::newRow("no line smuggled") << "h" << 80 << false << "/s x\r\nEvil: 1" << "a=b\r\nEvil: 2"
                                          << "POST /s%20xEvil:%201 HTTP/1.1\r\nHost: h\r\n" + tail
                                                 + "Cookie: a=bEvil: 2\r\n\r\n";
    }
    void requestHead()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, useSsl);
        QFETCH(QString, path);
        QFETCH(QString, cookies);
        QFETCH(QString, expected);
        Veltro::XhrRequestHead head;
        head.host = host;
        head.port = port;
        head.useSsl = useSsl;
        head.path = path;
        head.cookies = cookies;
        head.contentLength = 7;
        QCOMPARE(Veltro::writeXhrRequestHead(head), expected);
    }

    // Items come out in order, only from the event loop, a slice at a time, never nested in a handler's own
    // event loop; pushed from another thread alike; a handler may delete the pacer.
    void pacerOrder()
    {
        QList<int> got;
        int depth = 0;
        bool nested = false;
        Pacer *pacer = nullptr;
        pacer = new Pacer(nullptr, [&](int &&i) {
            nested = nested || depth > 0;
            ++depth;
            got << i;
            if (i < 3)
                busy(Pacer::SLICE_MS);
            if (i == 1)
                QCoreApplication::processEvents();   // a host slot with an event loop of its own
            --depth;
            if (i == 2999)
                delete pacer;   // last: this handler goes with it
        });
        for (int i = 0; i < 3; ++i)
            QVERIFY(pacer->push(int(i)));
        QVERIFY(got.isEmpty());
        // Each slow item uses up its slice: one item per turn of the event loop.
        for (int turn = 1; turn <= 3; ++turn) {
            QCoreApplication::sendPostedEvents();
            QCOMPARE(got.size(), turn);
        }
        std::thread producer([pacer] {
            for (int i = 3; i < 3000; ++i)
                pacer->push(int(i));
        });
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), 3000, 10000);
        producer.join();
        QVERIFY(!nested);
        for (int i = 0; i < got.size(); ++i)
            QCOMPARE(got.at(i), i);
    }

    // One budget for two pacers: an item that would cross it is refused; what is delivered or taken back frees it.
    void pacerBound()
    {
        auto budget = std::make_shared<Veltro::BacklogBudget>(100);
        QList<int> got;
        Pacer a(nullptr, [&](int &&i) { got << i; }, budget);
        Pacer b(nullptr, [&](int &&i) { got << i; }, budget);
        QVERIFY(a.push(1, 40));
        QVERIFY(b.push(2, 40));
        QVERIFY(!a.push(3, 40));
        QVERIFY(a.push(4, 20));
        QCOMPARE(budget->used(), qint64(100));
        QCOMPARE(b.takeAll().size(), size_t(1));
        QCOMPARE(budget->used(), qint64(60));
        QTRY_COMPARE_WITH_TIMEOUT(got, (QList<int>{1, 4}), 5000);
        QCOMPARE(budget->used(), qint64(0));
        QVERIFY(b.push(5, 100));
        QVERIFY(!b.push(6, 1));
    }

    void junkIsBounded()
    {
        HttpResponseParser p;
        QVector<Event> ev;
        for (int i = 0; i < 100; ++i)
            QVERIFY(p.feed(QByteArray(4096, 'x') + "HTT", &ev));
        QVERIFY(p.pendingBytes().size() <= 4);
        QVERIFY(p.feed(QByteArray("P/1.1 204 x\r\n\r\n"), &ev));
        QCOMPARE(trace(ev), (QStringList{"H204", "E"}));
    }
};

QTEST_GUILESS_MAIN(TestSockJSFrame)
#include "tst_sockjsframe.moc"
