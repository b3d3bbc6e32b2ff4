// Peak resident memory and time of the library facing one hostile input at a
// time. Without arguments it prepares every input, runs each row in a child
// process (so each peak is that row's alone) and prints a table; with
//   bench_hostile --row NAME DIR
// it runs one row on the input prepared in DIR. Build in Release:
//   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVELTRO_BUILD_BENCH=ON -DVELTRO_BUILD_TESTS=OFF
//   cmake --build build/bench --target bench_hostile && build/bench/bench/hostile/bench_hostile
// The target: every peak below 256 MiB. Rows are listed in rows(); a row has
// an optional prepare step (parent) and a run step (child) returning what the
// library did.
#include "collaborationmessagehandler.h"
#include "fakeservice.h"
#include "fakesockjsserver.h"
#include "lzmacodec.h"
#include "measure.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "sockjsconnector.h"
#include "testdata.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include <zlib.h>

namespace {

constexpr qint64 MiB = 1024 * 1024;

// The rows' peer is the SockJS fake; they frame its flood themselves.
constexpr auto wsFrameHeader = &FakeSockJSServer::wsFrameHeader;
constexpr auto httpChunk = &FakeSockJSServer::httpChunk;

// Raw bytes for the peer's first receive connection (WebSocket or XHR stream), after its open frame: `head`,
// then `count` copies of `chunk`, then `tail`, framed by the row for its transport.
struct Flood
{
    QByteArray head, chunk, tail;
    qint64 count = 0;
};

// Writes `flood` to `s`, each chunk once the socket has less than 4 MiB to send, so hundreds of MiB go out while
// little is held; `started` once the head is handed over.
void startFlood(QTcpSocket *s, const Flood &flood, const std::function<void()> &started)
{
    s->write(flood.head);
    started();
    auto sent = std::make_shared<qint64>(0);
    auto pump = [s, flood, sent] {
        while (*sent < flood.count && s->bytesToWrite() < 4 * MiB) {
            s->write(flood.chunk);
            if (++*sent == flood.count)
                s->write(flood.tail);
        }
    };
    QObject::connect(s, &QTcpSocket::bytesWritten, s, pump);
    if (flood.count == 0)
        s->write(flood.tail);
    pump();
}

// Requests that opened a receive side: WebSocket upgrades, XHR streams and polls.
int receiveRequests(const FakeSockJSServer &peer)
{
    return int(std::count_if(peer.requests.begin(), peer.requests.end(), [](const FakeSockJSServer::Request &r) {
        return r.path.endsWith("/websocket") || r.path.endsWith("/xhr_streaming") || r.path.endsWith("/xhr");
    }));
}

// CPU time used so far: on a shared machine the wall-clock stall overstates it.
qint64 cpuMs()
{
    return qint64(processCpuSeconds() * 1000);
}

// Pseudo-random letters: compresses to about three quarters of its size.
QByteArray letters(qint64 n, quint32 seed = 1)
{
    QByteArray out(int(n), Qt::Uninitialized);
    for (char &c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = char('a' + (seed >> 24) % 26);
    }
    return out;
}

QByteArray compressed(const QByteArray &text)
{
    QString b64;
    LzmaCompress64(QString::fromLatin1(text), &b64);
    return b64.toLatin1();
}

// An event-bus frame as the server delivers it, with `data` as raw JSON.
QByteArray busFrame(const QByteArray &type, const QByteArray &data)
{
    return R"({"type":"rec","address":"S1.presenter","body":{"type":")" + type + R"(","from":"dev-1","data":)"
        + data + "}}";
}

QByteArray gzipOfZeros(qint64 n)
{
    z_stream s{};
    deflateInit2(&s, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    const QByteArray chunk(int(MiB), '\0');
    QByteArray out;
    QByteArray buf(int(MiB), Qt::Uninitialized);
    for (qint64 done = 0; done < n; done += MiB) {
        s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(chunk.constData()));
        s.avail_in = uInt(chunk.size());
        const int flush = done + MiB >= n ? Z_FINISH : Z_NO_FLUSH;
        do {
            s.next_out = reinterpret_cast<Bytef *>(buf.data());
            s.avail_out = uInt(buf.size());
            deflate(&s, flush);
            out += buf.left(buf.size() - int(s.avail_out));
        } while (s.avail_out == 0);
    }
    deflateEnd(&s);
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Feeds one bus frame (read from DIR/<row>) to a message handler; reports what it emitted.
QString runFrame(const QString &path)
{
    const QString frame = QString::fromUtf8(readFile(path));
    CollaborationMessageHandler handler;
    QString outcome = QStringLiteral("nothing emitted");
    QObject::connect(&handler, &CollaborationMessageHandler::learnerJoin, [&](const Veltro::Learner &l) {
        outcome = QStringLiteral("join, name of %1 characters").arg(l.userName.size());
    });
    QMetaObject::invokeMethod(&handler, "onHandleMessage", Qt::DirectConnection, Q_ARG(QString, frame));
    return outcome;
}

// A service that answers every request with `head` followed by `bodySize`
// bytes produced a chunk at a time (from `chunk`, repeated), so the server
// side holds no more than a few MiB whatever it sends.
QString runRest(const QByteArray &head, qint64 bodySize, const QByteArray &body = QByteArray())
{
    FakeService service;
    const QByteArray chunk = body.isEmpty() ? QByteArray(int(MiB), 'x') : QByteArray();
    service.handler = [&](const FakeService::Request &, QTcpSocket *s) {
        auto sent = std::make_shared<qint64>(0);
        auto pump = [s, sent, bodySize, chunk] {
            while (*sent < bodySize && s->bytesToWrite() < 4 * MiB) {
                const qint64 n = qMin<qint64>(chunk.size(), bodySize - *sent);
                s->write(chunk.constData(), n);
                *sent += n;
            }
            if (*sent >= bodySize && s->bytesToWrite() == 0)
                s->disconnectFromHost();
        };
        QObject::connect(s, &QTcpSocket::bytesWritten, s, pump);
        s->write(head);
        if (!body.isEmpty())
            s->write(body);
        pump();
        return QByteArray();   // written above
    };
    PresenterClient client(nullptr, service.url());
    const QString name = client.doGetUserName();
    return QStringLiteral("user \"%1\", error %2").arg(name.left(20), client.getLastError());
}

// One collaboration session on `transport` against a peer sending what
// `setUp` gives it: reports the messages and joins delivered, how it ended,
// and the longest the event loop went without a turn.
QString runCollab(const QString &transport, int expected, const std::function<void(Flood &)> &setUp)
{
    FakeSockJSServer peer(FakeSockJSServer::WebSocketMode::Open);
    Flood flood;
    setUp(flood);
    PresenterCollab collab(nullptr, peer.url(QStringLiteral("/collab")), QStringLiteral("C1"), QStringLiteral("S1"),
                           QStringLiteral("presenter-1"));
    auto *connector = collab.findChild<SockJSConnector *>();
    int messages = 0, joins = 0;
    bool closed = false;
    QObject::connect(connector, &SockJSConnector::sockJSMessage, [&] { ++messages; });
    QObject::connect(&collab, &PresenterCollab::learnerJoin, [&] { ++joins; });
    QObject::connect(&collab, &PresenterCollab::connectionClosed, [&] { closed = true; });
    QElapsedTimer t;
    QElapsedTimer sinceTick;
    qint64 longestBlock = 0;
    // The peer shares this thread: the time it takes to hand over its bytes is not the library's.
    peer.receiving = [&](QTcpSocket *s) { startFlood(s, flood, [&] { sinceTick.restart(); }); };
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestBlock = qMax(longestBlock, sinceTick.restart());
    });
    t.start();
    sinceTick.start();
    tick.start(1);
    collab.open({transport});
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if ((expected > 0 && messages >= expected) || closed || receiveRequests(peer) > 1 || t.elapsed() > 120000)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    const QString end = closed ? QStringLiteral("connection dropped") : receiveRequests(peer) > 1
        ? QStringLiteral("receive connection opened again") : messages >= expected ? QStringLiteral("delivered")
                                                                              : QStringLiteral("timed out");
    return QStringLiteral("%1 after %2 ms; %3 messages, %4 joins; longest loop block %5 ms")
        .arg(end).arg(t.elapsed()).arg(messages).arg(joins).arg(longestBlock);
}

