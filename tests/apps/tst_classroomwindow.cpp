// The presenter window against the stand-in with simulated learners, driven by clicks on the offscreen platform.
// Every click and close is watched: it must return without running the event loop inside it (no nested loop).
// With VELTRO_SCREENSHOTS naming a folder, each main state is saved there as a PNG (scripts/screenshots).
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "barchart.h"
#include "classroom.h"
#include "classroomwindow.h"
#include "learnermodel.h"
#include "polltallymodel.h"
#include "presentercollab.h"
#include "fakeservice.h"
#include "standin.h"
#include "windowtest.h"

class TestClassroomWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void liveClass()
    {
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        const int learners = 20;
        ClassroomWindow w;
        Veltro::Classroom *c = w.classroom();
        w.setSignIn(sim->server(), QStringLiteral("teacher"), QStringLiteral("wrong"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(part<QLineEdit>(&w, "password")->echoMode() == QLineEdit::Password);
        // A refused sign-in is told in words a teacher can act on.
        click(&w, "signIn");
        QTRY_VERIFY_WITH_TIMEOUT(text(&w, "signInStatus").contains(QLatin1String("password was not accepted")), 10000);
        QCOMPARE(c->error(), Veltro::Error::SignInRefused);
        w.setSignIn(sim->server(), QStringLiteral("teacher"), QStringLiteral("veltro"));

        click(&w, "signIn");
        QVERIFY(text(&w, "signInStatus").contains(QLatin1String("Signing in"))); // the failure went with the new call
        QVERIFY(c->isBusy()); // the click returned before the answer came
        QVERIFY(!part<QPushButton>(&w, "signIn")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(c->isSignedIn(), 10000);
        click(&w, "startSession");
        QTRY_VERIFY_WITH_TIMEOUT(c->isLive(), 20000);
        const QString code = c->sessionCode();
        QVERIFY(!code.isEmpty());
        QCOMPARE(text(&w, "sessionCode"), code);
        QTRY_VERIFY_WITH_TIMEOUT(text(&w, "connection").contains(QLatin1String("Connected")), 10000);

        QCOMPARE(sim->addLearners(code, learners, "websocket", {{"answerDelay", QJsonArray{50, 400}}}).size(), learners);
        QTRY_COMPARE_WITH_TIMEOUT(text(&w, "learnerCount"), QStringLiteral("%1 joined").arg(learners), 30000);
        QCOMPARE(part<QListView>(&w, "learners")->model()->rowCount(), learners);
        shoot(&w, "3-learners");

        auto *kind = part<QComboBox>(&w, "pollKind");
        kind->setCurrentIndex(kind->findData(QStringLiteral("multiple")));
        click(&w, "startPoll");
        QVERIFY(!part<QPushButton>(&w, "startPoll")->isEnabled()); // one poll at a time
        BarChart *chart = part<BarChart>(&w, "chart");
        QTRY_COMPARE_WITH_TIMEOUT(chart->total(), learners, 30000);
        QCOMPARE(chart->bars().size(), 4); // A to D
        QTRY_COMPARE_WITH_TIMEOUT(c->tally()->answered(), learners, 5000);
        shoot(&w, "4-poll");
        click(&w, "pausePoll");
        click(&w, "resumePoll");
        const QString answerId = c->tally()->pollId();
        QVERIFY(!answerId.isEmpty());
        click(&w, "stopPoll");
        QVERIFY(!part<QPushButton>(&w, "stopPoll")->isEnabled());
        // An answer still on its way when the poll stopped is not counted.
        emit c->collab()->learnerPollResponse(QStringLiteral("late"), answerId, 1, QStringLiteral("A"));
        QCOMPARE(chart->total(), learners);

        // The service drops the presenter's link: the window says so and gets it back.
        const QString token = sim->control("GET", "/sessions/" + code).object().value("sessionToken").toString();
        QCOMPARE(sim->control("POST", "/presenter/drop", {{"sessionToken", token}}).object().value("dropped").toInt(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(text(&w, "connection").contains(QLatin1String("Reconnecting")), 10000);
        shoot(&w, "5-reconnecting");
        QTRY_VERIFY_WITH_TIMEOUT(text(&w, "connection").contains(QLatin1String("Connected")), 20000);

        click(&w, "stopSession");
        QTRY_VERIFY_WITH_TIMEOUT(!c->isLive() && !c->isBusy(), 15000);
        QVERIFY(sim->control("GET", "/sessions/" + code).object().value("stopped").toBool());
        QVERIFY(part<QPushButton>(&w, "startSession")->isEnabled());
        watch()->run([&] { QVERIFY(w.close()); });
        QCOMPARE(watch()->nested(), 0);
    }

    // Closed while the sign-in waits for a slow service: the window closes at
    // once, the sign-in is cancelled (its request dropped) and never completes.
    void closedDuringSignIn_data()
    {
        QTest::addColumn<bool>("deleteOnClose");
        QTest::newRow("kept after close") << false;
        QTest::newRow("deleted on close") << true;
    }
    void closedDuringSignIn()
    {
        QFETCH(bool, deleteOnClose);
        FakeService service;
        service.holding = true;
        QPointer<ClassroomWindow> w = new ClassroomWindow;
        QPointer<Veltro::Classroom> c = w->classroom();
        w->setAttribute(Qt::WA_DeleteOnClose, deleteOnClose);
        w->setSignIn(service.url(), QStringLiteral("teacher"), QStringLiteral("veltro"));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));

        click(w, "signIn");
        QTRY_COMPARE_WITH_TIMEOUT(service.heldCount(), 1, 10000);
        QVERIFY(c->isBusy());
        QVERIFY(!part<QPushButton>(w, "signIn")->isEnabled());
        QVERIFY(!part<QLineEdit>(w, "password")->isEnabled());
        QVERIFY(part<QProgressBar>(w, "signInBusy")->isVisible());
        shoot(w, "2-signing-in");

        bool closed = false;
        watch()->run([&] { closed = w->close(); });
        QCOMPARE(watch()->nested(), 0);
        QVERIFY(closed);
        QVERIFY(w.isNull() || !w->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(service.dropped, 1, 10000);
        service.releaseHeld();
        if (deleteOnClose) {
            QTRY_VERIFY_WITH_TIMEOUT(w.isNull() && c.isNull(), 10000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!c->isBusy(), 10000);
            QVERIFY(!c->isSignedIn());
            QCOMPARE(c->error(), Veltro::Error::Cancelled);
            delete w;
        }
    }
};

QTEST_MAIN(TestClassroomWindow)
#include "tst_classroomwindow.moc"
