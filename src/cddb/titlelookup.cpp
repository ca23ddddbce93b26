// SPDX-License-Identifier: GPL-3.0-or-later
#include "titlelookup.h"

#include "cddbinfo.h"
#include "cddblookup.h"
#include "cdrom/discidentity.h"
#include "cdrom/discmodel.h"
#include "musicbrainz.h"
#include "shell/discinfo.h"
#include "shell/settings.h"
#include "shell/trace.h"

#include <algorithm>

namespace {

// The disc's own CD-Text as the titles; false (told) when it carries none.
bool fromCdText(const TToc &toc, TCdHandle handle, TCddbLookupResult &result, TLookupView &view)
{
    const int rows = toc.lastTrack - toc.firstTrack + 1;
    TCdText text;
    ReadCdText(handle, text);
    if (text.empty()) {
        view.Notice(QStringLiteral("the disc carries no CD-Text"));
        return false;
    }
    for (int row = 0; row < rows; ++row) {
        const int track = toc.firstTrack + row;
        if (const auto t = text.Titles.find(track); t != text.Titles.end())
            result.Titles[row] = t->second;
        if (const auto p = text.Performers.find(track);
            p != text.Performers.end() && p->second != text.AlbumPerformer)
            result.TrackArtists[row] = p->second;
    }
    result.Artist = text.AlbumPerformer;
    result.Album = text.AlbumTitle;
    return true;
}

// MusicBrainz at the server given or the settings' one, the release chosen (its MBID or its number in the
// answer, from 1; the first when none is chosen); false (told) when it found nothing or no such release.
bool fromMusicBrainz(const std::optional<QString> &server, const std::optional<QString> &chosen,
                     const TToc &toc, TCddbLookupResult &result, TLookupView &view)
{
    const int rows = toc.lastTrack - toc.firstTrack + 1;
    TMusicBrainzRequest request;
    request.BaseUrl = server.value_or(AppSettings.QueryCDDB.MusicBrainzServer);
    request.TrackCount = rows;
    if (!MusicBrainzIdentityOfToc(toc, request.DiscId, request.TocText)) {
        view.Failure(QStringLiteral("this table of contents has no MusicBrainz disc id"));
        return false;
    }
    view.Step(QStringLiteral("Looking up %1 on %2").arg(request.DiscId, request.BaseUrl));
    std::vector<TMusicBrainzRelease> releases;
    QString error;
    if (!MusicBrainzLookup(request, releases, &error)) {
        view.Failure(error);
        return false;
    }
    if (releases.empty()) {
        view.Notice(QStringLiteral("MusicBrainz knows no release with this disc"));
        return false;
    }
    // Several releases hold the disc: the one chosen, or the first, is taken; each is named with its number.
    size_t taken = 0;
    if (chosen) {
        bool isNumber = false;
        const int number = chosen->toInt(&isNumber);
        const auto byId = std::find_if(releases.begin(), releases.end(), [&](const TMusicBrainzRelease &r) {
            return r.Id == chosen->trimmed();
        });
        taken = isNumber ? size_t(number - 1) : size_t(byId - releases.begin());
        if ((isNumber && number < 1) || taken >= releases.size()) {
            view.Failure(QStringLiteral("no release %1 among the %2 MusicBrainz has for this disc")
                             .arg(*chosen)
                             .arg(releases.size()));
            return false;
        }
    }
    if (releases.size() > 1)
        for (size_t i = 0; i < releases.size(); ++i)
            view.Notice(QStringLiteral("%1 release %2: %3 - %4 (%5 %6 %7, %8)%9")
                            .arg(i == taken ? QStringLiteral("*") : QStringLiteral(" "))
                            .arg(i + 1)
                            .arg(releases[i].Artist, releases[i].Title, releases[i].Date, releases[i].Country,
                                 releases[i].Format, releases[i].Id)
                            .arg(i == taken && !chosen ? QStringLiteral(" (choose another with --release N)")
                                                       : QString()));
    std::swap(releases[0], releases[taken]);
    TakeMusicBrainzRelease(releases.front(), rows, result);
    const TQueryCDDB &q = AppSettings.QueryCDDB;
    if (q.SaveCover || q.EmbedCover) {
        QString coverError;
        if (FetchCoverArt(q.CoverArtServer, releases.front().Id, &coverError))
            view.Notice(QStringLiteral("cover: ") + CoverCachePath(releases.front().Id)); // not an answer
        else if (!coverError.isEmpty())
            view.Notice(coverError); // the titles stand without it
    }
    return true;
}

// CDDB through the route of tagEncoding (or the settings' when it is -1), at the server given or the
// settings' one; false (told) when it found nothing.
bool fromCddb(const std::optional<QString> &server, int tagEncoding, const TToc &toc, TCdHandle handle,
              TCddbLookupResult &result, TLookupView &view)
{
    const int rows = toc.lastTrack - toc.firstTrack + 1;
    TQueryCDDB query = AppSettings.QueryCDDB;
    if (server)
        query.Server = *server;
    if (tagEncoding >= 0)
        query.TagEncoding = tagEncoding;
    TCddbLookupRequest request;
    request.FirstTrack = toc.firstTrack;
    request.LastTrack = toc.lastTrack;
    request.DriveHandle = handle;
    request.RowCount = rows;
    CddbIdentityOfToc(toc, request.DiscId, request.QueryText);
    request.Settings = query;
    const QString address = request.Settings.Server;
    request.ComponentServer = address.contains(QStringLiteral("http")) ? address : TCDDBInfo::DefaultServer();
    request.ComponentEmail = TCDDBInfo::DefaultEmail();
    view.Step(QStringLiteral("Looking up %1 on %2").arg(request.DiscId, address));
    TCdError error;
    const int code = RunCddbLookup(request, result, &error, nullptr);
    if (!result.Refusal.isEmpty() && result.Titles.empty()) {
        view.Failure(
            QStringLiteral("the CDDB server %1 refused the lookup: %2").arg(address, result.Refusal));
        return false;
    }
    if (error.code == CDERR_CDDB_ANSWER) { // not a "no match" either: what came was no CDDB answer
        view.Failure(QStringLiteral("the CDDB server %1 sent an answer that could not be read: %2")
                         .arg(address, error.text));
        return false;
    }
    if (error.code == CDERR_CDDB_NETWORK) { // not a "no match": the server never answered
        const QString reason = error.text;
        view.Failure(QStringLiteral("cannot reach the CDDB server %1: %2")
                         .arg(address, reason.isEmpty() ? QStringLiteral("no answer") : reason));
        return false;
    }
    if (code == CDDBQUERY_NO_MATCH || (result.Titles.empty() && !result.Album)) {
        view.Failure(
            QStringLiteral("no match found (no such disc on the server, wrong settings, or no network)"));
        return false;
    }
    return true;
}

} // namespace

