// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/auexception.h"
#include "audio/imaadpcm.h"
#include "jobs/wavein.h"
#include "memoryaudio.h"
#include "testsupport.h"
#include "wavtestsupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <cmath>
#include <gtest/gtest.h>

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

namespace {

QByteArray Ramp16(int frames, int channels)
{
    QByteArray pcm;
    for (int i = 0; i < frames * channels; ++i) {
        const int16_t v = int16_t((i * 37) % 60000 - 30000);
        pcm.append(reinterpret_cast<const char *>(&v), 2);
    }
    return pcm;
}

class WaveInTest : public ::testing::Test {
protected:
    TestHome home;
    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = home.root() + "/" + name;
        EXPECT_TRUE(WriteBytes(path, bytes));
        return path;
    }
};

TEST_F(WaveInTest, PlainPcmInRefillsOf16384Bytes)
{
    const int frames = 10000;
    const QByteArray pcm = Ramp16(frames, 2);
    TWaveIn in;
    in.SetFileName(file("a.wav", WavBuilder::pcmFile(pcm, 2, 44100, 16)));
    EXPECT_EQ(in.WavType(), wtPCM);
    EXPECT_EQ(in.GetChannels(), 2);
    EXPECT_EQ(in.GetSampleRate(), 44100);
    EXPECT_EQ(in.GetBitsPerSample(), 16);
    in.Init();
    EXPECT_EQ(in.Size, 4 * frames);
    QByteArray all;
    for (;;) {
        uint8_t *buffer = nullptr;
        uint32_t bytes = 100000;
        in.GetData(buffer, bytes);
        if (bytes == 0)
            break;
        EXPECT_LE(bytes, 16384u);
        all.append(reinterpret_cast<const char *>(buffer), bytes);
    }
    in.Flush();
    EXPECT_EQ(all, pcm);
}

TEST_F(WaveInTest, HeaderScanRules)
{
    const QByteArray pcm = Ramp16(100, 1);
    WavBuilder chunks;
    chunks.chunk("fmt ", WavBuilder::fmt(1, 1, 8000, 16))
        .chunk("LIST", QByteArray("INFOISFT\x06\0\0\0Tester", 18))
        .chunk("data", pcm);
    // Junk before "RIFF", and a LIST chunk between "fmt " and "data".
    TWaveIn junk;
    junk.SetFileName(file("junk.wav", QByteArray(5000, 'x') + WavBuilder::riff(chunks.bytes)));
    EXPECT_EQ(Drain(junk), pcm);
    EXPECT_TRUE(junk.Valid);

    // Lower-case ids.
    WavBuilder lower;
    lower.chunk("FMT ", WavBuilder::fmt(1, 1, 8000, 16)).chunk("data", pcm);
    TWaveIn lowerIn;
    lowerIn.SetFileName(
        file("lower.wav", WavBuilder::riff(QByteArray(lower.bytes).replace("data", "DATA"), "riff", "wave")));
    EXPECT_EQ(Drain(lowerIn), pcm);

    // Too much junk: the header is given up after 65,535 bytes.
    TWaveIn far;
    far.SetFileName(file("far.wav", QByteArray(70000, 'x') + WavBuilder::riff(chunks.bytes)));
    EXPECT_FALSE(far.TryOpen());
    EXPECT_EQ(far.WavType(), wtUnsupported);
    EXPECT_EQ(Drain(far), QByteArray());
}

TEST_F(WaveInTest, UnsupportedFilesMakeTheReaderInvalid)
{
    WavBuilder gsm;
    gsm.chunk("fmt ", WavBuilder::fmt(0x31, 1, 8000, 0, 65)).chunk("data", QByteArray(650, '\1'));
    WavBuilder odd;
    odd.chunk("fmt ", WavBuilder::fmt(1, 1, 8000, 12)).chunk("data", QByteArray(100, '\1'));
    for (const QByteArray &bytes :
         {WavBuilder::riff(gsm.bytes), WavBuilder::riff(odd.bytes), QByteArray("not a wav"), QByteArray()}) {
        TWaveIn in;
        in.SetFileName(file("bad.wav", bytes));
        EXPECT_FALSE(in.TryOpen());
        EXPECT_EQ(in.GetChannels(), 0);
        in.Init();
        EXPECT_EQ(in.Size, 0);
        uint8_t *buffer = nullptr;
        uint32_t count = 100;
        in.GetData(buffer, count);
        EXPECT_EQ(count, 0u);
        in.Flush();
    }
    TWaveIn missing;
    missing.SetFileName(home.root() + "/missing.wav");
    EXPECT_THROW(missing.Init(), EAuException);
}

