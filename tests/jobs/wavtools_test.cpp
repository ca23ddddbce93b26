// SPDX-License-Identifier: GPL-3.0-or-later
// Checks against the programs our users also use: files sox makes must decode to what sox decodes them to,
// files we make must be read by sox and ffprobe as what they are.
#include "jobs/wavein.h"
#include "jobs/waveout.h"
#include "memoryaudio.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>

namespace {

class WavToolsTest : public ::testing::Test {
protected:
    TestHome home;
    QString dir = home.root() + "/";

    QByteArray run(const QString &program, const QStringList &arguments)
    {
        QByteArray output;
        const int code = RunProgram(program, arguments, &output);
        EXPECT_EQ(code, 0) << program.toStdString() << " " << arguments.join(' ').toStdString() << "\n"
                           << output.toStdString();
        return output;
    }

    // Two seconds of a chord that sweeps, peaking at the given level in dB below full scale.
    QString source(double headroom = 0.1)
    {
        const QString path = dir + "source.wav";
        run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth", "2", "sine", "200-3000",
                    "sine", "330", "gain", "-n", QString::number(-headroom)});
        return path;
    }

    QByteArray soxRaw(const QString &file, const QStringList &encoding)
    {
        const QString raw = file + ".raw";
        run("sox", QStringList{file, "-t", "raw"} + encoding + QStringList{raw});
        return ReadFileBytes(raw);
    }

    QByteArray ours(const QString &file, TWavType expected)
    {
        TWaveIn in;
        in.SetFileName(file);
        EXPECT_EQ(in.WavType(), expected) << file.toStdString();
        return Drain(in);
    }
};

TEST_F(WavToolsTest, PcmFromSoxDecodesToTheSameSamples)
{
    const QString src = source();
    struct Case {
        QString encoding;
        QStringList soxEncode;
        QStringList soxDecode;
        TWavType type;
    };
    const QList<Case> cases = {
        {"8", {"-b", "8"}, {"-e", "unsigned", "-b", "8"}, wtPCM},
        {"16", {"-b", "16"}, {"-e", "signed", "-b", "16"}, wtPCM},
        {"24", {"-b", "24"}, {"-e", "signed", "-b", "24"}, wtExtPCM},
    };
    for (const Case &c : cases) {
        const QString file = dir + "pcm" + c.encoding + ".wav";
        run("sox", QStringList{src} + c.soxEncode + QStringList{file});
        EXPECT_EQ(ours(file, c.type), soxRaw(file, c.soxDecode)) << c.encoding.toStdString();
    }
}

TEST_F(WavToolsTest, AdpcmFromSoxDecodesToTheSameSamples)
{
    // Headroom keeps the decoders away from their limits, where ours clamps IMA at -32767 and sox at
    // -32768, and the small difference then runs on to the end of the block.
    const QString src = source(3);
    for (const QString &encoding : {QString("ima-adpcm"), QString("ms-adpcm")}) {
        const QString file = dir + encoding + ".wav";
        run("sox", {src, "-e", encoding, file});
        const QByteArray mine = ours(file, encoding == "ima-adpcm" ? wtDVIADPCM : wtMSADPCM);
        // sox decodes whole blocks; we stop at the frame count the file gives, two seconds.
        ASSERT_EQ(mine.size(), 88200 * 4) << encoding.toStdString();
        const QByteArray theirs = soxRaw(file, {"-e", "signed", "-b", "16"}).left(mine.size());
        ASSERT_EQ(theirs.size(), mine.size());
        const auto *a = reinterpret_cast<const int16_t *>(mine.constData());
        const auto *b = reinterpret_cast<const int16_t *>(theirs.constData());
        int differences = 0;
        for (qsizetype i = 0; i < mine.size() / 2; ++i) {
            // Our IMA decoder keeps predictions within -32767 ... 32767.
            const bool clamp = a[i] == -32767 && b[i] == -32768;
            if (a[i] != b[i] && !clamp) {
                if (differences < 6)
                    std::fprintf(stderr, "%s %lld: ours %d sox %d\n", qPrintable(encoding), (long long)i,
                                 a[i], b[i]);
                ++differences;
            }
        }
        EXPECT_EQ(differences, 0) << encoding.toStdString();
    }
}

TEST_F(WavToolsTest, FloatFromSoxFollowsTheConversionRule)
{
    const QString file = dir + "float.wav";
    run("sox", {source(), "-e", "floating-point", "-b", "32", file});
    const QByteArray mine = ours(file, wtIEEEFloat);
    const QByteArray floats = soxRaw(file, {"-e", "floating-point", "-b", "32"});
    ASSERT_EQ(mine.size(), floats.size());
    const auto *m = reinterpret_cast<const int32_t *>(mine.constData());
    const auto *f = reinterpret_cast<const float *>(floats.constData());
    for (qsizetype i = 0; i < mine.size() / 4; ++i) {
        const double x = f[i];
        const int32_t expected = x >= 1    ? 2147483647
                                 : x <= -1 ? int32_t(-2147483647 - 1)
                                           : int32_t(std::floor(x * 2147483647.0));
        ASSERT_EQ(m[i], expected) << i;
    }
}

struct Probe {
    int rate = 0;
    int channels = 0;
    QString codec;
    double duration = 0;
    qint64 samples = 0;
};

