// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"
#include "jobs/ctdbrepair.h"
#include "shell/settings.h"

#include <QFileInfo>

namespace {

class TRepairCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("repair"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("--ctdb-server"), QStringLiteral("URL")}, {QStringLiteral("--no-keep")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{QStringLiteral("DIR"),
                 {QStringLiteral("--ctdb-server"), QStringLiteral("--no-keep")},
                 QStringLiteral("mends a rip's WAV files (its log in DIR gives the disc) from the\n"
                                "CUETools database's recovery record, when it holds the disc and the\n"
                                "damage is small enough; the old files are kept as NAME.wav.damaged\n"
                                "unless --no-keep; the log records what was mended")}};
    }
    int Run(const TArguments &args, TTerminal &terminal) override
    {
        if (args.rest().size() != 1)
            throw UsageError{QStringLiteral("repair needs the folder of a rip")};
        const QString folder = QFileInfo(args.rest().first()).absoluteFilePath();
        if (!QFileInfo(folder).isDir()) {
            terminal.Failure(folder + QStringLiteral(": not a folder"));
            return 1;
        }
        const QString server = args.value("--ctdb-server").value_or(AppSettings.CommonOptions.CtdbServer);
        if (server.isEmpty()) {
            terminal.Failure(QStringLiteral("no CUETools database to ask (--ctdb-server, CtdbServer)"));
            return 1;
        }
        std::atomic<bool> stop{false};
        const TStopOnInterrupt interrupt([&stop] { stop = true; });
        const auto repaired = RepairRip(folder, server, !args.flag("--no-keep"), &stop);
        if (!repaired) {
            terminal.Failure(folder + QStringLiteral(": ") + repaired.Error());
            return 1;
        }
        PrintLine(*repaired);
        return 0;
    }
};

} // namespace

std::unique_ptr<TCommand> MakeRepairCommand()
{
    return std::make_unique<TRepairCommand>();
}
