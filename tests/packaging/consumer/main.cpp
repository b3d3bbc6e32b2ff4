// A host of the installed library: umbrella header, exported codec; exit 0 when a text survives the round trip.
#include <veltroclient/veltroclient.h>

#include <cstdio>

int main()
{
    const QString text = QString::fromUtf8("consumer round trip: Grüße, 世界");
    QString payload, restored;
    if (!LzmaCompress64(text, &payload) || !LzmaDecompress64(payload, &restored) || restored != text) {
        std::fprintf(stderr, "round trip failed\n");
        return 1;
    }
    std::printf("ok %d qt %s\n", int(payload.size()), qVersion());
    return 0;
}
