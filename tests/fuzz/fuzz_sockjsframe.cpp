// libFuzzer target: the SockJS frame reader on arbitrary text, and the
// outgoing encoding, whose JSON must carry any message back unchanged.
#include "sockjsframe_p.h"

#include <QJsonArray>
#include <QJsonDocument>

using Veltro::SockJSFrame;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const SockJSFrame frame = SockJSFrame::read(text);
    if (frame.type != SockJSFrame::Messages && !frame.messages.isEmpty())
        __builtin_trap();

    const QJsonDocument doc = QJsonDocument::fromJson(SockJSFrame::encode(text).toUtf8());
    if (!doc.isArray() || doc.array().size() != 1 || doc.array().at(0).toString() != text)
        __builtin_trap();
    return 0;
}
