// SPDX-License-Identifier: GPL-3.0-or-later
#include "samples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Samples {

namespace {

// Rounds to the nearest integer, ties to even, without a library call: adding and taking away 1.5 × 2^52
// leaves a double with no fraction bits, rounded the way the processor rounds by default.
inline int32_t roundToInt(double v)
{
    constexpr double magic = 6755399441055744.0;
    return int32_t((v + magic) - magic);
}

} // namespace

void ToFloat(const uint8_t *in, float *out, size_t count, int bits)
{
    switch (bits) {
    case 8:
        for (size_t i = 0; i < count; ++i)
            out[i] = float(in[i]) / 128.0f - 1.0f;
        break;
    case 16:
        for (size_t i = 0; i < count; ++i) {
            int16_t v;
            std::memcpy(&v, in + 2 * i, 2);
            out[i] = float(v) * (1.0f / 32768.0f);
        }
        break;
    case 24:
        for (size_t i = 0; i < count; ++i)
            out[i] = float(Read24(in + 3 * i)) * (1.0f / 8388608.0f);
        break;
    case 32:
        for (size_t i = 0; i < count; ++i) {
            int32_t v;
            std::memcpy(&v, in + 4 * i, 4);
            out[i] = float(v) * (1.0f / 2147483648.0f);
        }
        break;
    default:
        break;
    }
}

void FromFloat(const float *in, uint8_t *out, size_t count, int bits)
{
    switch (bits) {
    case 8:
        for (size_t i = 0; i < count; ++i) {
            const float v = std::clamp(in[i], -1.0f, 1.0f);
            out[i] = v >= 1.0f ? 255 : v > -1.0f ? uint8_t(std::floor((v + 1.0f) * 128.0f)) : 0;
        }
        break;
    case 16:
        for (size_t i = 0; i < count; ++i) {
            const int16_t v = int16_t(roundToInt(double(std::clamp(in[i], -1.0f, 1.0f) * 32767.0f)));
            std::memcpy(out + 2 * i, &v, 2);
        }
        break;
    case 24:
        for (size_t i = 0; i < count; ++i)
            Write24(out + 3 * i, roundToInt(double(std::clamp(in[i], -1.0f, 1.0f) * 8388607.0f)));
        break;
    case 32:
        for (size_t i = 0; i < count; ++i) {
            const int32_t s = roundToInt(std::clamp(double(in[i]), -1.0, 1.0) * 2147483647.0);
            std::memcpy(out + 4 * i, &s, 4);
        }
        break;
    default:
        break;
    }
}

} // namespace Samples

void ClearUpperVectorState()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        asm volatile("vzeroupper" ::: "memory");
#endif
}
