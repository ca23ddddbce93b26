// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// The base of every audio source. A source hands out interleaved little-endian PCM (8-bit unsigned, 16-,
// 24- and 32-bit signed) in blocks, described by its bits per sample, channels and sample rate.
//
// Lifecycle: Init → GetData until it delivers 0 bytes → Flush. The sink's worker thread drives it; the
// user-interface thread may query or reconfigure a source meanwhile, so Init, Flush, GetData and Prefetch
// take the source's Lock (recursive, as descendants call back into their own operations).
// The memory GetData hands out belongs to the source and stays valid until the next call.
class TAuInput : public QObject {
    Q_OBJECT
public:
    explicit TAuInput(QObject *parent = nullptr);
    ~TAuInput() override;

    virtual int GetBitsPerSample() = 0;
    virtual int GetChannels() = 0;
    virtual int GetSampleRate() = 0;
    virtual int GetTotalTime() { return 0; } // seconds
    virtual int64_t GetTotalSamples() { return 0; }

    // EndOfData cleared, then DoInit; any exception from it sets EndOfData and is raised as EAuException.
    void Init();
    // The prebuffer emptied, then DoFlush.
    void Flush();
    // Asks for up to bytes bytes; on return buffer points at the data and bytes holds its count (0: the end).
    virtual void GetData(uint8_t *&buffer, uint32_t &bytes);
    // Flush, ignoring errors, and mark the source idle.
    virtual void Reset();
    // Reads ahead up to bytes bytes into the prebuffer, which the next GetData calls hand out first.
    virtual void Prefetch(uint32_t bytes);
    virtual void Pause() {}
    virtual void Resume() {}
    // Fills the whole prebuffer with zeros, so the next reads deliver that much silence first.
    void FillWithSilence();
    // GetData until count bytes are gathered or the end is met; returns the bytes gathered.
    uint32_t ReadFully(uint8_t *dest, uint32_t count, bool *endMet = nullptr);

    std::atomic<int64_t> Position{0}; // bytes handed out since Init
    std::atomic<int64_t> Size{0};     // bytes in all; -1 when not known in advance
    // Size is only what the file's headers claim (a decoder's length): good for progress, but nothing may
    // cut the audio at it or pad up to it. The audio ends where the source's data ends.
    std::atomic<bool> SizeIsEstimate{false};
    uint16_t SampleSize = 0; // bytes per sample frame
    bool Seekable = false;
    std::atomic<bool> Busy{false}; // between Init and Flush
    uint32_t ChunkStart = 1;
    uint32_t ChunkEnd = 0;
    std::recursive_mutex Lock;
    bool EndOfData = false;
    std::vector<uint8_t> Prebuffer;
    uint32_t PrebufferFill = 0;
    uint32_t PrebufferRead = 0;

protected:
    virtual void DoInit() = 0;
    virtual void DoFlush() = 0;
    virtual void DoGetData(uint8_t *&buffer, uint32_t &bytes) = 0;

    // Delivers from the prebuffer when it holds undelivered bytes; false when it is empty.
    bool takePrebuffered(uint8_t *&buffer, uint32_t &bytes);
    // The same, and after the end of the data delivers nothing; false when DoGetData is to be asked.
    bool takePrebufferedOrEnd(uint8_t *&buffer, uint32_t &bytes);
};
