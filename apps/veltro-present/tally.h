// The live tally of one poll and the summary statistics of the run: pure
// data and text, no I/O, so the terminal view and the tests share it.
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

/// One answer option as the devices show it.
struct TallyOption
{
    QString id;     ///< what devices send back ("A", "0", ...)
    QString label;  ///< what the option says ("TRUE"), may be empty
};

/// Counts the answers of one poll, one per device (a repeated answer
/// replaces the device's earlier one), and draws them as bars.
class Tally
{
public:
    enum class Mode {
        Choice,     ///< every option named in the answer counts
        FirstPick,  ///< only the first option named counts (a ranking)
        FreeText,   ///< each distinct answer text is its own bar
    };

    /// Free-text tally (no options).
    Tally() = default;
    Tally(Mode mode, QVector<TallyOption> options);

    /// Records `answer` from `deviceId`. Returns false when the device had
    /// answered before (the new answer replaces the old one).
    bool record(const QString &deviceId, const QString &answer);

    /// Devices that answered.
    int answered() const { return m_answers.size(); }
    /// Answers that repeated an earlier answer of the same device.
    int repeats() const { return m_repeats; }
    bool hasAnswered(const QString &deviceId) const { return m_answers.contains(deviceId); }

    /// Bars in display order: label and count. For Choice/FirstPick the
    /// options in their order, then "other" when an answer named none; for
    /// FreeText the most frequent texts (at most maxBars, ties by text), then
    /// the rest summed up.
    QVector<QPair<QString, int>> bars(int maxBars = 8) const;

    /// The tally as text lines, `width` columns at most: one bar per entry
    /// of bars() and a final progress line "answered N/M".
    QStringList render(int expected, int width, double elapsedSeconds) const;

    /// The option ids an answer names, in answer order, without duplicates.
    /// Devices send ids joined by "," or run together ("AC"); labels are
    /// accepted as well.
    QStringList optionsNamed(const QString &answer) const;

private:
    Mode m_mode = Mode::FreeText;
    QVector<TallyOption> m_options;
    QHash<QString, QString> m_answers;  // device -> answer
    int m_repeats = 0;
};

/// Median and maximum of a set of durations.
struct ResponseStats
{
    int count = 0;
    double median = 0;
    double slowest = 0;
};

/// Median (mean of the two middle values for an even count) and maximum.
ResponseStats summarize(QVector<double> values);

/// Text that replaces the `previousLines` lines last drawn at the cursor by
/// `lines`, using ANSI cursor movement: up, then each line cleared and
/// rewritten; lines left over from a longer previous block are cleared.
/// The cursor ends below the new block.
QString redrawInPlace(int previousLines, const QStringList &lines);

class QObject;

/// Runs `startPoll` (which publishes a poll through the collaboration object
/// `collab`) and returns the options of the questions it added as children
/// of `collab`, as devices show them; their ids, which answers name instead
/// of the poll id, go into `ids`. Empty for a poll without options.
QVector<TallyOption> startPollAndReadOptions(QObject *collab, const std::function<void()> &startPoll, QSet<QString> *ids);
