// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Undoes the pre-emphasis of Compact Disc audio (the 50/15 µs curve of IEC 60908): a treble shelf falling
// to about -10 dB, as one biquad for 44100 Hz whose response lies within 0.05 dB of the ideal curve from 20
// Hz to 20 kHz. Keeps its state between calls, so a stream may come in blocks of any size.
class TDeemphasis {
public:
    // Filters interleaved 16-bit stereo frames in place (rounded to the nearest sample, held to the range).
    void Process(int16_t *frames, size_t count);

private:
    struct State {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };
    std::array<State, 2> m_state{};
};
