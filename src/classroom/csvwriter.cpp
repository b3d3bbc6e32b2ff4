#include "csvwriter_p.h"

#include <QAbstractItemModel>

#include <functional>

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
    const auto line = [&roles](const std::function<QString(int)> &cellOf) {
        QStringList cells;
        for (int role : roles)
            cells << csvCell(cellOf(role));
        return cells.join(QLatin1Char(',')) + QLatin1String("\r\n");
    };
    QString out = line([&names](int role) { return QString::fromUtf8(names.value(role)); });
    for (int r = 0; r < model.rowCount(); ++r) {
        const QModelIndex i = model.index(r, 0);
        out += line([&i](int role) {
            const QVariant v = i.data(role);
            return v.userType() == QMetaType::Bool ? QString::fromLatin1(v.toBool() ? "true" : "false") : v.toString();
        });
    }
    return out;
}

} // namespace Veltro
