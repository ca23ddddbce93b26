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

// Keeps what a lookup found in the disc information cache and prints it (unless asked for no answer).
int storeLookup(const TToc &toc, const QString &key, const TCddbLookupResult &result, TTerminal &terminal,
                Answer answer)
{
    const bool json = answer == Answer::Json;
    TDiscModel disc(AppSettings.DiscInfo);
    QString saveError;
    const bool stored = StoreTitles(toc, key, result, disc, &saveError);
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
    if (!stored) {
        terminal.Failure(saveError);
        return 1;
    }
    return 0;
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
    TTerminalLookupView view(terminal);
    bool found = false;
    for (const QString &source : sources) {
        result = TCddbLookupResult();
        if ((found =
                 LookUpAt(source, TLookupSource{args.value("--server"), args.value("--release"), tagEncoding},
                          toc, handle.get(), result, view)))
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

class TCddbCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("cddb"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("-d"), QStringLiteral("N|PATH")},
                {QStringLiteral("--server"), QStringLiteral("HOST|URL")},
                {QStringLiteral("--route"), QStringLiteral("component|library")},
                {QStringLiteral("--json")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{{},
                 {QStringLiteral("-d"), QStringLiteral("--server"), QStringLiteral("--route"),
                  QStringLiteral("--json")},
                 QStringLiteral("looks the disc of drive N up on a CDDB server (default: the\n"
                                "settings'), through the CDDB component or the CD library route,\n"
                                "prints the titles (--json: as a JSON object) and keeps them")}};
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
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("-d"), QStringLiteral("N|PATH")},
                {QStringLiteral("--source"), QStringLiteral("musicbrainz|cddb|cdtext|auto")},
                {QStringLiteral("--server"), QStringLiteral("URL")},
                {QStringLiteral("--release"), QStringLiteral("N|MBID")},
                {QStringLiteral("--json")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{{},
                 {QStringLiteral("-d"), QStringLiteral("--source"), QStringLiteral("--server"),
                  QStringLiteral("--release"), QStringLiteral("--json")},
                 QStringLiteral("titles from MusicBrainz, CDDB or the disc's CD-Text (auto: the\n"
                                "order of the settings, MusicBrainz first, CD-Text last), printed\n"
                                "and kept like cddb's; --release chooses among MusicBrainz's\n"
                                "releases of the disc (its number in the list, or its id)")}};
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
        sources = NetworkLookupSources();
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

QString LookUpForRip(const QString &mode, const std::optional<QString> &release, const TToc &toc,
                     TCdHandle handle, TTerminal &terminal)
{
    // What the sources say on the way is told, but a lookup that finds nothing fails no rip: its tracks keep
    // the names they have.
    const int failures = terminal.Failures;
    TTerminalLookupView view(terminal);
    const QString source = LookUpForRip(mode, release, toc, handle, view);
    terminal.Failures = failures;
    return source;
}

std::unique_ptr<TCommand> MakeCddbCommand()
{
    return std::make_unique<TCddbCommand>();
}

std::unique_ptr<TCommand> MakeLookupCommand()
{
    return std::make_unique<TLookupCommand>();
}
