// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracktags.h"

#include "filetags.h"
#include "id3tag.h"
#include "shell/discinfo.h"
#include "shell/genres.h"
#include "shell/settings.h"
#include "tagcopy.h"
#include "vorbistags.h"

#include <QFile>
#include <QtEndian>

TTrackTags TrackTagsOf(const TCDInfo &disc, int track, const QString &title)
{
    TTrackTags tags;
    const bool known = track >= 1 && track < int(disc.Tracks.size());
    tags.Title = known && !disc.Tracks[size_t(track)].isEmpty() ? disc.Tracks[size_t(track)] : title;
    if (track == 0) // the audio hidden before the first track
        tags.Title = QStringLiteral("Hidden Track");
    tags.AlbumArtist = disc.Artist;
    tags.Artist =
        known && !disc.TrackArtists[size_t(track)].isEmpty() ? disc.TrackArtists[size_t(track)] : disc.Artist;
    tags.Album = disc.Album;
    tags.Year = disc.Year;
    tags.Genre = DiscGenre(disc);
    tags.Comment = disc.Comment;
    tags.Track = std::max(track, 0);
    // A disc whose length is unknown says 100 (the cache's default); no total is better than a wrong one.
    tags.TrackTotal = disc.TrackNumber >= track && disc.TrackNumber <= 99 ? disc.TrackNumber : 0;
    if (known)
        tags.Isrc = disc.Isrcs[size_t(track)];
    if (disc.McnIsBarcode)
        tags.Barcode = disc.Mcn;
    return tags;
}

TTrackTags TrackTagsOf(const TOptionsSetting &settings, int track, const QString &title)
{
    TTrackTags tags = TrackTagsOf(settings.DiscInfo, track, title);
    tags.Deemphasised = settings.CommonOptions.Deemphasis && track >= 1 &&
                        track < int(settings.DiscInfo.PreEmphasis.size()) &&
                        settings.DiscInfo.PreEmphasis[size_t(track)];
    const QString cover = CoverCachePath(settings.DiscInfo.MusicBrainzRelease);
    if (settings.QueryCDDB.EmbedCover && !cover.isEmpty()) {
        QFile file(cover);
        if (file.open(QIODevice::ReadOnly) && file.size() <= FlacPictureLimit)
            tags.Cover = file.readAll();
    }
    return tags;
}

namespace {

// The FLAC picture block of a front cover (JPEG), as a Vorbis comment carries it in base64.
QByteArray pictureBlock(const QByteArray &jpeg)
{
    QByteArray block;
    const auto put = [&block](quint32 value) {
        char be[4];
        qToBigEndian(value, be);
        block.append(be, 4);
    };
    const QByteArray mime = "image/jpeg";
    put(3); // front cover
    put(quint32(mime.size()));
    block += mime;
    put(0); // no description
    put(0); // width, height, depth and colours: unknown
    put(0);
    put(0);
    put(0);
    put(quint32(jpeg.size()));
    block += jpeg;
    return block.toBase64();
}

} // namespace

void SetVorbisComments(TVorbisTags &comments, const TTrackTags &tags)
{
    comments.Clear();
    const auto set = [&comments](const char *name, const QString &value) {
        if (!value.isEmpty())
            comments.SetValue(QLatin1String(name), value);
    };
    set("TITLE", tags.Title);
    set("ARTIST", tags.Artist);
    if (tags.AlbumArtist != tags.Artist)
        set("ALBUMARTIST", tags.AlbumArtist);
    set("ALBUM", tags.Album);
    set("DATE", tags.Year);
    set("GENRE", tags.Genre);
    if (tags.Track > 0)
        set("TRACKNUMBER", QString::number(tags.Track));
    if (tags.TrackTotal > 0)
        set("TRACKTOTAL", QString::number(tags.TrackTotal));
    set("COMMENT", tags.Comment);
    set("ISRC", tags.Isrc);
    set("BARCODE", tags.Barcode);
    if (tags.Deemphasised)
        set("DEEMPHASIS", QStringLiteral("yes"));
    if (!tags.Cover.isEmpty())
        set("METADATA_BLOCK_PICTURE", QString::fromLatin1(pictureBlock(tags.Cover)));
}

bool TagMp3File(const QString &path, const TOptionsSetting &settings, int track, const QString &base,
                QString *error)
{
    // The version 1 tag takes the Part's fields (title `base`, the disc's artist, album, year, comment,
    // genre, the track number) as far as they fit; the version 2 tag the whole texts of TrackTagsOf. One
    // edit, so the file is never left with one tag new and the other old.
    const TCDInfo &disc = settings.DiscInfo;
    const TTrackTags tags = TrackTagsOf(settings, track, base);
    TTagEdit edit;
    edit.Title = tags.Title.isEmpty() ? base : tags.Title;
    edit.Artist = tags.Artist;
    edit.AlbumArtist = tags.AlbumArtist;
    edit.Album = tags.Album;
    edit.Year = tags.Year;
    edit.Genre = DiscGenre(disc);
    edit.Comment = tags.Comment;
    edit.Track = track;
    edit.TrackTotal = tags.TrackTotal;
    edit.Cover = tags.Cover;
    if (!tags.Isrc.isEmpty())
        edit.Isrc = tags.Isrc;
    if (!tags.Barcode.isEmpty())
        edit.Barcode = tags.Barcode;
    if (tags.Deemphasised)
        edit.Deemphasis = QStringLiteral("yes");
    edit.Id3v1Title = base;
    edit.Id3v1Artist = disc.Artist;
    return EditFileTags(path, edit, error);
}
