#include "jsontemplate_p.h"

namespace Veltro {

QString jsonEscape(const QString &text)
{
    // Fast path: the values the library inserts (tokens, ids, Base64) need nothing.
    bool clean = true;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c.unicode() < 0x20) {
            clean = false;
            break;
        }
    }
    if (clean)
        return text;

    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': out += QLatin1String("\\\""); break;
        case '\\': out += QLatin1String("\\\\"); break;
        case '\b': out += QLatin1String("\\b"); break;
        case '\f': out += QLatin1String("\\f"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

QString fillJsonTemplate(const QString &tmpl, const QStringList &values)
{
    QString out;
    out.reserve(tmpl.size() + 64);
    bool inString = false;   // inside a JSON string literal of the template
    bool escaped = false;    // previous template character was a backslash inside a string
    const int n = tmpl.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = tmpl.at(i);
        if (c == QLatin1Char('%') && i + 1 < n && tmpl.at(i + 1).isDigit()) {
            const int index = tmpl.at(i + 1).digitValue();
            if (index < values.size()) {
                out += inString ? jsonEscape(values.at(index)) : values.at(index);
                ++i;
                escaped = false;
                continue;
            }
        }
        out += c;
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == QLatin1Char('\\'))
                escaped = true;
            else if (c == QLatin1Char('"'))
                inString = false;
        } else if (c == QLatin1Char('"')) {
            inString = true;
        }
    }
    return out;
}

} // namespace Veltro
