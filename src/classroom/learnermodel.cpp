#include "learnermodel.h"

#include "frameclock_p.h"
#include "logging_p.h"
#include "polltallymodel.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "presenterreply.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QVector>

#include <algorithm>

namespace Veltro {

namespace {

struct Row
{
    Learner learner;
    bool answered = false;
    QString answer;
};

// A join, a departure or a service list, in the order they came.
struct Change
{
    enum Kind { Join, Leave, List } kind;
    Learner learner;             // Join
    QString deviceId;            // Leave
    QList<Learner> list;         // List
    QSet<QString> keep;          // List: devices whose live joins and departures win over it
};

// Work done per turn before the rest waits for the next one: half a frame,
// leaving the other half to the views that follow the rows.
const int SLICE_MS = 8;

} // namespace

class LearnerModelPrivate
{
public:
    explicit LearnerModelPrivate(LearnerModel *q)
        : q(q), clock(q, [this] { apply(); })
    {
    }

    LearnerModel *q;
    FrameClock clock;
    QPointer<PresenterCollab> collab;
    QList<QMetaObject::Connection> collabConnections;
    QPointer<PresenterClient> client;
    QPointer<PollTallyModel> tally;
    QList<QMetaObject::Connection> tallyConnections;

    QVector<Row> rows;
    QHash<QString, int> rowOf; // device -> row

    QVector<Change> changes; // not applied yet, oldest first
    int nextChange = 0;
    QSet<QString> answerChanged; // devices whose answer changed
    bool answersCleared = false;

    bool dropped = false;                  // the link dropped; reconcile once it is back
    QPointer<PresenterReply> listRequest;  // the service's list on its way
    QSet<QString> seenDuringRequest;       // devices joined or left since it was asked for
    bool askAgain = false;                 // another reconnection while it was on its way

