// SPDX-License-Identifier: GPL-3.0-or-later
#include "fastresampler.h"

#include "auexception.h"
#include "samples.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

TFastResampler::TFastResampler(QObject *parent) : TRateConverter(parent) {}

TFastResampler::~TFastResampler() = default;

void TFastResampler::DesignLowPass(double cutoff, std::array<double, 5> &a, std::array<double, 5> &b)
{
    // The cascade of two-pole sections: each pole pair of the Chebyshev prototype is warped for the ripple,
    // mapped to the z-plane by the bilinear transform, moved to the cut-off, and multiplied into the
    // running polynomial; the result is scaled to unity gain at zero frequency.
    constexpr int poles = 4;
    constexpr double ripple = 5.0; // percent
    constexpr double pi = std::numbers::pi;
    double A[23] = {};
    double B[23] = {};
    A[2] = 1;
    B[2] = 1;
    for (int p = 1; p <= poles / 2; ++p) {
        double rp = -std::cos(pi / (poles * 2) + (p - 1) * pi / poles);
        double ip = std::sin(pi / (poles * 2) + (p - 1) * pi / poles);
        const double es = std::sqrt(std::pow(100.0 / (100.0 - ripple), 2) - 1);
        const double vx = (1.0 / poles) * std::log(1 / es + std::sqrt(1 / (es * es) + 1));
        double kx = (1.0 / poles) * std::log(1 / es + std::sqrt(1 / (es * es) - 1));
        kx = (std::exp(kx) + std::exp(-kx)) / 2;
        rp = rp * ((std::exp(vx) - std::exp(-vx)) / 2) / kx;
        ip = ip * ((std::exp(vx) + std::exp(-vx)) / 2) / kx;

        const double t = 2 * std::tan(0.5);
        const double w = 2 * pi * cutoff;
        const double m = rp * rp + ip * ip;
        double d = 4 - 4 * rp * t + m * t * t;
        const double x0 = t * t / d;
        const double x1 = 2 * t * t / d;
        const double x2 = t * t / d;
        const double y1 = (8 - 2 * m * t * t) / d;
        const double y2 = (-4 - 4 * rp * t - m * t * t) / d;

        const double k = std::sin(0.5 - w / 2) / std::sin(0.5 + w / 2);
        d = 1 + y1 * k - y2 * k * k;
        const double a0 = (x0 - x1 * k + x2 * k * k) / d;
        const double a1 = (-2 * x0 * k + x1 + x1 * k * k - 2 * x2 * k) / d;
        const double a2 = (x0 * k * k - x1 * k + x2) / d;
        const double b1 = (2 * k + y1 + y1 * k * k - 2 * y2 * k) / d;
        const double b2 = (-k * k - y1 * k + y2) / d;

        double ta[23];
        double tb[23];
        std::copy(std::begin(A), std::end(A), ta);
        std::copy(std::begin(B), std::end(B), tb);
        for (int i = 2; i < 23; ++i) {
            A[i] = a0 * ta[i] + a1 * ta[i - 1] + a2 * ta[i - 2];
            B[i] = tb[i] - b1 * tb[i - 1] - b2 * tb[i - 2];
        }
    }
    B[2] = 0;
    for (int i = 0; i <= 20; ++i) {
        A[i] = A[i + 2];
        B[i] = -B[i + 2];
    }
    double sa = 0;
    double sb = 0;
    for (int i = 0; i <= 20; ++i) {
        sa += A[i];
        sb += B[i];
    }
    const double gain = sa / (1 - sb);
    for (int i = 0; i <= poles; ++i) {
        a[size_t(i)] = A[i] / gain;
        b[size_t(i)] = B[i];
    }
    b[0] = 0;
}

