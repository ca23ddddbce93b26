// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddb/cddbinfo.h"
#include "cddb/cddblookup.h"
#include "cddb/musicbrainz.h"
#include "cdrom/discidentity.h"
#include "cdrom/discmodel.h"
#include "commands.h"
#include "shell/discinfo.h"
#include "shell/genres.h"
#include "shell/settings.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>

namespace {

enum class Answer { Text, Json, None };

// Prints what a lookup found (unless asked for no answer) and keeps it in the disc information cache.
int storeLookup(const TToc &toc, const QString &key, const TCddbLookupResult &result, TTerminal &terminal,
                Answer answer)
{
    const bool json = answer == Answer::Json;
    TDiscModel disc(AppSettings.DiscInfo);
    LoadDisc(disc, toc, 0, key);
    ApplyCddbDiscFields(result, AppSettings.DiscInfo);
    for (const auto &[row, title] : result.Titles)
        disc.SetTitle(row, title);
    const TCDInfo &info = disc.Info();
    if (answer == Answer::None) {
        // nothing printed: the caller goes on with the titles
    } else if (json) {
        QJsonArray tracks;
        for (int row = 0; row < disc.RowCount(); ++row)
            tracks.append(QJsonObject{{QStringLiteral("number"), disc.Track(row).Number},
                                      {QStringLiteral("title"), disc.Title(row)},
                                      {QStringLiteral("artist"), disc.TrackArtist(row)}});
        QJsonObject object{{QStringLiteral("artist"), info.Artist},
                           {QStringLiteral("album"), info.Album},
                           {QStringLiteral("year"), info.Year},
                           {QStringLiteral("genre"), DiscGenre(info)},
                           {QStringLiteral("tracks"), tracks}};
        if (!info.MusicBrainzRelease.isEmpty())
            object.insert(QStringLiteral("musicbrainz_release"), info.MusicBrainzRelease);
        PrintJson(object);
    }
    if (answer == Answer::Text)
        PrintLine(QStringLiteral("artist: ") + info.Artist);
    for (const auto &[name, value] : {std::pair{"album: ", info.Album}, std::pair{"year: ", info.Year},
                                      std::pair{"genre: ", DiscGenre(info)},
                                      std::pair{"musicbrainz-release: ", info.MusicBrainzRelease}}) {
        if (answer == Answer::Text &&
            (!value.isEmpty() || QLatin1String(name) != QLatin1String("musicbrainz-release: ")))
            PrintLine(QLatin1String(name) + value);
    }
    for (int row = 0; row < disc.RowCount() && answer == Answer::Text; ++row) {
        PrintLine(QStringLiteral("track %1\t%2").arg(disc.Track(row).Number).arg(disc.Title(row)));
        if (disc.TrackArtist(row) != info.Artist)
            PrintLine(QStringLiteral("artist %1\t%2").arg(disc.Track(row).Number).arg(disc.TrackArtist(row)));
    }
    QString saveError;
    if (!disc.Save(&saveError)) {
        terminal.Failure(QStringLiteral("the titles could not be stored in the disc information cache: ") +
                         saveError);
        return 1;
    }
    return 0;
}

// The disc's own CD-Text as the titles; false (told) when it carries none.
bool fromCdText(const TToc &toc, HCDROM handle, TCddbLookupResult &result, TTerminal &terminal)
{
    const int rows = toc.lastTrack - toc.firstTrack + 1;
    TCdText text;
    ReadCdText(handle, text);
    if (text.empty()) {
        terminal.Notice(QStringLiteral("the disc carries no CD-Text"));
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
                     const TToc &toc, TCddbLookupResult &result, TTerminal &terminal)
{
    const int rows = toc.lastTrack - toc.firstTrack + 1;
    TMusicBrainzRequest request;
    request.BaseUrl = server.value_or(AppSettings.QueryCDDB.MusicBrainzServer);
    request.TrackCount = rows;
    if (!MusicBrainzIdentityOfToc(toc, request.DiscId, request.TocText)) {
        terminal.Failure(QStringLiteral("this table of contents has no MusicBrainz disc id"));
        return false;
    }
    terminal.Line(QStringLiteral("Looking up %1 on %2").arg(request.DiscId, request.BaseUrl));
    std::vector<TMusicBrainzRelease> releases;
    QString error;
    if (!MusicBrainzLookup(request, releases, &error)) {
        terminal.Failure(error);
        return false;
    }
    if (releases.empty()) {
        terminal.Notice(QStringLiteral("MusicBrainz knows no release with this disc"));
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
            terminal.Failure(QStringLiteral("no release %1 among the %2 MusicBrainz has for this disc")
                                 .arg(*chosen)
                                 .arg(releases.size()));
            return false;
        }
    }
    if (releases.size() > 1)
        for (size_t i = 0; i < releases.size(); ++i)
            terminal.Notice(QStringLiteral("%1 release %2: %3 - %4 (%5 %6 %7, %8)%9")
                                .arg(i == taken ? QStringLiteral("*") : QStringLiteral(" "))
                                .arg(i + 1)
                                .arg(releases[i].Artist, releases[i].Title, releases[i].Date,
                                     releases[i].Country, releases[i].Format, releases[i].Id)
                                .arg(i == taken && !chosen
                                         ? QStringLiteral(" (choose another with --release N)")
                                         : QString()));
    std::swap(releases[0], releases[taken]);
    TakeMusicBrainzRelease(releases.front(), rows, result);
    const TQueryCDDB &q = AppSettings.QueryCDDB;
    if (q.SaveCover || q.EmbedCover) {
        QString coverError;
        if (FetchCoverArt(q.CoverArtServer, releases.front().Id, &coverError))
            terminal.Notice(QStringLiteral("cover: ") + CoverCachePath(releases.front().Id)); // not an answer
        else if (!coverError.isEmpty())
            terminal.Notice(coverError); // the titles stand without it
    }
    return true;
}

// CDDB through the route of tagEncoding (or the settings' when it is -1), at the server given or the
// settings' one; false (told) when it found nothing.
bool fromCddb(const std::optional<QString> &server, int tagEncoding, const TToc &toc, HCDROM handle,
              TCddbLookupResult &result, TTerminal &terminal)
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
    terminal.Line(QStringLiteral("Looking up %1 on %2").arg(request.DiscId, address));
    TCdError error;
    const int code = RunCddbLookup(request, result, &error, nullptr);
    if (!result.Refusal.isEmpty() && result.Titles.empty()) {
        terminal.Failure(
            QStringLiteral("the CDDB server %1 refused the lookup: %2").arg(address, result.Refusal));
        return false;
    }
    if (error.code == CDERR_CDDB_ANSWER) { // not a "no match" either: what came was no CDDB answer
        terminal.Failure(QStringLiteral("the CDDB server %1 sent an answer that could not be read: %2")
                             .arg(address, error.text));
        return false;
    }
    if (error.code == CDERR_CDDB_NETWORK) { // not a "no match": the server never answered
        const QString reason = error.text;
        terminal.Failure(QStringLiteral("cannot reach the CDDB server %1: %2")
                             .arg(address, reason.isEmpty() ? QStringLiteral("no answer") : reason));
        return false;
    }
    if (code == CDDBQUERY_NO_MATCH || (result.Titles.empty() && !result.Album)) {
        terminal.Failure(
            QStringLiteral("no match found (no such disc on the server, wrong settings, or no network)"));
        return false;
    }
    return true;
}

