#include "csvwriter_p.h"

#include <QAbstractItemModel>


namespace Veltro {

QString csvCell(const QString &value)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    QString cell = value;
    if (!cell.isEmpty() && formulaStarts.contains(cell.at(0)))
        cell.prepend(QLatin1Char('\''));
    const bool quote = cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"'))
        || cell.contains(QLatin1Char('\n')) || cell.contains(QLatin1Char('\r'));
    if (!quote)
        return cell;
    cell.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

QString csvOf(const QAbstractItemModel &model, const QList<int> &roles)
{
    const QHash<int, QByteArray> names = model.roleNames();
    QString out;
    for (int r = -1; r < model.rowCount(); ++r) { // the header row first
        const QModelIndex i = model.index(qMax(r, 0), 0);
        QStringList cells;
        for (int role : roles) {
            const QVariant v = r < 0 ? QVariant(QString::fromUtf8(names.value(role))) : i.data(role);
            cells << csvCell(v.userType() == QMetaType::Bool ? QLatin1String(v.toBool() ? "true" : "false")
                                                              : v.toString());
        }
        out += cells.join(QLatin1Char(',')) + QLatin1String("\r\n");
    }
    return out;
}

} // namespace Veltro
