// SPDX-License-Identifier: GPL-3.0-or-later
#include "alsacapture.h"

#include "alsapcm.h"

#include <QMetaObject>
#include <alsa/asoundlib.h>
#include <chrono>
#include <vector>

TAlsaCapture::TAlsaCapture(QObject *parent) : QObject(parent) {}

TAlsaCapture::~TAlsaCapture()
{
    Stop();
}

QStringList TAlsaCapture::DeviceNames()
{
    return AlsaDeviceNames(true);
}

bool TAlsaCapture::Start(const QString &device, int rate, int channels, int bits, Writer writer,
                         QString *error)
{
    Stop();
    const auto refuse = [&](const QString &reason) {
        if (error)
            *error = device + QStringLiteral(": ") + reason;
        return false;
    };
    if (rate <= 0 || channels <= 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return refuse(QStringLiteral("%1 Hz, %2 channels, %3 bits cannot be recorded")
                          .arg(rate)
                          .arg(channels)
                          .arg(bits));
    QString reason;
    snd_pcm_t *pcm = OpenAlsaPcm(device, true, &reason);
    if (!pcm)
        return refuse(reason);
    unsigned exactRate = unsigned(rate);
    // A tenth of a second a block, half a second of room in the device.
    unsigned long period = std::max(1u, unsigned(rate) / 10);
    unsigned long buffer = period * 5;
    int result = SetAlsaHardware(pcm, bits, channels, &exactRate, &buffer, &period);
    if (result == 0 && exactRate != unsigned(rate)) {
        snd_pcm_close(pcm);
        return refuse(QStringLiteral("does not record at %1 Hz").arg(rate));
    }
    if (result == 0)
        result = snd_pcm_nonblock(pcm, 1);
    if (result == 0)
        result = snd_pcm_start(pcm);
    if (result < 0) {
        snd_pcm_close(pcm);
        return refuse(AlsaText(result));
    }
    m_writer = std::move(writer);
    m_device = device;
    m_frames = 0;
    {
        std::lock_guard lock(m_lock);
        m_stop = false;
        m_stopAt = -1;
    }
    m_thread = std::thread(
        [this, pcm, rate, blockAlign = channels * bits / 8, period] { work(pcm, rate, blockAlign, period); });
    return true;
}

void TAlsaCapture::Stop(int64_t moreFrames)
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_lock);
        if (moreFrames <= 0)
            m_stop = true;
        else
            m_stopAt = m_frames + moreFrames;
    }
    m_wake.notify_all();
    m_thread.join();
    m_writer = nullptr;
}

void TAlsaCapture::EndAt(int64_t frames)
{
    {
        std::lock_guard lock(m_lock);
        m_stopAt = frames;
    }
    m_wake.notify_all();
}

void TAlsaCapture::fail(const QString &reason)
{
    QMetaObject::invokeMethod(
        this, [this, reason] { emit Failed(reason); }, Qt::QueuedConnection);
}

void TAlsaCapture::work(void *device, int rate, int blockAlign, unsigned long period)
{
    auto *pcm = static_cast<snd_pcm_t *>(device);
    std::vector<uint8_t> block(size_t(period) * size_t(blockAlign));
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        int64_t want = int64_t(period);
        {
            std::unique_lock lock(m_lock);
            if (m_stop || (m_stopAt >= 0 && m_frames >= m_stopAt))
                break;
            if (m_stopAt >= 0)
                want = std::min(want, m_stopAt - m_frames);
            // Never ahead of the clock by more than a block.
            const auto due =
                started + std::chrono::microseconds((m_frames - int64_t(period)) * 1000000 / rate);
            if (m_wake.wait_until(lock, due, [this] { return m_stop; }))
                break;
        }
        const snd_pcm_sframes_t got = snd_pcm_readi(pcm, block.data(), snd_pcm_uframes_t(want));
        if (got == -EAGAIN) {
            snd_pcm_wait(pcm, 100);
            continue;
        }
        if (got < 0) {
            // An overrun (the program fell behind) loses sound but not the recording; anything else ends it.
            if (snd_pcm_recover(pcm, int(got), 1) == 0 && snd_pcm_start(pcm) >= 0)
                continue;
            fail(QStringLiteral("ALSA capture device %1: %2").arg(m_device, AlsaText(int(got))));
            break;
        }
        QString error;
        if (got > 0 && !m_writer(block.data(), size_t(got) * size_t(blockAlign), &error)) {
            fail(error);
            break;
        }
        m_frames += got;
    }
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
    bool stopped = false;
    {
        std::lock_guard lock(m_lock);
        stopped = m_stop;
    }
    if (!stopped)
        QMetaObject::invokeMethod(
            this, [this] { emit Ended(); }, Qt::QueuedConnection);
}
