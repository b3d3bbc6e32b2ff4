// The presenter program's live tally, response statistics and in-place
// terminal redraw.
#include <QtTest>

#include "tally.h"

namespace {

QVector<TallyOption> lettered(int n)
{
    QVector<TallyOption> o;
    for (int i = 0; i < n; ++i)
        o.append({QString(QChar('A' + i)), QString()});
    return o;
}

QVector<TallyOption> trueFalse()
{
    return {{QStringLiteral("A"), QStringLiteral("TRUE")}, {QStringLiteral("B"), QStringLiteral("FALSE")},
            {QStringLiteral("?"), QStringLiteral("DONTKNOW")}};
}

QVector<TallyOption> numbered(int n)
{
    QVector<TallyOption> o;
    for (int i = 0; i < n; ++i)
        o.append({QString::number(i), QString()});
    return o;
}

QStringList counts(const Tally &t)
{
    QStringList out;
    for (const auto &b : t.bars())
        out << QStringLiteral("%1=%2").arg(b.first).arg(b.second);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(TallyOption)

class TestTally : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void optionsNamed_data()
    {
        QTest::addColumn<QVector<TallyOption>>("options");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("expected");
        // Poll answers arrive comma separated; question answers arrive as the
        // answer text immediately followed by the option ids.
        QTest::newRow("single pick") << lettered(4) << "C" << QStringList{"C"};
        QTest::newRow("same id twice counts once") << lettered(4) << "BB" << QStringList{"B"};
        QTest::newRow("label instead of id") << trueFalse() << "false" << QStringList{"B"};
        QTest::newRow("question mark id") << trueFalse() << "?" << QStringList{"?"};
        QTest::newRow("unknown letter") << lettered(4) << "Z" << QStringList{};
        QTest::newRow("part of a run unknown") << lettered(4) << "AZ" << QStringList{};
        QTest::newRow("unknown part skipped, known kept") << lettered(4) << "Z, A" << QStringList{"A"};
        QTest::newRow("longest id first") << numbered(12) << "10" << QStringList{"10"};
        QTest::newRow("empty") << lettered(4) << "" << QStringList{};
    }

    void optionsNamed()
    {
        QFETCH(QVector<TallyOption>, options);
        QFETCH(QString, answer);
        QFETCH(QStringList, expected);
        const Tally t(Tally::Mode::Choice, options);
        QCOMPARE(t.optionsNamed(answer), expected);
    }

    void bars_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QVector<TallyOption>>("options");
        QTest::addColumn<QStringList>("answers");   // one per device
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("choice, every option listed, other last")
            << int(Tally::Mode::Choice) << lettered(3) << QStringList{"A", "C", "A", "x"}
            << QStringList{"A=2", "B=0", "C=1", "other=1"};
        QTest::newRow("choice, several picks each count")
            << int(Tally::Mode::Choice) << lettered(3) << QStringList{"AB", "B,C"}
            << QStringList{"A=1", "B=2", "C=1"};
        QTest::newRow("labels shown with ids")
            << int(Tally::Mode::Choice) << trueFalse() << QStringList{"A", "B", "B"}
            << QStringList{"A TRUE=1", "B FALSE=2", "? DONTKNOW=0"};
        QTest::newRow("first pick of a ranking")
            << int(Tally::Mode::FirstPick) << lettered(3) << QStringList{"CAB", "CBA", "ABC"}
            << QStringList{"A=1", "B=0", "C=2"};
        QTest::newRow("free text by frequency, ties by text")
            << int(Tally::Mode::FreeText) << QVector<TallyOption>{}
            << QStringList{"light", "energy", "light", "growth", " energy "}
            << QStringList{"energy=2", "light=2", "growth=1"};
        QTest::newRow("no options means free text")
            << int(Tally::Mode::Choice) << QVector<TallyOption>{} << QStringList{"42", ""}
            << QStringList{"(empty)=1", "42=1"};
    }

    void bars()
    {
        QFETCH(QStringList, answers);
        QFETCH(int, mode);
        QFETCH(QVector<TallyOption>, options);
        QFETCH(QStringList, expected);
        Tally t(Tally::Mode(mode), options);
        for (int i = 0; i < answers.size(); ++i)
            QVERIFY(t.record(QStringLiteral("device-%1").arg(i), answers.at(i)));
        QCOMPARE(counts(t), expected);
        QCOMPARE(t.answered(), answers.size());
    }

    void freeTextFoldsTheTail()
    {
        Tally t;
        for (int i = 0; i < 20; ++i)
            t.record(QStringLiteral("d%1").arg(i), QStringLiteral("answer %1").arg(i % 10, 2, 10, QLatin1Char('0')));
        const auto b = t.bars(4);
        QCOMPARE(b.size(), 4);
        QCOMPARE(b.constLast().first, QStringLiteral("(7 other answers)"));
        QCOMPARE(b.constLast().second, 14);
        int sum = 0;
        for (const auto &e : b)
            sum += e.second;
        QCOMPARE(sum, 20);
    }

