// "Stay signed in" of both windows and veltro-present against real keyrings and the stand-in service:
// tests/apps/keyring.sh runs noKeyring where no Secret Service answers and the other functions with an
// unlocked gnome-keyring-daemon, each in a private session bus with a throw-away HOME whose files the test
// reads for secrets. The stand-in's control interface withdraws a device token, as a service would.
#include <QDirIterator>
#include <QtTest>

#include "classroom.h"
#include "classroomwindow.h"
#include "presentrun.h"
#include "standin.h"
#include "tokenstore.h"
#include "windowtest.h"
#ifdef QT_QUICK_LIB
#include <QQmlApplicationEngine>

#include "classroomqml.h"
#include "windowsignin.h"
#endif

namespace {

using Op = TokenStore::Op;
using Kind = TokenStore::Outcome::Kind;

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

// A window as its program opens it: the form filled, a kept sign-in tried first.
class Window
{
    std::unique_ptr<ClassroomWindow> widgets;
#ifdef QT_QUICK_LIB
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *quick = nullptr;
#endif

    template <class Do> auto on(Do what) const
    {
#ifdef QT_QUICK_LIB
        if (quick)
            return what(quick);
#endif
        return what(widgets.get());
    }
    static constexpr bool isQuick(QWidget *) { return false; }
#ifdef QT_QUICK_LIB
    static constexpr bool isQuick(QQuickWindow *) { return true; }
#endif

public:
    Window(const QString &kind, const TokenStore::Account &account, const QString &password)
    {
        if (kind == QLatin1String("widgets")) {
            widgets = std::make_unique<ClassroomWindow>();
            widgets->setSignIn(account.server, account.user, password);
            widgets->resumeSignIn();
            widgets->show();
            room = widgets->classroom();
            exposed = QTest::qWaitForWindowExposed(widgets.get());
            return;
        }
#ifdef QT_QUICK_LIB
        engine = std::make_unique<QQmlApplicationEngine>();
        quick = loadClassroomWindow(engine.get(), {account.server, account.user, password, true});
        room = quick ? quick->findChild<Veltro::Classroom *>(QStringLiteral("classroom")) : nullptr;
        exposed = room && QTest::qWaitForWindowExposed(quick);
#endif
    }

    bool shows(const char *name) const { return on([name](auto *v) { return ::shows(v, name); }); }
    QString text(const char *name) const { return on([name](auto *v) { return ::text(v, name); }); }
    void click(const char *name) const { on([name](auto *v) { ::click(v, name); }); }
    // The QML window's pictures are named with "qml-" before the widget window's names.
    void shoot(const char *name) const
    {
        on([name](auto *v) { ::shoot(v, (isQuick(v) ? QByteArray("qml-") : QByteArray()) + name); });
    }

    Veltro::Classroom *room = nullptr;
    bool exposed = false;
};

// The windows this build has.
QStringList windowKinds()
{
    QStringList kinds{QStringLiteral("widgets")};
#ifdef QT_QUICK_LIB
    kinds << QStringLiteral("qml");
#endif
    return kinds;
}

} // namespace

class TestKeptSignIn : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each function runs in the keyring session keyring.sh made for it; they skip where the machine has none.
    void init()
    {
        const QString session = qEnvironmentVariable("VELTRO_TEST_KEYRING");
        if (session.isEmpty())
            QSKIP("no private keyring session: dbus-run-session, gnome-keyring-daemon or secret-tool is missing "
                  "(scripts/setup installs them), or this ran outside tests/apps/keyring.sh");
        QCOMPARE(session, QLatin1String(QTest::currentTestFunction() == QByteArray("noKeyring") ? "none" : "unlocked"));
    }

    // Signed in with "Stay signed in", the window closed; the next start signs in with the kept token and
    // shows no form, and signing out forgets it. A token the service withdrew meanwhile brings the form back
    // with the reason, and is forgotten.
    void staysSignedIn_data()
    {
        QTest::addColumn<QString>("front");
        QTest::addColumn<bool>("withdrawn");
        for (const QString &kind : windowKinds()) {
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
            Window w(front, account, QStringLiteral("veltro"));
            QVERIFY(w.exposed);
            QTRY_VERIFY_WITH_TIMEOUT(w.shows("staySignedIn"), 10000); // once a keyring answered
            QVERIFY(!w.shows("keptReason"));
            w.click("staySignedIn");
            if (!withdrawn)
                w.shoot("1-sign-in");
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
        Window w(front, account, QString()); // the next start, with no password at hand
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
    void noKeyring_data()
    {
        QTest::addColumn<QString>("front");
        const QStringList fronts = windowKinds() << QStringLiteral("present");
        for (const QString &front : fronts)
            QTest::newRow(qPrintable(front)) << front;
    }
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
            Window w(front, account, QStringLiteral("veltro"));
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
};

QTEST_MAIN(TestKeptSignIn)
#include "tst_keptsignin.moc"
