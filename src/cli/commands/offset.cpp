// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/cddrivelist.h"
#include "commands.h"
#include "jobs/accuraterip.h"
#include "jobs/offsetfind.h"
#include "shell/settings.h"

#include <QJsonObject>
#include <atomic>

namespace {

class TOffsetCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("offset"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("-d"), QStringLiteral("N|PATH")},
                {QStringLiteral("--accuraterip-server"), QStringLiteral("URL")},
                {QStringLiteral("--json")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{QStringLiteral("find"),
                 {QStringLiteral("-d"), QStringLiteral("--accuraterip-server"), QStringLiteral("--json")},
                 QStringLiteral("finds the drive's read offset correction with a disc the\n"
                                "AccurateRip database knows (within 3000 samples, confidence 2\n"
                                "or more) and saves it for the drive; later rips use it\n"
                                "unless --offset is given")}};
    }
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

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
    std::atomic<bool> stop{false};
    const TStopOnInterrupt interrupt([&stop] { stop = true; });
    const TOffsetSearch search = SearchReadOffset(
        handle.get(), toc, server, [&terminal](const QString &step) { terminal.Line(step); }, &stop);
    if (search.Stopped)
        return 130;
    if (!search.Match) {
        terminal.Failure(search.Error);
        if (args.flag("--json")) // a script reads the failure as it reads the answer
            PrintJson(QJsonObject{{QStringLiteral("error"), search.Error}, {QStringLiteral("drive"), key}});
        return 1;
    }
    const TOffsetMatch &match = *search.Match;
    QString error;
    const bool saved = !key.isEmpty() && SaveDriveOffset(key, match.Offset, &error);
    if (!saved)
        terminal.Failure(QStringLiteral("the offset could not be saved for %1: %2").arg(key, error));
    if (args.flag("--json"))
        PrintJson(QJsonObject{{QStringLiteral("offset"), match.Offset},
                              {QStringLiteral("track"), search.Track},
                              {QStringLiteral("confidence"), match.Confidence},
                              {QStringLiteral("checksum"), match.V2 ? "v2" : "v1"},
                              {QStringLiteral("drive"), key},
                              {QStringLiteral("saved"), saved}});
    else
        terminal.Result(QStringLiteral("%1%2").arg(match.Offset > 0 ? "+" : "").arg(match.Offset));
    terminal.Line(QStringLiteral("Track %1 matches the database at %2 (confidence %3, %4)%5")
                      .arg(search.Track)
                      .arg(match.Offset)
                      .arg(match.Confidence)
                      .arg(match.V2 ? "v2" : "v1")
                      .arg(saved ? QStringLiteral("; saved for ") + key : QString()));
    return saved ? 0 : 1;
}

} // namespace

std::unique_ptr<TCommand> MakeOffsetCommand()
{
    return std::make_unique<TOffsetCommand>();
}
