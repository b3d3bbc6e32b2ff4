#include "tallyview.h"

#include "polltallymodel.h"

#include <algorithm>

QStringList renderTally(const Veltro::PollTallyModel &tally, int expected, int width, double elapsedSeconds)
{
    using Model = Veltro::PollTallyModel;
    struct Bar
    {
        QString label;
        int count;
    };
    QVector<Bar> entries;
    for (int r = 0; r < tally.rowCount(); ++r) {
        const QModelIndex i = tally.index(r);
        entries.append({i.data(Model::LabelRole).toString(), i.data(Model::CountRole).toInt()});
    }
    const int total = qMax(expected, tally.answered());
    int labelWidth = 1;
    for (const Bar &e : qAsConst(entries))
        labelWidth = qMax(labelWidth, e.label.size());
    const int countWidth = QString::number(qMax(total, 1)).size();
    // "  label |bar| count 100%" takes 11 columns besides label, bar and
    // count; labels give way first so the bar keeps a readable length.
    const int fixed = countWidth + 11;
    const int minBar = 8;
    labelWidth = qBound(4, qMin(labelWidth, 24), qMax(4, width - fixed - minBar));
    const int barWidth = qMax(1, width - labelWidth - fixed);
    int scale = total;
    for (const Bar &e : qAsConst(entries))
        scale = qMax(scale, e.count);

    QStringList lines;
    for (const Bar &e : qAsConst(entries)) {
        QString label = e.label;
        if (label.size() > labelWidth)
            label = label.left(labelWidth - 3) + QStringLiteral("...");
        const int filled = scale > 0 ? int(double(e.count) * barWidth / scale + 0.5) : 0;
        const int percent = total > 0 ? int(100.0 * e.count / total + 0.5) : 0;
        lines << QStringLiteral("  %1 |%2%3| %4 %5%")
                     .arg(label, -labelWidth)
                     .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char(' ')))
                     .arg(e.count, countWidth)
                     .arg(percent, 3);
    }
    QString progress = QStringLiteral("  answered %1/%2").arg(tally.answered()).arg(expected);
    if (tally.repeats() > 0)
        progress += QStringLiteral(" (%1 changed their answer)").arg(tally.repeats());
    progress += QStringLiteral("  %1 s").arg(elapsedSeconds, 0, 'f', 1);
    lines << progress;
    return lines;
}

ResponseStats summarize(QVector<double> values)
{
    ResponseStats s;
    s.count = values.size();
    if (values.isEmpty())
        return s;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    s.median = n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2.0;
    s.slowest = values.constLast();
    return s;
}

QString redrawInPlace(int previousLines, const QStringList &lines)
{
    QString out;
    if (previousLines > 0)
        out += QStringLiteral("\x1b[%1A").arg(previousLines);
    for (const QString &l : lines)
        out += QStringLiteral("\r\x1b[2K") + l + QLatin1Char('\n');
    const int leftover = previousLines - lines.size();
    if (leftover > 0) {
        for (int i = 0; i < leftover; ++i)
            out += QStringLiteral("\r\x1b[2K\n");
        out += QStringLiteral("\x1b[%1A").arg(leftover);
    }
    return out;
}
