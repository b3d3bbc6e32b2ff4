// The learners present in a live session as a list model: live from joins
// and departures, and made equal to the service's list after each
// reconnection.
#pragma once

#include "learner.h"
#include "veltroclient_export.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class PresenterClient;
class PresenterCollab;

namespace Veltro {

class PollTallyModel;
class LearnerModelPrivate;

/// One row per learner's device present in the session, in the order they
/// joined.
///
/// **Live.** With setCollab(), a join adds a row (a device that joins again
/// updates its row instead of adding a second one) and a departure removes
/// it. While the link is down joins and departures are missed, so after each
/// reconnection (the collaboration object's connected() following a
/// reconnecting()) the model asks the service for its learner list without
/// blocking (PresenterClient::requestLearners() of the client given with
/// setClient()) and makes itself equal to it: rows the list lacks go,
/// learners it adds are appended. Joins and departures seen while that list
/// was on its way win over it.
///
/// **Answers.** With setTally(), the "answered", "answer" and "correct" roles
/// follow the tally's counted answers and correct options, and are cleared
/// when a new poll starts.
///
/// **Bursts.** Joins, departures and answers are applied from the event loop,
/// as one insertion range, one removal range per block of adjacent rows and
/// one change range per turn, and at most about one 16 ms frame of work per
/// turn (a larger burst continues in the next turn); flush() applies all at
/// once. The signals come from the event loop, except those of clear() and
/// flush(), which arrive inside them. Those that follow the collaboration
/// object can arrive inside a blocking call of PresenterClient.
class VELTROCLIENT_EXPORT LearnerModel : public QAbstractListModel
{
    Q_OBJECT
    /// Learners present (rows).
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    /// The roles of a row.
    enum Roles {
        DeviceIdRole = Qt::UserRole + 1, ///< "deviceId": the device's token (as in answers and departures).
        NameRole,                        ///< "name": the name the learner gave.
        DeviceTypeRole,                  ///< "deviceType": the kind of device, as it reports it.
        AnsweredRole,                    ///< "answered": whether the tally counts an answer of the device.
        AnswerRole,                      ///< "answer": that answer as sent; empty when none.
        CorrectRole,                     ///< "correct": whether that answer is right (PollTallyModel::isRight());
                                         ///< undefined (an invalid QVariant) without an answer or correct options.
    };
    Q_ENUM(Roles)

    /// An empty model, listening to nothing.
    explicit LearnerModel(QObject *parent = nullptr);
    /// Emits nothing; a learner-list request on its way is cancelled.
    ~LearnerModel() override;

    /// Rows (none for a valid `parent`: the model is a list).
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    /// The value of `role` for the row of `index`; an invalid QVariant for an
    /// invalid index or an unknown role. Qt::DisplayRole gives the name.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    /// The role names QML uses: "deviceId", "name", "deviceType", "answered", "answer", "correct".
    QHash<int, QByteArray> roleNames() const override;

    /// Learners present (as rowCount()).
    int count() const;
    /// The learner of `row`; an empty record when there is no such row.
    Veltro::Learner learner(int row) const;
    /// Every learner present, in row order.
    QList<Veltro::Learner> learners() const;
    /// The row of the device `deviceId`, or -1.
    Q_INVOKABLE int rowOf(const QString &deviceId) const;
    /// The rows as CSV text (CRLF line ends): a header row ("name",
    /// "deviceId", "deviceType", "answered", "answer", "correct") and one row
    /// per learner. Cells with a comma, a quote or a line break are quoted; a
    /// cell beginning with =, +, - or @ is prefixed with ' so that a
    /// spreadsheet shows it as text rather than running it as a formula.
    Q_INVOKABLE QString toCsv() const;

    /// Follows `collab`'s joins, departures and reconnections; null stops
    /// following. The rows stay; the model does not own it.
    void setCollab(PresenterCollab *collab);
    /// The collaboration object followed, or null.
    PresenterCollab *collab() const;
    /// The client whose learner list reconciles the model (the one that
    /// runs the session of setCollab()); without one the model only follows
    /// joins and departures. The model does not own it.
    void setClient(PresenterClient *client);
    /// The client set with setClient(), or null.
    PresenterClient *client() const;
    /// Follows `tally`'s answers in the answered and answer roles; null stops.
    void setTally(Veltro::PollTallyModel *tally);
    /// The tally followed, or null.
    Veltro::PollTallyModel *tally() const;

    /// Asks the service for its learner list now (without blocking) and
    /// reconciles with it when it arrives (reconciled()). Does nothing
    /// without a client. A failed request changes nothing: the model stays
    /// live and tries again after the next reconnection.
    Q_INVOKABLE void reconcile();
    /// Makes the rows equal to `service`, the service's learner list: rows
    /// not in it go, learners it adds are appended, known ones are updated.
    /// Applied from the event loop like a burst of joins.
    void reconcileWith(const QList<Veltro::Learner> &service);
    /// Applies pending joins, departures and answers now.
    void flush();
    /// Removes every row (inside the call) and forgets pending changes,
    /// including a learner list on its way.
    Q_INVOKABLE void clear();

Q_SIGNALS:
    /// count() changed.
    void countChanged();
    /// A learner-list answer was applied: `added` the devices it brought that
    /// the model lacked, `removed` those it no longer listed.
    void reconciled(const QStringList &added, const QStringList &removed);

private:
    friend class LearnerModelPrivate;
    std::unique_ptr<LearnerModelPrivate> d;
};

} // namespace Veltro
