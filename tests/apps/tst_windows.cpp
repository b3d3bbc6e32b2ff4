// Both presenter windows as a teacher drives them (Qt Widgets; QML on Qt 6 builds, offscreen with software
// rendering), against the stand-in service: a live class of 20 simulated learners, a close while the sign-in
// waits, a lesson (the phone's remote, an image card, an assessment, the results saved), and "Stay signed in"
// against real keyrings, with veltro-present's --remember and --forget. Every
// click on a widget and every close must return without running a nested event loop.
// tests/apps/keyring.sh runs noKeyring on session buses where no Secret Service answers and the rest with an
// unlocked gnome-keyring-daemon, each with a throw-away HOME whose files the test reads for secrets; the
// stand-in's control interface withdraws a device token, as a service would.
// With VELTRO_SCREENSHOTS naming a folder, the main states are saved there as PNGs (scripts/screenshots).
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QPointer>
#include <QScopeGuard>
#include <QtTest>

#include <numeric>

#include "assessment.h"
#include "barchart.h"
#include "classroom.h"
#include "classroomwindow.h"
#include "fakeservice.h"
#include "language.h"
#include "plainerror.h"
#include "polltallymodel.h"
#include "presentercollab.h"
#include "presentrun.h"
#include "standin.h"
#include "tokenstore.h"
#include "windowsignin.h"
#ifdef QT_QUICK_LIB
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include "classroomqml.h"
#endif

namespace {

using Op = TokenStore::Op;
using Kind = TokenStore::Outcome::Kind;

// Counts the turns of the event loop taken inside a watched step: a timer due at once, running only during
// the step, fires there only if the step runs a nested loop (a blocking call's wait, processEvents(), exec()).
int nestedLoops(const std::function<void()> &step)
{
    int turns = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&turns] { ++turns; });
    tick.start();
    step();
    return turns;
}

// The files under HOME (keyring.sh's throw-away one) whose bytes hold `secret`.
QStringList filesHolding(const QByteArray &secret)
{
    QStringList out;
    QDirIterator it(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains(secret))
            out << f.fileName();
    }
    return out;
}

// Every item the programs keep in the keyring, as secret-tool lists them: a second view, past QtKeychain.
QString keyringItems()
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("secret-tool"), {"search", "--all", "server", "Veltro Classroom"});
    if (!p.waitForFinished(10000))
        return QStringLiteral("secret-tool did not answer");
    return QString::fromUtf8(p.readAll()).trimmed();
}

// A window of either kind as its program opens it: the form filled, a kept sign-in tried first when asked.
// Its parts are found, read and clicked by object name, the visible ones only.
class Window
{
    QPointer<ClassroomWindow> widget;
#ifdef QT_QUICK_LIB
    std::unique_ptr<QQmlApplicationEngine> engine;
    QPointer<QQuickWindow> quick;

    static void collect(QQuickItem *root, const QString &name, QList<QObject *> *out)
    {
        for (QQuickItem *child : root->childItems()) {
            if ((name.isNull() || child->objectName() == name) && child->isVisible())
                *out << child;
            collect(child, name, out);
        }
    }
#endif

public:
    Window(const QString &kind, const WindowSignIn &signIn, bool deleteOnClose = false)
    {
        if (kind == QLatin1String("widgets")) {
            widget = new ClassroomWindow;
            widget->setAttribute(Qt::WA_DeleteOnClose, deleteOnClose);
            widget->setSignIn(signIn.server, signIn.user, signIn.password);
            if (signIn.resume)
                widget->resumeSignIn();
            widget->show();
            room = widget->classroom();
            exposed = QTest::qWaitForWindowExposed(widget);
            return;
        }
#ifdef QT_QUICK_LIB
        engine = std::make_unique<QQmlApplicationEngine>();
        quick = loadClassroomWindow(engine.get(), signIn);
        room = quick ? quick->findChild<Veltro::Classroom *>(QStringLiteral("classroom")) : nullptr;
        exposed = room && QTest::qWaitForWindowExposed(quick);
#endif
    }
    ~Window() { delete widget; }

