#include "polltallymodel.h"

#include "learnermodel.h"
#include "presentercollab.h"

namespace Veltro {

class PollTallyModelPrivate
{
public:
    QPointer<PresenterCollab> collab;
    QPointer<LearnerModel> learners;
    QString pollId;
    PollType::POLL_TYPE pollType = PollType::MULTIPLE;
    PollTallyModel::Mode mode = PollTallyModel::Mode::Choice;
    QVector<TallyOption> options;
    int present = 0;
    int maxRows = 8;
    bool counting = false;
};

PollTallyModel::PollTallyModel(QObject *parent) : QAbstractListModel(parent), d(new PollTallyModelPrivate) {}
PollTallyModel::~PollTallyModel() = default;
int PollTallyModel::rowCount(const QModelIndex &) const { return 0; }
QVariant PollTallyModel::data(const QModelIndex &, int) const { return {}; }
QHash<int, QByteArray> PollTallyModel::roleNames() const
{
    return {{LabelRole, "label"}, {OptionIdRole, "optionId"}, {CountRole, "count"}, {ShareRole, "share"}};
}
int PollTallyModel::answered() const { return 0; }
int PollTallyModel::repeats() const { return 0; }
int PollTallyModel::present() const { return d->present; }
void PollTallyModel::setPresent(int present) { d->present = present; }
QString PollTallyModel::pollId() const { return d->pollId; }
PollType::POLL_TYPE PollTallyModel::pollType() const { return d->pollType; }
PollTallyModel::Mode PollTallyModel::mode() const { return d->mode; }
bool PollTallyModel::isCounting() const { return d->counting; }
int PollTallyModel::count() const { return 0; }
int PollTallyModel::maxRows() const { return d->maxRows; }
void PollTallyModel::setMaxRows(int rows) { d->maxRows = rows; }
QVector<TallyOption> PollTallyModel::options() const { return d->options; }
void PollTallyModel::start(const QString &, PollType::POLL_TYPE, const QVector<TallyOption> &) {}
void PollTallyModel::start(PresenterCollab *) {}
void PollTallyModel::stop() {}
void PollTallyModel::clear() {}
bool PollTallyModel::record(const QString &, const QString &, const QString &) { return false; }
bool PollTallyModel::hasAnswered(const QString &) const { return false; }
QString PollTallyModel::answerOf(const QString &) const { return {}; }
QStringList PollTallyModel::optionsNamed(const QString &) const { return {}; }
void PollTallyModel::flush() {}
void PollTallyModel::setCollab(PresenterCollab *collab) { d->collab = collab; }
PresenterCollab *PollTallyModel::collab() const { return d->collab; }
void PollTallyModel::setLearnerModel(LearnerModel *learners) { d->learners = learners; }
LearnerModel *PollTallyModel::learnerModel() const { return d->learners; }

} // namespace Veltro
