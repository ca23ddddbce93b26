#pragma once

#include <QString>

// The path of the language file of a language: "CLan_" + language + ".ini", in the program folder or else in
// the installed share folder.
QString LanguageFilePath(const QString &language);

// The message text for a key: the English text when the language setting is English (any letter case);
// otherwise the key of section "ResourceString" of the language file, the English text when the file or the
// key is missing. The file is read anew at every call.
QString LocalizedText(const QString &key, const QString &englishText);