// A SockJS "a" frame of empty messages, `size` bytes long: the most list
// entries a frame of that size can carry.
QByteArray tinyMessagesFrame(qint64 size)
{
    QByteArray f = "a[\"\"";
    f.reserve(int(size));
    while (f.size() + 4 <= size)
        f += ",\"\"";
    return f + ']';
}

qint64 tinyMessagesCount(qint64 size)
{
    qint64 n = 1;
    for (qint64 at = 4; at + 4 <= size; at += 3)
        ++n;
    return n;
}

// A SockJS "a" frame holding event-bus frames (JSON-escaped as strings).
QByteArray messagesFrame(const QList<QByteArray> &busFrames)
{
    QByteArray f = "a[";
    for (const QByteArray &b : busFrames) {
        if (f.size() > 2)
            f += ',';
        f += '"' + QByteArray(b).replace('"', "\\\"") + '"';
    }
    return f + ']';
}

// A join whose payload (random letters, compressed) fills a frame of just
// under `size` bytes.
QByteArray joinFrameOfSize(qint64 size)
{
    qint64 n = size;
    for (;;) {
        const QByteArray user = R"({"userName":")" + letters(n) + R"(","deviceType":"tablet"})";
        const QByteArray frame = messagesFrame({busFrame("join", '"' + compressed(user) + '"')});
        if (frame.size() <= size)
            return frame;
        n -= frame.size() - size + 1024;
    }
}

