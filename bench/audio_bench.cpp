// Runs a file through the audio framework the way the job windows do, for the scripts beside it:
//   bench_audio copy IN.wav OUT.wav             TWaveIn -> TWaveOut
//   bench_audio resample IN.wav OUT.wav RATE    TWaveIn -> TFastResampler -> TWaveOut
//   bench_audio ogg IN.wav OUT.ogg              TWaveIn -> TVorbisOut at Compression 0.2
// Prints the peak resident memory when done.
#include "audio/fastresampler.h"
#include "audio/vorbisout.h"
#include "jobs/wavein.h"
#include "jobs/waveout.h"

#include <QCoreApplication>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4 || (args[1] == "resample" && args.size() < 5)) {
        std::fprintf(stderr, "usage: bench_audio copy IN OUT | resample IN OUT RATE\n");
        return 2;
    }
    TWaveIn in;
    in.SetFileName(args[2]);
    TFastResampler resampler;
    TWaveOut wavOut;
    TVorbisOut oggOut;
    TAuFileOut &out = args[1] == "ogg" ? static_cast<TAuFileOut &>(oggOut) : wavOut;
    out.SetFileName(args[3]);
    if (args[1] == "resample") {
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
