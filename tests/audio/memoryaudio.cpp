// SPDX-License-Identifier: GPL-3.0-or-later
#include "memoryaudio.h"

#include "audio/samples.h"
#include "testsupport.h"

#include <cmath>
#include <cstring>
#include <vector>

MemoryFileIn::MemoryFileIn(QByteArray pcm, int bits, int channels, int rate) : m_pcm(std::move(pcm))
{
    BitsPerSample = bits;
    Channels = channels;
    SampleRate = rate;
    SetFileName(QStringLiteral("memory"));
}

MemoryFileIn::~MemoryFileIn() = default;

void MemoryFileIn::OpenFile()
{
    std::lock_guard lock(FLock);
    if (OpenCount++ == 0) {
        ++opens;
        Valid = true;
        Size = m_pcm.size();
        m_offset = 0;
    }
}

void MemoryFileIn::CloseFile()
{
    std::lock_guard lock(FLock);
    if (OpenCount > 0)
        --OpenCount;
}

void MemoryFileIn::DoGetData(uint8_t *&buffer, uint32_t &bytes)
{
    const int64_t left = m_pcm.size() - m_offset;
    bytes = uint32_t(std::min<int64_t>(bytes, left));
    buffer = reinterpret_cast<uint8_t *>(m_pcm.data()) + m_offset;
    m_offset += bytes;
}

bool MemoryFileIn::DoSeek(int64_t &sample)
{
    const int64_t frame = int64_t(Channels) * BitsPerSample / 8;
    if (sample * frame > m_pcm.size())
        return false;
    m_offset = sample * frame;
    return true;
}

void MemorySink::Prepare()
{
    ++prepares;
    {
        std::lock_guard lock(m_mutex);
        m_data.clear();
    }
    Input()->Init();
}

bool MemorySink::DoOutput(bool abort)
{
    if (abort)
        return false;
    if (onBlock)
        onBlock();
    ++blocks;
    uint8_t *buffer = nullptr;
    uint32_t bytes = blockSize;
    Input()->GetData(buffer, bytes);
    if (bytes == 0)
        return false;
    std::lock_guard lock(m_mutex);
    m_data.append(reinterpret_cast<const char *>(buffer), bytes);
    return true;
}

void MemorySink::Done()
{
    ++dones;
    Input()->Flush();
    if (onDone)
        onDone();
}

QByteArray MakePcm(int frames, int channels, int bits, const std::function<double(int, int)> &value)
{
    std::vector<float> floats(size_t(frames) * size_t(channels));
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c)
            floats[size_t(i) * size_t(channels) + size_t(c)] = float(value(i, c));
    }
    QByteArray bytes(qsizetype(floats.size()) * (bits / 8), '\0');
    Samples::FromFloat(floats.data(), reinterpret_cast<uint8_t *>(bytes.data()), floats.size(), bits);
    return bytes;
}

QByteArray Drain(TAuInput &source, uint32_t ask)
{
    QByteArray out;
    source.Init();
    for (;;) {
        uint8_t *buffer = nullptr;
        uint32_t bytes = ask;
        source.GetData(buffer, bytes);
        if (bytes == 0)
            break;
        out.append(reinterpret_cast<const char *>(buffer), bytes);
    }
    source.Flush();
    return out;
}

bool RunToCompletion(TAuOutput &sink, int timeoutMs)
{
    bool done = false;
    const TAuOutput::Handler previous = sink.OnDone;
    sink.OnDone = [&](TAuOutput *s) {
        done = true;
        if (previous)
            previous(s);
    };
    sink.Run();
    const bool finished = WaitFor([&] { return done; }, timeoutMs);
    sink.OnDone = previous;
    return finished;
}
