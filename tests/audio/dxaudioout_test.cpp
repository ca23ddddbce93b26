// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/dxaudioout.h"
#include "memoryaudio.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

// ALSA's "null" device takes everything at once: a run lasts as long as the pipeline takes.
int nullDevice()
{
    return int(TDXAudioOut::DeviceNames().indexOf("null"));
}

struct Events {
    int done = 0;
    int exceptions = 0;
    QString message;
    void attach(TDXAudioOut &out)
    {
        out.OnDone = [this](TAuOutput *) { ++done; };
        out.OnThreadException = [this](TAuOutput *sink) {
            ++exceptions;
            message = sink->ExceptionMessage();
        };
    }
};

QByteArray silence(int frames, int channels, int bits)
{
    return QByteArray(frames * channels * bits / 8, bits == 8 ? '\x80' : '\0');
}

TEST(DXAudioOut, DevicesAndFormats)
{
    const QStringList devices = TDXAudioOut::DeviceNames();
    ASSERT_FALSE(devices.isEmpty());
    EXPECT_EQ(devices.first(), "default");
    EXPECT_GE(nullDevice(), 1);
    uint16_t tag = 0;
    uint32_t mask = 99;
    TDXAudioOut::WaveFormatFor(2, 16, tag, mask);
    EXPECT_EQ(tag, 1);
    EXPECT_EQ(mask, 0u);
    TDXAudioOut::WaveFormatFor(2, 24, tag, mask);
    EXPECT_EQ(tag, 0xFFFE);
    EXPECT_EQ(mask, 3u);
    TDXAudioOut::WaveFormatFor(6, 16, tag, mask);
    EXPECT_EQ(mask, 63u);
    TDXAudioOut::WaveFormatFor(8, 16, tag, mask);
    EXPECT_EQ(mask, 255u);
}

TEST(DXAudioOut, LatencyGivesTheBufferAndThePollingInterval)
{
    MemoryFileIn source(silence(44100, 2, 16), 16, 2, 44100);
    TDXAudioOut out;
    Events events;
    events.attach(out);
    out.SetInput(&source);
    out.DeviceNumber = nullDevice();
    out.Latency = 80;
    out.Run();
    ASSERT_TRUE(WaitFor([&] { return events.done == 1; }));
    EXPECT_EQ(events.exceptions, 0) << events.message.toStdString();
    EXPECT_EQ(out.FramesInBuffer, 3528u);
    EXPECT_EQ(out.PollingInterval, 26u);
    EXPECT_EQ(source.Position, source.Size); // everything was played

    out.Latency = 5; // raised to 10
    out.Run();
    ASSERT_TRUE(WaitFor([&] { return events.done == 2; }));
    EXPECT_EQ(out.Latency, 10u);
    EXPECT_EQ(out.FramesInBuffer, 441u);
}

TEST(DXAudioOut, SpeedFactorAndFormats)
{
    for (int bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        MemoryFileIn source(silence(22050, 2, bits), bits, 2, 22050);
        TDXAudioOut out;
        Events events;
        events.attach(out);
        out.SetInput(&source);
        out.DeviceNumber = nullDevice();
        out.SpeedFactor = 1.5f;
        out.SetVolume(-600); // software gain on every width
        out.Run();
        ASSERT_TRUE(WaitFor([&] { return events.done == 1; }));
        EXPECT_EQ(events.exceptions, 0) << events.message.toStdString();
        EXPECT_EQ(out.SampleRate, 33075);
    }
}

TEST(DXAudioOut, FailuresEndTheRunWithTheirMessage)
{
    MemoryFileIn source(silence(44100 * 5, 2, 16), 16, 2, 44100);
    TDXAudioOut out;
    Events events;
    events.attach(out);
    out.SetInput(&source);
    out.DeviceNumber = int(TDXAudioOut::DeviceNames().size()); // one past the list
    out.Run();
    ASSERT_TRUE(WaitFor([&] { return events.done == 1; }));
    EXPECT_EQ(events.message, "Invalid device number");
    EXPECT_EQ(events.exceptions, 1);
}

