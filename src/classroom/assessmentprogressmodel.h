// How far each learner is in an assessment, as a list model.
#pragma once

#include "veltroclient_export.h"

#include <QAbstractListModel>
#include <QString>

#include <memory>

namespace Veltro {

class AssessmentProgressModelPrivate;

/// One row per learner taking part in an Assessment (fed by it alone; get it
/// from Assessment::progress()), in the order they came: who, the question
/// they are on, how many they answered and how many of those were right, and
/// the time their answers took.
///
/// A row stays when its learner leaves (their results are kept) and picks up
/// where it was when the learner's device comes back. Changes reach views
/// batched, at most once per 16 ms frame, from the event loop (flush()
/// applies them at once); the rows are cleared inside Assessment::start().
class VELTROCLIENT_EXPORT AssessmentProgressModel : public QAbstractListModel
{
    Q_OBJECT
    /// Rows (learners taking part).
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    /// The roles of a row.
    enum Roles {
        DeviceIdRole = Qt::UserRole + 1, ///< "deviceId": the learner's device token.
        LearnerRole,                     ///< "learner": the name the learner gave.
        QuestionRole,                    ///< "question": the number of the question last sent to it (0: none yet).
        AnsweredRole,                    ///< "answered": questions answered (each once, however often).
        CorrectRole,                     ///< "correct": answered questions whose last answer is right.
        TimeRole,                        ///< "time": seconds the counted answers took, as the devices report.
    };
    Q_ENUM(Roles)

    /// An empty model; an Assessment makes its own.
    explicit AssessmentProgressModel(QObject *parent = nullptr);
    /// Emits nothing.
    ~AssessmentProgressModel() override;

    /// Rows (none for a valid `parent`: the model is a list).
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    /// The value of `role` for the row of `index`; an invalid QVariant for an
    /// invalid index or an unknown role. Qt::DisplayRole gives the learner's name.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    /// The role names QML uses: "deviceId", "learner", "question", "answered", "correct", "time".
    QHash<int, QByteArray> roleNames() const override;

    /// Rows (as rowCount()).
    int count() const;
    /// The row of the device `deviceId`, or -1 (also while its row waits for the next frame).
    Q_INVOKABLE int rowOf(const QString &deviceId) const;
    /// The rows as CSV text, as LearnerModel::toCsv() writes it: a header row
    /// ("learner", "deviceId", "question", "answered", "correct", "time") and
    /// one row per learner.
    Q_INVOKABLE QString toCsv() const;
    /// Applies pending row changes now.
    void flush();

Q_SIGNALS:
    /// count() changed.
    void countChanged();

private:
    friend class AssessmentProgressModelPrivate;
    friend class Assessment;
    std::unique_ptr<AssessmentProgressModelPrivate> d;
};

} // namespace Veltro
