#include "language.h"

#include "plainerror.h"
#include "pollkinds.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>

static void initTranslations()
{
    Q_INIT_RESOURCE(veltro_programs); // a static library's resource is loaded by name
}

QString pollKindText(const QString &name)
{
    // The library's own labels, in its catalogue's language.
    const QString label = Veltro::pollKindLabel(name);
    return label.isEmpty() ? name : label;
}

QCommandLineOption languageOption()
{
    return {QStringLiteral("language"),
            QStringLiteral("Language of the texts, numbers and times (\"de\", \"en\"); default: VELTRO_LANGUAGE, "
                           "else the system's."),
            QStringLiteral("LANGUAGE")};
}

QLocale useLanguage(const QStringList &arguments)
{
    // Read ahead of the command line's parser, whose texts are made in the language.
    QString name = qEnvironmentVariable("VELTRO_LANGUAGE");
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if ((a == QLatin1String("--language") || a == QLatin1String("-language")) && i + 1 < arguments.size())
            name = arguments.at(i + 1);
        else if (a.startsWith(QLatin1String("--language=")))
            name = a.mid(11);
    }
    const QLocale locale = name.isEmpty() ? QLocale::system() : QLocale(name);
    QLocale::setDefault(locale);

    static QPointer<QTranslator> programs;
    delete programs;
    initTranslations();
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(locale, QStringLiteral("veltro-programs"), QStringLiteral("_"),
                         QStringLiteral(":/veltro/translations"))) {
        QCoreApplication::installTranslator(translator);
        programs = translator;
    } else {
        delete translator;
    }
    Veltro::installTranslator(locale);
    return locale;
}
