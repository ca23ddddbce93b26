// SPDX-License-Identifier: GPL-3.0-or-later
#include "resampler.h"

#include "auexception.h"
#include "samples.h"

#include <algorithm>
#include <cmath>

void TRateConverter::requireInput() const
{
    if (!m_input)
        throw EAuException(QStringLiteral("Input is not assigned"));
}

int TRateConverter::GetBitsPerSample()
{
    requireInput();
    return m_input->GetBitsPerSample();
}

int TRateConverter::GetChannels()
{
    requireInput();
    return m_input->GetChannels();
}

int TRateConverter::GetSampleRate()
{
    requireInput();
    return OutSampleRate;
}

void TRateConverter::DoGetData(uint8_t *&buffer, uint32_t &bytes)
{
    if (m_passThrough && m_open) {
        m_input->GetData(buffer, bytes);
        return;
    }
    if (!m_open)
        throw EAuException(QStringLiteral("The Stream is not opened"));
    TakeBuffered(
        m_outputBytes, m_read, m_fill, [this] { return refill(); }, buffer, bytes);
}

void TRateConverter::GetData(uint8_t *&buffer, uint32_t &bytes)
{
    std::lock_guard lock(Lock);
    if (takePrebufferedOrEnd(buffer, bytes))
        return;
    DoGetData(buffer, bytes);
    const int64_t size = Size;
    if (size > 0 && m_delivered + bytes > size && !SizeIsEstimate)
        bytes = uint32_t(std::max<int64_t>(size - m_delivered, 0));
    m_delivered += bytes;
    if (bytes == 0)
        EndOfData = true;
    const int64_t inputSize = m_input ? int64_t(m_input->Size) : 0;
    Position = inputSize > 0 ? std::llround(double(size) / double(inputSize) * double(m_input->Position))
                             : int64_t(m_delivered);
}
