// Command line of veltro-present: what each argument turns into, and the
// arguments that must be refused before anything touches the network.
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
    void defaults()
    {
        PresentConfig c;
        QString msg;
        QCOMPARE(parse({}, &c, &msg), ParseOutcome::Run);
        QCOMPARE(c.server, QStringLiteral("http://127.0.0.1:8080"));
        QCOMPARE(c.user, QStringLiteral("teacher"));
        QVERIFY(c.transports.isEmpty());
        QCOMPARE(c.pollType, Veltro::PollType::MULTIPLE);
        QCOMPARE(c.ordinalType, Veltro::OrdinalType::ALPHA_UPPER);
        QCOMPARE(c.options, 4);
        QCOMPARE(c.assessmentQuestions, 0);
    }

    void pollKinds_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("pollType");
        QTest::addColumn<int>("ordinalType");
        QTest::addColumn<int>("options");

        using P = Veltro::PollType;
        using O = Veltro::OrdinalType;
        QTest::newRow("true-false fixed labels") << QStringList{"--poll", "true-false"}
                                                 << int(P::TRUE_FALSE) << int(O::TRUE_FALSE) << 2;
        QTest::newRow("yes-no has a third answer") << QStringList{"--poll", "yes-no"}
                                                   << int(P::YES_NO_OTHER) << int(O::YES_NO_OTHER) << 3;
        QTest::newRow("wire name accepted") << QStringList{"--poll", "yes-no-other", "--options", "2"}
                                            << int(P::YES_NO_OTHER) << int(O::YES_NO_OTHER) << 2;
        QTest::newRow("scale numbered") << QStringList{"--poll=scale", "--options=5"}
                                        << int(P::SCALE) << int(O::NUMBER) << 5;
        QTest::newRow("sort lettered") << QStringList{"--poll", "SORT"} << int(P::SORT) << int(O::ALPHA_UPPER) << 4;
        QTest::newRow("number: options are decimals") << QStringList{"--poll", "number", "--options", "2"}
                                                      << int(P::NUMBER) << int(O::NUMBER) << 2;
        QTest::newRow("math with its blank") << QStringList{"--poll", "math formula"}
                                             << int(P::MATH_FORMULA) << int(O::GENERIC) << 0;
        QTest::newRow("text has no options") << QStringList{"--poll", "text"} << int(P::TEXT) << int(O::GENERIC) << 0;
        QTest::newRow("word-seed") << QStringList{"--poll", "word-seed", "--options", "3"}
                                   << int(P::WORD_SEED) << int(O::GENERIC) << 3;
        QTest::newRow("creative") << QStringList{"--poll", "creative"} << int(P::CREATIVE) << int(O::GENERIC) << 0;
        QTest::newRow("labels chosen") << QStringList{"--poll", "multiple", "--ordinal", "alpha-lower", "--options", "6"}
                                       << int(P::MULTIPLE) << int(O::ALPHA_LOWER) << 6;
    }

    void pollKinds()
    {
        QFETCH(QStringList, args);
        QFETCH(int, pollType);
        QFETCH(int, ordinalType);
        QFETCH(int, options);
        PresentConfig c;
        QString msg;
        QCOMPARE(parse(args, &c, &msg), ParseOutcome::Run);
        QCOMPARE(int(c.pollType), pollType);
        QCOMPARE(int(c.ordinalType), ordinalType);
        QCOMPARE(c.options, options);
    }

    void transports_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one") << QStringList{"--transport", "xhr-polling"} << QStringList{"xhr-polling"};
        QTest::newRow("list keeps order") << QStringList{"--transport", "xhr-streaming, websocket"}
                                          << QStringList{"xhr-streaming", "websocket"};
        QTest::newRow("repeated option, duplicate dropped, case folded")
            << QStringList{"--transport", "WebSocket", "--transport", "xhr-polling,websocket"}
            << QStringList{"websocket", "xhr-polling"};
    }

    void transports()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        PresentConfig c;
        QString msg;
        QCOMPARE(parse(args, &c, &msg), ParseOutcome::Run);
        QCOMPARE(c.transports, expected);
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown poll") << QStringList{"--poll", "essay"} << "essay";
        QTest::newRow("too few options") << QStringList{"--options", "1"} << "--options";
        QTest::newRow("too many true-false options") << QStringList{"--poll", "true-false", "--options", "4"} << "--options";
        QTest::newRow("options on a text poll") << QStringList{"--poll", "text", "--options", "3"} << "no options";
        QTest::newRow("options not a number") << QStringList{"--options", "four"} << "four";
        QTest::newRow("unknown transport") << QStringList{"--transport", "websockets"} << "websockets";
        QTest::newRow("empty transport list") << QStringList{"--transport", ","} << "--transport";
        QTest::newRow("not an http server") << QStringList{"--server", "ftp://127.0.0.1"} << "--server";
        QTest::newRow("negative expect") << QStringList{"--expect", "-1"} << "--expect";
        QTest::newRow("zero poll time") << QStringList{"--poll-time", "0"} << "--poll-time";
        QTest::newRow("more correct than options") << QStringList{"--correct", "5"} << "--correct";
        QTest::newRow("unknown labels") << QStringList{"--ordinal", "roman"} << "roman";
        QTest::newRow("unknown option") << QStringList{"--learners", "30"} << "learners";
        QTest::newRow("stray argument") << QStringList{"now"} << "now";
        QTest::newRow("empty user") << QStringList{"--user", ""} << "--user";
        QTest::newRow("empty password") << QStringList{"--password="} << "--password";
    }

    void refused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, mentions);
        PresentConfig c;
        QString msg;
        QCOMPARE(parse(args, &c, &msg), ParseOutcome::Error);
        QVERIFY2(msg.contains(mentions), qPrintable(msg));
    }

    void passwordSources_data()
    {
        QTest::addColumn<QString>("argument"); // "-": --password not given
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
        QString file;
        if (!fileText.isEmpty()) {
            file = dir.filePath(QStringLiteral("password"));
            QFile f(file);
            QVERIFY(fileText == "-" || (f.open(QIODevice::WriteOnly) && f.write(fileText) == fileText.size()));
            f.close();
            QVERIFY(fileText == "-" || f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        }
        const PasswordChoice c =
            choosePassword(argument == QLatin1String("-") ? QString() : argument, file, environment, terminal);
        QCOMPARE(int(c.source), source);
        QCOMPARE(c.password, password);
        QCOMPARE((source == PasswordChoice::Missing ? c.error : c.warning).contains(says), true);
        QCOMPARE(c.warning.isEmpty(), says.isEmpty() || source == PasswordChoice::Missing);
    }

    void helpListsEveryPollKind()
    {
        PresentConfig c;
        QString msg;
        QCOMPARE(parse({"--help"}, &c, &msg), ParseOutcome::Help);
        for (const QString &name : pollKindNames())
            QVERIFY2(msg.contains(name), qPrintable(name));
        QVERIFY(msg.contains(QStringLiteral("--poll-time")));
    }

    void plainErrorKeepsTheKey()
    {
        const QString words = plainError(QStringLiteral("SSLRootCertificateMissing"));
        QVERIFY(words.contains(QStringLiteral("--cacert")));
        QVERIFY(words.contains(QStringLiteral("SSLRootCertificateMissing")));
        QCOMPARE(plainError(QStringLiteral("error.somethingNew")), QStringLiteral("error.somethingNew"));
        QVERIFY(!plainError(QString()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPresentConfig)
#include "tst_presentconfig.moc"
