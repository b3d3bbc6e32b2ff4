// Command line of veltro-present: what each argument turns into, the arguments
// that must be refused before anything touches the network, and where the
// password comes from.
#include <QtTest>

#include "credentials.h"
#include "presentconfig.h"

class TestPresentConfig : public QObject
{
    Q_OBJECT

private:
    static ParseOutcome parse(const QStringList &args, PresentConfig *c, QString *msg)
    {
        return parsePresentArguments(QStringList{QStringLiteral("veltro-present")} + args, c, msg);
    }

private Q_SLOTS:
    // "<poll> <labels> <options> [<transports>]", or "refused: <part of the message>".
    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QStringList &args, const char *expected) {
            QTest::newRow(name) << args << QString::fromUtf8(expected);
        };
        row("defaults", {}, "multiple alpha-upper 4");
        row("true-false fixed labels", {"--poll", "true-false"}, "true-false true-false 2");
        row("yes-no has a third answer", {"--poll", "yes-no"}, "yes-no-other yes-no-other 3");
        row("wire name accepted", {"--poll", "yes-no-other", "--options", "2"}, "yes-no-other yes-no-other 2");
        row("scale numbered", {"--poll=scale", "--options=5"}, "scale number 5");
        row("sort lettered", {"--poll", "SORT"}, "sort alpha-upper 4");
        row("number: options are decimals", {"--poll", "number", "--options", "2"}, "number number 2");
        row("math with its blank", {"--poll", "math formula"}, "math formula generic 0");
        row("text has no options", {"--poll", "text"}, "text generic 0");
        row("word-seed", {"--poll", "word-seed", "--options", "3"}, "word-seed generic 3");
        row("creative", {"--poll", "creative"}, "creative generic 0");
        row("labels chosen", {"--poll", "multiple", "--ordinal", "alpha-lower", "--options", "6"},
            "multiple alpha-lower 6");
        row("one transport", {"--transport", "xhr-polling"}, "multiple alpha-upper 4 xhr-polling");
        row("transport list keeps order", {"--transport", "xhr-streaming, websocket"},
            "multiple alpha-upper 4 xhr-streaming,websocket");
        row("repeated option, duplicate dropped, case folded",
            {"--transport", "WebSocket", "--transport", "xhr-polling,websocket"},
            "multiple alpha-upper 4 websocket,xhr-polling");

        row("unknown poll", {"--poll", "essay"}, "refused: essay");
        row("too few options", {"--options", "1"}, "refused: --options");
        row("too many true-false options", {"--poll", "true-false", "--options", "4"}, "refused: --options");
        row("options on a text poll", {"--poll", "text", "--options", "3"}, "refused: no options");
        row("options not a number", {"--options", "four"}, "refused: four");
        row("unknown transport", {"--transport", "websockets"}, "refused: websockets");
        row("empty transport list", {"--transport", ","}, "refused: --transport");
        row("not an http server", {"--server", "ftp://127.0.0.1"}, "refused: --server");
        row("negative expect", {"--expect", "-1"}, "refused: --expect");
        row("zero poll time", {"--poll-time", "0"}, "refused: --poll-time");
        row("more correct than options", {"--correct", "5"}, "refused: --correct");
        row("unknown labels", {"--ordinal", "roman"}, "refused: roman");
        row("unknown option", {"--learners", "30"}, "refused: learners");
        row("stray argument", {"now"}, "refused: now");
        row("empty user", {"--user", ""}, "refused: --user");
        row("empty password", {"--password="}, "refused: --password");
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
        QCOMPARE(outcome, ParseOutcome::Run);
        const QStringList got{Veltro::PollType::POLL_TYPE_STR().value(c.pollType),
                              Veltro::OrdinalType::ORDINAL_TYPE_STR().value(c.ordinalType), QString::number(c.options),
                              c.transports.join(QLatin1Char(','))};
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
        QTest::newRow("argument warned") << "pw" << QByteArray() << QByteArray("env") << true << int(P::Argument)
                                         << "pw" << "process list";
        QTest::newRow("environment") << "-" << QByteArray() << QByteArray("env") << true << int(P::Environment)
                                     << "env" << "";
        QTest::newRow("terminal asks") << "-" << QByteArray() << QByteArray() << true << int(P::Prompt) << "" << "";
        QTest::newRow("nothing to go on") << "-" << QByteArray() << QByteArray() << false << int(P::Missing) << "" << "";
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

    void helpAndPlainErrors()
    {
        PresentConfig c;
        QString msg;
        QCOMPARE(parse({"--help"}, &c, &msg), ParseOutcome::Help);
        for (const QString &name : pollKindNames() + QStringList{"--poll-time"})
            QVERIFY2(msg.contains(name), qPrintable(name));
        // A known key in words, with the key kept; an unknown one as it is.
        const QString words = plainError(QStringLiteral("SSLRootCertificateMissing"));
        QVERIFY(words.contains(QStringLiteral("--cacert")) && words.contains(QStringLiteral("SSLRootCertificateMissing")));
        QCOMPARE(plainError(QStringLiteral("error.somethingNew")), QStringLiteral("error.somethingNew"));
        QVERIFY(!plainError(QString()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPresentConfig)
#include "tst_presentconfig.moc"
