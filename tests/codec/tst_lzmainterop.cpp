// Interoperability of the LZMA text codec with the peers' encoders and
// decoders, both ways, on the same inputs: the JavaScript LZMA that devices
// run (all three payload shapes) and xz's stand-alone LZMA format.
#include "lzmacodec.h"
#include "testdata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

namespace {

constexpr int PEER_TIMEOUT_MS = 120000;

struct Input
{
    const char *name;
    QString text;
};

QList<Input> inputs()
{
    return {
        { "ascii", QStringLiteral("{\"type\":\"pollResponse\",\"answer\":\"B\"}") },
        { "multibyte", QString::fromUtf8("Grüße — 世界 ответ \xF0\x9F\x98\x80 done") },
        { "empty", QString() },
        { "1 MiB", wordSalad() },
    };
}

// Runs `program` with `stdinData`; returns its stdout, or a null array when it
// did not finish cleanly within the bound.
QByteArray run(const QString &program, const QStringList &args, const QByteArray &stdinData,
               QString *error)
{
    QProcess p;
    p.setProgram(program);
    p.setArguments(args);
    p.start();
    if (!p.waitForStarted(10000)) {
        *error = program + QStringLiteral(" did not start");
        return {};
    }
    p.write(stdinData);
    p.closeWriteChannel();
    if (!p.waitForFinished(PEER_TIMEOUT_MS)) {
        p.kill();
        p.waitForFinished(5000);
        *error = program + QStringLiteral(" timed out");
        return {};
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAllStandardError());
        return {};
    }
    QByteArray out = p.readAllStandardOutput();
    if (out.isNull())
        out = QByteArray("");
    return out;
}

QByteArray fromSigned(const QJsonArray &list)
{
    QByteArray b;
    for (const QJsonValue &v : list)
        b.append(char(v.toInt()));
    return b;
}

} // namespace

class TestLzmaInterop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fromDevices_data();
    void fromDevices();
    void toDevices_data();
    void toDevices();
    void withXz_data();
    void withXz();

private:
    QList<QString> m_ours;            // our Base64 payload per input
    QList<QByteArray> m_fromJs;       // the device encoder's bytes per input
    QList<QJsonValue> m_restoredByJs; // the device decoder's text of our payload
};

void TestLzmaInterop::initTestCase()
{
    QJsonArray texts, payloads;
    for (const Input &in : inputs()) {
        QString b64;
        QVERIFY(LzmaCompress64(in.text, &b64));
        m_ours << b64;
        texts << in.text;
        payloads << b64;
    }
    QTemporaryFile request;
    QVERIFY(request.open());
    request.write(QJsonDocument(QJsonObject{ { QStringLiteral("texts"), texts },
                                             { QStringLiteral("payloads"), payloads } })
                      .toJson(QJsonDocument::Compact));
    request.close();

    QString error;
    const QByteArray reply = run(QStringLiteral(VELTRO_NODE),
                                 { QFINDTESTDATA("lzmajs.js"), request.fileName() }, {}, &error);
    QVERIFY2(!reply.isNull(), qPrintable(error));
    const QJsonObject o = QJsonDocument::fromJson(reply).object();
    for (const QJsonValue &v : o.value(QStringLiteral("compressed")).toArray())
        m_fromJs << fromSigned(v.toArray());
    for (const QJsonValue &v : o.value(QStringLiteral("restored")).toArray())
        m_restoredByJs << v;
    QCOMPARE(m_fromJs.size(), inputs().size());
    QCOMPARE(m_restoredByJs.size(), inputs().size());
}

// The device encoder's signed byte list; that the other payload shapes restore
// the same bytes identically is shown by the codec's own tests.
void TestLzmaInterop::fromDevices_data()
{
    toDevices_data();
}

void TestLzmaInterop::fromDevices()
{
    QFETCH(int, index);
    const QByteArray bytes = m_fromJs.value(index);
    QVERIFY(bytes.size() > 13);
    QVariantList list;
    for (char c : bytes)
        list << int(qint8(c));
    QString out;
    QVERIFY(LzmaDecompressList(list, &out));
    QCOMPARE(out, inputs().at(index).text);
}

void TestLzmaInterop::toDevices_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < inputs().size(); ++i)
        QTest::newRow(inputs().at(i).name) << i;
}

void TestLzmaInterop::toDevices()
{
    QFETCH(int, index);
    const QJsonValue restored = m_restoredByJs.value(index);
    QVERIFY2(restored.isString(), "the device decoder refused our payload");
    QCOMPARE(restored.toString(), inputs().at(index).text);
}

void TestLzmaInterop::withXz_data()
{
    toDevices_data();
}

void TestLzmaInterop::withXz()
{
    QFETCH(int, index);
    const QByteArray utf8 = inputs().at(index).text.toUtf8();
    QString error;

    // xz writes "size unknown" and an end marker; we restore it.
    const QByteArray theirs = run(QStringLiteral(VELTRO_XZ), { QStringLiteral("--format=lzma"), QStringLiteral("-0"),
                                                               QStringLiteral("-c") }, utf8, &error);
    QVERIFY2(!theirs.isNull(), qPrintable(error));
    QString out;
    QVERIFY(LzmaDecompress64(QString::fromLatin1(theirs.toBase64()), &out));
    QCOMPARE(out, inputs().at(index).text);

    // Our payload (known size and end marker) is a valid stand-alone file for xz.
    const QByteArray restored = run(QStringLiteral(VELTRO_XZ), { QStringLiteral("--format=lzma"), QStringLiteral("-dc") },
                                    QByteArray::fromBase64(m_ours.value(index).toLatin1()), &error);
    QVERIFY2(!restored.isNull(), qPrintable(error));
    QCOMPARE(restored, utf8);
}

QTEST_GUILESS_MAIN(TestLzmaInterop)
#include "tst_lzmainterop.moc"
