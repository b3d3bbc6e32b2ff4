#include "roundtripmeter_p.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t');
}

qsizetype skipBlanks(const QString &text, qsizetype i)
{
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    return i;
}

// The JSON string starting at the quote `i` (unescaped), and where it ends
// (just past its closing quote); -1 when there is none.
QString stringAt(const QString &text, qsizetype i, qsizetype *end)
{
    *end = -1;
    if (i >= text.size() || text.at(i) != QLatin1Char('"'))
        return QString();
    bool escaped = false;
    for (qsizetype j = i + 1; j < text.size(); ++j) {
        const QChar c = text.at(j);
        if (c == QLatin1Char('\\')) {
            escaped = true;
            ++j;
            continue;
        }
        if (c != QLatin1Char('"'))
            continue;
        *end = j + 1;
        if (!escaped)
            return text.mid(i + 1, j - i - 1);
        const QJsonArray a =
            QJsonDocument::fromJson((QLatin1Char('[') + text.mid(i, j + 1 - i) + QLatin1Char(']')).toUtf8()).array();
        return a.at(0).toString();
    }
    return QString();
}

// Where the value of `"member"` starts (after the colon), searching [from, to).
qsizetype valueOf(const QString &text, QLatin1String member, qsizetype from, qsizetype to)
{
    qsizetype at = QStringView(text).mid(from, to - from).indexOf(member);
    if (at < 0)
        return -1;
    at += from;
    qsizetype i = skipBlanks(text, at + member.size());
    if (i >= text.size() || text.at(i) != QLatin1Char(':'))
        return -1;
    return skipBlanks(text, i + 1);
}

} // namespace

QString RoundTripMeter::key(const QString &type, QStringView payload)
{
    // The payload can be a megabyte of compressed text: its length and the
    // hash of its two ends stand for it (two different compressed texts of one
    // length that agree on both ends are as good as never met; if they were, a
    // round trip would be timed against its twin).
    const qsizetype ends = 256;
    const QStringView sample = payload.size() <= 2 * ends ? payload : payload.left(ends);
    const size_t hash = qHash(sample) ^ (payload.size() <= 2 * ends ? 0 : qHash(payload.right(ends)) * 31);
    return type + QLatin1Char('\n') + QString::number(quint64(hash)) + QLatin1Char(':')
           + QString::number(payload.size());
}

QString RoundTripMeter::keyOfFrame(const QString &frame, const QString &prefix)
{
    if (!frame.startsWith(prefix))
        return QString();
    const qsizetype body = prefix.size();
    // "data" holds one Base64 text: the envelope's and the compiled message object's.
    qsizetype i = valueOf(frame, QLatin1String("\"data\""), body, frame.size());
    if (i < 0 || i >= frame.size() || frame.at(i) != QLatin1Char('['))
        return QString();
    const qsizetype dataAt = i;
    const qsizetype open = skipBlanks(frame, i + 1);
    if (open >= frame.size() || frame.at(open) != QLatin1Char('"'))
        return QString();
    const qsizetype close = frame.indexOf(QLatin1Char('"'), open + 1);
    if (close < 0)
        return QString();
    const qsizetype after = skipBlanks(frame, close + 1);
    if (after >= frame.size() || frame.at(after) != QLatin1Char(']'))
        return QString();
    // The envelope names its type before the payload, a message object after it.
    qsizetype t = valueOf(frame, QLatin1String("\"type\""), body, dataAt);
    if (t < 0)
        t = valueOf(frame, QLatin1String("\"type\""), after, frame.size());
    qsizetype end = -1;
    const QString type = t < 0 ? QString() : stringAt(frame, t, &end);
    if (end < 0)
        return QString();
    return key(type, QStringView(frame).mid(open + 1, close - open - 1));
}

void RoundTripMeter::expire(qint64 nowMs)
{
    while (!m_waiting.empty() && nowMs - m_waiting.front().sentMs > EXPIRY_MS)
        m_waiting.pop_front();
}

void RoundTripMeter::sent(const QString &key, qint64 nowMs)
{
    expire(nowMs);
    if (int(m_waiting.size()) >= MAX_WAITING)
        m_waiting.pop_front();
    m_waiting.push_back({key, nowMs});
}

bool RoundTripMeter::echoed(const QString &key, qint64 nowMs)
{
    expire(nowMs);
    const auto it = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const Waiting &w) { return w.key == key; });
    if (it == m_waiting.end())
        return false;
    m_samples.append(int(qBound(qint64(0), nowMs - it->sentMs, qint64(EXPIRY_MS))));
    m_waiting.erase(it);
    if (m_samples.size() > SAMPLES)
        m_samples.removeFirst();
    const int now = value();
    const int change = qAbs(now - m_reported);
    if (m_reported >= 0 && (change < MIN_CHANGE_MS || 4 * change < m_reported))
        return false;
    m_reported = now;
    return true;
}

bool RoundTripMeter::clear()
{
    m_waiting.clear();
    m_samples.clear();
    if (m_reported < 0)
        return false;
    m_reported = -1;
    return true;
}

int RoundTripMeter::value() const
{
    if (m_samples.isEmpty())
        return -1;
    QList<int> sorted = m_samples;
    std::sort(sorted.begin(), sorted.end());
    return sorted.at(sorted.size() / 2);
}