void TFastResampler::DoInit()
{
    requireInput();
    m_input->Init();
    const int bits = m_input->GetBitsPerSample();
    m_channels = m_input->GetChannels();
    m_bytesPerSample = bits / 8;
    m_frameBytes = m_channels * m_bytesPerSample;
    m_inBlock = uint32_t(std::max(m_input->GetSampleRate() / 5, 0));
    m_outBlock = uint32_t(std::max(OutSampleRate / 5, 0));
    m_inBytes = m_inBlock * uint32_t(m_frameBytes);
    m_outBytes = m_outBlock * uint32_t(m_frameBytes);
    Position = 0;
    m_read = m_fill = 0;
    m_delivered = 0;
    const int64_t inputSize = m_input->Size;
    SizeIsEstimate = bool(m_input->SizeIsEstimate);
    Size =
        inputSize > 0 && m_inBytes > 0 ? std::llround(double(inputSize) * m_outBytes / m_inBytes) : inputSize;
    m_open = true;
    m_passThrough = m_outBytes == m_inBytes;
    if (m_passThrough)
        return;
    if (m_inBlock == 0 || m_outBlock == 0 || m_frameBytes == 0)
        throw EAuException(QStringLiteral("Cannot resample from %1 Hz to %2 Hz")
                               .arg(m_input->GetSampleRate())
                               .arg(OutSampleRate));

    uint32_t capacity = m_inBlock;
    if (m_inBlock < m_outBlock) {
        uint32_t l = 2;
        while (l * m_inBlock < m_outBlock)
            ++l;
        capacity = l * m_inBlock;
    }
    capacity = std::max(capacity, m_outBlock + 1);
    m_inputBytes.assign(m_inBytes, 0);
    m_in.assign(size_t(m_inBlock) * m_channels, 0.0f);
    m_out.assign(size_t(capacity) * m_channels, 0.0f);
    m_outputBytes.assign(size_t(capacity) * m_frameBytes, 0);

    const double ratio = double(std::min(m_inBytes, m_outBytes)) / double(std::max(m_inBytes, m_outBytes));
    DesignLowPass(0.85 * ratio / 2, m_a, m_b);
    m_stages.assign(size_t(m_channels + 1) / 2, {});
}

void TFastResampler::DoFlush()
{
    if (m_input)
        m_input->Flush();
    std::vector<uint8_t>().swap(m_inputBytes);
    std::vector<uint8_t>().swap(m_outputBytes);
    std::vector<float>().swap(m_in);
    std::vector<float>().swap(m_out);
    m_stages.clear();
    std::vector<Pair>().swap(m_work);
    m_open = false;
    m_read = m_fill = 0;
}

namespace {

using Pair = TFastResampler::Pair;

struct Coefficients {
    Pair a0, a1, a2, a3, a4, b1, b2, b3, b4;
};

// One stage over a block, in place. The sum takes the outputs newest last, which keeps the chain from one
// frame to the next at one multiply-add. MADD(x, y, z) is x * y + z.
#define SONDREL_RUN_STAGE(MADD)                                                                              \
    Pair in1 = s.x[0], in2 = s.x[1], in3 = s.x[2], in4 = s.x[3];                                             \
    Pair out1 = s.y[0], out2 = s.y[1], out3 = s.y[2], out4 = s.y[3];                                         \
    for (size_t t = 0; t < count; ++t) {                                                                     \
        const Pair in = work[t];                                                                             \
        const Pair inputs = MADD(c.a4, in4, MADD(c.a3, in3, MADD(c.a2, in2, MADD(c.a1, in1, c.a0 * in))));   \
        const Pair partial = MADD(c.b2, out2, MADD(c.b3, out3, MADD(c.b4, out4, inputs)));                   \
        const Pair out = MADD(c.b1, out1, partial);                                                          \
        in4 = in3;                                                                                           \
        in3 = in2;                                                                                           \
        in2 = in1;                                                                                           \
        in1 = in;                                                                                            \
        out4 = out3;                                                                                         \
        out3 = out2;                                                                                         \
        out2 = out1;                                                                                         \
        out1 = out;                                                                                          \
        work[t] = out;                                                                                       \
    }                                                                                                        \
    s.x[0] = in1, s.x[1] = in2, s.x[2] = in3, s.x[3] = in4;                                                  \
    s.y[0] = out1, s.y[1] = out2, s.y[2] = out3, s.y[3] = out4;

#define SONDREL_PLAIN_MADD(x, y, z) ((x) * (y) + (z))

template <typename Stage> void runStagePlain(Stage &s, const Coefficients &c, Pair *work, size_t count)
{
    SONDREL_RUN_STAGE(SONDREL_PLAIN_MADD)
}

#if defined(__x86_64__) && defined(__GNUC__)
#define SONDREL_FMA_MADD(x, y, z) Pair(_mm_fmadd_pd(__m128d(x), __m128d(y), __m128d(z)))

// The same with fused multiply-adds, on processors that have them: half the instructions.
template <typename Stage>
__attribute__((target("fma"))) void runStageFma(Stage &s, const Coefficients &c, Pair *work, size_t count)
{
    SONDREL_RUN_STAGE(SONDREL_FMA_MADD)
}

const bool haveFma = __builtin_cpu_supports("fma");
#else
constexpr bool haveFma = false;
#endif

} // namespace

