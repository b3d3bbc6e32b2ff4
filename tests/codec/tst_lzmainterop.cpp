// The LZMA text codec against the devices' JavaScript LZMA and xz's LZMA format, both ways.
#include "lzmacodec.h"
#include "testdata.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

const QList<QPair<const char *, QString>> &inputs()
{
    static const QList<QPair<const char *, QString>> list{
        { "ascii", QStringLiteral("{\"type\":\"pollResponse\",\"answer\":\"B\"}") },
        { "multibyte", QString::fromUtf8("Grüße — 世界 ответ \xF0\x9F\x98\x80 done") },
        { "empty", QString() },
        { "1 MiB", wordSalad() },
    };
    return list;
}

// Runs `program` with `stdinData`; returns its stdout, or a null array (and
// the reason in `*error`) when it did not finish cleanly within the bound.
QByteArray run(const QString &program, const QStringList &args, const QByteArray &stdinData, QString *error)
{
    QProcess p;
    p.start(program, args);
    p.write(stdinData);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        *error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAllStandardError());
        return {};
    }
    const QByteArray out = p.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out;
}

} // namespace

class TestLzmaInterop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QJsonArray texts, payloads;
        for (const auto &in : inputs()) {
            QString b64;
            QVERIFY(LzmaCompress64(in.second, &b64));
            m_ours << b64;
            texts << in.second;
            payloads << b64;
        }
        const QByteArray request = QJsonDocument(QJsonObject{ { QStringLiteral("texts"), texts },
                                                             { QStringLiteral("payloads"), payloads } })
                                       .toJson(QJsonDocument::Compact);
        QString error;
        // An absolute path: QFINDTESTDATA cannot resolve a relative __FILE__ (as a
        // compiler cache with a base folder writes it) on Qt 5.
        const QString script = QStringLiteral(VELTRO_CODEC_TESTS "/lzmajs.js");
        const QByteArray reply = run(nodeProgram(), { script }, request, &error);
        QVERIFY2(!reply.isNull(), qPrintable(error));
        const QJsonObject o = QJsonDocument::fromJson(reply).object();
        for (const QJsonValue &v : o.value(QStringLiteral("compressed")).toArray())
            m_fromJs << v.toArray().toVariantList();
        for (const QJsonValue &v : o.value(QStringLiteral("restored")).toArray())
            m_restoredByJs << v;
        QCOMPARE(m_fromJs.size(), inputs().size());
        QCOMPARE(m_restoredByJs.size(), inputs().size());
    }

    void peers_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < inputs().size(); ++i)
            QTest::newRow(inputs().at(i).first) << i;
    }

    void peers()
    {
        QFETCH(int, index);
        const QString text = inputs().at(index).second;
        const QByteArray utf8 = text.toUtf8();

        // The device encoder's signed byte list (the other shapes restore the same
        // bytes, as the codec's own tests show), and the device decoder on ours.
        QString out;
        QVERIFY(m_fromJs.at(index).size() > 13);
        QVERIFY(LzmaDecompressList(m_fromJs.at(index), &out));
        QCOMPARE(out, text);
        QVERIFY2(m_restoredByJs.at(index).isString(), "the device decoder refused our payload");
        QCOMPARE(m_restoredByJs.at(index).toString(), text);

        // xz writes "size unknown" and an end marker; we restore it.
        QString error;
        const QString xz = QStringLiteral(VELTRO_XZ), lzma = QStringLiteral("--format=lzma");
        const QByteArray theirs = run(xz, { lzma, QStringLiteral("-0"), QStringLiteral("-c") }, utf8, &error);
        QVERIFY2(!theirs.isNull(), qPrintable(error));
        QVERIFY(LzmaDecompress64(QString::fromLatin1(theirs.toBase64()), &out));
        QCOMPARE(out, text);

        // Our payload (known size and end marker) is a valid stand-alone file for xz.
        const QByteArray ours = QByteArray::fromBase64(m_ours.at(index).toLatin1());
        const QByteArray restored = run(xz, { lzma, QStringLiteral("-dc") }, ours, &error);
        QVERIFY2(!restored.isNull(), qPrintable(error));
        QCOMPARE(restored, utf8);
    }

private:
    QList<QString> m_ours;            // our Base64 payload per input
    QList<QVariantList> m_fromJs;     // the device encoder's signed bytes per input
    QList<QJsonValue> m_restoredByJs; // the device decoder's text of our payload
};

QTEST_GUILESS_MAIN(TestLzmaInterop)
#include "tst_lzmainterop.moc"
