// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/authread.h"
#include "testsupport.h"
#include "ui/oggplayerform.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// The player on ALSA's "null" device, which takes a whole file at once.
class OggPlayerTest : public ::testing::Test {
protected:
    TestHome home;

    QString ogg(const QString &name, int seconds, const QStringList &comments)
    {
        const QString wav = home.root() + "/" + name + ".wav";
        EXPECT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth",
                                     QString::number(seconds), "sine", "440"}),
                  0);
        QStringList args{"-Q", "-q", "0", "-o", home.root() + "/" + name, wav};
        for (const QString &c : comments)
            args << "-c" << c;
        EXPECT_EQ(RunProgram("oggenc", args), 0);
        return home.root() + "/" + name;
    }

    static void onNullDevice(TfrmOggPlayer &player)
    {
        player.DXAudioOut1.DeviceNumber = int(TDXAudioOut::DeviceNames().indexOf("null"));
    }
};

TEST_F(OggPlayerTest, PlaysAFileAndShowsWhatItHolds)
{
    const QString file = ogg("Song.OGG", 3, {"ARTIST=Band", "TITLE=Song"});
    ModalCloser closer;
    TfrmOggPlayer player;
    onNullDevice(player);
    player.show();
    player.PlayFile(file);
    EXPECT_EQ(player.lFileName->text(), "Song"); // capitals: played, shown without the extension
    EXPECT_EQ(player.lSampleRate->text(), "44100 bps");
    EXPECT_EQ(player.lTotalTime->text(), "0:03");
    EXPECT_EQ(player.Memo1->toPlainText(), "Artist: Band\nTitle: Song");
    ASSERT_TRUE(WaitFor([&] { return player.BitBtn1->isEnabled(); })); // the end: ready for the next
    EXPECT_FALSE(player.ScrollBar1->isEnabled());
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

// Play starts every time on a device that keeps real time (a PulseAudio null sink through ALSA): 50 plays
// in a row, each heard, none with a message.
TEST_F(OggPlayerTest, PlayStartsEveryTime)
{
    PulseNullSink sink;
    if (!sink.available())
        GTEST_SKIP() << "no PulseAudio server could be started";
    const QString file = PulseNullSink::ShortToneOgg(home.root());
    ASSERT_FALSE(file.isEmpty());
    ModalCloser closer;
    TfrmOggPlayer player;
    player.DXAudioOut1.DeviceNumber = int(TDXAudioOut::DeviceNames().indexOf("pulse"));
    ASSERT_GE(player.DXAudioOut1.DeviceNumber, 0) << TDXAudioOut::DeviceNames().join(", ").toStdString();
    player.show();
    sink.record();
    for (int i = 0; i < 50; ++i) {
        player.PlayFile(file);
        ASSERT_TRUE(WaitFor([&] { return player.BitBtn1->isEnabled(); })) << i;
        if (!closer.texts.isEmpty() && !sink.answers())
            GTEST_SKIP() << "the test's sound server stopped answering: " << sink.report().toStdString();
        ASSERT_TRUE(closer.texts.isEmpty())
            << i << ": " << closer.texts.join("\n").toStdString() << sink.report().toStdString();
        // A pause between plays, so that each is a sound of its own.
        QElapsedTimer gap;
        gap.start();
        ASSERT_TRUE(WaitFor([&] { return gap.elapsed() >= 20; }));
    }
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
    EXPECT_EQ(PulseNullSink::soundsIn(sink.recorded(), 1000, 200), 50);
}

TEST_F(OggPlayerTest, AWavFileIsNotPlayed)
{
    const QString wav = home.root() + "/tone.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}), 0);
    ModalCloser closer;
    TfrmOggPlayer player;
    onNullDevice(player);
    player.show();
    player.PlayFile(wav);
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0], "|Ogg file is not valid.");
    EXPECT_TRUE(player.BitBtn1->isEnabled());
    EXPECT_EQ(player.lFileName->text(), "OGG");
}

TEST_F(OggPlayerTest, BalancePositionAndTimes)
{
    const QString file = ogg("long.ogg", 60, {});
    TfrmOggPlayer player;
    onNullDevice(player);
    player.show();
    player.TrackBar1->setValue(0);
    EXPECT_FLOAT_EQ(player.StereoBalance1.Balance(), 0.0f);
    player.TrackBar1->setValue(10);
    EXPECT_FLOAT_EQ(player.StereoBalance1.Balance(), 1.0f);
    player.PlayFile(file);
    ASSERT_TRUE(WaitFor([&] { return player.BitBtn1->isEnabled(); }));
    // The position bar from 20 to 70: the shown time is 70 per cent of the whole.
    player.ScrollBar1->setValue(20);
    player.ScrollBar1Scroll(70);
    EXPECT_EQ(player.ElapsedMs, 60 * 700);
    // The shown time counts half seconds and never passes the total.
    player.ElapsedMs = 59 * 1000 + 500;
    player.Timer2Timer();
    EXPECT_EQ(player.lCurrentTime->text(), "1:00");
    player.Timer2Timer();
    EXPECT_EQ(player.ElapsedMs, 60 * 1000);
}

