// The command line both reference windows take: where to sign in and as whom.
// The password is best typed into the window's form; it can also come from
// VELTRO_PASSWORD or --password-file, and from --password with a warning.
#pragma once

#include <QString>

class QCoreApplication;

/// What fills a window's sign-in form at start.
struct WindowSignIn
{
    QString server;
    QString user;
    QString password; ///< empty when the teacher types it into the form
    /// Whether the window first looks for a sign-in kept in the keyring (the programs do).
    bool resume = false;
};

/// Reads --server, --user, --password and --password-file from `app`'s
/// arguments (--help and --version print and exit, as QCommandLineParser
/// does) and VELTRO_PASSWORD from the environment. Without --server and
/// --user, the account whose sign-in was kept last fills the form. Warnings and errors go to
/// standard error after the program's name. False when the program must stop
/// (both password options given, an unreadable or empty password file).
bool readWindowSignIn(QCoreApplication &app, const QString &description, WindowSignIn *out);
