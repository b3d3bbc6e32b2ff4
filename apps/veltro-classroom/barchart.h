// A live bar chart of a poll's answers, painted by hand from a list model (the
// library's tally): one labelled bar per row with its count, scaled to the largest.
#pragma once

#include <QPair>
#include <QPointer>
#include <QString>
#include <QVector>
#include <QWidget>

class QAbstractItemModel;

class BarChart : public QWidget
{
    Q_OBJECT

public:
    explicit BarChart(QWidget *parent = nullptr);

    /// Shows the rows of `model`: the text of `labelRole` under each bar, the
    /// number of `countRole` as its height; repainted as the model changes.
    void setModel(QAbstractItemModel *model, int labelRole, int countRole);
    void setTitle(const QString &title);
    /// The bars as shown (label and count, in row order), and the sum of the counts.
    QVector<QPair<QString, int>> bars() const;
    int total() const;

    QSize sizeHint() const override { return {420, 260}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<QAbstractItemModel> m_model;
    int m_labelRole = 0, m_countRole = 0;
    QString m_title;
};
