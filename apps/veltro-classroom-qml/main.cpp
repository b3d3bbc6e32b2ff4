// veltro-classroom-qml: the reference presenter window in QML, on the
// library's QML module (import Veltro). Options fill the sign-in form as for
// veltro-classroom; the password is best typed into the form.
#include <QGuiApplication>
#include <QQmlApplicationEngine>

#include "classroomqml.h"
#include "language.h"
#include "windowsignin.h"

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("veltro-classroom-qml"));
    QGuiApplication::setApplicationVersion(QStringLiteral(VELTRO_CLASSROOM_VERSION));
    useLanguage(QGuiApplication::arguments());

    WindowSignIn signIn;
    if (!readWindowSignIn(app, QStringLiteral("Runs a live Veltro classroom in a QML window."), &signIn))
        return 2;
    QQmlApplicationEngine engine;
    if (!loadClassroomWindow(&engine, signIn))
        return 1;
    return app.exec();
}
