// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/encoderprocess.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "jobs/ripjob.h"
#include "mainwindow/mainform.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "tags/id3tag.h"
#include "testsupport.h"
#include "ui/cdripform.h"
#include "ui/ripform.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

class CDRipFormTest : public ::testing::Test {
protected:
    TestHome home;
    ModalCloser closer;
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    QString images = DataFolder() + "Disc images/";
    QString out = home.root() + "/out/";
    int result = -1;

    CDRipFormTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
        QDir().mkpath(out);
        AppSettings.CommonOptions.OutputFolder = out;
    }
    ~CDRipFormTest() override { SetRealCdDrivesEnabled(true); }

    bool run(const QStringList &files, const std::function<bool()> &stopAt = {},
             const std::function<void(TfrmCDRip &)> &watch = {})
    {
        TCDIn cd;
        TfrmCDRip form(nullptr, cd, files, AppSettings.CommonOptions.OutputFolder, mp3, wma);
        QObject::connect(&form, &QDialog::finished, [this](int r) { result = r; });
        form.open();
        bool stopped = false;
        return WaitFor(
            [&] {
                if (watch)
                    watch(form);
                if (!stopped && stopAt && result < 0 && stopAt()) {
                    stopped = true;
                    form.bStop->click();
                }
                return result >= 0;
            },
            120000);
    }
    bool exists(const QString &name) const { return QFileInfo::exists(out + name); }
};

TEST_F(CDRipFormTest, TracksToMp3DeletingEachWav)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"00:02:00,music", "00:02:00,music", "00:02:00,music"}));
    AppSettings.CommonOptions.OutputFormat = 0;
    AppSettings.CommonOptions.IsKeepWav = false;
    AppSettings.CommonOptions.EncodersAtOnce = 1; // one step after the other
    AppSettings.DiscInfo.Artist = "Artist";
    QStringList wavsSeenWithMp3;
    ASSERT_TRUE(run({"01A", "02B", "03C"}, [&] {
        // Once B's MP3 exists, A's WAV must already be gone.
        if (exists("B.mp3") && exists("A.wav"))
            wavsSeenWithMp3 << "A.wav";
        return false;
    }));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(wavsSeenWithMp3.isEmpty());
    for (const char *name : {"A", "B", "C"}) {
        EXPECT_TRUE(exists(QString(name) + ".mp3")) << name;
        EXPECT_FALSE(exists(QString(name) + ".wav")) << name;
    }
    // The tag is written whatever the ID3 setting says.
    Tid3tag tag;
    EXPECT_EQ(tag.ReadTag(out + "C.mp3"), 0);
    EXPECT_EQ(tag.Artist, "Artist");
    EXPECT_EQ(tag.Track, 3);
}

// With two encoders the reads go on while the tracks before encode, each encoding with a line of its own;
// the files, tags and the end are those of the step-by-step job, the WAVs going at the end.
TEST_F(CDRipFormTest, TwoEncodersEncodeBesideTheReads)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"00:04:00,music", "00:04:00,music", "00:04:00,music"}));
    AppSettings.CommonOptions.OutputFormat = 0;
    AppSettings.CommonOptions.IsKeepWav = false;
    AppSettings.CommonOptions.EncodersAtOnce = 2;
    AppSettings.DiscInfo.Artist = "Artist";
    QStringList lines;
    QString format;
    ASSERT_TRUE(run({"01A", "02B", "03C"}, {}, [&](TfrmCDRip &form) {
        format = form.lOutputFormat->text();
        for (const auto &line : form.Encodings->Lines)
            if (!line.Caption->text().isEmpty() && !lines.contains(line.Caption->text()))
                lines << line.Caption->text();
    }));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
    EXPECT_EQ(format, "MP3");
    for (const char *line : {"Encoding(01/03): A", "Encoding(02/03): B", "Encoding(03/03): C"})
        EXPECT_FALSE(lines.filter(line).isEmpty()) << line << ": " << lines.join(" | ").toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files).join(" "), "A.mp3 B.mp3 C.mp3");
    Tid3tag tag;
    EXPECT_EQ(tag.ReadTag(out + "B.mp3"), 0);
    EXPECT_EQ(tag.Artist, "Artist");
    EXPECT_EQ(tag.Track, 2);
}

TEST_F(CDRipFormTest, RipTimeReadsOnIntoTheNextTrack)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"01:00:00,music", "01:00:00,noise"}));
    AppSettings.CommonOptions.OutputFormat = 1;
    AppSettings.CommonOptions.EnableRipTime = true;
    AppSettings.CommonOptions.RipTime = 90;
    ASSERT_TRUE(run({"01First"}));
    EXPECT_EQ(QFileInfo(out + "First.wav").size(), 44 + 90 * 75 * 2352);
    const QByteArray image = ReadFileBytes(images + "disc.bin");
    EXPECT_EQ(ReadFileBytes(out + "First.wav").mid(44), image.left(90 * 75 * 2352));
}

