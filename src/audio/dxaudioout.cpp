// SPDX-License-Identifier: GPL-3.0-or-later
#include "dxaudioout.h"

#include "alsapcm.h"
#include "auconverter.h"
#include "auexception.h"
#include "aufilein.h"
#include "authread.h"

#include <QElapsedTimer>
#include <algorithm>
#include <alsa/asoundlib.h>
#include <chrono>
#include <cmath>
#include <cstring>

namespace {

snd_pcm_t *pcmOf(void *p)
{
    return static_cast<snd_pcm_t *>(p);
}

// Scales little-endian samples by a gain below or at 1.
void applyGain(uint8_t *data, uint32_t bytes, int bits, double gain)
{
    if (gain >= 1.0)
        return;
    const int width = bits / 8;
    for (uint32_t i = 0; i + uint32_t(width) <= bytes; i += uint32_t(width)) {
        uint8_t *p = data + i;
        if (bits == 8) {
            p[0] = uint8_t(std::lround((int(p[0]) - 128) * gain) + 128);
            continue;
        }
        int64_t v = 0;
        for (int b = 0; b < width; ++b)
            v |= int64_t(p[b]) << (8 * b);
        const int shift = 64 - bits;
        v = (v << shift) >> shift; // sign
        v = std::llround(double(v) * gain);
        for (int b = 0; b < width; ++b)
            p[b] = uint8_t(v >> (8 * b));
    }
}

} // namespace

TDXAudioOut::TDXAudioOut(QObject *parent) : TAuOutput(parent) {}

TDXAudioOut::~TDXAudioOut()
{
    Shutdown();
    release();
}

QStringList TDXAudioOut::DeviceNames()
{
    return AlsaDeviceNames(false);
}

void TDXAudioOut::WaveFormatFor(int channels, int bitsPerSample, uint16_t &tag, uint32_t &channelMask)
{
    if (channels > 2 || bitsPerSample == 24) {
        tag = 0xFFFE;
        channelMask = channels == 2 ? 3 : channels == 6 ? 63 : channels == 8 ? 255 : 0;
    } else {
        tag = 1;
        channelMask = 0;
    }
}

void TDXAudioOut::Prepare()
{
    m_released = false;
    const QStringList devices = DeviceNames();
    DeviceCount = int(devices.size());
    if (DeviceNumber < 0 || DeviceNumber >= DeviceCount)
        throw EAuException(QStringLiteral("Invalid device number"));
    TAuInput *input = Input();
    input->Init();
    Channels = input->GetChannels();
    BitsPerSample = input->GetBitsPerSample();
    int rate = input->GetSampleRate();
    if (SpeedFactor != 1.0f)
        rate = int(std::lround(double(rate) * double(SpeedFactor)));
    SampleRate = rate;
    if (Latency != 0) {
        Latency = std::max<uint32_t>(Latency.load(), 10);
        FramesInBuffer = uint32_t(uint64_t(Latency.load()) * uint64_t(rate) / 1000);
        PollingInterval = Latency / 3;
    }
    QString reason;
    snd_pcm_t *pcm = OpenAlsaPcm(devices.at(DeviceNumber), false, &reason);
    if (!pcm)
        throw EAuException(QStringLiteral("Failed to create DirectSound device: ") + reason);
    m_pcm = pcm;
    m_blockAlign = uint16_t(Channels * BitsPerSample / 8);
    m_bufferBytes = uint32_t(BitsPerSample / 8) * FramesInBuffer * uint32_t(Channels);
    m_bytesPerSecond = uint32_t(rate) * m_blockAlign;
    m_transfer.assign(m_bufferBytes, 0);
    m_silence = BitsPerSample == 8 ? 128 : 0;

    unsigned long buffer = FramesInBuffer;
    unsigned long period = std::max<unsigned long>(buffer / 3, 1);
    unsigned int exactRate = unsigned(rate);
    if (const int error = SetAlsaHardware(pcm, BitsPerSample, Channels, &exactRate, &buffer, &period);
        error < 0)
        throw EAuException(QStringLiteral("Failed to create DirectSound buffer %1: %2")
                               .arg(uint32_t(error), 8, 16, QLatin1Char('0'))
                               .arg(AlsaText(error)));
    // Playing starts when the first block (the whole buffer) is in; a wait for room ends at a period.
    if (const int error = SetAlsaSoftware(pcm, buffer, period); error < 0)
        throw EAuException(
            QStringLiteral("ALSA device %1: %2").arg(devices.at(DeviceNumber), AlsaText(error)));
    m_deviceName = devices.at(DeviceNumber);
    m_failure.clear();
    m_firstBlock = true;
    m_endOfInput = false;
}

