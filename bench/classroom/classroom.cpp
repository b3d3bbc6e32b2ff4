// Classroom load benchmark: one presenter (this process, on the library)
// and N simulated learners of the stand-in service answer one poll over one
// transport. Reports the time from startPoll to the last answer, answers
// lost or duplicated, the delay between the last device sending and its
// answer arriving here, this process's CPU time per incoming message and
// its peak memory. One combination per process, so the peak memory is that
// combination's own. Then the rest of the lesson: a remote controller joins
// and sends "nextCard" (time until the command arrives here), and every
// device works through a three-question assessment the library serves
// (time from its start until each learner's row has all three answered).
//
//   veltro-bench-classroom --learners 1000 --transport websocket [--answer-delay 0,0]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QTextStream>

#include <cstdio>

#include "assessment.h"
#include "assessmentprogressmodel.h"
#include "learner.h"
#include "measure.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "questionbase.h"
#include "questiondescription.h"
#include "remotecontrolmessage.h"
#include "standin.h"
#include "testsupport.h"

namespace {

// Receives every event-bus frame the connection hands up, to count them.
class FrameCounter : public QObject
{
    Q_OBJECT
public:
    qint64 frames = 0;
public Q_SLOTS:
    void onFrame(const QString &) { ++frames; }
};

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

int fail(const QString &why)
{
    err() << "veltro-bench-classroom: " << why << "\n";
    err().flush();
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    quietLibraryLogging();
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("learners"), QStringLiteral("Simulated learners."), QStringLiteral("N"),
                        QStringLiteral("10")},
                       {QStringLiteral("transport"), QStringLiteral("websocket, xhr-streaming or xhr-polling."),
                        QStringLiteral("NAME"), QStringLiteral("websocket")},
                       {QStringLiteral("answer-delay"), QStringLiteral("Device answer delay MIN,MAX in ms."),
                        QStringLiteral("MIN,MAX"), QStringLiteral("0,0")},
                       {QStringLiteral("timeout"), QStringLiteral("Longest wait for joins and answers, seconds."),
                        QStringLiteral("S"), QStringLiteral("120")}});
    parser.addHelpOption();
    parser.process(app);
    const int n = parser.value(QStringLiteral("learners")).toInt();
    const QString transport = parser.value(QStringLiteral("transport"));
    const int timeoutMs = parser.value(QStringLiteral("timeout")).toInt() * 1000;

    auto sim = StandIn::launch({QStringLiteral("--learners"), QString::number(n), QStringLiteral("--transports"),
                                transport, QStringLiteral("--answer-delay"), parser.value(QStringLiteral("answer-delay")),
                                QStringLiteral("--shape"), QStringLiteral("random")});
    if (!sim)
        return fail(QStringLiteral("the stand-in service did not start"));

    PresenterClient client(nullptr, sim->server());
    client.setSockJSOverrideProtocols({transport});
    if (!client.doLogin(QStringLiteral("teacher"), QStringLiteral("veltro")) || !client.doStartSession())
        return fail(QStringLiteral("sign-in or session creation failed: ") + client.getLastError());
    const QString code = client.getSessionCode();
    PresenterCollab *collab = nullptr;
    if (!client.startWebsocket(&collab) || !collab)
        return fail(QStringLiteral("the live start failed: ") + client.getLastError());

    // Count frames at the connection (the library offers no public hook for
    // that, so the connector's signal is reached through the meta-object).
    FrameCounter counter;
    for (QObject *child : collab->findChildren<QObject *>()) {
        if (qstrcmp(child->metaObject()->className(), "SockJSConnector") == 0)
            QObject::connect(child, SIGNAL(sockJSMessage(QString)), &counter, SLOT(onFrame(QString)));
    }

    // Every device has published its join once the service counted N joins.
    QElapsedTimer joinClock;
    joinClock.start();
    const bool joined = waitUntil(timeoutMs, [&] {
        const QJsonObject c = sim->control("GET", QStringLiteral("/counters")).object();
        return c.value(QStringLiteral("joins")).toInt() >= n;
    });
    if (!joined)
        return fail(QStringLiteral("only some learners joined within the time limit"));
    const double joinSeconds = joinClock.elapsed() / 1000.0;

    QHash<QString, qint64> arrival;   // device -> arrival (epoch ms)
    int duplicates = 0, stray = 0;
    QSet<QString> ids;
    qint64 framesAtStart = 0;
    double cpuAtStart = 0;
    const QMetaObject::Connection answers = QObject::connect(collab, &PresenterCollab::learnerPollResponse, &app,
                     [&](const QString &device, const QString &id, int, const QString &) {
                         if (!ids.contains(id)) {
                             ++stray;
                             return;
                         }
                         if (arrival.contains(device))
                             ++duplicates;
                         else
                             arrival.insert(device, QDateTime::currentMSecsSinceEpoch());
                     });

    const auto before = collab->findChildren<Veltro::QuestionBase *>(QString(), Qt::FindDirectChildrenOnly);
    framesAtStart = counter.frames;
    cpuAtStart = processCpuSeconds();
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    collab->startPoll(Veltro::PollType::MULTIPLE, Veltro::OrdinalType::ALPHA_UPPER, 4, 1);
    ids.insert(collab->getPollId());
    for (Veltro::QuestionBase *q : collab->findChildren<Veltro::QuestionBase *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!before.contains(q))
            ids.insert(q->getID());
    }
    const bool all = waitUntil(timeoutMs, [&] { return arrival.size() >= n; });
    const double cpu = processCpuSeconds() - cpuAtStart;
    const qint64 frames = counter.frames - framesAtStart;
    qint64 last = 0;
    for (qint64 t : qAsConst(arrival))
        last = qMax(last, t);
    // Late duplicates would arrive shortly after; give them a moment.
    waitUntil(1000, [] { return false; });
    collab->stopPoll();
    QObject::disconnect(answers); // the assessment's answers come this way too

    // When each device got the question (its answer follows after the answer
    // delay, 0 by default): the latest is the last sending device.
    qint64 lastSend = 0;
    client.doGetLearners();
    int recordsRead = 0;
    for (const Veltro::Learner &l : client.getLearners()) {
        for (const QJsonValue &r : sim->records(l.userToken)) {
            const QJsonObject o = r.toObject();
            if (o.value(QStringLiteral("type")).toString() == QLatin1String("questionStart")) {
                lastSend = qMax(lastSend, qint64(o.value(QStringLiteral("time")).toDouble()));
                ++recordsRead;
            }
        }
    }
    QElapsedTimer lessonClock;
    lessonClock.start();
    bool nextCard = false;
    QObject::connect(collab, &PresenterCollab::remoteControl, &app, [&](const Veltro::RemoteControlMessage &m) {
        nextCard = nextCard || m.type == QLatin1String("nextCard");
    });
    const bool remote =
        !sim->control("POST", QStringLiteral("/controller"), {{"sessionCode", code}, {"transport", transport}}).isNull()
        && !sim->control("POST", QStringLiteral("/controller/send"), {{"sessionCode", code}, {"type", "nextCard"}}).isNull()
        && waitUntil(timeoutMs, [&] { return nextCard; });
    const qint64 remoteMs = remote ? lessonClock.elapsed() : -1;

    Veltro::Assessment assessment;
    assessment.setCollab(collab);
    assessment.setQuestions(QList<Veltro::QuestionDescription>{
        {QStringLiteral("multiple"), QStringLiteral("Which?"), {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, {1}},
        {QStringLiteral("true-false"), QStringLiteral("True?"), {}, {0}},
        {QStringLiteral("text"), QStringLiteral("Why?")}});
    lessonClock.restart();
    const bool assessed = assessment.start() && waitUntil(timeoutMs, [&] {
        const Veltro::AssessmentProgressModel *p = assessment.progress();
        int done = 0;
        for (int r = 0; r < p->rowCount(); ++r)
            done += p->index(r).data(Veltro::AssessmentProgressModel::AnsweredRole).toInt() == 3;
        return done >= n;
    });
    const qint64 assessmentMs = assessed ? lessonClock.elapsed() : -1;
    assessment.stop();

    client.doStopSession();
    client.doLogout();

    const int lost = n - arrival.size();
    QTextStream out(stdout);
    out << QStringLiteral("{\"transport\":\"%1\",\"learners\":%2,\"joinSeconds\":%3,\"complete\":%4,"
                          "\"pollToLastMs\":%5,\"lastSendToArrivalMs\":%6,\"lost\":%7,\"duplicated\":%8,"
                          "\"stray\":%9,\"frames\":%10,\"cpuUsPerFrame\":%11,\"peakRssMiB\":%12,"
                          "\"sessionCode\":\"%13\",\"sendTimesKnown\":%14,\"remoteMs\":%15,\"assessmentMs\":%16}")
               .arg(transport).arg(n).arg(joinSeconds, 0, 'f', 1).arg(all ? QLatin1String("true") : QLatin1String("false"))
               .arg(last ? last - t0 : -1).arg(last && lastSend ? last - lastSend : -1)
               .arg(lost).arg(duplicates).arg(stray).arg(frames)
               .arg(frames ? cpu * 1e6 / frames : 0.0, 0, 'f', 1).arg(peakRssMiB(), 0, 'f', 1)
               .arg(code).arg(recordsRead).arg(remoteMs).arg(assessmentMs)
        << "\n";
    return all && lost == 0 && duplicates == 0 && remote && assessed ? 0 : 3;
}

#include "classroom.moc"
