// A burst of 1000 joins and 1000 answers through the learner and tally
// models, each shown in a QListView (offscreen), against a peer that applies
// every event to its view at once (one inserted row per join, the bars
// recomputed and redrawn per answer, as a host without batching does).
// Measured: the longest block of the host's thread (the worst lateness of a
// 1 ms timer, so every turn of the event loop counts, the views' layout and
// painting included) and the time until both views show everything, per
// 1000 events of each kind. Two arrivals: all at once in one turn, and 25 per
// turn (as the live connection hands them over). Build in Release:
//   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVELTRO_BUILD_BENCH=ON -DVELTRO_BUILD_TESTS=OFF
//   cmake --build build/bench --target bench_models && build/bench/bench/models/bench_models
// The target: no block longer than one 16 ms frame.
#include "learnermodel.h"
#include "polltallymodel.h"
#include "presentercollab.h"

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
            Q_EMIT collab.learnerPollResponse(deviceOf(d), QStringLiteral("q"), 1, textOf(d));
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
    std::printf("%-22s %-10s %16s %16s %22s\n", "arrival", "model", "longest block ms", "(worst round)",
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
            std::printf("%-22s %-10s %16.2f %16.2f %22.1f\n", qPrintable(arrival),
                        batched ? "models" : "eager peer", best.worstMs, worst.worstMs, fastest.totalMs);
        }
    }
    return 0;
}