// A lookup's source: "cdtext", "musicbrainz" or "cddb"; false (with the reason told) when it found nothing.
bool lookupAt(const QString &source, const std::optional<QString> &server,
              const std::optional<QString> &release, int tagEncoding, const TToc &toc, HCDROM handle,
              TCddbLookupResult &result, TTerminal &terminal)
{
    if (source == QLatin1String("cdtext"))
        return fromCdText(toc, handle, result, terminal);
    if (source == QLatin1String("musicbrainz"))
        return fromMusicBrainz(server, release, toc, result, terminal);
    return fromCddb(server, tagEncoding, toc, handle, result, terminal);
}

// Tries the sources in order on drive -d until one finds titles, then prints and keeps them. tagEncoding
// chooses CDDB's route (-1: the settings').
int lookUp(const TArguments &args, const QStringList &sources, int tagEncoding, TTerminal &terminal)
{
    const int index = DriveIndexOf(args);
    TToc toc;
    TDriveHandle handle = OpenDriveWithToc(index, toc, terminal);
    if (!handle)
        return 1;
    TCddbLookupResult result;
    bool found = false;
    for (const QString &source : sources) {
        result = TCddbLookupResult();
        if ((found = lookupAt(source, args.value("--server"), args.value("--release"), tagEncoding, toc,
                              handle.get(), result, terminal)))
            break;
    }
    const QString key = DiscKeyOfDrive(CdHandlePath(handle.get()));
    handle.reset();
    if (!found) {
        if (terminal.Failures == 0)
            terminal.Failure(QStringLiteral("no titles found for this disc"));
        return 1;
    }
    // A source that failed before the one that found the titles is no failure of the command.
    terminal.Failures = 0;
    return storeLookup(toc, key, result, terminal, args.flag("--json") ? Answer::Json : Answer::Text);
}

