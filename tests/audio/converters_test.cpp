// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/audioconverter.h"
#include "audio/auexception.h"
#include "audio/fastresampler.h"
#include "audio/samples.h"
#include "audio/stereobalance.h"
#include "memoryaudio.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>

namespace {

QByteArray Sine(int frames, int channels, int rate, double hz, double amplitude)
{
    return MakePcm(frames, channels, 16,
                   [=](int i, int) { return amplitude * std::sin(2 * std::numbers::pi * hz * i / rate); });
}

double Rms16(const QByteArray &pcm, int skipFrames, int channels)
{
    const auto *s = reinterpret_cast<const int16_t *>(pcm.constData());
    const qsizetype count = pcm.size() / 2;
    double sum = 0;
    qsizetype n = 0;
    for (qsizetype i = qsizetype(skipFrames) * channels; i < count; ++i, ++n)
        sum += double(s[i]) * s[i];
    return n ? std::sqrt(sum / double(n)) / 32768.0 : 0;
}

struct BlockCase {
    int inRate;
    int outRate;
    int framesPerBlock; // output frames from one full input block
};

void PrintTo(const BlockCase &c, std::ostream *os)
{
    *os << c.inRate << " Hz to " << c.outRate << " Hz";
}

class ResamplerBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(ResamplerBlocks, FullBlocksGiveTheirFrameCounts)
{
    const BlockCase c = GetParam();
    const int inBlock = c.inRate / 5;
    MemoryFileIn source(Sine(2 * inBlock, 2, c.inRate, 440, 0.5), 16, 2, c.inRate);
    TFastResampler resampler;
    resampler.SetInput(&source);
    resampler.OutSampleRate = c.outRate;
    const QByteArray out = Drain(resampler, 5000);
    EXPECT_EQ(out.size(), qsizetype(2) * c.framesPerBlock * 4);
    EXPECT_FALSE(resampler.PassThrough());
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerBlocks,
                         ::testing::Values(BlockCase{22050, 44100, 8819}, BlockCase{11025, 44100, 8817},
                                           BlockCase{44100, 48000, 9599}, BlockCase{44100, 22050, 4410}),
                         [](const ::testing::TestParamInfo<BlockCase> &param) {
                             return "From" + std::to_string(param.param.inRate) + "To" +
                                    std::to_string(param.param.outRate);
                         });

TEST(Resampler, SizeAndPositionFollowTheInput)
{
    const int frames = 11025 * 3 + 100; // a partial last block
    MemoryFileIn source(Sine(frames, 1, 11025, 300, 0.3), 16, 1, 11025);
    TFastResampler resampler;
    resampler.SetInput(&source);
    resampler.OutSampleRate = 44100;
    resampler.Init();
    EXPECT_EQ(resampler.Size, int64_t(std::llround(double(frames) * 2 * 8820 / 2205)));
    uint8_t *buffer = nullptr;
    uint32_t bytes = 1000;
    resampler.GetData(buffer, bytes);
    EXPECT_EQ(bytes, 1000u);
    // Position follows the input's progress, not the bytes handed out.
    EXPECT_EQ(resampler.Position,
              std::llround(double(resampler.Size) / double(source.Size) * double(source.Position)));
    resampler.Flush();

    const QByteArray out = Drain(resampler, 777);
    EXPECT_LE(out.size(), resampler.Size > 0 ? qsizetype(frames) * 2 * 4 : 0);
    // Fifteen full blocks of 8817 frames and a partial one: 100 input frames give 1 + 4 × 99.
    EXPECT_EQ(out.size(), qsizetype(15 * 8817 + 1 + 4 * 99) * 2);
}

TEST(Resampler, EqualRatesPassThroughUnchanged)
{
    const QByteArray pcm = Sine(30000, 2, 44100, 1000, 0.7);
    MemoryFileIn source(pcm, 16, 2, 44100);
    TFastResampler resampler;
    resampler.SetInput(&source);
    resampler.OutSampleRate = 44102; // the same block size
    const QByteArray out = Drain(resampler, 3000);
    EXPECT_TRUE(resampler.PassThrough());
    EXPECT_EQ(out, pcm);
    EXPECT_EQ(resampler.GetSampleRate(), 44102);
}

TEST(Resampler, LowPassKeepsTheBandAndRemovesWhatFoldsBack)
{
    std::array<double, 5> a{};
    std::array<double, 5> b{};
    TFastResampler::DesignLowPass(0.2125, a, b);
    const double dcGain = (a[0] + a[1] + a[2] + a[3] + a[4]) / (1 - b[1] - b[2] - b[3] - b[4]);
    EXPECT_NEAR(dcGain, 1.0, 1e-9);
    EXPECT_EQ(b[0], 0.0);

    const auto through = [](double hz) {
        MemoryFileIn source(Sine(44100, 1, 44100, hz, 0.5), 16, 1, 44100);
        TFastResampler resampler;
        resampler.SetInput(&source);
        resampler.OutSampleRate = 22050;
        return Rms16(Drain(resampler), 2205, 1) / (0.5 / std::sqrt(2.0));
    };
    const double pass = through(1000);
    EXPECT_GT(pass, 0.75);
    EXPECT_LT(pass, 1.1);
    EXPECT_LT(through(15000), 0.001); // would fold back to 7050 Hz
}

TEST(Resampler, NeedsAnInputAndAnOpenStream)
{
    TFastResampler resampler;
    EXPECT_THROW(resampler.GetSampleRate(), EAuException);
    EXPECT_THROW(resampler.Init(), EAuException);
    MemoryFileIn source(Sine(100, 2, 44100, 100, 0.1), 16, 2, 44100);
    TFastResampler unopened;
    unopened.SetInput(&source);
    unopened.OutSampleRate = 22050;
    uint8_t *buffer = nullptr;
    uint32_t bytes = 100;
    try {
        unopened.GetData(buffer, bytes);
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "The Stream is not opened");
    }
}

