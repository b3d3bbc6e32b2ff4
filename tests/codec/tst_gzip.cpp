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

} // namespace

class TestGzip : public QObject
{
    Q_OBJECT
private slots:
    void inflate_data();
    void inflate();
};

void TestGzip::inflate_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<qint64>("limit"); // -1: gUncompress and its default cap
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("warning"); // the start of the one warning expected

    const QByteArray text = sample(5000);
    const QString none, truncated = QStringLiteral("gUncompress: Input data is truncated"),
                        tooLarge = QStringLiteral("gUncompress: Inflated data exceeds");
    QTest::newRow("gzip") << deflated(text, Gzip) << qint64(-1) << text << none;
    QTest::newRow("zlib") << deflated(text, Zlib) << qint64(-1) << text << none;
    QTest::newRow("exact multiple of 1024") << deflated(sample(4096), Gzip) << qint64(-1) << sample(4096) << none;
    QTest::newRow("empty content") << deflated(QByteArray(), Gzip) << qint64(-1) << QByteArray() << none;
    QTest::newRow("4 bytes") << QByteArray("\x1f\x8b\x08\x00", 4) << qint64(-1) << QByteArray() << truncated;
    QTest::newRow("nothing") << QByteArray() << qint64(-1) << QByteArray() << truncated;
    QTest::newRow("5 bytes of garbage") << QByteArray("hello") << qint64(-1) << QByteArray() << none;
    QTest::newRow("corrupt body") << deflated(text, Gzip).left(10) + QByteArray(50, '\xff') << qint64(-1) << QByteArray()
                                  << none;
    QTest::newRow("preset dictionary") << deflated(text, Zlib, "abcdefghij") << qint64(-1) << QByteArray() << none;
    QTest::newRow("trailing garbage") << deflated(text, Gzip) + "trailing" << qint64(-1) << text << none;
    // A body cut short yields what could be inflated: a prefix of the text.
    const QByteArray whole = deflated(sample(200000), Gzip);
    QTest::newRow("cut short") << whole.left(whole.size() / 2) << qint64(-1) << QByteArray("prefix") << none;

    // Zeros compress about 1000:1: a small body, a large answer.
    const auto zeros = [](qint64 n) { return deflated(QByteArray(int(n), '\0'), Gzip); };
    QTest::newRow("at the limit") << zeros(10000) << qint64(10000) << QByteArray(10000, '\0') << none;
    QTest::newRow("one byte over") << zeros(10001) << qint64(10000) << QByteArray() << tooLarge;
    QTest::newRow("chunk-aligned at the limit") << zeros(8192) << qint64(8192) << QByteArray(8192, '\0') << none;
    QTest::newRow("over the default cap") << zeros(Veltro::GZIP_MAX_INFLATED_SIZE + 1) << qint64(-1) << QByteArray()
                                          << tooLarge;
}

void TestGzip::inflate()
{
    QFETCH(QByteArray, input);
    QFETCH(qint64, limit);
    QFETCH(QByteArray, expected);
    QFETCH(QString, warning);
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &,
                                                                const QString &msg) {
        if (type == QtWarningMsg)
            g_warnings << msg;
    });
    const QByteArray out = limit < 0 ? gUncompress(input) : Veltro::gUncompressLimited(input, limit);
    qInstallMessageHandler(previous);
    if (expected == "prefix")
        QVERIFY(out.size() > 50000 && sample(200000).startsWith(out));
    else
        QCOMPARE(out, expected);
    QCOMPARE(g_warnings.size(), warning.isEmpty() ? 0 : 1);
    QVERIFY(warning.isEmpty() || g_warnings.at(0).startsWith(warning));
}

QTEST_GUILESS_MAIN(TestGzip)
#include "tst_gzip.moc"
