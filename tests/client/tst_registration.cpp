// The text handling of the OAuth registration hand-off.
#include "registration_p.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class tst_Registration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void memberText_data();
    void memberText();
    void sourceSystem_data();
    void sourceSystem();
};

void tst_Registration::memberText_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("expected"); // "<null>" for no member

    QTest::newRow("last member") << R"({"infoMsgKeys":["x"],"data":{"a":"b"}})" << R"({"a":"b"})";
    QTest::newRow("members follow") << R"({"data":{"a":1},"errorMsgKeys":[]})" << R"({"a":1})";
    QTest::newRow("spaces kept inside, trimmed outside")
        << "{ \"data\" :\n { \"a\" : [1, 2] } \n}" << R"({ "a" : [1, 2] })";
    QTest::newRow("braces and quotes in strings") << R"({"data":{"t":"}\"{]"},"z":1})" << R"({"t":"}\"{]"})";
    QTest::newRow("nested data member ignored")
        << R"({"info":{"data":{"no":1}},"data":{"yes":2}})" << R"({"yes":2})";
    QTest::newRow("marker inside a string ignored") << R"({"msg":"\"data\":{\"no\":1}"})" << "<null>";
    QTest::newRow("escaped key") << R"({"d\u0061ta":[true,null]})" << "[true,null]";
    QTest::newRow("absent") << R"({"other":{}})" << "<null>";
    QTest::newRow("not an object") << R"(["data",{"data":1}])" << "<null>";
    QTest::newRow("cut short") << R"({"data":{"a":"b")" << "<null>";
}

void tst_Registration::memberText()
{
    QFETCH(QString, json);
    QFETCH(QString, expected);
    const QString text = Veltro::topLevelMemberText(json, QStringLiteral("data"));
    if (expected == QLatin1String("<null>"))
        QVERIFY(text.isNull());
    else
        QCOMPARE(text, expected);
}

void tst_Registration::sourceSystem_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");

    QTest::newRow("string last") << R"({"email":"a@b"})" << R"({"email":"a@b","sourceSystem":"Nimbra"})";
    QTest::newRow("number last") << R"({"email":"a@b","age":12})"
                                 << R"({"email":"a@b","age":12,"sourceSystem":"Nimbra"})";
    QTest::newRow("object last") << R"({"p":{"q":"r"}})" << R"({"p":{"q":"r"},"sourceSystem":"Nimbra"})";
    QTest::newRow("space before brace") << "{\"a\":true \n}" << "{\"a\":true,\"sourceSystem\":\"Nimbra\" \n}";
    QTest::newRow("empty object") << "{ }" << R"({"sourceSystem":"Nimbra" })";
    QTest::newRow("not an object") << R"("abc" x)" << R"("abc","sourceSystem":"Nimbra" x)";
}

void tst_Registration::sourceSystem()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    const QString result = Veltro::addSourceSystemMember(in);
    QCOMPARE(result, out);
    if (in.trimmed().startsWith(QLatin1Char('{'))) {
        const QJsonObject o = QJsonDocument::fromJson(result.toUtf8()).object();
        QCOMPARE(o.value(QLatin1String("sourceSystem")).toString(), QStringLiteral("Nimbra"));
    }
}

QTEST_APPLESS_MAIN(tst_Registration)
#include "tst_registration.moc"
