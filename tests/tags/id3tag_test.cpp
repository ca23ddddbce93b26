// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/genres.h"
#include "tags/id3tag.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

class Id3Test : public ::testing::Test {
protected:
    TestHome home;
    QString mp3 = home.root() + "/song.mp3";

    void writeBytes(const QByteArray &bytes)
    {
        QFile f(mp3);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray block() { return ReadFileBytes(mp3).right(128); }
};

TEST_F(Id3Test, NewObjectDefaults)
{
    Tid3tag tag;
    EXPECT_FALSE(tag.HasTrack);
    EXPECT_EQ(tag.Title, QString(30, QChar(0)));
    EXPECT_EQ(tag.Year, QString(4, QChar(0)));
    EXPECT_EQ(tag.Genre, 255);
    EXPECT_EQ(tag.Track, 0);
}

TEST_F(Id3Test, AppendThenOverwrite)
{
    writeBytes(QByteArray(100, 'x'));
    Tid3tag tag;
    tag.SetTitle("Title");
    tag.SetArtist("Artist");
    tag.SetAlbum("Album");
    tag.SetYear("19991");
    tag.SetComment("Comment");
    tag.Genre = Tid3tag::GenreToId3(118); // Rock
    EXPECT_EQ(tag.WriteTag(mp3), 0);
    EXPECT_EQ(QFileInfo(mp3).size(), 228);
    EXPECT_EQ(tag.FileName, mp3);
    tag.SetTitle("Other");
    EXPECT_EQ(tag.WriteTag("="), 0);
    EXPECT_EQ(QFileInfo(mp3).size(), 228);
    EXPECT_EQ(ReadFileBytes(mp3).left(100), QByteArray(100, 'x'));

    Tid3tag back;
    EXPECT_EQ(back.ReadTag(mp3), 0);
    EXPECT_EQ(back.Title, "Other");
    EXPECT_EQ(back.Artist, "Artist");
    EXPECT_EQ(back.Year, "1999");
    EXPECT_EQ(back.Comment, "Comment");
    EXPECT_EQ(back.Genre, 17);
    EXPECT_EQ(Tid3tag::Id3ToGenre(back.Genre), 118);
    EXPECT_FALSE(back.HasTrack);
}

TEST_F(Id3Test, TrackNumberTakesTheLastTwoCommentBytes)
{
    writeBytes(QByteArray(500, '\0'));
    Tid3tag tag;
    const QString comment = "123456789012345678901234567890";
    tag.SetComment(comment);
    tag.SetTrack(5);
    EXPECT_EQ(tag.WriteTag(mp3), 0);
    const QByteArray b = block();
    EXPECT_EQ(b.mid(97, 28), comment.left(28).toLatin1());
    EXPECT_EQ(b[125], '\0');
    EXPECT_EQ(b[126], '\5');
    Tid3tag back;
    back.ReadTag(mp3);
    EXPECT_TRUE(back.HasTrack);
    EXPECT_EQ(back.Track, 5);
    EXPECT_EQ(back.Comment, comment.left(28));

    // A non-zero byte 28 makes a 30-byte comment without a track, whatever byte 29 holds.
    QByteArray bytes = ReadFileBytes(mp3);
    bytes[bytes.size() - 128 + 97 + 28] = 'Z';
    writeBytes(bytes);
    back.ReadTag(mp3);
    EXPECT_FALSE(back.HasTrack);
    EXPECT_EQ(back.Track, 0);
    EXPECT_EQ(back.Comment.size(), 30);

    // A second file read with the same object gets its own full comment.
    Tid3tag shortOne;
    shortOne.SetComment("ab");
    writeBytes(QByteArray(10, '\0'));
    shortOne.WriteTag(mp3);
    back.ReadTag(mp3);
    EXPECT_EQ(back.Comment, "ab");
}

TEST_F(Id3Test, PaddingAndLatin1)
{
    QByteArray bytes(200, '\0');
    QByteArray tag("TAG");
    tag += QByteArray("Title   ") + QByteArray(22, ' ');
    tag += QByteArray(30, char(255));
    tag += QByteArray("Caf\xe9") + QByteArray(26, '\0');
    tag += QByteArray("2001");
    tag += QByteArray(30, '\0');
    tag += char(200);
    writeBytes(bytes + tag);
    Tid3tag t;
    EXPECT_EQ(t.ReadTag(mp3), 0x80); // an odd genre is still a success
    EXPECT_EQ(t.Title, "Title");
    EXPECT_EQ(t.Artist, "");
    EXPECT_EQ(t.Album, QString::fromUtf8("Café"));
    EXPECT_EQ(Tid3tag::Id3ToGenre(t.Genre), 0);

    t.SetTitle(QString::fromUtf8("Ölfass 日本"));
    EXPECT_EQ(t.WriteTag(mp3), 0);
    EXPECT_EQ(block().mid(3, 10), QByteArray("\xd6lfass ??\0", 10));
}

TEST_F(Id3Test, Failures)
{
    Tid3tag t;
    EXPECT_EQ(t.ReadTag(home.root() + "/missing.mp3"), 0x100);
    EXPECT_EQ(t.WriteTag(home.root() + "/missing.mp3"), 0x100);
    writeBytes(QByteArray(50, 'x'));
    EXPECT_EQ(t.ReadTag(mp3), 0x1000);
    writeBytes(QByteArray(300, 'x'));
    EXPECT_EQ(t.ReadTag(mp3), 0x1000);

    // RemoveTag on a file without a tag leaves it alone; with one, cuts it off.
    t.RemoveTag();
    EXPECT_EQ(QFileInfo(mp3).size(), 300);
    EXPECT_EQ(t.WriteTag(mp3), 0);
    EXPECT_EQ(QFileInfo(mp3).size(), 428);
    t.RemoveTag();
    EXPECT_EQ(QFileInfo(mp3).size(), 300);

    QFile::setPermissions(mp3, QFileDevice::ReadOwner);
    EXPECT_EQ(t.WriteTag(mp3), 0x200);
    EXPECT_EQ(QFileInfo(mp3).size(), 300);
}

TEST(Id3Genres, WholeTable)
{
    EXPECT_EQ(Tid3tag::GenreToId3(0), 255);
    EXPECT_EQ(Tid3tag::GenreToId3(149), 255);
    EXPECT_EQ(Tid3tag::GenreToId3(255), 255);
    EXPECT_EQ(Tid3tag::Id3ToGenre(148), 0);
    EXPECT_EQ(Tid3tag::Id3ToGenre(12), GenreIndex("Other") + 1);
    // Every ID3 number 0 to 147 belongs to exactly one genre, and the two conversions invert each other.
    std::vector<int> seen(148, 0);
    for (int p = 1; p <= 148; ++p) {
        const uint8_t id = Tid3tag::GenreToId3(uint8_t(p));
        ASSERT_LT(id, 148) << p;
        ++seen[id];
        EXPECT_EQ(Tid3tag::Id3ToGenre(id), p);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 148);
    EXPECT_EQ(Tid3tag::GenreToId3(uint8_t(GenreIndex("Blues") + 1)), 0);
    EXPECT_EQ(Tid3tag::GenreToId3(uint8_t(GenreIndex("Vocal") + 1)), 28);
    EXPECT_EQ(Tid3tag::GenreToId3(uint8_t(GenreIndex("A Cappella") + 1)), 123);
}

} // namespace