struct Row
{
    QString name;
    QString input;
    std::function<void(const QString &dir)> prepare; // in the parent
    std::function<QString(const QString &dir)> run;  // in the child
};

QList<Row> rows()
{
    auto frameRow = [](const QString &name, const QString &input, std::function<QByteArray()> make) {
        return Row{name, input, [name, make](const QString &dir) { writeFile(dir + QLatin1Char('/') + name, make()); },
                   [name](const QString &dir) { return runFrame(dir + QLatin1Char('/') + name); }};
    };
    // A name of one repeated letter: kilobytes on the wire, megabytes restored.
    auto userJson = [](qint64 nameSize) -> QByteArray {
        return R"({"userName":")" + QByteArray(int(nameSize), 'a') + R"(","deviceType":"tablet"})";
    };
    QList<Row> out;
    out << Row{QStringLiteral("rest-200MB-declared"), QStringLiteral("REST answer of 200 MB with its length"), {},
               [](const QString &) {
                   return runRest("HTTP/1.1 200 OK\r\nContent-Length: 209715200\r\n\r\n", 200 * MiB);
               }};
    out << Row{QStringLiteral("rest-200MB-undeclared"), QStringLiteral("REST answer of 200 MB up to the close"), {},
               [](const QString &) { return runRest("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", 200 * MiB); }};
    out << Row{QStringLiteral("rest-gzip-bomb"), QStringLiteral("REST answer gzip, inflating to 200 MB"),
               [](const QString &dir) { writeFile(dir + QStringLiteral("/rest-gzip-bomb"), gzipOfZeros(200 * MiB)); },
               [](const QString &dir) {
                   const QByteArray gz = readFile(dir + QStringLiteral("/rest-gzip-bomb"));
                   return runRest("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: "
                                      + QByteArray::number(gz.size()) + "\r\n\r\n",
                                  0, gz);
               }};
    out << frameRow(QStringLiteral("bytelist-10M"), QStringLiteral("join, data a list of 10 million byte values"), [] {
        // A valid payload of about 10 million bytes (random letters restore to 13.5 MB).
        return busFrame("join", byteListText(QByteArray::fromBase64(compressed(letters(13500000))), true).toLatin1());
    });
    out << frameRow(QStringLiteral("bytelist-17M"), QStringLiteral("join, data a list of 17 million byte values"), [] {
        return busFrame("join", byteListText(letters(17 * 1000 * 1000), true).toLatin1());
    });
    out << frameRow(QStringLiteral("lzma-bomb-60MiB"), QStringLiteral("join, 9 KB payload restoring to 60 MiB"),
                    [userJson] { return busFrame("join", '"' + compressed(userJson(60 * MiB)) + '"'); });
    out << frameRow(QStringLiteral("lzma-at-cap"), QStringLiteral("join, payload restoring to just under 16 MiB"),
                    [userJson] { return busFrame("join", '"' + compressed(userJson(16 * MiB - 64)) + '"'); });
    out << frameRow(QStringLiteral("pieces-bomb"), QStringLiteral("join, 8 small pieces restoring to 15 MiB each"), [] {
        const QByteArray piece = '"' + compressed(QByteArray(int(15 * MiB), 'b')) + '"';
        QByteArray list = "[" + piece;
        for (int i = 1; i < 8; ++i)
            list += ',' + piece;
        return busFrame("join", list + ']');
    });

    // The live connection: frames over the bound, frames just under it, a burst.
    const qint64 cap = SockJSConnector::DEFAULT_MAX_FRAME_SIZE;
    auto transportRow = [](const QString &name, const QString &input, const QString &transport, int expected,
                           std::function<void(Flood &, const QString &dir)> setUp,
                           std::function<void(const QString &dir)> prepare = {}) {
        return Row{name, input, prepare, [=](const QString &dir) {
                       return runCollab(transport, expected, [&](Flood &p) { setUp(p, dir); });
                   }};
    };
    const QString ws = QStringLiteral("websocket"), xhr = QStringLiteral("xhr-streaming");
    out << transportRow(QStringLiteral("ws-200MB-frame"), QStringLiteral("WebSocket text frame of 200 MB"), ws, 0,
                        [](Flood &p, const QString &) {
                            p.head = wsFrameHeader(1, true, 200 * MiB);
                            p.chunk = QByteArray(int(MiB), 'x');
                            p.count = 200;
                        });
    out << transportRow(QStringLiteral("ws-100MB-a-frame"),
                        QStringLiteral("\"a\" frame of 100 MB on WebSocket, 1 MiB fragments"), ws, 0,
                        [](Flood &p, const QString &) {
                            p.head = wsFrameHeader(1, false, 3) + "a[\"";
                            p.chunk = wsFrameHeader(0, false, MiB) + QByteArray(int(MiB), 'x');
                            p.count = 100;
                            p.tail = wsFrameHeader(0, true, 2) + "\"]";
                        });
    out << transportRow(QStringLiteral("xhr-100MB-a-frame"), QStringLiteral("\"a\" frame of 100 MB on XHR streaming"),
                        xhr, 0, [](Flood &p, const QString &) {
                            p.head = httpChunk("a[\"");
                            p.chunk = httpChunk(QByteArray(int(MiB), 'x'));
                            p.count = 100;
                            p.tail = httpChunk("\"]\n");
                        });
    const QList<QPair<QString, QString>> both{{ws, QStringLiteral("ws")}, {xhr, QStringLiteral("xhr")}};
    for (const auto &t : both) {
        const QString tiny = t.second + QStringLiteral("-cap-tiny");
        const QString join = t.second + QStringLiteral("-cap-join");
        const bool onWs = t.first == ws;
        auto frameHead = [onWs](const QByteArray &frame) {
            return onWs ? wsFrameHeader(1, true, frame.size()) + frame : httpChunk(frame + '\n');
        };
        out << transportRow(tiny, QStringLiteral("\"a\" frame of empty messages, just under the bound, ") + t.second,
                            t.first, int(tinyMessagesCount(cap - 64)), [cap, frameHead](Flood &p, const QString &) {
                                p.head = frameHead(tinyMessagesFrame(cap - 64));
                            });
        out << transportRow(join, QStringLiteral("join filling a frame just under the bound, ") + t.second, t.first, 1,
                            [join, frameHead](Flood &p, const QString &dir) {
                                p.head = frameHead(readFile(dir + QLatin1Char('/') + join));
                            },
                            [join, cap](const QString &dir) { writeFile(dir + QLatin1Char('/') + join, joinFrameOfSize(cap - 64)); });
    }
    out << transportRow(QStringLiteral("xhr-burst-100k"), QStringLiteral("100,000 joins in a burst on XHR streaming"),
                        xhr, 100000, [](Flood &p, const QString &dir) {
                            p.head = readFile(dir + QStringLiteral("/xhr-burst-100k"));
                        },
                        [](const QString &dir) {
                            const QByteArray payload = '"' + compressed(R"({"userName":"Ann","deviceType":"tablet"})") + '"';
                            // 1,000 frames of 100 messages, as a server flushes a backlog.
                            QByteArray all;
                            for (int f = 0; f < 1000; ++f) {
                                QList<QByteArray> frames;
                                for (int i = f * 100; i < (f + 1) * 100; ++i)
                                    frames << busFrame("join", payload).replace("dev-1", QByteArray("dev-" + QByteArray::number(i)));
                                all += httpChunk(messagesFrame(frames) + '\n');
                            }
                            writeFile(dir + QStringLiteral("/xhr-burst-100k"), all);
                        });
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    quietLibraryLogging();
    const QStringList args = app.arguments();
    const QList<Row> all = rows();

    if (args.size() == 4 && args.at(1) == QLatin1String("--row")) {
        for (const Row &r : all) {
            if (r.name != args.at(2))
                continue;
            const double before = peakRssMiB();
            const qint64 cpuBefore = cpuMs();
            QElapsedTimer t;
            t.start();
            const QString outcome = r.run(args.at(3));
            std::printf("%.1f\t%.1f\t%lld\t%lld\t%s\n", before, peakRssMiB(), qint64(t.elapsed()),
                        cpuMs() - cpuBefore, qPrintable(outcome));
            return 0;
        }
        return 2;
    }

    QTemporaryDir dir;
    std::printf("%-22s %-46s %9s %9s %8s %8s  %s\n", "row", "input", "start MiB", "peak MiB", "wall ms", "cpu ms",
                "what the library did");
    for (const Row &r : all) {
        if (r.prepare)
            r.prepare(dir.path());
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(app.applicationFilePath(), {QStringLiteral("--row"), r.name, dir.path()});
        child.waitForFinished(600000);
        const QStringList f = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char('\t'));
        QFile::remove(dir.path() + QLatin1Char('/') + r.name);
        if (f.size() < 5) {
            std::printf("%-22s %-46s failed (exit %d)\n", qPrintable(r.name), qPrintable(r.input), child.exitCode());
            continue;
        }
        std::printf("%-22s %-46s %9s %9s %8s %8s  %s\n", qPrintable(r.name), qPrintable(r.input), qPrintable(f.at(0)),
                    qPrintable(f.at(1)), qPrintable(f.at(2)), qPrintable(f.at(3)), qPrintable(f.at(4)));
        std::fflush(stdout);
    }
    return 0;
}
