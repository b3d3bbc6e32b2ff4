// A live bar chart of a poll's answers, painted by hand: one labelled bar per
// option with its count, scaled to the largest.
#pragma once

#include <QPair>
#include <QString>
#include <QVector>
#include <QWidget>

class BarChart : public QWidget
{
    Q_OBJECT

public:
    explicit BarChart(QWidget *parent = nullptr);

    /// Shows `bars` (label and count, in display order) under `title`.
    void setBars(const QVector<QPair<QString, int>> &bars, const QString &title);
    QVector<QPair<QString, int>> bars() const { return m_bars; }
    /// Sum of the counts shown.
    int total() const;

    QSize sizeHint() const override { return {420, 260}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVector<QPair<QString, int>> m_bars;
    QString m_title;
};