namespace {

TEST_F(Id3Test, FfprobeReadsOurTag)
{
    const QString wav = home.root() + "/in.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}), 0);
    ASSERT_EQ(RunProgram("lame", {"--silent", wav, mp3}), 0);
    Tid3tag tag;
    tag.SetTitle("Money");
    tag.SetArtist("Pink Floyd");
    tag.SetAlbum("The Dark Side of the Moon");
    tag.SetYear("1973");
    tag.SetComment("Remaster");
    tag.SetTrack(6);
    tag.Genre = Tid3tag::GenreToId3(uint8_t(GenreIndex("Progressive Rock") + 1));
    ASSERT_EQ(tag.WriteTag(mp3), 0);

    QByteArray output;
    ASSERT_EQ(
        RunProgram("ffprobe",
                   {"-v", "error", "-show_entries", "format_tags", "-of", "default=noprint_wrappers=1", mp3},
                   &output),
        0);
    const QString tags = QString::fromUtf8(output);
    EXPECT_TRUE(tags.contains("TAG:title=Money")) << tags.toStdString();
    EXPECT_TRUE(tags.contains("TAG:artist=Pink Floyd"));
    EXPECT_TRUE(tags.contains("TAG:album=The Dark Side of the Moon"));
    EXPECT_TRUE(tags.contains("TAG:date=1973"));
    EXPECT_TRUE(tags.contains("TAG:comment=Remaster"));
    EXPECT_TRUE(tags.contains("TAG:track=6"));
    EXPECT_TRUE(tags.contains("TAG:genre=Progressive Rock"));
}

} // namespace
