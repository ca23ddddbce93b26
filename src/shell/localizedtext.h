// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class IniFile;
class QLocale;

// The path of the language file of a language: "CLan_" + language + ".ini", in the user's data folder (a
// translation of their own), else in the program folder or the installed share folder.
QString LanguageFilePath(const QString &language);

// The message text for a key: the English text when the language setting is English (any letter case);
// otherwise the key of section "ResourceString" of the language file, the English text when the file or the
// key is missing. The file is read once and kept while the language, and the file, stay the same.
// Thread-safe.
QString LocalizedText(const QString &key, const QString &englishText);
// The same for texts written in the code: LocalizedText("RES_Encoding", "Encoding").
inline QString LocalizedText(const char *key, const char *englishText)
{
    return LocalizedText(QLatin1String(key), QString::fromUtf8(englishText));
}

// A text of a language file: the key's value, or the default when the key is missing. A value in double
// quotes loses them, so a text can keep spaces at its start or end (values are trimmed otherwise); "\n" in a
// value is a line break.
QString LanguageFileText(const IniFile &file, const QString &section, const QString &key,
                         const QString &defaultText);

// The language a first start takes from the user's locale: the menu's name of the locale's language when a
// language file for it is shipped, else "English".
QString LanguageOfLocale(const QLocale &locale);
