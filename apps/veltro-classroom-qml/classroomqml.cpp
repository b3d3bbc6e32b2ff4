#include "classroomqml.h"

#include "classroom.h"
#include "presenterclient.h"
#include "windowsignin.h"

#include <QCoreApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

QQuickWindow *loadClassroomWindow(QQmlApplicationEngine *engine, const WindowSignIn &signIn)
{
    // An installed program must not pick up a build tree's module, so the
    // build's folder is added only for programs that run from the build tree.
    const QString buildRoot = QDir(QStringLiteral(VELTRO_BUILD_ROOT)).canonicalPath();
    if (!buildRoot.isEmpty()
        && QDir(QCoreApplication::applicationDirPath()).canonicalPath().startsWith(buildRoot + QLatin1Char('/')))
        engine->addImportPath(QStringLiteral(VELTRO_QML_BUILD_DIR));
    engine->setInitialProperties({{QStringLiteral("server"), signIn.server},
                                  {QStringLiteral("user"), signIn.user},
                                  {QStringLiteral("password"), signIn.password}});
    engine->load(QUrl(QStringLiteral("qrc:/veltro-classroom-qml/Main.qml")));
    const QList<QObject *> roots = engine->rootObjects();
    auto *window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.constLast());
    // The class stays live through a dropped link. Reconnection is a setting
    // of the classroom's client, which QML does not reach, and a new address
    // brings a new client: set on each.
    if (auto *classroom = window ? window->findChild<Veltro::Classroom *>(QStringLiteral("classroom")) : nullptr) {
        const auto reconnect = [classroom] { classroom->client()->setAutoReconnect(true); };
        QObject::connect(classroom, &Veltro::Classroom::serverUrlChanged, classroom, reconnect);
        reconnect();
    }
    return window;
}
