#include "plainerror.h"

QString plainError(const QString &lastError)
{
    if (lastError.isNull())
        return QStringLiteral("no reason was given");
    struct Known { const char *key; const char *words; };
    static const Known known[] = {
        {"SSLRootCertificateMissing",
         "the server's certificate is not signed by a trusted authority (give its CA with --cacert FILE)"},
        {"notSignedIn", "the service no longer knows this sign-in"},
        {"invalidCredentials", "the user id or password was not accepted"},
        {"badCredentials", "the user id or password was not accepted"},
        {"password", "the user id or password was not accepted"},
    };
    for (const Known &k : known) {
        if (lastError.contains(QLatin1String(k.key), Qt::CaseInsensitive))
            return QStringLiteral("%1 [%2]").arg(QLatin1String(k.words), lastError);
    }
    return lastError;
}
