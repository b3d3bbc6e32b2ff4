// LZMA text codec: format, decoding semantics, the three input shapes and the
// refusal of implausible payloads. Streams with unusual shapes (no end marker,
// other properties, other dictionaries) are made with liblzma directly.
#include "lzmacodec.h"
#include "lzmacodec_p.h"
#include "testdata.h"

#include <QtTest>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec> // Qt 6 has no locale codec to switch: local 8-bit is UTF-8 on Unix
#endif

#include <lzma.h>

#include <thread>
#include <vector>

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

// Restores `raw` through all four decoder entry points; they must agree.
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

} // namespace

class TestLzmaCodec : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void compressesUtf8NotLocale();
    void decoding_data();
    void decoding();
    void propertiesAndDictionaries_data();
    void propertiesAndDictionaries();
    void listElements_data();
    void listElements();
    void listText_data();
    void listText();
    void deviceSurrogatePairs_data();
    void deviceSurrogatePairs();
    void densestStreamIsNotRefused();
    void threadsDoNotShareState();
};

void TestLzmaCodec::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("multibyte") << QString::fromUtf8("Grüße, 世界, ответ, \xF0\x9F\x98\x80");
    QTest::newRow("json") << QStringLiteral("{\"type\":\"questionStart\",\"data\":{\"id\":\"a1\"}}");
    QString noise;
    quint32 s = 7;
    for (int i = 0; i < 70000; ++i) {
        s = s * 1664525u + 1013904223u;
        noise += QChar(0x20 + (s >> 24) % 0x5F0); // incompressible, mixed 1-2 byte UTF-8
    }
    QTest::newRow("incompressible") << noise;
    QTest::newRow("1 MiB") << wordSalad();
}

void TestLzmaCodec::roundTrip()
{
    QFETCH(QString, text);
    QString b64;
    QVERIFY(LzmaCompress64(text, &b64));
    const QByteArray raw = QByteArray::fromBase64(b64.toLatin1());
    const QByteArray utf8 = text.toUtf8();
    QCOMPARE(raw.left(9), QByteArray::fromHex("5d00400000") + le32(quint32(utf8.size())));
    QCOMPARE(raw.mid(9, 4), QByteArray(4, '\0'));
    QVERIFY(raw.size() <= 13 + utf8.size() + utf8.size() / 3 + 128);
    QVERIFY(!b64.contains(QLatin1Char('\n')));
    bool agree = false;
    QCOMPARE(restoreAll(raw, &agree), text);
    QVERIFY(agree);
}

void TestLzmaCodec::compressesUtf8NotLocale()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QTextCodec *saved = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
#endif
    QString b64;
    const bool ok = LzmaCompress64(QString::fromUtf8("é中"), &b64);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QTextCodec::setCodecForLocale(saved);
#endif
    QVERIFY(ok);
    QByteArray bytes;
    QVERIFY(lzmaDecodeWithHeader(QByteArray::fromBase64(b64.toLatin1()), &bytes));
    QCOMPARE(bytes, QByteArray("\xC3\xA9\xE4\xB8\xAD"));
}

