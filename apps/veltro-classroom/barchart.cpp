#include "barchart.h"

#include <QPainter>

BarChart::BarChart(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(180);
}

void BarChart::setBars(const QVector<QPair<QString, int>> &bars, const QString &title)
{
    m_bars = bars;
    m_title = title;
    update();
}

int BarChart::total() const
{
    int sum = 0;
    for (const auto &bar : m_bars)
        sum += bar.second;
    return sum;
}

void BarChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const int line = fm.height();
    p.setPen(palette().text().color());
    p.drawText(QRect(8, 4, width() - 16, line), Qt::AlignLeft | Qt::AlignVCenter, m_title);
    if (m_bars.isEmpty()) {
        p.setPen(palette().placeholderText().color());
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No answers yet"));
        return;
    }
    int most = 1;
    for (const auto &bar : m_bars)
        most = qMax(most, bar.second);

    // Bars stand on a base line, labels below, counts above each bar.
    const QRect area(12, 8 + 2 * line, width() - 24, height() - 16 - 4 * line);
    const int n = m_bars.size();
    const int slot = area.width() / n;
    const int barWidth = qMax(4, slot * 2 / 3);
    const QColor fill = palette().highlight().color();
    for (int i = 0; i < n; ++i) {
        const auto &bar = m_bars.at(i);
        const int h = area.height() * bar.second / most;
        const int x = area.left() + i * slot + (slot - barWidth) / 2;
        const QRect r(x, area.bottom() - h, barWidth, h);
        p.fillRect(r, fill);
        p.setPen(palette().text().color());
        p.drawText(QRect(x - 8, r.top() - line - 2, barWidth + 16, line), Qt::AlignCenter, QString::number(bar.second));
        const QString label = fm.elidedText(bar.first, Qt::ElideRight, slot - 4);
        p.drawText(QRect(area.left() + i * slot, area.bottom() + 4, slot, line), Qt::AlignCenter, label);
    }
    p.setPen(palette().mid().color());
    p.drawLine(area.left(), area.bottom() + 1, area.right(), area.bottom() + 1);
}
