// Round-trip latency and burst rate of our three SockJS transports against
// the stand-in's echo endpoint, next to the devices' sockjs-client (under
// Node) on the same three transports, in the same run. Build in Release with
// -DVELTRO_BUILD_BENCH=ON; run
//   build/<dir>/bench/transport/bench_transport [--rounds N] [--warmup N] [--burst N]
//                                              [--only websocket|xhr-streaming|xhr-polling] [--peer 0]
// It starts its own stand-in (node sim/server.js) and prints a table and the
// target ratios.
#include "measure.h"
#include "sockjsconnector.h"
#include "standin.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

struct Result
{
    QString name;
    int size = 0;
    double median = 0;   // microseconds
    double p99 = 0;
    double rate = 0;     // messages per second
    bool ok = false;
};

Result measure(const QString &url, SockJSProtocol protocol, const QString &name, int size, int rounds,
               int warmup, int burst)
{
    Result r;
    r.name = name;
    r.size = size;
    SockJSConnector c(nullptr);
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&c, &SockJSConnector::connected, &loop, &QEventLoop::quit);
    limit.start(30000);
    c.open(QUrl(url), {protocol});
    if (!c.isConnected())
        loop.exec();
    if (!c.isConnected())
        return r;

    const QString msg(size, QLatin1Char('x'));
    std::vector<double> times;
    times.reserve(size_t(rounds));
    QElapsedTimer clock;
    int n = 0;
    int got = 0;
    bool bursting = false;
    qint64 burstStart = 0;
    double burstSecs = 0;
    QObject::connect(&c, &SockJSConnector::sockJSMessage, &loop, [&](const QString &) {
        if (!bursting) {
            const double us = double(clock.nsecsElapsed()) / 1000.0;
            if (n >= warmup)
                times.push_back(us);
            if (++n < warmup + rounds) {
                clock.restart();
                c.send(msg, false);
                return;
            }
            bursting = true;
            burstStart = clock.nsecsElapsed();
            for (int i = 0; i < burst; ++i)
                c.send(msg, false);
            return;
        }
        if (++got == burst) {
            burstSecs = double(clock.nsecsElapsed() - burstStart) / 1e9;
            loop.quit();
        }
    });
    limit.start(300000);
    clock.start();
    c.send(msg, false);
    loop.exec();
    c.close();
    if (got != burst)
        return r;
    r.median = percentile(times, 0.5);
    r.p99 = percentile(times, 0.99);
    r.rate = burst / burstSecs;
    r.ok = true;
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    quietLibraryLogging();
    int rounds = 1000, warmup = 100, burst = 2000;
    QString only; // e.g. "xhr-streaming": our transports and peers of that name only
    bool withPeer = true; // --peer 0 leaves the peer out (for profiling our side)
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--only"))
            only = args[i + 1];
        else if (args[i] == QLatin1String("--peer"))
            withPeer = args[i + 1] != QLatin1String("0");
        else if (args[i] == QLatin1String("--rounds"))
            rounds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--warmup"))
            warmup = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--burst"))
            burst = args[i + 1].toInt();
    }
    const auto standin = StandIn::launch();
    const QString echo = standin ? standin->echoUrl() : QString();
    if (echo.isEmpty()) {
        std::fprintf(stderr, "stand-in did not start\n");
        return 1;
    }

    QList<Result> results;
    const QList<QPair<SockJSProtocol, QString>> transports = {
        {WEBSOCKET, QStringLiteral("websocket")},
        {XHR_STREAMING, QStringLiteral("xhr-streaming")},
        {XHR_POLLING, QStringLiteral("xhr-polling")}};
    for (int size : {64, 4096}) {
        for (const auto &tr : transports) {
            if (only.isEmpty() || only == tr.second)
                results << measure(echo, tr.first, QStringLiteral("ours ") + tr.second, size, rounds, warmup, burst);
        }
    }

    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (withPeer)
        peer.start(nodeProgram(), {sourcePath(QStringLiteral("bench/transport/peer_sockjs_client.js")),
                                   sourcePath(QStringLiteral("sim")), echo, QString::number(rounds),
                                   QString::number(warmup), QString::number(burst), only});
    peer.waitForFinished(600000);
    for (const QByteArray &line : peer.readAllStandardOutput().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.isEmpty())
            continue;
        Result r;
        r.name = o.value(QStringLiteral("name")).toString();
        r.size = o.value(QStringLiteral("size")).toInt();
        r.median = o.value(QStringLiteral("median")).toDouble();
        r.p99 = o.value(QStringLiteral("p99")).toDouble();
        r.rate = o.value(QStringLiteral("rate")).toDouble();
        r.ok = true;
        results << r;
    }
    QTextStream out(stdout);
    out << QStringLiteral("| transport | size | median us | p99 us | burst msgs/s |\n|---|---|---|---|---|\n");
    for (const Result &r : qAsConst(results)) {
        if (!r.ok)
            out << "| " << r.name << " | " << r.size << " | failed | | |\n";
        else
            out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 |\n").arg(r.name).arg(r.size)
                       .arg(r.median, 0, 'f', 1).arg(r.p99, 0, 'f', 1)
                       .arg(r.rate > 0 ? QString::number(r.rate, 'f', 0) : QStringLiteral("-"));
    }
    auto find = [&](const QString &name, int size, bool rate = false) {
        for (const Result &r : qAsConst(results)) {
            if (r.name == name && r.size == size && r.ok)
                return rate ? r.rate : r.median;
        }
        return 0.0;
    };
    // One line per target: the ratio, the bound and whether it is met; a
    // target whose rows were not measured (--only, a failed row) counts as not met.
    bool pass = true;
    auto target = [&](const QString &what, double num, double den, bool atMost, double bound) {
        const double ratio = num > 0 && den > 0 ? num / den : 0;
        const bool met = ratio > 0 && (atMost ? ratio <= bound : ratio >= bound);
        pass = pass && met;
        out << QStringLiteral("%1 = %2 (target %3 %4): %5\n")
                   .arg(what)
                   .arg(ratio, 0, 'f', 2)
                   .arg(atMost ? QStringLiteral("<=") : QStringLiteral(">="))
                   .arg(bound)
                   .arg(met ? QStringLiteral("met") : QStringLiteral("NOT met"));
    };
    for (int size : {64, 4096}) {
        const QString at = QStringLiteral(" at %1 B").arg(size);
        const double ws = find(QStringLiteral("ours websocket"), size);
        target(QStringLiteral("median ours websocket / sockjs-client websocket") + at, ws,
               find(QStringLiteral("sockjs-client websocket"), size), true, 1.2);
        for (const QString &xhr : {QStringLiteral("xhr-streaming"), QStringLiteral("xhr-polling")}) {
            const double ours = find(QStringLiteral("ours ") + xhr, size);
            target(QStringLiteral("median ours %1 / ours websocket").arg(xhr) + at, ours, ws, true, 3);
            target(QStringLiteral("median ours %1 / sockjs-client %1").arg(xhr) + at, ours,
                   find(QStringLiteral("sockjs-client ") + xhr, size), true, 0.5);
        }
    }
    const double streamingBurst = find(QStringLiteral("ours xhr-streaming"), 4096, true);
    target(QStringLiteral("burst ours xhr-streaming / ours websocket at 4096 B"), streamingBurst,
           find(QStringLiteral("ours websocket"), 4096, true), false, 0.5);
    target(QStringLiteral("burst ours xhr-streaming / ours xhr-polling at 4096 B"), streamingBurst,
           find(QStringLiteral("ours xhr-polling"), 4096, true), false, 1);
    out << (pass ? "targets met\n" : "targets NOT met\n");
    return 0;
}
