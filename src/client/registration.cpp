#include "registration_p.h"

namespace Veltro {

namespace {

bool isJsonSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

void skipSpace(const QString &s, int &pos)
{
    while (pos < s.size() && isJsonSpace(s.at(pos)))
        ++pos;
}

// Reads a string literal starting at s[pos] == '"'; on success leaves pos after
// the closing quote and stores the decoded text in *decoded (when given).
bool readString(const QString &s, int &pos, QString *decoded)
{
    if (pos >= s.size() || s.at(pos) != QLatin1Char('"'))
        return false;
    ++pos;
    while (pos < s.size()) {
        const QChar c = s.at(pos++);
        if (c == QLatin1Char('"'))
            return true;
        if (c != QLatin1Char('\\')) {
            if (decoded)
                decoded->append(c);
            continue;
        }
        if (pos >= s.size())
            return false;
        const QChar e = s.at(pos++);
        switch (e.unicode()) {
        case '"': case '\\': case '/':
            if (decoded) decoded->append(e);
            break;
        case 'b': if (decoded) decoded->append(QLatin1Char('\b')); break;
        case 'f': if (decoded) decoded->append(QLatin1Char('\f')); break;
        case 'n': if (decoded) decoded->append(QLatin1Char('\n')); break;
        case 'r': if (decoded) decoded->append(QLatin1Char('\r')); break;
        case 't': if (decoded) decoded->append(QLatin1Char('\t')); break;
        case 'u': {
            if (pos + 4 > s.size())
                return false;
            bool ok = false;
            const ushort code = QStringView(s).mid(pos, 4).toUShort(&ok, 16);
            if (!ok)
                return false;
            if (decoded)
                decoded->append(QChar(code));
            pos += 4;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

// Skips one JSON value starting at s[pos]; leaves pos just after it.
bool skipValue(const QString &s, int &pos)
{
    if (pos >= s.size())
        return false;
    const QChar c = s.at(pos);
    if (c == QLatin1Char('"'))
        return readString(s, pos, nullptr);
    if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
        // Depth counting is enough here: strings are skipped whole, so braces in them do not count.
        int depth = 0;
        while (pos < s.size()) {
            const QChar d = s.at(pos);
            if (d == QLatin1Char('"')) {
                if (!readString(s, pos, nullptr))
                    return false;
                continue;
            }
            ++pos;
            if (d == QLatin1Char('{') || d == QLatin1Char('['))
                ++depth;
            else if (d == QLatin1Char('}') || d == QLatin1Char(']')) {
                if (--depth == 0)
                    return true;
            }
        }
        return false;
    }
    // A number or a literal: runs up to the next delimiter.
    const int start = pos;
    while (pos < s.size()) {
        const QChar d = s.at(pos);
        if (d == QLatin1Char(',') || d == QLatin1Char('}') || d == QLatin1Char(']') || isJsonSpace(d))
            break;
        ++pos;
    }
    return pos > start;
}

} // namespace

QString topLevelMemberText(const QString &json, const QString &key)
{
    int pos = 0;
    skipSpace(json, pos);
    if (pos >= json.size() || json.at(pos) != QLatin1Char('{'))
        return QString();
    ++pos;
    for (;;) {
        skipSpace(json, pos);
        if (pos >= json.size() || json.at(pos) == QLatin1Char('}'))
            return QString();
        QString name;
        if (!readString(json, pos, &name))
            return QString();
        skipSpace(json, pos);
        if (pos >= json.size() || json.at(pos) != QLatin1Char(':'))
            return QString();
        ++pos;
        skipSpace(json, pos);
        const int start = pos;
        if (!skipValue(json, pos))
            return QString();
        if (name == key)
            return json.mid(start, pos - start);
        skipSpace(json, pos);
        if (pos >= json.size())
            return QString();
        if (json.at(pos) == QLatin1Char(','))
            ++pos;
        else
            return QString();
    }
}

QString addSourceSystemMember(const QString &object)
{
    static const QString member = QStringLiteral("\"sourceSystem\":\"Nimbra\"");
    int last = object.size() - 1;
    while (last >= 0 && isJsonSpace(object.at(last)))
        --last;
    int first = 0;
    while (first < object.size() && isJsonSpace(object.at(first)))
        ++first;
    if (last > first && object.at(first) == QLatin1Char('{') && object.at(last) == QLatin1Char('}')) {
        int end = last - 1; // last character of the last member, if any
        while (end > first && isJsonSpace(object.at(end)))
            --end;
        const bool empty = end == first;
        QString out = object;
        out.insert(end + 1, empty ? member : QLatin1Char(',') + member);
        return out;
    }
    // Not an object text: keep the historical placement after the last double quote.
    QString out = object;
    out.insert(object.lastIndexOf(QLatin1Char('"')) + 1, QLatin1Char(',') + member);
    return out;
}

} // namespace Veltro
