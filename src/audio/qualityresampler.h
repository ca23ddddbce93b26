// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "resampler.h"

#include <vector>

struct soxr;

// Changes the sample rate of its input with libsoxr at its very high quality (a linear-phase filter with
// about 175 dB of stop-band rejection), in blocks of 8192 frames; 8 to 32-bit integer PCM in, the same out.
// Size is the input's, scaled by the rate ratio.
class TQualityResampler final : public TRateConverter {
    Q_OBJECT
public:
    explicit TQualityResampler(QObject *parent = nullptr);
    ~TQualityResampler() override;

protected:
    void DoInit() override;
    void DoFlush() override;
    bool refill() override;

private:
    void release();

    soxr *m_soxr = nullptr;
    bool m_inputEnded = false;
    bool m_drained = false;
    int m_bits = 0;
    int m_channels = 0;
    int m_frameBytes = 0;
    double m_ratio = 1;
    std::vector<uint8_t> m_inputBytes;
    std::vector<float> m_in;
    std::vector<float> m_out;
};
