#include "tracktags.h"

#include "id3tag.h"
#include "id3v2tag.h"
#include "shell/genres.h"
#include "shell/settings.h"
#include "vorbistags.h"

TTrackTags TrackTagsOf(const TCDInfo &disc, int track, const QString &title)
{
    TTrackTags tags;
    const bool known = track >= 1 && track < int(disc.Tracks.size());
    tags.Title = known && !disc.Tracks[size_t(track)].isEmpty() ? disc.Tracks[size_t(track)] : title;
    tags.AlbumArtist = disc.Artist;
    tags.Artist =
        known && !disc.TrackArtists[size_t(track)].isEmpty() ? disc.TrackArtists[size_t(track)] : disc.Artist;
    tags.Album = disc.Album;
    tags.Year = disc.Year;
    tags.Genre = GenreName(disc.Genre);
    tags.Comment = disc.Comment;
    tags.Track = std::max(track, 0);
    // A disc whose length is unknown says 100 (the cache's default); no total is better than a wrong one.
    tags.TrackTotal = disc.TrackNumber >= track && disc.TrackNumber <= 99 ? disc.TrackNumber : 0;
    return tags;
}

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
}

bool TagMp3File(const QString &path, const TCDInfo &disc, int track, const QString &base, QString *error)
{
    Tid3tag tag;
    tag.SetTitle(base.left(255));
    tag.SetArtist(disc.Artist.left(255));
    tag.SetAlbum(disc.Album.left(255));
    tag.SetYear(disc.Year.left(255));
    tag.SetComment(disc.Comment.left(255));
    tag.Genre = Tid3tag::GenreToId3(uint8_t(disc.Genre));
    tag.SetTrack(uint8_t(track));
    const uint16_t result = tag.WriteTag(path);
    if (result > 255) {
        if (error)
            *error = QStringLiteral("Error #%1! Could not save Tag!").arg(result);
        return false;
    }
    return WriteId3v2Tag(path, TrackTagsOf(disc, track, base), error);
}
