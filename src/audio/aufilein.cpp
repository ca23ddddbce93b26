// SPDX-License-Identifier: GPL-3.0-or-later
#include "aufilein.h"

#include "auexception.h"
#include "shell/helpers.h"

#include <QIODevice>
#include <algorithm>
#include <cmath>

TAuFileIn::TAuFileIn(QObject *parent) : TAuStreamedInput(parent) {}

void TAuFileIn::SetFileName(const QString &fileName)
{
    std::lock_guard lock(FLock);
    CloseFile();
    m_fileName = fileName;
}

void TAuFileIn::SetStream(QIODevice *stream)
{
    std::lock_guard lock(FLock);
    CloseFile();
    TAuStreamedInput::SetStream(stream);
}

void TAuFileIn::ensureOpen()
{
    std::lock_guard lock(FLock);
    if (OpenCount == 0)
        OpenFile();
}

int TAuFileIn::GetBitsPerSample()
{
    ensureOpen();
    return BitsPerSample;
}

int TAuFileIn::GetChannels()
{
    ensureOpen();
    return Channels;
}

int TAuFileIn::GetSampleRate()
{
    ensureOpen();
    return SampleRate;
}

int TAuFileIn::GetTotalTime()
{
    ensureOpen();
    const int64_t bytesPerSecond = int64_t(SampleRate) * Channels * (BitsPerSample / 8);
    if (bytesPerSecond == 0)
        return 0;
    return int(std::llround(double(Size) / double(bytesPerSecond)));
}

int64_t TAuFileIn::GetTotalSamples()
{
    ensureOpen();
    const int64_t frame = int64_t(Channels) * BitsPerSample / 8;
    if (Size <= 0 || frame == 0)
        return -1;
    return Size / frame;
}

void TAuFileIn::Reset()
{
    TAuStreamedInput::Reset();
    OpenCount = 0;
}

void TAuFileIn::DoInit()
{
    if (Busy)
        throw EAuException(QStringLiteral("The component is Busy"));
    if (!StreamAssigned && m_fileName.isEmpty())
        throw EAuException(QStringLiteral("The file name is not assigned"));
    Busy = true;
    Position = 0;
    ensureOpen();
    if (Valid) {
        SampleSize = uint16_t(Channels * BitsPerSample / 8);
        TotalSamples = SampleSize ? Size / SampleSize : 0;
        TotalTime = SampleRate ? int(TotalSamples / SampleRate) : 0;
        if (StartSample > 0) {
            // Seek relative to the start sample, which is where the read is to begin.
            int64_t start = StartSample;
            DoSeek(start);
            Position = 0;
        }
        if (StartSample > 0 || EndSample != -1) {
            if (EndSample > TotalSamples)
                EndSample = -1;
            // EndSample is the last sample read; "to the end" means the last sample of the file.
            const int64_t end = EndSample == -1 ? TotalSamples - 1 : EndSample;
            TotalSamples = end - StartSample + 1;
            Size = TotalSamples * SampleSize;
        }
        ChunkStart = 1;
        ChunkEnd = 0;
    } else {
        BitsPerSample = 8;
        SampleRate = 8000;
        Channels = 1;
        SampleSize = 8;
        Size = 0;
        TotalSamples = 0;
        TotalTime = 0;
    }
}

void TAuFileIn::DoFlush()
{
    CloseFile();
    StartSample = 0;
    EndSample = -1;
    Busy = false;
}

bool TAuFileIn::Seek(int64_t sample)
{
    if (!Seekable || (TotalSamples != 0 && sample > TotalSamples))
        return false;
    std::lock_guard lock(Lock);
    if (Busy) {
        PrebufferFill = 0;
        PrebufferRead = 0;
        int64_t target = StartSample + sample;
        bool ok = false;
        try {
            ok = DoSeek(target);
        } catch (...) {
            LogCaughtException(qPrintable(m_fileName + QStringLiteral(": seeking")));
            ok = false;
        }
        if (ok) {
            Position = (target - StartSample) * SampleSize;
            EndOfData = false;
        }
        return ok;
    }
    StartSample = sample;
    Position = sample * SampleSize;
    EndSample = -1;
    return true;
}

bool TAuFileIn::SeekRelative(int thousandths)
{
    const int64_t size = Size;
    if (!Seekable || size == 0)
        return false;
    double fraction = double(Position) / double(size) + thousandths / 1000.0;
    fraction = std::clamp(fraction, 0.0, 1.0);
    return Seek(std::llround(double(TotalSamples) * fraction));
}

bool TAuFileIn::TryOpen()
{
    if (!StreamAssigned && m_fileName.isEmpty())
        return Valid;
    std::lock_guard lock(FLock);
    try {
        ensureOpen();
    } catch (const std::exception &e) {
        Valid = false;
        OpenError = QString::fromUtf8(e.what());
    } catch (...) {
        Valid = false;
        OpenError = CurrentExceptionText();
    }
    if (!Valid) {
        if (OpenCount != 0) {
            try {
                CloseFile();
            } catch (...) {
                LogCaughtException(qPrintable(m_fileName));
            }
        }
    }
    return Valid;
}
