// The terminal drawing of a poll's tally and the summary statistics of the
// run: text only, no I/O, so the program and the tests share it.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace Veltro {
class PollTallyModel;
}

/// The tally as text lines, `width` columns at most: one bar per row of the
/// model (its label, count and share of `expected`) and a final progress
/// line "answered N/M" with the time since the poll started.
QStringList renderTally(const Veltro::PollTallyModel &tally, int expected, int width, double elapsedSeconds);

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
