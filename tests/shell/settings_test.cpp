// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/folders.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    TestHome home;
};

TEST_F(SettingsTest, FoldersFollowXdgAndAreCreated)
{
    EXPECT_EQ(AppDataFolder(), home.configHome() + "/");
    EXPECT_EQ(LocalAppDataFolder(), home.dataHome() + "/");
    EXPECT_EQ(SettingsFolder(), home.configHome() + "/Ombrel/Sondrel/");
    EXPECT_EQ(DataFolder(), home.dataHome() + "/Ombrel/Sondrel/");
    EXPECT_TRUE(QFileInfo(home.configHome() + "/Ombrel/Sondrel").isDir());
    EXPECT_TRUE(QFileInfo(home.dataHome() + "/Ombrel/Sondrel").isDir());
}

TEST_F(SettingsTest, RelativeXdgValuesAreIgnored)
{
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(AppDataFolder(), QDir::homePath() + "/.config/");
}

TEST_F(SettingsTest, FolderThatCannotBeCreatedFallsBackToProgramFolder)
{
    // A file where the folder should be makes the folder impossible to create.
    WriteFileText(home.root() + "/blocker", "x");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.root() + "/blocker"));
    EXPECT_EQ(DataFolder(), home.programFolder());
}

TEST_F(SettingsTest, DefaultsWithoutAFile)
{
    LoadOptions();
    const TOptionsSetting &s = AppSettings;
    EXPECT_EQ(s.CommonOptions.OutputFolder, DataFolder());
    EXPECT_EQ(s.CommonOptions.OutputFormat, 0);
    EXPECT_EQ(s.CommonOptions.NormalizePercent, 95);
    EXPECT_EQ(s.Mp3Options.BitRate, 128);
    EXPECT_EQ(s.Mp3Options.MaxBitRate, 320);
    EXPECT_EQ(s.Mp3Options.VBRQuality, 4);
    EXPECT_EQ(s.Mp3Options.StereoMode, 1);
    EXPECT_TRUE(s.OggOptions.IsUseCompress);
    EXPECT_EQ(s.OggOptions.CompressPosition, 30);
    EXPECT_EQ(s.WMAOptions.BitRate, 8);
    EXPECT_EQ(s.CDOptions.Index, -1);
    EXPECT_EQ(s.QueryCDDB.Server, "gnudb.gnudb.org");
    EXPECT_EQ(s.QueryCDDB.Script, "/~cddb/cddb.cgi");
    EXPECT_EQ(s.QueryCDDB.Port, "80");
    EXPECT_EQ(s.Lan, "English");
    EXPECT_FALSE(QFileInfo::exists(home.settingsFile()));
}

TEST_F(SettingsTest, FirstSaveWritesEveryKeyInOrderAndLoadsBackTheSame)
{
    LoadOptions();
    ASSERT_TRUE(SaveOptions());
    const QString expected =
        QStringLiteral(
            "[CommonOptions]\nOutputFolder=%1\nOutputFormat=0\nIsKeepWav=0\nIsCreateM3U=0\nIsNormalize=0\n"
            "NormalizePercent=95\nIsCreateAlbumFolder=0\nEnableRipTime=0\nRipTime=0\nIsCDHandleZero=0\n"
            "FileNameTemplate=%title%\nReadOffset=0\nTestAndCopy=0\nVerifyAccurateRip=0\n"
            "AccurateRipServer=http://www.accuraterip.com\nCtdbServer=http://db.cuetools.net\nWriteLog=0\nWriteCue=0\nResampleQuality=0\nEncodersAtOnce=0\nReplayGain=1\nOutputFormats=\nDeemphasis=0\nTestCopyRetries=3\nRipHiddenTrack=0\n"
            "[Mp3Options]\nIsSelectVBR=0\nIsVBRHead=0\nBitRate=128\nMaxBitRate=320\nMpegQuality="
            "0\nVBRQuality=4\n"
            "StereoMode=1\n"
            "[OggOptions]\nIsUseCompress=1\nCompressPosition=30\nMaxBitRate=0\nNomalBitRate=0\nMinBitRate=0\n"
            "[WMAOptions]\nBitRate=8\n"
            "[FlacOptions]\nCompressionLevel=5\n"
            "[OpusOptions]\nBitRate=160\n"
            "[CDOptions]\nIndex=-1\nCDDb=0\nDiscCacheSize=10000\n"
            "[RecordOptions]\nSaveMp3=0\n"
            "[QueryCDDB]\nServer=gnudb.gnudb.org\nScript=/~cddb/"
            "cddb.cgi\nUseProxy=0\nProxyAddress=\nPort=80\n"
            "TagEncoding=0\nLookupOrder=0\nMusicBrainzServer=https://musicbrainz.org\n"
            "CoverArtServer=https://coverartarchive.org\nSaveCover=1\nEmbedCover=1\n"
            "[ID3]\nUse=0\n"
            "[Options]\nLan=English\n")
            .arg(DataFolder());
    EXPECT_EQ(ReadFileText(home.settingsFile()), expected);

    const TOptionsSetting before = AppSettings;
    AppSettings = TOptionsSetting{};
    LoadOptions();
    EXPECT_EQ(ReadFileText(home.settingsFile()), expected);
    AppSettings.CommonOptions.OutputFolder = before.CommonOptions.OutputFolder;
    ASSERT_TRUE(SaveOptions());
    EXPECT_EQ(ReadFileText(home.settingsFile()), expected);
}

