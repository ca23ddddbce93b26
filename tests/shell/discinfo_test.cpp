// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/discinfo.h"
#include "shell/inifile.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

class DiscInfoTest : public ::testing::Test {
protected:
    TestHome home;
};

TEST_F(DiscInfoTest, UnknownDiscGetsDefaults)
{
    AppSettings.DiscInfo.Artist = "previous";
    LoadDiscInfo("123456");
    const TCDInfo &info = AppSettings.DiscInfo;
    EXPECT_EQ(info.Artist, "");
    EXPECT_EQ(info.Genre, -1);
    EXPECT_EQ(info.TrackNumber, 100);
    EXPECT_EQ(info.Tracks[1], "Track01");
    EXPECT_EQ(info.Tracks[9], "Track09");
    EXPECT_EQ(info.Tracks[100], "Track100");
}

TEST_F(DiscInfoTest, EmptyKeyTouchesNothing)
{
    AppSettings.DiscInfo.Artist = "kept";
    LoadDiscInfo(QString());
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "kept");
    EXPECT_FALSE(SaveDiscInfo(QString()));
    EXPECT_FALSE(QFileInfo::exists(home.discInfoFile()));
}

TEST_F(DiscInfoTest, CountLimitsTitlesAndEmptyValuesBecomeDefaults)
{
    WriteFileText(home.discInfoFile(), "[-559038737]\nArtist=A\nAlbum=B\nYear=1999\nGenre=17\nComment=C\n"
                                       "TrackNumber=3\n1=One\n2=\n3=Three\n4=Four\n");
    AppSettings.DiscInfo.Tracks[4] = "untouched";
    LoadDiscInfo("-559038737");
    const TCDInfo &info = AppSettings.DiscInfo;
    EXPECT_EQ(info.Artist, "A");
    EXPECT_EQ(info.Album, "B");
    EXPECT_EQ(info.Year, "1999");
    EXPECT_EQ(info.Genre, 17);
    EXPECT_EQ(info.Comment, "C");
    EXPECT_EQ(info.TrackNumber, 3);
    EXPECT_EQ(info.Tracks[1], "One");
    EXPECT_EQ(info.Tracks[2], "Track02");
    EXPECT_EQ(info.Tracks[3], "Three");
    EXPECT_EQ(info.Tracks[4], "untouched");
}

TEST_F(DiscInfoTest, ZeroNegativeAndLargeCounts)
{
    WriteFileText(home.discInfoFile(),
                  "[1]\nTrackNumber=0\n1=X\n[2]\nTrackNumber=-4\n1=X\n[3]\nTrackNumber=250\n");
    AppSettings.DiscInfo.Tracks[1] = "same";
    LoadDiscInfo("1");
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[1], "same");
    LoadDiscInfo("2");
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[1], "same");
    LoadDiscInfo("3");
    EXPECT_EQ(AppSettings.DiscInfo.TrackNumber, 250);
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[100], "Track100");

    ASSERT_TRUE(SaveDiscInfo("3"));
    const IniFile saved(home.discInfoFile());
    EXPECT_EQ(saved.readString("3", "100", ""), "Track100");
    EXPECT_FALSE(saved.hasKey("3", "101"));
}

TEST_F(DiscInfoTest, FirstRunWritesASectionWithTheTrackCount)
{
    LoadDiscInfo("42");
    AppSettings.DiscInfo.TrackNumber = 5;
    ASSERT_TRUE(SaveDiscInfo("42"));
    const IniFile saved(home.discInfoFile());
    EXPECT_EQ(saved.keys("42"), QStringList({"Artist", "Album", "Year", "Genre", "Comment", "TrackNumber",
                                             "1", "2", "3", "4", "5"}));
    EXPECT_EQ(saved.readInteger("42", "TrackNumber", 0), 5);
    EXPECT_EQ(saved.readString("42", "5", ""), "Track05");
}

