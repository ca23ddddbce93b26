// SPDX-License-Identifier: GPL-3.0-or-later
#include "discinfo.h"

#include "folders.h"
#include "helpers.h"
#include "inifile.h"
#include "settings.h"

#include <QFile>
#include <algorithm>

namespace {

const QString cacheFileName = QStringLiteral("cdinfo.dat");
constexpr int maxTitles = 100;

} // namespace

QString DefaultTrackTitle(int trackNumber)
{
    return QStringLiteral("Track") + TwoDigits(trackNumber);
}

QString DiscInfoFilePath()
{
    const QString path = DataFolder() + cacheFileName;
    if (!QFile::exists(path)) {
        const QString old = ProgramFolder() + cacheFileName;
        // Moved over whole or not at all; when it cannot be, the old one stays in use.
        if (old != path && QFile::exists(old) && !CopyFileAtomically(old, path))
            return old;
    }
    return path;
}

QString CoverCachePath(const QString &releaseId)
{
    if (releaseId.isEmpty() || releaseId.size() > 64)
        return QString();
    for (const QChar c : releaseId) {
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) || c == QLatin1Char('-')))
            return QString();
    }
    return DataFolder() + QStringLiteral("Covers/") + releaseId + QStringLiteral(".jpg");
}

void LoadDiscInfo(const QString &key)
{
    LoadDiscInfo(key, AppSettings.DiscInfo);
}

bool LoadDiscInfo(const QString &key, TCDInfo &info)
{
    if (key.isEmpty())
        return false;
    // Only the disc's own section is read: the cache may hold many thousands of discs.
    const IniFile ini = IniFile::readSection(DiscInfoFilePath(), key);
    // The file may have been written by anyone: its texts carry no control characters into titles.
    const auto text = [&](const QString &name) {
        return WithoutControlChars(ini.readString(key, name, QString()));
    };
    info.Artist = text(QStringLiteral("Artist"));
    info.Album = text(QStringLiteral("Album"));
    info.Year = text(QStringLiteral("Year"));
    info.Genre = ini.readInteger(key, QStringLiteral("Genre"), -1);
    info.GenreText = text(QStringLiteral("GenreText"));
    info.Comment = text(QStringLiteral("Comment"));
    info.TrackNumber = ini.readInteger(key, QStringLiteral("TrackNumber"), maxTitles);
    info.MusicBrainzRelease = text(QStringLiteral("MusicBrainzRelease"));
    const int count = std::min(info.TrackNumber, maxTitles);
    for (int n = 1; n <= count; ++n) {
        const QString title = text(QString::number(n));
        info.Tracks[n] = title.isEmpty() ? DefaultTrackTitle(n) : title;
    }
    for (int n = 1; n < int(info.TrackArtists.size()); ++n)
        info.TrackArtists[n] = n <= count ? text(QStringLiteral("Artist") + QString::number(n)) : QString();
    return ini.hasSection(key);
}

bool SaveDiscInfo(const QString &key)
{
    return SaveDiscInfo(key, AppSettings.DiscInfo);
}

bool SaveDiscInfo(const QString &key, const TCDInfo &info, QString *error)
{
    if (key.isEmpty())
        return false;
    IniFile ini = IniFile::readSection(DiscInfoFilePath(), key);
    ini.writeString(key, QStringLiteral("Artist"), info.Artist);
    ini.writeString(key, QStringLiteral("Album"), info.Album);
    ini.writeString(key, QStringLiteral("Year"), info.Year);
    ini.writeInteger(key, QStringLiteral("Genre"), info.Genre);
    if (!info.GenreText.isEmpty() && info.Genre <= 0)
        ini.writeString(key, QStringLiteral("GenreText"), info.GenreText);
    else
        ini.deleteKey(key, QStringLiteral("GenreText"));
    ini.writeString(key, QStringLiteral("Comment"), info.Comment);
    ini.writeInteger(key, QStringLiteral("TrackNumber"), info.TrackNumber);
    if (!info.MusicBrainzRelease.isEmpty())
        ini.writeString(key, QStringLiteral("MusicBrainzRelease"), info.MusicBrainzRelease);
    else
        ini.deleteKey(key, QStringLiteral("MusicBrainzRelease"));
    const int count = std::min(info.TrackNumber, maxTitles);
    for (int n = 1; n <= count; ++n) {
        ini.writeString(key, QString::number(n), info.Tracks[n]);
        // A track's own artist only where it has one, so entries of other discs keep their form.
        const QString artistKey = QStringLiteral("Artist") + QString::number(n);
        if (!info.TrackArtists[n].isEmpty())
            ini.writeString(key, artistKey, info.TrackArtists[n]);
        else
            ini.deleteKey(key, artistKey);
    }
    return ini.saveSection(key, AppSettings.CDOptions.DiscCacheSize, error);
}
