// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/auexception.h"
#include "jobs/wavein.h"
#include "jobs/waveout.h"
#include "jobs/wavheader.h"
#include "memoryaudio.h"
#include "shell/helpers.h"
#include "testsupport.h"
#include "wavtestsupport.h"

#include <QFileInfo>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// A source that announces more bytes than it delivers.
class ShortSource final : public TAuInput {
public:
    ShortSource(int64_t announced, QByteArray data) : m_announced(announced), m_data(std::move(data)) {}
    int GetBitsPerSample() override { return 16; }
    int GetChannels() override { return 2; }
    int GetSampleRate() override { return 44100; }

protected:
    void DoInit() override
    {
        Size = m_announced;
        m_pos = 0;
        Busy = true;
    }
    void DoFlush() override { Busy = false; }
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override
    {
        bytes = uint32_t(std::min<int64_t>(bytes, m_data.size() - m_pos));
        buffer = reinterpret_cast<uint8_t *>(m_data.data()) + m_pos;
        m_pos += bytes;
    }

private:
    int64_t m_announced;
    QByteArray m_data;
    int64_t m_pos = 0;
};

QByteArray Sine16(int frames, int channels, double hz = 440)
{
    return MakePcm(frames, channels, 16,
                   [=](int i, int c) { return 0.6 * std::sin(2 * M_PI * hz * (i + 30 * c) / 44100); });
}

uint32_t U32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<uint32_t>(bytes.constData() + at);
}

class WaveOutTest : public ::testing::Test {
protected:
    TestHome home;
    QString path = home.root() + "/out.wav";

    QString write(TAuInput &input, TWaveOut &out)
    {
        out.SetInput(&input);
        out.SetFileName(path);
        EXPECT_TRUE(RunToCompletion(out));
        EXPECT_EQ(out.ExceptionMessage(), "");
        return path;
    }
};

TEST_F(WaveOutTest, PcmGetsTheCanonicalHeader)
{
    const QByteArray pcm = Sine16(12345, 2);
    MemoryFileIn in(pcm, 16, 2, 44100);
    TWaveOut out;
    write(in, out);
    const QByteArray file = ReadFileBytes(path);
    EXPECT_EQ(file.left(44), CdAudioWavHeader(uint32_t(pcm.size())));
    EXPECT_EQ(file.mid(44), pcm);
}

TEST_F(WaveOutTest, TwentyFourBitHeaders)
{
    const QByteArray pcm = MakePcm(1000, 2, 24, [](int i, int) { return std::sin(i / 10.0) * 0.5; });
    MemoryFileIn in(pcm, 24, 2, 96000);
    TWaveOut extensible;
    extensible.CreateNonMsHeaders = false;
    write(in, extensible);
    QByteArray file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 68 + pcm.size());
    EXPECT_EQ(qFromLittleEndian<uint16_t>(file.constData() + 20), 0xFFFE);
    EXPECT_EQ(U32(file, 4), uint32_t(pcm.size() + 60));
    EXPECT_EQ(U32(file, 64), uint32_t(pcm.size()));
    TWaveIn back;
    back.SetFileName(path);
    EXPECT_EQ(back.WavType(), wtExtPCM);
    EXPECT_EQ(Drain(back), pcm);

    TWaveOut plain;
    write(in, plain);
    file = ReadFileBytes(path);
    EXPECT_EQ(file.left(44), CanonicalWavHeader(2, 96000, 24, uint32_t(pcm.size())));
}

TEST_F(WaveOutTest, FewerBytesThanAnnouncedArePaddedWithZeros)
{
    const QByteArray pcm = Sine16(600, 2);
    ShortSource in(4000, pcm);
    TWaveOut out;
    write(in, out);
    const QByteArray file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 44 + 4000);
    EXPECT_EQ(U32(file, 40), 4000u);
    EXPECT_EQ(file.mid(44, pcm.size()), pcm);
    EXPECT_EQ(file.mid(44 + pcm.size()), QByteArray(4000 - pcm.size(), '\0'));
}

TEST_F(WaveOutTest, UnknownSizeIsPatchedFromTheLength)
{
    const QByteArray pcm = Sine16(700, 2);
    ShortSource in(-1, pcm);
    TWaveOut out;
    write(in, out);
    const QByteArray file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 44 + pcm.size());
    EXPECT_EQ(U32(file, 40), uint32_t(pcm.size()));
    EXPECT_EQ(U32(file, 4), uint32_t(pcm.size() + 36));
}

