// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auconverter.h"

#include <vector>

// Changes the sample width (8, 16, 24, 32 bits) and converts between mono and stereo. An output setting of
// 0 keeps the input's; with both 0 the data passes through unchanged. Stereo to mono averages the two
// channels; mono to stereo writes each sample to both.
class TAudioConverter final : public TAuConverter {
    Q_OBJECT
public:
    using TAuConverter::TAuConverter;

    int OutBitsPerSample = 0;
    int OutChannels = 0;

    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;

protected:
    void DoInit() override;
    void DoFlush() override;
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override;

private:
    bool m_open = false;
    int m_inBytesPerSample = 0;
    int m_outBytesPerSample = 0;
    int m_inChannels = 0;
    int m_outChannels = 0;
    std::vector<uint8_t> m_bytes;
    std::vector<float> m_floats;
};
