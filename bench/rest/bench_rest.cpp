// Latency of PresenterClient's blocking REST calls against the stand-in,
// next to Node's own HTTP client (one kept-alive connection) posting the same
// bodies with the same headers to the same stand-in in the same run. Build in
// Release with -DVELTRO_BUILD_BENCH=ON; run
//   build/<dir>/bench/rest/bench_rest [--rounds N] [--warmup N] [--upload-rounds N] [--tls]
// It starts its own stand-in (node sim/server.js), runs ours and the peer in
// alternating batches, prints a table of medians and 99th percentiles, each
// call's ratio to the peer and whether the target (median at most 1.5 times
// the peer's) is met. The upload has a second peer, curl sending the same
// body on one kept-alive connection (target: at most twice its median); that
// row is skipped, with a word, where curl is not installed. Reference rows
// time the access manager alone posting the same bodies: the floor Qt sets,
// 16 KiB of an upload at a time from the caller's thread. Then the
// non-blocking form: 10 learner-list requests started together
// (PresenterReply), time to the last result, against the same 10 as blocking
// calls in a row, on loopback and through a relay that adds a latency
// (--latency MS each way, default 10). Never a test.
#include "lowdelaytuner_p.h"
#include "measure.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "presenterreply.h"
#include "standin.h"
#include "tcpproxy.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

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

Result summary(const QString &name, const std::vector<double> &times, bool ok = true)
{
    return Result{name, ok ? int(times.size()) : 0, percentile(times, 0.5), percentile(times, 0.99)};
}

struct Row
{
    Result ours, peer;
    QString peerName;
    double target = 1.5; // at most this times the peer's median
};

// Appends to `times` what the peer script prints for `call`, `n` rounds after
// `warm`; `extra` chooses another client than Node's.
void samplePeer(std::vector<double> *times, const QString &server, const QString &call, int n, int warm,
                const QStringList &extra = {})
{
    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(nodeProgram(), QStringList{sourcePath(QStringLiteral("bench/rest/peer_http.js")), server, call,
                                          QString::number(n), QString::number(warm)}
                                  + extra);
    peer.waitForFinished(600000);
    const QJsonArray printed =
        QJsonDocument::fromJson(peer.readAllStandardOutput()).object().value(QStringLiteral("times")).toArray();
    for (const QJsonValue v : printed)
        times->push_back(v.toDouble());
}

// Appends the times of `n` calls of `call` (which returns the microseconds it
// measured itself, or a negative value on failure) to `times`, `before` and
// `after` untimed around each. False on a failure.
bool sample(std::vector<double> *times, int n, const std::function<double()> &call,
            const std::function<void()> &before = {}, const std::function<void()> &after = {})
{
    for (int i = 0; i < n; ++i) {
        if (before)
            before();
        const double us = call();
        if (after)
            after();
        if (us < 0)
            return false;
        times->push_back(us);
    }
    return true;
}

double usSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    quietLibraryLogging();
    int rounds = 200, warmup = 20, uploadRounds = 30, latency = 10;
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
        else if (args[i] == QLatin1String("--latency"))
            latency = next.toInt(), ++i;
        else if (args[i] == QLatin1String("--tls"))
            tls = true;
    }

    const auto standin = StandIn::launch(tls ? QStringList{QStringLiteral("--tls")} : QStringList());
    if (!standin) {
        std::fprintf(stderr, "stand-in did not start\n");
        return 1;
    }
    const QJsonObject info = standin->info();
    const QString server = standin->server();
    if (tls) {
        // Trust the stand-in's throw-away CA, as a host configures its own.
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setCaCertificates(conf.caCertificates()
                               + QSslCertificate::fromPath(info.value(QStringLiteral("caFile")).toString()));
        QSslConfiguration::setDefaultConfiguration(conf);
    }

    // Ours and the peer take turns in batches, so that other load on the
    // machine falls on both alike; the first calls of each side are warm-up.
    constexpr int BATCHES = 5;
    PresenterClient client(nullptr, server);
    if (!client.doLogin(QStringLiteral("teacher"), QStringLiteral("veltro"))) {
        std::fprintf(stderr, "sign-in failed: %s\n", qPrintable(client.getLastError()));
        return 1;
    }
    QElapsedTimer clock;
    const QByteArray file(1024 * 1024, 'v');
    // The four requests of startWebsocket: from the call to the handling of
    // the fourth answer (the collaboration connection opens after that).
    int answered = 100;
    double fourth = -1;
    QObject::connect(&client, &PresenterClient::requestProcessed, [&] {
        if (++answered == 4)
            fourth = usSince(clock);
    });
    struct Call
    {
        QString name;
        int rounds;
        std::function<double()> call;
        std::function<void()> before, after;
        bool againstCurl = false;
        QString reference = {}; // the row's name where it is a reference, not ours
    };
    const QList<Call> calls = {
        {QStringLiteral("doLogin"), rounds,
         [&] {
             clock.start();
             return client.doLogin(QStringLiteral("teacher"), QStringLiteral("veltro")) ? usSince(clock) : -1.0;
         }, {}, {}},
        {QStringLiteral("doGetUserName"), rounds,
         [&] {
             clock.start();
             return client.doGetUserName().isEmpty() ? -1.0 : usSince(clock);
         }, {}, {}},
        {QStringLiteral("doUploadResource 1 MiB"), uploadRounds,
         [&] {
             QString id;
             clock.start();
             return client.doUploadResource(QStringLiteral("bench.bin"), file, &id, nullptr) ? usSince(clock) : -1.0;
         }, {}, {}, true},
        {QStringLiteral("startWebsocket (4 requests)"), uploadRounds,
         [&] {
             PresenterCollab *collab = nullptr;
             answered = 0;
             fourth = -1;
             clock.start();
             const bool ok = client.startWebsocket(&collab);
             answered = 100;
             return ok ? fourth : -1.0;
         },
         [&] { client.doStartSession(); },
         [&] {
             client.doStopSession();
             // Let the collaboration connection finish closing, untimed, so
             // that its teardown does not overlap the next round's requests.
             QEventLoop settle;
             QTimer::singleShot(100, &settle, &QEventLoop::quit);
             settle.exec();
         }},
    };
    // References, not targets: the access manager alone (tuned as the client
    // tunes it), posting what doGetUserName and doUploadResource post; the
    // floor Qt sets.
    QNetworkAccessManager bare;
    Veltro::LowDelayTuner bareTuner;
    auto barePost = [&](const char *path, const QByteArray &body, const QString &type) {
        const QUrl url(server + QLatin1String(path));
        QNetworkRequest request(url);
        request.setRawHeader(QByteArrayLiteral("accept-encoding"), QByteArrayLiteral("identity"));
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false); // as the client: HTTP/1.1 only
        request.setHeader(QNetworkRequest::ContentTypeHeader, type);
        clock.start();
        bareTuner.setEndpoint(url);
        QNetworkReply *reply = bare.post(request, body);
        QEventLoop wait;
        QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        const bool ok = reply->error() == QNetworkReply::NoError && !reply->readAll().isEmpty();
        bareTuner.tune();
        const double us = usSince(clock);
        reply->deleteLater();
        return ok ? us : -1.0;
    };
    const QString json = QStringLiteral("application/json; charset=UTF-8");
    barePost("/quorvane/login/submit", R"({"userId":"teacher","password":"veltro","sourceSystem":"Nimbra"})", json);
    // Byte for byte the body doUploadResource builds.
    const QByteArray delimiter = QByteArrayLiteral("------boundary");
    const auto value = [&](const char *name, const char *v, bool last) -> QByteArray {
        return "Content-Disposition: form-data; name=" + QByteArray(name)
               + "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + v + "\r\n" + delimiter
               + (last ? "--" : "") + "\r\n\r\n";
    };
    const QByteArray uploadBody = delimiter
                                  + "\r\nContent-Disposition: form-data; name=files; filename=\"bench.bin\"\r\n\r\n"
                                  + file + "\r\n" + delimiter + "\r\n\r\n" + value("isTemporary", "true", false)
                                  + value("clientProvidedGUID", "false", true);
    const QList<Call> allCalls =
        calls
        + QList<Call>{
            {QStringLiteral("doGetUserName"), rounds, [&] { return barePost("/quorvane/login/user", "{}", json); },
             {}, {}, false, QStringLiteral("(reference: bare QNetworkAccessManager post)")},
            {QStringLiteral("doUploadResource 1 MiB"), uploadRounds,
             [&] {
                 return barePost("/quorvane/resource/uploadResourceFile", uploadBody,
                                 QStringLiteral("multipart/form-data; charset=UTF-8; boundary=----boundary"));
             },
             {}, {}, true, QStringLiteral("(reference: bare QNetworkAccessManager upload)")}};
    const bool curl = !QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty();
    QList<Row> rows;
    for (const Call &c : allCalls) {
        std::vector<double> oursTimes, nodeTimes, curlTimes;
        const int perBatch = qMax(1, c.rounds / BATCHES);
        const int warm = qMin(warmup, qMax(1, perBatch / 2));
        bool ok = true;
        for (int b = 0; b < BATCHES && ok; ++b) {
            std::vector<double> discard;
            ok = sample(&discard, b == 0 ? warm : 0, c.call, c.before, c.after)
                && sample(&oursTimes, perBatch, c.call, c.before, c.after);
            samplePeer(&nodeTimes, server, c.name, perBatch, warm);
            if (c.againstCurl && curl)
                samplePeer(&curlTimes, server, c.name, perBatch, warm, {QStringLiteral("curl")});
        }
        if (!ok)
            std::fprintf(stderr, "%s failed\n", qPrintable(c.name));
        const Result ours = summary(c.reference.isEmpty() ? c.name : c.reference, oursTimes, ok);
        rows.append({ours, summary(c.name, nodeTimes), QStringLiteral("node"), 1.5});
        if (c.againstCurl && curl)
            rows.append({ours, summary(c.name, curlTimes), QStringLiteral("curl"), 2.0});
        else if (c.againstCurl)
            std::fprintf(stderr, "curl not found: the %s row against curl is skipped\n", qPrintable(c.name));
    }

    // Non-blocking: learner lists of a live session, 10 at once against 10 in a
    // row, on loopback and (plain HTTP only) through the latency relay.
    constexpr int BURST = 10;
    struct Burst
    {
        QString network;
        std::vector<double> together, inARow;
    };
    QList<Burst> bursts;
    auto burst = [&](PresenterClient &c, const QString &network) {
        Burst b{network, {}, {}};
        const bool live = c.doLogin(QStringLiteral("teacher"), QStringLiteral("veltro")) && c.doStartSession()
                          && c.startWebsocket(nullptr);
        const int n = qMax(1, rounds / BURST);
        for (int round = 0; live && round < qMin(warmup, n) + n; ++round) {
            clock.start();
            int left = BURST;
            bool ok = true;
            QEventLoop all;
            for (int i = 0; i < BURST; ++i) {
                PresenterReply *reply = c.requestLearners();
                QObject::connect(reply, &PresenterReply::finished, &all, [&, reply] {
                    ok = ok && reply->error() == Veltro::Error::None;
                    if (--left == 0)
                        all.quit();
                });
            }
            all.exec();
            const double atOnce = usSince(clock);
            clock.start();
            for (int i = 0; i < BURST; ++i)
                ok = c.doGetLearners() && ok;
            const double sequential = usSince(clock);
            if (!ok) {
                std::fprintf(stderr, "learner list failed (%s)\n", qPrintable(network));
                break;
            }
            if (round >= qMin(warmup, n)) {
                b.together.push_back(atOnce);
                b.inARow.push_back(sequential);
            }
        }
        c.doStopSession();
        bursts.append(b);
    };
    {
        PresenterClient direct(nullptr, server);
        burst(direct, QStringLiteral("loopback"));
    }
    if (!tls && latency > 0) {
        TcpProxy relay(quint16(info.value(QStringLiteral("port")).toInt()));
        relay.setLatency(latency);
        PresenterClient distant(nullptr, QStringLiteral("http://127.0.0.1:%1").arg(relay.port()));
        burst(distant, QStringLiteral("+%1 ms each way").arg(latency));
    }
    QTextStream out(stdout);
    out << (tls ? "HTTPS" : "HTTP") << " on loopback, Qt " << qVersion()
        << "; microseconds per call; peers kept-alive: node (Node's http client), curl.\n"
        << "| call | peer | n | ours median | ours p99 | peer median | peer p99 | median ratio | target |\n"
        << "|---|---|---|---|---|---|---|---|---|\n";
    bool pass = true;
    for (const Row &row : qAsConst(rows)) {
        const Result &r = row.ours;
        const Result &p = row.peer;
        const double ratio = p.median > 0 && r.n > 0 ? r.median / p.median : 0;
        const bool reference = r.name.startsWith(QLatin1Char('('));
        const bool met = ratio > 0 && ratio <= row.target;
        if (!reference)
            pass = pass && met;
        out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |\n")
                   .arg(r.name, row.peerName)
                   .arg(r.n)
                   .arg(r.median, 0, 'f', 0)
                   .arg(r.p99, 0, 'f', 0)
                   .arg(p.median, 0, 'f', 0)
                   .arg(p.p99, 0, 'f', 0)
                   .arg(ratio, 0, 'f', 2)
                   .arg(reference ? QStringLiteral("-")
                                  : QStringLiteral("<= %1 %2")
                                        .arg(row.target, 0, 'f', 1)
                                        .arg(met ? QLatin1String("met") : QLatin1String("NOT met")));
    }
    out << (pass ? "targets met\n" : "targets NOT met\n");
    out << "\nNon-blocking: " << BURST << " learner lists of one live session, " << BURST
        << " x requestLearners() started together against " << BURST
        << " x doGetLearners() in a row; microseconds to the last result.\n"
        << "| network | n | together median | together p99 | in a row median | in a row p99 | median ratio |\n"
        << "|---|---|---|---|---|---|---|\n";
    for (const Burst &b : qAsConst(bursts)) {
        const double row = percentile(b.inARow, 0.5);
        out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n")
                   .arg(b.network)
                   .arg(b.together.size())
                   .arg(percentile(b.together, 0.5), 0, 'f', 0)
                   .arg(percentile(b.together, 0.99), 0, 'f', 0)
                   .arg(row, 0, 'f', 0)
                   .arg(percentile(b.inARow, 0.99), 0, 'f', 0)
                   .arg(row > 0 ? percentile(b.together, 0.5) / row : 0.0, 0, 'f', 2);
    }
    return 0;
}
