// A live bar chart of a poll's answers, painted by hand from a list model (the
// library's tally): one labelled bar per row with its count and share, scaled to
// the largest, the numbers written as the default locale writes them.
#pragma once

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

    struct Bar
    {
        QString label;
        int count;
        double share; ///< 0 to 1
    };

    /// Shows the rows of `model`: the text of `labelRole` under each bar, the
    /// number of `countRole` as its height, above it with the share of
    /// `shareRole`; repainted as the model changes.
    void setModel(QAbstractItemModel *model, int labelRole, int countRole, int shareRole);
    void setTitle(const QString &title);
    /// The bars as shown, in row order.
    QVector<Bar> bars() const;
    /// Every text the chart shows: the title, then each bar's count and share
    /// and its label, or what stands in for bars while there are none.
    QStringList texts() const;

    QSize sizeHint() const override { return {420, 260}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<QAbstractItemModel> m_model;
    int m_labelRole = 0, m_countRole = 0, m_shareRole = 0;
    QString m_title;
};
