// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The IMA ADPCM tables and one coding step, shared by the WAV reader and writer. Predicted values are kept
// within -32767 ... 32767 and the step index within 0 ... 88.
namespace ImaAdpcm {

extern const int16_t StepTable[89];
extern const int8_t IndexTable[16];

struct Channel {
    int predicted = 0;
    int index = 0;
};

// Decodes one nibble.
inline int16_t Decode(Channel &c, int nibble)
{
    const int step = StepTable[c.index];
    int diff = step >> 3;
    if (nibble & 4)
        diff += step;
    if (nibble & 2)
        diff += step >> 1;
    if (nibble & 1)
        diff += step >> 2;
    c.predicted += (nibble & 8) ? -diff : diff;
    if (c.predicted > 32767)
        c.predicted = 32767;
    else if (c.predicted < -32767)
        c.predicted = -32767;
    c.index += IndexTable[nibble & 15];
    c.index = c.index < 0 ? 0 : c.index > 88 ? 88 : c.index;
    return int16_t(c.predicted);
}

// Encodes one sample, moving the channel exactly as Decode will.
inline int Encode(Channel &c, int sample)
{
    const int step = StepTable[c.index];
    int diff = sample - c.predicted;
    int nibble = 0;
    if (diff < 0) {
        nibble = 8;
        diff = -diff;
    }
    int part = step;
    if (diff >= part) {
        nibble |= 4;
        diff -= part;
    }
    part >>= 1;
    if (diff >= part) {
        nibble |= 2;
        diff -= part;
    }
    part >>= 1;
    if (diff >= part)
        nibble |= 1;
    Decode(c, nibble);
    return nibble;
}

} // namespace ImaAdpcm
