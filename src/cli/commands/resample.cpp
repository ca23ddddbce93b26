// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/audioconverter.h"
#include "audio/fastresampler.h"
#include "audio/qualityresampler.h"
#include "commands.h"
#include "jobs/waveconversion.h"
#include "jobs/wavein.h"
#include "jobs/waveout.h"
#include "shell/helpers.h"

#include <QFileInfo>
#include <algorithm>

namespace {

class TResampleCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("resample"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("--rate"), QStringLiteral("HZ")},
                {QStringLiteral("--channels"), QStringLiteral("1|2")},
                {QStringLiteral("--bits"), QStringLiteral("8|16|24|32")},
                {QStringLiteral("--adpcm")},
                {QStringLiteral("--quality"), QStringLiteral("high|fast")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{QStringLiteral("IN.wav OUT.wav"),
                 {QStringLiteral("--rate"), QStringLiteral("--channels"), QStringLiteral("--bits"),
                  QStringLiteral("--adpcm"), QStringLiteral("--quality")},
                 QStringLiteral("a value equal to the input's passes that part through; --adpcm\n"
                                "writes DVI IMA ADPCM; --quality high (default) resamples with\n"
                                "libsoxr, fast with the simple filter")}};
    }
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

int TResampleCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (args.rest().size() != 2)
        throw UsageError{QStringLiteral("resample needs an input and an output file")};
    const QString input = args.rest().at(0);
    const QString output = args.rest().at(1);
    // Checked before anything is read; what is not given is the input's own.
    args.number("--rate", 0, 1000, 768000);
    args.number("--channels", 1, 1, 2);
    if (args.number("--bits", 8, 8, 32) % 8 != 0)
        throw UsageError{QStringLiteral("--bits takes 8, 16, 24 or 32")};
    if (QFileInfo(input).absoluteFilePath() == QFileInfo(output).absoluteFilePath() ||
        SameFile(input, output)) {
        terminal.Failure(output + QStringLiteral(": the output would overwrite the input"));
        return 1;
    }
    const QString quality = args.value("--quality").value_or(QStringLiteral("high"));
    if (quality != QLatin1String("high") && quality != QLatin1String("fast"))
        throw UsageError{QStringLiteral("--quality takes high or fast")};
    TWaveIn in;
    TFastResampler fast;
    TQualityResampler high;
    TRateConverter &resampler = quality == QLatin1String("fast") ? static_cast<TRateConverter &>(fast)
                                                                 : static_cast<TRateConverter &>(high);
    TAudioConverter converter;
    TWaveOut out;
    out.SetInput(&converter);
    in.SetFileName(input);
    if (!in.TryOpen()) {
        terminal.Failure(input + QStringLiteral(": not a WAV file this program can read"));
        return 1;
    }
    const int rate = args.number("--rate", in.GetSampleRate(), 1000, 768000);
    const int channels = args.number("--channels", std::min(in.GetChannels(), 2), 1, 2);
    const int bits = args.number("--bits", std::clamp((in.GetBitsPerSample() + 7) / 8 * 8, 8, 32), 8, 32);
    ApplyWaveConversion(TWaveConversion{rate, channels, bits, args.flag("--adpcm")}, in, resampler, converter,
                        out);
    // Written under the working name; the output name only ever holds a complete file.
    const QString working = WorkingFileOf(output);
    out.SetFileName(working);
    terminal.Line(QStringLiteral("Converting %1 to %2").arg(input, output));
    const bool stopped = RunSink(out, QFileInfo(output).fileName(), output, terminal);
    out.SetFileName(QString()); // closed
    QString error;
    if (!SettleWorkingFile(working, output, !stopped && terminal.Failures == 0, &error) && !error.isEmpty())
        terminal.Failure(error);
    return terminal.Failures > 0 || stopped ? 1 : 0;
}

} // namespace

std::unique_ptr<TCommand> MakeResampleCommand()
{
    return std::make_unique<TResampleCommand>();
}
