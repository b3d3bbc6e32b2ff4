#include "gzip.h"
#include "gzip_p.h"
#include "logging_p.h"

#include <zlib.h>

QByteArray gUncompress(const QByteArray &data)
{
    return Veltro::gUncompressLimited(data, Veltro::GZIP_MAX_INFLATED_SIZE);
}

namespace Veltro {

QByteArray gUncompressLimited(const QByteArray &data, qint64 limit, bool *tooLarge)
{
    if (tooLarge)
        *tooLarge = false;
    if (data.size() <= 4) {
        qCWarning(lcCodec) << "gUncompress: Input data is truncated";
        return QByteArray();
    }

    z_stream strm{};
    strm.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    strm.avail_in = uInt(data.size());
    // 15 + 32: a gzip or a zlib header, detected automatically.
    if (inflateInit2(&strm, 15 + 32) != Z_OK)
        return QByteArray();

    constexpr int CHUNK = 1024;
    QByteArray result;
    for (;;) {
        const int have = result.size();
        result.resize(have + CHUNK);
        strm.next_out = reinterpret_cast<Bytef *>(result.data() + have);
        strm.avail_out = CHUNK;
        const int ret = inflate(&strm, Z_NO_FLUSH);
        if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR || ret == Z_STREAM_ERROR) {
            inflateEnd(&strm);
            return QByteArray();
        }
        result.resize(have + CHUNK - int(strm.avail_out));
        if (result.size() > limit) {
            // A decompression bomb, not an answer.
            qCWarning(lcCodec) << "gUncompress: Inflated data exceeds" << limit << "bytes";
            if (tooLarge)
                *tooLarge = true;
            inflateEnd(&strm);
            return QByteArray();
        }
        if (strm.avail_out != 0 || ret == Z_STREAM_END)
            break;
    }
    inflateEnd(&strm);
    return result;
}

} // namespace Veltro
