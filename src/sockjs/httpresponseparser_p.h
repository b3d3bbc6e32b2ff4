// HTTP/1.1 response reader for the XHR worker's raw connection, free of I/O:
// it is fed the bytes as they arrive and returns header blocks, the
// newline-terminated SockJS frames of each body, and the end of each body.
#pragma once

#include "qstringmap.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Veltro {

class HttpResponseParser
{
public:
    /// Largest header block accepted; a longer one is a protocol error.
    static constexpr int MAX_HEADER_BYTES = 16 * 1024;
    /// Default bound of one frame (and of a chunk's declared size): a larger
    /// frame is a protocol error rather than unbounded memory. On its way to
    /// the handler a frame byte costs up to about 25 more at the peak (text
    /// forms, the JSON reader, the message list: a frame of empty messages),
    /// about 14 for one large payload, so 8 MiB keeps any single frame under
    /// a quarter gigabyte (bench/hostile measures both).
    static constexpr qint64 MAX_PENDING_BYTES = 8 * 1024 * 1024;

    struct Event
    {
        enum Kind { Headers, Frame, End };
        Kind kind = End;
        int status = 0;          ///< Headers: the status code
        QStringMap headers;      ///< Headers: name -> value (value trimmed)
        bool chunked = false;    ///< Headers: the body is chunked
        qint64 contentLength = -1; ///< Headers: Content-Length, -1 when absent
        QByteArray data;         ///< Frame: one frame without its line feed
    };

    /// Feeds received bytes and appends what they complete to `events`.
    /// Returns false on a protocol error (malformed status line, header block
    /// over the cap, bad chunk size, bad Content-Length, oversized frame);
    /// the parser then refuses input until reset().
    bool feed(const char *data, qsizetype size, QVector<Event> *events);
    bool feed(const QByteArray &bytes, QVector<Event> *events)
    {
        return feed(bytes.constData(), bytes.size(), events);
    }

    /// The connection has closed: a body delimited by the close ends here.
    /// Returns false when a response was cut short.
    bool finish(QVector<Event> *events);

    /// Forgets everything (new connection); the frame bound stays.
    void reset();
    /// Replaces the frame bound (MAX_PENDING_BYTES by default).
    void setMaxFrameBytes(qint64 bytes) { m_maxFrame = bytes; }
    /// Body bytes come as they arrive, unsplit and unchanged, one Frame
    /// event per read (an ordinary answer, not SockJS frames); the frame
    /// bound then bounds each chunk's declared size only.
    void setWholeBody(bool whole) { m_wholeBody = whole; }

    /// True when bytes of an unfinished header block, chunk or frame are held.
    bool hasPartialData() const;
    /// True while a response has begun and its body has not ended.
    bool inResponse() const { return m_state != State::Status; }
    /// What went wrong after feed() returned false.
    QString errorString() const { return m_error; }
    /// The bytes held while incomplete (for diagnostics).
    QByteArray pendingBytes() const { return m_buffer + m_frame; }

private:
    enum class State { Status, Body, ChunkSize, ChunkData, ChunkDataEnd, Trailers, UntilClose, Failed };

    // One reader per state; see feed().
    bool readNext(qsizetype &off, QVector<Event> *events);
    bool readHeaderBlock(qsizetype &off, QVector<Event> *events);
    // The bytes a Content-Length body or a chunk still owes.
    bool readCounted(qsizetype &off, QVector<Event> *events);
    bool readUntilClose(qsizetype &off, QVector<Event> *events);
    bool readChunkSize(qsizetype &off);
    bool readChunkEnd(qsizetype &off);
    bool readTrailer(qsizetype &off, QVector<Event> *events);
    bool parseHeaderBlock(const QByteArray &block, QVector<Event> *events);
    bool parseStatusLine(const QByteArray &line, int *status);
    static QStringMap parseHeaderLines(const QList<QByteArray> &lines);
    bool bodyBytes(const char *data, qsizetype size, QVector<Event> *events);
    void endBody(QVector<Event> *events);
    bool fail(const QString &why);

    State m_state = State::Status;
    QByteArray m_buffer;       // unparsed bytes (header block, size lines)
    QByteArray m_frame;        // body bytes of the frame in progress
    qint64 m_remaining = 0;    // bytes left in the Content-Length body or chunk
    qint64 m_maxFrame = MAX_PENDING_BYTES;
    bool m_wholeBody = false;
    QString m_error;
};

} // namespace Veltro