    void push(Change change);
    void apply();
    void reindex(int from);
    void onList(PresenterReply *reply);
};

void LearnerModelPrivate::push(Change change)
{
    if (listRequest) {
        if (change.kind == Change::Join)
            seenDuringRequest.insert(change.learner.userToken);
        else if (change.kind == Change::Leave)
            seenDuringRequest.insert(change.deviceId);
    }
    changes.append(std::move(change));
    clock.schedule();
}

void LearnerModelPrivate::reindex(int from)
{
    for (int i = from; i < rows.size(); ++i)
        rowOf[rows.at(i).learner.userToken] = i;
}

// Applies pending changes: departures as removal ranges, then updates as one
// change range, then new devices as one insertion range; a burst larger than
// a slice continues in the next turn.
void LearnerModelPrivate::apply()
{
    clock.applied();
    QElapsedTimer slice;
    slice.start();

    // The changes of this slice, folded into what they do to the rows.
    QHash<QString, int> gone;            // device -> its row, to remove
    QHash<QString, Learner> updated;     // device present: new record
    QVector<Learner> added;              // new devices, in join order
    QHash<QString, int> addedAt;         // device -> index in `added` (-1: taken back)
    QStringList listAdded, listRemoved;
    bool listApplied = false;

    const auto present = [&](const QString &id) {
        const auto a = addedAt.constFind(id);
        if (a != addedAt.cend())
            return *a >= 0;
        return rowOf.contains(id) && !gone.contains(id);
    };
    const auto join = [&](const Learner &l) {
        const QString &id = l.userToken;
        auto a = addedAt.find(id);
        if (a != addedAt.end() && *a >= 0) {
            added[*a] = l;
        } else if (rowOf.contains(id) && a == addedAt.end()) {
            gone.remove(id);
            updated.insert(id, l);
        } else {
            addedAt.insert(id, added.size());
            added.append(l);
        }
    };
    const auto leave = [&](const QString &id) {
        auto a = addedAt.find(id);
        if (a != addedAt.end()) {
            if (*a >= 0)
                *a = -1;
            return;
        }
        const auto r = rowOf.constFind(id);
        if (r != rowOf.cend()) {
            gone.insert(id, *r);
            updated.remove(id);
        }
    };

    while (nextChange < changes.size()) {
        const Change &c = changes.at(nextChange++);
        switch (c.kind) {
        case Change::Join:
            join(c.learner);
            break;
        case Change::Leave:
            leave(c.deviceId);
            break;
        case Change::List: {
            QSet<QString> listed;
            for (const Learner &l : c.list) {
                listed.insert(l.userToken);
                if (c.keep.contains(l.userToken))
                    continue;
                if (!present(l.userToken))
                    listAdded << l.userToken;
                join(l);
            }
            QStringList absent;
            for (const Row &r : qAsConst(rows)) {
                if (!listed.contains(r.learner.userToken) && !c.keep.contains(r.learner.userToken))
                    absent << r.learner.userToken;
            }
            for (const Learner &l : qAsConst(added)) {
                if (!listed.contains(l.userToken) && !c.keep.contains(l.userToken))
                    absent << l.userToken;
            }
            for (const QString &id : qAsConst(absent)) {
                if (present(id)) {
                    listRemoved << id;
                    leave(id);
                }
            }
            listApplied = true;
            break;
        }
        }
        if (slice.elapsed() >= SLICE_MS)
            break;
    }
    if (nextChange >= changes.size()) {
        changes.clear();
        nextChange = 0;
    } else {
        clock.continueSoon();
    }

    const int countBefore = rows.size();

    // Departures, from the bottom up, one range per block of adjacent rows.
    if (!gone.isEmpty()) {
        QVector<int> doomed;
        doomed.reserve(gone.size());
        for (int r : qAsConst(gone))
            doomed.append(r);
        std::sort(doomed.begin(), doomed.end());
        int i = doomed.size() - 1;
        while (i >= 0) {
            const int last = doomed.at(i);
            int first = last;
            while (i > 0 && doomed.at(i - 1) == first - 1)
                first = doomed.at(--i);
            --i;
            q->beginRemoveRows(QModelIndex(), first, last);
            for (int r = first; r <= last; ++r)
                rowOf.remove(rows.at(r).learner.userToken);
            rows.remove(first, last - first + 1);
            q->endRemoveRows();
        }
        reindex(doomed.constFirst());
    }

    // Updated records and answers, as one range.
    int low = rows.size();
    int high = -1;
    const auto touch = [&](int r) {
        low = qMin(low, r);
        high = qMax(high, r);
    };
    for (auto it = updated.cbegin(); it != updated.cend(); ++it) {
        const int r = rowOf.value(it.key(), -1);
        if (r >= 0 && rows.at(r).learner != it.value()) {
            rows[r].learner = it.value();
            touch(r);
        }
    }
    const auto refreshAnswer = [this](Row &row) {
        const bool answered = tally && tally->hasAnswered(row.learner.userToken);
        const QString answer = answered ? tally->answerOf(row.learner.userToken) : QString();
        if (answered == row.answered && answer == row.answer)
            return false;
        row.answered = answered;
        row.answer = answer;
        return true;
    };
    if (answersCleared) {
        for (int r = 0; r < rows.size(); ++r) {
            if (refreshAnswer(rows[r]))
                touch(r);
        }
    } else {
        for (const QString &id : qAsConst(answerChanged)) {
            const int r = rowOf.value(id, -1);
            if (r >= 0 && refreshAnswer(rows[r]))
                touch(r);
        }
    }
    answersCleared = false;
    answerChanged.clear();
    if (high >= 0)
        Q_EMIT q->dataChanged(q->index(low), q->index(high));

    // New devices, at the end, as one range.
    QVector<Row> newRows;
    for (int i = 0; i < added.size(); ++i) {
        if (addedAt.value(added.at(i).userToken) != i)
            continue;
        Row row{added.at(i), false, QString()};
        refreshAnswer(row);
        newRows.append(row);
    }
    if (!newRows.isEmpty()) {
        const int first = rows.size();
        q->beginInsertRows(QModelIndex(), first, first + newRows.size() - 1);
        rows += newRows;
        reindex(first);
        q->endInsertRows();
    }

    if (rows.size() != countBefore)
        Q_EMIT q->countChanged();
    if (listApplied)
        Q_EMIT q->reconciled(listAdded, listRemoved);
}

void LearnerModelPrivate::onList(PresenterReply *reply)
{
    listRequest = nullptr;
    if (reply->error() != Error::None) {
        qCDebug(lcCollab).noquote() << "[LearnerModel] Learner list not reconciled:" << reply->errorString();
    } else {
        q->reconcileWith(reply->learners());
        changes.last().keep = seenDuringRequest;
    }
    seenDuringRequest.clear();
    if (askAgain) {
        askAgain = false;
        q->reconcile();
    }
}

LearnerModel::LearnerModel(QObject *parent) : QAbstractListModel(parent), d(new LearnerModelPrivate(this)) {}

LearnerModel::~LearnerModel()
{
    // The reply's finished() must not reach a model that is gone.
    if (d->listRequest) {
        d->listRequest->disconnect(this);
        d->listRequest->cancel();
    }
}

int LearnerModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : d->rows.size();
}

