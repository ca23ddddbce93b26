// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// Reads sound from an ALSA capture device on a worker thread and hands each block of interleaved
// little-endian frames to a writer on that thread. The worker is held to the clock: a device that delivers
// faster than real time (ALSA's "null" gives silence at once) still records one second a second, so a
// recording's length is the time it ran. A failure of the device or of the writer ends the recording and is
// reported once, through a queued Failed signal.
class TAlsaCapture final : public QObject {
    Q_OBJECT
public:
    // Hands over `bytes` bytes (whole frames); false ends the recording, with the reason in *error.
    using Writer = std::function<bool(const uint8_t *data, size_t bytes, QString *error)>;

    explicit TAlsaCapture(QObject *parent = nullptr);
    ~TAlsaCapture() override;

    // "default" first, then the devices ALSA's hints name for capture.
    static QStringList DeviceNames();

    // Opens the device for 8 (unsigned), 16, 24 or 32-bit samples and starts reading. False, with "DEVICE:
    // reason" in *error, when the device cannot be opened or does not take the format.
    bool Start(const QString &device, int rate, int channels, int bits, Writer writer, QString *error);
    // Ends the recording once `moreFrames` further frames have come (0: at once) and waits for the worker,
    // which is back within a tenth of a second of the end (or of the call, when the device delivers nothing).
    void Stop(int64_t moreFrames = 0);
    // Lets the recording end by itself once it holds `frames` frames in all; Ended follows. Returns at once.
    void EndAt(int64_t frames);
    bool Running() const { return m_thread.joinable(); }
    // Frames handed to the writer so far.
    int64_t Frames() const { return m_frames; }

signals:
    void Failed(const QString &reason);
    // The worker stopped by itself (EndAt reached, or a failure); Stop still collects it.
    void Ended();

private:
    void work(void *pcm, int rate, int blockAlign, unsigned long period);
    void fail(const QString &reason);

    Writer m_writer;
    std::thread m_thread;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    int64_t m_stopAt = -1; // frames at which to end; -1 none
    std::atomic<int64_t> m_frames{0};
    QString m_device; // its name, for the failure text
};
