// Where the teacher's password comes from. Every user of the machine can read
// a program's arguments in the process list, so the password belongs in a
// prompt, the environment or a file; an argument still works, with a warning.
#pragma once

#include <QByteArray>
#include <QString>

/// The password a run uses and where it came from.
struct PasswordChoice
{
    enum Source { Missing, Argument, Environment, File, Prompt };
    /// Prompt: the caller asks for it; Missing: no source applies.
    Source source = Missing;
    /// The password itself for Argument, Environment and File.
    QString password;
    /// To show before running: a password given as an argument, a file that others can read.
    QString warning;
    /// Set when the run must not go on: the reason in plain words.
    QString error;
};

/// Chooses the password: the file given with --password-file first (its first
/// line, at most 4 KiB read), then `argument` (null when --password was not
/// given; warned about), then `environment` (VELTRO_PASSWORD, empty when unset),
/// then a prompt when `terminal`. Error when both options are given or the file
/// cannot be read or holds no password.
PasswordChoice choosePassword(const QString &argument, const QString &file, const QByteArray &environment,
                              bool terminal);

/// Asks for the password on the controlling terminal (standard input) with
/// echo off; null when the input ends first.
QString promptPassword(const QString &prompt);