void TestLzmaCodec::decoding_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");

    const QByteArray hello("hello, hello, hello world");
    const quint32 n = quint32(hello.size());
    const QByteArray marked = rawStream(hello);
    RawOptions bare;
    bare.endMarker = false;
    const QByteArray unmarked = rawStream(hello, bare);
    const QString h = QString::fromLatin1(hello);

    QTest::newRow("marker at declared size") << payload(marked, n) << true << h;
    QTest::newRow("marker before declared size") << payload(marked, n + 100) << true << h;
    QTest::newRow("no marker, exact size") << payload(unmarked, n) << true << h;
    QTest::newRow("no marker, declared too small") << payload(unmarked, n - 1) << false << QString();
    QTest::newRow("no marker, declared too large") << payload(unmarked, n + 1) << false << QString();
    QTest::newRow("marker, declared too small") << payload(marked, n - 5) << false << QString();
    QTest::newRow("trailing bytes after marker") << payload(marked + "junk\xff\x00", n) << true << h;
    QTest::newRow("trailing bytes after exact end") << payload(unmarked + "junk", n) << true << h;
    QTest::newRow("unknown size with marker") << payload(marked, 0xFFFFFFFFu) << true << h;
    QTest::newRow("unknown size without marker") << payload(unmarked, 0xFFFFFFFFu) << false << QString();
    QTest::newRow("truncated, marker") << payload(marked.left(marked.size() - 3), n) << false << QString();
    QTest::newRow("truncated, no marker") << payload(unmarked.left(unmarked.size() - 3), n) << false << QString();
    QTest::newRow("13 bytes") << payload(QByteArray(), 0) << false << QString();
    QTest::newRow("empty") << QByteArray() << false << QString();
    QTest::newRow("corrupt stream") << payload(QByteArray(40, '\x5a'), n) << false << QString();
    QTest::newRow("zero byte ends the text") << payload(rawStream(QByteArray("ab\0cd", 5)), 5) << true << QStringLiteral("ab");
    QTest::newRow("invalid UTF-8 replaced") << payload(rawStream("a\xff"), 2) << true << QStringLiteral("a\uFFFD");

    // Implausible sizes are refused before anything is allocated.
    QTest::newRow("14 bytes declaring 4 GiB") << payload(QByteArray(1, '\0'), 0xFFFFFFFEu) << false << QString();
    QTest::newRow("beyond what the stream can hold")
        << payload(marked, quint32(Veltro::lzmaMaxDecodedSizeFor(marked.size()) + 1)) << false << QString();
    // A stream long enough that only the cap applies.
    QByteArray noise(20000, Qt::Uninitialized);
    quint32 s = 1;
    for (char &c : noise) {
        s = s * 1664525u + 1013904223u;
        c = char('a' + (s >> 24) % 26);
    }
    const QByteArray noisy = rawStream(noise);
    QVERIFY(Veltro::lzmaMaxDecodedSizeFor(noisy.size()) > Veltro::LZMA_MAX_DECODED_SIZE);
    QTest::newRow("declared at the cap") << payload(noisy, quint32(Veltro::LZMA_MAX_DECODED_SIZE)) << true
                                         << QString::fromLatin1(noise);
    QTest::newRow("declared above the cap") << payload(noisy, quint32(Veltro::LZMA_MAX_DECODED_SIZE + 1)) << false
                                            << QString();
    // A few KiB that would expand to 17 MiB: refused by its declared size, or
    // stopped at the 16 MiB cap when the size is unknown.
    const QByteArray bomb = rawStream(QByteArray(17 * 1024 * 1024, 'a'));
    QTest::newRow("expands past 16 MiB") << payload(bomb, 17 * 1024 * 1024) << false << QString();
    QTest::newRow("expands past 16 MiB, size unknown") << payload(bomb, 0xFFFFFFFFu) << false << QString();
}

void TestLzmaCodec::decoding()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    bool agree = false;
    const QString got = restoreAll(raw, &agree);
    QVERIFY(agree);
    QCOMPARE(!got.isNull(), ok);
    if (ok)
        QCOMPARE(got, text);
}

void TestLzmaCodec::propertiesAndDictionaries_data()
{
    QTest::addColumn<uint>("lc");
    QTest::addColumn<uint>("lp");
    QTest::addColumn<uint>("pb");
    QTest::addColumn<quint32>("dict");
    QTest::newRow("device: 64 KiB") << 3u << 0u << 2u << 65536u;
    QTest::newRow("dict 0") << 3u << 0u << 2u << 0u;
    QTest::newRow("dict odd") << 3u << 0u << 2u << 12345u;
    QTest::newRow("dict 4 GiB - 1") << 3u << 0u << 2u << 0xFFFFFFFFu;
    QTest::newRow("lc0 lp0 pb0") << 0u << 0u << 0u << 16384u;
    QTest::newRow("lc0 lp4 pb4") << 0u << 4u << 4u << 16384u;
    QTest::newRow("lc4 lp0 pb0") << 4u << 0u << 0u << 16384u;
}

void TestLzmaCodec::propertiesAndDictionaries()
{
    QFETCH(uint, lc);
    QFETCH(uint, lp);
    QFETCH(uint, pb);
    QFETCH(quint32, dict);
    const QByteArray text = QByteArray("properties and dictionaries, dictionaries and properties ").repeated(200);
    RawOptions o;
    o.lc = lc;
    o.lp = lp;
    o.pb = pb;
    o.dict = 4096; // fits every header value of the table (smaller ones mean 4096)
    const QByteArray stream = rawStream(text, o);
    QVERIFY(!stream.isEmpty());
    QString out;
    QVERIFY(LzmaDecompress64(QString::fromLatin1(payload(stream, quint32(text.size()), (pb * 5 + lp) * 9 + lc, dict).toBase64()), &out));
    QCOMPARE(out, QString::fromLatin1(text));

    // No properties byte above 224 exists.
    QVERIFY(!LzmaDecompress64(QString::fromLatin1(payload(stream, quint32(text.size()), 225, dict).toBase64()), &out));
}

void TestLzmaCodec::listElements_data()
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
    QTest::newRow("-inf") << QVariant(-qInf()) << 0;
    QTest::newRow("map") << QVariant(QVariantMap{ { QStringLiteral("a"), 1 } }) << 0;
}

