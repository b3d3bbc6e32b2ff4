// libFuzzer target: the HTTP response reader fed whole and in input-chosen pieces gives the same events; frames
// hold no line feed; memory held while incomplete stays bounded.
#include "httpresponseparser_p.h"

#include <algorithm>

using Veltro::HttpResponseParser;

namespace {

using Events = QVector<HttpResponseParser::Event>;

bool sameEvents(const Events &a, const Events &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &x, const auto &y) {
        return x.kind == y.kind && x.data == y.data && x.status == y.status && x.headers == y.headers;
    });
}

void check(const HttpResponseParser &p, const Events &events)
{
    if (p.pendingBytes().size() > HttpResponseParser::MAX_HEADER_BYTES + HttpResponseParser::MAX_PENDING_BYTES + 4096)
        __builtin_trap();
    bool inBody = false;
    for (const auto &e : events) {
        if (e.kind == HttpResponseParser::Event::Headers)
            inBody = true;
        else if (!inBody)
            __builtin_trap();   // a frame or end without its header block
        if (e.kind == HttpResponseParser::Event::Frame && (e.data.isEmpty() || e.data.contains('\n')))
            __builtin_trap();
        if (e.kind == HttpResponseParser::Event::End)
            inBody = false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    const size_t step = 1 + data[0] % 17;

    HttpResponseParser whole, pieces;
    Events a, b;
    const bool okA = whole.feed(bytes + 1, qsizetype(size - 1), &a);
    bool okB = true;
    for (size_t off = 1; off < size && okB; off += step)
        okB = pieces.feed(bytes + off, qsizetype(qMin(step, size - off)), &b);
    check(whole, a);
    check(pieces, b);
    // A failure may surface at a different piece, but never differently.
    if (okA != okB || (okA && !sameEvents(a, b)))
        __builtin_trap();
    if (okA) {
        whole.finish(&a);
        check(whole, a);
    }
    return 0;
}
