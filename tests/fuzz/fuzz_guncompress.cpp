// libFuzzer target: HTTP bodies through gUncompress.
#include "gzip.h"
#include "testsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        quietLibraryLogging(true);
        return true;
    }();
    Q_UNUSED(quiet);
    const QByteArray out = gUncompress(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    if (out.size() > 64 * 1024 * 1024)
        __builtin_trap();
    return 0;
}