void TFastResampler::filter(float *frames, size_t count)
{
    // Channels go through in pairs; each of the four stages runs over the whole block in turn.
    const auto both = [](double v) { return Pair{v, v}; };
    const Coefficients c{both(m_a[0]), both(m_a[1]), both(m_a[2]), both(m_a[3]), both(m_a[4]),
                         both(m_b[1]), both(m_b[2]), both(m_b[3]), both(m_b[4])};
    const size_t n = size_t(m_channels);
    if (m_work.size() < count)
        m_work.resize(count);
    Pair *work = m_work.data();
    for (size_t pair = 0; pair * 2 < n; ++pair) {
        const size_t left = pair * 2;
        const bool two = left + 1 < n;
        for (size_t t = 0; t < count; ++t)
            work[t] = Pair{frames[t * n + left], two ? frames[t * n + left + 1] : 0.0f};
        for (Stage &stage : m_stages[pair]) {
#if defined(__x86_64__) && defined(__GNUC__)
            if (haveFma) {
                runStageFma(stage, c, work, count);
                continue;
            }
#endif
            runStagePlain(stage, c, work, count);
        }
        for (size_t t = 0; t < count; ++t) {
            frames[t * n + left] = float(work[t][0]);
            if (two)
                frames[t * n + left + 1] = float(work[t][1]);
        }
    }
}

bool TFastResampler::refill()
{
    const uint32_t got = m_input->ReadFully(m_inputBytes.data(), m_inBytes);
    const size_t n = got / uint32_t(m_frameBytes);
    if (n == 0)
        return false;
    const size_t channels = size_t(m_channels);
    Samples::ToFloat(m_inputBytes.data(), m_in.data(), n * channels, m_bytesPerSample * 8);
    size_t q = 0;
    if (m_inBytes < m_outBytes) {
        int64_t e = 0;
        size_t i = 0;
        while (i < n) {
            std::copy_n(m_in.data() + i * channels, channels, m_out.data() + q * channels);
            e -= m_inBytes;
            if (e < 0) {
                e += m_outBytes;
                ++i;
            }
            ++q;
        }
        filter(m_out.data(), q);
    } else {
        filter(m_in.data(), n);
        int64_t e = 0;
        for (size_t t = 0; t < n; ++t) {
            e -= m_outBytes;
            if (e < 0) {
                std::copy_n(m_in.data() + t * channels, channels, m_out.data() + q * channels);
                ++q;
                e += m_inBytes;
            }
        }
    }
    Samples::FromFloat(m_out.data(), m_outputBytes.data(), q * channels, m_bytesPerSample * 8);
    m_read = 0;
    m_fill = uint32_t(q * size_t(m_frameBytes));
    return true;
}
