#include "bytelist_p.h"

#include <QJsonArray>
#include <QJsonValue>


namespace Veltro {

namespace {

// Nesting deeper than this is left to the JSON reader (which refuses it).
constexpr int MAX_DEPTH = 512;

// Truncation toward zero within the range where it is defined.
char byteOfDouble(double d)
{
    return (d > -9.2e18 && d < 9.2e18) ? char(qint64(d) & 0xFF) : char(0);
}

class Scanner
{
public:
    explicit Scanner(const QString &t) : s(t.constData()), n(t.size()) {}

    const QChar *s;
    int n;
    int pos = 0;

    bool at(char c) const { return pos < n && s[pos] == QLatin1Char(c); }

    void skipSpace()
    {
        while (pos < n && (s[pos] == QLatin1Char(' ') || s[pos] == QLatin1Char('\t') || s[pos] == QLatin1Char('\n')
                           || s[pos] == QLatin1Char('\r')))
            ++pos;
    }

    bool literal(const char *word)
    {
        int p = pos;
        for (; *word; ++word, ++p) {
            if (p >= n || s[p] != QLatin1Char(*word))
                return false;
        }
        pos = p;
        return true;
    }

    // A string literal; its decoded text goes to *text when given.
    bool string(QString *text)
    {
        if (!at('"'))
            return false;
        ++pos;
        while (pos < n) {
            const ushort c = s[pos++].unicode();
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\') {
                if (text)
                    text->append(QChar(c));
                continue;
            }
            if (pos >= n)
                return false;
            const ushort e = s[pos++].unicode();
            ushort out;
            switch (e) {
            case '"': case '\\': case '/': out = e; break;
            case 'b': out = '\b'; break;
            case 'f': out = '\f'; break;
            case 'n': out = '\n'; break;
            case 'r': out = '\r'; break;
            case 't': out = '\t'; break;
            case 'u': {
                if (pos + 4 > n)
                    return false;
                out = 0;
                for (int i = 0; i < 4; ++i) {
                    const ushort h = s[pos++].unicode();
                    const int v = h >= '0' && h <= '9' ? h - '0'
                                : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
                    if (v < 0)
                        return false;
                    out = ushort(out * 16 + v);
                }
                break;
            }
            default:
                return false;
            }
            if (text)
                text->append(QChar(out));
        }
        return false;
    }

    // A number as JSON writes it; its value goes to *value when given.
    bool number(double *value)
    {
        const int start = pos;
        if (at('-'))
            ++pos;
        if (at('0')) {
            ++pos;
        } else if (pos < n && s[pos] >= QLatin1Char('1') && s[pos] <= QLatin1Char('9')) {
            while (pos < n && s[pos].isDigit() && s[pos].unicode() < 128)
                ++pos;
        } else {
            return false;
        }
        if (at('.')) {
            ++pos;
            if (!digits())
                return false;
        }
        if (at('e') || at('E')) {
            ++pos;
            if (at('+') || at('-'))
                ++pos;
            if (!digits())
                return false;
        }
        if (pos - start <= 18) {
            // Plain integers, what devices send, without the general conversion.
            bool plain = true;
            qint64 v = 0;
            for (int i = start + (s[start] == QLatin1Char('-') ? 1 : 0); i < pos && plain; ++i) {
                const ushort c = s[i].unicode();
                plain = c >= '0' && c <= '9';
                v = v * 10 + (c - '0');
            }
            if (plain) {
                if (value)
                    *value = double(s[start] == QLatin1Char('-') ? -v : v);
                return true;
            }
        }
        // Converted as the JSON reader converts it, which refuses what does
        // not fit a double.
        QByteArray token(pos - start, Qt::Uninitialized);
        for (int i = 0; i < token.size(); ++i)
            token[i] = char(s[start + i].unicode());
        bool ok = false;
        const double d = token.toDouble(&ok);
        if (value)
            *value = d;
        return ok;
    }

    bool digits()
    {
        const int start = pos;
        while (pos < n && s[pos].unicode() >= '0' && s[pos].unicode() <= '9')
            ++pos;
        return pos > start;
    }