TEST(AudioConverter, TwentyFourBitStereoToSixteenBitMono)
{
    QByteArray pcm(6 * 3, '\0');
    auto *p = reinterpret_cast<uint8_t *>(pcm.data());
    const int32_t values[] = {8388607, -8388608, 4194304, 0, -8388608, -8388608};
    for (int i = 0; i < 6; ++i)
        Samples::Write24(p + 3 * i, values[i]);
    MemoryFileIn source(pcm, 24, 2, 48000);
    TAudioConverter converter;
    converter.SetInput(&source);
    converter.OutBitsPerSample = 16;
    converter.OutChannels = 1;
    EXPECT_EQ(converter.GetChannels(), 1);
    EXPECT_EQ(converter.GetBitsPerSample(), 16);
    EXPECT_EQ(converter.GetSampleRate(), 48000);
    converter.Init();
    EXPECT_EQ(converter.Size, 6);
    converter.Flush();
    const QByteArray out = Drain(converter);
    ASSERT_EQ(out.size(), 6);
    const auto *s = reinterpret_cast<const int16_t *>(out.constData());
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 8192);
    EXPECT_EQ(s[2], -32767);
}

TEST(AudioConverter, WidthsAndChannels)
{
    // 8-bit mono to 16-bit stereo: 128 is silence, 255 and 0 the extremes.
    const QByteArray pcm("\x80\xff\x00\xc0", 4);
    MemoryFileIn source(pcm, 8, 1, 8000);
    TAudioConverter converter;
    converter.SetInput(&source);
    converter.OutBitsPerSample = 16;
    converter.OutChannels = 2;
    const QByteArray out = Drain(converter);
    ASSERT_EQ(out.size(), 16);
    const auto *s = reinterpret_cast<const int16_t *>(out.constData());
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[2], 32511); // 127/128
    EXPECT_EQ(s[3], 32511);
    EXPECT_EQ(s[4], -32767);
    EXPECT_EQ(s[6], 16384); // 0.5 × 32767 rounded

    // 16-bit back to 8-bit (255 became 32511, which the 8-bit rule floors to 254), and both settings 0:
    // unchanged bytes.
    MemoryFileIn wide(out, 16, 2, 8000);
    TAudioConverter narrow;
    narrow.SetInput(&wide);
    narrow.OutBitsPerSample = 8;
    narrow.OutChannels = 1;
    EXPECT_EQ(Drain(narrow), QByteArray("\x80\xfe\x00\xc0", 4));
    TAudioConverter same;
    same.SetInput(&wide);
    EXPECT_EQ(Drain(same, 5), out);

    // More than two channels are never mixed.
    MemoryFileIn six(QByteArray(12 * 6, '\x01'), 16, 6, 48000);
    TAudioConverter keep;
    keep.SetInput(&six);
    keep.OutChannels = 2;
    EXPECT_EQ(keep.GetChannels(), 6);

    TAudioConverter none;
    EXPECT_EQ(none.GetChannels(), 0);
    EXPECT_EQ(none.GetBitsPerSample(), 0);
    EXPECT_THROW(none.Init(), EAuException);
}

QByteArray Pcm16(std::initializer_list<int16_t> values)
{
    QByteArray out;
    for (int16_t v : values)
        out.append(reinterpret_cast<const char *>(&v), 2);
    return out;
}

TEST(StereoBalance, OnlyOneSideChanges)
{
    const QByteArray pcm = Pcm16({1000, 1000, -3000, 3000});
    const auto balanced = [&](float balance) {
        MemoryFileIn source(pcm, 16, 2, 44100);
        TStereoBalance converter;
        converter.SetInput(&source);
        converter.SetBalance(balance);
        return Drain(converter);
    };
    EXPECT_EQ(balanced(0.5f), Pcm16({1000, 500, -3000, 1500}));
    EXPECT_EQ(balanced(0.0f), Pcm16({1000, 0, -3000, 0}));
    EXPECT_EQ(balanced(1.0f), Pcm16({0, 1000, 0, 3000}));
    EXPECT_EQ(balanced(0.75f), Pcm16({250, 1000, -750, 3000}));

    TStereoBalance converter;
    converter.SetBalance(1.5f);
    EXPECT_EQ(converter.Balance(), 0.5f);
    EXPECT_THROW(converter.GetChannels(), EAuException);
}

TEST(StereoBalance, MonoIsWidenedAndSizeDoubled)
{
    MemoryFileIn source(Pcm16({100, -200, 301}), 16, 1, 22050);
    TStereoBalance converter;
    converter.SetInput(&source);
    EXPECT_EQ(converter.GetChannels(), 2);
    converter.Init();
    EXPECT_EQ(converter.Size, 12);
    converter.Flush();
    EXPECT_EQ(Drain(converter), Pcm16({100, 50, -200, -100, 301, 150}));

    TStereoBalance unopened;
    unopened.SetInput(&source);
    uint8_t *buffer = nullptr;
    uint32_t bytes = 4;
    EXPECT_THROW(unopened.GetData(buffer, bytes), EAuException);
}

} // namespace
