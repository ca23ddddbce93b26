// SPDX-License-Identifier: GPL-3.0-or-later
#include "playlist.h"

#include "jobitem.h"
#include "shell/discinfo.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "shell/userprompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

QStringList FileNameTemplateChoices()
{
    return {QStringLiteral("%title%"), QStringLiteral("%track% - %title%"),
            QStringLiteral("%track% - %artist% - %title%"),
            QStringLiteral("%artist% - %album% - %track% - %title%")};
}

QString FileBaseOfTemplate(const QString &nameTemplate, const TTrackNameFields &fields)
{
    const std::pair<QLatin1String, QString> values[] = {{QLatin1String("%track%"), TwoDigits(fields.Track)},
                                                        {QLatin1String("%title%"), fields.Title},
                                                        {QLatin1String("%artist%"), fields.Artist},
                                                        {QLatin1String("%albumartist%"), fields.AlbumArtist},
                                                        {QLatin1String("%album%"), fields.Album},
                                                        {QLatin1String("%year%"), fields.Year},
                                                        {QLatin1String("%genre%"), fields.Genre}};
    QString name;
    for (qsizetype i = 0; i < nameTemplate.size();) {
        bool replaced = false;
        for (const auto &[field, value] : values) {
            if (nameTemplate.mid(i, field.size()).compare(field, Qt::CaseInsensitive) == 0) {
                for (const QChar c : WithoutControlChars(value)) {
                    if (!IsForbiddenFileNameChar(c))
                        name += c;
                }
                i += field.size();
                replaced = true;
                break;
            }
        }
        if (!replaced)
            name += nameTemplate.at(i++);
    }
    return TrackFileName(name.trimmed(), fields.Track);
}

QString JobListEntry(const QString &nameTemplate, const TTrackNameFields &fields)
{
    return TwoDigits(fields.Track) + FileBaseOfTemplate(nameTemplate, fields);
}

QString HiddenTrackJobEntry(const QString &nameTemplate, TTrackNameFields disc)
{
    disc.Track = 0;
    disc.Title = QStringLiteral("Hidden Track");
    const QString base = FileBaseOfTemplate(nameTemplate, disc);
    const qsizetype slash = base.lastIndexOf(QLatin1Char('/'));
    return QStringLiteral("00") + base.left(slash + 1) + QStringLiteral("00 - Hidden Track");
}

QStringList WithUniqueFileBases(const QStringList &jobList)
{
    QSet<QString> taken;
    QStringList unique;
    for (const QString &entry : jobList) {
        const TJobItem item = TJobItem::Of(entry);
        const QString &base = item.Base;
        QString name = base;
        for (int n = 2; taken.contains(name.toCaseFolded()); ++n)
            name = base + QStringLiteral(" (%1)").arg(n);
        taken.insert(name.toCaseFolded());
        unique << TJobItem{item.Track, name}.Entry();
    }
    return unique;
}

QString AlbumFileName(const QString &artist, const QString &album, const QString &extension)
{
    const auto clean = [](const QString &text) {
        QString out;
        for (const QChar c : text) {
            if (!IsForbiddenFileNameChar(c))
                out += c;
        }
        return out;
    };
    const QString a = artist.isEmpty() ? QStringLiteral("Unknown Artist") : clean(artist);
    const QString b = album.isEmpty() ? QStringLiteral("Unknown Album") : clean(album);
    // The track file name rules: no hidden file from an artist like "...", no name too long to make.
    return TrackFileName(a + QStringLiteral(" - ") + b, 0) + extension;
}

QString AlbumPlaylistName(const QString &artist, const QString &album)
{
    return AlbumFileName(artist, album, QStringLiteral(".m3u"));
}

TResult<> WritePlaylist(const QString &path, const QStringList &jobList, const QString &extension,
                        const QString &folder, TUserPrompt *prompt)
{
    if (QFileInfo::exists(path)) {
        const QString question = ReplaceQuestion(path);
        if (!prompt || !prompt->Question(QStringLiteral("Sondrel"), question))
            return TFailure{}; // declined: nothing to say
    }
    QByteArray lines;
    const QString base = WithTrailingBackslash(folder);
    for (const QString &entry : jobList) {
        const QString name = TJobItem::Of(entry).Base + extension;
        if (QFileInfo::exists(base + name))
            lines += (name + QStringLiteral("\r\n")).toUtf8();
    }
    if (QString reason; !WriteFileAtomically(path, lines, &reason))
        return TFailure{QStringLiteral("Cannot write ") + reason};
    return {};
}

TResult<> SaveDiscCover(const QString &folder, const TOptionsSetting &settings)
{
    const QString cover = CoverCachePath(settings.DiscInfo.MusicBrainzRelease);
    if (!settings.QueryCDDB.SaveCover || cover.isEmpty() || !QFileInfo(cover).isFile())
        return {};
    const QString target = WithTrailingBackslash(folder) + QStringLiteral("cover.jpg");
    if (QFileInfo::exists(target))
        return {};
    if (QString error; !CopyFileAtomically(cover, target, &error))
        return TFailure{error};
    return {};
}

QString ExtractionFolder(const TOptionsSetting &settings)
{
    const QString output = settings.CommonOptions.OutputFolder;
    const QString album = AlbumFolderName(settings.DiscInfo.Album);
    if (!settings.CommonOptions.IsCreateAlbumFolder || album.isEmpty())
        return output;
    const QString folder = WithTrailingBackslash(output) + album;
    QDir().mkpath(folder);
    return QFileInfo(folder).isDir() ? folder : output;
}

TResult<> WriteExtractionPlaylist(const QString &folder, const QStringList &jobList,
                                  const TOptionsSetting &settings, TUserPrompt *prompt)
{
    const QString extension = OutputFormatExtension(settings.CommonOptions.OutputFormat);
    const TCDInfo &disc = settings.DiscInfo;
    const QString path = WithTrailingBackslash(folder) + AlbumPlaylistName(disc.Artist, disc.Album);
    return WritePlaylist(path, jobList, extension, folder, prompt);
}
