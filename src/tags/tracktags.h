// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

struct TCDInfo;
struct TOptionsSetting;
class TVorbisTags;

// The tags of one track, as every format's writer takes them. Empty texts and zero numbers are left out.
struct TTrackTags {
    QString Title;
    QString Artist;      // the track's
    QString AlbumArtist; // the disc's
    QString Album;
    QString Year;
    QString Genre; // the genre's name
    QString Comment;
    int Track = 0;
    int TrackTotal = 0;
    QByteArray Cover;          // the front cover, a JPEG image; empty for none
    QString Isrc;              // the track's recording code, as the disc carries it
    QString Barcode;           // the disc's catalogue number, when it is a valid EAN/UPC
    bool Deemphasised = false; // the disc's pre-emphasis was undone (a DEEMPHASIS field says so)
};

// The tags of track n of the disc (its title, its own artist or the disc's, the disc's fields, the number of
// tracks when the disc says it). `title` stands in when the disc has none for the track.
TTrackTags TrackTagsOf(const TCDInfo &disc, int track, const QString &title);
// The same for a job's settings.
// With the release's cover when covers go into files and one is kept, and whether the rip undoes the track's
// pre-emphasis.
TTrackTags TrackTagsOf(const TOptionsSetting &settings, int track, const QString &title);

// The Vorbis comments of a track: TITLE, ARTIST, ALBUMARTIST (when it differs from ARTIST, as on a
// compilation), ALBUM, DATE, GENRE, TRACKNUMBER, TRACKTOTAL, COMMENT, ISRC, BARCODE and DEEMPHASIS, and the
// cover as a METADATA_BLOCK_PICTURE (a FLAC picture block in base64), replacing what the set held.
void SetVorbisComments(TVorbisTags &comments, const TTrackTags &tags);

// Tags an MP3 file the program made for track n of the disc: the ID3 version 1 tag (title `base`, the disc's
// artist, album, year, comment, genre and the track number), then the version 2 tag of TrackTagsOf. False,
// with the file and the reason in *error, when either could not be written.
bool TagMp3File(const QString &path, const TOptionsSetting &settings, int track, const QString &base,
                QString *error = nullptr);