bool TDXAudioOut::writeBytes(const uint8_t *data, uint32_t bytes)
{
    std::vector<uint8_t> scaled;
    const double gain = std::pow(10.0, double(m_volume.load()) / 2000.0);
    if (gain < 1.0) {
        scaled.assign(data, data + bytes);
        applyGain(scaled.data(), bytes, BitsPerSample, gain);
        data = scaled.data();
    }
    snd_pcm_uframes_t frames = bytes / m_blockAlign;
    while (frames > 0) {
        const snd_pcm_sframes_t written = snd_pcm_writei(pcmOf(m_pcm), data, frames);
        if (written == -EPIPE) {
            // The device ran dry: said once per underrun, and playing goes on.
            postSinkEvent();
            snd_pcm_prepare(pcmOf(m_pcm));
            continue;
        }
        if (written == -EAGAIN || written == -EINTR)
            continue;
        if (written < 0) {
            const int error = snd_pcm_recover(pcmOf(m_pcm), int(written), 1);
            if (error < 0)
                return false;
            continue;
        }
        data += size_t(written) * m_blockAlign;
        frames -= snd_pcm_uframes_t(written);
    }
    return true;
}

long TDXAudioOut::deviceRoom()
{
    return long(snd_pcm_avail_update(pcmOf(m_pcm)));
}

void TDXAudioOut::fillSilence(uint32_t bytes)
{
    std::vector<uint8_t> silence(bytes - bytes % m_blockAlign, m_silence);
    writeBytes(silence.data(), uint32_t(silence.size()));
}

TDXAudioOut::Room TDXAudioOut::waitForRoom(uint32_t &freeBytes)
{
    // A device may take no data for a while (a sound server filling its own buffers takes about half a
    // second): waiting is not an error. Only an ALSA error that recovery cannot mend is, or a device that
    // takes nothing for much longer than its buffer lasts.
    const uint32_t interval = std::max<uint32_t>(PollingInterval, 1);
    const int64_t patience = std::max<int64_t>(2000, int64_t(Latency.load()) * 20);
    QElapsedTimer waited;
    waited.start();
    while (CanOutput) {
        // A stop or a pause is the worker's to carry out, between blocks.
        if (Thread && (Thread->Abort || Thread->PauseRequest))
            return Room::Interrupted;
        if (PrefetchData && Input()) {
            const uint64_t bytes = uint64_t(interval) * m_bytesPerSecond / 1000 * 5 / 4;
            Input()->Prefetch(uint32_t(bytes - bytes % m_blockAlign));
        }
        const long avail = deviceRoom();
        if (avail > 0) {
            freeBytes = uint32_t(avail) * m_blockAlign;
            return Room::Free;
        }
        if (avail < 0) {
            if (avail == -EPIPE)
                postSinkEvent(); // the device ran dry: said, and playing goes on
            if (const int error = snd_pcm_recover(pcmOf(m_pcm), int(avail), 1); error < 0) {
                m_failure = QStringLiteral("ALSA device %1: %2").arg(m_deviceName, AlsaText(error));
                return Room::Failed;
            }
            continue;
        }
        if (waited.elapsed() > patience) {
            m_failure = QStringLiteral("ALSA device %1 took no sound for %2 s")
                            .arg(m_deviceName)
                            .arg(double(waited.elapsed()) / 1000.0, 0, 'f', 1);
            return Room::Failed;
        }
        // ALSA wakes us when there is room, or the interval ends.
        if (const int woken = snd_pcm_wait(pcmOf(m_pcm), int(interval));
            woken < 0 && woken != -EPIPE && snd_pcm_recover(pcmOf(m_pcm), woken, 1) < 0) {
            m_failure = QStringLiteral("ALSA device %1: %2").arg(m_deviceName, AlsaText(woken));
            return Room::Failed;
        }
    }
    return Room::Interrupted;
}

