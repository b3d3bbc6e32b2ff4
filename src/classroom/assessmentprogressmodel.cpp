#include "assessmentprogressmodel.h"

#include "assessmentprogressmodel_p.h"
#include "csvwriter_p.h"

#include <numeric>

namespace Veltro {

LearnerProgress *AssessmentProgressModelPrivate::find(const QString &deviceId)
{
    const auto it = indexOf.constFind(deviceId);
    return it == indexOf.cend() ? nullptr : &records[*it];
}

LearnerProgress &AssessmentProgressModelPrivate::recordOf(const Learner &learner)
{
    if (LearnerProgress *p = find(learner.userToken))
        return *p;
    indexOf.insert(learner.userToken, records.size());
    records.append({learner, 0, {}, {}, {}});
    clock.schedule();
    return records.last();
}

void AssessmentProgressModelPrivate::touch(const QString &deviceId)
{
    const int r = indexOf.value(deviceId, -1);
    if (r < 0 || r >= shown)
        return; // a row not shown yet is told with its insertion
    low = low < 0 ? r : qMin(low, r);
    high = qMax(high, r);
    clock.schedule();
}

void AssessmentProgressModelPrivate::reset()
{
    const bool had = shown > 0;
    q->beginResetModel();
    records.clear();
    indexOf.clear();
    shown = 0;
    low = high = -1;
    q->endResetModel();
    if (had)
        Q_EMIT q->countChanged();
}

void AssessmentProgressModelPrivate::apply()
{
    clock.applied();
    if (high >= 0)
        Q_EMIT q->dataChanged(q->index(low), q->index(high));
    low = high = -1;
    if (records.size() > shown) {
        q->beginInsertRows(QModelIndex(), shown, records.size() - 1);
        shown = records.size();
        q->endInsertRows();
        Q_EMIT q->countChanged();
    }
}

AssessmentProgressModel::AssessmentProgressModel(QObject *parent)
    : QAbstractListModel(parent), d(new AssessmentProgressModelPrivate(this))
{
}

AssessmentProgressModel::~AssessmentProgressModel() = default;

int AssessmentProgressModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : d->shown; }

QVariant AssessmentProgressModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const LearnerProgress &p = d->records.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case LearnerRole:
        return p.learner.userName;
    case DeviceIdRole:
        return p.learner.userToken;
    case QuestionRole:
        return p.question;
    case AnsweredRole:
        return int(p.right.size());
    case CorrectRole:
        return int(std::count(p.right.cbegin(), p.right.cend(), true));
    case TimeRole:
        return std::accumulate(p.seconds.cbegin(), p.seconds.cend(), 0);
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> AssessmentProgressModel::roleNames() const
{
    return {{DeviceIdRole, "deviceId"}, {LearnerRole, "learner"}, {QuestionRole, "question"},
            {AnsweredRole, "answered"}, {CorrectRole, "correct"},  {TimeRole, "time"}};
}

int AssessmentProgressModel::count() const { return d->shown; }

int AssessmentProgressModel::rowOf(const QString &deviceId) const
{
    const int r = d->indexOf.value(deviceId, -1);
    return r < d->shown ? r : -1;
}

QString AssessmentProgressModel::toCsv() const
{
    return csvOf(*this, {LearnerRole, DeviceIdRole, QuestionRole, AnsweredRole, CorrectRole, TimeRole});
}

void AssessmentProgressModel::flush()
{
    if (d->clock.pending())
        d->apply();
}

} // namespace Veltro
