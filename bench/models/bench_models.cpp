// A burst of 1000 joins and 1000 answers through the learner and tally
// models, each shown in a QListView (offscreen), against a peer that applies
// every event to its view at once (one inserted row per join, the bars
// recomputed and redrawn per answer, as a host without batching does).
// Measured: the longest block of the host's thread (the worst lateness of a
// 1 ms timer, so every turn of the event loop counts, the views' layout and
// painting included) and the time until both views show everything, per
// 1000 events of each kind. Two arrivals: all at once in one turn, and 25 per
// turn (as the live connection hands them over). Then an assessment: 1000
// learners have joined and been served question 1 (untimed), and their 1000
// answers fill the progress model, shown in its view. Build in Release:
//   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVELTRO_BUILD_BENCH=ON -DVELTRO_BUILD_TESTS=OFF
//   cmake --build build/bench --target bench_models && build/bench/bench/models/bench_models
// The target: no block longer than one 16 ms frame.
#include "assessment.h"
#include "assessmentprogressmodel.h"
#include "learnermodel.h"
#include "polltallymodel.h"
#include "presenterassessment.h"
#include "presentercollab.h"
#include "questionbase.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace Veltro;

namespace {

const int EVENTS = 1000;   // joins, and as many answers
const int DISTINCT = 60;   // answer texts
const int MAX_ROWS = 8;

// The peer: every join is a row inserted now, every answer recomputes and
// republishes the bars now.
class EagerRoster : public QAbstractListModel
{
public:
    int rowCount(const QModelIndex &p = QModelIndex()) const override { return p.isValid() ? 0 : rows.size(); }
    QVariant data(const QModelIndex &i, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(rows.at(i.row()).userName) : QVariant();
    }
    void join(const Learner &l)
    {
        beginInsertRows(QModelIndex(), rows.size(), rows.size());
        rows.append(l);
        endInsertRows();
    }
    QVector<Learner> rows;
};

class EagerTally : public QAbstractListModel
{
public:
    int rowCount(const QModelIndex &p = QModelIndex()) const override { return p.isValid() ? 0 : bars.size(); }
    QVariant data(const QModelIndex &i, int role) const override
    {
        if (role != Qt::DisplayRole)
            return QVariant();
        return QStringLiteral("%1 %2").arg(bars.at(i.row()).first).arg(bars.at(i.row()).second);
    }
    void answer(const QString &device, const QString &text)
    {
        answers.insert(device, text);
        QHash<QString, int> counts;
        for (const QString &a : qAsConst(answers))
            ++counts[a];
        QVector<QPair<QString, int>> next;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            next.append({it.key(), it.value()});
        std::sort(next.begin(), next.end(), [](const auto &a, const auto &b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        });
        next.resize(qMin(next.size(), MAX_ROWS));
        if (next.size() > bars.size()) {
            beginInsertRows(QModelIndex(), bars.size(), next.size() - 1);
            bars = next;
            endInsertRows();
        } else {
            bars = next;
        }
        Q_EMIT dataChanged(index(0), index(bars.size() - 1));
    }
    QHash<QString, QString> answers;
    QVector<QPair<QString, int>> bars;
};

struct Result
{
    double worstMs = 0;
    double totalMs = 0;
};

// Runs one burst: `deliver(i)` hands event i over (joins first, then
// answers), `perTurn` events per turn of the event loop (0: all in one),
// until `done()` holds. The 1 ms timer's worst lateness is the longest block.
Result burst(int perTurn, const std::function<void(int)> &deliver, const std::function<bool()> &done)
{
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    qint64 worstGapNs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worstGapNs = qMax(worstGapNs, sinceTick.nsecsElapsed());
        sinceTick.start();
    });
    // Let the views settle before the burst.
    QApplication::processEvents();
    tick.start();
    sinceTick.start();
    clock.start();
    int next = 0;
    QTimer producer;
    producer.setInterval(0);
    QObject::connect(&producer, &QTimer::timeout, [&] {
        const int until = perTurn > 0 ? qMin(2 * EVENTS, next + perTurn) : 2 * EVENTS;
        while (next < until)
            deliver(next++);
        if (next >= 2 * EVENTS)
            producer.stop();
    });
    producer.start();
    while (!(next >= 2 * EVENTS && done()))
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // What the views still have to draw.
    QApplication::processEvents();
    Result r;
    r.totalMs = clock.nsecsElapsed() / 1e6;
    worstGapNs = qMax(worstGapNs, sinceTick.nsecsElapsed());
    r.worstMs = qMax(0.0, worstGapNs / 1e6 - 1.0);
    return r;
}

QString deviceOf(int i) { return QStringLiteral("device-%1").arg(i, 4, 10, QLatin1Char('0')); }
QString textOf(int i) { return QStringLiteral("answer %1").arg((i * 7919) % DISTINCT); }

std::unique_ptr<QListView> viewOf(QAbstractItemModel *m, int x)
{
    auto v = std::make_unique<QListView>();
    v->setModel(m);
    v->setGeometry(x, 0, 300, 600);
    v->show();
    return v;
}