TEST_F(WaveOutTest, StoppedRunLeavesAValidFileAndTheFileIsLockedMeanwhile)
{
    ChunkedSource endless(4096);
    endless.Size = -1;
    TWaveOut out;
    out.SetInput(&endless);
    out.SetFileName(path);
    int done = 0;
    out.OnDone = [&](TAuOutput *) { ++done; };
    out.Run();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(path).size() > 100000; }));
    EXPECT_TRUE(FileInUse(path));
    out.Stop(false);
    EXPECT_FALSE(FileInUse(path));
    const QByteArray file = ReadFileBytes(path);
    EXPECT_EQ(U32(file, 40), uint32_t(file.size() - 44));
    EXPECT_EQ(U32(file, 4), uint32_t(file.size() - 8));
    EXPECT_EQ(done, 0);
}

TEST_F(WaveOutTest, AppendingToAFileOfTheSameFormat)
{
    const QByteArray first = Sine16(1000, 2);
    const QByteArray second = Sine16(500, 2, 880);
    MemoryFileIn a(first, 16, 2, 44100);
    TWaveOut out;
    write(a, out);
    MemoryFileIn b(second, 16, 2, 44100);
    out.FileMode = foAppend;
    write(b, out);
    const QByteArray file = ReadFileBytes(path);
    EXPECT_EQ(file.mid(44), first + second);
    EXPECT_EQ(U32(file, 40), uint32_t(first.size() + second.size()));
    EXPECT_EQ(U32(file, 4), uint32_t(file.size() - 8));
}

TEST_F(WaveOutTest, AppendRefusalsLeaveTheFileUnchanged)
{
    MemoryFileIn slow(Sine16(500, 2), 16, 2, 22050);
    TWaveOut out;
    write(slow, out);
    const QByteArray before = ReadFileBytes(path);

    MemoryFileIn fast(Sine16(500, 2), 16, 2, 44100);
    out.SetInput(&fast);
    out.FileMode = foAppend;
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(), "Cannot append data in different audio format.");
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_FALSE(FileInUse(path));

    WavBuilder chunks;
    chunks.chunk("fmt ", WavBuilder::fmt(3, 2, 44100, 32)).chunk("data", QByteArray(800, '\0'));
    const QByteArray floatFile = WavBuilder::riff(chunks.bytes);
    WriteBytes(path, floatFile);
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(), "Cannot append data to this .wav file.");
    EXPECT_EQ(ReadFileBytes(path), floatFile);
}

TEST_F(WaveOutTest, ImaAdpcmFile)
{
    const int frames = 1017 * 5 + 300;
    const QByteArray pcm = Sine16(frames, 1, 300);
    MemoryFileIn in(pcm, 16, 1, 22050);
    TWaveOut out;
    out.SetWavType(wtDVIADPCM);
    EXPECT_EQ(out.WavType(), wtDVIADPCM);
    write(in, out);
    const QByteArray file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 60 + 6 * 512);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(file.constData() + 20), 0x11);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(file.constData() + 32), 512);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(file.constData() + 38), 1017);
    EXPECT_EQ(U32(file, 28), 22050u / 1017u * 512u);
    EXPECT_EQ(U32(file, 48), uint32_t(frames)); // the real frame count
    EXPECT_EQ(U32(file, 56), 6u * 512u);        // every block written
    EXPECT_EQ(U32(file, 4), uint32_t(file.size() - 8));

    TWaveIn back;
    back.SetFileName(path);
    const QByteArray decoded = Drain(back);
    ASSERT_EQ(decoded.size(), pcm.size());
    const auto *a = reinterpret_cast<const int16_t *>(pcm.constData());
    const auto *b = reinterpret_cast<const int16_t *>(decoded.constData());
    double error = 0;
    for (int i = 0; i < frames; ++i)
        error += std::abs(a[i] - b[i]);
    EXPECT_LT(error / frames, 200.0); // ADPCM is lossy, but close

    MemoryFileIn eight(QByteArray(100, '\x80'), 8, 1, 8000);
    out.SetInput(&eight);
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(), "Cannot encode 8 bit sound into ADPCM.");
}

TEST_F(WaveOutTest, SettingsAndMissingFileName)
{
    TWaveOut out;
    out.SetWavType(wtMSADPCM);
    EXPECT_EQ(out.WavType(), wtPCM);
    out.SetBlockSize(1000);
    EXPECT_EQ(out.BlockSize(), 1000);
    out.SetBlockSize(1002);
    out.SetBlockSize(0);
    EXPECT_EQ(out.BlockSize(), 1000);

    MemoryFileIn in(Sine16(10, 2), 16, 2, 44100);
    out.SetInput(&in);
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(), "File name is not assigned.");

    out.SetFileName("/nonexistent-folder/take.wav"); // a file that cannot be made is named
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(), "/nonexistent-folder/take.wav: No such file or directory");
}

} // namespace
