// The LZMA text codec (format, decoding, input shapes, refusals; odd streams made with liblzma) and gzip inflation.
#include "gzip.h"
#include "gzip_p.h"
#include "lzmacodec.h"
#include "lzmacodec_p.h"
#include "testdata.h"

#include <QtTest>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec> // Qt 6 has no locale codec to switch: local 8-bit is UTF-8 on Unix
#endif

#include <lzma.h>

#include <thread>

namespace {

struct RawOptions
{
    uint lc = 3, lp = 0, pb = 2;
    bool endMarker = true;
    uint niceLen = 32;
    quint32 dict = 16384; // as the header says, unless a test says otherwise
    lzma_mode mode = LZMA_MODE_FAST;
};

// A bare LZMA1 stream (no header) of `data`.
QByteArray rawStream(const QByteArray &data, const RawOptions &o = {})
{
    lzma_options_lzma opt;
    lzma_lzma_preset(&opt, 0);
    opt.lc = o.lc;
    opt.lp = o.lp;
    opt.pb = o.pb;
    opt.nice_len = o.niceLen;
    opt.dict_size = o.dict;
    opt.mode = o.mode;
    if (o.mode == LZMA_MODE_NORMAL)
        opt.mf = LZMA_MF_BT4;
    opt.ext_flags = o.endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    const lzma_filter f[] = { { LZMA_FILTER_LZMA1EXT, &opt }, { LZMA_VLI_UNKNOWN, nullptr } };
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&s, f) != LZMA_OK)
        return {};
    QByteArray out(data.size() + data.size() / 2 + 1024, Qt::Uninitialized);
    s.next_in = reinterpret_cast<const uint8_t *>(data.constData());
    s.avail_in = size_t(data.size());
    s.next_out = reinterpret_cast<uint8_t *>(out.data());
    s.avail_out = size_t(out.size());
    lzma_ret r;
    do {
        r = lzma_code(&s, LZMA_FINISH);
    } while (r == LZMA_OK);
    out.resize(r == LZMA_STREAM_END ? int(s.total_out) : 0);
    lzma_end(&s);
    return out;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, Qt::Uninitialized);
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (8 * i));
    return b;
}

QByteArray payload(const QByteArray &stream, quint32 declared, uint props = 0x5D, quint32 dict = 16384)
{
    return char(props) + le32(dict) + le32(declared) + QByteArray(4, '\0') + stream;
}

// The next value, 0 to 255, of a fixed pseudo-random sequence.
uint lcg(quint32 &seed)
{
    seed = seed * 1664525u + 1013904223u;
    return seed >> 24;
}

// `n` letters from the first `letters` of the alphabet; compressible, not trivially.
QByteArray sample(int n, quint32 seed = 99, uint letters = 20)
{
    QByteArray b(n, Qt::Uninitialized);
    for (char &c : b)
        c = char('a' + lcg(seed) % letters);
    return b;
}

// Restores `raw` through all five decoder entry points; they must agree.
// Returns the text, or a null QString when any of them fails.
QString restoreAll(const QByteArray &raw, bool *agree)
{
    const QString sentinel = QStringLiteral("untouched");
    QString a = sentinel, b = sentinel, c = sentinel, d = sentinel, e = sentinel;
    const bool ok = LzmaDecompress64(QString::fromLatin1(raw.toBase64()), &a);
    const bool okList = LzmaDecompressList(signedBytes(raw), &b);
    const bool okText = LzmaDecompressText(byteListText(raw, true), &c);
    const bool okPlain = LzmaDecompressText(byteListText(raw, false), &d);
    const bool okBytes = LzmaDecompressBytes(raw, &e);
    *agree = ok == okList && ok == okText && ok == okPlain && ok == okBytes && a == b && a == c && a == d
            && a == e && (ok || a == sentinel);
    return ok ? a : QString();
}

enum Wrap { Gzip = 16 + 15, Zlib = 15 };

} // namespace

