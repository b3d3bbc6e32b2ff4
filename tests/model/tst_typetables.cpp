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

    void tableShapes()
    {
        const auto str = PollType::POLL_TYPE_STR();
        const auto ids = PollType::POLL_TYPE_ID();
        QCOMPARE(str.size(), 10);
        QCOMPARE(ids.size(), 10);
        int expected = 0;
        const QRegularExpression hex32(QStringLiteral("^[0-9a-f]{32}$"));
        for (auto it = str.cbegin(); it != str.cend(); ++it, ++expected) {
            QCOMPARE(int(it.key()), expected);
            QVERIFY2(hex32.match(ids.value(it.value())).hasMatch(), qPrintable(it.value()));
        }
        QCOMPARE(ids.firstKey(), QStringLiteral("creative"));
        QCOMPARE(ids.lastKey(), QStringLiteral("yes-no-other"));
        QCOMPARE(str.value(static_cast<PollType::POLL_TYPE>(10)), QString());

        const auto ord = OrdinalType::ORDINAL_TYPE_STR();
        QCOMPARE(ord.size(), 11);
        QCOMPARE(ord.value(OrdinalType::YES_NO_OTHER), str.value(PollType::YES_NO_OTHER));
        QCOMPARE(ord.value(OrdinalType::NUMBER), str.value(PollType::NUMBER));
        QCOMPARE(ord.value(OrdinalType::GENERIC), QStringLiteral("generic"));
        QCOMPARE(ord.value(static_cast<OrdinalType::ORDINAL_TYPE>(11)), QString());
    }
};

QTEST_GUILESS_MAIN(TestTypeTables)
#include "tst_typetables.moc"
