// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QString>
#include <cstdint>

// Small helpers shared by many parts of the program. The ones marked thread-safe keep no state and are also
// called from worker threads.

// Decimal n, with a "0" in front when n is 9 or less (5 gives "05"; 10 and 123 stay). Thread-safe.
QString TwoDigits(int n);

// False when the file does not exist; otherwise true when it cannot be opened for reading and writing, or
// when another open file holds a lock on it (see LockOpenFile). Thread-safe.
bool FileInUse(const QString &path);

// Appends the path separator unless the text is empty or already ends in it. Thread-safe.
QString WithTrailingBackslash(const QString &path);

// Makes the folder and every folder above it that is missing; empty when the folder is there now, else the
// reason the system gave for the first folder it could not make (a part of the path that is a file gives
// "Not a directory"). Thread-safe.
QString FolderProblem(const QString &folder);
// The same, with *error (when given) saying "FOLDER: cannot create the folder: reason" on failure.
bool MakeFolder(const QString &folder, QString *error = nullptr);

// Why the file at path cannot be read, as the system says it ("No such file or directory", "Permission
// denied", "Is a directory"; "not a regular file" for a pipe, socket or device), or empty when it is a
// file that can be opened for reading. Thread-safe.
QString UnreadableReason(const QString &path);

// Replaces the file at path with bytes, or leaves it as it was: the bytes go to a temporary file beside it,
// which is renamed over it only when every write, the flush and the sync succeeded. On failure the temporary
// file is gone and *error (when given) says "PATH: reason" with the system's reason.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

#include "workingfile.h"

// Copies a file: the copy is written under the target's working name and renamed over the target when
// complete, so the target is the old file or the whole copy. *error says "PATH: reason".
bool CopyFileAtomically(const QString &from, const QString &to, QString *error = nullptr);
// Copies the bytes of `from` into `to` (made anew with the default permissions),
// synced; false with "PATH: the system's reason" in *error, `to` then removed.
bool CopyFileBytes(const QString &from, const QString &to, QString *error = nullptr);
// Moves a file: a rename, or across file systems a complete copy (as above) after which the source is
// removed.
bool MoveFile(const QString &from, const QString &to, QString *error = nullptr);

// True when both paths lead to one existing file, whatever links and spellings lie between (the same device
// and inode, symbolic links followed). What reads one and writes the other must refuse such a pair.
// Thread-safe.
bool SameFile(const QString &a, const QString &b);

// Inside a catch block: the text of the exception being handled (what() of a standard exception, else
// "unknown error"), for catch-alls that must say what they caught. Thread-safe.
QString CurrentExceptionText();
// Inside a catch block whose error has nowhere better to go (a clean-up, a reset): says on the log (standard
// error) where it happened and what was caught.
void LogCaughtException(const char *where);

// The real size of a file in bytes (0 for a folder), or -1 when nothing is found at the path. Thread-safe.
int64_t FileSizeOf(const QString &path);

// The nine characters that never appear in a file name the program makes: " * / : < > ? \ |
bool IsForbiddenFileNameChar(QChar c);

// The text without control characters (U+0000 to U+001F, U+007F to U+009F) and bidirectional embeddings,
// overrides and isolates (U+202A to U+202E, U+2066 to U+2069): what titles and disc fields from outside (CDDB
// and MusicBrainz answers, CD-Text, cdinfo.dat) are cleaned to.
QString WithoutControlChars(const QString &text);

// The longest file base, in UTF-8 bytes, that TrackFileName gives: with an extension (up to ".flac"), the
// hidden working name of an encoder (a dot before, ".part" after) and a number that tells two tracks of one
// job apart (" (99)"), a name stays within the 255 bytes a Linux file system allows.
constexpr int MaxFileBaseBytes = 255 - 5 - 6 - 5;

// The file base of a title: without forbidden and control characters, without leading dots and blanks (a
// title of "...And Justice for All" must not make a hidden file), cut to MaxFileBaseBytes on a character
// boundary. When nothing remains, TimestampName() + "_" + n. Thread-safe.
QString TrackFileName(const QString &title, int trackNumber);

// The text cut to at most maxBytes bytes of UTF-8, never inside a character.
QString CutToUtf8Bytes(const QString &text, int maxBytes);

// The album folder's name by TrackFileName's rules (an album of "../.." or "...Live" makes no hidden folder,
// a long one no name too long to make) without trailing blanks; empty when nothing remains.
QString AlbumFolderName(const QString &album);

// "File_" + local date and time as yyyymmdd_hhnnss. Thread-safe.
QString TimestampName();

// The folder of the system's programs, and the desktop's mixer found there or on the search path (empty
// when none is installed).
QString SystemFolder();
QString VolumeControlProgram();

// Takes an advisory lock (flock) on the file behind an open descriptor: exclusive, or shared with other
// readers. The lock belongs to the open file, not the process, so FileInUse sees it even from another thread
// of the same process; it goes when the descriptor is closed. False when someone else holds a conflicting
// lock.
bool LockOpenFile(int fd, bool exclusive);
