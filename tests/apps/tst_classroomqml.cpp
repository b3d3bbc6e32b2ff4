// The QML reference window against the stand-in with 20 simulated learners, offscreen with software rendering,
// driven by clicks: signed in, a session, the learners shown in the grid, a poll, their answers in the bars, a
// dropped link restored.
// With VELTRO_SCREENSHOTS naming a folder, its main states are saved there as PNGs (scripts/screenshots).
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include "classroom.h"
#include "classroomqml.h"
#include "fakeservice.h"
#include "standin.h"
#include "windowsignin.h"
#include "windowtest.h"

namespace {

int barTotal(QQuickWindow *w)
{
    int sum = 0;
    for (QQuickItem *bar : items(w->contentItem(), QStringLiteral("bar")))
        sum += bar->property("count").toInt();
    return sum;
}

} // namespace

class TestClassroomQml : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void liveClass()
    {
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        const int learners = 20;
        QQmlApplicationEngine engine;
        QPointer<QQuickWindow> w = loadClassroomWindow(&engine, {sim->server(), QStringLiteral("teacher"),
                                                                 QStringLiteral("veltro")});
        QVERIFY(w);
        auto *c = w->findChild<Veltro::Classroom *>(QStringLiteral("classroom"));
        QVERIFY(c);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(text(w, "server"), sim->server());

        click(w, "signIn");
        QTRY_VERIFY_WITH_TIMEOUT(c->isSignedIn(), 10000);
        click(w, "startSession");
        QTRY_VERIFY_WITH_TIMEOUT(c->isLive(), 20000);
        QCOMPARE(text(w, "sessionCode"), c->sessionCode());
        QTRY_VERIFY_WITH_TIMEOUT(text(w, "connection").contains(QLatin1String("Connected")), 10000);

        QCOMPARE(sim->addLearners(c->sessionCode(), learners, "websocket", {{"answerDelay", QJsonArray{50, 400}}})
                     .size(), learners);
        QTRY_COMPARE_WITH_TIMEOUT(items(w->contentItem(), QStringLiteral("learnerTile")).size(), learners, 30000);

        click(w, "poll-multiple");
        QTRY_COMPARE_WITH_TIMEOUT(barTotal(w), learners, 30000);
        QCOMPARE(items(w->contentItem(), QStringLiteral("bar")).size(), 4); // A to D
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "pollHeading"), QStringLiteral("Answers: %1 of %1").arg(learners), 5000);
        // The poll's broadcast came back: the round trip is known and shown.
        QTRY_VERIFY_WITH_TIMEOUT(text(w, "connection").contains(QLatin1String("round trip")), 10000);
        shoot(w, "qml-2-live");

        click(w, "stopPoll");
        QTRY_VERIFY_WITH_TIMEOUT(text(w, "pollHeading").startsWith(QLatin1String("Final")), 5000);

        // The service drops the presenter's link: the window says so and gets it back.
        const QString token = sim->control("GET", "/sessions/" + c->sessionCode()).object().value("sessionToken").toString();
        QCOMPARE(sim->control("POST", "/presenter/drop", {{"sessionToken", token}}).object().value("dropped").toInt(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(text(w, "connection").contains(QLatin1String("Reconnecting")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(text(w, "connection").contains(QLatin1String("Connected")), 20000);
        click(w, "stopSession");
        QTRY_VERIFY_WITH_TIMEOUT(!c->isLive() && !c->isBusy(), 15000);
    }

    // Closed while the sign-in waits for a slow service: the sign-in is cancelled and never completes.
    void closedDuringSignIn()
    {
        FakeService service;
        service.holding = true;
        QQmlApplicationEngine engine;
        QPointer<QQuickWindow> w = loadClassroomWindow(&engine, {service.url(), QStringLiteral("teacher"),
                                                                 QStringLiteral("veltro")});
        QVERIFY(w);
        auto *c = w->findChild<Veltro::Classroom *>(QStringLiteral("classroom"));
        QVERIFY(c);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        click(w, "signIn");
        QTRY_COMPARE_WITH_TIMEOUT(service.heldCount(), 1, 10000);
        QVERIFY(item(w, "signInBusy"));
        QVERIFY(!item(w, "signIn")->isEnabled());
        QVERIFY(w->close());
        QTRY_VERIFY_WITH_TIMEOUT(!c->isBusy(), 15000);
        QCOMPARE(c->error(), Veltro::Error::Cancelled);
        QTRY_COMPARE_WITH_TIMEOUT(service.dropped, 1, 10000);
        service.releaseHeld();
        QVERIFY(!c->isSignedIn());
    }
};

QTEST_MAIN(TestClassroomQml)
#include "tst_classroomqml.moc"
