#include "localizedtext.h"

#include "folders.h"
#include "inifile.h"
#include "settings.h"

QString LanguageFilePath(const QString &language)
{
    return ShippedFilePath(QStringLiteral("CLan_") + language + QStringLiteral(".ini"));
}

QString LocalizedText(const QString &key, const QString &englishText)
{
    if (IsEnglish(AppSettings.Lan))
        return englishText;
    return IniFile(LanguageFilePath(AppSettings.Lan))
        .readString(QStringLiteral("ResourceString"), key, englishText);
}
