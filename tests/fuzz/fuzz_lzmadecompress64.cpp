// libFuzzer target: Base64 payloads through LzmaDecompress64.
#include "lzmacodec.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString out;
    const QString in = QString::fromLatin1(reinterpret_cast<const char *>(data), int(size));
    if (LzmaDecompress64(in, &out)) {
        // What restores must survive our own round trip.
        QString again, back;
        if (!LzmaCompress64(out, &again) || !LzmaDecompress64(again, &back) || back != out)
            __builtin_trap();
    }
    return 0;
}
