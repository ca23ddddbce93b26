// SPDX-License-Identifier: GPL-3.0-or-later
#include "austreamedinput.h"

TAuStreamedInput::TAuStreamedInput(QObject *parent) : TAuInput(parent)
{
    Seekable = true;
}

void TAuStreamedInput::SetStream(QIODevice *stream)
{
    Stream = stream;
    StreamAssigned = stream != nullptr;
}

void TAuStreamedInput::GetData(uint8_t *&buffer, uint32_t &bytes)
{
    std::lock_guard lock(Lock);
    if (takePrebufferedOrEnd(buffer, bytes))
        return;
    const uint32_t requested = bytes;
    // Counts what DoGetData delivered and cuts it at Size.
    const auto account = [this](uint32_t &count) {
        Position += count;
        const int64_t size = Size;
        if (size > 0 && Position >= size) {
            EndOfData = true;
            if (Position > size) {
                count -= uint32_t(Position - size);
                Position = size;
            }
        }
        if (count == 0)
            EndOfData = true;
    };
    DoGetData(buffer, bytes);
    account(bytes);
    if (EndOfData && Loop) {
        EndOfData = false;
        if (Seekable) {
            int64_t start = StartSample;
            DoSeek(start);
        } else {
            Flush();
            Init();
        }
        Position = 0;
        if (bytes == 0) {
            bytes = requested;
            DoGetData(buffer, bytes);
            account(bytes);
        }
    }
}
