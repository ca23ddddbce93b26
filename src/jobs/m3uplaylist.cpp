// SPDX-License-Identifier: GPL-3.0-or-later
#include "m3uplaylist.h"

#include "shell/helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

QStringList components(const QString &folder)
{
    return QDir::cleanPath(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// The file system a folder is on, or -1 when it cannot be told (a folder that does not exist).
long long deviceOf(const QString &folder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return -1;
    return static_cast<long long>(st.st_dev);
}

} // namespace

QString M3uRelativeFolder(const QString &folder, const QString &playlistFolder)
{
    const QStringList f = components(folder);
    const QStringList p = components(playlistFolder);
    qsizetype common = 0;
    while (common < f.size() && common < p.size() && f.at(common) == p.at(common))
        ++common;
    QStringList parts;
    for (qsizetype i = common; i < p.size(); ++i)
        parts << QStringLiteral("..");
    parts << f.mid(common);
    return parts.join(QLatin1Char('/'));
}

bool M3uSameFileSystem(const QStringList &files)
{
    if (files.size() <= 1)
        return true;
    const long long first = deviceOf(QFileInfo(files.first()).absolutePath());
    for (const QString &file : files) {
        if (deviceOf(QFileInfo(file).absolutePath()) != first)
            return false;
    }
    return true;
}

QString M3uPlaylistName(const QString &name)
{
    return name.endsWith(QStringLiteral(".m3u"), Qt::CaseInsensitive) ? name : name + QStringLiteral(".m3u");
}

QStringList M3uLines(const QStringList &files, const QString &playlistPath, bool relative)
{
    const QString playlistFolder = QFileInfo(playlistPath).absolutePath();
    const long long playlistDevice = deviceOf(playlistFolder);
    QStringList lines;
    for (const QString &file : files) {
        const QFileInfo info(file);
        const QString folder = info.absolutePath();
        if (!relative || deviceOf(folder) != playlistDevice) {
            lines << QDir::cleanPath(info.absoluteFilePath());
            continue;
        }
        const QString r = M3uRelativeFolder(folder, playlistFolder);
        lines << (r.isEmpty() ? info.fileName() : r + QLatin1Char('/') + info.fileName());
    }
    return lines;
}

TResult<> WriteM3u(const QString &playlistPath, const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines) {
        // A line break inside a name would make two entries of one file, the second of the name's choosing.
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
            QString shown = line;
            shown.replace(QLatin1Char('\r'), QStringLiteral("\\r"))
                .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
            return TFailure{shown +
                            QStringLiteral(": a file name with a line break cannot be a playlist entry; ") +
                            playlistPath + QStringLiteral(" was not written")};
        }
        bytes += line.toUtf8() + "\r\n";
    }
    if (QString error; !WriteFileAtomically(playlistPath, bytes, &error))
        return TFailure{error};
    return {};
}
