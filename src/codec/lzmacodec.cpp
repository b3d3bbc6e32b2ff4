#include "lzmacodec.h"
#include "lzmacodec_p.h"

#include <cstring>
#include <limits>

namespace Veltro {

namespace {

constexpr quint32 ENCODER_DICT_SIZE = 16384;
constexpr quint8 ENCODER_PROPERTIES = (2 * 5 + 0) * 9 + 3; // pb 2, lp 0, lc 3 = 0x5D
// Smallest dictionary the decoder works with; smaller header values are raised to it.
constexpr quint32 MIN_DICT_SIZE = 4096;
constexpr int MIN_PAYLOAD_SIZE = LZMA_HEADER_SIZE + 1;

quint32 readLE32(const char *p)
{
    const auto *u = reinterpret_cast<const uchar *>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

void writeLE32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char(v >> (8 * i));
}

// Runs the coder with all its input present until it ends, fails or stalls
// (liblzma reports a stall, input used up or output full, as LZMA_BUF_ERROR).
lzma_ret runToEnd(lzma_stream *s)
{
    lzma_ret ret;
    do {
        ret = lzma_code(s, LZMA_FINISH);
    } while (ret == LZMA_OK);
    return ret;
}

// LZMA-JS, which devices run, writes characters outside the BMP as two
// three-byte surrogates (CESU-8). Strict UTF-8 would turn them into U+FFFD, so
// surrogate pairs are joined before decoding; everything else is left as is.
QByteArray joinEncodedSurrogates(const char *p, qsizetype n)
{
    const auto *u = reinterpret_cast<const uchar *>(p);
    QByteArray fixed;
    fixed.reserve(int(n));
    qsizetype i = 0;
    while (i < n) {
        if (i + 6 <= n && u[i] == 0xED && (u[i + 1] & 0xF0) == 0xA0 && (u[i + 2] & 0xC0) == 0x80
            && u[i + 3] == 0xED && (u[i + 4] & 0xF0) == 0xB0 && (u[i + 5] & 0xC0) == 0x80) {
            const uint hi = 0xD000u | uint(u[i + 1] & 0x3F) << 6 | uint(u[i + 2] & 0x3F);
            const uint lo = 0xD000u | uint(u[i + 4] & 0x3F) << 6 | uint(u[i + 5] & 0x3F);
            const uint cp = 0x10000u + ((hi - 0xD800u) << 10) + (lo - 0xDC00u);
            fixed.append(char(0xF0 | (cp >> 18)));
            fixed.append(char(0x80 | ((cp >> 12) & 0x3F)));
            fixed.append(char(0x80 | ((cp >> 6) & 0x3F)));
            fixed.append(char(0x80 | (cp & 0x3F)));
            i += 6;
        } else {
            fixed.append(char(u[i]));
            ++i;
        }
    }
    return fixed;
}

// The restored text: the bytes up to the first zero byte, read as UTF-8.
QString textFromBytes(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    const void *zero = std::memchr(p, 0, size_t(bytes.size()));
    const qsizetype n = zero ? static_cast<const char *>(zero) - p : bytes.size();
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (uchar(p[i]) == 0xED && (uchar(p[i + 1]) & 0xF0) == 0xA0)
            return QString::fromUtf8(joinEncodedSurrogates(p, n));
    }
    return QString::fromUtf8(p, int(n));
}

} // namespace

LzmaCoder::~LzmaCoder()
{
    lzma_end(&m_enc);
    lzma_end(&m_dec);
}

bool LzmaCoder::encode(const char *data, qsizetype size, QByteArray *out)
{
    const qint64 n = size;
    const qint64 capacity = n + n / 3 + 128;
    if (n < 0 || capacity > std::numeric_limits<int>::max() - LZMA_HEADER_SIZE)
        return false;

    lzma_options_lzma opt;
    if (lzma_lzma_preset(&opt, 0))
        return false;
    opt.dict_size = ENCODER_DICT_SIZE;
    opt.lc = 3;
    opt.lp = 0;
    opt.pb = 2;
    opt.mode = LZMA_MODE_FAST;
    opt.mf = m_matchFinder;
    opt.nice_len = 32;
    opt.depth = 16;
    // Plain LZMA1 always ends the stream with the end marker.
    const lzma_filter filters[] = { { LZMA_FILTER_LZMA1, &opt }, { LZMA_VLI_UNKNOWN, nullptr } };
    if (lzma_raw_encoder(&m_enc, filters) != LZMA_OK)
        return false;

    QByteArray buffer(int(LZMA_HEADER_SIZE + capacity), Qt::Uninitialized);
    char *h = buffer.data();
    h[0] = char(ENCODER_PROPERTIES);
    writeLE32(h + 1, ENCODER_DICT_SIZE);
    writeLE32(h + 5, quint32(n));
    writeLE32(h + 9, 0);

    m_enc.next_in = reinterpret_cast<const uint8_t *>(data);
    m_enc.avail_in = size_t(n);
    m_enc.next_out = reinterpret_cast<uint8_t *>(h + LZMA_HEADER_SIZE);
    m_enc.avail_out = size_t(capacity);
    const lzma_ret ret = runToEnd(&m_enc);
    const qint64 produced = qint64(m_enc.total_out);
    m_enc.next_in = nullptr;
    m_enc.next_out = nullptr;
    if (ret != LZMA_STREAM_END)
        return false; // includes "output larger than the capacity"
    buffer.resize(int(LZMA_HEADER_SIZE + produced));
    *out = buffer;
    return true;
}

