// What a rip must never do to the user's files, whatever the titles hold.
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "clirun.h"
#include "shell/discinfo.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/settings.h"
#include "tags/id3tag.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

class NothingLostTest : public ::testing::Test {
protected:
    TestHome home;
    QString images = DataFolder() + "Disc images/";
    QString out = home.root() + "/out";

    NothingLostTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
        QDir().mkpath(out);
    }
    ~NothingLostTest() override { SetRealCdDrivesEnabled(true); }

    // A disc whose cache entry is written as raw bytes, the way anyone could have left it.
    void disc(const QStringList &tracks, const QByteArray &entryLines)
    {
        ASSERT_TRUE(MakeDisc(images + "disc.cue", tracks));
        QDir().mkpath(DataFolder());
        QFile file(DataFolder() + "cdinfo.dat");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[" + DiscKey().toUtf8() + "]\n" + entryLines);
    }

    QStringList files() const { return QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

TEST_F(NothingLostTest, ControlCharactersNeverReachAFileName)
{
    disc({"50,music", "50,music"}, QByteArray("TrackNumber=2\n1=be\0fore\n2=keep.txt\0x\n", 40));
    WriteFileText(out + "/keep.txt", "mine");
    const CliRun run = runCli({"rip", "-f", "wav", "-o", out, "--no-overwrite", "--quiet"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(files(), QStringList({"before.wav", "keep.txt", "keep.txtx.wav"}));
    EXPECT_EQ(ReadFileText(out + "/keep.txt"), "mine");
}

TEST_F(NothingLostTest, NoOverwriteKeepsEveryExistingFile)
{
    disc({"50,music", "50,music"}, "TrackNumber=2\n");
    for (const char *format : {"wav", "mp3", "ogg"}) {
        SCOPED_TRACE(format);
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        const QString mine = out + "/Track01." + format;
        WriteFileText(mine, "mine");
        const CliRun run = runCli({"rip", "-f", format, "-o", out, "--no-overwrite", "--quiet"});
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_EQ(ReadFileText(mine), "mine");
        EXPECT_TRUE(run.err.contains("kept " + mine)) << run.err.toStdString();
        EXPECT_TRUE(QFileInfo(out + "/Track02." + format).size() > 4); // the other track is ripped
        // With --overwrite the same rip replaces it.
        ASSERT_EQ(runCli({"rip", "-f", format, "-o", out, "--overwrite", "--quiet"}).code, 0);
        EXPECT_NE(ReadFileText(mine), "mine");
    }
}

TEST_F(NothingLostTest, SameTitlesGetNumberedNames)
{
    disc({"50,music", "50,tone", "50,noise"}, "TrackNumber=3\n1=Untitled\n2=untitled\n3=Untitled\n");
    WriteFileText(SettingsFolder() + "options.ini", "[CommonOptions]\nIsCreateM3U=1\n");
    const CliRun run = runCli({"rip", "-f", "wav", "-o", out, "--quiet"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(files(), QStringList({"Unknown Artist - Unknown Album.m3u", "Untitled (3).wav", "Untitled.wav",
                                    "untitled (2).wav"}));
    EXPECT_NE(ReadFileBytes(out + "/Untitled.wav"), ReadFileBytes(out + "/untitled (2).wav"));
    EXPECT_EQ(ReadFileText(out + "/Unknown Artist - Unknown Album.m3u"),
              "Untitled.wav\r\nuntitled (2).wav\r\nUntitled (3).wav\r\n");
}

TEST_F(NothingLostTest, AFailedEncodingKeepsItsWav)
{
    disc({"50,music", "50,music"}, "TrackNumber=2\n");
    QDir().mkpath(out + "/Track01.mp3"); // a folder where the MP3 should go
    const CliRun run = runCli({"rip", "-f", "mp3", "-o", out, "--quiet", "--overwrite"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains(out + "/Track01.mp3: cannot be written: Is a directory"))
        << run.err.toStdString();
    EXPECT_TRUE(QFileInfo(out + "/Track01.wav").size() > 44); // all there is of the track: kept
    EXPECT_TRUE(QFileInfo(out + "/Track02.mp3").isFile());
    EXPECT_FALSE(QFileInfo::exists(out + "/Track02.wav")); // encoded, so gone as usual
    EXPECT_EQ(files(), QStringList({"Track01.wav", "Track02.mp3"}));
}

TEST_F(NothingLostTest, NamesTheFileSystemTakes)
{
    const QString longTitle = QString(255, QChar('x'));
    disc({"50,music", "50,music"},
         ("TrackNumber=2\n1=...And Justice for All\n2=" + longTitle + "\n").toUtf8());
    const CliRun run = runCli({"rip", "-f", "mp3", "--tags", "-o", out, "--quiet"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    const QStringList names = files();
    ASSERT_EQ(names.size(), 2);
    EXPECT_EQ(names[0], "And Justice for All.mp3");
    EXPECT_EQ(names[1], QString(MaxFileBaseBytes, QChar('x')) + ".mp3");
    Tid3tag tag;
    ASSERT_LT(tag.ReadTag(out + "/And Justice for All.mp3"), 256);
    EXPECT_EQ(tag.Title, "And Justice for All"); // the file is not taken for a protected one
}

} // namespace
