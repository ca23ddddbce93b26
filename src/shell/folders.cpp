// SPDX-License-Identifier: GPL-3.0-or-later
#include "folders.h"

#include "helpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>

namespace {

QMutex overrideMutex;
QString programFolderOverride;

QString xdgFolder(const char *variable, const QString &fallbackBelowHome)
{
    QString folder = qEnvironmentVariable(variable);
    if (folder.isEmpty() || QDir::isRelativePath(folder))
        folder = QDir::homePath() + QLatin1Char('/') + fallbackBelowHome;
    return WithTrailingBackslash(folder);
}

QString resolveProgramSubfolder(const QString &base)
{
    if (!base.isEmpty()) {
        const QString folder = base + QStringLiteral("Ombrel/Sondrel/");
        if (QDir().mkpath(folder))
            return folder;
    }
    return ProgramFolder();
}

} // namespace

QString AppDataFolder()
{
    return xdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString LocalAppDataFolder()
{
    return xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString SettingsFolder()
{
    return resolveProgramSubfolder(AppDataFolder());
}

QString DataFolder()
{
    return resolveProgramSubfolder(LocalAppDataFolder());
}

QString ProgramFolder()
{
    {
        QMutexLocker lock(&overrideMutex);
        if (!programFolderOverride.isEmpty())
            return programFolderOverride;
    }
    if (QCoreApplication::instance())
        return WithTrailingBackslash(QCoreApplication::applicationDirPath());
    return WithTrailingBackslash(
        QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2));
}

void SetProgramFolderOverride(const QString &folder)
{
    QMutexLocker lock(&overrideMutex);
    programFolderOverride = WithTrailingBackslash(folder);
}

QString InstalledShareFolder()
{
    return WithTrailingBackslash(QStringLiteral(SONDREL_SHARE_DIR));
}

QString RelativeShareFolder()
{
    return QDir::cleanPath(ProgramFolder() + QStringLiteral("../share/sondrel")) + QLatin1Char('/');
}

QString ShippedFilePath(const QString &fileName)
{
    const QString local = ProgramFolder() + fileName;
    if (QFileInfo::exists(local))
        return local;
    // Installed: beside the program's prefix, wherever it went; the configured place last.
    for (const QString &folder : {RelativeShareFolder(), InstalledShareFolder()}) {
        const QString installed = folder + fileName;
        if (QFileInfo::exists(installed))
            return installed;
    }
    return local;
}
