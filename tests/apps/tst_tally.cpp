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

QVector<TallyOption> numbered(int n)
{
    QVector<TallyOption> o;
    for (int i = 0; i < n; ++i)
        o.append({QString::number(i), QString()});
    return o;
}

const QVector<TallyOption> trueFalse = {{QStringLiteral("A"), QStringLiteral("TRUE")},
                                        {QStringLiteral("B"), QStringLiteral("FALSE")},
                                        {QStringLiteral("?"), QStringLiteral("DONTKNOW")}};
const int choice = int(Tally::Mode::Choice);

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
        QTest::newRow("label instead of id") << trueFalse << "false" << QStringList{"B"};
        QTest::newRow("question mark id") << trueFalse << "?" << QStringList{"?"};
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
        QCOMPARE(Tally(Tally::Mode::Choice, options).optionsNamed(answer), expected);
    }

    void bars_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QVector<TallyOption>>("options");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("devices"); // the device of each answer by letter; empty: one device each
        QTest::addColumn<int>("maxBars");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, int mode, const QVector<TallyOption> &options, const QStringList &answers,
                            const QStringList &expected, const QString &devices = QString(), int maxBars = 8) {
            QTest::newRow(name) << mode << options << answers << devices << maxBars << expected;
        };
        row("choice, every option listed, other last", choice, lettered(3), {"A", "C", "A", "x"},
            {"A=2", "B=0", "C=1", "other=1"});
        row("choice, several picks each count", choice, lettered(3), {"AB", "B,C"}, {"A=1", "B=2", "C=1"});
        row("labels shown with ids", choice, trueFalse, {"A", "B", "B"}, {"A TRUE=1", "B FALSE=2", "? DONTKNOW=0"});
        row("first pick of a ranking", int(Tally::Mode::FirstPick), lettered(3), {"CAB", "CBA", "ABC"},
            {"A=1", "B=0", "C=2"});
        row("free text by frequency, ties by text", int(Tally::Mode::FreeText), {},
            {"light", "energy", "light", "growth", " energy "}, {"energy=2", "light=2", "growth=1"});
        row("no options means free text", choice, {}, {"42", ""}, {"(empty)=1", "42=1"});
        row("repeated answer replaces the earlier one", choice, lettered(2), {"A", "A", "B"}, {"A=1", "B=1"}, "xyx");
        QStringList many;
        for (int i = 0; i < 20; ++i)
            many << QStringLiteral("answer %1").arg(i % 10, 2, 10, QLatin1Char('0'));
        row("free text folds the tail", int(Tally::Mode::FreeText), {}, many,
            {"answer 00=2", "answer 01=2", "answer 02=2", "(7 other answers)=14"}, QString(), 4);
    }

    void bars()
    {
        QFETCH(int, mode);
        QFETCH(QVector<TallyOption>, options);
        QFETCH(QStringList, answers);
        QFETCH(QString, devices);
        QFETCH(int, maxBars);
        QFETCH(QStringList, expected);
        Tally t(Tally::Mode(mode), options);
        QSet<QString> seen;
        for (int i = 0; i < answers.size(); ++i) {
            const QString device = devices.isEmpty() ? QString::number(i) : devices.mid(i, 1);
            QCOMPARE(t.record(device, answers.at(i)), !seen.contains(device));
            seen.insert(device);
            QVERIFY(t.hasAnswered(device));
        }
        QStringList counts;
        for (const auto &b : t.bars(maxBars))
            counts << QStringLiteral("%1=%2").arg(b.first).arg(b.second);
        QCOMPARE(counts, expected);
        QCOMPARE(t.answered(), seen.size());
        QCOMPARE(t.repeats(), answers.size() - seen.size());
    }

    void render_data()
    {
        QTest::addColumn<QVector<TallyOption>>("options");
        QTest::addColumn<int>("answers"); // all for the first option
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("width");
        QTest::addColumn<QStringList>("lines");
        const QVector<TallyOption> long_ = {{QStringLiteral("A"), QStringLiteral("a label far too long to be shown whole")},
                                            {QStringLiteral("B"), QString()}};
        const auto bar = [](int filled, int width) { return QString(filled, QLatin1Char('#')).leftJustified(width); };
        QTest::newRow("narrow") << long_ << 10 << 10 << 40
                                << QStringList{"  A a label far to... |" + bar(8, 8) + "| 10 100%",
                                               "  B                   |" + bar(0, 8) + "|  0   0%",
                                               "  answered 10/10  3.2 s"};
        QTest::newRow("wide") << long_ << 10 << 10 << 120
                              << QStringList{"  A a label far too lon... |" + bar(83, 83) + "| 10 100%",
                                             "  B                        |" + bar(0, 83) + "|  0   0%",
                                             "  answered 10/10  3.2 s"};
        // Learners can answer before their join is seen: the bars must not overflow.
        QTest::newRow("more answers than expected") << lettered(1) << 5 << 2 << 60
                                                    << QStringList{"  A    |" + bar(44, 44) + "| 5 100%",
                                                                   "  answered 5/2  3.2 s"};
    }

    void render()
    {
        QFETCH(QVector<TallyOption>, options);
        QFETCH(int, answers);
        QFETCH(int, expected);
        QFETCH(int, width);
        QFETCH(QStringList, lines);
        Tally t(Tally::Mode::Choice, options);
        for (int i = 0; i < answers; ++i)
            t.record(QStringLiteral("d%1").arg(i), QStringLiteral("A"));
        QCOMPARE(t.render(expected, width, 3.24), lines);
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
        QTest::newRow("first draw: no cursor movement") << 0 << QStringList{"a", "b"} << clear + "a\n" + clear + "b\n";
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
