// Inputs and payload spellings shared by the codec, client and collaboration tests.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <zlib.h>

// About `bytes` of word salad with multi-byte characters: compressible, not trivial.
inline QString wordSalad(int bytes = 1024 * 1024)
{
    static const char *const words[] = {"poll", "carte", "Frage", "ответ", "課題", "ñandú", "x", "7", "\xF0\x9F\x99\x82"};
    QByteArray u;
    quint32 seed = 12345;
    while (u.size() < bytes) {
        seed = seed * 1103515245u + 12345u;
        u += words[(seed >> 16) % 9];
        u += (seed & 0x100) ? ' ' : (seed & 0x200) ? ',' : '\n';
    }
    return QString::fromUtf8(u);
}

// Payload bytes as the signed byte values a device may send.
inline QVariantList signedBytes(const QByteArray &b)
{
    QVariantList l;
    for (char c : b)
        l << int(qint8(c));
    return l;
}

// The same values as comma-separated text, optionally in brackets (built as bytes: lists of millions are made).
inline QString byteListText(const QByteArray &b, bool brackets)
{
    QByteArray t;
    t.reserve(b.size() * 5 + 2);
    if (brackets)
        t += '[';
    for (int i = 0; i < b.size(); ++i) {
        if (i)
            t += ',';
        t += QByteArray::number(int(qint8(b.at(i))));
    }
    if (brackets)
        t += ']';
    return QString::fromLatin1(t);
}

// `data` deflated with zlib; windowBits 31 wraps it as gzip, 15 as zlib.
inline QByteArray deflated(const QByteArray &data, int windowBits = 31, const QByteArray &dictionary = {})
{
    z_stream s{};
    if (deflateInit2(&s, Z_BEST_SPEED, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    if (!dictionary.isEmpty())
        deflateSetDictionary(&s, reinterpret_cast<const Bytef *>(dictionary.constData()), uInt(dictionary.size()));
    QByteArray out(int(deflateBound(&s, uLong(data.size()))), Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    s.avail_in = uInt(data.size());
    s.next_out = reinterpret_cast<Bytef *>(out.data());
    s.avail_out = uInt(out.size());
    const int r = deflate(&s, Z_FINISH);
    out.resize(r == Z_STREAM_END ? int(s.total_out) : 0);
    deflateEnd(&s);
    return out;
}