TEST_F(OggPlayerTest, TheScrollBarJumpsInTheSound)
{
    // Five seconds of tone, then five of silence; a device that takes only what the test allows.
    GatedSoundDevice device;
    const QString tone = home.root() + "/tone.wav", quiet = home.root() + "/quiet.wav";
    const QString both = home.root() + "/both.wav", file = home.root() + "/both.ogg";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "5", "sine", "440"}),
        0);
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", quiet, "trim", "0", "5"}), 0);
    ASSERT_EQ(RunProgram("sox", {tone, quiet, both}), 0);
    ASSERT_EQ(RunProgram("oggenc", {"-Q", "-o", file, both}), 0);
    const int64_t whole = 10 * 44100 * 4;

    TfrmOggPlayer player;
    player.DXAudioOut1.DeviceNumber = GatedSoundDevice::index();
    player.show();
    device.allow(whole / 5);
    player.PlayFile(file);
    ASSERT_TRUE(WaitFor([&] { return device.received() >= whole / 5; }));
    // The jump pauses the output for a moment; the device takes what it is given meanwhile.
    device.setFlowing(
        [&] { return player.DXAudioOut1.Thread->PauseRequest || player.DXAudioOut1.Thread->Paused; });
    player.ScrollBar1->setValue(20);
    player.ScrollBar1Scroll(70);
    device.allow(-1);
    ASSERT_TRUE(WaitFor([&] { return player.BitBtn1->isEnabled(); }));
    ASSERT_TRUE(WaitFor([&] { return device.closes() == 1; })); // the pipe read to its end

    // What was played: the tone up to the jump, then only the last 30 per cent, which is silent.
    const QByteArray played = device.data();
    EXPECT_LT(played.size(), whole * 3 / 4);
    EXPECT_GT(played.size(), whole * 3 / 10);
    const auto loudest = [&](qsizetype from, qsizetype to) {
        int peak = 0;
        for (qsizetype i = from; i + 1 < to; i += 2)
            peak = std::max(peak, std::abs(int(qFromLittleEndian<int16_t>(played.constData() + i))));
        return peak;
    };
    EXPECT_GT(loudest(0, whole / 5), 10000);
    EXPECT_LT(loudest(played.size() - whole * 3 / 10 + 44100 * 4 / 5, played.size()), 100);
}

// The bar shows where the reading is in the file; a drag seeks once where it is let go, a page click or a
// key once from where the bar is; Pause with nothing playing starts no clock.
TEST_F(OggPlayerTest, TheBarSeeksOnceWhereItIsLetGo)
{
    GatedSoundDevice device;
    const QString file = ogg("long.ogg", 60, {});
    TfrmOggPlayer player;
    player.DXAudioOut1.DeviceNumber = GatedSoundDevice::index();
    player.show();
    player.BitBtn2Click();
    EXPECT_FALSE(player.Timer2->isActive());
    device.allow(44100 * 4);
    player.PlayFile(file);
    ASSERT_TRUE(WaitFor([&] { return device.received() >= 44100 * 4; }));
    device.setFlowing(
        [&] { return player.DXAudioOut1.Thread->PauseRequest || player.DXAudioOut1.Thread->Paused; });
    const int before = player.FilePercent();
    player.ScrollBar1->setSliderDown(true);
    for (const int value : {30, 45, 60})
        player.ScrollBar1->setValue(value);
    EXPECT_EQ(player.FilePercent(), before); // no seek while it is held
    player.ScrollBar1->setSliderDown(false);
    EXPECT_NEAR(player.FilePercent(), 60, 2);
    EXPECT_EQ(player.ScrollBar1->value(), player.FilePercent());
    player.ScrollBar1->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_NEAR(player.FilePercent(), 60 - player.ScrollBar1->pageStep(), 2);
    player.ScrollBar1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_NEAR(player.FilePercent(), 61 - player.ScrollBar1->pageStep(), 2);
    EXPECT_EQ(player.ElapsedMs, 60 * 10 * player.ScrollBar1->value());
    device.allow(-1);
    player.bStopClick();
}