QVariant LearnerModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const Row &row = d->rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return row.learner.userName;
    case DeviceIdRole:
        return row.learner.userToken;
    case DeviceTypeRole:
        return row.learner.deviceType;
    case AnsweredRole:
        return row.answered;
    case AnswerRole:
        return row.answer;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> LearnerModel::roleNames() const
{
    return {{DeviceIdRole, "deviceId"}, {NameRole, "name"}, {DeviceTypeRole, "deviceType"},
            {AnsweredRole, "answered"}, {AnswerRole, "answer"}};
}

int LearnerModel::count() const { return d->rows.size(); }

Learner LearnerModel::learner(int row) const
{
    return row >= 0 && row < d->rows.size() ? d->rows.at(row).learner : Learner();
}

QList<Learner> LearnerModel::learners() const
{
    QList<Learner> out;
    out.reserve(d->rows.size());
    for (const Row &r : qAsConst(d->rows))
        out.append(r.learner);
    return out;
}

int LearnerModel::rowOf(const QString &deviceId) const { return d->rowOf.value(deviceId, -1); }

void LearnerModel::setCollab(PresenterCollab *collab)
{
    if (collab == d->collab)
        return;
    for (const auto &c : qAsConst(d->collabConnections))
        disconnect(c);
    d->collabConnections.clear();
    d->collab = collab;
    d->dropped = false;
    if (!collab)
        return;
    d->collabConnections << connect(collab, &PresenterCollab::learnerJoin, this, [this](const Learner &l) {
        d->push({Change::Join, l, QString(), {}, {}});
    });
    d->collabConnections << connect(collab, &PresenterCollab::learnerUnregister, this, [this](const QString &id) {
        d->push({Change::Leave, Learner(), id, {}, {}});
    });
    d->collabConnections << connect(collab, &PresenterCollab::reconnecting, this, [this] { d->dropped = true; });
    d->collabConnections << connect(collab, &PresenterCollab::connected, this, [this] {
        if (d->dropped) {
            d->dropped = false;
            reconcile();
        }
    });
}

PresenterCollab *LearnerModel::collab() const { return d->collab; }
void LearnerModel::setClient(PresenterClient *client) { d->client = client; }
PresenterClient *LearnerModel::client() const { return d->client; }

void LearnerModel::setTally(PollTallyModel *tally)
{
    if (tally == d->tally)
        return;
    for (const auto &c : qAsConst(d->tallyConnections))
        disconnect(c);
    d->tallyConnections.clear();
    d->tally = tally;
    d->answersCleared = true;
    d->clock.schedule();
    if (!tally)
        return;
    d->tallyConnections << connect(tally, &PollTallyModel::answerRecorded, this, [this](const QString &id) {
        d->answerChanged.insert(id);
        d->clock.schedule();
    });
    d->tallyConnections << connect(tally, &PollTallyModel::answersCleared, this, [this] {
        d->answersCleared = true;
        d->answerChanged.clear();
        d->clock.schedule();
    });
}

PollTallyModel *LearnerModel::tally() const { return d->tally; }

void LearnerModel::reconcile()
{
    if (d->listRequest) {
        d->askAgain = true;
        return;
    }
    PresenterClient *client = d->client;
    if (!client)
        return;
    d->seenDuringRequest.clear();
    PresenterReply *reply = client->requestLearners();
    d->listRequest = reply;
    connect(reply, &PresenterReply::finished, this, [this, reply] { d->onList(reply); });
}

void LearnerModel::reconcileWith(const QList<Learner> &service)
{
    d->push({Change::List, Learner(), QString(), service, {}});
}

void LearnerModel::flush()
{
    while (!d->changes.isEmpty() || d->clock.pending())
        d->apply();
}

void LearnerModel::clear()
{
    // A list on its way belongs to what is being cleared.
    if (d->listRequest) {
        d->listRequest->disconnect(this);
        d->listRequest->cancel();
        d->listRequest = nullptr;
    }
    d->askAgain = false;
    d->seenDuringRequest.clear();
    const bool had = !d->rows.isEmpty();
    beginResetModel();
    d->rows.clear();
    d->rowOf.clear();
    d->changes.clear();
    d->nextChange = 0;
    d->answerChanged.clear();
    d->answersCleared = false;
    endResetModel();
    if (had)
        Q_EMIT countChanged();
}

} // namespace Veltro