TEST_F(CDRipFormTest, StopDuringTheSecondRead)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"00:02:00,music", "05:00:00,music"}));
    AppSettings.CommonOptions.OutputFormat = 0;
    // Step by step, and with the first track's encoding beside the second read.
    for (const int encoders : {1, 2}) {
        SCOPED_TRACE(encoders);
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        result = -1;
        AppSettings.CommonOptions.EncodersAtOnce = encoders;
        // Stopped once A's encoding has ended whole (its WAV gone with it) and B is being read.
        ASSERT_TRUE(run({"01A", "02B"}, [&] {
            return exists("A.mp3") && !exists("A.wav") && QFileInfo(out + "B.wav").size() > 1000000;
        }));
        EXPECT_EQ(result, mrAbort);
        EXPECT_TRUE(exists("A.mp3"));
        // The stopped file's header matches what was written; nothing else is left.
        const QByteArray head = ReadFileBytes(out + "B.wav").left(44);
        EXPECT_EQ(qFromLittleEndian<uint32_t>(head.constData() + 40),
                  uint32_t(QFileInfo(out + "B.wav").size() - 44));
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).join(" "),
                  "A.mp3 B.wav"); // A.wav went with its encoding
    }
}

TEST_F(CDRipFormTest, NormalisesEveryTrackAsSoxScalesIt)
{
    // Normalising now runs beside the window; each track must still be scaled, whole, before it is named.
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"00:03:00,music", "00:02:00,noise"}));
    AppSettings.CommonOptions.OutputFormat = 1;
    AppSettings.CommonOptions.IsNormalize = true;
    AppSettings.CommonOptions.NormalizePercent = 50;
    ASSERT_TRUE(run({"01A", "02B"}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).join(" "), "A.wav B.wav");
    // The judge: sox scaling the image's audio by half, without dither (rounding may differ by one step).
    const QStringList raw{"-t", "raw", "-e", "signed", "-b", "16", "-c", "2", "-r", "44100", "-L"};
    ASSERT_EQ(RunProgram("sox", raw + QStringList{images + "disc.bin", "-D"} + raw +
                                    QStringList{images + "half.raw", "vol", "0.5"}),
              0);
    const QByteArray judge = ReadFileBytes(images + "half.raw");
    const QByteArray ours = ReadFileBytes(out + "A.wav").mid(44) + ReadFileBytes(out + "B.wav").mid(44);
    ASSERT_EQ(ours.size(), judge.size());
    int farOff = 0;
    for (qsizetype i = 0; i + 1 < ours.size(); i += 2)
        farOff += std::abs(qFromLittleEndian<int16_t>(ours.constData() + i) -
                           qFromLittleEndian<int16_t>(judge.constData() + i)) > 1;
    EXPECT_EQ(farOff, 0);
}

// Test & copy through the drive component (no paranoia, as the window reads): where the reads of a weak
// sector differed is in the log, as a place in the track and the disc's sector.
TEST_F(CDRipFormTest, TestAndCopyLogsWhereReadsDiffered)
{
    ASSERT_TRUE(
        MakeDisc(images + "disc.cue", {"300,music", "300,music", "--flaky", "450", "--damage", "c2=0"}));
    AppSettings.CommonOptions.OutputFormat = 1;
    AppSettings.CommonOptions.TestAndCopy = true;
    AppSettings.CommonOptions.WriteLog = true;
    ASSERT_TRUE(run({"01Steady", "02Weak"}));
    const QStringList logs = QDir(out).entryList({"*.log"});
    ASSERT_EQ(logs.size(), 1) << closer.texts.join("\n").toStdString();
    const QString log = ReadFileText(out + logs[0]);
    EXPECT_TRUE(log.contains("  Suspicious positions: 00:02.00 (sector 450)\r\n")) << log.toStdString();
    EXPECT_EQ(log.count("  Suspicious positions: "), 1) << log.toStdString();
}

TEST_F(CDRipFormTest, DataTrackIsReportedAndSkipped)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"00:02:00,music", "data:00:02:00", "00:02:00,music"}));
    AppSettings.CommonOptions.OutputFormat = 1;
    ASSERT_TRUE(run({"01A", "02Data", "03C"}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(exists("A.wav"));
    EXPECT_FALSE(exists("Data.wav"));
    EXPECT_TRUE(exists("C.wav"));
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0], "Sondrel|Track 02 (Data): Trying to rip a data track");
}

TEST_F(CDRipFormTest, MainWindowExtractsThroughTheDriveComponent)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music", "100,music"}));
    WriteFileText(SettingsFolder() + "options.ini",
                  "[CommonOptions]\nIsCDHandleZero=1\nOutputFormat=1\nOutputFolder=" + out + "\n");
    TMainForm form;
    form.show();
    form.FormActivate();
    ASSERT_EQ(form.ListView1->model()->rowCount(), 2);
    form.ListView1->model()->setData(form.ListView1->model()->index(0, 1), "One");
    form.ListView1->model()->setData(form.ListView1->model()->index(1, 1), "Two");
    EXPECT_TRUE(form.ActionExtract->isEnabled());
    form.ActionExtractExecute();
    EXPECT_EQ(QFileInfo(out + "One.wav").size(), 44 + 100 * 2352) << closer.texts.join("\n").toStdString();
    EXPECT_EQ(QFileInfo(out + "Two.wav").size(), 44 + 100 * 2352);
}

} // namespace
