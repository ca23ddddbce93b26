// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/dxaudioout.h"
#include "audio/vorbisin.h"
#include "commands.h"
#include "jobs/wavein.h"

#include <QFileInfo>

namespace {

class TPlayCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("play"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("--device"), QStringLiteral("NAME")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{QStringLiteral("FILE.ogg|FILE.wav"),
                 {QStringLiteral("--device")},
                 QStringLiteral("plays the file through an ALSA device (default: \"default\")")}};
    }
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

int TPlayCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (args.rest().size() != 1)
        throw UsageError{QStringLiteral("play needs one file")};
    const QString file = args.rest().first();
    const QString device = args.value("--device").value_or(QStringLiteral("default"));
    const QStringList devices = TDXAudioOut::DeviceNames();
    if (!devices.contains(device)) {
        terminal.Failure(
            QStringLiteral("there is no sound device %1 (devices: %2)").arg(device, devices.join(", ")));
        return 1;
    }
    std::unique_ptr<TAuFileIn> in;
    if (file.endsWith(QStringLiteral(".ogg"), Qt::CaseInsensitive))
        in = std::make_unique<TVorbisIn>();
    else
        in = std::make_unique<TWaveIn>();
    in->SetFileName(file);
    if (!in->TryOpen()) {
        terminal.Failure(file + QStringLiteral(": ") +
                         (in->OpenError.isEmpty() ? QStringLiteral("cannot be played") : in->OpenError));
        return 1;
    }
    TDXAudioOut out;
    out.SetInput(in.get());
    out.DeviceNumber = int(devices.indexOf(device));
    terminal.Line(QStringLiteral("Playing %1 on %2").arg(file, device));
    RunSink(out, QFileInfo(file).fileName(), device, terminal);
    return terminal.Failures > 0 ? 1 : 0;
}

} // namespace

std::unique_ptr<TCommand> MakePlayCommand()
{
    return std::make_unique<TPlayCommand>();
}
