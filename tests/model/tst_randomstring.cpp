#include "randomstring.h"

#include <QSet>
#include <QtTest>

class TestRandomString : public QObject
{
    Q_OBJECT
private slots:
    // Ids made in a tight loop (all within one second) must still differ.
    void distinctIdsFromAlphabet()
    {
        const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
        QSet<QString> seen;
        QSet<QChar> used;
        for (int i = 0; i < 1000; ++i) {
            const QString id = randomString(8);
            QCOMPARE(id.size(), 8);
            for (const QChar c : id) {
                QVERIFY2(alphabet.contains(c), qPrintable(id));
                used.insert(c);
            }
            seen.insert(id);
        }
        QCOMPARE(seen.size(), 1000);
        QCOMPARE(used.size(), 62); // 8000 draws cover the whole alphabet
        QCOMPARE(randomString(0), QString());
        QCOMPARE(randomString(-4), QString());
    }
};

QTEST_GUILESS_MAIN(TestRandomString)
#include "tst_randomstring.moc"
