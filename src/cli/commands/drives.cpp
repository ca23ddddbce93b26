// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/cddrivelist.h"
#include "commands.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

class TDrivesCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("drives"); }
    QList<TOptionSpec> Options() const override { return {{QStringLiteral("--json")}}; }
    QList<TCommandForm> Forms() const override
    {
        return {{{},
                 {QStringLiteral("--json")},
                 QStringLiteral("list the CD drives and disc images (--json: as a JSON array)")}};
    }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

int TDrivesCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("drives takes no arguments")};
    const QList<CdDriveEntry> drives = CdDriveList();
    if (drives.isEmpty()) { // as every other command says it
        terminal.Failure(QStringLiteral("no CD drives or disc images found"));
        if (args.flag("--json"))
            PrintJson(QJsonArray());
        return 1;
    }
    QJsonArray list;
    for (qsizetype i = 0; i < drives.size(); ++i) {
        const CdDriveEntry &d = drives.at(i);
        if (args.flag("--json"))
            list.append(QJsonObject{{QStringLiteral("index"), int(i)},
                                    {QStringLiteral("vendor"), d.vendor},
                                    {QStringLiteral("product"), d.product},
                                    {QStringLiteral("path"), d.path},
                                    {QStringLiteral("image"), d.isImage}});
        else
            PrintLine(QStringLiteral("%1\t%2 %3\t%4").arg(i).arg(d.vendor, d.product, d.path));
    }
    if (args.flag("--json"))
        PrintJson(list);
    return 0;
}

} // namespace

std::unique_ptr<TCommand> MakeDrivesCommand()
{
    return std::make_unique<TDrivesCommand>();
}
