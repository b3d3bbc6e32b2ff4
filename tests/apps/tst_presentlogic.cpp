// The presenter program's logic: arguments, password sources, the drawn tally, statistics and the redraw.
#include <QtTest>

#include "credentials.h"
#include "presentconfig.h"
#include "polltallymodel.h"
#include "tallyview.h"

using Veltro::TallyOption;

class TestPresentLogic : public QObject
{
    Q_OBJECT

private:
    static ParseOutcome parse(const QStringList &args, PresentConfig *c, QString *msg)
    {
        return parsePresentArguments(QStringList{QStringLiteral("veltro-present")} + args, c, msg);
    }

private Q_SLOTS:
    // "<poll> <labels> <options> [<transports>] [<field>=<value> for each other field off its default]",
    // "refused: <part of the message>", or "help: <part of the help text>".
    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QStringList &args, const char *expected) {
            QTest::newRow(name) << args << QString::fromUtf8(expected);
        };
        row("defaults", {}, "multiple alpha-upper 4");
        row("yes-no has a third answer", {"--poll", "yes-no"}, "yes-no-other yes-no-other 3");
        row("wire name accepted", {"--poll", "yes-no-other", "--options", "2"}, "yes-no-other yes-no-other 2");
        row("scale numbered", {"--poll=scale", "--options=5"}, "scale number 5");
        row("sort lettered", {"--poll", "SORT"}, "sort alpha-upper 4");
        row("math with its blank", {"--poll", "math formula"}, "math formula generic 0");
        row("labels chosen", {"--poll", "multiple", "--ordinal", "alpha-lower", "--options", "6"},
            "multiple alpha-lower 6");
        row("one transport", {"--transport", "xhr-polling"}, "multiple alpha-upper 4 xhr-polling");
        row("transport list keeps order", {"--transport", "xhr-streaming, websocket"},
            "multiple alpha-upper 4 xhr-streaming,websocket");
        row("repeated option, duplicate dropped, case folded",
            {"--transport", "WebSocket", "--transport", "xhr-polling,websocket"},
            "multiple alpha-upper 4 websocket,xhr-polling");
        row("every option reaches its field",
            {"--server", " https://h.example ", "--user", "bob", "--password", "pw", "--password-file", "f",
             "--poll", "scale", "--correct", "3", "--assessment", "5", "--learners-wait", "9", "--expect", "12",
             "--poll-time", "33", "--upload", "u", "--cacert", "ca", "--plain", "--verbose", "--remember"},
            "scale number 4  server=https://h.example user=bob password=pw passwordFile=f correct=3 assessment=5 "
            "learnersWait=9 expect=12 pollTime=33 upload=u cacert=ca plain verbose remember");
        row("forget", {"--forget"}, "multiple alpha-upper 4  forget");
        row("help from the option table", {"-h"}, "help: --poll-time <SECONDS>");

        row("unknown poll", {"--poll", "essay"}, "refused: essay");
        row("too few options", {"--options", "1"}, "refused: --options");
        row("too many true-false options", {"--poll", "true-false", "--options", "4"}, "refused: --options");
        row("options on a text poll", {"--poll", "text", "--options", "3"}, "refused: no options");
        row("unknown transport", {"--transport", "websockets"}, "refused: websockets");
        row("empty transport list", {"--transport", ","}, "refused: --transport");
        row("not an http server", {"--server", "ftp://127.0.0.1"}, "refused: --server");
        row("unknown option", {"--learners", "30"}, "refused: learners");
        row("empty password", {"--password="}, "refused: --password");
        row("remember and forget at once", {"--forget", "--remember"}, "refused: --remember or --forget");
        row("correct answers bounded by the kind's options", {"--poll", "true-false", "--correct", "3"},
            "refused: --correct takes a whole number from 1 to 2");
    }

    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        PresentConfig c;
        QString msg;
        const ParseOutcome outcome = parse(args, &c, &msg);
        if (expected.startsWith(QLatin1String("refused: "))) {
            QCOMPARE(outcome, ParseOutcome::Error);
            QVERIFY2(msg.contains(expected.mid(9)), qPrintable(msg));
            return;
        }
        if (expected.startsWith(QLatin1String("help: "))) {
            QCOMPARE(outcome, ParseOutcome::Help);
            QVERIFY2(msg.contains(expected.mid(6)), qPrintable(msg));
            return;
        }
        QCOMPARE(outcome, ParseOutcome::Run);
        QStringList got{Veltro::PollType::POLL_TYPE_STR().value(c.pollType),
                        Veltro::OrdinalType::ORDINAL_TYPE_STR().value(c.ordinalType), QString::number(c.options),
                        c.transports.join(QLatin1Char(','))};
        const PresentConfig d;
        const auto field = [&got](const char *name, const QString &value, const QString &byDefault) {
            if (value != byDefault)
                got << QStringLiteral("%1=%2").arg(QLatin1String(name), value);
        };
        field("server", c.server, d.server);
        field("user", c.user, d.user);
        field("password", c.password, d.password);
        field("passwordFile", c.passwordFile, d.passwordFile);
        field("correct", QString::number(c.correctOptions), QString::number(d.correctOptions));
        field("assessment", QString::number(c.assessmentQuestions), QString::number(d.assessmentQuestions));
        field("learnersWait", QString::number(c.learnersWaitSeconds), QString::number(d.learnersWaitSeconds));
        field("expect", QString::number(c.expectLearners), QString::number(d.expectLearners));
        field("pollTime", QString::number(c.pollTimeSeconds), QString::number(d.pollTimeSeconds));
        field("upload", c.uploadFile, d.uploadFile);
        field("cacert", c.caCertFile, d.caCertFile);
        for (const auto &[on, name] : {std::pair{c.plain, "plain"}, {c.verbose, "verbose"}, {c.remember, "remember"}, {c.forget, "forget"}}) {
            if (on)
                got << QLatin1String(name);
        }
        QCOMPARE(got.join(QLatin1Char(' ')).trimmed(), expected);
    }

    void passwordSources_data()
    {
        QTest::addColumn<QString>("argument");    // "-": --password not given
        QTest::addColumn<QByteArray>("fileText"); // empty: no --password-file; "-": a file that is missing
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("says"); // in the warning, or in the error when source is Missing

        using P = PasswordChoice;
        QTest::newRow("file: first line, before the environment")
            << "-" << QByteArray("s3cret \r\nnext") << QByteArray("env") << true << int(P::File) << "s3cret " << "";
        QTest::newRow("terminal asks") << "-" << QByteArray() << QByteArray() << true << int(P::Prompt) << "" << "";
        QTest::newRow("both options") << "pw" << QByteArray("x") << QByteArray() << false << int(P::Missing) << ""
                                      << "not both";
        QTest::newRow("missing file") << "-" << QByteArray("-") << QByteArray() << true << int(P::Missing) << ""
                                      << "cannot read";
        QTest::newRow("empty first line") << "-" << QByteArray("\npw") << QByteArray() << true << int(P::Missing) << ""
                                          << "no password";
    }

    void passwordSources()
    {
        QFETCH(QString, argument);
        QFETCH(QByteArray, fileText);
        QFETCH(QByteArray, environment);
        QFETCH(bool, terminal);
        QFETCH(int, source);
        QFETCH(QString, password);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString file = fileText.isEmpty() ? QString() : dir.filePath(QStringLiteral("password"));
        if (!fileText.isEmpty() && fileText != "-") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(fileText) == fileText.size());
            f.close();
            QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        }
        const PasswordChoice c =
            choosePassword(argument == QLatin1String("-") ? QString() : argument, file, environment, terminal);
        QCOMPARE(int(c.source), source);
        QCOMPARE(c.password, password);
        QVERIFY((source == PasswordChoice::Missing ? c.error : c.warning).contains(says));
        QCOMPARE(c.warning.isEmpty(), says.isEmpty() || source == PasswordChoice::Missing);
    }

    void render()
    {
        const auto drawn = [](const QVector<TallyOption> &options, int answers, int expected, int width) {
            Veltro::PollTallyModel t;
            t.start(QStringLiteral("q"), Veltro::PollType::MULTIPLE, options);
            for (int i = 0; i < answers; ++i)
                t.record(QStringLiteral("d%1").arg(i), QStringLiteral("q"), QStringLiteral("A"));
            t.record(QStringLiteral("d0"), QStringLiteral("q"), QStringLiteral("A")); // a changed answer
            t.flush();
            return renderTally(t, expected, width, 3.24);
        };
        const auto bar = [](int filled, int width) { return QString(filled, QLatin1Char('#')).leftJustified(width); };
        const QVector<TallyOption> long_ = {{QStringLiteral("A"), QStringLiteral("a label far too long to be shown whole")},
                                            {QStringLiteral("B"), QString()}};
        QCOMPARE(drawn(long_, 10, 10, 40), (QStringList{"  A a label far to... |" + bar(8, 8) + "| 10 100%",
                                                       "  B                   |" + bar(0, 8) + "|  0   0%",
                                                       "  answered 10/10 (1 changed their answer)  3.2 s"}));
        // Learners can answer before their join is seen: the bars must not overflow.
        QCOMPARE(drawn({{QStringLiteral("A"), QString()}}, 5, 2, 60),
                 (QStringList{"  A    |" + bar(44, 44) + "| 5 100%", "  answered 5/2 (1 changed their answer)  3.2 s"}));
    }

    void summarizeAndRedraw()
    {
        const auto stats = [](const QVector<double> &v) {
            const ResponseStats s = ::summarize(v);
            return QVector<double>{double(s.count), s.median, s.slowest};
        };
        QCOMPARE(stats({}), (QVector<double>{0, 0, 0}));
        QCOMPARE(stats({5, 1, 3}), (QVector<double>{3, 3, 5}));
        QCOMPARE(stats({4, 1, 2, 9}), (QVector<double>{4, 3, 9})); // even: mean of the middle two

        const QString clear = QStringLiteral("\r\x1b[2K");
        QCOMPARE(redrawInPlace(0, {"a", "b"}), clear + "a\n" + clear + "b\n");
        QCOMPARE(redrawInPlace(2, {"a", "b"}), "\x1b[2A" + clear + "a\n" + clear + "b\n");
        // Shorter: leftovers cleared, the cursor back below the new block.
        QCOMPARE(redrawInPlace(3, {"a"}), "\x1b[3A" + clear + "a\n" + clear + "\n" + clear + "\n" + "\x1b[2A");
    }
};

QTEST_GUILESS_MAIN(TestPresentLogic)
#include "tst_presentlogic.moc"
