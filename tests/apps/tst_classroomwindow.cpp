// The presenter window against the stand-in with simulated learners, driven by clicks on the offscreen platform.
// With VELTRO_SCREENSHOTS naming a folder, each main state is saved there as a PNG (scripts/screenshots).
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "barchart.h"
#include "classroomcontroller.h"
#include "classroomwindow.h"
#include "fakeservice.h"
#include "presentercollab.h"
#include "standin.h"

namespace {

template <class T> T *part(QWidget *w, const char *name)
{
    T *found = w->findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning("no widget named %s", name);
    return found;
}

QString text(QWidget *w, const char *name)
{
    QLabel *label = part<QLabel>(w, name);
    return label ? label->text() : QString();
}

void click(QWidget *w, const char *name)
{
    QPushButton *b = part<QPushButton>(w, name);
    QVERIFY2(b && b->isVisible() && b->isEnabled(), name);
    QTest::mouseClick(b, Qt::LeftButton);
}

void shoot(QWidget *w, const char *name)
{
    const QString dir = qEnvironmentVariable("VELTRO_SCREENSHOTS");
    if (!dir.isEmpty())
        QVERIFY(w->grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png")));
}

} // namespace

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
        ClassroomController *c = w.controller();
        w.setSignIn(sim->server(), QStringLiteral("teacher"), QStringLiteral("veltro"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(part<QLineEdit>(&w, "password")->echoMode() == QLineEdit::Password);
        shoot(&w, "1-sign-in");

        click(&w, "signIn"); // blocks until signed in
        QCOMPARE(c->stage(), ClassroomController::Stage::SignedIn);
        click(&w, "startSession"); // blocks until the session is live
        QCOMPARE(c->stage(), ClassroomController::Stage::Live);
        const QString code = c->sessionCode();
        QVERIFY(!code.isEmpty());
        QCOMPARE(text(&w, "sessionCode"), code);
        QTRY_VERIFY_WITH_TIMEOUT(text(&w, "connection").contains(QLatin1String("Connected")), 10000);

        QCOMPARE(sim->addLearners(code, learners, "websocket", {{"answerDelay", QJsonArray{50, 400}}}).size(), learners);
        QTRY_COMPARE_WITH_TIMEOUT(text(&w, "learnerCount"), QStringLiteral("%1 joined").arg(learners), 30000);
        shoot(&w, "3-learners");

        click(&w, "startPoll");
        BarChart *chart = part<BarChart>(&w, "chart");
        QTRY_COMPARE_WITH_TIMEOUT(chart->total(), learners, 30000);
        QCOMPARE(chart->bars().size(), 4); // A to D
        shoot(&w, "4-poll");
        click(&w, "pausePoll");
        click(&w, "resumePoll");
        PresenterCollab *collab = c->findChild<PresenterCollab *>();
        QVERIFY(collab);
        const QString pollId = collab->getPollId();
        QVERIFY(!pollId.isEmpty());
        click(&w, "stopPoll");
        QVERIFY(!part<QPushButton>(&w, "stopPoll")->isEnabled());
        // An answer still on its way when the poll stopped is not counted.
        emit collab->learnerPollResponse(QStringLiteral("late"), pollId, 1, QStringLiteral("A"));
        QCOMPARE(c->answered(), learners);
        QCOMPARE(chart->total(), learners);

        // The service drops the presenter's link: the window says so and gets it back.
        const QString token = sim->control("GET", "/sessions/" + code).object().value("sessionToken").toString();
        QCOMPARE(sim->control("POST", "/presenter/drop", {{"sessionToken", token}}).object().value("dropped").toInt(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(text(&w, "connection").contains(QLatin1String("Reconnecting (attempt 1)")), 10000);
        shoot(&w, "5-reconnecting");
        QTRY_VERIFY_WITH_TIMEOUT(text(&w, "connection").contains(QLatin1String("Connected")), 20000);

        click(&w, "stopSession"); // blocks until the service stopped it
        QCOMPARE(c->stage(), ClassroomController::Stage::SignedIn);
        QVERIFY(part<QPushButton>(&w, "startSession")->isEnabled());
        QVERIFY(w.close());
        QCOMPARE(c->stage(), ClassroomController::Stage::SignedOut);
    }

    // Closed while sign-in waits: the window shows the wait, offers nothing to
    // click, keeps running its event loop, and closes once the call returned.
    void closedDuringSignIn()
    {
        FakeService service;
        service.holding = true;   // every answer held until released, as a slow service would
        QPointer<ClassroomWindow> w = new ClassroomWindow;
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->setSignIn(service.url(), QStringLiteral("teacher"), QStringLiteral("veltro"));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));

        int ticks = 0;
        bool closeRefused = false;
        QTimer during;
        connect(&during, &QTimer::timeout, this, [&] {
            if (!w || !w->controller()->busy())
                return;
            if (++ticks == 3) {
                QVERIFY(!part<QPushButton>(w, "signIn")->isEnabled());
                QVERIFY(part<QProgressBar>(w, "signInBusy")->isVisible());
                QVERIFY(text(w, "signInStatus").contains(QLatin1String("Signing in")));
                shoot(w, "2-signing-in");
                closeRefused = !w->close();
                QVERIFY(w->isVisible());
                QVERIFY(text(w, "signInStatus").contains(QLatin1String("Closing when this step ends")));
            } else if (ticks == 6) {
                service.holding = false;
                service.releaseHeld();
            }
        });
        during.start(20);
        click(w, "signIn"); // returns once the held answer came
        QVERIFY(closeRefused);
        QVERIFY(ticks >= 6); // timers ran throughout the wait
        // Then the window closes by itself: signs out (one more answer) and is deleted.
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 15000);
        QCOMPARE(service.requests.size(), 2);
    }
};

QTEST_MAIN(TestClassroomWindow)
#include "tst_classroomwindow.moc"
