// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/cddrivelist.h"
#include "jobs/cdripthread.h"
#include "jobs/wavheader.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "testsupport.h"
#include "wavtestsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>
#include <cstring>
#include <gtest/gtest.h>

namespace {

class CDRipThreadTest : public ::testing::Test {
protected:
    TestHome home;
    MessageCollector window;
    QString images = DataFolder() + "Disc images/";
    QString out = home.root() + "/out";
    TCdHandle handle = 0;

    CDRipThreadTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
        QDir().mkpath(out);
        AppSettings.CommonOptions.OutputFolder = out;
    }
    ~CDRipThreadTest() override
    {
        CloseDriveHandle(handle);
        SetRealCdDrivesEnabled(true);
    }

    QByteArray disc(const QStringList &tracks)
    {
        EXPECT_TRUE(MakeDisc(images + "disc.cue", tracks));
        handle = OpenFirstDriveHandle();
        EXPECT_NE(handle, 0u);
        return ReadFileBytes(images + "disc.bin");
    }

    // Reads the track to its end; the notices are in window.
    QString rip(int track, bool stopAtOnce = false)
    {
        TCDRipThread thread(track, QString("Track %1").arg(track));
        thread.CDHandle = handle;
        thread.NotifyWindow = &window;
        thread.Options = AppSettings.CommonOptions;
        if (stopAtOnce)
            thread.StopRequested = 1;
        thread.Resume();
        EXPECT_TRUE(WaitFor([&] { return thread.Finished(); }));
        QCoreApplication::processEvents();
        return thread.FilePath();
    }

    int progressCount() const { return int(window.progress().size()); }
};

uint32_t U32(const QByteArray &b, int at)
{
    return qFromLittleEndian<uint32_t>(b.constData() + at);
}

TEST_F(CDRipThreadTest, WholeBlocksAndAShortLastOne)
{
    const QByteArray image = disc({"300,music", "257,noise", "100,tone"});
    const QString first = rip(1);
    EXPECT_EQ(first, out + "/Track 1.wav");
    EXPECT_EQ(progressCount(), 30);
    ASSERT_EQ(window.notices(1000).size(), 1u);
    EXPECT_EQ(window.notices(1000)[0].ResultCode, 0);
    EXPECT_EQ(window.received.back().info.Percent, 1000);
    QByteArray wav = ReadFileBytes(first);
    ASSERT_EQ(wav.size(), 44 + 300 * 2352);
    EXPECT_EQ(wav.left(44), CdAudioWavHeader(300 * 2352));
    EXPECT_EQ(wav.mid(44), image.left(300 * 2352));

    window.received.clear();
    const QString second = rip(2);
    EXPECT_EQ(progressCount(), 26); // 25 blocks of 10 and one of 7
    EXPECT_EQ(window.progress().back().Percent, 100);
    wav = ReadFileBytes(second);
    EXPECT_EQ(U32(wav, 40), 257u * 2352u);
    EXPECT_EQ(U32(wav, 4), 257u * 2352u + 36u);
    EXPECT_EQ(wav.mid(44), image.mid(300 * 2352, 257 * 2352));

    // The last track is measured to the lead-out.
    window.received.clear();
    wav = ReadFileBytes(rip(3));
    EXPECT_EQ(wav.mid(44), image.mid(557 * 2352));
}

// A long track: a notice each time the percentage moves, not one for each of its 300 blocks.
TEST_F(CDRipThreadTest, ProgressOnlyWhenThePercentageMoves)
{
    disc({"3000,silence"});
    rip(1);
    const auto notices = window.progress();
    ASSERT_GE(notices.size(), 2u);
    EXPECT_LE(notices.size(), 101u);
    for (size_t i = 1; i < notices.size(); ++i)
        EXPECT_GT(notices[i].Percent, notices[i - 1].Percent);
    EXPECT_EQ(notices.back().Percent, 100);
}

