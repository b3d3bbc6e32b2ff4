// veltro-present: a live classroom from the command line, built on the
// veltroclient library.
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

#include "credentials.h"
#include "presentconfig.h"
#include "presenterrun.h"
#include "tokenstore.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltro-present"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRO_PRESENT_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    PresentConfig config;
    QString message;
    switch (parsePresentArguments(QCoreApplication::arguments(), &config, &message)) {
    case ParseOutcome::Help:
    case ParseOutcome::Version:
        out << message << "\n";
        return 0;
    case ParseOutcome::Error:
        err << "veltro-present: " << message << "\n"
            << "Try 'veltro-present --help' for the options.\n";
        return 2;
    case ParseOutcome::Run:
        break;
    }

    // A sign-in kept in the keyring needs no password (unless the service refuses it).
    const TokenStore::Account account{config.server, config.user};
    if (config.forget) {
        const TokenStore::Outcome forgotten = TokenStore::call(TokenStore::Op::Forget, account);
        if (forgotten.kind == TokenStore::Outcome::NoKeyring) {
            err << "veltro-present: " << forgotten.reason << "\n";
            return 1;
        }
        out << "veltro-present: no sign-in of " << config.user << " at " << config.server << " is kept\n";
        return 0;
    }
    const TokenStore::Outcome kept = TokenStore::call(TokenStore::Op::Read, account);
    if (config.remember && kept.kind == TokenStore::Outcome::NoKeyring) {
        err << "veltro-present: --remember: " << kept.reason << "\n";
        return 2;
    }
    config.keptToken = kept.token;

    const PasswordChoice password =
        choosePassword(config.password, config.passwordFile, qgetenv("VELTRO_PASSWORD"), isatty(STDIN_FILENO));
    if (!password.warning.isEmpty())
        err << "veltro-present: warning: " << password.warning << "\n";
    config.password = password.password;
    // Asked for on the terminal only once it is needed.
    const auto passwordNow = [&config, &password] {
        if (config.password.isEmpty() && password.source == PasswordChoice::Prompt)
            config.password = promptPassword(QStringLiteral("Password for %1 at %2: ").arg(config.user, config.server));
        return config.password;
    };
    if (!password.error.isEmpty() || (config.keptToken.isEmpty() && passwordNow().isEmpty())) {
        err << "veltro-present: " << (!password.error.isEmpty() ? password.error : PresenterRun::noPasswordText())
            << "\n";
        return 2;
    }
    err.flush();

    // The library's per-frame debug lines would bury the tally; they stay
    // available with --verbose (and QT_LOGGING_RULES still wins over this).
    if (!config.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("veltro.*.debug=false"));

    // Redraw in place only on a real terminal that understands cursor movement.
    const QByteArray term = qgetenv("TERM");
    const bool interactive = !config.plain && isatty(STDOUT_FILENO) && term != "dumb" && !term.isEmpty();
    int columns = 80;
    winsize ws{};
    if (interactive && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        columns = ws.ws_col;

    // The first Ctrl-C ends the waits and stops the session cleanly; a
    // second one ends the program at once.
    struct sigaction sa {};
    sa.sa_handler = [](int) { PresenterRun::interrupt(); };
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    PresenterRun run(config, out, interactive, columns, passwordNow);
    return run.exec();
}