Result runModels(int perTurn)
{
    PresenterCollab collab(nullptr, QStringLiteral("http://127.0.0.1:9"), QStringLiteral("1"), QStringLiteral("s"),
                           QStringLiteral("p"));
    LearnerModel roster;
    PollTallyModel tally;
    roster.setCollab(&collab);
    roster.setTally(&tally);
    tally.setCollab(&collab);
    tally.setLearnerModel(&roster);
    tally.setMaxRows(MAX_ROWS);
    tally.start(QStringLiteral("q"), PollType::TEXT, {});
    const auto rosterView = viewOf(&roster, 0);
    const auto tallyView = viewOf(&tally, 300);
    return burst(perTurn, [&](int i) {
        if (i < EVENTS) {
            Q_EMIT collab.learnerJoin(Learner(deviceOf(i), deviceOf(i), QStringLiteral("tablet")));
        } else {
            const int d = i - EVENTS;
            Q_EMIT collab.learnerAnswer(deviceOf(d), QStringLiteral("q"), 1, textOf(d), {});
        }
    }, [&] {
        return roster.rowCount() == EVENTS && tally.rowCount() == MAX_ROWS && tally.answered() == EVENTS
            && tally.index(0).data(PollTallyModel::CountRole).toInt() > 0
            && roster.index(EVENTS - 1).data(LearnerModel::AnsweredRole).toBool();
    });
}

Result runEager(int perTurn)
{
    EagerRoster roster;
    EagerTally tally;
    const auto rosterView = viewOf(&roster, 0);
    const auto tallyView = viewOf(&tally, 300);
    return burst(perTurn, [&](int i) {
        if (i < EVENTS)
            roster.join(Learner(deviceOf(i), deviceOf(i), QStringLiteral("tablet")));
        else
            tally.answer(deviceOf(i - EVENTS), textOf(i - EVENTS));
    }, [&] { return roster.rowCount() == EVENTS && tally.answers.size() == EVENTS; });
}

// 1000 devices join and ask for question 1 (each served), then answer it.
Result runAssessment(int perTurn)
{
    PresenterCollab collab(nullptr, QStringLiteral("http://127.0.0.1:9"), QStringLiteral("1"), QStringLiteral("s"),
                           QStringLiteral("p"));
    Assessment assessment;
    assessment.setCollab(&collab);
    assessment.setQuestions(QList<QuestionDescription>{
        QuestionDescription(QStringLiteral("multiple"), QStringLiteral("Which?"),
                            {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, {1}),
        QuestionDescription(QStringLiteral("text"), QStringLiteral("Why?"))});
    assessment.start();
    auto *run = assessment.findChild<PresenterAssessment *>();
    QString first;
    for (const QuestionBase *q : assessment.findChildren<QuestionBase *>()) {
        if (q->getquestionNumber() == 1)
            first = q->getID();
    }
    AssessmentProgressModel *progress = assessment.progress();
    const auto view = viewOf(progress, 600);
    // Joined and served before the burst: serving compresses each device's
    // question, work the requests' own arrival spreads out.
    for (int i = 0; i < EVENTS; ++i) {
        Q_EMIT collab.learnerJoin(Learner(deviceOf(i), deviceOf(i), QStringLiteral("tablet")));
        Q_EMIT run->learnerGetQuestion(deviceOf(i), 1);
    }
    while (progress->rowCount() < EVENTS)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return burst(perTurn, [&](int i) {
        if (i >= EVENTS) {
            Q_EMIT collab.learnerAnswer(deviceOf(i - EVENTS), first, 3, QString(),
                                        QStringList{i % 2 ? QStringLiteral("A") : QStringLiteral("B")});
        }
    }, [&] {
        return progress->rowCount() == EVENTS
            && progress->index(EVENTS - 1).data(AssessmentProgressModel::AnsweredRole).toInt() == 1;
    });
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = 5;
    std::printf("Burst of %d joins and %d answers (%d distinct texts), views attached, Qt %s; "
                "best and worst of %d rounds after a warm-up\n",
                EVENTS, EVENTS, DISTINCT, qVersion(), rounds);
    std::printf("%-22s %-26s %16s %16s %22s\n", "arrival", "model", "longest block ms", "(worst round)",
                "total ms per 1000+1000");
    for (int perTurn : {0, 25}) {
        const QString arrival = perTurn ? QStringLiteral("%1 per turn").arg(perTurn) : QStringLiteral("all in one turn");
        for (bool batched : {true, false}) {
            QVector<Result> results;
            (void)(batched ? runModels(perTurn) : runEager(perTurn)); // warm-up: fonts, styles, caches
            for (int r = 0; r < rounds; ++r)
                results.append(batched ? runModels(perTurn) : runEager(perTurn));
            const auto byBlock = [](const Result &a, const Result &b) { return a.worstMs < b.worstMs; };
            const auto byTotal = [](const Result &a, const Result &b) { return a.totalMs < b.totalMs; };
            const Result best = *std::min_element(results.begin(), results.end(), byBlock);
            const Result worst = *std::max_element(results.begin(), results.end(), byBlock);
            const Result fastest = *std::min_element(results.begin(), results.end(), byTotal);
            std::printf("%-22s %-26s %16.2f %16.2f %22.1f\n", qPrintable(arrival),
                        batched ? "models" : "eager peer", best.worstMs, worst.worstMs, fastest.totalMs);
        }
        QVector<Result> results;
        (void)runAssessment(perTurn);
        for (int r = 0; r < rounds; ++r)
            results.append(runAssessment(perTurn));
        const auto byBlock = [](const Result &a, const Result &b) { return a.worstMs < b.worstMs; };
        const Result best = *std::min_element(results.begin(), results.end(), byBlock);
        const Result worst = *std::max_element(results.begin(), results.end(), byBlock);
        std::printf("%-22s %-26s %16.2f %16.2f %22.1f\n", qPrintable(arrival), "assessment (1000 answers)", best.worstMs,
                    worst.worstMs, std::min_element(results.begin(), results.end(), [](const Result &a, const Result &b) {
                        return a.totalMs < b.totalMs;
                    })->totalMs);
    }
    return 0;
}
