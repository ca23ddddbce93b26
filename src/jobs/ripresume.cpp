// SPDX-License-Identifier: GPL-3.0-or-later
// What an earlier rip's log says was read well, for a rip that goes on from it.
#include "ripreport.h"
#include "shell/helpers.h"
#include "shell/settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

std::vector<TKeptTrack> TracksReadWell(const QByteArray &logText, const QString &folder)
{
    const QStringList lines = QString::fromUtf8(logText).split(QRegularExpression(QStringLiteral("\r?\n")));
    if (lines.isEmpty() || !lines.first().startsWith(QLatin1String("Sondrel ")) ||
        !lines.first().endsWith(QLatin1String(" rip log")))
        return {};
    static const QRegularExpression header(QStringLiteral("^Track (\\d\\d)$"));
    std::vector<TKeptTrack> kept;
    TKeptTrack entry;
    bool copied = false;
    const auto close = [&] {
        const QString name = entry.File;
        const bool plain = !name.isEmpty() && name.size() <= 255 && name == QFileInfo(name).fileName() &&
                           name != QLatin1String("..") && !name.startsWith(QLatin1Char('.')) &&
                           WithoutControlChars(name) == name;
        const QFileInfo file(folder + QLatin1Char('/') + name);
        const bool known = std::any_of(kept.begin(), kept.end(),
                                       [&](const TKeptTrack &k) { return k.Track == entry.Track; });
        if (entry.Track > 0 && copied && plain && !known && file.isFile() && !file.isSymLink() &&
            file.size() > 0)
            kept.push_back(entry);
        entry = TKeptTrack();
        copied = false;
    };
    for (const QString &line : lines) {
        if (const auto match = header.match(line); match.hasMatch()) {
            close();
            entry.Track = match.captured(1).toInt();
        } else if (entry.Track > 0 && line.startsWith(QLatin1String("  "))) {
            entry.Lines << WithoutControlChars(line);
            if (line.startsWith(QLatin1String("  File: ")))
                entry.File = line.mid(8);
            else if (line == QLatin1String("  Status: copied"))
                copied = true;
        } else if (entry.Track > 0) {
            close();
        }
    }
    close();
    return kept;
}

QString EarlierRipLog(const QString &folder)
{
    QString newest;
    QDateTime when;
    for (const QFileInfo &log : QDir(folder).entryInfoList({QStringLiteral("*.log")}, QDir::Files)) {
        QFile file(log.filePath());
        if (!file.open(QIODevice::ReadOnly) || !file.readLine(64).startsWith("Sondrel "))
            continue;
        if (newest.isEmpty() || log.lastModified() > when) {
            newest = log.filePath();
            when = log.lastModified();
        }
    }
    return newest;
}

TEarlierRip EarlierRip(const QString &folder, const QString &extension)
{
    TEarlierRip earlier;
    earlier.Log = EarlierRipLog(folder);
    if (earlier.Log.isEmpty())
        return earlier;
    QFile file(earlier.Log);
    if (!file.open(QIODevice::ReadOnly))
        earlier.Problem = earlier.Log + QStringLiteral(": ") + file.errorString();
    else
        earlier.ReadWell = TracksReadWell(file.read(4 << 20), folder);
    // A rip into another format goes on from nothing: the earlier files are not its own to replace.
    if (std::erase_if(earlier.ReadWell,
                      [&](const TKeptTrack &track) {
                          return !track.File.endsWith(extension, Qt::CaseInsensitive);
                      }) > 0 &&
        earlier.ReadWell.empty())
        earlier.Problem = earlier.Log + QStringLiteral(": a rip to files of another format");
    return earlier;
}

void ResumeFrom(TOptionsSetting &settings, const QString &earlierLog)
{
    settings.CommonOptions.ResumedLog = earlierLog;
    settings.CommonOptions.WriteLog = true;
}

QString TrackNumbersText(const QList<int> &tracks)
{
    if (tracks.isEmpty())
        return QStringLiteral("no track");
    QStringList numbers;
    for (const int track : tracks)
        numbers << TwoDigits(track);
    return (tracks.size() == 1 ? QStringLiteral("track ") : QStringLiteral("tracks ")) +
           numbers.join(QStringLiteral(", "));
}
