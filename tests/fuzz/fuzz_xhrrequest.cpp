// libFuzzer target: the XHR request head from input-chosen fields (path, host, cookies, content type, port):
// whatever they hold, the head has its fixed lines and no more, each ended by CR LF, the request line has its
// three parts, and the Host line is exactly what the Host value gives.
#include "xhrrequestwriter_p.h"

#include <QStringList>

using Veltro::XhrRequestHead;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const QStringList fields = QString::fromUtf8(reinterpret_cast<const char *>(data) + 3, int(size - 3))
                                   .split(QChar(0));
    XhrRequestHead head;
    head.port = data[0] | (data[1] << 8);
    head.useSsl = data[2] & 1;
    head.keepAlive = data[2] & 2;
    head.contentLength = data[2] >> 2;
    head.path = fields.value(0);
    head.host = fields.value(1);
    head.cookies = fields.value(2);
    if (fields.size() > 3)
        head.contentType = fields.value(3);
    const QString text = Veltro::writeXhrRequestHead(head);

    if (!text.endsWith(QLatin1String("\r\n\r\n")))
        __builtin_trap();
    QStringList lines = text.split(QLatin1String("\r\n"));
    lines.removeLast();   // after the empty line
    lines.removeLast();   // the empty line
    if (lines.size() != (head.cookies.isEmpty() ? 6 : 7))
        __builtin_trap();
    for (const QString &line : lines) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
            __builtin_trap();
    }
    const QStringList requestLine = lines.first().split(QLatin1Char(' '));
    if (requestLine.size() != 3 || requestLine.first() != QLatin1String("POST")
        || requestLine.last() != QLatin1String("HTTP/1.1"))
        __builtin_trap();
    if (lines.at(1) != QLatin1String("Host: ") + Veltro::hostHeaderValue(head.host, head.port, head.useSsl))
        __builtin_trap();
    return 0;
}
