// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

struct TToc;
class TStopFlag;

// Titles from MusicBrainz: the disc id as MusicBrainz defines it (computed by libdiscid), the web service's
// answers read as JSON, and a lookup that falls back to a fuzzy match by table of contents.

// The MusicBrainz disc id and TOC text ("1 6 95462 150 15363 ...") of a disc: first and last audio track
// and the sector offsets counted from the disc's start plus 150, lead-out first (offsets[0]). False when
// the values are no table of contents libdiscid takes.
bool MusicBrainzIdentityOf(int first, int last, const std::vector<int> &offsets, QString &id,
                           QString &tocText);
// The same for a table of contents read in MSF addressing; trailing data tracks are left out, as
// MusicBrainz counts only the audio session.
bool MusicBrainzIdentityOfToc(const TToc &toc, QString &id, QString &tocText);

// One release that holds the disc, with the medium that matches it.
struct TMusicBrainzRelease {
    QString Id; // the release's MBID
    QString Title;
    QString Artist; // the release's artist credit, as it reads ("A feat. B")
    QString Date;
    QString Country;
    QString Format; // of the matching medium ("CD")
    QStringList TrackTitles;
    QStringList TrackArtists; // each track's artist credit
};

// Reads an answer of /ws/2/discid (by id or by toc). For each release the medium is the one that lists the
// disc id, else the first with that many tracks, else the first. False, with the reason in *error, when
// the answer is no JSON object of that kind; a valid answer without releases is true with none.
bool ParseMusicBrainzAnswer(const QByteArray &json, const QString &discId, int trackCount,
                            std::vector<TMusicBrainzRelease> &releases, QString *error = nullptr);

struct TMusicBrainzRequest {
    QString BaseUrl = QStringLiteral("https://musicbrainz.org"); // the service, or a mirror
    QString DiscId;
    QString TocText;
    int TrackCount = 0;
    int TimeoutSeconds = 30;
    const TStopFlag *Cancel = nullptr;
};

// Looks the disc up: by its id, and when the service does not know the id, by its table of contents (a
// fuzzy match). At most one request a second leaves this program; a server that says it is busy (503) is
// asked once more after the wait it names (at most 10 seconds). True with the releases found (none is no
// failure); false with a message that says what went wrong.
bool MusicBrainzLookup(const TMusicBrainzRequest &request, std::vector<TMusicBrainzRelease> &releases,
                       QString *error);

// The largest cover image taken (CoverImageProblem, coverimage.h, says why bytes are no cover to keep).
constexpr qsizetype MaxCoverBytes = 20 << 20;

// Fetches the front image of a release (500 pixels) from the Cover Art Archive at `base` into the cover
// cache (CoverCachePath), written under a working name. True when the cache holds it afterwards (a cover
// already there counts). A release without cover art is false with an empty *error; a failure says why.
bool FetchCoverArt(const QString &base, const QString &releaseId, QString *error = nullptr,
                   const TStopFlag *cancel = nullptr);

// The User-Agent the program's MusicBrainz requests carry.
QString MusicBrainzUserAgent();
