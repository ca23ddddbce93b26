// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/inifile.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

class IniFileTest : public ::testing::Test {
protected:
    TestHome home;
    QString path = home.root() + QStringLiteral("/test.ini");
};

TEST_F(IniFileTest, NamesMatchWithoutCaseAndFirstMatchWins)
{
    WriteFileText(path, "[Alpha]\nKey=one\nkey=two\n[ALPHA]\nKey=three\n");
    IniFile ini(path);
    EXPECT_EQ(ini.readString("alpha", "KEY", "x"), "one");
    ini.writeString("aLpHa", "kEy", "new");
    EXPECT_EQ(ini.readString("Alpha", "Key", "x"), "new");
    EXPECT_EQ(ini.text(), "[Alpha]\nKey=new\nkey=two\n[ALPHA]\nKey=three\n");
}

TEST_F(IniFileTest, ValuesAreTrimmedAndUnknownLinesKept)
{
    WriteFileText(path,
                  "; a comment\r\n[S]\r\n  Name  =  spaced value  \r\nnot a key line\r\n[Other]\r\nX=1\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.readString("S", "Name", ""), "spaced value");
    ini.writeString("S", "Added", "v");
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(ReadFileText(path),
              "; a comment\n[S]\nName=spaced value\nnot a key line\nAdded=v\n[Other]\nX=1\n");
}

TEST_F(IniFileTest, NewKeysGoToTheEndOfTheirSectionAndNewSectionsToTheEnd)
{
    WriteFileText(path, "[A]\nx=1\n\n[B]\ny=2\n");
    IniFile ini(path);
    ini.writeString("A", "z", "3");
    ini.writeString("C", "w", "4");
    EXPECT_EQ(ini.text(), "[A]\nx=1\nz=3\n\n[B]\ny=2\n[C]\nw=4\n");
    EXPECT_EQ(ini.sections(), QStringList({"A", "B", "C"}));
    EXPECT_EQ(ini.keys("a"), QStringList({"x", "z"}));
}

TEST_F(IniFileTest, IntegersAndBooleans)
{
    WriteFileText(path, "[S]\na=42\nb= -7 \nc=abc\nd=12x\ne=\nf=0x10\ng=99999999999\nh=2\ni=0\n");
    const IniFile ini(path);
    EXPECT_EQ(ini.readInteger("S", "a", 5), 42);
    EXPECT_EQ(ini.readInteger("S", "b", 5), -7);
    EXPECT_EQ(ini.readInteger("S", "c", 5), 5);
    EXPECT_EQ(ini.readInteger("S", "d", 5), 5);
    EXPECT_EQ(ini.readInteger("S", "e", 5), 5);
    EXPECT_EQ(ini.readInteger("S", "f", 5), 5);
    EXPECT_EQ(ini.readInteger("S", "g", 5), 5);
    EXPECT_EQ(ini.readInteger("S", "missing", 5), 5);
    EXPECT_TRUE(ini.readBool("S", "h", false));
    EXPECT_FALSE(ini.readBool("S", "i", true));
    EXPECT_TRUE(ini.readBool("S", "c", true));
}

TEST_F(IniFileTest, LineBreaksInValuesCannotAddKeysOrSections)
{
    IniFile ini(path);
    ini.writeString("Disc", "1", "Title\r\n[Evil]\nInjected=1");
    ini.writeString("Disc", "2", "Two");
    ASSERT_TRUE(ini.save());
    const IniFile reread(path);
    EXPECT_EQ(reread.readString("Disc", "1", ""), "Title  [Evil] Injected=1");
    EXPECT_EQ(reread.readString("Disc", "2", ""), "Two");
    EXPECT_FALSE(reread.hasSection("Evil"));
    EXPECT_EQ(reread.keys("Disc"), QStringList({"1", "2"}));
}

TEST_F(IniFileTest, Utf8RoundTripAndLatin1Fallback)
{
    IniFile ini(path);
    ini.writeString("S", "T", QString::fromUtf8("Björk – Jóga 日本"));
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(IniFile(path).readString("S", "T", ""), QString::fromUtf8("Björk – Jóga 日本"));

    QFile legacy(path);
    ASSERT_TRUE(legacy.open(QIODevice::WriteOnly | QIODevice::Truncate));
    legacy.write("[S]\nT=Bj\xf6rk\n");
    legacy.close();
    EXPECT_EQ(IniFile(path).readString("S", "T", ""), QString::fromUtf8("Björk"));
}

TEST_F(IniFileTest, MissingFileIsEmptyAndSaveCreatesIt)
{
    IniFile ini(path);
    EXPECT_FALSE(ini.hasSection("S"));
    EXPECT_EQ(ini.readString("S", "K", "dflt"), "dflt");
    ini.writeInteger("S", "K", 3);
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(ReadFileText(path), "[S]\nK=3\n");
}

TEST_F(IniFileTest, SaveReportsFailure)
{
    // A folder stands where the file should go: the rename over it fails, and the folder is untouched.
    const QString blocked = home.root() + QStringLiteral("/blocked.ini");
    QDir().mkpath(blocked + "/inside");
    IniFile ini(blocked);
    ini.writeString("S", "K", "v");
    EXPECT_FALSE(ini.save());
    EXPECT_TRUE(QFileInfo(blocked + "/inside").isDir());
}

} // namespace