    void repeatedAnswerReplacesEarlierOne()
    {
        Tally t(Tally::Mode::Choice, lettered(2));
        QVERIFY(t.record(QStringLiteral("d1"), QStringLiteral("A")));
        QVERIFY(t.record(QStringLiteral("d2"), QStringLiteral("A")));
        QVERIFY(!t.record(QStringLiteral("d1"), QStringLiteral("B")));
        QCOMPARE(t.answered(), 2);
        QCOMPARE(t.repeats(), 1);
        QCOMPARE(counts(t), (QStringList{"A=1", "B=1"}));
        QVERIFY(t.hasAnswered(QStringLiteral("d1")));
        QVERIFY(!t.hasAnswered(QStringLiteral("d3")));
    }

    void renderFitsAndScales_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("narrow") << 40;
        QTest::newRow("wide") << 120;
    }

    void renderFitsAndScales()
    {
        QFETCH(int, width);
        Tally t(Tally::Mode::Choice, {{QStringLiteral("A"), QStringLiteral("a label far too long to be shown whole")},
                                      {QStringLiteral("B"), QString()}});
        for (int i = 0; i < 10; ++i)
            t.record(QStringLiteral("d%1").arg(i), QStringLiteral("A"));
        const QStringList lines = t.render(10, width, 3.24);
        QCOMPARE(lines.size(), 3);
        for (const QString &l : lines)
            QVERIFY2(l.size() <= width, qPrintable(QStringLiteral("%1 > %2: %3").arg(l.size()).arg(width).arg(l)));
        // Everyone chose A: its bar is full, B's empty.
        const QString a = lines.at(0), b = lines.at(1);
        const int barA = a.count(QLatin1Char('#')), barB = b.count(QLatin1Char('#'));
        QCOMPARE(barB, 0);
        QCOMPARE(a.section(QLatin1Char('|'), 1, 1).size(), barA);
        QVERIFY(a.endsWith(QStringLiteral("10 100%")));
        QVERIFY(a.contains(QStringLiteral("...")));
        QCOMPARE(lines.at(2), QStringLiteral("  answered 10/10  3.2 s"));
    }

    void renderMoreAnswersThanExpected()
    {
        // Learners can answer before their join is seen: the bars must not overflow.
        Tally t(Tally::Mode::Choice, lettered(1));
        for (int i = 0; i < 5; ++i)
            t.record(QStringLiteral("d%1").arg(i), QStringLiteral("A"));
        const QStringList lines = t.render(2, 60, 0);
        QVERIFY(lines.at(0).size() <= 60);
        QVERIFY(lines.at(0).endsWith(QStringLiteral("5 100%")));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("  answered 5/2")));
    }

    void summarize_data()
    {
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("median");
        QTest::addColumn<double>("slowest");
        QTest::newRow("none") << QVector<double>{} << 0 << 0.0 << 0.0;
        QTest::newRow("odd, unsorted") << QVector<double>{5, 1, 3} << 3 << 3.0 << 5.0;
        QTest::newRow("even: mean of the middle two") << QVector<double>{4, 1, 2, 9} << 4 << 3.0 << 9.0;
        QTest::newRow("ties") << QVector<double>{1, 1, 1, 2} << 4 << 1.0 << 2.0;
    }

    void summarize()
    {
        QFETCH(QVector<double>, values);
        QFETCH(int, count);
        QFETCH(double, median);
        QFETCH(double, slowest);
        const ResponseStats s = ::summarize(values);
        QCOMPARE(s.count, count);
        QCOMPARE(s.median, median);
        QCOMPARE(s.slowest, slowest);
    }

    void redraw_data()
    {
        QTest::addColumn<int>("previous");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("expected");
        const QString clear = QStringLiteral("\r\x1b[2K");
        QTest::newRow("first draw: no cursor movement")
            << 0 << QStringList{"a", "b"} << clear + "a\n" + clear + "b\n";
        QTest::newRow("same height: up and over")
            << 2 << QStringList{"a", "b"} << "\x1b[2A" + clear + "a\n" + clear + "b\n";
        QTest::newRow("shorter: leftovers cleared, cursor back below the block")
            << 3 << QStringList{"a"} << "\x1b[3A" + clear + "a\n" + clear + "\n" + clear + "\n" + "\x1b[2A";
    }

    void redraw()
    {
        QFETCH(int, previous);
        QFETCH(QStringList, lines);
        QFETCH(QString, expected);
        QCOMPARE(redrawInPlace(previous, lines), expected);
    }
};

QTEST_GUILESS_MAIN(TestTally)
#include "tst_tally.moc"
