// Latency of PresenterClient's blocking REST calls against the stand-in,
// next to Node's own HTTP client (one kept-alive connection) posting the same
// bodies with the same headers to the same stand-in in the same run. Build in
// Release with -DVELTRO_BUILD_BENCH=ON; run
//   build/<dir>/bench/rest/bench_rest [--rounds N] [--warmup N] [--upload-rounds N] [--tls]
// It starts its own stand-in (node sim/server.js), prints a table of medians
// and 99th percentiles, each call's ratio to the peer and whether the target
// (median at most 1.5 times the peer's) is met. Never a test.
#include "presentercollab.h"
#include "presenterclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Result
{
    QString name;
    int n = 0;
    double median = 0; // microseconds
    double p99 = 0;
};

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(double(v.size()) * q))];
}

// Times `call` (which returns the microseconds it measured itself, or a
// negative value on failure) `warmup + rounds` times, `before` and `after`
// untimed around each.
Result timed(const QString &name, int rounds, int warmup, const std::function<double()> &call,
             const std::function<void()> &before = {}, const std::function<void()> &after = {})
{
    std::vector<double> times;
    for (int i = 0; i < warmup + rounds; ++i) {
        if (before)
            before();
        const double us = call();
        if (after)
            after();
        if (us < 0) {
            std::fprintf(stderr, "%s failed\n", qPrintable(name));
            return Result{name, 0, 0, 0};
        }
        if (i >= warmup)
            times.push_back(us);
    }
    return Result{name, int(times.size()), percentile(times, 0.5), percentile(times, 0.99)};
}

double usSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("veltro.*.debug=false"));
    int rounds = 200, warmup = 20, uploadRounds = 30;
    bool tls = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (args[i] == QLatin1String("--rounds"))
            rounds = next.toInt(), ++i;
        else if (args[i] == QLatin1String("--warmup"))
            warmup = next.toInt(), ++i;
        else if (args[i] == QLatin1String("--upload-rounds"))
            uploadRounds = next.toInt(), ++i;
        else if (args[i] == QLatin1String("--tls"))
            tls = true;
    }

    const QString simDir = QStringLiteral(VELTRO_SOURCE_DIR "/sim");
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    QStringList standinArgs = {simDir + QStringLiteral("/server.js"), QStringLiteral("--port"), QStringLiteral("0"),
                               QStringLiteral("--ignore-stdin"), QStringLiteral("--max-lifetime"),
                               QStringLiteral("900")};
    if (tls)
        standinArgs << QStringLiteral("--tls");
    QProcess standin;
    standin.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    standin.start(node, standinArgs);
    QElapsedTimer t;
    t.start();
    while (!standin.canReadLine() && t.elapsed() < 20000)
        standin.waitForReadyRead(200);
    const QJsonObject info = QJsonDocument::fromJson(standin.readLine()).object();
    const QString server = info.value(QStringLiteral("server")).toString();
    if (server.isEmpty()) {
        std::fprintf(stderr, "stand-in did not start\n");
        return 1;
    }
    if (tls) {
        // Trust the stand-in's throw-away CA, as a host configures its own.
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setCaCertificates(conf.caCertificates()
                               + QSslCertificate::fromPath(info.value(QStringLiteral("caFile")).toString()));
        QSslConfiguration::setDefaultConfiguration(conf);
    }

    QList<Result> ours;
    {
        PresenterClient client(nullptr, server);
        if (!client.doLogin(QStringLiteral("teacher"), QStringLiteral("veltro"))) {
            std::fprintf(stderr, "sign-in failed: %s\n", qPrintable(client.getLastError()));
            return 1;
        }
        QElapsedTimer clock;
        ours << timed(QStringLiteral("doLogin"), rounds, warmup, [&] {
            clock.start();
            const bool ok = client.doLogin(QStringLiteral("teacher"), QStringLiteral("veltro"));
            return ok ? usSince(clock) : -1.0;
        });
        ours << timed(QStringLiteral("doGetUserName"), rounds, warmup, [&] {
            clock.start();
            const bool ok = !client.doGetUserName().isEmpty();
            return ok ? usSince(clock) : -1.0;
        });
        const QByteArray file(1024 * 1024, 'v');
        ours << timed(QStringLiteral("doUploadResource 1 MiB"), uploadRounds, qMin(warmup, 5), [&] {
            QString id;
            clock.start();
            const bool ok = client.doUploadResource(QStringLiteral("bench.bin"), file, &id, nullptr);
            return ok ? usSince(clock) : -1.0;
        });
        // The four requests of startWebsocket: from the call to the handling of
        // the fourth answer (the collaboration connection opens after that).
        int answered = 0;
        double fourth = -1;
        QObject::connect(&client, &PresenterClient::requestProcessed, [&] {
            if (++answered == 4)
                fourth = usSince(clock);
        });
        ours << timed(
            QStringLiteral("startWebsocket (4 requests)"), uploadRounds, qMin(warmup, 5),
            [&] {
                PresenterCollab *collab = nullptr;
                answered = 0;
                fourth = -1;
                clock.start();
                const bool ok = client.startWebsocket(&collab);
                answered = 100;
                return ok ? fourth : -1.0;
            },
            [&] {
                answered = 100;
                client.doStartSession();
            },
            [&] {
                answered = 100;
                client.doStopSession();
            });
    }

    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(node, {QStringLiteral(VELTRO_SOURCE_DIR "/bench/rest/peer_http.js"), server, QString::number(rounds),
                      QString::number(warmup), QString::number(uploadRounds)});
    peer.waitForFinished(600000);
    QList<Result> peers;
    for (const QByteArray &line : peer.readAllStandardOutput().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (!o.isEmpty())
            peers << Result{o.value(QStringLiteral("name")).toString(), o.value(QStringLiteral("n")).toInt(),
                            o.value(QStringLiteral("median")).toDouble(), o.value(QStringLiteral("p99")).toDouble()};
    }
    standin.terminate();
    standin.waitForFinished(5000);

    QTextStream out(stdout);
    out << (tls ? "HTTPS" : "HTTP") << " on loopback, Qt " << qVersion()
        << "; microseconds per call; peer: Node's http client, kept-alive.\n"
        << "| call | n | ours median | ours p99 | peer median | peer p99 | median ratio | target <= 1.5 |\n"
        << "|---|---|---|---|---|---|---|---|\n";
    bool pass = true;
    for (const Result &r : qAsConst(ours)) {
        Result p;
        for (const Result &c : qAsConst(peers)) {
            if (c.name == r.name)
                p = c;
        }
        const double ratio = p.median > 0 && r.n > 0 ? r.median / p.median : 0;
        const bool met = ratio > 0 && ratio <= 1.5;
        pass = pass && met;
        out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 |\n")
                   .arg(r.name)
                   .arg(r.n)
                   .arg(r.median, 0, 'f', 0)
                   .arg(r.p99, 0, 'f', 0)
                   .arg(p.median, 0, 'f', 0)
                   .arg(p.p99, 0, 'f', 0)
                   .arg(ratio, 0, 'f', 2)
                   .arg(met ? QStringLiteral("met") : QStringLiteral("NOT met"));
    }
    out << (pass ? "targets met\n" : "targets NOT met\n");
    return 0;
}
