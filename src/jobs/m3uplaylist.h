// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shell/result.h"

#include <QString>
#include <QStringList>

// The playlist builder's engine: the lines of an M3U playlist for a list of files, with absolute paths or
// with paths relative to the playlist's folder. The window (TfrmCreateM3U) and sondrel-cli share it.

// The folder of `folder` relative to `playlistFolder` (both absolute, with or without a trailing slash),
// computed on whole path components: "../" for each component of the playlist folder below the common
// folder, then the rest of the file's folder. Empty when both are the same folder. "/music/al" is not taken
// for a prefix of "/music/album".
QString M3uRelativeFolder(const QString &folder, const QString &playlistFolder);

// True when every file's folder is on the file system of the first file's folder (the "same drive" of
// the list; one file or none always is).
bool M3uSameFileSystem(const QStringList &files);

// The playlist name as it is saved: ".m3u" appended unless the name already ends so (in any case).
QString M3uPlaylistName(const QString &name);

// One line per file (absolute paths), in order: its absolute path, or with relative set its path relative
// to the playlist's folder (the absolute path when the two are on different file systems).
QStringList M3uLines(const QStringList &files, const QString &playlistPath, bool relative);

// Writes the lines, each ended by CR LF, UTF-8, under a temporary name renamed when complete. Fails with
// "PATH: reason" when it could not be written; the old file is then untouched.
TResult<> WriteM3u(const QString &playlistPath, const QStringList &lines);
