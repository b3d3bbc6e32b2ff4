#include "plainerror.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>

// The catalogues' resource, initialised by name: a static build of the library
// would otherwise leave it out.
static void initTranslations()
{
    Q_INIT_RESOURCE(veltroclient);
}

namespace Veltro {

namespace {

const char CONTEXT[] = "Veltro::plainError";

// A fragment of a key, and what it means; the first fragment the key holds wins.
struct Known
{
    const char *fragment;
    const char *words;
};
const Known KNOWN[] = {
    {"SSLRootCertificateMissing",
     QT_TRANSLATE_NOOP("Veltro::plainError",
                       "the server's certificate is not signed by a trusted authority: its CA certificate is needed")},
    {"CollabServerUrlMissing",
     QT_TRANSLATE_NOOP("Veltro::plainError", "the service named no server for the live connection")},
    {"SessionTokenMissing", QT_TRANSLATE_NOOP("Veltro::plainError", "the service did not start the session")},
    {"ResponseTooLarge", QT_TRANSLATE_NOOP("Veltro::plainError", "the service's answer was larger than allowed")},
    {"notSignedIn", QT_TRANSLATE_NOOP("Veltro::plainError", "the service no longer knows this sign-in")},
    {"authenticationRequired", QT_TRANSLATE_NOOP("Veltro::plainError", "the server asks for its own user and password")},
    {"invalidDeviceToken", QT_TRANSLATE_NOOP("Veltro::plainError", "the device's sign-in token was not accepted")},
    {"invalidCredentials", QT_TRANSLATE_NOOP("Veltro::plainError", "the user id or password was not accepted")},
    {"badCredentials", QT_TRANSLATE_NOOP("Veltro::plainError", "the user id or password was not accepted")},
    {"password", QT_TRANSLATE_NOOP("Veltro::plainError", "the user id or password was not accepted")},
    {"session.notFound", QT_TRANSLATE_NOOP("Veltro::plainError", "the service does not know this session")},
    {"session.stopped", QT_TRANSLATE_NOOP("Veltro::plainError", "the session has been stopped already")},
};

} // namespace

QString plainError(const QString &text)
{
    if (text.isEmpty())
        return QCoreApplication::translate("Veltro::plainError", "no reason was given");
    // A key has no blanks and a dot or a capital ("error.session.stopped",
    // "ResponseTooLarge"); anything else is a sentence already ("cancelled").
    const bool key = !text.contains(QLatin1Char(' '))
        && (text.contains(QLatin1Char('.')) || text.toLower() != text);
    if (!key)
        return text;
    for (const Known &k : KNOWN) {
        if (text.contains(QLatin1String(k.fragment), Qt::CaseInsensitive))
            return QCoreApplication::translate(CONTEXT, k.words);
    }
    return QCoreApplication::translate("Veltro::plainError", "the service said: %1").arg(text);
}

bool installTranslator(const QLocale &locale)
{
    static QPointer<QTranslator> installed;
    QCoreApplication *app = QCoreApplication::instance();
    delete installed; // removes it from the application
    if (!app)
        return false;
    initTranslations();
    auto *translator = new QTranslator(app);
    if (!translator->load(locale, QStringLiteral("veltroclient"), QStringLiteral("_"),
                          QStringLiteral(":/veltro/translations"))) {
        delete translator;
        return false;
    }
    installed = translator;
    return QCoreApplication::installTranslator(translator);
}

} // namespace Veltro
