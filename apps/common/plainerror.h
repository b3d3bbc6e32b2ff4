// Failure texts of the library in words a teacher can act on, shared by the
// command-line program and both windows.
#pragma once

#include <QString>

/// A library error key (getLastError(), a reply's errorString()) or reason in
/// words a teacher can act on; the key itself is kept in brackets so it can
/// still be searched for.
QString plainError(const QString &lastError);
