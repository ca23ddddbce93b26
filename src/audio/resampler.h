// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auconverter.h"

#include <cstdint>
#include <vector>

// A converter that changes the sample rate of its input to OutSampleRate (the input's own rate passes
// through unchanged). The width and channels are the input's. A concrete converter fills the output block
// (refill) and sets the state below in DoInit and DoFlush; handing the blocks out is shared: Size is
// respected, and Position follows the input (round(Size / input Size × input Position)), so progress
// tracks the input.
class TRateConverter : public TAuConverter {
    Q_OBJECT
public:
    using TAuConverter::TAuConverter;
    int OutSampleRate = 0;

    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;
    void GetData(uint8_t *&buffer, uint32_t &bytes) override;

    bool PassThrough() const { return m_passThrough; }

protected:
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override;
    void requireInput() const;
    // Converts the next piece of input into m_outputBytes (m_read 0, m_fill its length); false at the end.
    virtual bool refill() = 0;

    bool m_open = false;
    bool m_passThrough = false;
    std::vector<uint8_t> m_outputBytes;
    uint32_t m_read = 0;
    uint32_t m_fill = 0;
    int64_t m_delivered = 0;
};