// What is heard after each move of the bar (a drag, a page click, a key) is where the bar shows: a rising
// sweep tells by its pitch where in the file the sound comes from.
TEST_F(OggPlayerTest, TheSoundAfterAMoveIsWhereTheBarShows)
{
    GatedSoundDevice device;
    const QString wav = home.root() + "/sweep.wav", file = home.root() + "/sweep.ogg";
    // 60 s from 100 Hz to 6,100 Hz: second t sounds at 100 + 100 t Hz.
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "60", "sine",
                                 "100:6100", "gain", "-3"}),
              0);
    ASSERT_EQ(RunProgram("oggenc", {"-Q", "-q", "6", "-o", file, wav}), 0);
    const int64_t second = 44100 * 4;
    // The second of the file the last tenth of a second received comes from, by its pitch.
    const auto heardAt = [&] {
        const QByteArray played = device.data();
        const qsizetype from = played.size() - second / 10;
        int crossings = 0;
        int16_t last = qFromLittleEndian<int16_t>(played.constData() + from);
        for (qsizetype i = from + 4; i + 1 < played.size(); i += 4) {
            const int16_t sample = qFromLittleEndian<int16_t>(played.constData() + i);
            crossings += (last < 0) != (sample < 0);
            last = sample;
        }
        return (crossings / 2.0 / 0.1 - 100) / 100;
    };
    TfrmOggPlayer player;
    player.DXAudioOut1.DeviceNumber = GatedSoundDevice::index();
    player.show();
    device.allow(second);
    player.PlayFile(file);
    ASSERT_TRUE(WaitFor([&] { return device.received() >= second; }));
    EXPECT_NEAR(heardAt(), 1, 0.5);
    // A seek pauses the output a moment; the device takes what it is given meanwhile.
    device.setFlowing(
        [&] { return player.DXAudioOut1.Thread->PauseRequest || player.DXAudioOut1.Thread->Paused; });
    const auto listen = [&](const char *move) {
        SCOPED_TRACE(move);
        const double shown = player.ScrollBar1->value() * 60 / 100.0;
        const int64_t want = device.received() + second;
        device.allow(second);
        ASSERT_TRUE(WaitFor([&] { return device.received() >= want; }));
        // About a second on from where the bar was set (less what the device still held of before, and the
        // silence a jump begins with); a seek to the wrong place would be a page, six seconds, or more away.
        EXPECT_NEAR(heardAt(), shown + 0.8, 1.0) << shown;
    };
    player.ScrollBar1->setSliderDown(true);
    for (const int value : {20, 35, 50})
        player.ScrollBar1->setValue(value);
    player.ScrollBar1->setSliderDown(false);
    listen("drag to the middle");
    player.ScrollBar1->triggerAction(QAbstractSlider::SliderPageStepSub);
    listen("page click back");
    player.ScrollBar1->setFocus();
    QTest::keyClick(player.ScrollBar1, Qt::Key_PageUp);
    QTest::keyClick(player.ScrollBar1, Qt::Key_PageUp);
    listen("two page keys on");
    device.allow(-1);
    player.bStopClick();
}

TEST_F(OggPlayerTest, NoSoundDeviceIsSaidAndTheWindowStaysUsable)
{
    const QString file = ogg("tone.ogg", 1, {});
    ModalCloser closer;
    TfrmOggPlayer player;
    player.DXAudioOut1.DeviceNumber = int(TDXAudioOut::DeviceNames().size()); // none there
    player.show();
    player.PlayFile(file);
    ASSERT_TRUE(WaitFor([&] { return player.BitBtn1->isEnabled(); }));
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0], "Sondrel|Invalid device number");
}

TEST_F(OggPlayerTest, WithoutASoundCardTheDefaultDeviceSaysWhy)
{
    const QString file = ogg("tone.ogg", 1, {});
    MakeNoSoundCard();
    ModalCloser closer;
    TfrmOggPlayer player;
    player.show();
    player.PlayFile(file);
    ASSERT_TRUE(WaitFor([&] { return player.BitBtn1->isEnabled(); }));
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_TRUE(closer.texts[0].startsWith("Sondrel|Failed to create DirectSound device: "))
        << closer.texts[0].toStdString();
}

TEST_F(OggPlayerTest, ClosingWhilePlayingStopsFirst)
{
    const QString file = ogg("long.ogg", 120, {});
    TfrmOggPlayer player;
    onNullDevice(player);
    player.show();
    player.PlayFile(file);
    player.close(); // the title bar's close: stop, wait, then close
    EXPECT_TRUE(player.Closing);
    EXPECT_EQ(player.DXAudioOut1.Status(), 2);
    ASSERT_TRUE(WaitFor([&] { return !player.isVisible(); }));
}

} // namespace
