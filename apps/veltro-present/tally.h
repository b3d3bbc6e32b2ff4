// The value-style tally the presenter window was written against, counted by
// the library's PollTallyModel. Only the window's controller still uses it;
// it goes when the window moves onto the classroom object.
#pragma once

#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

#include "polltallymodel.h"

using Veltro::TallyOption;

/// The answers of one poll, one per device (a repeat replaces).
class Tally
{
public:
    enum class Mode {
        Choice,    ///< every option named in the answer counts
        FirstPick, ///< only the first option named counts (a ranking)
        FreeText,  ///< each distinct answer text is its own bar
    };

    /// Free-text tally (no options).
    Tally();
    Tally(Mode mode, QVector<TallyOption> options);

    /// Records `answer` from `deviceId`. Returns false when the device had answered before.
    bool record(const QString &deviceId, const QString &answer);
    /// Devices that answered.
    int answered() const;
    /// The rows of the model: label and count.
    QVector<QPair<QString, int>> bars() const;

private:
    std::shared_ptr<Veltro::PollTallyModel> m_model;
};

/// Runs `startPoll` (which publishes a poll through the collaboration object
/// `collab`) and returns the options of the questions it added as children
/// of `collab`; their ids, which answers name instead of the poll id, go into `ids`.
QVector<TallyOption> startPollAndReadOptions(QObject *collab, const std::function<void()> &startPoll,
                                             QSet<QString> *ids);