TEST(DXAudioOut, PauseResumeAndStop)
{
    ChunkedSource endless(4096);
    endless.Size = -1;
    TDXAudioOut out;
    Events events;
    events.attach(out);
    out.SetInput(&endless);
    out.DeviceNumber = nullDevice();
    out.Run();
    ASSERT_TRUE(WaitFor([&] { return endless.Position > 100000; }));
    out.Pause();
    EXPECT_EQ(out.Status(), 1);
    out.Resume();
    EXPECT_EQ(out.Status(), 0);
    out.Stop(false);
    EXPECT_EQ(out.Status(), 2);
    EXPECT_EQ(events.exceptions, 0) << events.message.toStdString();
}

// A device that never makes room again after the first block.
class StalledAudioOut final : public TDXAudioOut {
protected:
    long deviceRoom() override { return 0; }
};

TEST(DXAudioOut, AStalledDeviceEndsTheRunWithAnError)
{
    MemoryFileIn source(silence(44100 * 5, 2, 16), 16, 2, 44100);
    StalledAudioOut out;
    Events events;
    events.attach(out);
    out.SetInput(&source);
    out.DeviceNumber = nullDevice();
    out.Latency = 30; // ten-millisecond polls
    out.Run();
    ASSERT_TRUE(WaitFor([&] { return events.done == 1; }));
    EXPECT_EQ(events.exceptions, 1);
    EXPECT_TRUE(events.message.startsWith("ALSA device ") && events.message.contains(" took no sound for "))
        << events.message.toStdString();
    EXPECT_LT(source.Position, source.Size);
}

// A device that takes nothing for a while after the first block (a sound server filling its own buffers):
// waiting for it is no error, and the whole sound is played.
class SlowStartingAudioOut final : public TDXAudioOut {
public:
    std::atomic<int> emptyPolls{0};

protected:
    long deviceRoom() override
    {
        // Forty polls of ten milliseconds without room: longer than any fixed number of short tries.
        if (emptyPolls < 40) {
            ++emptyPolls;
            return 0;
        }
        return TDXAudioOut::deviceRoom();
    }
};

TEST(DXAudioOut, ADeviceThatWaitsBeforeTakingSoundIsWaitedFor)
{
    MemoryFileIn source(silence(44100, 2, 16), 16, 2, 44100);
    SlowStartingAudioOut out;
    Events events;
    events.attach(out);
    out.SetInput(&source);
    out.DeviceNumber = nullDevice();
    out.Latency = 30; // ten-millisecond polls
    out.Run();
    ASSERT_TRUE(WaitFor([&] { return events.done == 1; }, 20000));
    EXPECT_EQ(events.exceptions, 0) << events.message.toStdString();
    EXPECT_EQ(out.emptyPolls, 40);
    EXPECT_EQ(source.Position, source.Size);
}

TEST(DXAudioOut, TheEndIsPaddedWithSilenceAndPlayedOutBeforeDone)
{
    TestHome home;
    GatedSoundDevice device;
    QByteArray sound(44100 * 4, Qt::Uninitialized); // one second of a pattern with no zero bytes
    for (int i = 0; i < sound.size(); ++i)
        sound[i] = char(1 + i % 200);
    MemoryFileIn source(sound, 16, 2, 44100);
    TDXAudioOut out;
    Events events;
    events.attach(out);
    out.SetInput(&source);
    out.DeviceNumber = GatedSoundDevice::index();
    ASSERT_GE(out.DeviceNumber, 0);
    device.allow(100000);
    out.Run();
    ASSERT_TRUE(WaitFor([&] { return device.received() >= 100000; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(events.done, 0); // the device still has sound to take
    device.allow(-1);
    ASSERT_TRUE(WaitFor([&] { return events.done == 1; }));
    EXPECT_EQ(events.exceptions, 0) << events.message.toStdString();
    // The pipe may still hold the last of it.
    ASSERT_TRUE(WaitFor([&] { return device.closes() == 1; }));
    const QByteArray played = device.data();
    ASSERT_GT(played.size(), sound.size());
    EXPECT_TRUE(played.startsWith(sound));
    EXPECT_EQ(played.mid(sound.size()).count('\0'), played.size() - sound.size());
}

} // namespace
