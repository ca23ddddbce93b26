// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder window on ALSA's "null" devices: capture gives silence (held to the clock), playback takes
// everything at once.
#include "jobs/wavheader.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "testsupport.h"
#include "ui/recordform.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

class StandInHost final : public TRecordHost {
public:
    bool drive = true;
    QStringList converted;
    bool HasDriveHandle() const override { return drive; }
    void ConvertRecording(const QString &wavFile) override { converted << wavFile; }
};

// 16-bit mono, 8000 Hz; every sample non-zero, so inserted silence shows where it went.
QByteArray rampWav(int frames)
{
    QByteArray data(frames * 2, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i)
        qToLittleEndian<int16_t>(int16_t(1 + i % 30000), data.data() + 2 * i);
    return CanonicalWavHeader(1, 8000, 16, uint32_t(data.size())) + data;
}

int16_t sampleAt(const QByteArray &file, int frame)
{
    return qFromLittleEndian<int16_t>(file.constData() + CanonicalWavHeaderSize + 2 * frame);
}

class RecordFormTest : public ::testing::Test {
protected:
    TestHome home;
    StandInHost host;
    ModalCloser closer{QMessageBox::Yes};
    std::unique_ptr<TfrmRecord> form;

    void SetUp() override
    {
        AppSettings = DefaultOptions();
        form = std::make_unique<TfrmRecord>(&host);
        form->CaptureDevice = "null";
        form->AudioOut1.DeviceNumber = int(TDXAudioOut::DeviceNames().indexOf("null"));
        form->show();
    }
    void TearDown() override
    {
        closer.answer = QMessageBox::No;
        form->close();
    }

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = home.root() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    void newFile(int rate, int bits, int channels)
    {
        form->AskNewFormat = [=](int &r, int &b, int &c) {
            r = rate;
            b = bits;
            c = channels;
            return true;
        };
        form->miNewClick();
    }

    void open(const QString &path)
    {
        form->AskOpenFileName = [path] { return path; };
        form->miOpenClick();
    }

    bool enabled(TfrmRecord::TMPBtnType b) const { return form->MediaButtons[b]->isEnabled(); }

    // Records about a tenth of a second and stops with the clock showing `shownMs` past the second.
    void recordAndStop(int shownMs = 0)
    {
        form->MediaPlayer1Click(TfrmRecord::btRecord);
        ASSERT_TRUE(form->Recorder.Recording());
        ASSERT_TRUE(WaitFor([&] { return form->Recorder.RecordedFrames() >= 800; }));
        form->LastRecordMs = shownMs;
        form->MediaPlayer1Click(TfrmRecord::btStop);
    }
};

} // namespace

TEST_F(RecordFormTest, NewFileGetsTheHeaderAndTheNewButtons)
{
    newFile(44100, 16, 2);
    const QByteArray bytes = ReadFileBytes(DataFolder() + "MyNoName.wav");
    ASSERT_EQ(bytes.size(), 44);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 28), 176400u);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(bytes.constData() + 32), 4);
    EXPECT_EQ(form->windowTitle(), "Record(NoName)");
    EXPECT_EQ(form->Buttons, TfrmRecord::bsNew);
    EXPECT_TRUE(enabled(TfrmRecord::btRecord));
    EXPECT_FALSE(enabled(TfrmRecord::btPlay));
    EXPECT_TRUE(form->actSave->isEnabled());
    EXPECT_FALSE(form->actUndo->isEnabled());
    EXPECT_EQ(form->lbLength->text(), "0.00 Sec");
    EXPECT_EQ(form->panRecordTime->text(), "00:00:00.0");

    // The dialog's own choices: 44100 Hz, 16 bits, stereo unless changed.
    TfrmNewRecordFile dialog;
    EXPECT_EQ(dialog.SampleRate(), 44100);
    EXPECT_EQ(dialog.BitsPerSample(), 16);
    EXPECT_EQ(dialog.Channels(), 2);
    dialog.cbBitSamples->setCurrentIndex(0);
    dialog.rb8Bit->setChecked(true);
    dialog.rbMono->setChecked(true);
    EXPECT_EQ(dialog.SampleRate(), 8000);
    EXPECT_EQ(dialog.BitsPerSample(), 8);
    EXPECT_EQ(dialog.Channels(), 1);
}

