// veltro-present end to end: the built program against the stand-in
// service, with simulated learners joining the session it starts.
#include <QRegularExpression>
#include <QtTest>

#include "presentrun.h"
#include "standin.h"

class TestPresentSmoke : public QObject
{
    Q_OBJECT

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
        startPresent(p, &out, {"--server", sim->server(), "--transport", transport, "--poll", poll, "--expect",
                        QString::number(learners), "--learners-wait", "40", "--poll-time", "30", "--assessment", "2"});
        // The learners join once the session is live.
        QTRY_VERIFY_WITH_TIMEOUT(out.contains("start live session") && out.contains(" 7. learners"), 40000);
        const auto m = QRegularExpression(QStringLiteral("session code (\\d+)")).match(out);
        QVERIFY2(m.hasMatch(), qPrintable(out));
        // The service drops the presenter's connection: the program says so and gets it back.
        const QString token = sim->control("GET", "/sessions/" + m.captured(1)).object().value("sessionToken").toString();
        // Asked again until the service holds the registrations (XHR posts them after the program's line).
        int dropped = 0;
        const auto drop = [&] { return sim->control("POST", "/presenter/drop", {{"sessionToken", token}}).object(); };
        QTRY_VERIFY_WITH_TIMEOUT(dropped > 0 || (dropped = drop().value("dropped").toInt()) > 0, 10000);
        QCOMPARE(dropped, 1);
        QTRY_VERIFY_WITH_TIMEOUT(out.contains(QStringLiteral("nobody joined meanwhile")), 20000);
        QCOMPARE(missing(out, {"live connection lost\n   reconnecting (attempt 1 in ", "live connection back"}), QString());
        QCOMPARE(sim->addLearners(m.captured(1), learners, transport, {{"answerDelay", QJsonArray{50, 400}}}).size(),
                 learners);
        QVERIFY2(finishPresent(p) == 0, qPrintable(out));
        const QString n = QString::number(learners);
        QCOMPARE(missing(out, {"ok", "\ndone\n", n + " of " + n + " learners answered", "\n" + tallyLine,
                               "question 2: " + n + " answers", "/quorvane/resource/downloadResourceFile?resourceId=",
                               n + " listed", "learners    " + n + " joined", "median"}),
                 QString());
        QVERIFY(!out.contains(QLatin1Char('\x1b'))); // not a terminal: plain lines, no cursor movement
    }

    // Short runs: refused arguments and missing passwords end before any request
    // (exit 2), a failed step with exit 1; a private service on TLS (a start-up
    // switch of the whole service) is reached only with its authority.
    void shortRuns_data()
    {
        QTest::addColumn<QStringList>("args"); // "shared"/"tls": a service's address, "ca": the TLS authority's file
        QTest::addColumn<QString>("password"); // VELTRO_PASSWORD, empty: unset
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QString>("notYet"); // a step it must not reach
        QTest::newRow("wrong password") << QStringList{"--server", "shared", "--password", "not-the-password"} << "veltro"
                                        << 1 << QStringList{"warning: a password given with --password", "\nFAILED\n"}
                                        << "create session";
        QTest::newRow("bad argument") << QStringList{"--poll", "essay"} << "veltro" << 2 << QStringList{"essay"}
                                      << "sign in";
        // Standard input is no terminal here: nothing to prompt on.
        QTest::newRow("no password anywhere") << QStringList{"--server", "http://127.0.0.1:9"} << "" << 2
                                              << QStringList{"VELTRO_PASSWORD"} << "sign in";
        const QStringList tls{"--server", "tls", "--learners-wait", "1", "--poll-time", "1"};
        QTest::newRow("TLS without its authority") << tls << "veltro" << 1
                                                   << QStringList{"SSLRootCertificateMissing", "--cacert"} << "create session";
        QTest::newRow("TLS with it") << tls + QStringList{"--cacert", "ca"} << "veltro" << 0
                                     << QStringList{"0 learners"} << "FAILED";
    }

    void shortRuns()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, password);
        QFETCH(int, code);
        QFETCH(QStringList, says);
        QFETCH(QString, notYet);
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        args.replaceInStrings(QRegularExpression(QStringLiteral("^shared$")), sim->server());
        if (args.contains(QStringLiteral("tls")) && !m_tls)
            m_tls = StandIn::launch({QStringLiteral("--tls")});
        QVERIFY(!args.contains(QStringLiteral("tls")) || m_tls);
        if (m_tls) {
            args.replaceInStrings(QRegularExpression(QStringLiteral("^tls$")), m_tls->server());
            args.replaceInStrings(QRegularExpression(QStringLiteral("^ca$")), m_tls->info().value("caFile").toString());
        }
        QString out;
        QVERIFY2(runPresent(args, &out, password) == code, qPrintable(out));
        QCOMPARE(missing(out, says), QString());
        QVERIFY2(!out.contains(notYet), qPrintable(out));
    }

private:
    std::unique_ptr<StandIn> m_tls;
};

QTEST_GUILESS_MAIN(TestPresentSmoke)
#include "tst_presentsmoke.moc"
