// SPDX-License-Identifier: GPL-3.0-or-later
// How long the thread that runs the job (the window's thread in the program) is kept from its events while
// the drive component rips and normalises: a timer asks for a tick every millisecond and the longest gap
// between two ticks is printed, in milliseconds.
//   bench_uistall DISC.cue OUTDIR [normalise]
#include "audio/encoderprocess.h"
#include "cdrom/cdin.h"
#include "jobs/extractjob.h"
#include "jobs/paralleljob.h"
#include "jobs/ripjob.h"
#include "shell/settings.h"
#include "stallclock.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

class Presenter final : public TExtractView {
public:
    bool Done = false;
    void Begin(int, int32_t) override {}
    void Stage(TExtractStage, int, int, const QString &) override {}
    void Progress(const TProcessInfo &) override {}
    void ShowError(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void Finish(int) override { Done = true; }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_uistall DISC.cue OUTDIR [normalise]\n");
        return 2;
    }
    qputenv("SONDREL_DISC_IMAGES", args[1].toLocal8Bit());
    TOptionsSetting settings = AppSettings;
    settings.CommonOptions.OutputFormat = OutputFormat::Wav;
    settings.CommonOptions.IsNormalize = args.size() > 3;
    settings.CommonOptions.NormalizePercent = 50;
    TCDIn cd;
    cd.SetCurrentDrive(0);
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    Presenter presenter;
    const auto job = MakeExtractJob(TReadSource{0, &cd}, {QStringLiteral("01Track01")},
                                    JobSettings(settings, args[2]), presenter, mp3, wma);
    const TStallClock stalls([&] {
        if (presenter.Done)
            app.quit();
    });
    job->Start();
    app.exec();
    job->CleanUp();
    std::printf("%lld\n", static_cast<long long>(stalls.Longest()));
    return 0;
}