TEST_F(SettingsTest, ChangedValuesRoundTrip)
{
    LoadOptions();
    AppSettings.CommonOptions.OutputFolder = "/music/out/";
    AppSettings.CommonOptions.IsKeepWav = true;
    AppSettings.CommonOptions.RipTime = 90;
    AppSettings.Mp3Options.StereoMode = 4;
    AppSettings.OggOptions.IsUseCompress = false;
    AppSettings.QueryCDDB.Port = "8080";
    AppSettings.QueryCDDB.ProxyAddress = "proxy.local";
    AppSettings.Use = true;
    AppSettings.Lan = "German";
    ASSERT_TRUE(SaveOptions());
    AppSettings = TOptionsSetting{};
    LoadOptions();
    EXPECT_EQ(AppSettings.CommonOptions.OutputFolder, "/music/out/");
    EXPECT_TRUE(AppSettings.CommonOptions.IsKeepWav);
    EXPECT_EQ(AppSettings.CommonOptions.RipTime, 90);
    EXPECT_EQ(AppSettings.Mp3Options.StereoMode, 4);
    EXPECT_FALSE(AppSettings.OggOptions.IsUseCompress);
    EXPECT_EQ(AppSettings.QueryCDDB.Port, "8080");
    EXPECT_EQ(AppSettings.QueryCDDB.ProxyAddress, "proxy.local");
    EXPECT_TRUE(AppSettings.Use);
    EXPECT_EQ(AppSettings.Lan, "German");
}

TEST_F(SettingsTest, OddStoredValues)
{
    WriteFileText(home.settingsFile(), "[commonoptions]\nIsKeepWav=2\n[Mp3Options]\nBitRate=abc\n"
                                       "[OggOptions]\nCompressPosition=10\n[Options]\nLan=english\n"
                                       "[Mine]\nKeep=me\n");
    LoadOptions();
    EXPECT_TRUE(AppSettings.CommonOptions.IsKeepWav);
    EXPECT_EQ(AppSettings.Mp3Options.BitRate, 128);
    EXPECT_EQ(AppSettings.OggOptions.CompressPosition, 30);
    EXPECT_TRUE(IsEnglish(AppSettings.Lan));
    ASSERT_TRUE(SaveOptions());
    const QString saved = ReadFileText(home.settingsFile());
    EXPECT_TRUE(saved.contains("CompressPosition=30\n"));
    EXPECT_TRUE(saved.contains("IsKeepWav=1\n"));
    EXPECT_TRUE(saved.contains("[Mine]\nKeep=me\n"));

    WriteFileText(home.settingsFile(), "[OggOptions]\nCompressPosition=250\n[WMAOptions]\nBitRate=40\n");
    LoadOptions();
    EXPECT_EQ(AppSettings.OggOptions.CompressPosition, 100);
    EXPECT_EQ(AppSettings.WMAOptions.BitRate, 8);
}

TEST_F(SettingsTest, LoadKeepsDiscInfo)
{
    AppSettings.DiscInfo.Artist = "Someone";
    AppSettings.DiscInfo.Tracks[3] = "Third";
    LoadOptions();
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "Someone");
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[3], "Third");
}

} // namespace

namespace {

TEST(ShippedFiles, TheManualIsBesideTheProgramInTheBuildTree)
{
    SetProgramFolderOverride(QString());
    const QString manual = ShippedFilePath("sondrel-manual.html");
    EXPECT_TRUE(QFileInfo::exists(manual)) << manual.toStdString();
    EXPECT_TRUE(ReadFileText(manual).contains("<h1>Sondrel</h1>"));
}

} // namespace
