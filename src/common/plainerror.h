// Failure texts of the library in words a teacher can act on.
#pragma once

#include "veltroclient_export.h"

#include <QLocale>
#include <QString>

namespace Veltro {

/// A failure text of the library, in words a teacher can act on: `text` is
/// a reason as PresenterClient::getLastError(), PresenterReply::errorString()
/// or PresenterCollab::errorString() give it. A key (a text without blanks,
/// such as the service's "error.login.invalidCredentials" or the library's
/// "SSLRootCertificateMissing") becomes a sentence; a key the library does
/// not know reads "the service said: KEY". A text that is a sentence already
/// comes back unchanged, and a null or empty one says that no reason was
/// given. The sentences are translatable (context "Veltro::plainError").
VELTROCLIENT_EXPORT QString plainError(const QString &text);

/// Puts the library's texts (plainError()'s sentences) into the application in
/// the language of `locale` (the default locale when none is given): loads the
/// library's catalogue for it into a translator the application owns, in place
/// of one this call installed before. Call it once a QCoreApplication exists,
/// and again to change the language. The catalogues are embedded in the
/// library as ":/veltro/translations/veltroclient_<language>.qm" (German:
/// veltroclient_de.qm), for a host that loads them into its own QTranslator.
/// Returns false when there is no application or no catalogue for the
/// locale's languages; the texts are English then.
VELTROCLIENT_EXPORT bool installTranslator(const QLocale &locale = QLocale());

} // namespace Veltro
