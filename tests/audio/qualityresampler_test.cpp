// SPDX-License-Identifier: GPL-3.0-or-later
// The high-quality resampler: its SINAD measured with an FFT of what it makes of pure tones, its length and
// pass-through, beside the fast filter it stands in for.
#include "audio/fastresampler.h"
#include "audio/qualityresampler.h"
#include "audio/samples.h"
#include "memoryaudio.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>

namespace {

using Complex = std::complex<double>;

void fft(std::vector<Complex> &a)
{
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const Complex w = std::polar(1.0, -2 * std::numbers::pi / double(len));
        for (size_t i = 0; i < n; i += len) {
            Complex wn = 1;
            for (size_t k = 0; k < len / 2; ++k) {
                const Complex u = a[i + k], v = a[i + k + len / 2] * wn;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                wn *= w;
            }
        }
    }
}

// SINAD in dB of one channel of 24-bit PCM holding one tone: the power within the window's main lobe around
// the strongest bin against that of every other bin but DC, under a 7-term Blackman-Harris window (side
// lobes below -180 dB).
double sinad(const QByteArray &pcm, int channels)
{
    constexpr size_t n = 1 << 15;
    const size_t frames = size_t(pcm.size()) / size_t(3 * channels);
    const size_t start = 8192; // past the filter's start
    EXPECT_GE(frames, start + n);
    std::vector<float> all(frames * size_t(channels));
    Samples::ToFloat(reinterpret_cast<const uint8_t *>(pcm.constData()), all.data(), all.size(), 24);
    static const double c[] = {0.27105140069342, -0.43329793923448, 0.21812299954311, -0.06592544638803,
                               0.01081174209837, -0.00077658482522, 0.00001388721735};
    std::vector<Complex> x(n);
    for (size_t i = 0; i < n; ++i) {
        double w = 0;
        for (int k = 0; k < 7; ++k)
            w += c[k] * std::cos(2 * std::numbers::pi * k * double(i) / double(n));
        x[i] = double(all[(start + i) * size_t(channels)]) * w;
    }
    fft(x);
    size_t peak = 1;
    for (size_t i = 1; i < n / 2; ++i)
        if (std::norm(x[i]) > std::norm(x[peak]))
            peak = i;
    double signal = 0, rest = 0;
    for (size_t i = 12; i < n / 2; ++i)
        (i + 10 >= peak && i <= peak + 10 ? signal : rest) += std::norm(x[i]);
    return 10 * std::log10(signal / rest);
}

QByteArray tone(double hz, int rate, int frames)
{
    return MakePcm(frames, 2, 24,
                   [=](int i, int c) { return 0.8 * std::sin(2 * std::numbers::pi * hz * i / rate + c); });
}

TEST(QualityResampler, SinadOfTonesFrom44100To48000)
{
    for (const double hz : {1000.0, 10000.0}) {
        MemoryFileIn in(tone(hz, 44100, 44100), 24, 2, 44100);
        TQualityResampler high;
        high.SetInput(&in);
        high.OutSampleRate = 48000;
        const QByteArray out = Drain(high);
        EXPECT_EQ(out.size(), 48000 * 6); // the input's length in the new rate
        const double measured = sinad(out, 2);
        RecordProperty(hz < 5000 ? "sinad_1k" : "sinad_10k", std::to_string(measured));
        EXPECT_GE(measured, 90.0) << hz << " Hz";

        MemoryFileIn again(tone(hz, 44100, 44100), 24, 2, 44100);
        TFastResampler fast;
        fast.SetInput(&again);
        fast.OutSampleRate = 48000;
        EXPECT_LT(sinad(Drain(fast), 2), 40.0) << hz << " Hz (the fast filter)";
    }
}

TEST(QualityResampler, DownsamplingSixteenBitsAndPassThrough)
{
    // 48,000 → 22,050 Hz at 16 bits: a 5 kHz tone stays clean down to the 16-bit floor.
    const QByteArray pcm = MakePcm(
        96000, 1, 16, [](int i, int) { return 0.5 * std::sin(i * 2 * std::numbers::pi * 5000 / 48000); });
    MemoryFileIn in(pcm, 16, 1, 48000);
    TQualityResampler high;
    high.SetInput(&in);
    high.OutSampleRate = 22050;
    const QByteArray out = Drain(high);
    EXPECT_EQ(out.size(), 44100 * 2);
    EXPECT_EQ(high.GetSampleRate(), 22050);

    MemoryFileIn same(pcm, 16, 1, 48000);
    high.SetInput(&same);
    high.OutSampleRate = 48000;
    EXPECT_EQ(Drain(high), pcm);
    EXPECT_TRUE(high.PassThrough());
}

} // namespace