bool LzmaCoder::decode(const char *data, qsizetype size, QByteArray *out)
{
    if (!data || size < MIN_PAYLOAD_SIZE)
        return false;
    const uint props = uchar(data[0]);
    if (props >= 9 * 5 * 5)
        return false;
    lzma_options_lzma opt;
    std::memset(&opt, 0, sizeof opt);
    opt.lc = props % 9;
    opt.lp = (props / 9) % 5;
    opt.pb = props / 45;
    opt.dict_size = readLE32(data + 1);
    const quint32 declared = readLE32(data + 5);

    const char *stream = data + LZMA_HEADER_SIZE;
    const qsizetype streamSize = size - LZMA_HEADER_SIZE;
    const qint64 limit = qMin(LZMA_MAX_DECODED_SIZE, lzmaMaxDecodedSizeFor(streamSize));
    if (declared == LZMA_UNKNOWN_SIZE) {
        QByteArray buffer;
        if (!decodeToMarker(opt, stream, streamSize, limit, &buffer))
            return false;
        *out = buffer;
        return true;
    }
    // Refused before allocating: no stream of this length can restore to that much.
    if (qint64(declared) > limit)
        return false;
    return decodeKnownSize(opt, stream, streamSize, declared, out);
}

bool LzmaCoder::decodeKnownSize(const lzma_options_lzma &base, const char *stream,
                                qsizetype streamSize, quint32 declared, QByteArray *out)
{
    // First pass: the stream ends with its end marker at or before the
    // declared size. This is what peers write, so it takes one pass.
    QByteArray buffer(int(declared), Qt::Uninitialized);
    if (decodeToMarker(base, stream, streamSize, declared, &buffer)) {
        *out = buffer;
        return true;
    }
    if (qint64(m_dec.total_out) != qint64(declared))
        return false; // truncated or corrupt before the declared size

    // Second pass: exactly the declared size without a marker, valid when the
    // range coder ends there (or a marker follows right after).
    lzma_options_lzma opt = base;
    opt.dict_size = qBound(MIN_DICT_SIZE, opt.dict_size, qMax(MIN_DICT_SIZE, declared));
    opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma_set_ext_size(opt, declared);
    const lzma_filter exact[] = { { LZMA_FILTER_LZMA1EXT, &opt }, { LZMA_VLI_UNKNOWN, nullptr } };
    if (lzma_raw_decoder(&m_dec, exact) != LZMA_OK)
        return false;
    char dummy = 0;
    m_dec.next_in = reinterpret_cast<const uint8_t *>(stream);
    m_dec.avail_in = size_t(streamSize);
    m_dec.next_out = reinterpret_cast<uint8_t *>(declared ? buffer.data() : &dummy);
    m_dec.avail_out = declared;
    const lzma_ret ret = runToEnd(&m_dec);
    m_dec.next_in = nullptr;
    m_dec.next_out = nullptr;
    if (ret != LZMA_STREAM_END)
        return false;
    *out = buffer;
    return true;
}

// Decodes a stream that must end with its end marker within `limit` bytes.
// Uses `*buffer`'s storage when it is large enough, grows it otherwise.
bool LzmaCoder::decodeToMarker(const lzma_options_lzma &base, const char *stream,
                               qsizetype streamSize, qint64 limit, QByteArray *buffer)
{
    lzma_options_lzma opt = base;
    opt.dict_size = quint32(qBound<qint64>(MIN_DICT_SIZE, opt.dict_size, qMax<qint64>(MIN_DICT_SIZE, limit)));
    const lzma_filter filters[] = { { LZMA_FILTER_LZMA1, &opt }, { LZMA_VLI_UNKNOWN, nullptr } };
    if (lzma_raw_decoder(&m_dec, filters) != LZMA_OK)
        return false;

    qint64 capacity = buffer->size();
    if (capacity == 0) {
        capacity = qMin(limit, qMax<qint64>(4096, qint64(streamSize) * 8));
        buffer->resize(int(capacity));
    }
    char dummy = 0;
    m_dec.next_in = reinterpret_cast<const uint8_t *>(stream);
    m_dec.avail_in = size_t(streamSize);
    m_dec.next_out = reinterpret_cast<uint8_t *>(capacity ? buffer->data() : &dummy);
    m_dec.avail_out = size_t(capacity);
    lzma_ret ret;
    for (;;) {
        ret = runToEnd(&m_dec);
        if (ret != LZMA_BUF_ERROR || m_dec.avail_out > 0 || capacity >= limit)
            break;
        // Output full before the end marker: grow within the limit.
        const qint64 produced = qint64(m_dec.total_out);
        capacity = qMin(limit, capacity * 2);
        buffer->resize(int(capacity));
        m_dec.next_out = reinterpret_cast<uint8_t *>(buffer->data() + produced);
        m_dec.avail_out = size_t(capacity - produced);
    }
    const qint64 produced = qint64(m_dec.total_out);
    m_dec.next_in = nullptr;
    m_dec.next_out = nullptr;
    if (ret != LZMA_STREAM_END)
        return false;
    buffer->resize(int(produced));
    return true;
}

} // namespace Veltro

