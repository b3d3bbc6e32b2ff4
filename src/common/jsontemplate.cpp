#include "jsontemplate_p.h"

#include <algorithm>

namespace Veltro {

QString jsonEscape(const QString &text)
{
    const auto special = [](QChar c) { return c == QLatin1Char('"') || c == QLatin1Char('\\') || c.unicode() < 0x20; };
    const QChar *begin = text.constData();
    const QChar *end = begin + text.size();
    const QChar *p = std::find_if(begin, end, special);
    // Fast path: the values the library inserts (tokens, ids, Base64) need nothing.
    if (p == end)
        return text;

    // Runs between escapes are copied whole: a frame of a megabyte or more
    // (an image card) passes through here on its way out.
    QString out;
    out.reserve(text.size() + text.size() / 8 + 16);
    const QChar *run = begin;
    for (; p != end; ++p) {
        if (!special(*p))
            continue;
        out.append(run, int(p - run));
        run = p + 1;
        switch (p->unicode()) {
        case '"': out += QLatin1String("\\\""); break;
        case '\\': out += QLatin1String("\\\\"); break;
        case '\b': out += QLatin1String("\\b"); break;
        case '\f': out += QLatin1String("\\f"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default:
            out += QStringLiteral("\\u%1").arg(p->unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    out.append(run, int(end - run));
    return out;
}

QString fillJsonTemplate(const QString &tmpl, const QStringList &values)
{
    qsizetype valueChars = 0;
    for (const QString &v : values)
        valueChars += v.size();
    QString out;
    out.reserve(int(tmpl.size() + valueChars + 64));
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
