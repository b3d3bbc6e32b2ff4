#include "barchart.h"

#include <QAbstractItemModel>
#include <QLocale>
#include <QPainter>

BarChart::BarChart(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(180);
}

namespace {

QString countText(const BarChart::Bar &bar)
{
    return BarChart::tr("%L1 (%2%)").arg(bar.count).arg(QLocale().toString(bar.share * 100, 'f', 1));
}

} // namespace

void BarChart::setModel(QAbstractItemModel *model, int labelRole, int countRole, int shareRole)
{
    if (m_model)
        m_model->disconnect(this);
    m_model = model;
    m_labelRole = labelRole;
    m_countRole = countRole;
    m_shareRole = shareRole;
    // The model batches its bursts, so one repaint request per change is cheap.
    const auto repaint = [this] { update(); };
    connect(model, &QAbstractItemModel::dataChanged, this, repaint);
    connect(model, &QAbstractItemModel::rowsInserted, this, repaint);
    connect(model, &QAbstractItemModel::rowsRemoved, this, repaint);
    connect(model, &QAbstractItemModel::rowsMoved, this, repaint);
    connect(model, &QAbstractItemModel::modelReset, this, repaint);
    connect(model, &QAbstractItemModel::layoutChanged, this, repaint);
    update();
}

void BarChart::setTitle(const QString &title)
{
    if (m_title != title) {
        m_title = title;
        update();
    }
}

QVector<BarChart::Bar> BarChart::bars() const
{
    QVector<Bar> out;
    for (int row = 0; m_model && row < m_model->rowCount(); ++row) {
        const QModelIndex i = m_model->index(row, 0);
        out.append({i.data(m_labelRole).toString(), i.data(m_countRole).toInt(), i.data(m_shareRole).toDouble()});
    }
    return out;
}

QStringList BarChart::texts() const
{
    QStringList out{m_title};
    const QVector<Bar> shown = bars();
    if (shown.isEmpty())
        out << tr("No answers yet");
    for (const Bar &bar : shown)
        out << countText(bar) << bar.label;
    return out;
}

void BarChart::paintEvent(QPaintEvent *)
{
    const QVector<Bar> shown = bars();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const int line = fm.height();
    p.setPen(palette().text().color());
    p.drawText(QRect(8, 4, width() - 16, line), Qt::AlignLeft | Qt::AlignVCenter, m_title);
    if (shown.isEmpty()) {
        p.setPen(palette().placeholderText().color());
        p.drawText(rect(), Qt::AlignCenter, tr("No answers yet"));
        return;
    }
    int most = 1;
    for (const auto &bar : shown)
        most = qMax(most, bar.count);

    // Bars stand on a base line, labels below, counts above each bar.
    const QRect area(12, 10 + 3 * line, width() - 24, height() - 20 - 5 * line);
    const int n = shown.size();
    const int slot = area.width() / n;
    const int barWidth = qMax(4, slot * 2 / 3);
    const QColor fill = palette().highlight().color();
    for (int i = 0; i < n; ++i) {
        const auto &bar = shown.at(i);
        const int h = area.height() * bar.count / most;
        const int x = area.left() + i * slot + (slot - barWidth) / 2;
        const QRect r(x, area.bottom() - h, barWidth, h);
        p.fillRect(r, fill);
        p.setPen(palette().text().color());
        p.drawText(QRect(x - slot / 2, r.top() - line - 2, barWidth + slot, line), Qt::AlignCenter, countText(bar));
        const QString label = fm.elidedText(bar.label, Qt::ElideRight, slot - 4);
        p.drawText(QRect(area.left() + i * slot, area.bottom() + 4, slot, line), Qt::AlignCenter, label);
    }
    p.setPen(palette().mid().color());
    p.drawLine(area.left(), area.bottom() + 1, area.right(), area.bottom() + 1);
}
