// SPDX-License-Identifier: GPL-3.0-or-later
#include "stereobalance.h"

#include "auexception.h"
#include "samples.h"

#include <cmath>
#include <cstring>

void TStereoBalance::SetBalance(float balance)
{
    if (balance >= 0.0f && balance <= 1.0f)
        m_balance = balance;
}

void TStereoBalance::requireInput() const
{
    if (!m_input)
        throw EAuException(QStringLiteral("Input not assigned"));
}

int TStereoBalance::GetBitsPerSample()
{
    requireInput();
    return m_input->GetBitsPerSample();
}

int TStereoBalance::GetChannels()
{
    requireInput();
    const int in = m_input->GetChannels();
    return in == 1 || in == 2 ? 2 : in;
}

int TStereoBalance::GetSampleRate()
{
    requireInput();
    return m_input->GetSampleRate();
}

void TStereoBalance::DoInit()
{
    requireInput();
    m_input->Init();
    const int64_t inputSize = m_input->Size;
    SizeIsEstimate = bool(m_input->SizeIsEstimate);
    Size = m_input->GetChannels() == 1 && inputSize > 0 ? inputSize * 2 : inputSize;
    Position = 0;
    m_open = true;
}

void TStereoBalance::DoFlush()
{
    if (m_input)
        m_input->Flush();
    m_open = false;
}

void TStereoBalance::DoGetData(uint8_t *&buffer, uint32_t &bytes)
{
    if (!m_open)
        throw EAuException(QStringLiteral("The Stream is not opened"));
    const int channels = m_input->GetChannels();
    if (channels > 2) {
        m_input->GetData(buffer, bytes);
        return;
    }
    const int bits = m_input->GetBitsPerSample();
    const int width = bits / 8;
    if (channels == 2) {
        m_input->GetData(buffer, bytes);
    } else {
        uint32_t half = std::min<uint32_t>(bytes, uint32_t(m_work.size())) / 2;
        half -= half % uint32_t(width);
        uint8_t *mono = nullptr;
        m_input->GetData(mono, half);
        if (half == 0) {
            buffer = nullptr;
            bytes = 0;
            return;
        }
        // Widen from the end, so the work buffer can hold input and output at once.
        std::memmove(m_work.data(), mono, half);
        for (uint32_t i = half / uint32_t(width); i-- > 0;) {
            std::memcpy(m_work.data() + (2 * i + 1) * uint32_t(width), m_work.data() + i * uint32_t(width),
                        size_t(width));
            std::memcpy(m_work.data() + 2 * i * uint32_t(width), m_work.data() + i * uint32_t(width),
                        size_t(width));
        }
        buffer = m_work.data();
        bytes = half * 2;
    }
    if (bytes == 0)
        return;

    // One side only; the buffer may belong to the input, which hands it out for this call alone.
    const bool left = m_balance > 0.5f;
    const float gain = left ? 1.0f - m_balance : m_balance;
    const uint32_t frame = uint32_t(2 * width);
    const uint32_t offset = left ? 0 : uint32_t(width);
    for (uint32_t pos = offset; pos + uint32_t(width) <= bytes; pos += frame) {
        uint8_t *p = buffer + pos;
        switch (bits) {
        case 8:
            *p = uint8_t(std::lrintf(float(*p) * gain));
            break;
        case 16: {
            int16_t v;
            std::memcpy(&v, p, 2);
            v = int16_t(std::lrintf(float(v) * gain));
            std::memcpy(p, &v, 2);
            break;
        }
        case 24:
            Samples::Write24(p, int32_t(std::lrintf(float(Samples::Read24(p)) * gain)));
            break;
        default:
            break;
        }
    }
}