namespace {

// Large files of many sections: one section read by scanning, one written by copying the rest through.
TEST_F(IniFileTest, OneSectionReadAndWrittenThroughTheRestOfTheFile)
{
    // A preamble, a Latin-1 line in another section, the section twice (the first wins), no final newline.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "; cache\n[A]\nX=1\n[Disc]\nArtist=Old\n1=Song\n[B]\nT=Caf\xE9\n[disc]\nArtist=Shadow\n[C]\nY=3");
    file.close();
    IniFile disc = IniFile::readSection(path, "DISC");
    EXPECT_EQ(disc.readString("Disc", "Artist", ""), "Old");
    EXPECT_EQ(disc.sections(), QStringList{"Disc"});
    EXPECT_EQ(IniFile::readSection(path, "b").readString("B", "T", ""), QString::fromUtf8("Café"));
    EXPECT_FALSE(IniFile::readSection(path, "None").hasSection("None"));

    disc.writeString("Disc", "Artist", "New");
    ASSERT_TRUE(disc.saveSection("Disc", 100));
    // Every other line byte for byte; the section (both copies gone) last with the keys not written.
    EXPECT_EQ(ReadFileBytes(path),
              QByteArray("; cache\n[A]\nX=1\n[B]\nT=Caf\xE9\n[C]\nY=3\n[Disc]\nArtist=New\n"
                         "1=Song\n"));

    // At most N sections: the first ones (saved longest ago) go; the preamble stays.
    IniFile fresh = IniFile::readSection(path, "D");
    fresh.writeString("D", "Z", "4");
    ASSERT_TRUE(fresh.saveSection("D", 3));
    EXPECT_EQ(ReadFileBytes(path), QByteArray("; cache\n[C]\nY=3\n[Disc]\nArtist=New\n1=Song\n[D]\nZ=4\n"));
    // (A failed write keeping the old contents: NothingLostTest.AFullDiskKeepsTheDiscCache.)
}

// The cache is read in blocks of a megabyte: a section, or one of its lines, across the seam is read whole,
// as the whole-file reader reads it.
TEST_F(IniFileTest, ASectionAcrossTheReadingBlocks)
{
    for (const int shift : {-20, -9, -1, 0, 1, 7}) {
        SCOPED_TRACE(shift);
        QByteArray bytes;
        for (int n = 0; bytes.size() < (1 << 20) + shift - 40; ++n)
            bytes += "[" + QByteArray::number(n) + "]\nArtist=Someone " + QByteArray::number(n) + "\n";
        bytes += "  [Target]\r\nArtist=Found\r\n1=The first title of it\n[After]\nX=1";
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
        file.close();
        const IniFile one = IniFile::readSection(path, "target");
        EXPECT_EQ(one.readString("Target", "Artist", ""), "Found");
        EXPECT_EQ(one.readString("Target", "1", ""), IniFile(path).readString("Target", "1", "whole"));
        EXPECT_EQ(IniFile::readSection(path, "After").readString("After", "X", ""), "1");
    }
}

} // namespace
