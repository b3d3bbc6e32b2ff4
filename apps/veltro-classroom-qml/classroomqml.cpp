#include "classroomqml.h"

#include "keptsignin.h"
#include "language.h"
#include "lesson.h"
#include "pollkinds.h"
#include "windowsignin.h"

#include <QCoreApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickWindow>

QQuickWindow *loadClassroomWindow(QQmlApplicationEngine *engine, const WindowSignIn &signIn)
{
    // An installed program must not pick up a build tree's module, so the
    // build's folder is added only for programs that run from the build tree.
    const QString buildRoot = QDir(QStringLiteral(VELTRO_BUILD_ROOT)).canonicalPath();
    if (!buildRoot.isEmpty()
        && QDir(QCoreApplication::applicationDirPath()).canonicalPath().startsWith(buildRoot + QLatin1Char('/')))
        engine->addImportPath(QStringLiteral(VELTRO_QML_BUILD_DIR));
    // The programs' own types, shared with the widget window.
    static const int registered = qmlRegisterType<KeptSignIn>("VeltroPrograms", 1, 0, "KeptSignIn")
        + qmlRegisterType<Lesson>("VeltroPrograms", 1, 0, "Lesson");
    Q_UNUSED(registered)
    // What the poll kinds are called in the chosen language, by name.
    QVariantMap pollKindTexts;
    for (const QString &name : Veltro::pollKindNames())
        pollKindTexts.insert(name, pollKindText(name));
    engine->rootContext()->setContextProperty(QStringLiteral("pollKindTexts"), pollKindTexts);
    engine->setInitialProperties({{QStringLiteral("server"), signIn.server},
                                  {QStringLiteral("user"), signIn.user},
                                  {QStringLiteral("password"), signIn.password},
                                  {QStringLiteral("resume"), signIn.resume}});
    engine->load(QUrl(QStringLiteral("qrc:/veltro-classroom-qml/Main.qml")));
    const QList<QObject *> roots = engine->rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.constLast());
}
