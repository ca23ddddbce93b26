// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdaccess.h"
#include "shell/settings.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <optional>

// The disc's own codes into its record: the catalogue number and the ISRCs read from the disc, the
// pre-emphasis flags of the table of contents; entry i + 1 is the table's track i, as for the titles.
void SetDiscCodes(TCDInfo &info, const TToc &toc, const TDiscCodes &codes);

// Titles the user typed (rip --title N=TEXT..., or a file in the shape of lookup --json): what is given
// replaces the disc's own. Track numbers are the disc's.
struct TTypedTitles {
    std::optional<QString> Artist;      // every track's, unless AlbumArtist is given too
    std::optional<QString> AlbumArtist; // the disc's
    std::optional<QString> Album;
    std::optional<QString> Year;
    std::optional<int> Genre; // a number of the genre list (GenreIndex + 1)
    std::map<int, QString> Titles;
    std::map<int, QString> TrackArtists;
    bool empty() const
    {
        return !Artist && !AlbumArtist && !Album && !Year && !Genre && Titles.empty() && TrackArtists.empty();
    }
};
// Reads titles in the shape lookup --json prints: {"artist", "album", "year", "genre", "tracks": [{"number",
// "title", "artist"}]}, every member optional; texts lose their control characters and are cut to 1,000
// characters. False, with the reason in *error, for something else (not JSON, a genre not in the list, a
// track number outside 1 to 99, a member of the wrong type).
bool ParseTitlesJson(const QByteArray &json, TTypedTitles &titles, QString *error);

// One row of the disc on display.
struct TDiscTrack {
    int Number = 0; // the disc's own track number
    int Minutes = 0;
    int Seconds = 0;
    bool Data = false;
};

// What a ripped file's name (and its tags) may be made of.
struct TTrackNameFields {
    int Track = 0;
    QString Title;
    QString Artist;      // the track's
    QString AlbumArtist; // the disc's
    QString Album;
    QString Year;
    QString Genre; // its name
};

// The disc on display: its tracks, their titles and the disc's fields (artist, album, year, genre, comment),
// and its identities (the cache key, the CDDB disc id and query text). Titles and fields live in one record,
// the TCDInfo given at construction (the program's DiscInfo), which the disc cache reads and writes; row i
// has the title of entry i + 1. The main window shows the model and edits titles through it, and the
// command-line tool reads and fills it the same way, so there is one copy of the titles.
// User-interface thread only.
class TDiscModel final : public QObject {
    Q_OBJECT
public:
    explicit TDiscModel(TCDInfo &info, QObject *parent = nullptr);

    // A disc came in: its cache entry is read (unnamed tracks are "Track01" ...), then its rows are set.
    // A disc the cache does not know yet takes its titles, album and artists from its CD-Text, read by
    // readCdText only then (reading it takes the drive a moment).
    void Load(const QString &key, const QList<TDiscTrack> &tracks, const QString &cddbDiscId = QString(),
              const QString &cddbQueryText = QString(), const std::function<TCdText()> &readCdText = {});
    // No disc: no rows (the titles stay in the record until the next disc).
    void Clear();
    // The rows of a table of contents read in MSF mode: each length is the difference of the minutes and
    // seconds of two starts (frames are ignored).
    static QList<TDiscTrack> TracksOfToc(const TToc &toc);

    int RowCount() const { return int(m_tracks.size()); }
    const TDiscTrack &Track(int row) const { return m_tracks.at(row); }
    QString Title(int row) const;
    void SetTitle(int row, const QString &title);
    // The fields of a row's track for its file name; Track is the row's place in the list counted from 1.
    TTrackNameFields NameFields(int row) const;
    // The artist of a row's track: its own on a compilation, else the disc's.
    QString TrackArtist(int row) const;
    // A track's own artist; empty (or the disc's artist) gives it the disc's again.
    void SetTrackArtist(int row, const QString &artist);
    // Writes the titles of the rows and the disc fields into the cache. False when nothing was written: no
    // disc, or the file could not be saved (*error then names it and says why; the file keeps what it held).
    bool Save(QString *error = nullptr);

    TCDInfo &Info() { return m_info; }
    const TCDInfo &Info() const { return m_info; }
    QString Key() const { return m_key; }
    QString CddbDiscId() const { return m_cddbDiscId; }
    QString CddbQueryText() const { return m_cddbQueryText; }
    void SetIdentity(const QString &cddbDiscId, const QString &cddbQueryText);

signals:
    void RowsReset();
    void TitleChanged(int row);

private:
    TCDInfo &m_info;
    QList<TDiscTrack> m_tracks;
    QString m_key;
    QString m_cddbDiscId;
    QString m_cddbQueryText;
};

// Puts them into the disc (titles and track artists by the rows' track numbers).
void ApplyTypedTitles(TDiscModel &disc, const TTypedTitles &titles);
