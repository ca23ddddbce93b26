// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auoutput.h"

#include <QStringList>
#include <atomic>
#include <cstdint>
#include <vector>

// A sink that plays what it pulls through an ALSA PCM device (the Ogg player's output). The device's ring
// buffer is the looping buffer the worker keeps topped up: its size and the refill interval follow from
// Latency, writes block until ALSA has room (its own wake-up, no sleeping poll), an underrun is noticed
// by ALSA and reported through OnUnderrun, and a finished input is padded and drained before the run ends.
//
// Devices: "default" first, then the PCM devices ALSA's hints name that can play. Pause, Resume, Jump and
// SetVolume run on the user-interface thread; Prepare, DoOutput and Done on the worker (Part of TAuOutput).
class TDXAudioOut : public TAuOutput {
    Q_OBJECT
public:
    explicit TDXAudioOut(QObject *parent = nullptr);
    ~TDXAudioOut() override;

    static QStringList DeviceNames();

    void Pause();
    void Resume();
    // Hundredths of a decibel, 0 full; applied to the samples (devices here have no volume control of
    // their own that this program takes over).
    void SetVolume(int32_t hundredthsOfDecibel);
    int32_t Volume() const { return m_volume; }
    // Moves by thousandths of the whole through the first file source of the chain.
    void Jump(int thousandths);

    // The PCM wave format the Part's device would get for this input: the extensible format (tag 0xFFFE)
    // with more than 2 channels or 24-bit samples, with its channel mask; else plain PCM (tag 1, mask 0).
    static void WaveFormatFor(int channels, int bitsPerSample, uint16_t &tag, uint32_t &channelMask);

    int32_t DeviceNumber = 0;
    std::atomic<uint32_t> Latency{100}; // raised to 10 by the worker when lower
    bool PrefetchData = true;
    std::atomic<uint32_t> PollingInterval{100};
    std::atomic<uint32_t> FramesInBuffer{0x6000};
    float SpeedFactor = 1.0f;
    Handler OnUnderrun;

    // The format of the last run (set by Prepare).
    std::atomic<int> SampleRate{0};
    std::atomic<int> Channels{0};
    std::atomic<int> BitsPerSample{0};
    std::atomic<int> DeviceCount{0};

protected:
    void Prepare() override;
    bool DoOutput(bool abort) override;
    void Done() override;
    void sinkEvent() override;
    // The frames the device has room for now, or ALSA's negative error code (-EPIPE after an underrun).
    virtual long deviceRoom();

private:
    bool writeBytes(const uint8_t *data, uint32_t bytes);
    enum class Room { Free, Interrupted, Failed };
    // Waits until the device has room for more (freeBytes); Failed with m_failure set.
    Room waitForRoom(uint32_t &freeBytes);
    QString m_deviceName;
    QString m_failure; // why waiting for room failed
    void fillSilence(uint32_t bytes);
    void release();

    // The device (snd_pcm_t), opened and closed by the worker; Pause and Resume act on it from the
    // user-interface thread while the worker waits in its pause.
    std::atomic<void *> m_pcm{nullptr};
    uint32_t m_bufferBytes = 0;
    uint32_t m_bytesPerSecond = 0;
    uint16_t m_blockAlign = 1;
    uint8_t m_silence = 0;
    std::vector<uint8_t> m_transfer;
    bool m_firstBlock = true;
    std::atomic<bool> m_endOfInput{false}; // read by Pause and Resume
    bool m_released = true;
    std::atomic<int32_t> m_volume{0};
};