TEST_F(WaveInTest, ImaAdpcmMonoGives1017SamplesABlock)
{
    // Two blocks of 512 bytes; every nibble 1 (a small step up), the header of each block its own start.
    WavBuilder block;
    block.u16(uint16_t(int16_t(-100))).raw(QByteArray("\0\0", 2)).raw(QByteArray(508, '\x11'));
    const QByteArray data = block.bytes + block.bytes;
    WavBuilder fmt;
    fmt.raw(WavBuilder::fmt(0x11, 1, 22050, 4, 512)).u16(2).u16(1017);
    WavBuilder chunks;
    chunks.chunk("fmt ", fmt.bytes).chunk("fact", QByteArray("\xf2\x07\0\0", 4)).chunk("data", data);
    TWaveIn in;
    in.SetFileName(file("ima.wav", WavBuilder::riff(chunks.bytes)));
    EXPECT_EQ(in.WavType(), wtDVIADPCM);
    EXPECT_EQ(in.SamplesPerBlock(), 1017);
    EXPECT_EQ(in.GetBitsPerSample(), 16);
    const QByteArray out = Drain(in, 50000);
    ASSERT_EQ(out.size(), 2034 * 2);
    const auto *s = reinterpret_cast<const int16_t *>(out.constData());
    // The reference: the same nibbles through the published algorithm.
    ImaAdpcm::Channel c{-100, 0};
    EXPECT_EQ(s[0], -100);
    for (int i = 1; i < 1017; ++i)
        ASSERT_EQ(s[i], ImaAdpcm::Decode(c, 1)) << i;
    EXPECT_EQ(s[1017], -100);

    // Seeking lands on the start of the block holding the sample.
    in.Init();
    EXPECT_TRUE(in.Seek(1500));
    uint8_t *buffer = nullptr;
    uint32_t bytes = 2;
    in.GetData(buffer, bytes);
    EXPECT_EQ(*reinterpret_cast<const int16_t *>(buffer), -100);
    EXPECT_EQ(in.Position, 1017 * 2 + 2);
    in.Flush();
}

TEST_F(WaveInTest, FloatSamplesBecome32BitIntegers)
{
    WavBuilder data;
    const float values[] = {0.0f, 1.0f, -1.0f, 0.5f, -0.25f, 2.0f};
    for (float v : values)
        data.raw(QByteArray(reinterpret_cast<const char *>(&v), 4));
    WavBuilder chunks;
    chunks.chunk("fmt ", WavBuilder::fmt(3, 2, 48000, 32)).chunk("data", data.bytes);
    TWaveIn in;
    in.SetFileName(file("float.wav", WavBuilder::riff(chunks.bytes)));
    EXPECT_EQ(in.WavType(), wtIEEEFloat);
    EXPECT_EQ(in.GetBitsPerSample(), 32);
    const QByteArray out = Drain(in);
    ASSERT_EQ(out.size(), 24);
    const auto *s = reinterpret_cast<const int32_t *>(out.constData());
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 2147483647);
    EXPECT_EQ(s[2], int32_t(-2147483647 - 1));
    EXPECT_EQ(s[3], 1073741823); // floor(0.5 × 2147483647)
    EXPECT_EQ(s[4], -536870912); // floor(-0.25 × 2147483647)
    EXPECT_EQ(s[5], 2147483647);

    // 64-bit floats deliver half the bytes.
    WavBuilder doubles;
    for (double v : {0.5, -0.5})
        doubles.raw(QByteArray(reinterpret_cast<const char *>(&v), 8));
    WavBuilder chunks64;
    chunks64.chunk("fmt ", WavBuilder::fmt(3, 1, 48000, 64)).chunk("data", doubles.bytes);
    TWaveIn in64;
    in64.SetFileName(file("double.wav", WavBuilder::riff(chunks64.bytes)));
    in64.Init();
    EXPECT_EQ(in64.Size, 8);
    in64.Flush();
    const QByteArray out64 = Drain(in64);
    ASSERT_EQ(out64.size(), 8);
    EXPECT_EQ(reinterpret_cast<const int32_t *>(out64.constData())[1], -1073741824);
}

