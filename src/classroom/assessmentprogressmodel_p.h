// What an Assessment records of each learner, kept in its progress model.
#pragma once

#include "assessmentprogressmodel.h"
#include "frameclock_p.h"
#include "learner.h"

#include <QHash>
#include <QSet>
#include <QVector>

namespace Veltro {

struct LearnerProgress
{
    Learner learner;
    int question = 0;          // the question last sent
    QSet<int> sent;            // every question sent to the device
    QHash<int, bool> right;    // answered question -> whether its last answer is right
    QHash<int, int> seconds;   // answered question -> its answer's time
};

class AssessmentProgressModelPrivate
{
public:
    static AssessmentProgressModelPrivate *get(AssessmentProgressModel *m) { return m->d.get(); }
    explicit AssessmentProgressModelPrivate(AssessmentProgressModel *q) : q(q), clock(q, [this] { apply(); }) {}

    /// The device's record; null when it has none.
    LearnerProgress *find(const QString &deviceId);
    /// The learner's record, made (a new row within a frame) when missing.
    LearnerProgress &recordOf(const Learner &learner);
    /// The device's record changed: its row follows within a frame.
    void touch(const QString &deviceId);
    /// No rows (inside the call).
    void reset();
    void apply();

    AssessmentProgressModel *q;
    FrameClock clock;
    QVector<LearnerProgress> records;
    QHash<QString, int> indexOf; // device -> record
    int shown = 0;               // records the views were told of
    int low = -1, high = -1;     // changed shown rows since the last application
};

} // namespace Veltro