TEST_F(DiscInfoTest, KeysNotWrittenStayAndOtherDiscsAreUntouched)
{
    WriteFileText(home.discInfoFile(), "[7]\nTrackNumber=4\n4=Old four\nExtra=x\n[8]\n1=Other disc\n");
    AppSettings.DiscInfo.TrackNumber = 2;
    AppSettings.DiscInfo.Tracks[1] = "New one";
    AppSettings.DiscInfo.Tracks[2] = "New two";
    ASSERT_TRUE(SaveDiscInfo("7"));
    const IniFile saved(home.discInfoFile());
    EXPECT_EQ(saved.readString("7", "4", ""), "Old four");
    EXPECT_EQ(saved.readString("7", "Extra", ""), "x");
    EXPECT_EQ(saved.readString("7", "2", ""), "New two");
    EXPECT_EQ(saved.readString("8", "1", ""), "Other disc");
}

TEST_F(DiscInfoTest, TitleWithLineBreakRoundTripsAsOneLine)
{
    LoadDiscInfo("9");
    AppSettings.DiscInfo.TrackNumber = 2;
    AppSettings.DiscInfo.Tracks[1] = "Line one\r\nTrackNumber=99\r\n[Other]";
    AppSettings.DiscInfo.Tracks[2] = "Two";
    ASSERT_TRUE(SaveDiscInfo("9"));
    AppSettings.DiscInfo = TCDInfo{};
    LoadDiscInfo("9");
    EXPECT_EQ(AppSettings.DiscInfo.TrackNumber, 2);
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[1], "Line one  TrackNumber=99  [Other]");
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[2], "Two");
    EXPECT_EQ(IniFile(home.discInfoFile()).sections(), QStringList({"9"}));
}

TEST_F(DiscInfoTest, TrackArtistsAreKeptOnlyWhereATrackHasOne)
{
    TCDInfo info;
    info.Artist = "Various";
    info.TrackNumber = 3;
    info.Tracks[1] = "One";
    info.TrackArtists[2] = "Queen";
    ASSERT_TRUE(SaveDiscInfo("abc", info));
    const IniFile ini(DiscInfoFilePath());
    EXPECT_EQ(ini.readString("abc", "Artist2", ""), "Queen");
    EXPECT_FALSE(ini.hasKey("abc", "Artist1"));
    TCDInfo back;
    back.TrackArtists[1] = "stale";
    LoadDiscInfo("abc", back);
    EXPECT_EQ(back.TrackArtists[1], "");
    EXPECT_EQ(back.TrackArtists[2], "Queen");
    // Taking the artist away removes its key.
    back.TrackArtists[2].clear();
    ASSERT_TRUE(SaveDiscInfo("abc", back));
    EXPECT_FALSE(IniFile(DiscInfoFilePath()).hasKey("abc", "Artist2"));
}

TEST_F(DiscInfoTest, OldCacheInProgramFolderIsCopiedOnce)
{
    WriteFileText(home.programFolder() + "cdinfo.dat", "[5]\nArtist=From program folder\n");
    LoadDiscInfo("5");
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "From program folder");
    ASSERT_TRUE(QFileInfo::exists(home.discInfoFile()));

    AppSettings.DiscInfo.Artist = "Changed";
    ASSERT_TRUE(SaveDiscInfo("5"));
    LoadDiscInfo("5");
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "Changed");
    EXPECT_EQ(IniFile(home.programFolder() + "cdinfo.dat").readString("5", "Artist", ""),
              "From program folder");
}

TEST_F(DiscInfoTest, AnOldCacheThatCannotBeCopiedStaysInUse)
{
    WriteFileText(home.programFolder() + "cdinfo.dat", "[5]\nArtist=From program folder\n");
    // The copy cannot be made: a file stands where its folder would be.
    const QString data = QFileInfo(home.discInfoFile()).path();
    ASSERT_TRUE(QDir(data).removeRecursively());
    WriteFileText(data, "not a folder");
    LoadDiscInfo("5");
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "From program folder");
    EXPECT_FALSE(QFileInfo(home.discInfoFile()).isFile());
    QFile::remove(data);
}

} // namespace
