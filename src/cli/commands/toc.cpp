// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddb/musicbrainz.h"
#include "cdrom/discidentity.h"
#include "cdrom/discmodel.h"
#include "commands.h"
#include "jobs/ctdb.h"
#include "shell/settings.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

class TTocCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("toc"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("-d"), QStringLiteral("N|PATH")}, {QStringLiteral("--json")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{{},
                 {QStringLiteral("-d"), QStringLiteral("--json")},
                 QStringLiteral("the table of contents of drive N, or of the drive or\n"
                                "disc image at PATH (default 0; --json: as a JSON object)\n"
                                "every command's -d takes a number or a path")}};
    }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

// Each entry of the table: in JSON (returned) or, without `json`, printed a line each with its codes.
QJsonArray listTracks(const TToc &toc, const TDiscModel &disc, bool json)
{
    const TCDInfo &codes = disc.Info(); // the disc's ISRCs and pre-emphasis flags
    const int count = toc.lastTrack - toc.firstTrack + 1;
    QJsonArray tracks;
    for (int i = 0; i < count; ++i) {
        const int start = TocSector(toc, i);
        const int seconds = (TocSector(toc, i + 1) - start) / 75;
        const bool data = (toc.tracks[i].ADR & 4) != 0;
        const int track = toc.firstTrack + i;
        const QString title = disc.Title(i);
        const QString type = data ? QStringLiteral("data") : QStringLiteral("audio");
        const QString isrc = i + 1 < int(codes.Isrcs.size()) ? codes.Isrcs[size_t(i + 1)] : QString();
        const bool preemphasis = i + 1 < int(codes.PreEmphasis.size()) && codes.PreEmphasis[size_t(i + 1)];
        QJsonObject entry{{QStringLiteral("number"), track},
                          {QStringLiteral("start"), start},
                          {QStringLiteral("sectors"), TocSector(toc, i + 1) - start},
                          {QStringLiteral("type"), type},
                          {QStringLiteral("title"), title},
                          {QStringLiteral("preemphasis"), preemphasis}};
        if (!isrc.isEmpty())
            entry.insert(QStringLiteral("isrc"), isrc);
        tracks.append(entry);
        if (json)
            continue;
        PrintLine(QStringLiteral("track %1\t%2\t%3:%4\t%5\t%6")
                      .arg(track)
                      .arg(start)
                      .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                      .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                      .arg(type, title));
        if (!isrc.isEmpty())
            PrintLine(QStringLiteral("isrc %1 %2").arg(track).arg(isrc));
        if (preemphasis)
            PrintLine(QStringLiteral("pre-emphasis %1").arg(track));
    }
    return tracks;
}

int TTocCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("toc takes no arguments")};
    const int index = DriveIndexOf(args);
    TToc toc;
    TDiscModel disc(AppSettings.DiscInfo);
    QString key;        // of this drive's own disc
    int32_t hidden = 0; // sectors of audio hidden before track 1
    {
        const TDriveHandle handle = OpenDriveWithToc(index, toc, terminal);
        if (!handle)
            return 1;
        LoadDisc(disc, toc, handle.get());
        key = DiscKeyOfDrive(CdHandlePath(handle.get()));
        hidden = HiddenTrackSectors(handle.get());
    }
    const TCDInfo &codes = disc.Info(); // the disc's catalogue number, ISRCs and pre-emphasis flags
    const bool json = args.flag("--json");
    if (!json) {
        PrintLine(QStringLiteral("first %1").arg(toc.firstTrack));
        PrintLine(QStringLiteral("last %1").arg(toc.lastTrack));
    }
    const int count = toc.lastTrack - toc.firstTrack + 1;
    const QJsonArray tracks = listTracks(toc, disc, json);
    QString musicBrainzId, tocText;
    const bool hasMusicBrainzId = MusicBrainzIdentityOfToc(toc, musicBrainzId, tocText);
    const QString ctdbId = CtdbTocId(toc);
    if (json) {
        QJsonObject object{{QStringLiteral("first"), int(toc.firstTrack)},
                           {QStringLiteral("last"), int(toc.lastTrack)},
                           {QStringLiteral("tracks"), tracks},
                           {QStringLiteral("leadout"), TocSector(toc, count)},
                           {QStringLiteral("cddb_id"), disc.CddbDiscId()},
                           {QStringLiteral("disc_key"), key}};
        if (hasMusicBrainzId)
            object.insert(QStringLiteral("musicbrainz_id"), musicBrainzId);
        if (!ctdbId.isEmpty())
            object.insert(QStringLiteral("ctdb_id"), ctdbId);
        if (!codes.Mcn.isEmpty())
            object.insert(QStringLiteral("mcn"), codes.Mcn);
        if (hidden > 0)
            object.insert(QStringLiteral("hidden_track_sectors"), hidden);
        PrintJson(object);
        return 0;
    }
    PrintLine(QStringLiteral("leadout %1").arg(TocSector(toc, count)));
    PrintLine(QStringLiteral("cddb-id %1").arg(disc.CddbDiscId()));
    if (hasMusicBrainzId)
        PrintLine(QStringLiteral("musicbrainz-id %1").arg(musicBrainzId));
    if (!ctdbId.isEmpty())
        PrintLine(QStringLiteral("ctdb-id %1").arg(ctdbId));
    PrintLine(QStringLiteral("disc-key %1").arg(key));
    if (!codes.Mcn.isEmpty())
        PrintLine(QStringLiteral("mcn %1").arg(codes.Mcn));
    if (hidden > 0) // audio before track 1 that rip --htoa takes as track 0
        PrintLine(QStringLiteral("hidden-track %1").arg(hidden));
    return 0;
}

} // namespace

std::unique_ptr<TCommand> MakeTocCommand()
{
    return std::make_unique<TTocCommand>();
}
