// Soak of the live connection: one presenter (this process, on the library,
// reconnection on) sends a stream of frames and polls to simulated learners
// of the stand-in service over one transport, while its link is cut at
// random moments, alternately by the service (it ends the presenter's SockJS
// session) and on the way (a proxy resets both TCP connections). Reports the
// frames every device received, duplicates, device answers lost while the
// link was down (the service keeps nothing for an absent presenter), the
// time from each cut to connected() again, and this process's peak memory.
//
//   veltro-bench-soak --transport websocket [--learners 30 --frames 10000 --cuts 20 --rate 250 --seed 1]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QSet>
#include <QTextStream>

#include <algorithm>

#include "measure.h"
#include "ordinaltype.h"
#include "polltype.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "standin.h"
#include "tcpproxy.h"
#include "testsupport.h"

namespace {

int fail(const QString &why)
{
    QTextStream(stderr) << "veltro-bench-soak: " << why << "\n";
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    quietLibraryLogging(true);
    QCommandLineParser parser;
    auto opt = [&](const char *name, const char *help, const char *def) {
        parser.addOption({QString::fromLatin1(name), QString::fromLatin1(help), QStringLiteral("V"), QString::fromLatin1(def)});
    };
    opt("transport", "websocket, xhr-streaming or xhr-polling.", "websocket");
    opt("learners", "Simulated learners.", "30");
    opt("frames", "Frames the presenter sends (every 100th a poll the devices answer).", "10000");
    opt("cuts", "Times the presenter's link is cut.", "20");
    opt("rate", "Frames per second.", "100");
    opt("seed", "Seed of the cut moments.", "1");
    opt("timeout", "Longest wait for the end, seconds.", "300");
    parser.addHelpOption();
    parser.process(app);
    const QString transport = parser.value(QStringLiteral("transport"));
    const int learners = parser.value(QStringLiteral("learners")).toInt();
    const int frames = parser.value(QStringLiteral("frames")).toInt();
    const int cuts = parser.value(QStringLiteral("cuts")).toInt();
    const int rate = qMax(1, parser.value(QStringLiteral("rate")).toInt());
    const int timeoutMs = parser.value(QStringLiteral("timeout")).toInt() * 1000;
    QRandomGenerator random(parser.value(QStringLiteral("seed")).toUInt());

    auto sim = StandIn::launch();
    if (!sim)
        return fail(QStringLiteral("the stand-in service did not start"));
    const quint16 simPort = quint16(QUrl(sim->server()).port());
    TcpProxy proxy(simPort);
    sim->setSwitches({{"collabUrl", QStringLiteral("http://127.0.0.1:%1/collab").arg(proxy.port())}});

    PresenterClient client(nullptr, sim->server());
    if (!client.doLogin(QStringLiteral("teacher"), QStringLiteral("veltro")) || !client.doStartSession())
        return fail(QStringLiteral("sign-in or session failed: ") + client.getLastError());
    client.setSockJSOverrideProtocols({transport});
    PresenterCollab *collab = nullptr;
    if (!client.startWebsocket(&collab) || !collab)
        return fail(QStringLiteral("startWebsocket failed"));
    collab->setAutoReconnect(true);
    if (!waitUntil(20000, [&] { return collab->isConnected(); }))
        return fail(QStringLiteral("no live connection"));
    const QString token = client.getSessionToken();
    const QJsonArray joined = sim->control("POST", QStringLiteral("/learners"),
                                           {{"sessionCode", client.getSessionCode()}, {"count", learners},
                                            {"transport", "websocket"}, {"answerDelay", QJsonArray{20, 200}}},
                                           120000)
                                  .object().value(QStringLiteral("learners")).toArray();
    if (joined.size() != learners)
        return fail(QStringLiteral("learners did not join"));

    // Cut moments: random frame numbers, at least a few frames apart.
    QVector<int> cutAt;
    while (cutAt.size() < cuts) {
        const int at = int(random.bounded(qMax(1, frames - 10))) + 5;
        if (std::none_of(cutAt.cbegin(), cutAt.cend(), [at](int c) { return qAbs(c - at) < 5; }))
            cutAt << at;
    }
    std::sort(cutAt.begin(), cutAt.end());

    qint64 answersHere = 0;
    QObject::connect(collab, &PresenterCollab::learnerPollResponse, collab, [&] { ++answersHere; });
    QElapsedTimer clock;
    clock.start();
    qint64 cutStarted = -1;
    bool reconnected = true;
    QVector<qint64> recoveryMs;
    int survived = 0;   // cuts a transport rode out without a new session
    QObject::connect(collab, &PresenterCollab::reconnecting, collab, [&] { reconnected = false; });
    QObject::connect(collab, &PresenterCollab::connected, collab, [&] {
        reconnected = true;
        if (cutStarted >= 0) {
            recoveryMs << clock.elapsed() - cutStarted;
            cutStarted = -1;
        }
    });

    int sent = 0;
    int cutIndex = 0;
    int polls = 0;
    QTimer pace;
    const int perTick = qMax(1, rate / 100);
    QObject::connect(&pace, &QTimer::timeout, collab, [&] {
        for (int k = 0; k < perTick && sent < frames; ++k) {
            if (cutIndex < cutAt.size() && sent >= cutAt.at(cutIndex) && cutStarted < 0 && reconnected
                && collab->isConnected()) {
                if (cutIndex % 2 == 0)
                    sim->control("POST", QStringLiteral("/presenter/drop"), {{"sessionToken", token}});
                else
                    proxy.dropAll();
                cutStarted = clock.elapsed();
                ++cutIndex;
            }
            if (sent % 100 == 99) {
                collab->startPoll(Veltro::PollType::MULTIPLE, Veltro::OrdinalType::ALPHA_UPPER, 4);
                ++polls;
            }
            collab->publishMessage(token, QStringLiteral("soak"), QStringLiteral("{\"n\":%1}").arg(sent));
            ++sent;
        }
        // A cut the transport rode out (no drop reported within a while) counts as survived.
        if (cutStarted >= 0 && reconnected && collab->isConnected() && clock.elapsed() - cutStarted > 6000) {
            ++survived;
            cutStarted = -1;
        }
    });
    pace.start(10);
    const bool allSent = waitUntil(timeoutMs, [&] { return sent >= frames && cutStarted < 0; });
    pace.stop();
    // The end marker arrives after everything sent before it on the same connection.
    waitUntil(60000, [&] { return collab->isConnected(); });
    collab->publishMessage(token, QStringLiteral("soak-end"), QStringLiteral("{}"));
    const QString first = joined.at(0).toObject().value(QStringLiteral("token")).toString();
    auto hasEnd = [&](const QString &device) {
        const QJsonArray r = sim->records(device);
        return !r.isEmpty() && r.last().toObject().value(QStringLiteral("type")).toString() == QLatin1String("soak-end");
    };
    waitUntil(60000, [&] { return hasEnd(first); });
    waitUntil(3000, [] { return false; });   // late answers of the last polls

    QHash<int, int> receivedBy;   // frame number -> devices that got it
    qint64 duplicated = 0;
    for (const QJsonValue &l : joined) {
        const QJsonArray records = sim->records(l.toObject().value(QStringLiteral("token")).toString());
        QSet<int> seen;
        for (const QJsonValue &r : records) {
            const QJsonObject o = r.toObject();
            if (o.value(QStringLiteral("type")).toString() != QLatin1String("soak"))
                continue;
            const int n = o.value(QStringLiteral("data")).toObject().value(QStringLiteral("n")).toInt(-1);
            if (seen.contains(n))
                ++duplicated;
            seen.insert(n);
        }
        for (int n : seen)
            ++receivedBy[n];
    }
    int byAll = 0;
    for (auto it = receivedBy.cbegin(); it != receivedBy.cend(); ++it)
        byAll += it.value() == learners;
    const qint64 answersSent = sim->control("GET", QStringLiteral("/counters")).object()
                                   .value(QStringLiteral("answers")).toInt();

    QTextStream(stdout) << QString::fromUtf8(QJsonDocument(QJsonObject{
        {"transport", transport}, {"learners", learners}, {"frames", sent}, {"allSent", allSent},
        {"cuts", cutIndex}, {"reconnections", recoveryMs.size()}, {"survived", survived},
        {"receivedByAll", byAll}, {"missingSomewhere", sent - byAll}, {"duplicated", duplicated},
        {"polls", polls}, {"answersSent", answersSent}, {"answersHere", answersHere},
        {"answersLost", answersSent - answersHere}, {"heldDropped", collab->droppedFrameCount()},
        {"recoveryMedianMs", percentile(recoveryMs, 0.5, -1)},
        {"recoveryWorstMs", recoveryMs.isEmpty() ? -1.0 : double(*std::max_element(recoveryMs.cbegin(), recoveryMs.cend()))},
        {"peakRssMiB", qRound(peakRssMiB() * 10) / 10.0}}).toJson(QJsonDocument::Compact)) << "\n";
    client.doStopSession();
    return 0;
}
