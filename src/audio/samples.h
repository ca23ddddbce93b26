// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// Conversions between interleaved little-endian PCM (8-bit unsigned; 16-, 24- and 32-bit signed) and floats
// in [-1, 1], shared by the converters:
//   to float:   8 bits v / 128 - 1, 16 bits v * 2^-15, 24 bits v * 2^-23, 32 bits v * 2^-31
//   from float: values first limited to -1 ... 1; 8 bits 255 when >= 1, else floor((v + 1) * 128) when
//               > -1, else 0; 16, 24, 32 bits v * (2^(bits-1) - 1) rounded to nearest, ties to even.
namespace Samples {

void ToFloat(const uint8_t *in, float *out, size_t count, int bits);
void FromFloat(const float *in, uint8_t *out, size_t count, int bits);

inline int32_t Read24(const uint8_t *p)
{
    return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
}

inline void Write24(uint8_t *p, int32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
}

} // namespace Samples

// Codec libraries built with SSE instructions (libvorbis) run far slower when AVX code that ran before in the
// same thread (the C library's and Qt's copying routines) left the upper halves of the vector registers in
// use: every SSE instruction then waits on them. Call before handing such a library a block of work. Does
// nothing on processors without AVX.
void ClearUpperVectorState();

// Hands out the next piece, up to `bytes`, of bytes made ahead into `data` (from `read` to `fill`), asking
// `refill` to make more once all were taken (it sets read and fill anew; false when it made none): the
// GetData of sources that decode or convert in blocks. Nothing (null, 0) at the end.
template <typename Refill>
void TakeBuffered(std::vector<uint8_t> &data, uint32_t &read, const uint32_t &fill, Refill refill,
                  uint8_t *&buffer, uint32_t &bytes)
{
    if (read >= fill && !refill()) {
        buffer = nullptr;
        bytes = 0;
        return;
    }
    bytes = std::min(bytes, fill - read);
    buffer = data.data() + read;
    read += bytes;
}
