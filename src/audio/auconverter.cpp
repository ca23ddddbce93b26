// SPDX-License-Identifier: GPL-3.0-or-later
#include "auconverter.h"

#include <algorithm>

TAuConverter::TAuConverter(QObject *parent) : TAuInput(parent) {}

void TAuConverter::SetInput(TAuInput *input)
{
    if (input == this)
        return;
    std::lock_guard lock(Lock);
    if (Busy) {
        if (m_input)
            m_input->Flush();
        if (input)
            input->Init();
    }
    m_input = input;
}

void TAuConverter::account(uint32_t &bytes)
{
    Position += bytes;
    const int64_t size = Size;
    if (size > 0 && Position > size && !SizeIsEstimate) {
        bytes -= uint32_t(std::min<int64_t>(Position - size, bytes));
        Position = size;
        EndOfData = true;
    }
    if (bytes == 0)
        EndOfData = true;
}

void TAuConverter::GetData(uint8_t *&buffer, uint32_t &bytes)
{
    std::lock_guard lock(Lock);
    if (takePrebufferedOrEnd(buffer, bytes))
        return;
    DoGetData(buffer, bytes);
    account(bytes);
}
