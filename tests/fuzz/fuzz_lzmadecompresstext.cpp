// libFuzzer target: byte lists written as text through LzmaDecompressText.
#include "lzmacodec.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString out;
    LzmaDecompressText(QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)), &out);
    return 0;
}
