// SPDX-License-Identifier: GPL-3.0-or-later
#include "discmodel.h"

#include "shell/discinfo.h"
#include "shell/genres.h"
#include "shell/helpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

constexpr int titledRows = 100;

} // namespace

TDiscModel::TDiscModel(TCDInfo &info, QObject *parent) : QObject(parent), m_info(info) {}

bool ParseTitlesJson(const QByteArray &json, TTypedTitles &titles, QString *error)
{
    titles = TTypedTitles();
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse);
    if (!document.isObject())
        return fail(parse.error != QJsonParseError::NoError ? parse.errorString()
                                                            : QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();
    bool ok = true;
    const auto text = [&ok](const QJsonObject &from, const char *name) -> std::optional<QString> {
        const QJsonValue value = from.value(QLatin1String(name));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        if (!value.isString()) {
            ok = false;
            return std::nullopt;
        }
        return WithoutControlChars(value.toString().left(1000)).trimmed();
    };
    titles.AlbumArtist = text(object, "artist"); // lookup's "artist" is the disc's
    titles.Album = text(object, "album");
    titles.Year = text(object, "year");
    if (const auto genre = text(object, "genre"); genre && !genre->isEmpty()) {
        const int index = GenreIndex(*genre);
        if (index < 0)
            return fail(QStringLiteral("no genre \"%1\" in the list").arg(*genre));
        titles.Genre = index + 1;
    }
    const QJsonValue tracks = object.value(QLatin1String("tracks"));
    if (!tracks.isUndefined() && !tracks.isArray())
        return fail(QStringLiteral("\"tracks\" is not a list"));
    for (const QJsonValue &entry : tracks.toArray()) {
        const QJsonObject track = entry.toObject();
        const int number = track.value(QLatin1String("number")).toInt(0);
        if (!entry.isObject() || number < 1 || number > 99)
            return fail(QStringLiteral("a track without a number from 1 to 99"));
        if (const auto title = text(track, "title"))
            titles.Titles[number] = *title;
        if (const auto artist = text(track, "artist"))
            titles.TrackArtists[number] = *artist;
    }
    return ok ? true : fail(QStringLiteral("a member that is not text"));
}

void ApplyTypedTitles(TDiscModel &disc, const TTypedTitles &titles)
{
    TCDInfo &info = disc.Info();
    if (titles.AlbumArtist)
        info.Artist = *titles.AlbumArtist;
    else if (titles.Artist)
        info.Artist = *titles.Artist;
    if (titles.Album)
        info.Album = *titles.Album;
    if (titles.Year)
        info.Year = *titles.Year;
    if (titles.Genre) {
        info.Genre = *titles.Genre;
        info.GenreText.clear();
    }
    for (int row = 0; row < disc.RowCount(); ++row) {
        const int number = disc.Track(row).Number;
        if (const auto title = titles.Titles.find(number); title != titles.Titles.end())
            disc.SetTitle(row, title->second);
        if (titles.Artist && titles.AlbumArtist)
            disc.SetTrackArtist(row, *titles.Artist);
        if (const auto artist = titles.TrackArtists.find(number); artist != titles.TrackArtists.end())
            disc.SetTrackArtist(row, artist->second);
    }
}

void SetDiscCodes(TCDInfo &info, const TToc &toc, const TDiscCodes &codes)
{
    info.Mcn = codes.Mcn;
    info.McnIsBarcode = IsBarcode(codes.Mcn);
    info.Isrcs.fill(QString());
    info.PreEmphasis.fill(false);
    const int count = std::clamp(toc.lastTrack - toc.firstTrack + 1, 0, int(info.Isrcs.size()) - 1);
    for (int i = 0; i < count; ++i) {
        const TTocTrack &entry = toc.tracks[i];
        const bool audio = (entry.ADR & 0x04) == 0;
        info.PreEmphasis[size_t(i + 1)] = audio && (entry.ADR & 0x01) != 0;
        if (const auto isrc = codes.Isrcs.find(entry.trackNumber); isrc != codes.Isrcs.end())
            info.Isrcs[size_t(i + 1)] = isrc->second;
    }
}