Probe FfProbe(const QString &file)
{
    QByteArray output;
    RunProgram("ffprobe", {"-v", "error", "-show_streams", "-of", "json", file}, &output);
    const QJsonObject stream =
        QJsonDocument::fromJson(output).object()["streams"].toArray().first().toObject();
    Probe p;
    p.rate = stream["sample_rate"].toString().toInt();
    p.channels = stream["channels"].toInt();
    p.codec = stream["codec_name"].toString();
    p.duration = stream["duration"].toString().toDouble();
    return p;
}

TEST_F(WavToolsTest, FilesWeWriteAreReadRightBySoxAndFfprobe)
{
    struct Case {
        QString name;
        int bits;
        int channels;
        int rate;
        TWavType type;
        bool nonMs;
        QString soxEncoding;
        QString ffCodec;
    };
    const QList<Case> cases = {
        {"pcm", 16, 2, 44100, wtPCM, true, "Signed Integer PCM", "pcm_s16le"},
        {"ima", 16, 1, 22050, wtDVIADPCM, true, "IMA ADPCM", "adpcm_ima_wav"},
        {"ext24", 24, 2, 48000, wtPCM, false, "Signed Integer PCM", "pcm_s24le"},
    };
    for (const Case &c : cases) {
        const int frames = c.rate * 3 / 2; // 1.5 seconds
        MemoryFileIn in(
            MakePcm(frames, c.channels, c.bits, [](int i, int ch) { return 0.4 * std::sin(i * 0.05 + ch); }),
            c.bits, c.channels, c.rate);
        TWaveOut out;
        out.SetWavType(c.type);
        out.CreateNonMsHeaders = c.nonMs;
        out.SetInput(&in);
        const QString file = dir + c.name + ".wav";
        out.SetFileName(file);
        ASSERT_TRUE(RunToCompletion(out));
        ASSERT_EQ(out.ExceptionMessage(), "");

        const QString info = QString::fromUtf8(run("sox", {"--i", file}));
        EXPECT_TRUE(info.contains(QString("Sample Rate    : %1").arg(c.rate))) << info.toStdString();
        EXPECT_TRUE(info.contains(QString("Channels       : %1").arg(c.channels))) << info.toStdString();
        EXPECT_TRUE(info.contains(c.soxEncoding)) << info.toStdString();
        const qint64 soxSamples = run("soxi", {"-s", file}).trimmed().toLongLong();
        if (c.type == wtDVIADPCM)
            EXPECT_NEAR(double(soxSamples), frames, 1017); // whole blocks
        else
            EXPECT_EQ(soxSamples, frames);

        const Probe probe = FfProbe(file);
        EXPECT_EQ(probe.codec, c.ffCodec);
        EXPECT_EQ(probe.rate, c.rate);
        EXPECT_EQ(probe.channels, c.channels);
        EXPECT_NEAR(probe.duration, 1.5, c.type == wtDVIADPCM ? 0.05 : 0.001);
    }
}

TEST_F(WavToolsTest, MpegLayer3InsideWavDecodesToPcm)
{
    const QString file = dir + "mp3.wav";
    run("ffmpeg", {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                   "sine=frequency=440:duration=2:sample_rate=44100", "-ac", "2", "-c:a", "libmp3lame",
                   "-b:a", "128k", "-f", "wav", file});
    TWaveIn in;
    in.SetFileName(file);
    EXPECT_EQ(in.WavType(), wtACM);
    EXPECT_EQ(in.GetChannels(), 2);
    EXPECT_EQ(in.GetSampleRate(), 44100);
    EXPECT_EQ(in.GetBitsPerSample(), 16);
    const QByteArray pcm = Drain(in);
    // Two seconds, give or take the encoder's delay and padding (at most two frames of 1152 samples).
    EXPECT_NEAR(double(pcm.size()) / 4, 88200, 2304);
    const auto *s = reinterpret_cast<const int16_t *>(pcm.constData());
    // The tone is there (ffmpeg's sine peaks at an eighth of full scale), not silence.
    int loud = 0;
    for (qsizetype i = 0; i < pcm.size() / 2; ++i)
        loud += std::abs(s[i]) > 2000;
    EXPECT_GT(loud, pcm.size() / 8);

    // The samples are those ffmpeg's own decoder gives, once aligned (the decoders may start a frame apart).
    const QString judged = dir + "judged.raw";
    run("ffmpeg",
        {"-hide_banner", "-loglevel", "error", "-i", file, "-f", "s16le", "-c:a", "pcm_s16le", judged});
    const QByteArray reference = ReadFileBytes(judged);
    const auto *r = reinterpret_cast<const int16_t *>(reference.constData());
    const qsizetype ours = pcm.size() / 2, theirs = reference.size() / 2, window = 8000;
    ASSERT_GT(std::min(ours, theirs), window + 2 * 2304 * 2);
    qsizetype best = 0;
    int64_t bestDistance = INT64_MAX;
    for (qsizetype shift = -2 * 2304; shift <= 2 * 2304; shift += 2) { // whole stereo frames
        int64_t distance = 0;
        for (qsizetype i = 2 * 2304; i < 2 * 2304 + window; ++i)
            distance += std::abs(int(s[i]) - int(r[i + shift]));
        if (distance < bestDistance)
            bestDistance = distance, best = shift;
    }
    int worst = 0;
    for (qsizetype i = std::max<qsizetype>(0, -best); i < ours && i + best < theirs; ++i)
        worst = std::max(worst, std::abs(int(s[i]) - int(r[i + best])));
    EXPECT_LE(worst, 2) << "shift " << best;
}

} // namespace
