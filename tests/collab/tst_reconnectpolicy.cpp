// The reconnection policy on its own: backoff delays with jitter and limits,
// and the bounded hold of outgoing frames.
#include <QtTest>

#include "outgoingqueue_p.h"
#include "reconnectbackoff_p.h"

class TestReconnectPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each step: the time of the attempt's scheduling and the random draw;
    // the expected delays (-1: give up).
    void backoff_data()
    {
        QTest::addColumn<QList<int>>("config");   // initial, max, attempts, total
        QTest::addColumn<QList<int>>("times");
        QTest::addColumn<QList<double>>("draws");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("doubling from half to full step, capped")
            << QList<int>{500, 3000, 0, 0} << QList<int>{0, 1, 2, 3, 4, 5}
            << QList<double>{0.0, 0.999, 0.5, 0.0, 0.0, 0.999}
            << QList<int>{250, 999, 1500, 1500, 1500, 2998};
        QTest::newRow("attempt limit") << QList<int>{100, 1000, 2, 0} << QList<int>{0, 10, 20}
                                       << QList<double>{0, 0, 0} << QList<int>{50, 100, -1};
        QTest::newRow("total time limit counts from the first drop")
            << QList<int>{1000, 1000, 0, 5000} << QList<int>{100, 3000, 4400}
            << QList<double>{0, 0, 0.999} << QList<int>{500, 500, -1};
        QTest::newRow("no overflow after many attempts")
            << QList<int>{500, 30000, 0, 0} << QList<int>{} << QList<double>{}
            << [] { QList<int> e{250, 500, 1000, 2000, 4000, 8000}; while (e.size() < 70) e << 15000; return e; }();
    }
    void backoff()
    {
        QFETCH(QList<int>, config);
        QFETCH(QList<int>, times);
        QFETCH(QList<double>, draws);
        QFETCH(QList<int>, expected);
        if (times.isEmpty()) {   // as many as expected, all at 0 with draw 0
            for (int i = 0; i < expected.size(); ++i) {
                times << 0;
                draws << 0.0;
            }
        }
        ReconnectBackoff b;
        b.setDelays(config[0], config[1]);
        b.setLimits(config[2], config[3]);
        for (int i = 0; i < times.size(); ++i) {
            QCOMPARE(b.next(times[i], draws[i]), expected[i]);
            if (expected[i] >= 0)
                QCOMPARE(b.attempt(), i + 1);
        }
        // Up again: the next drop starts a new series and its own clock.
        b.reset();
        QCOMPARE(b.next(1000000, 0), config[0] / 2);
    }

    void hold_data()
    {
        QTest::addColumn<int>("maxFrames");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<QList<int>>("pushed");   // frame lengths, frame i made of letter 'a' + i
        QTest::addColumn<QString>("kept");        // first letters of the frames left, in order
        QTest::addColumn<int>("dropped");
        QTest::newRow("within bounds") << 3 << 100 << QList<int>{1, 2, 3} << "abc" << 0;
        QTest::newRow("frame count: oldest go") << 2 << 100 << QList<int>{1, 1, 1, 1} << "cd" << 2;
        QTest::newRow("size: oldest go until it fits") << 10 << 10 << QList<int>{4, 4, 4, 9} << "d" << 3;
        QTest::newRow("frame larger than the bound") << 10 << 10 << QList<int>{4, 11, 4} << "ac" << 1;
    }
    void hold()
    {
        QFETCH(int, maxFrames);
        QFETCH(int, maxChars);
        QFETCH(QList<int>, pushed);
        QFETCH(QString, kept);
        QFETCH(int, dropped);
        OutgoingQueue q(maxFrames, maxChars);
        for (int i = 0; i < pushed.size(); ++i)
            q.push(QString(pushed[i], QChar('a' + i)));
        QCOMPARE(q.dropped(), qint64(dropped));
        QString firsts;
        qint64 chars = 0;
        for (const QString &f : q.takeAll()) {
            firsts += f.at(0);
            chars += f.size();
        }
        QCOMPARE(firsts, kept);
        QVERIFY(chars <= maxChars);
        QCOMPARE(q.size(), 0);
        QCOMPARE(q.chars(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestReconnectPolicy)
#include "tst_reconnectpolicy.moc"