class TestCodecs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        // Text goes on the wire as UTF-8 whatever the locale says.
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
#endif
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("multibyte") << QString::fromUtf8("Grüße, 世界, ответ, \xF0\x9F\x98\x80");
        QString incompressible; // mixed 1-2 byte UTF-8
        for (quint32 i = 0, s = 7; i < 70000; ++i)
            incompressible += QChar(0x20 + lcg(s));
        QTest::newRow("incompressible") << incompressible;
        QTest::newRow("1 MiB") << wordSalad();
    }

    void roundTrip()
    {
        QFETCH(QString, text);
        QString b64;
        QVERIFY(LzmaCompress64(text, &b64));
        const QByteArray raw = QByteArray::fromBase64(b64.toLatin1());
        const QByteArray utf8 = text.toUtf8();
        QCOMPARE(raw.left(13), QByteArray::fromHex("5d00400000") + le32(quint32(utf8.size())) + QByteArray(4, '\0'));
        QVERIFY(raw.size() <= 13 + utf8.size() + utf8.size() / 3 + 128);
        QVERIFY(!b64.contains(QLatin1Char('\n')));
        QByteArray bytes;
        QVERIFY(lzmaDecodeWithHeader(raw, &bytes));
        QCOMPARE(bytes, utf8);
        bool agree = false;
        QCOMPARE(restoreAll(raw, &agree), text);
        QVERIFY(agree);
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text"); // null: refused
        const auto row = [](const char *name, const QByteArray &raw, const QString &text = QString()) {
            QTest::newRow(name) << raw << text;
        };
        const QByteArray hello("hello, hello, hello world");
        const quint32 n = quint32(hello.size());
        const QByteArray marked = rawStream(hello), unmarked = rawStream(hello, { 3, 0, 2, false });
        const QString h = QString::fromLatin1(hello);

        row("marker at declared size", payload(marked, n), h);
        row("marker before declared size", payload(marked, n + 100), h);
        row("no marker, exact size", payload(unmarked, n), h);
        row("no marker, declared too small", payload(unmarked, n - 1));
        row("no marker, declared too large", payload(unmarked, n + 1));
        row("marker, declared too small", payload(marked, n - 5));
        row("trailing bytes after marker", payload(marked + "junk\xff\x00", n), h);
        row("trailing bytes after exact end", payload(unmarked + "junk", n), h);
        row("unknown size with marker", payload(marked, 0xFFFFFFFFu), h);
        row("unknown size without marker", payload(unmarked, 0xFFFFFFFFu));
        row("truncated, marker", payload(marked.left(marked.size() - 3), n));
        row("truncated, no marker", payload(unmarked.left(unmarked.size() - 3), n));
        row("13 bytes", payload(QByteArray(), 0));
        row("empty", QByteArray());
        row("corrupt stream", payload(QByteArray(40, '\x5a'), n));

        // Restored bytes are read as UTF-8 up to the first zero byte; devices write a
        // character beyond the basic plane as two three-byte surrogates.
        const auto bytesRow = [&](const char *name, const QByteArray &bytes, const QString &text) {
            row(name, payload(rawStream(bytes), quint32(bytes.size())), text);
        };
        bytesRow("zero byte ends the text", QByteArray("ab\0cd", 5), QStringLiteral("ab"));
        bytesRow("invalid UTF-8 replaced", "a\xff", QStringLiteral("a\uFFFD"));
        bytesRow("surrogate pair", "a\xED\xA0\xBD\xED\xB8\x80z", QString::fromUtf8("a\xF0\x9F\x98\x80z"));
        bytesRow("four-byte form untouched", "\xF0\x9F\x98\x80", QString::fromUtf8("\xF0\x9F\x98\x80"));
        // A lone high surrogate, low before high, a pair cut by the end.
        for (const char *odd : { "a\xED\xA0\xBDz", "\xED\xB8\x80\xED\xA0\xBD", "\xED\xA0\xBD\xED\xB8" })
            bytesRow(odd, odd, QString::fromUtf8(odd)); // whatever strict UTF-8 makes of it

        // Any properties byte liblzma supports and any dictionary size the header names.
        const QByteArray prose = QByteArray("properties and dictionaries, dictionaries and properties ").repeated(200);
        const auto props = [&](uint lc, uint lp, uint pb, quint32 dict, uint byte = 0) {
            const QByteArray s = rawStream(prose, { lc, lp, pb, true, 32, 4096 }); // fits every dictionary below
            return payload(s, quint32(prose.size()), byte ? byte : (pb * 5 + lp) * 9 + lc, dict);
        };
        const QString p = QString::fromLatin1(prose);
        row("device: 64 KiB dictionary", props(3, 0, 2, 65536), p);
        row("dictionary 0", props(3, 0, 2, 0), p);
        row("dictionary 4 GiB - 1", props(3, 0, 2, 0xFFFFFFFFu), p);
        row("lc0 lp4 pb4", props(0, 4, 4, 16384), p);
        row("lc4 lp0 pb0", props(4, 0, 0, 16384), p);
        row("properties byte above 224", props(3, 0, 2, 16384, 225));

        // Implausible sizes are refused before anything is allocated.
        row("14 bytes declaring 4 GiB", payload(QByteArray(1, '\0'), 0xFFFFFFFEu));
        const qint64 most = Veltro::lzmaMaxDecodedSizeFor(marked.size()), cap = Veltro::LZMA_MAX_DECODED_SIZE;
        row("beyond what the stream can hold", payload(marked, quint32(most + 1)));
        // A stream long enough that only the cap applies.
        const QByteArray letters = sample(20000, 1, 26), noisy = rawStream(letters);
        QVERIFY(Veltro::lzmaMaxDecodedSizeFor(noisy.size()) > cap);
        row("declared at the cap", payload(noisy, quint32(cap)), QString::fromLatin1(letters));
        row("declared above the cap", payload(noisy, quint32(cap + 1)));
        // A few KiB that would expand to 17 MiB: refused by its declared size, or
        // stopped at the 16 MiB cap when the size is unknown.
        const QByteArray bomb = rawStream(QByteArray(17 * 1024 * 1024, 'a'));
        row("expands past 16 MiB", payload(bomb, 17 * 1024 * 1024));
        row("expands past 16 MiB, size unknown", payload(bomb, 0xFFFFFFFFu));
        // The best ratio an encoder reaches (273-byte matches of one byte), as large as a payload may be.
        const QByteArray zs(int(cap), 'z');
        const QByteArray densest = rawStream(zs, { 3, 0, 2, true, 273, 16384, LZMA_MODE_NORMAL });
        row("densest stream at the cap", payload(densest, quint32(cap)), QString::fromLatin1(zs));
    }

    void decoding()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);
        bool agree = false;
        const QString got = restoreAll(raw, &agree);
        QVERIFY(agree);
        QCOMPARE(got.isNull(), text.isNull());
        QCOMPARE(got, text);
    }

    void listElements_data()
    {
        QTest::addColumn<QVariant>("element");
        QTest::addColumn<int>("byte");
        QTest::newRow("256") << QVariant(256) << 0;
        QTest::newRow("-1") << QVariant(-1) << 255;
        QTest::newRow("double -104") << QVariant(-104.0) << 152;
        QTest::newRow("double 93.9") << QVariant(93.9) << 93;
        QTest::newRow("longlong") << QVariant(qlonglong(0x1234567800000041LL)) << 0x41;
        QTest::newRow("numeric string") << QVariant(QStringLiteral("65")) << 65;
        QTest::newRow("NaN") << QVariant(qQNaN()) << 0;
        QTest::newRow("map") << QVariant(QVariantMap{ { QStringLiteral("a"), 1 } }) << 0;
    }

    void listElements()
    {
        QFETCH(QVariant, element);
        QFETCH(int, byte);
        // A stream without end marker restores only when its declared size is
        // exact, so the element placed in the size field must give `byte`.
        const QByteArray text(byte, 'q');
        QVariantList list = signedBytes(payload(rawStream(text, { 3, 0, 2, false }), quint32(byte)));
        list[5] = element;
        QString out;
        QVERIFY(LzmaDecompressList(list, &out));
        QCOMPARE(out, QString::fromLatin1(text));
        QVERIFY(!LzmaDecompressList(list.mid(0, 13), &out));
    }

    // The payload of "abc" as a list text spelled unusually ("%" stands for the
    // list); the plain forms with and without brackets go through every decoding row.
    void listText()
    {
        QString b64;
        QVERIFY(LzmaCompress64(QStringLiteral("abc"), &b64));
        QStringList parts;
        for (char c : QByteArray::fromBase64(b64.toLatin1()))
            parts << QStringLiteral(" %1").arg(int(qint8(c)));
        const QStringList good{ "[ % ]", "[[%]]", "[%,]" /* a trailing comma adds a byte */ }, bad{ "", "[]" };
        for (const QString &spelling : good + bad) {
            QString out = QStringLiteral("untouched");
            const QString text = QString(spelling).replace(QLatin1Char('%'), parts.join(QLatin1Char(',')));
            QCOMPARE(LzmaDecompressText(text, &out), good.contains(spelling));
            QCOMPARE(out, good.contains(spelling) ? QStringLiteral("abc") : QStringLiteral("untouched"));
        }
    }

    void threadsDoNotShareState()
    {
        const QString base = wordSalad().left(40000);
        std::atomic<int> failures{ 0 };
        const auto work = [&](int t) {
            for (int i = 0; i < 40; ++i) { // (a cut may split a surrogate pair: compare with what UTF-8 keeps)
                const QString text = QString::fromUtf8(base.mid((t * 40 + i) * 97, 200 + i * 50).toUtf8());
                QString b64, back;
                failures += !LzmaCompress64(text, &b64) || !LzmaDecompress64(b64, &back) || back != text;
            }
        };
        std::thread a(work, 0), b(work, 1), c(work, 2), d(work, 3);
        for (std::thread *th : { &a, &b, &c, &d })
            th->join();
        QCOMPARE(failures.load(), 0);
    }

    void inflate_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<qint64>("limit"); // -1: gUncompress and its default cap
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, const QByteArray &input, const QByteArray &expected, qint64 limit = -1) {
            QTest::newRow(name) << input << limit << expected;
        };
        const QByteArray text = sample(5000);
        row("gzip", deflated(text, Gzip), text);
        row("zlib", deflated(text, Zlib), text);
        row("exact multiple of 1024", deflated(sample(4096), Gzip), sample(4096));
        row("empty content", deflated(QByteArray(), Gzip), QByteArray());
        row("4 bytes", QByteArray("\x1f\x8b\x08\x00", 4), QByteArray());
        row("5 bytes of garbage", QByteArray("hello"), QByteArray());
        row("corrupt body", deflated(text, Gzip).left(10) + QByteArray(50, '\xff'), QByteArray());
        row("preset dictionary", deflated(text, Zlib, "abcdefghij"), QByteArray());
        row("trailing garbage", deflated(text, Gzip) + "trailing", text);
        // A body cut short yields what could be inflated: a prefix of the text.
        const QByteArray whole = deflated(sample(200000), Gzip);
        row("cut short", whole.left(whole.size() / 2), "prefix");

        // Zeros compress about 1000:1: a small body, a large answer.
        const auto zeros = [](qint64 n) { return deflated(QByteArray(int(n), '\0'), Gzip); };
        row("at the limit", zeros(10000), QByteArray(10000, '\0'), 10000);
        row("one byte over", zeros(10001), QByteArray(), 10000);
        row("chunk-aligned at the limit", zeros(8192), QByteArray(8192, '\0'), 8192);
        row("over the default cap", zeros(Veltro::GZIP_MAX_INFLATED_SIZE + 1), QByteArray());
    }

    void inflate()
    {
        QFETCH(QByteArray, input);
        QFETCH(qint64, limit);
        QFETCH(QByteArray, expected);
        const QByteArray out = limit < 0 ? gUncompress(input) : Veltro::gUncompressLimited(input, limit);
        if (expected == "prefix")
            QVERIFY(out.size() > 50000 && sample(200000).startsWith(out));
        else
            QCOMPARE(out, expected);
    }
};

QTEST_GUILESS_MAIN(TestCodecs)
#include "tst_codec.moc"
