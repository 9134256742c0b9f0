#pragma once

#include <QString>

class QCoreApplication;
enum class Wording;

// The window's language. Chinese is the window's own; English comes from the translation built
// into the program.
enum class Language { Chinese, English };

// "zh" or "en" as given to --lang; *ok is false for anything else.
Language languageFromOption(const QString &option, bool *ok);

// What the C library's locale variables ask for: the first of LC_ALL, LC_MESSAGES and LANG that
// is set and not empty decides; an "en" locale gives English, everything else (C, POSIX, zh_*,
// other languages) Chinese.
Language languageFromEnvironment();

// Installs the English translation on app, or removes it for Chinese; widgets made afterwards
// take the language. Returns false when the translation cannot be loaded: the window stays
// Chinese.
bool installLanguage(QCoreApplication *app, Language language);

// The language installLanguage set last.
Language currentLanguage();

// The frame decoder's words for what the window shows (the work log and the reports stay Chinese).
Wording windowWording();
