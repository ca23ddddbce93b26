// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/cddrivelist.h"
#include "commands.h"
#include "jobs/accuraterip.h"
#include "jobs/offsetfind.h"
#include "shell/settings.h"

#include <QJsonObject>
#include <atomic>

namespace {

constexpr int searchMargin = 3000; // samples either way

class TOffsetCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("offset"); }
    QString Help() const override
    {
        return QStringLiteral(
            "  offset   find [-d N|PATH] [--accuraterip-server URL] [--json]\n"
            "                                 finds the drive's read offset correction with a disc the\n"
            "                                 AccurateRip database knows (within 3000 samples, confidence 2\n"
            "                                 or more) and saves it for the drive; later rips use it\n"
            "                                 unless --offset is given\n");
    }
    QStringList Flags() const override { return {QStringLiteral("--json")}; }
    QStringList Valued() const override
    {
        return {QStringLiteral("-d"), QStringLiteral("--accuraterip-server")};
    }
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

// The disc's audio tracks by their place on the disc, the ones between others first (the first and last
// tracks' checksums leave out their ends).
QList<int> tracksToTry(const TToc &toc)
{
    QList<int> middle, ends;
    const int count = toc.lastTrack - toc.firstTrack + 1;
    for (int i = 0; i < count; ++i) {
        if ((toc.tracks[i].ADR & 4) != 0)
            continue;
        const bool edge = i == 0 || i == count - 1 || (toc.tracks[i + 1].ADR & 4) != 0;
        (edge ? ends : middle) << i;
    }
    return middle + ends;
}

int TOffsetCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (args.rest() != QStringList{QStringLiteral("find")})
        throw UsageError{QStringLiteral("offset takes one action: find")};
    const int index = DriveIndexOf(args);
    TToc toc;
    const TDriveHandle handle = OpenDriveWithToc(index, toc, terminal);
    if (!handle)
        return 1;
    const QList<CdDriveEntry> drives = CdDriveList();
    const CdDriveEntry drive = drives.value(index);
    const QString key = DriveOffsetKey(drive.vendor, drive.product, drive.revision);
    const QString server =
        args.value("--accuraterip-server").value_or(AppSettings.CommonOptions.AccurateRipServer);
    const TAccurateRipDisc disc = AccurateRipDiscOfToc(toc);
    std::atomic<bool> stop{false};
    const TStopOnInterrupt interrupt([&stop] { stop = true; });
    std::vector<TAccurateRipBlock> blocks;
    QString error;
    terminal.Line(QStringLiteral("Asking the AccurateRip database at %1").arg(server));
    if (!FetchAccurateRip(server, disc, blocks, &error, &stop)) {
        terminal.Failure(QStringLiteral("cannot ask the AccurateRip database at %1: %2").arg(server, error));
        return 1;
    }
    if (blocks.empty()) {
        terminal.Failure(QStringLiteral("the AccurateRip database does not know this disc; try another one"));
        return 1;
    }
    const int count = toc.lastTrack - toc.firstTrack + 1;
    const int32_t first = TocSector(toc, 0);
    const int32_t discEnd = TocSector(toc, count) - first;
    for (const int entry : tracksToTry(toc)) {
        const int place = entry + 1;
        const auto audioIndex =
            std::find(disc.Places.begin(), disc.Places.end(), place) - disc.Places.begin();
        const int32_t start = TocSector(toc, entry) - first;
        const int32_t sectors = TocSector(toc, entry + 1) - first - start;
        terminal.Line(
            QStringLiteral("Reading track %1 with %2 samples either side").arg(place).arg(searchMargin));
        QByteArray audio;
        if (!ReadTrackWithMargin(handle.get(), start, sectors, discEnd, searchMargin, audio, &error, &stop)) {
            if (stop)
                return 130;
            terminal.Failure(QStringLiteral("cannot read track %1: %2").arg(place).arg(error));
            return 1;
        }
        const bool firstTrack = audioIndex == 0;
        const bool lastTrack = audioIndex + 1 == qsizetype(disc.Places.size());
        const std::optional<TOffsetMatch> match =
            FindReadOffset(audio, int64_t(sectors) * 588, searchMargin, firstTrack, lastTrack, blocks, disc,
                           int(audioIndex) + 1);
        if (!match)
            continue;
        const bool saved = !key.isEmpty() && SaveDriveOffset(key, match->Offset, &error);
        if (!saved)
            terminal.Failure(QStringLiteral("the offset could not be saved for %1: %2").arg(key, error));
        if (args.flag("--json"))
            PrintJson(QJsonObject{{QStringLiteral("offset"), match->Offset},
                                  {QStringLiteral("track"), place},
                                  {QStringLiteral("confidence"), match->Confidence},
                                  {QStringLiteral("checksum"), match->V2 ? "v2" : "v1"},
                                  {QStringLiteral("drive"), key},
                                  {QStringLiteral("saved"), saved}});
        else
            terminal.Result(QStringLiteral("%1%2").arg(match->Offset > 0 ? "+" : "").arg(match->Offset));
        terminal.Line(QStringLiteral("Track %1 matches the database at %2 (confidence %3, %4)%5")
                          .arg(place)
                          .arg(match->Offset)
                          .arg(match->Confidence)
                          .arg(match->V2 ? "v2" : "v1")
                          .arg(saved ? QStringLiteral("; saved for ") + key : QString()));
        return saved ? 0 : 1;
    }
    terminal.Failure(
        QStringLiteral("no read offset within %1 samples matches the database with confidence 2 or "
                       "more; try another disc")
            .arg(searchMargin));
    return 1;
}

} // namespace

std::unique_ptr<TCommand> MakeOffsetCommand()
{
    return std::make_unique<TOffsetCommand>();
}