void TestLzmaCodec::listElements()
{
    QFETCH(QVariant, element);
    QFETCH(int, byte);
    // A stream without end marker restores only when its declared size is
    // exact, so the element placed in the size field must give `byte`.
    const QByteArray text(byte, 'q');
    RawOptions bare;
    bare.endMarker = false;
    QVariantList list = signedBytes(payload(rawStream(text, bare), quint32(byte)));
    list[5] = element;
    QString out;
    QVERIFY(LzmaDecompressList(list, &out));
    QCOMPARE(out, QString::fromLatin1(text));
    QVERIFY(!LzmaDecompressList(list.mid(0, 13), &out));
}

void TestLzmaCodec::listText_data()
{
    QTest::addColumn<QString>("spelling");
    QTest::addColumn<bool>("ok");
    // The payload of "abc" with each byte spelled as listed ("%" stands for the
    // list); the plain forms with and without brackets go through every decoding row.
    QTest::newRow("spaces around values") << QStringLiteral("[ % ]") << true;
    QTest::newRow("nested brackets") << QStringLiteral("[[%]]") << true;
    QTest::newRow("trailing comma adds a byte") << QStringLiteral("[%,]") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("brackets only") << QStringLiteral("[]") << false;
}

void TestLzmaCodec::listText()
{
    QFETCH(QString, spelling);
    QFETCH(bool, ok);
    QString b64;
    QVERIFY(LzmaCompress64(QStringLiteral("abc"), &b64));
    QStringList parts;
    for (char c : QByteArray::fromBase64(b64.toLatin1()))
        parts << QStringLiteral(" %1").arg(int(qint8(c)));
    QString text = spelling;
    text.replace(QLatin1Char('%'), parts.join(QLatin1Char(',')));
    QString out = QStringLiteral("untouched");
    QCOMPARE(LzmaDecompressText(text, &out), ok);
    QCOMPARE(out, ok ? QStringLiteral("abc") : QStringLiteral("untouched"));
}

void TestLzmaCodec::deviceSurrogatePairs_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("pair") << QByteArray("a\xED\xA0\xBD\xED\xB8\x80z") << QString::fromUtf8("a\xF0\x9F\x98\x80z");
    QTest::newRow("lone high surrogate") << QByteArray("a\xED\xA0\xBDz") << QString();
    QTest::newRow("low before high") << QByteArray("\xED\xB8\x80\xED\xA0\xBD") << QString();
    QTest::newRow("pair cut by the end") << QByteArray("\xED\xA0\xBD\xED\xB8") << QString();
    QTest::newRow("four-byte form untouched") << QByteArray("\xF0\x9F\x98\x80") << QString::fromUtf8("\xF0\x9F\x98\x80");
}

void TestLzmaCodec::deviceSurrogatePairs()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QString out;
    QVERIFY(LzmaDecompress64(QString::fromLatin1(payload(rawStream(bytes), quint32(bytes.size())).toBase64()), &out));
    if (text.isNull())
        QCOMPARE(out, QString::fromUtf8(bytes)); // whatever strict UTF-8 makes of it
    else
        QCOMPARE(out, text);
}

void TestLzmaCodec::densestStreamIsNotRefused()
{
    // The best ratio an encoder can reach: 273-byte matches of one byte, as
    // large as a payload may be.
    const QByteArray zeros(int(Veltro::LZMA_MAX_DECODED_SIZE), 'z');
    RawOptions dense;
    dense.niceLen = 273;
    dense.mode = LZMA_MODE_NORMAL;
    const QByteArray stream = rawStream(zeros, dense);
    QVERIFY(!stream.isEmpty());
    QVERIFY2(qint64(zeros.size()) <= Veltro::lzmaMaxDecodedSizeFor(stream.size()),
             qPrintable(QStringLiteral("ratio 1:%1").arg(zeros.size() / stream.size())));
    QByteArray out;
    QVERIFY(lzmaDecodeWithHeader(payload(stream, quint32(zeros.size())), &out));
    QVERIFY(out == zeros);
}

void TestLzmaCodec::threadsDoNotShareState()
{
    const QString base = wordSalad().left(40000);
    std::vector<std::thread> threads;
    std::atomic<int> failures{ 0 };
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t]() {
            for (int i = 0; i < 40; ++i) {
                // (a cut may split a surrogate pair; compare with what UTF-8 keeps of it)
                const QString text = QString::fromUtf8(base.mid((t * 40 + i) * 97, 200 + i * 50).toUtf8());
                QString b64, back;
                if (!LzmaCompress64(text, &b64) || !LzmaDecompress64(b64, &back) || back != text)
                    ++failures;
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    QCOMPARE(failures.load(), 0);
}

QTEST_GUILESS_MAIN(TestLzmaCodec)
#include "tst_lzmacodec.moc"
