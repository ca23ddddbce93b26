// SPDX-License-Identifier: GPL-3.0-or-later
#include "localizedtext.h"

#include "folders.h"
#include "inifile.h"
#include "settings.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <memory>
#include <mutex>

QString LanguageFilePath(const QString &language)
{
    const QString name = QStringLiteral("CLan_") + language + QStringLiteral(".ini");
    // A user's own translation, in the data folder, comes before the shipped ones.
    const QString own = DataFolder() + name;
    return QFileInfo::exists(own) ? own : ShippedFilePath(name);
}

namespace {

// The language file last read, kept until the language (or the file) changes: messages are asked for often.
struct LoadedLanguage {
    QString path;
    QDateTime modified;
    qint64 size = -1;
    std::shared_ptr<const IniFile> file;
};

std::shared_ptr<const IniFile> languageFile(const QString &language)
{
    static std::mutex mutex;
    static LoadedLanguage loaded;
    const QString path = LanguageFilePath(language);
    const QFileInfo info(path);
    std::lock_guard lock(mutex);
    if (!loaded.file || loaded.path != path || loaded.modified != info.lastModified() ||
        loaded.size != info.size()) {
        loaded.path = path;
        loaded.modified = info.lastModified();
        loaded.size = info.size();
        loaded.file = std::make_shared<const IniFile>(path);
    }
    return loaded.file;
}

} // namespace

QString LocalizedText(const QString &key, const QString &englishText)
{
    if (IsEnglish(AppSettings.Lan))
        return englishText;
    return LanguageFileText(*languageFile(AppSettings.Lan), QStringLiteral("ResourceString"), key, englishText);
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
