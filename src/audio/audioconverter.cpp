// SPDX-License-Identifier: GPL-3.0-or-later
#include "audioconverter.h"

#include "auexception.h"
#include "samples.h"

#include <cmath>

int TAudioConverter::GetBitsPerSample()
{
    if (!m_input)
        return 0;
    return OutBitsPerSample ? OutBitsPerSample : m_input->GetBitsPerSample();
}

int TAudioConverter::GetChannels()
{
    if (!m_input)
        return 0;
    const int in = m_input->GetChannels();
    if ((OutChannels == 1 || OutChannels == 2) && (in == 1 || in == 2))
        return OutChannels;
    return in;
}

int TAudioConverter::GetSampleRate()
{
    return m_input ? m_input->GetSampleRate() : 0;
}

void TAudioConverter::DoInit()
{
    if (!m_input)
        throw EAuException(QStringLiteral("Input is not assigned"));
    m_input->Init();
    const int inBits = m_input->GetBitsPerSample();
    m_inChannels = m_input->GetChannels();
    const int outBits = GetBitsPerSample();
    m_outChannels = GetChannels();
    m_inBytesPerSample = inBits / 8;
    m_outBytesPerSample = outBits / 8;
    Position = 0;
    const int64_t inputSize = m_input->Size;
    SizeIsEstimate = bool(m_input->SizeIsEstimate);
    if (inputSize < 0 || inBits * m_inChannels == 0) {
        Size = inputSize < 0 ? -1 : 0;
    } else {
        const int64_t outFrame = int64_t(m_outBytesPerSample) * m_outChannels;
        const int64_t size =
            std::llround(double(inputSize) * outBits * m_outChannels / (double(inBits) * m_inChannels));
        Size = outFrame ? size / outFrame * outFrame : size;
    }
    m_open = true;
}

void TAudioConverter::DoFlush()
{
    if (m_input)
        m_input->Flush();
    std::vector<uint8_t>().swap(m_bytes);
    std::vector<float>().swap(m_floats);
    m_open = false;
}

void TAudioConverter::DoGetData(uint8_t *&buffer, uint32_t &bytes)
{
    if (!m_open)
        throw EAuException(QStringLiteral("The Stream is not opened"));
    if (OutBitsPerSample == 0 && OutChannels == 0) {
        m_input->GetData(buffer, bytes);
        return;
    }
    const uint32_t frames = bytes / uint32_t(m_outBytesPerSample) / uint32_t(m_outChannels);
    uint32_t asked = frames * uint32_t(m_inBytesPerSample * m_inChannels);
    if (asked == 0) {
        buffer = nullptr;
        bytes = 0;
        return;
    }
    uint8_t *in = nullptr;
    m_input->GetData(in, asked);
    const size_t f = asked / uint32_t(m_inBytesPerSample) / uint32_t(m_inChannels);
    if (f == 0) {
        buffer = nullptr;
        bytes = 0;
        return;
    }
    const size_t inCount = f * size_t(m_inChannels);
    const size_t outCount = f * size_t(m_outChannels);
    if (m_floats.size() < std::max(inCount, outCount))
        m_floats.resize(std::max(inCount, outCount));
    if (m_bytes.size() < outCount * size_t(m_outBytesPerSample))
        m_bytes.resize(outCount * size_t(m_outBytesPerSample));
    Samples::ToFloat(in, m_floats.data(), inCount, m_inBytesPerSample * 8);
    float *s = m_floats.data();
    if (m_outChannels == 2 && m_inChannels == 1) {
        for (size_t i = f; i-- > 0;) {
            s[2 * i + 1] = s[i];
            s[2 * i] = s[i];
        }
    } else if (m_outChannels == 1 && m_inChannels == 2) {
        for (size_t i = 0; i < f; ++i)
            s[i] = (s[2 * i] + s[2 * i + 1]) / 2;
    }
    Samples::FromFloat(s, m_bytes.data(), outCount, m_outBytesPerSample * 8);
    buffer = m_bytes.data();
    bytes = uint32_t(outCount * size_t(m_outBytesPerSample));
}
