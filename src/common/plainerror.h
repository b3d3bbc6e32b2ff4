// Failure texts of the library in words a teacher can act on.
#pragma once

#include "veltroclient_export.h"

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

} // namespace Veltro
