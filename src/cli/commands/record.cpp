// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"
#include "jobs/soundrecorder.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/userprompt.h"

#include <QFileInfo>
#include <QTimer>

namespace {

class TRecordCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("record"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("--seconds"), QStringLiteral("N")},
                {QStringLiteral("--rate"), QStringLiteral("HZ")},
                {QStringLiteral("--channels"), QStringLiteral("N")},
                {QStringLiteral("--bits"), QStringLiteral("8|16|24|32")},
                {QStringLiteral("--device"), QStringLiteral("NAME")},
                {QStringLiteral("--overwrite"), {}, QStringLiteral("overwrite")},
                {QStringLiteral("--no-overwrite"), {}, QStringLiteral("overwrite")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{QStringLiteral("OUT.wav"),
                 {QStringLiteral("--seconds"), QStringLiteral("--rate"), QStringLiteral("--channels"),
                  QStringLiteral("--bits"), QStringLiteral("--device"), QStringLiteral("--overwrite"),
                  QStringLiteral("--no-overwrite")},
                 QStringLiteral("records from an ALSA capture device (default: \"default\"; 44100 Hz,\n"
                                "2 channels, 16 bits) for N seconds, or until interrupted")}};
    }
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

int TRecordCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (args.rest().size() != 1)
        throw UsageError{QStringLiteral("record needs one output file")};
    ApplyOverwrite(args, terminal);
    const QString output = QFileInfo(args.rest().first()).absoluteFilePath();
    const int seconds = args.number("--seconds", 0, 1, 24 * 3600);
    const int rate = args.number("--rate", 44100, 1000, 768000);
    const int channels = args.number("--channels", 2, 1, 8);
    const int bits = args.number("--bits", 16, 8, 32);
    if (bits % 8 != 0)
        throw UsageError{QStringLiteral("--bits takes 8, 16, 24 or 32")};
    const QString device = args.value("--device").value_or(QStringLiteral("default"));
    if (QFileInfo::exists(output) &&
        !TTerminalPrompt(terminal).Question(QString(), ReplaceQuestion(output))) {
        terminal.Notice(QStringLiteral("kept %1 (already there)").arg(output));
        return 0;
    }
    // Recorded under the working name; the output name only ever holds a complete file.
    const QString working = WorkingFileOf(output);
    TSoundRecorder recorder;
    TResult<> ready = TSoundRecorder::WriteEmptyWav(working, channels, bits, rate);
    if (ready)
        ready = recorder.SetFile(working);
    if (ready)
        ready = recorder.Start(device, 0);
    if (!ready) {
        DiscardWorkingFile(working, output);
        terminal.Failure(ready.Error());
        return 1;
    }
    if (seconds > 0)
        recorder.EndAfterFrames(int64_t(seconds) * rate);
    bool ended = false;
    QObject::connect(&recorder, &TSoundRecorder::Ended, [&] { ended = true; });
    QObject::connect(&recorder, &TSoundRecorder::Failed,
                     [&](const QString &reason) { terminal.Failure(reason); });
    terminal.Line(seconds > 0
                      ? QStringLiteral("Recording %1 s from %2 to %3").arg(seconds).arg(device, output)
                      : QStringLiteral("Recording from %1 to %2; Ctrl+C ends it").arg(device, output));
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] {
        const int64_t ms = recorder.RecordedMs();
        terminal.Bar(QFileInfo(output).fileName(), seconds > 0 ? int(ms / 10 / seconds) : 0,
                     TSoundRecorder::TimeText(ms),
                     seconds > 0 ? TSoundRecorder::TimeText(seconds * 1000) : QString());
    });
    clock.start(500);
    {
        const TStopOnInterrupt stop([&] { ended = true; });
        QEventLoop loop;
        while (!ended)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    clock.stop();
    terminal.EndBar();
    const auto stopped = recorder.Stop(0);
    const bool kept = bool(stopped);
    if (!kept)
        terminal.Failure(stopped.Error());
    QString error;
    if (!SettleWorkingFile(working, output, kept, &error)) {
        if (kept)
            terminal.Failure(error);
        return 1;
    }
    terminal.Line(
        QStringLiteral("Recorded %1 to %2").arg(TSoundRecorder::TimeText(recorder.LengthMs()), output));
    // Interrupting a recording without a length is how it ends; with a length, it was cut short.
    if (seconds == 0)
        Interrupted = false;
    return terminal.Failures > 0 ? 1 : 0;
}

} // namespace

std::unique_ptr<TCommand> MakeRecordCommand()
{
    return std::make_unique<TRecordCommand>();
}
