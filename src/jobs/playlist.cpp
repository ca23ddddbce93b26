#include "playlist.h"

#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "shell/userprompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

QString JobListEntry(int track, const QString &title)
{
    return TwoDigits(track) + TrackFileName(title, track);
}

QStringList WithUniqueFileBases(const QStringList &jobList)
{
    QSet<QString> taken;
    QStringList unique;
    for (const QString &entry : jobList) {
        const QString base = entry.mid(2);
        QString name = base;
        for (int n = 2; taken.contains(name.toCaseFolded()); ++n)
            name = base + QStringLiteral(" (%1)").arg(n);
        taken.insert(name.toCaseFolded());
        unique << entry.left(2) + name;
    }
    return unique;
}

QString AlbumPlaylistName(const QString &artist, const QString &album)
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
    return a + QStringLiteral(" - ") + b + QStringLiteral(".m3u");
}

bool WritePlaylist(const QString &path, const QStringList &jobList, const QString &extension,
                   const QString &folder, TUserPrompt *prompt, QString *error)
{
    if (QFileInfo::exists(path)) {
        const QString question = path + LocalizedText(QStringLiteral("RES_File_Exist"),
                                                      QStringLiteral(" has existed,overite it?"));
        if (!prompt || !prompt->Question(QStringLiteral("Sondrel"), question))
            return false;
    }
    QByteArray lines;
    const QString base = WithTrailingBackslash(folder);
    for (const QString &entry : jobList) {
        const QString name = entry.mid(2) + extension;
        if (QFileInfo::exists(base + name))
            lines += (name + QStringLiteral("\r\n")).toUtf8();
    }
    QString reason;
    if (!WriteFileAtomically(path, lines, &reason)) {
        if (error)
            *error = QStringLiteral("Cannot write ") + reason;
        return false;
    }
    return true;
}

QString ExtractionFolder(const TOptionsSetting &settings)
{
    const QString output = settings.CommonOptions.OutputFolder;
    const QString album = AlbumFolderName(settings.DiscInfo.Album);
    if (!settings.CommonOptions.IsCreateAlbumFolder || album.isEmpty() || album == QLatin1String(".") ||
        album == QLatin1String(".."))
        return output;
    const QString folder = WithTrailingBackslash(output) + album;
    QDir().mkpath(folder);
    return QFileInfo(folder).isDir() ? folder : output;
}

bool WriteExtractionPlaylist(const QString &folder, const QStringList &jobList,
                             const TOptionsSetting &settings, TUserPrompt *prompt, QString *error)
{
    const QString extension = OutputFormatExtension(settings.CommonOptions.OutputFormat);
    const TCDInfo &disc = settings.DiscInfo;
    const QString path = WithTrailingBackslash(folder) + AlbumPlaylistName(disc.Artist, disc.Album);
    return WritePlaylist(path, jobList, extension, folder, prompt, error);
}
