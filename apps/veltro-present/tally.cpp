#include "tally.h"

#include <algorithm>

#include "questionbase.h"
#include "questionbasewithoptions.h"

Tally::Tally(Mode mode, QVector<TallyOption> options)
    : m_mode(options.isEmpty() ? Mode::FreeText : mode), m_options(std::move(options))
{
}

bool Tally::record(const QString &deviceId, const QString &answer)
{
    auto it = m_answers.find(deviceId);
    if (it != m_answers.end()) {
        *it = answer;
        ++m_repeats;
        return false;
    }
    m_answers.insert(deviceId, answer);
    return true;
}

QStringList Tally::optionsNamed(const QString &answer) const
{
    QStringList named;
    auto add = [&named](const QString &id) {
        if (!named.contains(id))
            named << id;
    };
    const QStringList parts = answer.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &raw : parts) {
        const QString part = raw.trimmed();
        bool whole = false;
        for (const TallyOption &o : m_options) {
            if (part == o.id || (!o.label.isEmpty() && part.compare(o.label, Qt::CaseInsensitive) == 0)) {
                add(o.id);
                whole = true;
                break;
            }
        }
        if (whole)
            continue;
        // Run-together ids ("AC", or an answer text followed by the option
        // ids): take it apart greedily, longest id first, and give up on the
        // part if anything is left that is no id.
        QStringList pieces;
        int pos = 0;
        while (pos < part.size()) {
            int best = 0;
            QString bestId;
            for (const TallyOption &o : m_options) {
                if (o.id.size() > best && QStringView(part).mid(pos, o.id.size()) == o.id) {
                    best = o.id.size();
                    bestId = o.id;
                }
            }
            if (best == 0)
                break;
            pieces << bestId;
            pos += best;
        }
        if (pos == part.size()) {
            for (const QString &p : qAsConst(pieces))
                add(p);
        }
    }
    return named;
}

QVector<QPair<QString, int>> Tally::bars(int maxBars) const
{
    QVector<QPair<QString, int>> out;
    if (m_mode == Mode::FreeText) {
        QHash<QString, int> counts;
        for (const QString &a : m_answers)
            ++counts[a.trimmed()];
        QVector<QPair<QString, int>> all;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            all.append({it.key().isEmpty() ? QStringLiteral("(empty)") : it.key(), it.value()});
        std::sort(all.begin(), all.end(), [](const QPair<QString, int> &a, const QPair<QString, int> &b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        });
        const int shown = all.size() > maxBars ? qMax(0, maxBars - 1) : all.size();
        int rest = 0;
        for (int i = 0; i < all.size(); ++i) {
            if (i < shown)
                out.append(all.at(i));
            else
                rest += all.at(i).second;
        }
        if (shown < all.size())
            out.append({QStringLiteral("(%1 other answers)").arg(all.size() - shown), rest});
        return out;
    }

    QHash<QString, int> counts;
    int other = 0;
    for (const QString &a : m_answers) {
        QStringList named = optionsNamed(a);
        if (named.isEmpty()) {
            ++other;
            continue;
        }
        if (m_mode == Mode::FirstPick)
            named = named.mid(0, 1);
        for (const QString &id : qAsConst(named))
            ++counts[id];
    }
    for (const TallyOption &o : m_options) {
        const QString label = o.label.isEmpty() ? o.id : QStringLiteral("%1 %2").arg(o.id, o.label);
        out.append({label, counts.value(o.id)});
    }
    if (other > 0)
        out.append({QStringLiteral("other"), other});
    return out;
}

QStringList Tally::render(int expected, int width, double elapsedSeconds) const
{
    const auto entries = bars();
    const int total = qMax(expected, answered());
    int labelWidth = 1;
    for (const auto &e : entries)
        labelWidth = qMax(labelWidth, e.first.size());
    const int countWidth = QString::number(qMax(total, 1)).size();
    // "  label |bar| count 100%" takes 11 columns besides label, bar and
    // count; labels give way first so the bar keeps a readable length.
    const int fixed = countWidth + 11;
    const int minBar = 8;
    labelWidth = qBound(4, qMin(labelWidth, 24), qMax(4, width - fixed - minBar));
    const int barWidth = qMax(1, width - labelWidth - fixed);
    int scale = total;
    for (const auto &e : entries)
        scale = qMax(scale, e.second);

    QStringList lines;
    for (const auto &e : entries) {
        QString label = e.first;
        if (label.size() > labelWidth)
            label = label.left(labelWidth - 3) + QStringLiteral("...");
        const int filled = scale > 0 ? int(double(e.second) * barWidth / scale + 0.5) : 0;
        const int percent = total > 0 ? int(100.0 * e.second / total + 0.5) : 0;
        lines << QStringLiteral("  %1 |%2%3| %4 %5%")
                     .arg(label, -labelWidth)
                     .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char(' ')))
                     .arg(e.second, countWidth)
                     .arg(percent, 3);
    }
    QString progress = QStringLiteral("  answered %1/%2").arg(answered()).arg(expected);
    if (m_repeats > 0)
        progress += QStringLiteral(" (%1 changed their answer)").arg(m_repeats);
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

QVector<TallyOption> startPollAndReadOptions(QObject *collab, const std::function<void()> &startPoll, QSet<QString> *ids)
{
    const auto before = collab->findChildren<Veltro::QuestionBase *>(QString(), Qt::FindDirectChildrenOnly);
    startPoll();
    QVector<TallyOption> options;
    const auto after = collab->findChildren<Veltro::QuestionBase *>(QString(), Qt::FindDirectChildrenOnly);
    for (Veltro::QuestionBase *q : after) {
        if (before.contains(q))
            continue;
        ids->insert(q->getID());
        if (auto *withOptions = qobject_cast<Veltro::QuestionBaseWithOptions *>(q)) {
            for (const QVariant &v : withOptions->getactivityOptions()) {
                const QVariantMap m = v.toMap();
                options.append({m.value(QStringLiteral("id")).toString(), m.value(QStringLiteral("optionText")).toString()});
            }
        }
    }
    return options;
}
