#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

// The user's language for the whole window: the core's texts from the message catalogue
// (platform/Translation.h) and the window's own texts and Qt's standard ones (buttons "Yes", "No",
// the option parser's messages) from Qt translation files. The language is chosen once, by the
// core's rule (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG), so that every text of the window speaks the
// same language. The files are looked for beside programFolder (see below). Returns the language
// taken ("zh_CN"), or "" for English.
QString InstallTranslations(QCoreApplication& app, const QString& programFolder);

// Where the window's translation files are looked for, best first: <program folder>/../share/
// qor-oneclick/translations (an installed or unpacked copy, or the build tree), then the
// installation's data folder.
QStringList WindowTranslationDirs(const QString& programFolder);
