// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Carries the tags of one audio file over to another of any format the tag layer writes (TFileFormat): every
// field the target can hold, by TagLib's common names (title, artists,
// album, dates, track and disc numbers, MusicBrainz ids; not the loudness values, which belong to the file
// measured), and the front cover (or the first picture). The source may also be an MP4/M4A file. The target
// changes on a working copy that replaces it when complete. True when there was nothing to carry; false
// with "PATH: reason" in *error. A cover too large for the target (a FLAC metadata block holds 16 MB) is left
// out, said in *warning.
bool CopyFileTags(const QString &from, const QString &to, QString *error = nullptr,
                  QString *warning = nullptr);

// The same for a file being made, not yet under its name (a working file): `file` changes in place, and is
// of the format `named` has; messages name `named`.
bool CopyFileTagsInto(const QString &from, const QString &file, const QString &named,
                      QString *error = nullptr, QString *warning = nullptr);

// The names of the fields a file's tag holds, by TagLib's common names in upper case (REPLAYGAIN_TRACK_GAIN;
// an MP3's TXXX frames by their descriptions); none when it cannot be read.
QStringList FileTagFieldNames(const QString &path);

// The largest picture a FLAC file's metadata block takes, with room for its description.
constexpr qsizetype FlacPictureLimit = (1 << 24) - 1 - 1024;

// Sets fields by TagLib's common names (REPLAYGAIN_TRACK_GAIN, R128_TRACK_GAIN...; an MP3 keeps names it has
// no frame for as TXXX frames of that name), the other fields kept, on a working copy as above. False with
// "PATH: reason" in *error.
bool SetFileTagFields(const QString &path, const QList<QPair<QString, QString>> &fields,
                      QString *error = nullptr);
// The same in place, on a file being made (see CopyFileTagsInto).
bool SetFileTagFieldsIn(const QString &file, const QString &named,
                        const QList<QPair<QString, QString>> &fields, QString *error = nullptr);
