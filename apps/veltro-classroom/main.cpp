// veltro-classroom: the reference presenter window on the veltroclient
// library. Options fill the sign-in form; the password is typed into the
// form's hidden field, or comes from VELTRO_PASSWORD or --password-file.
#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include "classroomwindow.h"
#include "credentials.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("veltro-classroom"));
    QApplication::setApplicationVersion(QStringLiteral(VELTRO_CLASSROOM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs a live Veltro classroom in a window."));
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
    // The form is the prompt here, so no terminal prompt.
    const PasswordChoice password = choosePassword(
        parser.isSet(QStringLiteral("password")) ? parser.value(QStringLiteral("password")) : QString(),
        parser.value(QStringLiteral("password-file")), qgetenv("VELTRO_PASSWORD"), false);
    if (!password.error.isEmpty()) {
        err << "veltro-classroom: " << password.error << "\n";
        return 2;
    }
    if (!password.warning.isEmpty())
        err << "veltro-classroom: warning: " << password.warning << "\n";
    err.flush();

    auto *window = new ClassroomWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setSignIn(parser.value(QStringLiteral("server")), parser.value(QStringLiteral("user")), password.password);
    window->show();
    return app.exec();
}
