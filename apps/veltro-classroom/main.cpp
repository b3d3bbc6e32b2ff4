// veltro-classroom: the reference presenter window on the veltroclient
// library. Options fill the sign-in form; the password is typed into the
// form's hidden field, or comes from VELTRO_PASSWORD or --password-file.
#include <QApplication>

#include "classroomwindow.h"
#include "windowsignin.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("veltro-classroom"));
    QApplication::setApplicationVersion(QStringLiteral(VELTRO_CLASSROOM_VERSION));

    WindowSignIn signIn;
    if (!readWindowSignIn(app, QStringLiteral("Runs a live Veltro classroom in a window."), &signIn))
        return 2;

    auto *window = new ClassroomWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setSignIn(signIn.server, signIn.user, signIn.password);
    if (signIn.resume)
        window->resumeSignIn();
    window->show();
    return app.exec();
}
