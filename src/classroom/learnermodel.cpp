#include "learnermodel.h"

#include "csvwriter_p.h"
#include "followed_p.h"
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
    QVariant right; // invalid when the poll has no correct options or the device no answer
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

struct Fold;

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
    Followed<PresenterCollab> collab;
    QPointer<PresenterClient> client;
    Followed<PollTallyModel> tally;

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
    void fold(Fold &f);
    void remove(const QHash<QString, int> &gone);
    bool refreshAnswer(Row &row) const;
    void update(const QHash<QString, Learner> &updated);
    void insert(const Fold &f);
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

namespace {

// The changes of one slice, folded into what they do to the rows.
struct Fold
{
    Fold(const QHash<QString, int> &rowOf, const QVector<Row> &rows) : rowOf(rowOf), rows(rows) {}

    const QHash<QString, int> &rowOf;
    const QVector<Row> &rows;
    QHash<QString, int> gone;        // device -> its row, to remove
    QHash<QString, Learner> updated; // device present: new record
    QVector<Learner> added;          // new devices, in join order
    QHash<QString, int> addedAt;     // device -> index in `added` (-1: taken back)
    QStringList listAdded, listRemoved;
    bool listApplied = false;

    bool present(const QString &id) const
    {
        const auto a = addedAt.constFind(id);
        if (a != addedAt.cend())
            return *a >= 0;
        return rowOf.contains(id) && !gone.contains(id);
    }
    void join(const Learner &l)
    {
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
    }
    void leave(const QString &id)
    {
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
    }
    // The service's list: what it lacks leaves, what it adds joins, except
    // the devices seen live while it was on its way.
    void list(const Change &c)
    {
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
        for (const Row &r : rows) {
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
    }
};

} // namespace

// Folds the pending changes of one slice; a burst larger than a slice
// continues in the next turn.
void LearnerModelPrivate::fold(Fold &f)
{
    QElapsedTimer slice;
    slice.start();
    while (nextChange < changes.size()) {
        const Change &c = changes.at(nextChange++);
        if (c.kind == Change::Join)
            f.join(c.learner);
        else if (c.kind == Change::Leave)
            f.leave(c.deviceId);
        else
            f.list(c);
        if (slice.elapsed() >= SLICE_MS)
            break;
    }
    if (nextChange >= changes.size()) {
        changes.clear();
        nextChange = 0;
    } else {
        clock.continueSoon();
    }
}

// Departures, from the bottom up, one range per block of adjacent rows.
void LearnerModelPrivate::remove(const QHash<QString, int> &gone)
{
    if (gone.isEmpty())
        return;
    QVector<int> doomed;
    doomed.reserve(gone.size());
    for (int r : gone)
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

// What the tally says of the row's device now; true when that changed.
bool LearnerModelPrivate::refreshAnswer(Row &row) const
{
    const QString &id = row.learner.userToken;
    const bool answered = tally && tally->hasAnswered(id);
    const QString answer = answered ? tally->answerOf(id) : QString();
    const QVariant right = answered && tally->hasCorrectOptions() ? QVariant(tally->isRight(id)) : QVariant();
    if (answered == row.answered && answer == row.answer && right == row.right)
        return false;
    row.answered = answered;
    row.answer = answer;
    row.right = right;
    return true;
}

// Updated records and answers, as one change range.
void LearnerModelPrivate::update(const QHash<QString, Learner> &updated)
{
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
}

// New devices, at the end, as one insertion range.
void LearnerModelPrivate::insert(const Fold &f)
{
    QVector<Row> newRows;
    for (int i = 0; i < f.added.size(); ++i) {
        if (f.addedAt.value(f.added.at(i).userToken) != i)
            continue;
        Row row{f.added.at(i), false, QString(), QVariant()};
        refreshAnswer(row);
        newRows.append(row);
    }
    if (newRows.isEmpty())
        return;
    const int first = rows.size();
    q->beginInsertRows(QModelIndex(), first, first + newRows.size() - 1);
    rows += newRows;
    reindex(first);
    q->endInsertRows();
}

void LearnerModelPrivate::apply()
{
    clock.applied();
    Fold f{rowOf, rows};
    fold(f);
    const int countBefore = rows.size();
    remove(f.gone);
    update(f.updated);
    insert(f);
    if (rows.size() != countBefore)
        Q_EMIT q->countChanged();
    if (f.listApplied)
        Q_EMIT q->reconciled(f.listAdded, f.listRemoved);
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
    case CorrectRole:
        return row.right;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> LearnerModel::roleNames() const
{
    return {{DeviceIdRole, "deviceId"}, {NameRole, "name"}, {DeviceTypeRole, "deviceType"},
            {AnsweredRole, "answered"}, {AnswerRole, "answer"}, {CorrectRole, "correct"}};
}

QString LearnerModel::toCsv() const
{
    return csvOf(*this, {NameRole, DeviceIdRole, DeviceTypeRole, AnsweredRole, AnswerRole, CorrectRole});
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
    if (!d->collab.set(collab))
        return;
    d->dropped = false;
    if (!collab)
        return;
    d->collab << connect(collab, &PresenterCollab::learnerJoin, this, [this](const Learner &l) {
        d->push({Change::Join, l, QString(), {}, {}});
    });
    d->collab << connect(collab, &PresenterCollab::learnerUnregister, this, [this](const QString &id) {
        d->push({Change::Leave, Learner(), id, {}, {}});
    });
    d->collab << connect(collab, &PresenterCollab::reconnecting, this, [this] { d->dropped = true; });
    d->collab << connect(collab, &PresenterCollab::connected, this, [this] {
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
    if (!d->tally.set(tally))
        return;
    d->answersCleared = true;
    d->clock.schedule();
    if (!tally)
        return;
    d->tally << connect(tally, &PollTallyModel::answerRecorded, this, [this](const QString &id) {
        d->answerChanged.insert(id);
        d->clock.schedule();
    });
    const auto refreshAll = [this] {
        d->answersCleared = true;
        d->answerChanged.clear();
        d->clock.schedule();
    };
    d->tally << connect(tally, &PollTallyModel::answersCleared, this, refreshAll);
    d->tally << connect(tally, &PollTallyModel::correctOptionsChanged, this, refreshAll);
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