    // The visible parts named `name`; all visible parts when it is null.
    QList<QObject *> parts(const char *name) const
    {
        QList<QObject *> out;
#ifdef QT_QUICK_LIB
        if (quick)
            collect(quick->contentItem(), QLatin1String(name), &out);
#endif
        if (widget) {
            for (QWidget *w : widget->findChildren<QWidget *>(QLatin1String(name)))
                if (w->isVisible())
                    out << w;
        }
        return out;
    }
    bool shows(const char *name) const { return !parts(name).isEmpty(); }
    QVariant get(const char *name, const char *property) const
    {
        QObject *p = parts(name).value(0);
        return p ? p->property(property) : QVariant();
    }
    void set(const char *name, const char *property, const QVariant &value) const
    {
        if (QObject *p = parts(name).value(0))
            p->setProperty(property, value);
    }
    // A label's text, or a box's title.
    QString text(const char *name) const
    {
        const QVariant text = get(name, "text");
        return (text.isValid() ? text : get(name, "title")).toString();
    }
    // The counts the bars show, in order.
    QList<int> bars() const
    {
        QList<int> counts;
        if (widget) {
            for (const BarChart::Bar &bar : widget->findChild<BarChart *>(QStringLiteral("chart"))->bars())
                counts << bar.count;
        }
        for (QObject *bar : parts("bar"))
            counts << bar->property("count").toInt();
        return counts;
    }
    // The answers the assessment's grid holds, all learners together.
    int answered() const
    {
        QObject *view = parts("progress").value(0);
        auto *list = qobject_cast<QAbstractItemView *>(view); // the QML window's view has a model property
        const auto *model = list ? list->model() : view ? view->property("model").value<QAbstractItemModel *>()
                                                        : nullptr;
        int sum = 0;
        for (int row = 0; model && row < model->rowCount(); ++row)
            sum += model->index(row, 0).data(Veltro::AssessmentProgressModel::AnsweredRole).toInt();
        return sum;
    }
    // Answers the file chooser the window opened with `path`, as a teacher would.
    void choose(const QString &path) const
    {
        if (!widget) {
            set("path", "text", path);
            return click("choosePath");
        }
        for (QFileDialog *dialog : widget->findChildren<QFileDialog *>()) {
            if (dialog->isVisible()) {
                dialog->selectFile(path);
                return static_cast<QDialog *>(dialog)->accept(); // as its Save or Open button does
            }
        }
        QFAIL("no file chooser is open");
    }
    // Every text the window shows, but the values typed in or given by the service.
    QStringList texts() const
    {
        static const QStringList values{"server", "user", "password", "sessionCode"};
        QStringList out;
        for (QObject *o : parts(nullptr)) {
            if (values.contains(o->objectName()))
                continue;
            for (const char *property : {"text", "title", "toolTip", "placeholderText"})
                out << o->property(property).toString();
            if (auto *box = qobject_cast<QComboBox *>(o))
                for (int i = 0; i < box->count(); ++i)
                    out << box->itemText(i);
            if (auto *chart = qobject_cast<BarChart *>(o))
                out << chart->texts();
        }
        out.removeAll(QString());
        return out;
    }
    void click(const char *name) const
    {
        // As a teacher would, wait for the control to be offered: a busy
        // machine may still be keeping the sign-in when the page turns.
        QObject *p = nullptr;
        QTRY_VERIFY2_WITH_TIMEOUT((p = parts(name).value(0)) && p->property("enabled").toBool(), name, 10000);
#ifdef QT_QUICK_LIB
        if (auto *item = qobject_cast<QQuickItem *>(p)) {
            const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
            return QTest::mouseClick(quick, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        }
#endif
        auto *b = qobject_cast<QAbstractButton *>(p);
        // Within what the button draws: a check box may be wider than its box and text.
        const QPoint at(qMin(b->width(), b->sizeHint().width()) / 2, b->height() / 2);
        QCOMPARE(nestedLoops([b, at] { QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, at); }), 0);
    }
    // Closes the window; false when it refused or ran a nested event loop.
    bool close()
    {
        bool closed = false;
        const int nested = nestedLoops([&] {
#ifdef QT_QUICK_LIB
            if (quick)
                closed = quick->close();
#endif
            if (widget)
                closed = widget->close();
        });
        return closed && nested == 0;
    }
    bool visible() const
    {
#ifdef QT_QUICK_LIB
        if (quick)
            return quick->isVisible();
#endif
        return widget && widget->isVisible();
    }
    // Saves the window as the PNG of the state `widgetsName` or `qmlName` (none when null).
    void shoot(const char *widgetsName, const char *qmlName = nullptr) const
    {
        const QString dir = qEnvironmentVariable("VELTRO_SCREENSHOTS");
#ifdef QT_QUICK_LIB
        if (quick && qmlName && !dir.isEmpty())
            QVERIFY(quick->grabWindow().save(dir + QLatin1Char('/') + QLatin1String(qmlName) + QStringLiteral(".png")));
#endif
        Q_UNUSED(qmlName)
        if (widget && widgetsName && !dir.isEmpty())
            QVERIFY(widget->grab().save(dir + QLatin1Char('/') + QLatin1String(widgetsName) + QStringLiteral(".png")));
    }

