// veltro-present end to end: the built program against the stand-in
// service, with simulated learners joining the session it starts.
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include "standin.h"

class TestPresentSmoke : public QObject
{
    Q_OBJECT

private:
    // Starts the program with `args` and collects what it prints.
    // The stand-in's password comes from the environment unless `password` says otherwise.
    void start(QProcess &p, QString *output, const QStringList &args, const QString &password = "veltro")
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VELTRO_PASSWORD"));
        if (!password.isEmpty())
            env.insert(QStringLiteral("VELTRO_PASSWORD"), password);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        connect(&p, &QProcess::readyReadStandardOutput, this,
                [&p, output] { *output += QString::fromUtf8(p.readAllStandardOutput()); });
        p.start(QStringLiteral(VELTRO_PRESENT_PROGRAM), args);
        QVERIFY(p.waitForStarted(10000));
    }

    static void finish(QProcess &p)
    {
        // Bounded: the program's own waits are given small limits below.
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished(5000);
            QFAIL("veltro-present did not finish in time");
        }
    }

private Q_SLOTS:
    void liveClassroom_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QString>("poll");
        QTest::addColumn<QString>("tallyLine");
        QTest::newRow("websocket, multiple choice") << "websocket" << "multiple" << "  A ";
        QTest::newRow("xhr-polling, true/false") << "xhr-polling" << "true-false" << "  A TRUE ";
    }

    void liveClassroom()
    {
        QFETCH(QString, transport);
        QFETCH(QString, poll);
        QFETCH(QString, tallyLine);
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        const int learners = 3;

        QProcess p;
        QString out;
        start(p, &out, {"--server", sim->server(), "--transport", transport, "--poll", poll, "--expect",
                        QString::number(learners), "--learners-wait", "40", "--poll-time", "30",
                        "--assessment", "2"});
        // The learners join once the session is live.
        QTRY_VERIFY_WITH_TIMEOUT(out.contains(QStringLiteral("start live session")) && out.contains(QStringLiteral(" 7. learners")),
                                 40000);
        const auto m = QRegularExpression(QStringLiteral("session code (\\d+)")).match(out);
        QVERIFY2(m.hasMatch(), qPrintable(out));
        // The service drops the presenter's connection: the program says so and gets it back.
        const QString token = sim->control("GET", QStringLiteral("/sessions/") + m.captured(1))
                                  .object().value(QStringLiteral("sessionToken")).toString();
        // Asked again until the service holds the registrations (XHR posts them after the program's line).
        const auto drop = [&] {
            return sim->control("POST", QStringLiteral("/presenter/drop"), {{"sessionToken", token}})
                .object().value(QStringLiteral("dropped")).toInt();
        };
        int dropped = 0;
        QTRY_VERIFY_WITH_TIMEOUT(dropped > 0 || (dropped = drop()) > 0, 10000);
        QCOMPARE(dropped, 1);
        QTRY_VERIFY_WITH_TIMEOUT(out.contains(QStringLiteral("nobody joined meanwhile")), 20000);
        QVERIFY2(out.contains(QStringLiteral("live connection lost\n   reconnecting (attempt 1 in ")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("live connection back")), qPrintable(out));
        QCOMPARE(sim->addLearners(m.captured(1), learners, transport, {{"answerDelay", QJsonArray{50, 400}}}).size(),
                 learners);
        finish(p);

        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("ok")) && out.contains(QStringLiteral("\ndone\n")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("%1 of %1 learners answered").arg(learners)), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("\n") + tallyLine), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("question 2: %1 answers").arg(learners)), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("/quorvane/resource/downloadResourceFile?resourceId=")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("%1 listed").arg(learners)), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("learners    %1 joined").arg(learners)), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("median")), qPrintable(out));
        // Not a terminal: plain lines, no cursor movement.
        QVERIFY(!out.contains(QLatin1Char('\x1b')));
    }

    void failedStepEndsTheRun()
    {
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        QProcess p;
        QString out;
        start(p, &out, {"--server", sim->server(), "--password", "not-the-password"});
        finish(p);
        QVERIFY2(p.exitCode() == 1, qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("warning: a password given with --password")), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression(QStringLiteral("sign in\\n\\s+FAILED"))), qPrintable(out));
        QVERIFY2(!out.contains(QStringLiteral("create session")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("\nFAILED\n")), qPrintable(out));
    }

    void tlsNeedsTheAuthority()
    {
        // A private service: TLS is a start-up switch of the whole service.
        auto sim = StandIn::launch({QStringLiteral("--tls")});
        QVERIFY(sim);
        const QString ca = sim->info().value(QStringLiteral("caFile")).toString();
        QVERIFY(!ca.isEmpty());
        const QStringList quick{"--server", sim->server(), "--learners-wait", "1", "--poll-time", "1"};
        {
            QProcess p;
            QString out;
            start(p, &out, quick);
            finish(p);
            QVERIFY2(p.exitCode() == 1, qPrintable(out));
            QVERIFY2(out.contains(QStringLiteral("SSLRootCertificateMissing")) && out.contains(QStringLiteral("--cacert")),
                     qPrintable(out));
        }
        {
            QProcess p;
            QString out;
            start(p, &out, quick + QStringList{"--cacert", ca});
            finish(p);
            QVERIFY2(p.exitCode() == 0, qPrintable(out));
            QVERIFY2(out.contains(QStringLiteral("0 learners")), qPrintable(out));
        }
    }

    void refusedBeforeAnyRequest_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("password"); // VELTRO_PASSWORD, empty: unset
        QTest::addColumn<QString>("mentions");
        QTest::newRow("bad argument") << QStringList{"--poll", "essay"} << "veltro" << "essay";
        // Standard input is no terminal here: nothing to prompt on.
        QTest::newRow("no password anywhere") << QStringList{"--server", "http://127.0.0.1:9"} << ""
                                              << "VELTRO_PASSWORD";
    }

    void refusedBeforeAnyRequest()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, password);
        QFETCH(QString, mentions);
        QProcess p;
        QString out;
        start(p, &out, args, password);
        finish(p);
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(out.contains(mentions), qPrintable(out));
        QVERIFY2(!out.contains(QStringLiteral("sign in")), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestPresentSmoke)
#include "tst_presentsmoke.moc"
