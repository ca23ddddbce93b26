// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a file through the audio framework the way the job windows do, for the scripts beside it:
//   bench_audio copy IN.wav OUT.wav             TWaveIn -> TWaveOut
//   bench_audio resample IN.wav OUT.wav RATE    TWaveIn -> TFastResampler -> TWaveOut
//   bench_audio ogg IN.wav OUT.ogg              TWaveIn -> TVorbisOut at Compression 0.2
//   bench_audio cdrip DISC.cue OUT.wav          TCDRipThread reading the first track
//   bench_audio cdin DISC.cue OUT.wav [paranoia] TCDIn -> TWaveOut, the whole disc
// Prints the peak resident memory when done.
#include "audio/fastresampler.h"
#include "audio/vorbisout.h"
#include "cdrom/cdaccess.h"
#include "cdrom/cdin.h"
#include "jobs/cdripthread.h"
#include "jobs/wavein.h"
#include "jobs/waveout.h"
#include "shell/settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <cstdio>
#include <sys/resource.h>

namespace {

int ripFirstTrack(const QString &image, const QString &wav)
{
    qputenv("SONDREL_DISC_IMAGES", image.toLocal8Bit());
    TCDList list{};
    list.max = 8;
    GetCDList(&list);
    if (list.num == 0)
        return 1;
    TGetCDHand request{};
    request.size = 12;
    request.ver = 1;
    request.ha = list.cd[list.num - 1].ha;
    request.tgt = list.cd[list.num - 1].tgt;
    QObject receiver;
    AppSettings.CommonOptions.OutputFolder = QFileInfo(wav).path();
    TCDRipThread thread(1, QFileInfo(wav).completeBaseName());
    thread.CDHandle = GetCDHandle(&request);
    thread.NotifyWindow = &receiver;
    thread.Options = AppSettings.CommonOptions; // the thread reads its own copy (the output folder above)
    thread.Resume();
    while (!thread.Finished())
        QThread::msleep(5);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4 || (args[1] == "resample" && args.size() < 5)) {
        std::fprintf(stderr, "usage: bench_audio copy IN OUT | resample IN OUT RATE\n");
        return 2;
    }
    if (args[1] == "cdrip")
        return ripFirstTrack(args[2], args[3]);
    TWaveIn in;
    in.SetFileName(args[2]);
    TCDIn cd;
    TFastResampler resampler;
    TWaveOut wavOut;
    TVorbisOut oggOut;
    TAuFileOut &out = args[1] == "ogg" ? static_cast<TAuFileOut &>(oggOut) : wavOut;
    out.SetFileName(args[3]);
    if (args[1] == "cdin") {
        qputenv("SONDREL_DISC_IMAGES", args[2].toLocal8Bit());
        cd.Paranoid = args.size() > 4 && args[4] == "paranoia";
        cd.SetStartTrack(1);
        TCDPosition end;
        end.Track = 100;
        cd.SetEndPos(end);
        out.SetInput(&cd);
    } else if (args[1] == "resample") {
        resampler.SetInput(&in);
        resampler.OutSampleRate = args[4].toInt();
        out.SetInput(&resampler);
    } else {
        out.SetInput(&in);
    }
    out.OnDone = [&](TAuOutput *) { app.quit(); };
    out.Run();
    app.exec();
    if (!out.ExceptionMessage().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(out.ExceptionMessage()));
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_kb %ld\n", usage.ru_maxrss);
    return 0;
}
