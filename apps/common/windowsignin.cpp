#include "windowsignin.h"

#include "credentials.h"
#include "tokenstore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

bool readWindowSignIn(QCoreApplication &app, const QString &description, WindowSignIn *out)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("server"), QStringLiteral("Address of the classroom service."), QStringLiteral("URL"),
         QStringLiteral("http://127.0.0.1:8080")},
        {QStringLiteral("user"), QStringLiteral("Teacher's user id."), QStringLiteral("NAME"), QStringLiteral("teacher")},
        {QStringLiteral("password"),
         QStringLiteral("Teacher's password (others can read it in the process list: prefer the form, "
                        "VELTRO_PASSWORD or --password-file)."),
         QStringLiteral("PASSWORD")},
        {QStringLiteral("password-file"), QStringLiteral("File whose first line is the teacher's password."),
         QStringLiteral("FILE")},
    });
    parser.process(app);

    QTextStream err(stderr);
    const QString name = QCoreApplication::applicationName();
    // The form is the prompt here, so no terminal prompt.
    const PasswordChoice password = choosePassword(
        parser.isSet(QStringLiteral("password")) ? parser.value(QStringLiteral("password")) : QString(),
        parser.value(QStringLiteral("password-file")), qgetenv("VELTRO_PASSWORD"), false);
    if (!password.error.isEmpty()) {
        err << name << ": " << password.error << "\n";
        return false;
    }
    if (!password.warning.isEmpty())
        err << name << ": warning: " << password.warning << "\n";
    const TokenStore::Account kept = TokenStore::keptAccount();
    const bool named = parser.isSet(QStringLiteral("server")) || parser.isSet(QStringLiteral("user"));
    out->server = named || kept.user.isEmpty() ? parser.value(QStringLiteral("server")) : kept.server;
    out->user = named || kept.user.isEmpty() ? parser.value(QStringLiteral("user")) : kept.user;
    out->password = password.password;
    out->resume = true;
    return true;
}