    QPointer<Veltro::Classroom> room;
    bool exposed = false;
};

// The windows this build has.
QStringList kinds()
{
    QStringList kinds{QStringLiteral("widgets")};
#ifdef QT_QUICK_LIB
    kinds << QStringLiteral("qml");
#endif
    return kinds;
}

// A row for each window this build has, and for each of `more`, in the column `column`.
void kindRows(const char *column = "kind", const QStringList &more = {})
{
    QTest::addColumn<QString>(column);
    for (const QString &kind : kinds() + more)
        QTest::newRow(qPrintable(kind)) << kind;
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The keyring tests run in the session keyring.sh made for each; they skip where the machine has none.
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); } // choosers a test can answer

    void init()
    {
        const QByteArray test = QTest::currentTestFunction();
        if (test != "staysSignedIn" && test != "commandLine" && test != "noKeyring")
            return;
        const QString session = qEnvironmentVariable("VELTRO_TEST_KEYRING");
        if (session.isEmpty())
            QSKIP("no private keyring session: dbus-run-session, gnome-keyring-daemon or secret-tool is missing "
                  "(scripts/setup installs them), or this ran outside tests/apps/keyring.sh");
        QCOMPARE(session, QLatin1String(test == "noKeyring" ? "none" : "unlocked"));
    }

    // Signed in (after a refused password), a session, 20 learners shown as they join, a poll and its
    // answers in the bars, a dropped link restored, the session stopped.
    void liveClass_data() { kindRows(); }
    void liveClass()
    {
        QFETCH(QString, kind);
        const QString refused = QStringLiteral("password was not accepted"); // in words, in both windows
        const bool widgets = kind == QLatin1String("widgets");
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        const int learners = 20;
        Window w(kind, {sim->server(), QStringLiteral("teacher"), QStringLiteral("wrong")});
        QVERIFY(w.exposed);
        Veltro::Classroom *c = w.room;
        QCOMPARE(w.get("password", "echoMode").toInt(), 2); // QLineEdit::Password, TextInput.Password
        w.click("signIn");
        QTRY_VERIFY_WITH_TIMEOUT(w.text("signInStatus").contains(refused), 10000);
        QCOMPARE(c->error(), Veltro::Error::SignInRefused);
        w.set("password", "text", QStringLiteral("veltro"));

        w.click("signIn");
        QVERIFY(!w.text("signInStatus").contains(refused)); // the failure went with the new call
        QVERIFY(c->isBusy()); // the click returned before the answer came
        QVERIFY(!w.get("signIn", "enabled").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(c->isSignedIn(), 10000);
        w.click("startSession");
        QTRY_VERIFY_WITH_TIMEOUT(c->isLive(), 20000);
        const QString code = c->sessionCode();
        QVERIFY(!code.isEmpty());
        QCOMPARE(w.text("sessionCode"), code);
        QTRY_VERIFY_WITH_TIMEOUT(w.text("connection").contains(QLatin1String("Connected")), 10000);

        const QJsonArray joined = sim->addLearners(code, learners, "websocket", {{"answerDelay", QJsonArray{50, 400}}});
        QCOMPARE(joined.size(), learners);
        QTRY_VERIFY_WITH_TIMEOUT(w.text("learnerCount").contains(QStringLiteral("%1 joined").arg(learners)), 30000);
        if (!widgets) // the widget window paints its tiles
            QTRY_COMPARE_WITH_TIMEOUT(w.parts("learnerTile").size(), learners, 5000);
        w.shoot("3-learners");

        if (widgets) {
            auto *pollKind = qobject_cast<QComboBox *>(w.parts("pollKind").value(0));
            pollKind->setCurrentIndex(pollKind->findData(QStringLiteral("multiple")));
        }
        const char *start = widgets ? "startPoll" : "poll-multiple";
        w.click(start);
        QVERIFY(!w.get(start, "enabled").toBool()); // one poll at a time
        const auto answers = [&w] {
            const QList<int> counts = w.bars();
            return std::accumulate(counts.cbegin(), counts.cend(), 0);
        };
        QTRY_COMPARE_WITH_TIMEOUT(answers(), learners, 30000);
        QCOMPARE(w.bars().size(), 4); // A to D
        QTRY_COMPARE_WITH_TIMEOUT(c->tally()->answered(), learners, 5000);
        // The poll's broadcast came back: the round trip is known and shown.
        QTRY_VERIFY_WITH_TIMEOUT(w.text("connection").contains(QLatin1String("round trip")), 10000);
        w.shoot("4-poll", "qml-2-live");
        w.click("pausePoll");
        w.click("resumePoll");
        const QString answerId = c->tally()->pollId();
        QVERIFY(!answerId.isEmpty());
        w.click("stopPoll");
        QVERIFY(!w.get("stopPoll", "enabled").toBool());
        // An answer still on its way when the poll stopped is not counted.
        emit c->collab()->learnerPollResponse(QStringLiteral("late"), answerId, 1, QStringLiteral("A"));
        QCOMPARE(answers(), learners);

        // The service drops the presenter's link: the window says so and gets it back.
        const QString token = sim->control("GET", "/sessions/" + code).object().value("sessionToken").toString();
        QCOMPARE(sim->control("POST", "/presenter/drop", {{"sessionToken", token}}).object().value("dropped").toInt(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(w.text("connection").contains(QLatin1String("Reconnecting")), 10000);
        w.shoot("5-reconnecting");
        QTRY_VERIFY_WITH_TIMEOUT(w.text("connection").contains(QLatin1String("Connected")), 20000);

        // The lesson: the phone's next and previous move the card, an image card reaches the devices, the
        // assessment's three questions fill the grid, the results are kept (and a folder that is not there said).
        QVERIFY(sim->control("POST", "/controller", {{"sessionCode", code}}).object().contains("token"));
        QVERIFY(!w.text("remote").contains(QLatin1String("Remote connected")));
        const char *const moves[][2] = {{"presenterActive", "Card 1 of 4"}, {"nextCard", "Card 2 of 4"},
                                        {"nextCard", "Card 3 of 4"}, {"previousCard", "Card 2 of 4"}};
        for (const auto &move : moves) {
            const QJsonObject command{{"type", move[0]}, {"sessionCode", code}};
            QVERIFY(sim->control("POST", "/controller/send", command).object()["ok"].toBool());
            QTRY_VERIFY_WITH_TIMEOUT(w.text("card").startsWith(QLatin1String(move[1]))
                                         && w.text("remote").contains(QLatin1String("Remote connected")), 10000);
        }
        QTemporaryDir dir;
        QFile image(dir.filePath("card.png"));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write("PNGcard") == 7 && image.flush());
        w.click("imageCard");
        w.choose(image.fileName());
        const auto shown = [&] { return QJsonDocument(sim->records(joined[0]["token"].toString())).toJson(); };
        QTRY_VERIFY_WITH_TIMEOUT(shown().contains("showCard"), 10000);
        w.click("startAssessment");
        QTRY_COMPARE_WITH_TIMEOUT(w.answered(), 3 * learners, 30000);
        w.shoot("7-lesson", "qml-4-lesson");
        w.click("saveResults");
        w.choose(dir.filePath("gone/results.csv"));
        QVERIFY(w.text("lessonNote").contains(QLatin1String("could not be saved")));
        w.click("saveResults");
        w.choose(dir.filePath("results.csv"));
        QFile results(dir.filePath("results.csv"));
        QVERIFY(results.open(QIODevice::ReadOnly));
        const QString saved = QString::fromUtf8(results.readAll());
        for (const QString &csv : {c->tally()->toCsv(), c->learners()->toCsv(), c->assessment()->progress()->toCsv()})
            QVERIFY2(saved.contains(csv), qPrintable(saved));

        w.click("stopSession");
        QTRY_VERIFY_WITH_TIMEOUT(!c->isLive() && !c->isBusy(), 15000);
        QVERIFY(sim->control("GET", "/sessions/" + code).object().value("stopped").toBool());
        QVERIFY(w.get("startSession", "enabled").toBool());
        QVERIFY(w.close());
    }

    // Closed while the sign-in waits for a slow service: the window closes at once, the sign-in is cancelled
    // (its request dropped) and never completes.
    void closedDuringSignIn_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("deleteOnClose");
        for (const QString &kind : kinds())
            QTest::newRow(qPrintable(kind)) << kind << false;
        QTest::newRow("widgets, deleted on close") << "widgets" << true;
    }
    void closedDuringSignIn()
    {
        QFETCH(QString, kind);
        QFETCH(bool, deleteOnClose);
        FakeService service;
        service.holding = true;
        Window w(kind, {service.url(), QStringLiteral("teacher"), QStringLiteral("veltro")}, deleteOnClose);
        QVERIFY(w.exposed);
        const QPointer<Veltro::Classroom> c = w.room;
        w.click("signIn");
        QTRY_COMPARE_WITH_TIMEOUT(service.heldCount(), 1, 10000);
        QVERIFY(c->isBusy());
        QVERIFY(!w.get("signIn", "enabled").toBool());
        QVERIFY(!w.get("password", "enabled").toBool());
        QVERIFY(w.shows("signInBusy"));
        w.shoot("2-signing-in");

        QVERIFY(w.close());
        QVERIFY(!w.visible());
        QTRY_COMPARE_WITH_TIMEOUT(service.dropped, 1, 10000);
        service.releaseHeld();
        if (deleteOnClose) {
            QTRY_VERIFY_WITH_TIMEOUT(c.isNull(), 10000); // the window went, its classroom with it
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!c->isBusy(), 10000);
            QVERIFY(!c->isSignedIn());
            QCOMPARE(c->error(), Veltro::Error::Cancelled);
        }
    }

    // Signed in with "Stay signed in", the window closed; the next start signs in with the kept token and
    // shows no form, and signing out forgets it. A token the service withdrew meanwhile brings the form back
    // with the reason, and is forgotten.
    void staysSignedIn_data()
    {
        QTest::addColumn<QString>("front");
        QTest::addColumn<bool>("withdrawn");
        for (const QString &kind : kinds()) {
            QTest::newRow(qPrintable(kind)) << kind << false;
            QTest::newRow(qPrintable(kind + QStringLiteral(", token withdrawn"))) << kind << true;
        }
    }
    void staysSignedIn()
    {
        QFETCH(QString, front);
        QFETCH(bool, withdrawn);
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        const TokenStore::Account account{sim->server(), QStringLiteral("teacher")};
        QString token;
        {
            Window w(front, {account.server, account.user, QStringLiteral("veltro"), true});
            QVERIFY(w.exposed);
            QTRY_VERIFY_WITH_TIMEOUT(w.shows("staySignedIn"), 10000); // once a keyring answered
            QVERIFY(!w.shows("keptReason"));
            w.click("staySignedIn");
            if (!withdrawn)
                w.shoot("1-sign-in", "qml-1-sign-in");
            w.click("signIn");
            QTRY_VERIFY_WITH_TIMEOUT(w.room->isSignedIn(), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(!(token = TokenStore::call(Op::Read, account).token).isEmpty(), 10000);
        }
        // The keyring holds the token; no file holds it, nor the password.
        QVERIFY(keyringItems().contains(token));
        QCOMPARE(TokenStore::keptAccount(), account);
        QCOMPARE(filesHolding(token.toUtf8()) + filesHolding("veltro"), QStringList());

        if (withdrawn)
            QCOMPARE(sim->control("POST", "/device-tokens/revoke", {{"token", token}}).object()["revoked"].toInt(), 1);
        Window w(front, {account.server, account.user, QString(), true}); // the next start, with no password at hand
        QVERIFY(w.exposed);
        QVERIFY(!w.shows("password"));
        if (withdrawn) {
            QTRY_VERIFY_WITH_TIMEOUT(w.shows("password"), 10000);
            QVERIFY2(w.text("signInStatus").contains(QLatin1String("no longer accepts the kept sign-in")),
                     qPrintable(w.text("signInStatus")));
            QVERIFY(!w.room->isSignedIn());
            QVERIFY(w.shows("staySignedIn"));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(w.room->isSignedIn(), 10000);
            QCOMPARE(w.room->userName(), account.user);
            w.click("signOut");
            QTRY_VERIFY_WITH_TIMEOUT(w.shows("password") && !w.room->isSignedIn(), 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(TokenStore::call(Op::Read, account).kind, Kind::Missing, 10000);
        QCOMPARE(keyringItems(), QString());
        QCOMPARE(TokenStore::keptAccount(), TokenStore::Account());
    }

    // veltro-present: --remember keeps a sign-in, later runs need no password, --forget forgets it, and a
    // token the service refuses is forgotten and the password used.
    void commandLine()
    {
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        const TokenStore::Account account{sim->server(), QStringLiteral("teacher2")};
        const QStringList base{"--server", account.server, "--user", account.user, "--learners-wait", "1",
                               "--poll-time", "1"};
        struct Run
        {
            const char *planted; // a token put in the keyring first, which the service never issued
            QStringList args;
            QString password; // VELTRO_PASSWORD; empty: unset
            int code;
            QStringList says;
            Kind kept; // what the keyring holds afterwards
        };
        const Run runs[] = {
            {nullptr, {"--remember"}, "veltro2", 0, {"teacher2, kept in the keyring", "\ndone\n"}, Kind::Done},
            {nullptr, {}, "", 0, {"teacher2 (kept sign-in)", "\ndone\n"}, Kind::Done},
            {nullptr, {"--forget"}, "", 0, {"no sign-in of teacher2"}, Kind::Missing},
            {"dat-never-issued", {}, "veltro2", 0, {TokenStore::refusedText(), "\ndone\n"}, Kind::Missing},
        };
        for (const Run &r : runs) {
            if (r.planted)
                QCOMPARE(TokenStore::call(Op::Write, account, QLatin1String(r.planted)).kind, Kind::Done);
            QString out;
            QVERIFY2(runPresent(base + r.args, &out, r.password) == r.code, qPrintable(out));
            QCOMPARE(missing(out, r.says), QString());
            QCOMPARE(TokenStore::call(Op::Read, account).kind, r.kept);
        }
        QCOMPARE(keyringItems(), QString());
    }

    // No keyring: the windows do not offer the option and say why in a line, veltro-present refuses
    // --remember, and nothing, not even a token handed to the store, lands in a file instead.
    void noKeyring_data() { kindRows("front", {QStringLiteral("present")}); }
    void noKeyring()
    {
        QFETCH(QString, front);
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        const TokenStore::Account account{sim->server(), QStringLiteral("teacher")};
        if (front == QLatin1String("present")) {
            QString out;
            QVERIFY2(runPresent({"--server", account.server, "--remember"}, &out) == 2, qPrintable(out));
            QCOMPARE(missing(out, {"--remember: Stay signed in is not available"}), QString());
        } else {
            Window w(front, {account.server, account.user, QStringLiteral("veltro"), true});
            QVERIFY(w.exposed);
            QTRY_VERIFY_WITH_TIMEOUT(w.shows("keptReason"), 10000);
            QVERIFY(w.text("keptReason").startsWith(QLatin1String("Stay signed in is not available")));
            QVERIFY(!w.shows("staySignedIn"));
            w.click("signIn");
            QTRY_VERIFY_WITH_TIMEOUT(w.room->isSignedIn(), 10000);
        }
        const QString token = QStringLiteral("a-token-kept-nowhere");
        QCOMPARE(TokenStore::call(Op::Write, account, token).kind, Kind::NoKeyring);
        QCOMPARE(filesHolding(token.toUtf8()), QStringList());
    }

    // In German, no text either window shows on its sign-in page (a password refused, in the library's
    // words) or its class page (before the session, and with a poll running, its shares as German writes
    // them) is the English one; the library's failure texts are German, around a key it does not know too.
    void speaksGerman_data() { kindRows(); }
    void speaksGerman()
    {
        QFETCH(QString, kind);
        StandIn *sim = StandIn::shared();
        QVERIFY(sim);
        const auto systemLanguage = qScopeGuard([] { useLanguage({}); });
        // Without the option the environment chooses, else the system.
        qputenv("VELTRO_LANGUAGE", "de");
        QCOMPARE(useLanguage({"test"}).language(), QLocale::German);
        qunsetenv("VELTRO_LANGUAGE");
        QCOMPARE(useLanguage({"test"}), QLocale::system());
        QStringList shown[2]; // English, German
        for (const bool german : {false, true}) {
            QCOMPARE(useLanguage({"test", "--language", german ? "de" : "en"}).language(),
                     german ? QLocale::German : QLocale::English);
            Window w(kind, {sim->server(), QStringLiteral("teacher"), QStringLiteral("wrong"), true});
            QVERIFY(w.exposed);
            QTRY_VERIFY_WITH_TIMEOUT(w.shows("staySignedIn") || w.shows("keptReason"), 10000);
            if (german)
                w.shoot("6-sign-in-de", "qml-3-sign-in-de");
            w.click("signIn");
            QTRY_VERIFY_WITH_TIMEOUT(w.room->error() == Veltro::Error::SignInRefused && !w.room->isBusy(), 10000);
            shown[german] << w.texts();
            w.set("password", "text", QStringLiteral("veltro"));
            w.click("signIn");
            QTRY_VERIFY_WITH_TIMEOUT(w.room->isSignedIn() && !w.room->isBusy(), 10000);
            shown[german] << w.texts();
            w.click("startSession");
            QTRY_VERIFY_WITH_TIMEOUT(w.room->isLive(), 20000);
            w.click(kind == QLatin1String("widgets") ? "startPoll" : "poll-multiple");
            QTRY_COMPARE_WITH_TIMEOUT(w.bars().size(), 4, 10000);
            shown[german] << w.texts();
        }
        QStringList untranslated; // words both runs show; the program's name stays
        for (const QString &text : qAsConst(shown[1]))
            if (shown[0].contains(text) && text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}")))
                && text != QLatin1String("Veltro Classroom"))
                untranslated << text;
        QCOMPARE(untranslated, QStringList());
        QVERIFY2(shown[1].contains(QStringLiteral("0 (0,0 %)")), qPrintable(shown[1].join(QLatin1Char('|'))));
        QVERIFY(!shown[1].filter(QStringLiteral("Benutzerkennung oder Passwort wurden nicht angenommen")).isEmpty());
        QCOMPARE(Veltro::plainError(QStringLiteral("error.made.up")), QStringLiteral("der Dienst meldete: error.made.up"));
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