// A lookup's source: "cdtext", "musicbrainz" or "cddb"; false (with the reason told) when it found nothing.
bool LookUpAt(const QString &source, const TLookupSource &where, const TToc &toc, TCdHandle handle,
              TCddbLookupResult &result, TLookupView &view)
{
    const auto &[server, release, tagEncoding] = where;
    if (source == QLatin1String("cdtext"))
        return fromCdText(toc, handle, result, view);
    if (source == QLatin1String("musicbrainz"))
        return fromMusicBrainz(server, release, toc, result, view);
    return fromCddb(server, tagEncoding, toc, handle, result, view);
}

// The sources of an automatic lookup by the settings' order: MusicBrainz and CDDB, or one of them.
QStringList NetworkLookupSources()
{
    QStringList sources;
    const int order = AppSettings.QueryCDDB.LookupOrder;
    if (order != 2)
        sources << QStringLiteral("musicbrainz");
    if (order != 1)
        sources << QStringLiteral("cddb");
    return sources;
}

void LoadDisc(TDiscModel &disc, const TToc &toc, TCdHandle handle, const QString &key)
{
    QString id;
    QString query;
    CddbIdentityOfToc(toc, id, query);
    Trace(1, QStringLiteral("disc ids: CDDB %1, cache key %2")
                 .arg(id, key.isEmpty() ? DiscKeyOfDrive(CdHandlePath(handle)) : key));
    disc.Load(key.isEmpty() ? DiscKeyOfDrive(CdHandlePath(handle)) : key, TDiscModel::TracksOfToc(toc), id,
              query, [handle] {
                  TCdText text;
                  if (handle)
                      ReadCdText(handle, text);
                  return text;
              });
    TDiscCodes codes;
    if (handle)
        ReadDiscCodes(handle, codes);
    SetDiscCodes(disc.Info(), toc, codes);
}

bool StoreTitles(const TToc &toc, const QString &key, const TCddbLookupResult &result, TDiscModel &disc,
                 QString *error)
{
    LoadDisc(disc, toc, 0, key);
    ApplyCddbDiscFields(result, disc.Info());
    for (const auto &[row, title] : result.Titles)
        disc.SetTitle(row, title);
    if (disc.Save(error))
        return true;
    if (error)
        *error = QStringLiteral("the titles could not be stored in the disc information cache: ") + *error;
    return false;
}

bool IsRipLookupMode(const QString &mode)
{
    return QStringList{"auto", "cache", "cdtext", "musicbrainz", "cddb", "none"}.contains(mode);
}

QString LookUpForRip(const QString &mode, const std::optional<QString> &release, const TToc &toc,
                     TCdHandle handle, TLookupView &view)
{
    const QString key = DiscKeyOfDrive(CdHandlePath(handle));
    TCDInfo cached;
    const bool known = LoadDiscInfo(key, cached);
    QStringList sources;
    if (mode == QLatin1String("auto")) {
        // A disc the cache knows keeps its titles (the user's own edits among them); then what the disc
        // itself says; then the network.
        if (known)
            return QStringLiteral("cache");
        sources = QStringList{QStringLiteral("cdtext")} + NetworkLookupSources();
    } else if (mode != QLatin1String("cache") && mode != QLatin1String("none")) {
        sources << mode;
    }
    if (sources.isEmpty())
        return known && mode == QLatin1String("cache") ? QStringLiteral("cache") : QString();
    // What the sources say on the way is told, but a lookup that finds nothing fails no rip: its tracks keep
    // the names they have.
    TCddbLookupResult result;
    bool found = false;
    QString foundAt;
    for (const QString &source : sources) {
        result = TCddbLookupResult();
        if ((found = LookUpAt(source, TLookupSource{std::nullopt, release, -1}, toc, handle, result, view))) {
            foundAt = source;
            break;
        }
    }
    if (!found) {
        view.Notice(QStringLiteral("no titles found for this disc; its tracks keep the names they have"));
        return QString();
    }
    TCDInfo info;
    TDiscModel disc(info);
    if (QString error; !StoreTitles(toc, key, result, disc, &error)) {
        view.Failure(error); // the rip goes on with the titles it has
        return QString();
    }
    return foundAt;
}
