// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"
#include "jobs/m3uplaylist.h"
#include "shell/localizedtext.h"
#include "shell/userprompt.h"

#include <QFileInfo>

namespace {

class TPlaylistCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("playlist"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("--relative")},
                {QStringLiteral("--overwrite"), {}, QStringLiteral("overwrite")},
                {QStringLiteral("--no-overwrite"), {}, QStringLiteral("overwrite")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {
            {QStringLiteral("OUT.m3u FILE..."),
             {QStringLiteral("--relative"), QStringLiteral("--overwrite"), QStringLiteral("--no-overwrite")},
             QStringLiteral("an M3U playlist of the files, with absolute paths or (--relative)\n"
                            "paths relative to the playlist's folder")}};
    }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

int TPlaylistCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (args.rest().size() < 2)
        throw UsageError{QStringLiteral("playlist needs the playlist and at least one file")};
    ApplyOverwrite(args, terminal);
    const QString playlist = QFileInfo(M3uPlaylistName(args.rest().first())).absoluteFilePath();
    QStringList files;
    for (const QString &file : args.rest().mid(1)) {
        if (!QFileInfo(file).isFile())
            terminal.Failure(file + QStringLiteral(": no such file"));
        files << QFileInfo(file).absoluteFilePath();
    }
    if (terminal.Failures > 0)
        return 1;
    if (!M3uSameFileSystem(files)) {
        terminal.Failure(QStringLiteral("The files in the list should be on the same drive."));
        return 1;
    }
    TTerminalPrompt prompt(terminal);
    if (QFileInfo::exists(playlist) &&
        !prompt.Question(QStringLiteral("Sondrel"), ReplaceQuestion(playlist))) {
        terminal.Notice(QStringLiteral("kept %1 (already there)").arg(playlist));
        return 0;
    }
    if (const auto written = WriteM3u(playlist, M3uLines(files, playlist, args.flag("--relative")));
        !written) {
        terminal.Failure(written.Error());
        return 1;
    }
    terminal.Line(QStringLiteral("Wrote %1").arg(playlist));
    return 0;
}

} // namespace

std::unique_ptr<TCommand> MakePlaylistCommand()
{
    return std::make_unique<TPlaylistCommand>();
}