// The sources of an automatic lookup by the settings' order: MusicBrainz and CDDB, or one of them.
QStringList networkSources()
{
    QStringList sources;
    const int order = AppSettings.QueryCDDB.LookupOrder;
    if (order != 2)
        sources << QStringLiteral("musicbrainz");
    if (order != 1)
        sources << QStringLiteral("cddb");
    return sources;
}

class TCddbCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("cddb"); }
    QString Help() const override
    {
        return QStringLiteral(
            "  cddb     [-d N|PATH] [--server HOST|URL] [--route component|library] [--json]\n"
            "                                 looks the disc of drive N up on a CDDB server (default: the\n"
            "                                 settings'), through the CDDB component or the CD library "
            "route,\n"
            "                                 prints the titles (--json: as a JSON object) and keeps them\n");
    }
    QStringList Flags() const override { return {QStringLiteral("--json")}; }
    QStringList Valued() const override
    {
        return {QStringLiteral("-d"), QStringLiteral("--server"), QStringLiteral("--route")};
    }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

int TCddbCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("cddb takes no arguments besides its options")};
    const QString route = args.value("--route").value_or(QStringLiteral("component"));
    if (route != QLatin1String("component") && route != QLatin1String("library"))
        throw UsageError{QStringLiteral("--route is component or library")};
    return lookUp(args, {QStringLiteral("cddb")}, route == QLatin1String("component") ? 0 : 1, terminal);
}

class TLookupCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("lookup"); }
    QString Help() const override
    {
        return QStringLiteral(
            "  lookup   [-d N|PATH] [--source musicbrainz|cddb|cdtext|auto] [--server URL] [--release "
            "N|MBID]\n"
            "           [--json]\n"
            "                                 titles from MusicBrainz, CDDB or the disc's CD-Text (auto: "
            "the\n"
            "                                 order of the settings, MusicBrainz first, CD-Text last), "
            "printed\n"
            "                                 and kept like cddb's; --release chooses among MusicBrainz's\n"
            "                                 releases of the disc (its number in the list, or its id)\n");
    }
    QStringList Flags() const override { return {QStringLiteral("--json")}; }
    QStringList Valued() const override
    {
        return {QStringLiteral("-d"), QStringLiteral("--source"), QStringLiteral("--server"),
                QStringLiteral("--release")};
    }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

int TLookupCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("lookup takes no arguments besides its options")};
    const QString source = args.value("--source").value_or(QStringLiteral("auto"));
    QStringList sources;
    if (source == QLatin1String("auto")) {
        sources = networkSources();
        // One address cannot serve both network sources.
        if (args.value("--server") && sources.size() > 1)
            throw UsageError{QStringLiteral("--server needs --source musicbrainz or --source cddb")};
        sources << QStringLiteral("cdtext"); // what the disc itself says, last
    } else if (source == QLatin1String("musicbrainz") || source == QLatin1String("cddb") ||
               source == QLatin1String("cdtext")) {
        sources << source;
    } else {
        throw UsageError{QStringLiteral("--source is musicbrainz, cddb, cdtext or auto")};
    }
    return lookUp(args, sources, -1, terminal);
}

} // namespace

bool IsRipLookupMode(const QString &mode)
{
    return QStringList{"auto", "cache", "cdtext", "musicbrainz", "cddb", "none"}.contains(mode);
}

QString LookUpForRip(const QString &mode, const std::optional<QString> &release, const TToc &toc,
                     HCDROM handle, TTerminal &terminal)
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
        sources = QStringList{QStringLiteral("cdtext")} + networkSources();
    } else if (mode != QLatin1String("cache") && mode != QLatin1String("none")) {
        sources << mode;
    }
    if (sources.isEmpty())
        return known && mode == QLatin1String("cache") ? QStringLiteral("cache") : QString();
    // What the sources say on the way is told, but a lookup that finds nothing fails no rip: its tracks keep
    // the names they have.
    const int failures = terminal.Failures;
    TCddbLookupResult result;
    bool found = false;
    QString foundAt;
    for (const QString &source : sources) {
        result = TCddbLookupResult();
        if ((found = lookupAt(source, std::nullopt, release, -1, toc, handle, result, terminal))) {
            foundAt = source;
            break;
        }
    }
    terminal.Failures = failures;
    if (!found) {
        terminal.Notice(QStringLiteral("no titles found for this disc; its tracks keep the names they have"));
        return QString();
    }
    if (storeLookup(toc, key, result, terminal, Answer::None) != 0) {
        terminal.Failures = failures; // the rip goes on with the titles it has
        return QString();
    }
    return foundAt;
}

std::unique_ptr<TCommand> MakeCddbCommand()
{
    return std::make_unique<TCddbCommand>();
}

std::unique_ptr<TCommand> MakeLookupCommand()
{
    return std::make_unique<TLookupCommand>();
}
