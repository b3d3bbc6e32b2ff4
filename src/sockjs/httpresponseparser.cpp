#include "httpresponseparser_p.h"

#include <limits>

namespace Veltro {

namespace {

const QByteArray STATUS_MARK = QByteArrayLiteral("HTTP/");
constexpr int MAX_SIZE_LINE = 1024;

// Length of the longest tail of `buf` that could begin a status line.
int statusPrefixTail(const QByteArray &buf)
{
    for (int n = qMin<int>(STATUS_MARK.size() - 1, buf.size()); n > 0; --n) {
        if (buf.endsWith(STATUS_MARK.left(n)))
            return n;
    }
    return 0;
}

QByteArray stripCR(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// The value of header `name`, whatever its case; false when there is none.
bool findHeader(const QStringMap &headers, const char *name, QString *value)
{
    const QString wanted = QLatin1String(name);
    for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
        if (it.key().compare(wanted, Qt::CaseInsensitive) == 0) {
            *value = it.value();
            return true;
        }
    }
    return false;
}

// Decimal or hexadecimal digits only; false on anything else or overflow.
bool parseUnsigned(const QByteArray &text, int base, qint64 *out)
{
    if (text.isEmpty())
        return false;
    const qint64 limit = std::numeric_limits<qint64>::max() / base - 16;
    qint64 value = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (value > limit)
            return false;
        value = value * base + digit;
    }
    *out = value;
    return true;
}

} // namespace

bool HttpResponseParser::fail(const QString &why)
{
    m_state = State::Failed;
    m_error = why;
    m_buffer.clear();
    m_frame.clear();
    return false;
}

void HttpResponseParser::reset()
{
    m_state = State::Status;
    m_buffer.clear();
    m_frame.clear();
    m_remaining = 0;
    m_error.clear();
}

bool HttpResponseParser::hasPartialData() const
{
    switch (m_state) {
    case State::Body:
    case State::ChunkData:
    case State::ChunkDataEnd:
    case State::Trailers:
        return true;
    default:
        return !m_buffer.isEmpty() || !m_frame.isEmpty();
    }
}

bool HttpResponseParser::bodyBytes(const char *data, qsizetype size, QVector<Event> *events)
{
    if (m_wholeBody) {
        if (size > 0) {
            Event ev;
            ev.kind = Event::Frame;
            ev.data = QByteArray(data, size);
            events->append(std::move(ev));
        }
        return true;
    }
    qsizetype start = 0;
    while (start < size) {
        const char *nl = static_cast<const char *>(memchr(data + start, '\n', size - start));
        const qsizetype end = nl ? nl - data : size;
        // Complete or not: a frame that arrives whole in one read counts too.
        if (m_frame.size() + (end - start) > m_maxFrame)
            return fail(QStringLiteral("frame exceeds %1 bytes").arg(m_maxFrame));
        if (!nl) {
            m_frame.append(data + start, size - start);
            return true;
        }
        Event ev;
        ev.kind = Event::Frame;
        if (m_frame.isEmpty()) {
            ev.data = QByteArray(data + start, end - start);
        } else {
            m_frame.append(data + start, end - start);
            ev.data.swap(m_frame);
        }
        if (ev.data.endsWith('\r'))
            ev.data.chop(1);
        if (!ev.data.isEmpty())
            events->append(std::move(ev));
        start = end + 1;
    }
    return true;
}

void HttpResponseParser::endBody(QVector<Event> *events)
{
    if (!m_frame.isEmpty()) {
        Event ev;
        ev.kind = Event::Frame;
        ev.data.swap(m_frame);
        events->append(std::move(ev));
    }
    Event end;
    end.kind = Event::End;
    events->append(std::move(end));
    m_state = State::Status;
    m_remaining = 0;
}

bool HttpResponseParser::parseStatusLine(const QByteArray &line, int *status)
{
    // "HTTP/1.1 200 OK": the code is the three digits after the first blank.
    const int sp = line.indexOf(' ');
    qint64 code = 0;
    if (sp < 0 || !parseUnsigned(line.mid(sp + 1, 3), 10, &code) || code < 100 || code > 999
        || (line.size() > sp + 4 && line.at(sp + 4) != ' '))
        return fail(QStringLiteral("malformed status line"));
    *status = int(code);
    return true;
}

