// The language the programs speak: the system's, or the one --language or
// VELTRO_LANGUAGE names. Numbers, shares and times follow it too.
#pragma once

#include <QCommandLineOption>
#include <QLocale>
#include <QStringList>

/// The --language option every program takes, for --help.
QCommandLineOption languageOption();

/// Chooses the programs' language from `arguments` (--language de, or
/// --language=de), else from VELTRO_LANGUAGE, else the system locale; makes it
/// the default locale, so QLocale() and QML's Qt.locale() format in it, and
/// loads the programs' and the library's texts for it (English where there is
/// no catalogue). Called again, it replaces the language. Returns the locale.
QLocale useLanguage(const QStringList &arguments);

/// What a poll kind (a name Classroom::pollKinds() gives) is called in the
/// chosen language: its label, translated; the name when the kind is unknown.
QString pollKindText(const QString &name);
