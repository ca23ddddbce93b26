// SPDX-License-Identifier: GPL-3.0-or-later
#include "qualityresampler.h"

#include "auexception.h"
#include "samples.h"

#include <algorithm>
#include <cmath>
#include <soxr.h>

namespace {

constexpr size_t blockFrames = 8192;

} // namespace

TQualityResampler::TQualityResampler(QObject *parent) : TRateConverter(parent) {}

TQualityResampler::~TQualityResampler()
{
    release();
}

void TQualityResampler::release()
{
    if (m_soxr)
        soxr_delete(m_soxr);
    m_soxr = nullptr;
}

void TQualityResampler::DoInit()
{
    requireInput();
    m_input->Init();
    m_bits = m_input->GetBitsPerSample();
    m_channels = m_input->GetChannels();
    m_frameBytes = m_channels * (m_bits / 8);
    const int inRate = m_input->GetSampleRate();
    Position = 0;
    m_read = m_fill = 0;
    m_delivered = 0;
    m_inputEnded = m_drained = false;
    m_passThrough = inRate == OutSampleRate;
    m_open = true;
    const int64_t inputSize = m_input->Size;
    SizeIsEstimate = bool(m_input->SizeIsEstimate);
    if (m_passThrough) {
        Size = inputSize;
        return;
    }
    if (inRate <= 0 || OutSampleRate <= 0 || m_frameBytes <= 0 || m_bits % 8 != 0 || m_bits > 32)
        throw EAuException(
            QStringLiteral("Cannot resample from %1 Hz to %2 Hz").arg(inRate).arg(OutSampleRate));
    m_ratio = double(OutSampleRate) / double(inRate);
    Size =
        inputSize > 0 ? std::llround(double(inputSize / m_frameBytes) * m_ratio) * m_frameBytes : inputSize;

    release();
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    m_soxr = soxr_create(double(inRate), double(OutSampleRate), unsigned(m_channels), &error, &io, &quality,
                         &runtime);
    if (!m_soxr || error)
        throw EAuException(QStringLiteral("Cannot resample from %1 Hz to %2 Hz: %3")
                               .arg(inRate)
                               .arg(OutSampleRate)
                               .arg(QString::fromLatin1(error ? error : "no resampler")));
    m_inputBytes.assign(blockFrames * size_t(m_frameBytes), 0);
    m_in.assign(blockFrames * size_t(m_channels), 0.0f);
}

void TQualityResampler::DoFlush()
{
    if (m_input)
        m_input->Flush();
    release();
    std::vector<uint8_t>().swap(m_inputBytes);
    std::vector<uint8_t>().swap(m_outputBytes);
    std::vector<float>().swap(m_in);
    std::vector<float>().swap(m_out);
    m_open = false;
    m_read = m_fill = 0;
}

bool TQualityResampler::refill()
{
    const size_t channels = size_t(m_channels);
    size_t produced = 0;
    while (produced == 0 && !m_drained) {
        size_t frames = 0;
        if (!m_inputEnded) {
            const uint32_t got = m_input->ReadFully(m_inputBytes.data(), uint32_t(m_inputBytes.size()));
            frames = got / uint32_t(m_frameBytes);
            if (frames == 0)
                m_inputEnded = true;
            else
                Samples::ToFloat(m_inputBytes.data(), m_in.data(), frames * channels, m_bits);
        }
        // Room for all the block gives (and, at the end, all that is still in the filter).
        const size_t room = size_t(std::ceil(double(frames + blockFrames) * m_ratio)) + 1024;
        if (m_out.size() < room * channels)
            m_out.resize(room * channels);
        size_t used = 0;
        do {
            size_t taken = 0, done = 0;
            const soxr_error_t error =
                m_inputEnded ? soxr_process(m_soxr, nullptr, 0, nullptr, m_out.data() + produced * channels,
                                            room - produced, &done)
                             : soxr_process(m_soxr, m_in.data() + used * channels, frames - used, &taken,
                                            m_out.data() + produced * channels, room - produced, &done);
            if (error)
                throw EAuException(QStringLiteral("Resampling failed: %1").arg(QString::fromLatin1(error)));
            used += taken;
            produced += done;
            if (m_inputEnded && done == 0)
                m_drained = true;
        } while (!m_inputEnded && used < frames && produced < room);
    }
    if (produced == 0)
        return false;
    m_outputBytes.resize(produced * size_t(m_frameBytes));
    Samples::FromFloat(m_out.data(), m_outputBytes.data(), produced * channels, m_bits);
    m_read = 0;
    m_fill = uint32_t(m_outputBytes.size());
    return true;
}
