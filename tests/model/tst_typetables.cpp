#include "ordinaltype.h"
#include "polltype.h"

#include <QRegularExpression>
#include <QtTest>

using namespace Veltro;

class TestTypeTables : public QObject
{
    Q_OBJECT
private slots:
    void lookups_data()
    {
        QTest::addColumn<QString>("typeString");
        QTest::addColumn<QString>("id");
        QTest::newRow("true-false") << "true-false" << "3c476afbcfce45eda0b44df4737c3d27";
        QTest::newRow("yes-no-other shares it") << "yes-no-other" << "3c476afbcfce45eda0b44df4737c3d27";
        QTest::newRow("math formula with blank") << "math formula" << "9f31dd1a55374c49a3127b8f94a1f1a6";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("Poll") << "Poll" << "";
        QTest::newRow("hyphenated math") << "math-formula" << "";
        QTest::newRow("case-sensitive") << "True-False" << "";
    }
    void lookups()
    {
        QFETCH(QString, typeString);
        QFETCH(QString, id);
        QCOMPARE(PollType::POLL_TYPE_ID().value(typeString), id);
    }

    // Every type string has a well-formed identifier; lookups outside a table give "".
    void tablesAgree()
    {
        const auto ids = PollType::POLL_TYPE_ID();
        const auto names = PollType::POLL_TYPE_STR();
        QCOMPARE(ids.size(), names.size());
        const QRegularExpression hex32(QStringLiteral("^[0-9a-f]{32}$"));
        for (const QString &name : names)
            QVERIFY2(hex32.match(ids.value(name)).hasMatch(), qPrintable(name));
        QCOMPARE(names.value(static_cast<PollType::POLL_TYPE>(10)), QString());
        const auto ordinals = OrdinalType::ORDINAL_TYPE_STR();
        QCOMPARE(ordinals.size(), 11);
        QCOMPARE(ordinals.value(static_cast<OrdinalType::ORDINAL_TYPE>(11)), QString());
    }
};

QTEST_GUILESS_MAIN(TestTypeTables)
#include "tst_typetables.moc"