    // Any value; leaves pos after it.
    bool value(int depth)
    {
        if (pos >= n || depth > MAX_DEPTH)
            return false;
        switch (s[pos].unicode()) {
        case '"': return string(nullptr);
        case '{': return members(depth, nullptr, nullptr);
        case '[': {
            ++pos;
            skipSpace();
            if (at(']')) {
                ++pos;
                return true;
            }
            for (;;) {
                skipSpace();
                if (!value(depth + 1))
                    return false;
                skipSpace();
                if (at(']')) {
                    ++pos;
                    return true;
                }
                if (!at(','))
                    return false;
                ++pos;
            }
        }
        case 't': return literal("true");
        case 'f': return literal("false");
        case 'n': return literal("null");
        default: return number(nullptr);
        }
    }

    // An object; records where the value of the last member named `key` lies.
    bool members(int depth, const QString *key, QPair<int, int> *span)
    {
        if (!at('{'))
            return false;
        ++pos;
        skipSpace();
        if (at('}')) {
            ++pos;
            return true;
        }
        for (;;) {
            skipSpace();
            QString name;
            if (!string(&name))
                return false;
            skipSpace();
            if (!at(':'))
                return false;
            ++pos;
            skipSpace();
            const int start = pos;
            if (!value(depth + 1))
                return false;
            if (key && name == *key)
                *span = qMakePair(start, pos);
            skipSpace();
            if (at('}')) {
                ++pos;
                return true;
            }
            if (!at(','))
                return false;
            ++pos;
        }
    }
};

// The low 8 bits of one element, as the variant conversion gives them.
char byteOfElement(Scanner &sc, bool *ok)
{
    const ushort c = sc.s[sc.pos].unicode();
    if (c == '"') {
        QString text;
        *ok = sc.string(&text);
        bool isNumber = false;
        const qlonglong v = text.toLongLong(&isNumber);
        return isNumber ? char(v & 0xFF) : char(0);
    }
    if (c == 't') {
        *ok = sc.literal("true");
        return 1;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
        double d = 0;
        *ok = sc.number(&d);
        return byteOfDouble(d);
    }
    *ok = sc.value(1);
    return 0;
}

} // namespace

QByteArray byteListOf(const QJsonArray &array, qint64 maxBytes, bool *tooLong)
{
    *tooLong = array.size() > maxBytes;
    if (*tooLong)
        return QByteArray();
    QByteArray out(array.size(), Qt::Uninitialized);
    char *p = out.data();
    for (const QJsonValue v : array) {
        bool isNumber = false;
        const qlonglong n = v.isString() ? v.toString().toLongLong(&isNumber) : 0;
        *p++ = v.isString() ? (isNumber ? char(n & 0xFF) : char(0))
             : v.isBool()   ? char(v.toBool() ? 1 : 0)
                            : byteOfDouble(v.toDouble()); // 0 for null, arrays and objects
    }
    return out;
}

bool takeByteList(const QString &frame, qint64 maxBytes, QString *rest, QByteArray *bytes, bool *tooLong)
{
    // Where the last "body" lies, then the last "data" within it.
    Scanner root(frame);
    root.skipSpace();
    const QString bodyKey = QStringLiteral("body");
    QPair<int, int> body(-1, -1);
    if (!root.members(0, &bodyKey, &body) || body.first < 0)
        return false;
    Scanner inBody(frame);
    inBody.pos = body.first;
    const QString dataKey = QStringLiteral("data");
    QPair<int, int> data(-1, -1);
    if (!inBody.members(1, &dataKey, &data) || data.first < 0)
        return false;

    Scanner list(frame);
    list.n = data.second;
    list.pos = data.first;
    if (!list.at('['))
        return false;
    ++list.pos;
    list.skipSpace();
    if (list.at(']') || list.at('"'))
        return false;   // empty, or pieces of text: not a byte list

    QByteArray out;
    qint64 count = 0;
    for (;;) {
        list.skipSpace();
        if (list.pos >= list.n)
            return false;
        bool ok = false;
        const char b = byteOfElement(list, &ok);
        if (!ok)
            return false;
        if (++count <= maxBytes)
            out.append(b);
        list.skipSpace();
        if (list.at(']'))
            break;
        if (!list.at(','))
            return false;
        ++list.pos;
    }
    *tooLong = count > maxBytes;
    *bytes = *tooLong ? QByteArray() : out;
    *rest = frame.left(data.first) + QStringLiteral("null") + frame.mid(data.second);
    return true;
}

} // namespace Veltro
