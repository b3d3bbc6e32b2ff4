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
#include "lzmacodec.h"
#include "presenterclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <functional>
#include <memory>

#include <zlib.h>

namespace {

constexpr qint64 MiB = 1024 * 1024;

double peakRssMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
}

// CPU time used so far: on a shared machine the wall-clock stall overstates it.
qint64 cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return qint64(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
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

// The payload bytes as a JSON list of signed byte values.
QByteArray byteList(const QByteArray &payload)
{
    QByteArray out;
    out.reserve(payload.size() * 5);
    out += '[';
    for (int i = 0; i < payload.size(); ++i) {
        if (i)
            out += ',';
        out += QByteArray::number(int(qint8(payload.at(i))));
    }
    out += ']';
    return out;
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
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const QByteArray chunk = body.isEmpty() ? QByteArray(int(MiB), 'x') : QByteArray();
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *s = server.nextPendingConnection();
        auto sent = std::make_shared<qint64>(0);
        auto request = std::make_shared<QByteArray>();
        auto pump = [s, sent, bodySize, chunk] {
            while (*sent < bodySize && s->bytesToWrite() < 4 * MiB) {
                const qint64 n = qMin<qint64>(chunk.size(), bodySize - *sent);
                s->write(chunk.constData(), n);
                *sent += n;
            }
            if (*sent >= bodySize && s->bytesToWrite() == 0)
                s->disconnectFromHost();
        };
        QObject::connect(s, &QTcpSocket::readyRead, [s, request, head, body, pump] {
            *request += s->readAll();
            if (!request->contains("\r\n\r\n") || request->isEmpty())
                return;
            request->clear();
            s->write(head);
            if (!body.isEmpty())
                s->write(body);
            pump();
        });
        QObject::connect(s, &QTcpSocket::bytesWritten, pump);
    });
    PresenterClient client(nullptr, QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()));
    const QString name = client.doGetUserName();
    return QStringLiteral("user \"%1\", error %2").arg(name.left(20), client.getLastError());
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
        return busFrame("join", byteList(QByteArray::fromBase64(compressed(letters(13500000)))));
    });
    out << frameRow(QStringLiteral("bytelist-17M"), QStringLiteral("join, data a list of 17 million byte values"), [] {
        return busFrame("join", byteList(letters(17 * 1000 * 1000)));
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
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("veltro.*.debug=false"));
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
