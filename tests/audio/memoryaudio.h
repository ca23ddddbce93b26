// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/aufilein.h"
#include "audio/auoutput.h"

#include <QByteArray>
#include <atomic>
#include <functional>
#include <mutex>

// A file source over bytes in memory, with the format it is told.
class MemoryFileIn final : public TAuFileIn {
public:
    MemoryFileIn(QByteArray pcm, int bits, int channels, int rate);
    ~MemoryFileIn() override;

    int opens = 0;

protected:
    void OpenFile() override;
    void CloseFile() override;
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override;
    bool DoSeek(int64_t &sample) override;

private:
    QByteArray m_pcm;
    int64_t m_offset = 0;
};

// A streamed source whose decoder hands out fixed chunks, however much is asked; Size is set by the test.
class ChunkedSource final : public TAuStreamedInput {
public:
    explicit ChunkedSource(uint32_t chunk) : m_chunk(chunk), m_data(chunk, '\x11') {}
    int GetBitsPerSample() override { return 16; }
    int GetChannels() override { return 2; }
    int GetSampleRate() override { return 44100; }
    int seeks = 0;

protected:
    void DoInit() override { Busy = true; }
    void DoFlush() override { Busy = false; }
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override
    {
        buffer = reinterpret_cast<uint8_t *>(m_data.data());
        bytes = m_chunk;
    }
    bool DoSeek(int64_t &) override
    {
        ++seeks;
        return true;
    }

private:
    uint32_t m_chunk;
    QByteArray m_data;
};

// A sink that collects what it pulls; hooks let tests act inside a run.
class MemorySink final : public TAuOutput {
public:
    MemorySink() = default;
    ~MemorySink() override { Shutdown(); }

    QByteArray data() const
    {
        std::lock_guard lock(m_mutex);
        return m_data;
    }

    uint32_t blockSize = 0x6000;
    std::function<void()> onBlock; // runs on the worker before each block
    std::function<void()> onDone;  // runs on the worker as the run ends (a final write, say)
    std::atomic<int> blocks{0};
    std::atomic<int> prepares{0};
    std::atomic<int> dones{0};

protected:
    void Prepare() override;
    bool DoOutput(bool abort) override;
    void Done() override;

private:
    mutable std::mutex m_mutex;
    QByteArray m_data;
};

// Everything a source delivers from Init to its end, asked for in pieces of the given size.
QByteArray Drain(TAuInput &source, uint32_t ask = 16384);

// Runs the sink and waits (bounded) for its completion; false when it did not complete.
bool RunToCompletion(TAuOutput &sink, int timeoutMs = 60000);

// Generates interleaved PCM: frame i, channel c holds a value derived from both, for the given width.
QByteArray MakePcm(int frames, int channels, int bits,
                   const std::function<double(int frame, int channel)> &value);
