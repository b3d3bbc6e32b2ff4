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
    void inflate_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<qint64>("limit"); // -1: gUncompress and its default cap
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("warning"); // the start of the one warning expected

        const QString truncated = QStringLiteral("gUncompress: Input data is truncated"),
                      tooLarge = QStringLiteral("gUncompress: Inflated data exceeds");
        const auto row = [](const char *name, const QByteArray &input, const QByteArray &expected,
                            const QString &warning = QString(), qint64 limit = -1) {
            QTest::newRow(name) << input << limit << expected << warning;
        };
        const QByteArray text = sample(5000);
        row("gzip", deflated(text, Gzip), text);
        row("zlib", deflated(text, Zlib), text);
        row("exact multiple of 1024", deflated(sample(4096), Gzip), sample(4096));
        row("empty content", deflated(QByteArray(), Gzip), QByteArray());
        row("4 bytes", QByteArray("\x1f\x8b\x08\x00", 4), QByteArray(), truncated);
        row("nothing", QByteArray(), QByteArray(), truncated);
        row("5 bytes of garbage", QByteArray("hello"), QByteArray());
        row("corrupt body", deflated(text, Gzip).left(10) + QByteArray(50, '\xff'), QByteArray());
        row("preset dictionary", deflated(text, Zlib, "abcdefghij"), QByteArray());
        row("trailing garbage", deflated(text, Gzip) + "trailing", text);
        // A body cut short yields what could be inflated: a prefix of the text.
        const QByteArray whole = deflated(sample(200000), Gzip);
        row("cut short", whole.left(whole.size() / 2), "prefix");

        // Zeros compress about 1000:1: a small body, a large answer.
        const auto zeros = [](qint64 n) { return deflated(QByteArray(int(n), '\0'), Gzip); };
        row("at the limit", zeros(10000), QByteArray(10000, '\0'), QString(), 10000);
        row("one byte over", zeros(10001), QByteArray(), tooLarge, 10000);
        row("chunk-aligned at the limit", zeros(8192), QByteArray(8192, '\0'), QString(), 8192);
        row("over the default cap", zeros(Veltro::GZIP_MAX_INFLATED_SIZE + 1), QByteArray(), tooLarge);
    }

    void inflate()
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
};

QTEST_GUILESS_MAIN(TestGzip)
#include "tst_gzip.moc"
