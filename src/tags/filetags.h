// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shell/outputformats.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>

// The tags of any audio file the program reads or writes, through TagLib: MP3 (ID3 version 2.4, with the
// version 1 tag at the end kept beside it), FLAC and the Ogg codecs (Vorbis comments; FLAC pictures
// untouched), WAV (its RIFF INFO list, and an "id3 " chunk when the file has one) and WMA (ASF). A file's
// kind is told by its first bytes, whatever its name says.
//
// Edits change only the fields they name: every other frame, comment, picture and value stays as it was.
// "Comment" is the user's own comment (an ID3 COMM frame with an empty description, a COMMENT comment);
// comments other programs keep under descriptions of their own are left alone. Every write goes to a copy
// under the file's working name, which replaces the file only when complete, so the file is always either
// as it was or wholly tagged. Thread-safe (no shared state).

// The length in bytes of the MPEG audio frame whose four header bytes are at h, or 0 when they are no valid
// frame header (MPEG 1, 2 and 2.5, layers I to III). Thread-safe.
int MpegFrameBytes(const uint8_t *h);
// The bytes of the ID3v2 tag the first ten bytes of a file announce (header and footer included); 0 without
// one. Thread-safe.
int64_t Id3v2TagBytes(const QByteArray &head);

// The kind of the file by its content; None for a file no format claims (or one that cannot be read).
TFileFormat TagFormatOf(const QString &path);
// The format's name as the user reads it ("MP3", "Ogg Vorbis"); empty for None.
QString TagFormatName(TFileFormat format);
// Whether the format's tags are Vorbis comments (FIELD=value, numbers and totals apart).
bool HoldsVorbisComments(TFileFormat format);

struct TFileTags {
    TFileFormat Format = TFileFormat::None;
    QString Kind; // which tag the fields came from ("ID3v2", "ID3v1", "Vorbis comments", "RIFF INFO", "ASF")
    QString Title;
    QString Artist;
    QString AlbumArtist;
    QString Album;
    QString Year;  // the whole date as the file holds it ("2010-04-03")
    QString Genre; // a name (numeric ID3 genres are given their names)
    QString Comment;
    int Track = 0;
    int TrackTotal = 0;
    // The fields that hold more than one value (a version 2.4 frame's list, repeated Vorbis comments or ASF
    // attributes), every value in order, by the field's name ("title", "artist", "album artist", "album",
    // "genre"); the field above holds the first.
    std::map<QString, QStringList> Values;
    bool HasTag() const { return !Kind.isEmpty(); }
};

// The fields an edit changes; those left empty (std::nullopt) stay as they are. An empty text removes the
// field.
struct TTagEdit {
    std::optional<QString> Title;
    std::optional<QString> Artist;
    std::optional<QString> AlbumArtist;
    std::optional<QString> Album;
    std::optional<QString> Year;
    std::optional<QString> Genre; // a name; for MP3 files also a number of the ID3 genre list
    std::optional<QString> Comment;
    std::optional<int> Track; // 0 removes it
    std::optional<int> TrackTotal;
    // The front cover, a JPEG image (an empty one removes it); ID3 tags only (MP3, and WAV's "id3 " chunk).
    std::optional<QByteArray> Cover;
    // The recording code (ID3 TSRC, Vorbis ISRC) and the disc's barcode (a TXXX or Vorbis BARCODE field).
    std::optional<QString> Isrc;
    std::optional<QString> Barcode;
    // "yes" on audio whose CD pre-emphasis was undone (a TXXX or Vorbis DEEMPHASIS field).
    std::optional<QString> Deemphasis;
    // MP3 files only: what the version 1 tag takes instead of Title and Artist, when it differs (a rip gives
    // it the file's name and the disc's artist).
    std::optional<QString> Id3v1Title;
    std::optional<QString> Id3v1Artist;
    bool Empty() const;
};

// Reads the file's tags. False, with "PATH: reason" in *error, for a file that cannot be read (the system's
// reason) or that no format claims ("PATH: not a file whose tags can be read").
bool ReadFileTags(const QString &path, TFileTags &tags, QString *error = nullptr);
// Changes the named fields. For an MP3 file both tags change: the version 1 tag takes what fits it (30
// characters a field, Latin-1), the version 2 tag the whole text. False with "PATH: reason" in *error; the
// file is then untouched.
bool EditFileTags(const QString &path, const TTagEdit &edit, QString *error = nullptr);
// Removes the file's tags (both ID3 tags of an MP3; the comments, INFO list or ASF fields of the others;
// pictures of a FLAC file stay).
bool RemoveFileTags(const QString &path, QString *error = nullptr);