TEST_F(RecordFormTest, StoppingWaitsForTheNextWholeSecondOnlyPastATenth)
{
    newFile(44100, 16, 1);
    recordAndStop(100); // at once: at most the block in progress more
    const int64_t first = form->Recorder.Frames();
    EXPECT_GE(first, 800);
    EXPECT_EQ(form->lbState->text(), "Record over!");
    EXPECT_EQ(form->TrackBar1->value(), 400);
    EXPECT_EQ(form->Buttons, TfrmRecord::bsIdle);
    EXPECT_TRUE(form->Modified);
    EXPECT_EQ(form->lbLength->text(), TSoundRecorder::TimeText(form->Recorder.LengthMs()));

    // Shown 600 ms past the second: it records 400 ms more before it stops.
    form->MediaPlayer1Click(TfrmRecord::btRecord);
    ASSERT_TRUE(WaitFor([&] { return form->Recorder.RecordedFrames() >= 800; }));
    // The time shown is that of the audio recorded, not of the clock since Record.
    const int64_t heldBefore = form->Recorder.RecordedMs();
    form->TimerRecordTimer();
    const int64_t heldAfter = form->Recorder.RecordedMs();
    const QStringList shown = form->panRecordTime->text().split(':'); // hh:mm:ss.t
    ASSERT_EQ(shown.size(), 3);
    const int64_t shownMs = shown[1].toInt() * 60000 + std::llround(shown[2].toDouble() * 1000);
    EXPECT_GE(shownMs, heldBefore / 100 * 100);
    EXPECT_LE(shownMs, heldAfter);
    const int64_t before = form->Recorder.RecordedFrames();
    form->LastRecordMs = 600;
    form->MediaPlayer1Click(TfrmRecord::btStop);
    EXPECT_GE(form->Recorder.Frames() - first, before + 17640);
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

TEST_F(RecordFormTest, SavingTheUnnamedRecordingAsksForAWavName)
{
    newFile(8000, 16, 1);
    recordAndStop();
    const QByteArray recorded = ReadFileBytes(DataFolder() + "MyNoName.wav");

    const QString wrong = home.root() + "/take.mp3";
    form->AskSaveFileName = [&] { return wrong; };
    form->actSaveExecute();
    EXPECT_EQ(closer.texts, QStringList{"Sondrel|The save file should be WAV!"});
    EXPECT_FALSE(QFile::exists(wrong));
    EXPECT_TRUE(form->Modified);

    const QString target = home.root() + "/take"; // the extension comes by itself
    form->AskSaveFileName = [&] { return target; };
    form->actSaveExecute();
    EXPECT_EQ(ReadFileBytes(target + ".wav"), recorded);
    EXPECT_FALSE(QFile::exists(DataFolder() + "MyNoName.wav"));
    EXPECT_EQ(form->CurrentFile, target + ".wav");
    EXPECT_EQ(form->windowTitle(), "Record(" + target + ".wav)");
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(form->Buttons, TfrmRecord::bsAtStart);
    EXPECT_TRUE(host.converted.isEmpty()); // the MP3 tick is off
}

TEST_F(RecordFormTest, RecordingAtTheMiddleOfAnOpenedFileInsertsThere)
{
    const QString path = write("ten.wav", rampWav(80000)); // 10 seconds
    open(path);
    EXPECT_EQ(form->Buttons, TfrmRecord::bsAtStart);
    EXPECT_EQ(form->lbLength->text(), "10 Sec");
    EXPECT_EQ(ReadFileBytes(DataFolder() + "MyTemp.wav"), rampWav(80000));

    // Save on a named file that was not modified does nothing, even when the working copy differs.
    QFile copy(DataFolder() + "MyTemp.wav");
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(rampWav(10));
    copy.close();
    form->actSaveExecute();
    EXPECT_EQ(ReadFileBytes(path), rampWav(80000));
    form->LoadNamedFile(path);

    form->TrackBar1->setValue(200);
    EXPECT_EQ(form->lbPosition->text(), "5 Sec");
    recordAndStop();
    EXPECT_TRUE(form->actUndo->isEnabled());
    form->actSaveExecute();
    EXPECT_FALSE(form->Modified);
    const QByteArray saved = ReadFileBytes(path);
    const int recorded = (saved.size() - 44) / 2 - 80000;
    ASSERT_GE(recorded, 800);
    EXPECT_EQ(sampleAt(saved, 39999), int16_t(1 + 39999 % 30000));
    EXPECT_EQ(sampleAt(saved, 40000), 0);
    EXPECT_EQ(sampleAt(saved, 40000 + recorded - 1), 0);
    EXPECT_EQ(sampleAt(saved, 40000 + recorded), int16_t(1 + 40000 % 30000));
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

TEST_F(RecordFormTest, UndoAndTheQuestionsAboutModifiedFiles)
{
    const QString path = write("ten.wav", rampWav(8000));
    open(path);
    recordAndStop();
    ASSERT_GT(form->Recorder.Frames(), 8000);

    // Undo asks, then the working copy is the saved file again.
    form->actUndoExecute();
    EXPECT_EQ(closer.texts.value(0), "Sondrel|Discard the modification since last save file.");
    EXPECT_EQ(ReadFileBytes(DataFolder() + "MyTemp.wav"), rampWav(8000));
    EXPECT_EQ(form->lbPosition->text(), "1 Sec");
    EXPECT_EQ(form->Buttons, TfrmRecord::bsAtStart);

    // Opening a file that is not there says so and asks again; then the question about the modified file.
    recordAndStop();
    closer.texts.clear();
    int asked = 0;
    const QString missing = home.root() + "/gone.wav";
    form->AskOpenFileName = [&] { return ++asked == 1 ? missing : QString(); };
    closer.answer = QMessageBox::No; // do not save
    form->miOpenClick();
    ASSERT_EQ(closer.texts.size(), 2);
    EXPECT_EQ(closer.texts[0], "Sondrel|" + path + " has been modified,Save it?");
    EXPECT_EQ(closer.texts[1],
              "Sondrel|Please check the filename correct or not\r\nCould not be found\uFF01\r\n" + missing);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(ReadFileBytes(path), rampWav(8000));
}

TEST_F(RecordFormTest, TheMp3StepNeedsADriveAndAsksBeforeReplacing)
{
    const QString path = write("take.wav", rampWav(8000));
    write("take.mp3", "old");
    form->miSaveMp3->setChecked(true);
    open(path);
    recordAndStop();
    closer.answer = QMessageBox::No; // keep the old MP3
    form->actSaveExecute();
    EXPECT_EQ(closer.texts, QStringList{"Sondrel|" + home.root() + "/take.mp3 has existed,overite it?"});
    EXPECT_TRUE(host.converted.isEmpty());

    closer.answer = QMessageBox::Yes;
    closer.texts.clear();
    recordAndStop();
    AppSettings.CommonOptions.OutputFormat = 2;
    form->actSaveExecute();
    EXPECT_EQ(host.converted, QStringList{path});
    EXPECT_EQ(AppSettings.CommonOptions.OutputFormat, 0);
    EXPECT_TRUE(form->Converted);

    // Without a drive the step refuses and closes the recorder; the tick is kept in the settings.
    host.drive = false;
    closer.texts.clear();
    recordAndStop();
    form->actSaveExecute();
    EXPECT_EQ(closer.texts, QStringList{"Sondrel|Please access CD devices rightly above all!"});
    ASSERT_TRUE(WaitFor([&] { return !form->isVisible(); }));
    EXPECT_TRUE(AppSettings.RecordOptions.SaveMp3);
    EXPECT_FALSE(QFile::exists(DataFolder() + "MyTemp.wav"));
}

TEST_F(RecordFormTest, PlayingRunsTheButtonsThroughTheirSets)
{
    open(write("one.wav", rampWav(8000)));
    form->MediaPlayer1Click(TfrmRecord::btPlay);
    EXPECT_EQ(form->Buttons, TfrmRecord::bsPlaying);
    EXPECT_EQ(form->lbState->text(), "Playing...");
    EXPECT_FALSE(form->actSave->isEnabled());
    EXPECT_TRUE(form->Timer1->isActive());
    form->MediaPlayer1Click(TfrmRecord::btPause);
    EXPECT_FALSE(form->Timer1->isActive());
    form->MediaPlayer1Click(TfrmRecord::btPause);
    EXPECT_TRUE(form->Timer1->isActive());
    form->Timer1Timer();
    EXPECT_EQ(form->TrackBar1->value(), 200);
    form->Timer1Timer();
    EXPECT_EQ(form->TrackBar1->value(), 400);
    EXPECT_EQ(form->Buttons, TfrmRecord::bsAtEnd);
    EXPECT_FALSE(form->Timer1->isActive());

    form->MediaPlayer1Click(TfrmRecord::btPrev);
    EXPECT_EQ(form->Buttons, TfrmRecord::bsAtStart);
    form->MediaPlayer1Click(TfrmRecord::btNext);
    EXPECT_EQ(form->Buttons, TfrmRecord::bsAtEnd);
    // Play at the end starts again from the beginning.
    form->MediaPlayer1Click(TfrmRecord::btPlay);
    EXPECT_EQ(form->TrackBar1->value(), 0);
    EXPECT_EQ(form->PlayCounter, 0);
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

TEST_F(RecordFormTest, WithoutASoundCardRecordAndPlaySaySo)
{
    MakeNoSoundCard();
    open(write("one.wav", rampWav(8000)));
    form->CaptureDevice = "default";
    form->AudioOut1.DeviceNumber = 0;
    form->MediaPlayer1Click(TfrmRecord::btRecord);
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_TRUE(closer.texts[0].startsWith("Sondrel|Error while initializing MCI device!\ndefault: "))
        << closer.texts[0].toStdString();
    form->MediaPlayer1Click(TfrmRecord::btPlay);
    ASSERT_TRUE(WaitFor([&] { return closer.texts.size() == 2; }));
    EXPECT_TRUE(closer.texts[1].startsWith("Sondrel|Failed to create DirectSound device: "))
        << closer.texts[1].toStdString();
    EXPECT_EQ(form->Buttons, TfrmRecord::bsIdle);
}

TEST_F(RecordFormTest, RecordingControlOpensTheMixersInputDevices)
{
    if (QFileInfo::exists("/usr/bin/pavucontrol"))
        GTEST_SKIP() << "the real mixer is installed; the stand-in would not be the one started";
    const QString bin = home.root() + "/bin";
    QDir().mkpath(bin);
    const QString said = home.root() + "/arguments";
    WriteFileText(bin + "/pavucontrol",
                  "#!/bin/sh\necho \"$@\" > '" + said + ".part'; mv '" + said + ".part' '" + said + "'\n");
    QFile::setPermissions(bin + "/pavucontrol", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ":" + path);
    form->miRecordOptionSet->trigger();
    qputenv("PATH", path);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(said); }));
    EXPECT_EQ(ReadFileText(said), "--tab=4\n");
}

TEST_F(RecordFormTest, WithoutSoundDevicesEveryButtonSaysSo)
{
    open(write("one.wav", rampWav(8000)));
    form->CaptureDevice = "no-such-device";
    form->MediaPlayer1Click(TfrmRecord::btRecord);
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_TRUE(closer.texts[0].startsWith("Sondrel|Error while initializing MCI device!\nno-such-device: "))
        << closer.texts[0].toStdString();
    EXPECT_FALSE(form->Recorder.Recording());
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(form->Buttons, TfrmRecord::bsAtStart);

    form->AudioOut1.DeviceNumber = 999;
    form->MediaPlayer1Click(TfrmRecord::btPlay);
    ASSERT_TRUE(WaitFor([&] { return closer.texts.size() == 2; }));
    EXPECT_EQ(closer.texts[1], "Sondrel|Invalid device number");
    EXPECT_EQ(form->Buttons, TfrmRecord::bsIdle);
    EXPECT_TRUE(form->isVisible());
}