// The free functions keep no state: a fresh coder per call. Setting one up
// maps its match-finder tables anew, which on a machine with costly page
// faults outweighs compressing a small message (0.5 ms against 6 us for 64
// characters in bench/classroom's publish table); publishers that compress
// often keep a coder and use lzmaCompress64(coder, ...).
bool lzmaEncodeWithHeader(const QByteArray &data, QByteArray *out)
{
    Veltro::LzmaCoder coder;
    return coder.encode(data.constData(), data.size(), out);
}

bool lzmaDecodeWithHeader(const QByteArray &data, QByteArray *out)
{
    Veltro::LzmaCoder coder;
    return coder.decode(data.constData(), data.size(), out);
}

bool LzmaCompress64(const QString &text, QString *out)
{
    Veltro::LzmaCoder coder;
    return lzmaCompress64(coder, text, out);
}

bool lzmaCompress64(Veltro::LzmaCoder &coder, const QString &text, QString *out)
{
    const QByteArray data = text.toUtf8();
    QByteArray payload;
    if (!out || !coder.encode(data.constData(), data.size(), &payload))
        return false;
    *out = QString::fromLatin1(payload.toBase64());
    return true;
}

namespace {

bool restore(const QByteArray &payload, QString *out)
{
    QByteArray raw;
    if (!out || payload.size() < Veltro::LZMA_HEADER_SIZE + 1 || !lzmaDecodeWithHeader(payload, &raw))
        return false;
    *out = Veltro::textFromBytes(raw);
    return true;
}

// Low 8 bits of a list element's integer value; 0 for anything that is not a
// finite number (a double out of range would otherwise be undefined to convert).
char byteOf(const QVariant &v)
{
    switch (v.userType()) {
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!(d > -9.2e18 && d < 9.2e18))
            return 0;
        return char(qint64(d) & 0xFF);
    }
    default:
        return char(v.toLongLong() & 0xFF);
    }
}

// A byte list longer than the cap is refused before its payload is built.
bool plausibleListSize(qsizetype n)
{
    return n >= Veltro::LZMA_HEADER_SIZE + 1 && n <= Veltro::LZMA_MAX_DECODED_SIZE;
}

} // namespace

bool LzmaDecompress64(const QString &base64, QString *out)
{
    return restore(QByteArray::fromBase64(base64.toLatin1()), out);
}

bool LzmaDecompressList(const QVariantList &bytes, QString *out)
{
    if (!plausibleListSize(bytes.size()))
        return false;
    QByteArray payload(bytes.size(), Qt::Uninitialized);
    char *p = payload.data();
    for (const QVariant &v : bytes)
        *p++ = byteOf(v);
    return restore(payload, out);
}

bool LzmaDecompressBytes(const QByteArray &payload, QString *out)
{
    return plausibleListSize(payload.size()) && restore(payload, out);
}

bool LzmaDecompressText(const QString &text, QString *out)
{
    // "93,0,64,..." with or without brackets; every comma-separated part is a
    // decimal integer (0 when it is not one), of which the low 8 bits count.
    QByteArray payload;
    payload.reserve(text.size() / 3 + 1);
    const QChar *c = text.constData();
    const QChar *end = c + text.size();
    bool negative = false, digits = false, valid = true, seenSign = false, trailingSpace = false;
    uint acc = 0;
    auto finish = [&]() {
        const uint v = (valid && digits) ? (negative ? 0u - acc : acc) : 0u;
        payload.append(char(v & 0xFF));
        negative = digits = seenSign = trailingSpace = false;
        valid = true;
        acc = 0;
    };
    for (; c != end; ++c) {
        const ushort u = c->unicode();
        if (u == '[' || u == ']')
            continue;
        if (u == ',') {
            finish();
            if (payload.size() > Veltro::LZMA_MAX_DECODED_SIZE)
                return false; // as long as a byte list may be
        } else if (u >= '0' && u <= '9') {
            if (trailingSpace)
                valid = false;
            digits = true;
            acc = (acc * 10 + (u - '0')) & 0xFF;
        } else if ((u == '-' || u == '+') && !digits && !seenSign) {
            seenSign = true;
            negative = u == '-';
        } else if (c->isSpace() && (!seenSign || digits)) {
            if (digits)
                trailingSpace = true;
        } else {
            valid = false;
        }
    }
    finish();
    return restore(payload, out);
}
