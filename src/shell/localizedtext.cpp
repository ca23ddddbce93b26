#include "localizedtext.h"

#include "folders.h"
#include "inifile.h"
#include "settings.h"

#include <QFileInfo>
#include <QLocale>

QString LanguageFilePath(const QString &language)
{
    const QString name = QStringLiteral("CLan_") + language + QStringLiteral(".ini");
    // A user's own translation, in the data folder, comes before the shipped ones.
    const QString own = DataFolder() + name;
    return QFileInfo::exists(own) ? own : ShippedFilePath(name);
}

QString LocalizedText(const QString &key, const QString &englishText)
{
    if (IsEnglish(AppSettings.Lan))
        return englishText;
    return LanguageFileText(IniFile(LanguageFilePath(AppSettings.Lan)), QStringLiteral("ResourceString"), key,
                            englishText);
}

QString LanguageFileText(const IniFile &file, const QString &section, const QString &key,
                         const QString &defaultText)
{
    if (!file.hasKey(section, key))
        return defaultText;
    QString value = file.readString(section, key, defaultText);
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    return value.replace(QLatin1String("\\n"), QLatin1String("\n"));
}

QString LanguageOfLocale(const QLocale &locale)
{
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return QStringLiteral("English");
    // The Language menu's names are Qt's English names of the languages, but for Dutch.
    const QString name = locale.language() == QLocale::Dutch ? QStringLiteral("Netherlands")
                                                             : QLocale::languageToString(locale.language());
    return QFileInfo::exists(LanguageFilePath(name)) ? name : QStringLiteral("English");
}