QStringMap HttpResponseParser::parseHeaderLines(const QList<QByteArray> &lines)
{
    QStringMap headers;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = stripCR(lines.at(i));
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QString name = QString::fromLatin1(line.left(colon)).trimmed();
        const QString value = QString::fromUtf8(line.mid(colon + 1)).trimmed();
        auto it = headers.find(name);
        // Several cookies may be set at once; the cookie parser splits on line feeds.
        if (it != headers.end() && name.compare(QLatin1String("Set-Cookie"), Qt::CaseInsensitive) == 0)
            it.value() += QLatin1Char('\n') + value;
        else
            headers.insert(name, value);
    }
    return headers;
}

bool HttpResponseParser::parseHeaderBlock(const QByteArray &block, QVector<Event> *events)
{
    const QList<QByteArray> lines = block.split('\n');
    Event ev;
    ev.kind = Event::Headers;
    if (!parseStatusLine(stripCR(lines.value(0)), &ev.status))
        return false;
    ev.headers = parseHeaderLines(lines);

    if (ev.status < 200)   // interim response (100 Continue): the real one follows
        return true;

    QString value;
    ev.chunked = findHeader(ev.headers, "Transfer-Encoding", &value)
        && value.section(QLatin1Char(','), -1).trimmed().compare(QLatin1String("chunked"), Qt::CaseInsensitive) == 0;
    if (findHeader(ev.headers, "Content-Length", &value)) {
        qint64 length = 0;
        if (!parseUnsigned(value.toLatin1(), 10, &length))
            return fail(QStringLiteral("bad Content-Length"));
        ev.contentLength = length;
    }
    const bool noBody = ev.status == 204 || ev.status == 304;
    events->append(ev);

    if (noBody) {
        endBody(events);
    } else if (ev.chunked) {
        m_state = State::ChunkSize;
    } else if (ev.contentLength >= 0) {
        m_remaining = ev.contentLength;
        m_state = State::Body;
        if (m_remaining == 0)
            endBody(events);
    } else {
        m_state = State::UntilClose;
    }
    return true;
}

// Each reader below takes what its state can use from m_buffer at `off`
// and returns true when the next state may read on, false when it needs
// more bytes or the response was refused (m_state is then Failed).

bool HttpResponseParser::readHeaderBlock(qsizetype &off, QVector<Event> *events)
{
    if (off >= m_buffer.size())
        return false;
    // Stray bytes in front of a status line are skipped.
    const int at = m_buffer.indexOf(STATUS_MARK, int(off));
    if (at < 0) {
        // Keep only unread bytes that could begin a status line.
        off = qMax<qsizetype>(off, m_buffer.size() - statusPrefixTail(m_buffer.mid(int(off))));
        return false;
    }
    off = at;
    int end = m_buffer.indexOf("\r\n\r\n", int(off));
    int sepLen = 4;
    const int lfOnly = m_buffer.indexOf("\n\n", int(off));
    if (lfOnly >= 0 && (end < 0 || lfOnly < end)) {
        end = lfOnly;
        sepLen = 2;
    }
    const qsizetype blockSize = (end < 0 ? m_buffer.size() : end) - off;
    if (blockSize > MAX_HEADER_BYTES)
        return fail(QStringLiteral("header block exceeds %1 bytes").arg(MAX_HEADER_BYTES));
    if (end < 0)
        return false;
    const QByteArray block = m_buffer.mid(int(off), int(end - off));
    off = end + sepLen;
    return parseHeaderBlock(block, events);
}

bool HttpResponseParser::readCounted(qsizetype &off, QVector<Event> *events)
{
    const qsizetype take = qMin<qint64>(m_buffer.size() - off, m_remaining);
    if (take == 0)
        return false;
    if (!bodyBytes(m_buffer.constData() + off, take, events))
        return false;
    off += take;
    m_remaining -= take;
    if (m_remaining > 0)
        return true;
    // A sized body ends here; a chunk still owes its line end.
    if (m_state == State::Body)
        endBody(events);
    else
        m_state = State::ChunkDataEnd;
    return true;
}