TEST_F(WaveInTest, TruncatedDataIsReadAsFarAsItGoes)
{
    const QByteArray pcm = Ramp16(1000, 2);
    QByteArray bytes = WavBuilder::pcmFile(pcm, 2, 44100, 16);
    bytes.chop(1001); // the header still announces 4000 bytes
    TWaveIn in;
    in.SetFileName(file("short.wav", bytes));
    in.Init();
    EXPECT_EQ(in.Size, 4000 - 1004);
    in.Flush();
    EXPECT_EQ(Drain(in), pcm.left(4000 - 1004));
}

TEST_F(WaveInTest, SeekingPcm)
{
    const QByteArray pcm = Ramp16(500, 2);
    TWaveIn in;
    in.SetFileName(file("seek.wav", WavBuilder::pcmFile(pcm, 2, 44100, 16)));
    in.Init();
    EXPECT_TRUE(in.Seek(300));
    QByteArray rest;
    for (;;) {
        uint8_t *buffer = nullptr;
        uint32_t bytes = 1000;
        in.GetData(buffer, bytes);
        if (!bytes)
            break;
        rest.append(reinterpret_cast<const char *>(buffer), bytes);
    }
    in.Flush();
    EXPECT_EQ(rest, pcm.mid(1200));
}

// Truncated and corrupted headers and blocks must neither crash the reader nor make it read past its
// buffers (the sanitizer run of the suite watches for that).
TEST_F(WaveInTest, DamagedFilesNeverCrashTheReader)
{
    WavBuilder imaFmt;
    imaFmt.raw(WavBuilder::fmt(0x11, 2, 44100, 4, 256)).u16(2).u16(249);
    WavBuilder ima;
    ima.chunk("fmt ", imaFmt.bytes)
        .chunk("fact", QByteArray("\x10\x27\0\0", 4))
        .chunk("data", QByteArray(2560, '\x5a'));
    WavBuilder msFmt;
    msFmt.raw(WavBuilder::fmt(2, 1, 22050, 4, 256)).u16(32).u16(500).u16(7);
    for (int i = 0; i < 7; ++i)
        msFmt.u16(uint16_t(256 * i)).u16(uint16_t(-128 * i));
    WavBuilder ms;
    ms.chunk("fmt ", msFmt.bytes)
        .chunk("fact", QByteArray("\x00\x10\0\0", 4))
        .chunk("data", QByteArray(2560, '\x93'));
    const QList<QByteArray> seeds = {WavBuilder::riff(ima.bytes), WavBuilder::riff(ms.bytes),
                                     WavBuilder::pcmFile(Ramp16(300, 2), 2, 44100, 16)};
    QRandomGenerator random(2024);
    int files = 0;
    for (const QByteArray &seed : seeds) {
        for (int round = 0; round < 60; ++round) {
            QByteArray bytes = seed;
            if (round % 3 == 0) {
                bytes.truncate(int(random.bounded(bytes.size())));
            } else {
                const int flips = 1 + int(random.bounded(8));
                for (int f = 0; f < flips; ++f) {
                    // Mostly the header, sometimes the blocks.
                    const int at =
                        int(random.bounded(round % 3 == 1 ? std::min<int>(bytes.size(), 120) : bytes.size()));
                    bytes[at] = char(random.bounded(256));
                }
            }
            TWaveIn in;
            in.SetFileName(file("fuzz.wav", bytes));
            const QByteArray out = Drain(in, 1 + random.bounded(20000));
            EXPECT_LE(out.size(), std::max<int64_t>(in.Size, 0) + 1) << round;
            ++files;
        }
    }
    EXPECT_EQ(files, 180);
}

} // namespace

namespace {

TEST(ImaAdpcm, PredictionStaysWithinMinus32767And32767)
{
    ImaAdpcm::Channel down{-32000, 60};
    ImaAdpcm::Channel up{32000, 60};
    for (int i = 0; i < 20; ++i) {
        ImaAdpcm::Decode(down, 0xF);
        ImaAdpcm::Decode(up, 0x7);
    }
    EXPECT_EQ(down.predicted, -32767);
    EXPECT_EQ(up.predicted, 32767);
    EXPECT_EQ(down.index, 88);

    // The encoder moves its state exactly as the decoder will.
    ImaAdpcm::Channel encoder{0, 0};
    ImaAdpcm::Channel decoder{0, 0};
    for (int i = 0; i < 2000; ++i) {
        const int sample = int(20000 * std::sin(i * 0.01));
        const int nibble = ImaAdpcm::Encode(encoder, sample);
        ImaAdpcm::Decode(decoder, nibble);
        ASSERT_EQ(encoder.predicted, decoder.predicted);
        ASSERT_EQ(encoder.index, decoder.index);
    }
}

} // namespace
