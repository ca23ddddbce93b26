// SPDX-License-Identifier: GPL-3.0-or-later
#include "auinput.h"

#include "auexception.h"
#include "shell/helpers.h"

#include <algorithm>
#include <cstring>

TAuInput::TAuInput(QObject *parent) : QObject(parent) {}

TAuInput::~TAuInput() = default;

void TAuInput::Init()
{
    std::lock_guard lock(Lock);
    EndOfData = false;
    try {
        DoInit();
    } catch (const EAuException &) {
        EndOfData = true;
        throw;
    } catch (const std::exception &e) {
        EndOfData = true;
        throw EAuException(QString::fromUtf8(e.what()));
    }
}

void TAuInput::Flush()
{
    std::lock_guard lock(Lock);
    PrebufferFill = 0;
    PrebufferRead = 0;
    DoFlush();
}

bool TAuInput::takePrebuffered(uint8_t *&buffer, uint32_t &bytes)
{
    if (PrebufferFill <= PrebufferRead)
        return false;
    const uint32_t count = std::min(bytes, PrebufferFill - PrebufferRead);
    buffer = Prebuffer.data() + PrebufferRead;
    bytes = count;
    PrebufferRead += count;
    Position += count;
    if (PrebufferRead >= PrebufferFill) {
        PrebufferFill = 0;
        PrebufferRead = 0;
    }
    return true;
}

bool TAuInput::takePrebufferedOrEnd(uint8_t *&buffer, uint32_t &bytes)
{
    if (takePrebuffered(buffer, bytes))
        return true;
    if (!EndOfData)
        return false;
    buffer = nullptr;
    bytes = 0;
    return true;
}

void TAuInput::GetData(uint8_t *&buffer, uint32_t &bytes)
{
    std::lock_guard lock(Lock);
    if (takePrebuffered(buffer, bytes))
        return;
    DoGetData(buffer, bytes);
}

void TAuInput::Reset()
{
    try {
        Flush();
    } catch (...) {
        LogCaughtException("Resetting an audio input");
    }
    Busy = false;
}

void TAuInput::Prefetch(uint32_t bytes)
{
    std::lock_guard lock(Lock);
    const auto fill = [this](uint32_t from, uint32_t upTo) {
        // Position counts bytes handed out: these are counted when GetData delivers them, whatever a
        // descendant's DoGetData counts meanwhile (the CD source counts in DoGetData itself).
        const int64_t handedOut = Position;
        uint32_t obtained = 0;
        while (from + obtained < upTo) {
            uint8_t *data = nullptr;
            uint32_t count = upTo - from - obtained;
            DoGetData(data, count);
            if (count == 0)
                break;
            // A decoder that hands out more than was asked never writes past the prebuffer.
            count = std::min(count, upTo - from - obtained);
            std::memmove(Prebuffer.data() + from + obtained, data, count);
            obtained += count;
        }
        Position = handedOut;
        return obtained;
    };
    if (PrebufferFill == 0) {
        if (Prebuffer.size() < bytes)
            Prebuffer.resize(bytes);
        PrebufferRead = 0;
        PrebufferFill = fill(0, uint32_t(Prebuffer.size()));
    } else if (PrebufferFill < Prebuffer.size()) {
        const uint32_t undelivered = PrebufferFill - PrebufferRead;
        std::memmove(Prebuffer.data(), Prebuffer.data() + PrebufferRead, undelivered);
        PrebufferFill = undelivered;
        PrebufferRead = 0;
        PrebufferFill += fill(undelivered, uint32_t(Prebuffer.size()));
    }
}

void TAuInput::FillWithSilence()
{
    std::lock_guard lock(Lock);
    std::fill(Prebuffer.begin(), Prebuffer.end(), uint8_t(0));
    PrebufferFill = uint32_t(Prebuffer.size());
    PrebufferRead = 0;
}

uint32_t TAuInput::ReadFully(uint8_t *dest, uint32_t count, bool *endMet)
{
    uint32_t gathered = 0;
    bool end = false;
    while (gathered < count) {
        uint8_t *data = nullptr;
        uint32_t bytes = count - gathered;
        GetData(data, bytes);
        if (bytes == 0) {
            end = true;
            break;
        }
        // A source that hands out more than was asked never writes past dest.
        bytes = std::min(bytes, count - gathered);
        std::memcpy(dest + gathered, data, bytes);
        gathered += bytes;
    }
    if (endMet)
        *endMet = end;
    return gathered;
}
