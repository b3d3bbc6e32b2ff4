#include "learnermodel.h"

#include "polltallymodel.h"
#include "presenterclient.h"
#include "presentercollab.h"

#include <QPointer>

namespace Veltro {

class LearnerModelPrivate
{
public:
    QPointer<PresenterCollab> collab;
    QPointer<PresenterClient> client;
    QPointer<PollTallyModel> tally;
};

LearnerModel::LearnerModel(QObject *parent) : QAbstractListModel(parent), d(new LearnerModelPrivate) {}
LearnerModel::~LearnerModel() = default;
int LearnerModel::rowCount(const QModelIndex &) const { return 0; }
QVariant LearnerModel::data(const QModelIndex &, int) const { return {}; }
QHash<int, QByteArray> LearnerModel::roleNames() const
{
    return {{DeviceIdRole, "deviceId"}, {NameRole, "name"}, {DeviceTypeRole, "deviceType"},
            {AnsweredRole, "answered"}, {AnswerRole, "answer"}};
}
int LearnerModel::count() const { return 0; }
Learner LearnerModel::learner(int) const { return {}; }
QList<Learner> LearnerModel::learners() const { return {}; }
int LearnerModel::rowOf(const QString &) const { return -1; }
void LearnerModel::setCollab(PresenterCollab *collab) { d->collab = collab; }
PresenterCollab *LearnerModel::collab() const { return d->collab; }
void LearnerModel::setClient(PresenterClient *client) { d->client = client; }
PresenterClient *LearnerModel::client() const { return d->client; }
void LearnerModel::setTally(PollTallyModel *tally) { d->tally = tally; }
PollTallyModel *LearnerModel::tally() const { return d->tally; }
void LearnerModel::reconcile() {}
void LearnerModel::reconcileWith(const QList<Learner> &) {}
void LearnerModel::flush() {}
void LearnerModel::clear() {}

} // namespace Veltro
