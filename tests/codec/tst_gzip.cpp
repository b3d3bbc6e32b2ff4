// gzip/zlib inflation of HTTP answers, including the limit on inflated size.
#include "gzip.h"
#include "gzip_p.h"
#include "testdata.h"

#include <QtTest>


namespace {

enum Wrap { Gzip = 16 + 15, Zlib = 15 };

QByteArray sample(int n)
{
    QByteArray b(n, Qt::Uninitialized);
    quint32 s = 99;
    for (char &c : b) {
        s = s * 1664525u + 1013904223u;
        c = char('a' + (s >> 24) % 20);
    }
    return b;
}

QStringList g_warnings;
void collect(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type == QtWarningMsg)
        g_warnings << msg;
}

} // namespace

class TestGzip : public QObject
{
    Q_OBJECT
private slots:
    void inflate_data();
    void inflate();
    void limit_data();
    void limit();
};

void TestGzip::inflate_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("warns");

    const QByteArray text = sample(5000);
    QTest::newRow("gzip") << deflated(text, Gzip) << text << false;
    QTest::newRow("zlib") << deflated(text, Zlib) << text << false;
    QTest::newRow("exact multiple of 1024") << deflated(sample(4096), Gzip) << sample(4096) << false;
    QTest::newRow("empty content") << deflated(QByteArray(), Gzip) << QByteArray() << false;
    QTest::newRow("4 bytes") << QByteArray("\x1f\x8b\x08\x00", 4) << QByteArray() << true;
    QTest::newRow("nothing") << QByteArray() << QByteArray() << true;
    QTest::newRow("5 bytes of garbage") << QByteArray("hello") << QByteArray() << false;
    QTest::newRow("corrupt body") << deflated(text, Gzip).left(10) + QByteArray(50, '\xff') << QByteArray() << false;
    QTest::newRow("preset dictionary") << deflated(text, Zlib, "abcdefghij") << QByteArray() << false;
    QTest::newRow("trailing garbage") << deflated(text, Gzip) + "trailing" << text << false;

    // A body cut short yields what could be inflated: a prefix of the text.
    const QByteArray big = sample(200000);
    const QByteArray whole = deflated(big, Gzip);
    QTest::newRow("cut short") << whole.left(whole.size() / 2) << QByteArray("prefix") << false;
}

void TestGzip::inflate()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QFETCH(bool, warns);
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    const QByteArray out = gUncompress(input);
    qInstallMessageHandler(previous);
    if (expected == "prefix") {
        QVERIFY(out.size() > 50000);
        QVERIFY(sample(200000).startsWith(out));
    } else {
        QCOMPARE(out, expected);
    }
    QCOMPARE(g_warnings, warns ? QStringList{ QStringLiteral("gUncompress: Input data is truncated") } : QStringList());
}

void TestGzip::limit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("ok");
    QTest::newRow("below") << 10000 << qint64(10001) << true;
    QTest::newRow("at the limit") << 10000 << qint64(10000) << true;
    QTest::newRow("one byte over") << 10001 << qint64(10000) << false;
    QTest::newRow("chunk-aligned at the limit") << 8192 << qint64(8192) << true;
    QTest::newRow("the default cap") << int(Veltro::GZIP_MAX_INFLATED_SIZE) + 1 << qint64(-1) << false;
}

void TestGzip::limit()
{
    QFETCH(int, size);
    QFETCH(qint64, limit);
    QFETCH(bool, ok);
    // Zeros compress about 1000:1: a small body, a large answer.
    const QByteArray body = deflated(QByteArray(size, '\0'), Gzip);
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    const QByteArray out = limit < 0 ? gUncompress(body) : Veltro::gUncompressLimited(body, limit);
    qInstallMessageHandler(previous);
    QCOMPARE(out.size(), ok ? size : 0);
    QCOMPARE(g_warnings.size(), ok ? 0 : 1);
}

QTEST_GUILESS_MAIN(TestGzip)
#include "tst_gzip.moc"
