// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auconverter.h"

#include <array>

// Attenuates one side of a stereo signal; mono input is widened to stereo first. Balance above 0.5 scales
// the left channel by 1 - Balance, otherwise the right channel by Balance: only one channel ever changes,
// and 0.5 halves the right one (0 silences the right channel, 1 the left).
class TStereoBalance final : public TAuConverter {
    Q_OBJECT
public:
    using TAuConverter::TAuConverter;

    float Balance() const { return m_balance; }
    // Values outside 0 ... 1 are ignored.
    void SetBalance(float balance);

    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;

protected:
    void DoInit() override;
    void DoFlush() override;
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override;

private:
    void requireInput() const;

    float m_balance = 0.5f;
    bool m_open = false;
    std::array<uint8_t, 32768> m_work{};
};
