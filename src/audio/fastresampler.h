// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "resampler.h"

#include <array>
#include <vector>

// Changes the sample rate of its input. Works in blocks of 0.2 seconds: an upsampled block is spread by
// repetition and then low-pass filtered; a downsampled one is filtered and then thinned. The filter is a
// 4-pole Chebyshev low-pass (5 percent ripple) run four times in a row per channel, at the higher of the
// two rates, with its cut-off at 85 percent of the lower rate's Nyquist frequency. When the two rates
// agree at 0.2-second granularity the data passes through unchanged.
//
// Position follows the input: round(Size / input Size × input Position), so progress tracks the input;
// at most Size bytes are delivered in all.
class TFastResampler final : public TRateConverter {
    Q_OBJECT
public:
    explicit TFastResampler(QObject *parent = nullptr);
    ~TFastResampler() override;

    // The filter coefficients for a cut-off given as a fraction of the sampling rate: a[0..4] for the
    // inputs x[t] .. x[t-4], b[1..4] for the outputs y[t-1] .. y[t-4] (b[0] is 0).
    static void DesignLowPass(double cutoff, std::array<double, 5> &a, std::array<double, 5> &b);

protected:
    void DoInit() override;
    void DoFlush() override;
    bool refill() override;

private:
public:
    // Two channels side by side, so both run through the filter in the same instructions.
    typedef double Pair __attribute__((vector_size(16)));
    struct Stage {
        Pair x[4] = {}; // x[0] is the newest input
        Pair y[4] = {};
    };

private:
    void filter(float *frames, size_t count);

    int m_bytesPerSample = 0;
    int m_frameBytes = 0;
    int m_channels = 0;
    uint32_t m_inBlock = 0;  // I: input frames a block
    uint32_t m_outBlock = 0; // O: output frames a block
    uint32_t m_inBytes = 0;  // IB
    uint32_t m_outBytes = 0; // OB
    std::vector<uint8_t> m_inputBytes;
    std::vector<float> m_in;
    std::vector<float> m_out;
    std::array<double, 5> m_a{};
    std::array<double, 5> m_b{};
    std::vector<std::array<Stage, 4>> m_stages; // per pair of channels
    std::vector<Pair> m_work;
};
