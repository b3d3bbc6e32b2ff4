// Internals of the LZMA text codec: the 13-byte-header format and the coder
// state behind it. Not installed.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <lzma.h>

namespace Veltro {

/// Header: properties byte, dictionary size (LE32), uncompressed size (LE32),
/// four bytes the decoder ignores. The stream follows it.
constexpr int LZMA_HEADER_SIZE = 13;

/// The declared-size value meaning "unknown, ends with the end marker"
/// (written by stand-alone encoders that stream, e.g. `xz --format=lzma`).
constexpr quint32 LZMA_UNKNOWN_SIZE = 0xFFFFFFFFu;

/// The most an LZMA stream of `streamBytes` bytes can restore to. The cheapest
/// symbol (a repeated 273-byte match, 14 binary decisions of at least 0.021
/// bits each) caps the ratio near 1:7300; this bound leaves a margin on both
/// the factor and the constant so no valid stream is ever refused.
constexpr qint64 lzmaMaxDecodedSizeFor(qint64 streamBytes)
{
    return streamBytes * 8192 + 65536;
}

/// The encoder's match finder. A coder clears the finder's hash tables each
/// time it starts; with the level-0 dictionary those are 528 KB for 4 hash
/// bytes and half that for 3, which makes a 1 KiB message about 8% faster to
/// compress. Three hash bytes give the same output size on the benchmark's
/// inputs (within a few bytes either way), and peers decode any match
/// finder's stream.
constexpr lzma_match_finder ENCODER_MATCH_FINDER = LZMA_MF_HC3;

/// One encoder and one decoder. A coder may be reused for several messages
/// (liblzma then keeps its buffers); it is not thread-safe, so each call of the
/// free functions below uses its own.
class LzmaCoder
{
public:
    LzmaCoder() = default;
    ~LzmaCoder();
    LzmaCoder(const LzmaCoder &) = delete;
    LzmaCoder &operator=(const LzmaCoder &) = delete;

    /// The match finder the encoder uses (default ENCODER_MATCH_FINDER). Any
    /// choice writes a standard stream; it changes only speed and size.
    void setMatchFinder(lzma_match_finder mf) { m_matchFinder = mf; }

    /// Encodes `data` into the header format (end marker written). Returns
    /// false, leaving `*out` untouched, when the encoder fails or the result
    /// would exceed 13 + n + n/3 + 128 bytes.
    bool encode(const char *data, qsizetype size, QByteArray *out);

    /// Decodes the header format. `*out` receives the bytes actually decoded
    /// (the declared size or fewer, when an end marker comes first). Returns
    /// false, leaving `*out` untouched, on a short, truncated, corrupt or
    /// implausibly large payload; never reads outside [data, data + size).
    bool decode(const char *data, qsizetype size, QByteArray *out);

private:
    bool decodeKnownSize(const lzma_options_lzma &base, const char *stream, qsizetype streamSize,
                         quint32 declared, QByteArray *out);
    bool decodeToMarker(const lzma_options_lzma &base, const char *stream, qsizetype streamSize,
                        qint64 limit, QByteArray *buffer);

    lzma_match_finder m_matchFinder = ENCODER_MATCH_FINDER;
    lzma_stream m_enc = LZMA_STREAM_INIT;
    lzma_stream m_dec = LZMA_STREAM_INIT;
};

} // namespace Veltro

/// Raw bytes to the 13-byte-header format. Returns false, `*out` untouched, on failure.
bool lzmaEncodeWithHeader(const QByteArray &data, QByteArray *out);

/// LzmaCompress64 through a coder the caller keeps between messages, so its
/// buffers are allocated once (a worker thread keeps one for its lifetime).
bool lzmaCompress64(Veltro::LzmaCoder &coder, const QString &text, QString *out);

/// The 13-byte-header format to raw bytes (the QByteArray keeps its own
/// terminating zero). Returns false, `*out` untouched, on failure.
bool lzmaDecodeWithHeader(const QByteArray &data, QByteArray *out);
