// Filling of the library's JSON text templates (REST bodies, event-bus
// frames, message payloads).
#pragma once

#include <QString>
#include <QStringList>

namespace Veltro {

/// Returns `text` escaped for use inside a JSON string literal (without the
/// surrounding quotes): quotation mark, backslash and control characters are
/// escaped; everything else, non-ASCII included, is kept as it is. A text that
/// needs no escaping is returned unchanged.
QString jsonEscape(const QString &text);

/// Fills the placeholders %0 ... %9 of `tmpl` with `values` in a single pass,
/// so a value containing "%1" is never filled again. A placeholder that stands
/// inside a JSON string literal of the template receives its value
/// JSON-escaped; one outside a string (a number, an array, a nested body)
/// receives it verbatim. A placeholder without a value is left as it is.
/// For values that need no escaping the result equals chained QString::arg.
QString fillJsonTemplate(const QString &tmpl, const QStringList &values);

} // namespace Veltro
