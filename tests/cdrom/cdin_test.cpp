// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/auexception.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "jobs/waveout.h"
#include "memoryaudio.h"
#include "shell/folders.h"
#include "shell/inifile.h"
#include "testsupport.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

class CDInTest : public ::testing::Test {
protected:
    TestHome home;
    QString images = DataFolder() + "Disc images/";
    QByteArray image;

    CDInTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
    }
    ~CDInTest() override { SetRealCdDrivesEnabled(true); }

    void disc(const QStringList &tracks)
    {
        ASSERT_TRUE(MakeDisc(images + "disc.cue", tracks));
        image = ReadFileBytes(images + "disc.bin");
    }
    QByteArray sectors(int first, int count) const
    {
        return image.mid(qsizetype(first) * 2352, qsizetype(count) * 2352);
    }
};

TEST_F(CDInTest, DriveQuestions)
{
    disc({"300,music", "00:02:10,noise", "data:100"});
    TCDIn cd;
    EXPECT_EQ(cd.DrivesCount(), 1);
    cd.SetCurrentDrive(0);
    cd.SetCurrentDrive(1); // not below the count: ignored
    cd.SetCurrentDrive(-1);
    EXPECT_EQ(cd.CurrentDrive(), 0);
    EXPECT_EQ(cd.DriveName(), "Image disc.cue");
    EXPECT_TRUE(cd.MediaPresent());
    EXPECT_EQ(cd.TracksCount(), 3);
    const TCDTrackInfo second = cd.TrackInfo(2);
    EXPECT_EQ(second.Min, 0);
    EXPECT_EQ(second.Sec, 2);
    EXPECT_EQ(second.Frame, 10);
    EXPECT_FALSE(second.DataTrack);
    EXPECT_TRUE(cd.TrackInfo(3).DataTrack);
    try {
        cd.TrackInfo(4);
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "Track out of range.");
    }
    EXPECT_EQ(IniFile(SettingsFolder() + "cdr.ini").readString("CD-ROM", "nActive", ""), "0");
}

TEST_F(CDInTest, PositionsAndSize)
{
    disc({"100", "200", "300", "400", "500"});
    TCDIn cd;
    cd.SetStartTrack(2);
    cd.SetEndTrack(3); // to the first sector of track 4
    EXPECT_EQ(cd.EndPos().Track, 4);
    EXPECT_EQ(cd.CurrentSize(), (500 + 1) * 2352); // one sector more before the read
    EXPECT_EQ(Drain(cd).size(), 500 * 2352);
    EXPECT_EQ(cd.Size, 0);

    TCDPosition end;
    end.Track = 100; // the end of the disc
    cd.SetEndPos(end);
    EXPECT_EQ(cd.EndPos().Track, 6);
    EXPECT_EQ(Drain(cd), sectors(100, 1400));

    TCDPosition start;
    start.Track = 3;
    start.Sec = 1;
    start.Frame = 5; // 80 sectors into track 3
    cd.SetStartPos(start);
    cd.SetEndTrack(3);
    EXPECT_EQ(Drain(cd), sectors(300 + 80, 300 - 80));
}

TEST_F(CDInTest, RefusalsBeforeTheRead)
{
    disc({"data:100", "100"});
    TCDIn cd;
    cd.SetStartTrack(1);
    cd.SetEndTrack(1);
    try {
        cd.Init();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "Trying to rip a data track");
    }
    cd.SetStartTrack(3);
    EXPECT_THROW(cd.Init(), EAuException);
    cd.SetStartTrack(2);
    cd.SetEndTrack(5);
    try {
        cd.Init();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "The end track out of range");
    }
    uint8_t *buffer = nullptr;
    uint32_t bytes = 10;
    TCDIn idle;
    EXPECT_THROW(idle.GetData(buffer, bytes), EAuException);

    cd.SetEndTrack(2);
    cd.Init();
    EXPECT_THROW(cd.SetStartTrack(1), EAuException); // busy
    cd.Flush();
}

TEST_F(CDInTest, TrackToWaveFileWithAndWithoutParanoia)
{
    disc({"200,noise", "457,music", "100,tone"});
    for (const bool paranoid : {false, true}) {
        TCDIn cd;
        cd.Paranoid = paranoid;
        cd.SetStartTrack(2);
        cd.SetEndTrack(2);
        TWaveOut out;
        out.SetInput(&cd);
        const QString path = home.root() + QString("/track%1.wav").arg(paranoid);
        out.SetFileName(path);
        ASSERT_TRUE(RunToCompletion(out));
        ASSERT_EQ(out.ExceptionMessage(), "");
        const QByteArray wav = ReadFileBytes(path);
        ASSERT_EQ(wav.size(), 44 + 457 * 2352) << paranoid;
        EXPECT_EQ(wav.mid(44), sectors(200, 457)) << paranoid;
    }
}

// An unreadable sector becomes silence and is told; a track of which nothing can be read ends the run with
// an error naming the drive.
TEST_F(CDInTest, UnreadableSectorsAreSilenceAndTold)
{
    disc({"--bad", "350", "--bad", "500-799", "200", "300", "300"});
    const QByteArray clean = ReadFileBytes(images + "disc.bin");
    TCDIn cd;
    cd.SetStartTrack(2);
    cd.SetEndTrack(2);
    TWaveOut out;
    out.SetInput(&cd);
    out.SetFileName(home.root() + "/bad.wav");
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(), "");
    EXPECT_EQ(cd.Unreadable, QList<int32_t>{350});
    EXPECT_EQ(cd.UnreadableReason, "Read error at sector 350 of " + images + "disc.cue");
    QByteArray expected = clean.mid(200 * 2352, 300 * 2352);
    expected.replace(150 * 2352, 2352, QByteArray(2352, '\0'));
    EXPECT_TRUE(ReadFileBytes(home.root() + "/bad.wav").mid(44) == expected);

    cd.SetStartTrack(3);
    cd.SetEndTrack(3);
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(),
              "Read error at sector 500 of " + images + "disc.cue"); // the drive named
}

} // namespace
