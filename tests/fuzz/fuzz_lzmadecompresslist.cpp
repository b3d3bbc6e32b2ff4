// libFuzzer target: byte lists through LzmaDecompressList. The first input
// byte picks how elements are represented, as peers' JSON may carry them.
#include "lzmacodec.h"

#include <QString>
#include <QVariantList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0] % 4;
    QVariantList list;
    list.reserve(int(size - 1));
    for (size_t i = 1; i < size; ++i) {
        const int b = int(int8_t(data[i]));
        switch (mode) {
        case 0: list << b; break;                                  // signed, -128..127
        case 1: list << double(b) + 0.25; break;                   // JSON numbers
        case 2: list << (b & 0xFF) + 256 * int(i % 3); break;      // out of byte range
        default: list << QString::number(b); break;                // numeric strings
        }
    }
    QString out;
    LzmaDecompressList(list, &out);
    return 0;
}