bool HttpResponseParser::readUntilClose(qsizetype &off, QVector<Event> *events)
{
    const qsizetype avail = m_buffer.size() - off;
    if (avail > 0 && !bodyBytes(m_buffer.constData() + off, avail, events))
        return false;
    off += avail;
    return false;   // everything is read; the rest comes with the close
}

bool HttpResponseParser::readChunkSize(qsizetype &off)
{
    const int nl = m_buffer.indexOf('\n', int(off));
    if (nl < 0) {
        if (m_buffer.size() - off > MAX_SIZE_LINE)
            return fail(QStringLiteral("chunk size line too long"));
        return false;
    }
    QByteArray line = stripCR(m_buffer.mid(int(off), int(nl - off)));
    off = nl + 1;
    const int ext = line.indexOf(';');
    if (ext >= 0)
        line.truncate(ext);
    qint64 chunkSize = 0;
    if (!parseUnsigned(line.trimmed(), 16, &chunkSize) || chunkSize > m_maxFrame)
        return fail(QStringLiteral("bad chunk size"));
    if (chunkSize == 0) {
        m_state = State::Trailers;
    } else {
        m_remaining = chunkSize;
        m_state = State::ChunkData;
    }
    return true;
}

bool HttpResponseParser::readChunkEnd(qsizetype &off)
{
    const qsizetype avail = m_buffer.size() - off;
    if (avail == 0)
        return false;
    const char c = m_buffer.at(int(off));
    if (c == '\r') {
        if (avail < 2)
            return false;
        if (m_buffer.at(int(off + 1)) != '\n')
            return fail(QStringLiteral("chunk not terminated by a line end"));
        off += 2;
    } else if (c == '\n') {
        off += 1;
    } else {
        return fail(QStringLiteral("chunk not terminated by a line end"));
    }
    m_state = State::ChunkSize;
    return true;
}

bool HttpResponseParser::readTrailer(qsizetype &off, QVector<Event> *events)
{
    const int nl = m_buffer.indexOf('\n', int(off));
    if (nl < 0) {
        if (m_buffer.size() - off > MAX_HEADER_BYTES)
            return fail(QStringLiteral("trailer exceeds %1 bytes").arg(MAX_HEADER_BYTES));
        return false;
    }
    const QByteArray line = stripCR(m_buffer.mid(int(off), int(nl - off)));
    off = nl + 1;
    if (line.isEmpty())
        endBody(events);
    return true;
}

bool HttpResponseParser::readNext(qsizetype &off, QVector<Event> *events)
{
    switch (m_state) {
    case State::Status:
        return readHeaderBlock(off, events);
    case State::Body:
    case State::ChunkData:
        return readCounted(off, events);
    case State::UntilClose:
        return readUntilClose(off, events);
    case State::ChunkSize:
        return readChunkSize(off);
    case State::ChunkDataEnd:
        return readChunkEnd(off);
    case State::Trailers:
        return readTrailer(off, events);
    case State::Failed:
        break;
    }
    return false;
}

bool HttpResponseParser::feed(const char *data, qsizetype size, QVector<Event> *events)
{
    if (m_state == State::Failed)
        return false;
    m_buffer.append(data, int(size));
    qsizetype off = 0;
    while (readNext(off, events)) {
    }
    if (m_state == State::Failed)
        return false;
    if (off >= m_buffer.size())
        m_buffer.clear();
    else if (off > 0)
        m_buffer.remove(0, int(off));
    return true;
}

bool HttpResponseParser::finish(QVector<Event> *events)
{
    if (m_state == State::UntilClose) {
        endBody(events);
        m_buffer.clear();
        return true;
    }
    const bool clean = m_state == State::Status && m_buffer.isEmpty();
    reset();
    return clean;
}

} // namespace Veltro
