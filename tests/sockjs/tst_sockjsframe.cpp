// SockJS frame reading and the outgoing message text.
#include "sockjsframe_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using Veltro::SockJSFrame;

class TestSockJSFrame : public QObject
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("closeCode");

        QTest::newRow("open") << "o" << int(SockJSFrame::Open) << QStringList() << 0;
        QTest::newRow("open with trailing text is not open") << "oo" << int(SockJSFrame::Unknown) << QStringList() << 0;
        QTest::newRow("heartbeat") << "h" << int(SockJSFrame::Heartbeat) << QStringList() << 0;
        QTest::newRow("streaming prelude") << QString(2048, QLatin1Char('h')) << int(SockJSFrame::Heartbeat)
                                           << QStringList() << 0;
        QTest::newRow("two messages in order") << "a[\"x\",\"y\"]" << int(SockJSFrame::Messages)
                                               << QStringList{"x", "y"} << 0;
        QTest::newRow("escapes and astral plane") << "a[\"q\\\"b\\\\n\\u0000\\ud83d\\ude00\\u2028\"]"
                                                  << int(SockJSFrame::Messages)
                                                  << QStringList{QStringLiteral("q\"b\\n") + QChar(0)
                                                                 + QString::fromUtf8("\xF0\x9F\x98\x80")
                                                                 + QChar(0x2028)}
                                                  << 0;
        QTest::newRow("only strings are messages") << "a[{\"body\":{\"type\":\"join\"}},\"x\",2,null,[\"y\"]]"
                                                   << int(SockJSFrame::Messages) << QStringList{"x"} << 0;
        QTest::newRow("broken JSON gives nothing") << "a[\"x\"" << int(SockJSFrame::Messages) << QStringList() << 0;
        QTest::newRow("object instead of array") << "a{}" << int(SockJSFrame::Messages) << QStringList() << 0;
        QTest::newRow("close") << "c[3000,\"Go away!\"]" << int(SockJSFrame::Close) << QStringList() << 3000;
        QTest::newRow("empty") << "" << int(SockJSFrame::Unknown) << QStringList() << 0;
        QTest::newRow("other letter") << "x[]" << int(SockJSFrame::Unknown) << QStringList() << 0;
    }

    void read()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QFETCH(QStringList, messages);
        QFETCH(int, closeCode);
        const SockJSFrame f = SockJSFrame::read(text);
        QCOMPARE(int(f.type), type);
        QCOMPARE(f.messages, messages);
        QCOMPARE(f.closeCode, closeCode);
    }

    // Awkward characters survive encoding and the server's echo; every plane,
    // NUL and "[ " go through each transport in the connector's session test.
    void encodeRoundTrip()
    {
        const QString message = QStringLiteral("\"q\" \\ \\\" [ x ] ") + QChar(0) + QChar(0x1F) + QChar(0x2028);
        const QString text = SockJSFrame::encode(message);
        QCOMPARE(SockJSFrame::encode(QStringLiteral("abc")), QStringLiteral("[\n    \"abc\"\n]\n"));
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &err);
        QCOMPARE(err.error, QJsonParseError::NoError);
        QCOMPARE(doc.array(), QJsonArray{message});
    }
};

QTEST_GUILESS_MAIN(TestSockJSFrame)
#include "tst_sockjsframe.moc"