TEST_F(CDRipThreadTest, RipTimeLimit)
{
    const QByteArray image = disc({"00:45:00,music", "100"});
    AppSettings.CommonOptions.EnableRipTime = true;
    AppSettings.CommonOptions.RipTime = 30;
    const QByteArray wav = ReadFileBytes(rip(1));
    EXPECT_EQ(wav.size(), 44 + 2250 * 2352);
    EXPECT_EQ(wav.mid(44), image.left(2250 * 2352));
}

// A read that does not end whole (stopped, or nothing of the track readable) leaves nothing under the track's
// name, and the file that was there stays.
TEST_F(CDRipThreadTest, StopOrReadFailureLeavesTheOldFileAndNoWorkingFile)
{
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stop" : "read failure");
        window.received.clear();
        disc({"--bad", stop ? "125" : "0-299", "300,music"});
        WriteBytes(out + "/Track 1.wav", "mine");
        const QString path = rip(1, stop);
        EXPECT_EQ(ReadFileBytes(path), "mine");
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList({"Track 1.wav"}));
        if (stop) {
            EXPECT_TRUE(window.notices(1000).empty());
        } else {
            ASSERT_EQ(window.notices(1000).size(), 1u);
            EXPECT_EQ(window.notices(1000)[0].ResultCode, 3);
            EXPECT_FALSE(window.notices(1000)[0].Elapsed.isEmpty()); // the image's reason
        }
        CloseDriveHandle(handle);
    }
    handle = 0;
}

TEST_F(CDRipThreadTest, SetUpFailures)
{
    disc({"100"});
    AppSettings.CommonOptions.OutputFolder = home.root() + "/no such folder";
    rip(1);
    ASSERT_EQ(window.notices(1000).size(), 1u);
    EXPECT_EQ(window.notices(1000)[0].ResultCode, 5);

    window.received.clear();
    CloseDriveHandle(handle);
    rip(1);
    handle = 0;
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].message, WM_RIPERROR);
    EXPECT_EQ(window.received[0].lParam, 1);
}

QByteArray Samples16(std::initializer_list<int16_t> values)
{
    QByteArray out;
    for (int16_t v : values)
        out.append(reinterpret_cast<const char *>(&v), 2);
    return out;
}

TEST_F(CDRipThreadTest, NormalisationScalesEverySample)
{
    const QString wav = out + "/n.wav";
    const QByteArray samples = Samples16({3, -3, 5, -5, 1000, -32768, 32767, 0});
    const QByteArray file = CdAudioWavHeader(uint32_t(samples.size())) + samples;
    WriteBytes(wav, file);
    ASSERT_TRUE(TCDRipThread::Normalize(wav, 100, &window));
    EXPECT_EQ(ReadFileBytes(wav), file);
    ASSERT_TRUE(TCDRipThread::Normalize(wav, 50, &window));
    EXPECT_EQ(ReadFileBytes(wav).mid(44), Samples16({2, -2, 2, -2, 500, -16384, 16384, 0}));
    EXPECT_FALSE(QFileInfo::exists(out + "/n.nor"));
    QCoreApplication::processEvents();
    EXPECT_EQ(window.notices(999).size(), 2u);

    // A long file streams through in 2048-byte blocks, reporting as it goes.
    window.received.clear();
    WriteBytes(wav, CdAudioWavHeader(200000) + QByteArray(200000, '\x10'));
    ASSERT_TRUE(TCDRipThread::Normalize(wav, 95, &window));
    QCoreApplication::processEvents();
    EXPECT_GT(window.progress().size(), 90u);
    EXPECT_EQ(ReadFileBytes(wav).size(), 200044);
}

TEST_F(CDRipThreadTest, NormalisationThatCannotWriteKeepsTheFileAndStillCompletes)
{
    disc({"100,music"});
    AppSettings.CommonOptions.IsNormalize = true;
    AppSettings.CommonOptions.NormalizePercent = 50;
    QDir().mkpath(out + "/.Track 1.wav.nor"); // a folder where the temporary file should go
    const QString path = rip(1);
    ASSERT_EQ(window.notices(1000).size(), 1u);
    EXPECT_EQ(window.notices(1000)[0].ResultCode, 0);
    EXPECT_EQ(window.notices(999).size(), 1u);
    EXPECT_EQ(QFileInfo(path).size(), 44 + 100 * 2352);
}

} // namespace