void TDiscModel::Load(const QString &key, const QList<TDiscTrack> &tracks, const QString &cddbDiscId,
                      const QString &cddbQueryText, const std::function<TCdText()> &readCdText)
{
    m_key = key;
    const bool known = LoadDiscInfo(key, m_info);
    m_tracks = tracks;
    const TCdText cdText = !known && readCdText ? readCdText() : TCdText();
    if (!cdText.empty()) {
        m_info.Album = cdText.AlbumTitle;
        m_info.Artist = cdText.AlbumPerformer;
        for (int row = 0; row < RowCount() && row < titledRows; ++row) {
            const int number = m_tracks.at(row).Number;
            const auto title = cdText.Titles.find(number);
            m_info.Tracks[size_t(row + 1)] = title != cdText.Titles.end() ? title->second : QString();
            const auto performer = cdText.Performers.find(number);
            m_info.TrackArtists[size_t(row + 1)] =
                performer != cdText.Performers.end() && performer->second != m_info.Artist ? performer->second
                                                                                           : QString();
        }
    }
    m_info.TrackNumber = RowCount(); // what the disc has, whatever the cache said
    for (int row = 0; row < RowCount() && row < titledRows; ++row) {
        QString &title = m_info.Tracks[size_t(row + 1)];
        if (title.isEmpty())
            title = DefaultTrackTitle(row + 1);
    }
    m_cddbDiscId = cddbDiscId;
    m_cddbQueryText = cddbQueryText;
    emit RowsReset();
}

void TDiscModel::Clear()
{
    m_tracks.clear();
    m_key.clear();
    m_cddbDiscId.clear();
    m_cddbQueryText.clear();
    emit RowsReset();
}

QList<TDiscTrack> TDiscModel::TracksOfToc(const TToc &toc)
{
    QList<TDiscTrack> tracks;
    for (int t = toc.firstTrack; t <= toc.lastTrack && t - toc.firstTrack + 1 < 100; ++t) {
        const TTocTrack &e = toc.tracks[t - toc.firstTrack];
        const TTocTrack &n = toc.tracks[t - toc.firstTrack + 1];
        TDiscTrack track;
        track.Number = t;
        track.Minutes = n.addr[1] - e.addr[1];
        track.Seconds = n.addr[2] - e.addr[2];
        if (track.Seconds < 0) {
            track.Seconds += 60;
            track.Minutes -= 1;
        }
        track.Data = (e.ADR & 4) != 0;
        tracks << track;
    }
    return tracks;
}

QString TDiscModel::Title(int row) const
{
    if (row < 0 || row >= RowCount())
        return QString();
    return row < titledRows ? m_info.Tracks[size_t(row + 1)] : DefaultTrackTitle(row + 1);
}

void TDiscModel::SetTitle(int row, const QString &title)
{
    if (row < 0 || row >= RowCount() || row >= titledRows || m_info.Tracks[size_t(row + 1)] == title)
        return;
    m_info.Tracks[size_t(row + 1)] = title;
    emit TitleChanged(row);
}

TTrackNameFields TDiscModel::NameFields(int row) const
{
    TTrackNameFields fields;
    fields.Track = row + 1;
    fields.Title = Title(row);
    fields.Artist = TrackArtist(row);
    fields.AlbumArtist = m_info.Artist;
    fields.Album = m_info.Album;
    fields.Year = m_info.Year;
    fields.Genre = DiscGenre(m_info);
    return fields;
}

QString TDiscModel::TrackArtist(int row) const
{
    if (row < 0 || row + 1 >= int(m_info.TrackArtists.size()))
        return m_info.Artist;
    const QString &own = m_info.TrackArtists[size_t(row + 1)];
    return own.isEmpty() ? m_info.Artist : own;
}

void TDiscModel::SetTrackArtist(int row, const QString &artist)
{
    if (row < 0 || row + 1 >= int(m_info.TrackArtists.size()))
        return;
    m_info.TrackArtists[size_t(row + 1)] = artist == m_info.Artist ? QString() : artist;
}

bool TDiscModel::Save(QString *error)
{
    if (m_key.isEmpty())
        return false;
    m_info.TrackNumber = RowCount();
    return SaveDiscInfo(m_key, m_info, error);
}

void TDiscModel::SetIdentity(const QString &cddbDiscId, const QString &cddbQueryText)
{
    m_cddbDiscId = cddbDiscId;
    m_cddbQueryText = cddbQueryText;
}