bool TDXAudioOut::DoOutput(bool abort)
{
    if (!CanOutput)
        return false;
    TAuInput *input = Input();
    if (m_firstBlock) {
        bool ended = false;
        const uint32_t got = input->ReadFully(m_transfer.data(), m_bufferBytes, &ended);
        m_endOfInput = ended || got == 0;
        m_firstBlock = false;
        if (!writeBytes(m_transfer.data(), got - got % m_blockAlign))
            throw EAuException(QStringLiteral("Audio output error"));
    }
    if (abort) {
        snd_pcm_drop(pcmOf(m_pcm));
        CanOutput = false;
        return false;
    }
    if (!m_endOfInput) {
        uint32_t freeBytes = 0;
        switch (waitForRoom(freeBytes)) {
        case Room::Free:
            break;
        case Room::Interrupted:
            return CanOutput;
        case Room::Failed:
            reportFailure(m_failure);
            return false;
        }
        freeBytes = std::min(freeBytes - freeBytes % m_blockAlign, m_bufferBytes);
        uint32_t got = 0;
        const uint8_t *data = m_transfer.data();
        if (PrefetchData) {
            uint8_t *buffer = nullptr;
            got = freeBytes;
            input->GetData(buffer, got);
            data = buffer;
        } else {
            got = input->ReadFully(m_transfer.data(), freeBytes);
        }
        m_endOfInput = got == 0;
        if (got > 0 && !writeBytes(data, got - got % m_blockAlign))
            throw EAuException(QStringLiteral("Audio output error"));
        if (m_endOfInput)
            fillSilence(freeBytes);
        return true;
    }
    // The input has ended: what is in the device plays out (ALSA's drain waits for it), then the run ends.
    CanOutput = false;
    snd_pcm_drain(pcmOf(m_pcm));
    return false;
}

void TDXAudioOut::release()
{
    if (m_pcm) {
        snd_pcm_close(pcmOf(m_pcm));
        m_pcm = nullptr;
    }
    m_transfer.clear();
}

void TDXAudioOut::Done()
{
    if (!m_released)
        release();
    if (Input())
        Input()->Flush();
    m_released = true;
}

void TDXAudioOut::sinkEvent()
{
    if (OnUnderrun)
        OnUnderrun(this);
}

void TDXAudioOut::Pause()
{
    TAuOutput::Pause();
    if (m_pcm && !m_endOfInput)
        snd_pcm_pause(pcmOf(m_pcm), 1);
}

void TDXAudioOut::Resume()
{
    if (m_endOfInput)
        return;
    if (m_pcm)
        snd_pcm_pause(pcmOf(m_pcm), 0);
    TAuOutput::Resume();
}

void TDXAudioOut::SetVolume(int32_t hundredthsOfDecibel)
{
    m_volume = std::min(hundredthsOfDecibel, 0);
}

void TDXAudioOut::Jump(int thousandths)
{
    Pause();
    TAuInput *input = Input();
    if (input) {
        input->FillWithSilence();
        // The first file source down the chain of converters.
        TAuInput *source = input;
        while (auto *converter = qobject_cast<TAuConverter *>(source))
            source = converter->Input();
        if (auto *file = qobject_cast<TAuFileIn *>(source))
            file->SeekRelative(thousandths);
    }
    Resume();
}
