// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/discmodel.h"
#include "shell/result.h"

#include <QString>
#include <QStringList>

class TUserPrompt;

// The templates the Output page offers; any other text is taken as it is.
QStringList FileNameTemplateChoices();

// The file base of a track after a template: %track% (two digits), %title%, %artist%, %albumartist%,
// %album%, %year% and %genre% are replaced in one pass (a field's text is never read as a field), each text
// without the characters a file name cannot hold; then the track file name rules apply to the whole (no
// leading dots, a length limit, the time-stamp name when nothing is left). Other text stays as written.
QString FileBaseOfTemplate(const QString &nameTemplate, const TTrackNameFields &fields);

// The job list entry of a track: its number in two digits, then its file base after the template.
QString JobListEntry(const QString &nameTemplate, const TTrackNameFields &fields);
// The entry of the audio hidden before the first track: track 0, "00 - Hidden Track" in the folder the
// template gives the disc's files (`disc`: the fields of any track, for the folder).
QString HiddenTrackJobEntry(const QString &nameTemplate, TTrackNameFields disc);

// A job list whose entries name different files: an entry whose file base an earlier entry already has
// (compared without regard to case, as on the FAT and NTFS media files are copied to) gets " (2)", " (3)"
// ... after its base.
QStringList WithUniqueFileBases(const QStringList &jobList);

// The name of the playlist an extraction writes: artist, " - ", album, ".m3u", with "Unknown Artist" and
// "Unknown Album" for empty ones. Characters a file name cannot hold are left out, so "AC/DC" or "Live: 2001"
// still give a playlist in the output folder.
QString AlbumPlaylistName(const QString &artist, const QString &album);
// The same rule for any file named after the disc (its log, its cue sheet), with the track file name rules
// on top: no leading dots, the length limit.
QString AlbumFileName(const QString &artist, const QString &album, const QString &extension);

// Writes one line per job list entry whose file (the entry less its first two characters, plus the
// extension) exists in the folder, lines ending in CR LF. An existing playlist is overwritten only when the
// prompt says yes. Fails when the file could not be written (with the reason) or the user declined (with
// none).
TResult<> WritePlaylist(const QString &path, const QStringList &jobList, const QString &extension,
                        const QString &folder, TUserPrompt *prompt);

// Where an extraction writes: the album's folder inside the output folder when the settings ask for one and
// the album names one ("." and ".." name none, as they would put the files beside or above the output
// folder), created when missing; otherwise the output folder itself.
struct TOptionsSetting;
QString ExtractionFolder(const TOptionsSetting &settings);

// After an extraction: the playlist of the job list in the folder the files went to, named after the disc,
// for the output format of the settings. Fails when it was not written (with the reason, none when the user
// declined).
// Before an extraction: the release's cover as cover.jpg in the folder the files go to, when the settings
// keep covers and one was fetched for the disc. A cover.jpg already there is left alone. Fails with the
// reason when it could not be written.
TResult<> SaveDiscCover(const QString &folder, const TOptionsSetting &settings);

TResult<> WriteExtractionPlaylist(const QString &folder, const QStringList &jobList,
                                  const TOptionsSetting &settings, TUserPrompt *prompt);
