// The one CSV writer of the classroom's models: what a teacher keeps of a
// class opens in a spreadsheet as written, and runs nothing there.
#pragma once

#include <QList>
#include <QString>

class QAbstractItemModel;

namespace Veltro {

/// `value` as one CSV cell: a cell that begins with "=", "+", "-", "@", a tab
/// or a carriage return is prefixed with "'" so that a spreadsheet takes it
/// as text, never as a formula; a cell holding a comma, a double quote or a
/// line break is quoted, its quotes doubled.
QString csvCell(const QString &value);

/// The rows of `model` as CSV text (lines end with CRLF): a header row of the
/// `roles`' names (QAbstractItemModel::roleNames()), then one row per model
/// row with the value of each role as text (booleans "true"/"false", an
/// invalid value empty).
QString csvOf(const QAbstractItemModel &model, const QList<int> &roles);

} // namespace Veltro
