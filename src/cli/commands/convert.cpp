// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/encoderprocess.h"
#include "commands.h"
#include "jobs/paralleljob.h"
#include "jobs/ripjob.h"
#include "shell/outputformats.h"
#include "shell/settings.h"

#include <QFileInfo>

namespace {

class TConvertCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("convert"); }
    QString Help() const override
    {
        return QStringLiteral(
            "  convert  wav2mp3|mp32wav|wav2ogg|wav2wma|wav2flac|wav2opus FILE... [-o DIR] "
            "[--overwrite|--no-overwrite]\n"
            "                                 converts the files into DIR (default: the output folder "
            "setting),\n"
            "                                 several at once; each file made is printed, one a line\n");
    }
    QStringList Flags() const override
    {
        return {QStringLiteral("--overwrite"), QStringLiteral("--no-overwrite")};
    }
    QStringList Valued() const override { return {QStringLiteral("-o")}; }
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

int TConvertCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (args.rest().size() < 2)
        throw UsageError{QStringLiteral("convert needs a kind and at least one file")};
    // "wav2" and a format's key for each format a WAV converts into, and MP3 back to WAV.
    static const std::map<QString, JobKind> kinds = [] {
        std::map<QString, JobKind> all{{QStringLiteral("mp32wav"), JobKind::Mp3ToWav}};
        for (const TOutputFormatInfo &format : OutputFormats())
            if (format.Conversion != JobKind::ExtractTracks)
                all.emplace(QStringLiteral("wav2") + QLatin1String(format.Key), format.Conversion);
        return all;
    }();
    const auto kind = kinds.find(args.rest().first());
    if (kind == kinds.end())
        throw UsageError{QStringLiteral("unknown conversion ") + args.rest().first()};
    QString folder = AppSettings.CommonOptions.OutputFolder;
    if (const auto given = args.value("-o"))
        folder = QFileInfo(*given).absoluteFilePath();
    ApplyOverwrite(args, terminal);
    QStringList files;
    for (const QString &file : args.rest().mid(1)) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable())
            terminal.Failure(file + QStringLiteral(": cannot be read"));
        else
            files << info.absoluteFilePath();
    }
    if (files.isEmpty() || !EnsureOutputFolder(folder, terminal))
        return 1;
    TTerminalPrompt prompt(terminal);
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    mp3.Prompt = &prompt;
    wma.Prompt = &prompt;
    TTerminalJobPresenter presenter(terminal);
    const auto job =
        MakeRipJob(kind->second, 0, files, JobSettings(AppSettings, folder), presenter, mp3, wma);
    RunJob(*job, presenter);
    return terminal.Failures > 0 || presenter.Result == mrAbort ? 1 : 0;
}

} // namespace

std::unique_ptr<TCommand> MakeConvertCommand()
{
    return std::make_unique<TConvertCommand>();
}