#include "jobs/playlist.h"
#include "shell/helpers.h"
#include "shell/userprompt.h"

namespace {

struct Answer final : TUserPrompt {
    bool yes = false;
    int asked = 0;
    bool Question(const QString &, const QString &) override
    {
        ++asked;
        return yes;
    }
    void Information(const QString &, const QString &) override {}
};

TEST(Playlist, OnlyFilesThatExistAndOnlyWithLeaveToOverwrite)
{
    TestHome home;
    const QString folder = home.root() + "/music";
    QDir().mkpath(folder);
    WriteFileText(folder + "/Intro.mp3", "x");
    WriteFileText(folder + "/Outro.mp3", "x");
    const QString path = folder + "/" + AlbumPlaylistName("AC/DC", "Live: 2001");
    EXPECT_TRUE(path.endsWith("/ACDC - Live 2001.m3u"));
    EXPECT_EQ(AlbumPlaylistName("", ""), "Unknown Artist - Unknown Album.m3u");
    Answer answer;
    ASSERT_TRUE(WritePlaylist(path, {"01Intro", "02Missing", "03Outro"}, ".mp3", folder, &answer));
    EXPECT_EQ(ReadFileText(path), "Intro.mp3\r\nOutro.mp3\r\n");
    EXPECT_EQ(answer.asked, 0);
    EXPECT_FALSE(WritePlaylist(path, {"01Intro"}, ".mp3", folder, &answer));
    EXPECT_EQ(answer.asked, 1);
    EXPECT_EQ(ReadFileText(path), "Intro.mp3\r\nOutro.mp3\r\n");
    answer.yes = true;
    EXPECT_TRUE(WritePlaylist(path, {"01Intro"}, ".mp3", folder, &answer));
    EXPECT_EQ(ReadFileText(path), "Intro.mp3\r\n");
    const auto unwritable = WritePlaylist(home.root() + "/no/such/folder/x.m3u", {}, ".mp3", folder, &answer);
    EXPECT_FALSE(unwritable);
    EXPECT_FALSE(unwritable.Error().isEmpty());
}

TEST(FileNameTemplates, FieldsAreReplacedOnceAndCleaned)
{
    TTrackNameFields f;
    f.Track = 3;
    f.Title = "A/B";
    f.Artist = "AC/DC";
    f.AlbumArtist = "Various";
    f.Album = "Hits: Vol. 1";
    f.Year = "1980";
    f.Genre = "Rock";
    // The default keeps the names made before templates existed.
    EXPECT_EQ(JobListEntry("%title%", f), "03AB");
    EXPECT_EQ(FileBaseOfTemplate("%track% - %title%", f), "03 - AB");
    EXPECT_EQ(FileBaseOfTemplate("%track% - %artist% - %title%", f), "03 - ACDC - AB");
    EXPECT_EQ(FileBaseOfTemplate("%ALBUMARTIST%_%album%_%year%_%genre%", f), "Various_Hits Vol. 1_1980_Rock");
    // A field's text is never read as a field, and unknown fields stay as written.
    f.Title = "%artist%";
    EXPECT_EQ(FileBaseOfTemplate("%title% %unknown%", f), "%artist% %unknown%");
    // A template cannot make folders or hidden files, and an empty result gets the time-stamp name.
    f.Title = "..";
    EXPECT_EQ(FileBaseOfTemplate("../%title%/x", f), "x");
    f.Title = "";
    EXPECT_TRUE(FileBaseOfTemplate("%title%", f).startsWith("File_"));
    EXPECT_TRUE(FileBaseOfTemplate("%title%", f).endsWith("_3"));
    // Long fields end within the file name limit.
    f.Title = QString(400, QChar(0x65e5));
    EXPECT_LE(FileBaseOfTemplate("%track% - %title%", f).toUtf8().size(), MaxFileBaseBytes);
}

} // namespace
