// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/filetags.h"
#include "testsupport.h"
#include "ui/id3editform.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ID3EditTest : public ::testing::Test {
protected:
    TestHome home;
    QString mp3 = home.root() + "/song.mp3";
    QString other = home.root() + "/other.mp3";
    QString wav = home.root() + "/tone.wav";

    QByteArray audio; // the MP3 frames, untagged

    ID3EditTest()
    {
        // A real MP3 (a fifth of a second of tone), since the version 2 tag is written by a library that
        // checks what it tags.
        RunProgram("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", wav, "synth", "0.2", "sine", "440"});
        RunProgram("lame", {"--quiet", "--noreplaygain", "-t", wav, mp3});
        QFile::copy(mp3, other);
        audio = ReadFileBytes(mp3);
    }

    // The 128-byte block at the end of a file.
    QByteArray tagOf(const QString &path) const { return ReadFileBytes(path).right(128); }
};

TEST_F(ID3EditTest, EnablingAndSaving)
{
    ModalCloser closer;
    TfrmID3Edit form;
    form.show();
    EXPECT_EQ(form.windowTitle(), "ID3 Tag Edit");
    // Nothing loaded: only Save As works.
    EXPECT_FALSE(form.bSaveTag->isEnabled());
    EXPECT_FALSE(form.bRemoveTag->isEnabled());
    EXPECT_TRUE(form.bSaveAS->isEnabled());

    // A file without a tag: empty fields, but Save Tag appends a new tag built from them.
    form.LoadTagFrom(mp3);
    EXPECT_EQ(form.windowTitle(), mp3 + ": ID3 Tag Edit");
    EXPECT_TRUE(form.bSaveTag->isEnabled());
    EXPECT_TRUE(form.bRemoveTag->isEnabled());
    EXPECT_EQ(form.ID3title->text(), "");
    EXPECT_EQ(form.ID3track->text(), "0");
    form.ID3title->setText("Song");
    form.ID3artist->setText("Band");
    form.ID3genre->setCurrentIndex(0);
    form.ID3track->clear();
    QTest::keyClicks(form.ID3track, "7x"); // digits only
    EXPECT_EQ(form.ID3track->text(), "7");
    form.bSaveTag->click();
    QByteArray tag = tagOf(mp3);
    ASSERT_TRUE(tag.startsWith("TAGSong"));
    EXPECT_TRUE(ReadFileBytes(mp3).startsWith("ID3\x04")); // and the version 2.4 tag before the audio
    EXPECT_TRUE(ReadFileBytes(mp3).contains(audio));
    EXPECT_EQ(tag[125], '\0'); // version 1.1: track 7
    EXPECT_EQ(tag[126], '\7');
    EXPECT_EQ(uint8_t(tag[127]), 255); // the empty genre entry

    // Track "0" writes the 30-byte comment form.
    form.ID3comment->setText(QString(30, 'c'));
    form.ID3track->setText("0");
    form.bSaveTag->click();
    tag = tagOf(mp3);
    EXPECT_EQ(tag.mid(97, 30), QByteArray(30, 'c'));
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

TEST_F(ID3EditTest, LoadingAGenreOutsideTheListAndSaveAs)
{
    ModalCloser closer;
    {
        TfrmID3Edit writer;
        writer.LoadTagFrom(mp3);
        writer.ID3title->setText("First");
        writer.ID3year->setText("1999");
        writer.ID3track->setText("3");
        writer.ID3genre->setCurrentIndex(118);
        writer.aSaveTagExecute();
    }
    // A file with only a version 1 tag (id3v2 takes the other away), whose genre byte is 200.
    ASSERT_EQ(RunProgram("id3v2", {"--delete-v2", mp3}), 0);
    QByteArray bytes = ReadFileBytes(mp3);
    bytes[bytes.size() - 1] = char(200);
    QFile file(mp3);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    TfrmID3Edit form;
    form.show();
    form.LoadTagFrom(mp3);
    EXPECT_EQ(form.ID3title->text(), "First");
    EXPECT_EQ(form.ID3year->text(), "1999");
    EXPECT_EQ(form.ID3track->text(), "3");
    EXPECT_EQ(form.ID3genre->currentIndex(), 0); // outside the list: the empty entry
    // Save As retargets: later saves go to the other file.
    ASSERT_TRUE(form.SaveTagAs(other));
    EXPECT_EQ(form.windowTitle(), other + ": ID3 Tag Edit");
    EXPECT_EQ(uint8_t(tagOf(other)[127]), 255); // saved as "no genre"
    form.ID3title->setText("Second");
    form.bSaveTag->click();
    EXPECT_TRUE(tagOf(other).startsWith("TAGSecond"));
    EXPECT_TRUE(tagOf(mp3).startsWith("TAGFirst"));
}

TEST_F(ID3EditTest, RemoveAsksAndSaveFailuresAreShown)
{
    TfrmID3Edit form;
    form.show();
    {
        TfrmID3Edit writer;
        writer.LoadTagFrom(mp3);
        writer.ID3title->setText("Gone");
        writer.aSaveTagExecute();
    }
    form.LoadTagFrom(mp3);
    {
        ModalCloser no(QMessageBox::No);
        form.bRemoveTag->click();
        ASSERT_EQ(no.texts.size(), 1);
        EXPECT_EQ(no.texts[0], "Sondrel|Do you want to remove these tags?");
        EXPECT_EQ(ReadFileBytes(mp3).size(), ReadFileBytes(mp3).indexOf(audio) + audio.size() + 128);
    }
    {
        ModalCloser yes(QMessageBox::Yes);
        form.bRemoveTag->click();
        EXPECT_EQ(ReadFileBytes(mp3), audio); // both tags gone
        EXPECT_EQ(form.ID3title->text(), "");
        EXPECT_EQ(form.ID3genre->currentIndex(), -1);
        EXPECT_EQ(form.ID3track->text(), "0");
    }
    // A file that cannot be written: the message.
    ModalCloser closer;
    EXPECT_FALSE(form.SaveTagAs(home.root() + "/missing/none.mp3"));
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0],
              "Sondrel|Could not save Tag!\n" + home.root() + "/missing/none.mp3: No such file or directory");
}

// The version 2 tag wins; the MP3 boxes hold 30 characters as the version 1 tag does, and what the user did
// not change (the whole title, the album artist, the track total) stays in the file.
TEST_F(ID3EditTest, TheVersion2TagWinsAndKeepsWholeTexts)
{
    ModalCloser closer;
    const QString title = QString::fromUtf8("Трава у дома — a title longer than thirty characters");
    TTagEdit written;
    written.Title = title;
    written.Artist = QString::fromUtf8("Земляне");
    written.AlbumArtist = "Various";
    written.Genre = "Jazz";
    written.Track = 4;
    written.TrackTotal = 12;
    ASSERT_TRUE(EditFileTags(mp3, written));
    TfrmID3Edit form;
    form.show();
    form.LoadTagFrom(mp3);
    EXPECT_EQ(form.ID3title->text(), title.left(30));
    EXPECT_EQ(form.ID3artist->text(), *written.Artist);
    EXPECT_EQ(form.ID3genre->currentText(), "Jazz");
    EXPECT_EQ(form.ID3track->text(), "4");
    form.ID3album->setText("Album");
    form.bSaveTag->click();
    TFileTags read;
    ASSERT_TRUE(ReadFileTags(mp3, read));
    EXPECT_EQ(read.Title, title);
    EXPECT_EQ(read.Album, "Album");
    EXPECT_EQ(read.AlbumArtist, "Various");
    EXPECT_EQ(read.TrackTotal, 12);
    Tid3tag v1;
    ASSERT_LT(v1.ReadTag(mp3), 256);
    EXPECT_EQ(v1.Album, "Album");
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

// Other kinds of file: their own tags, whole texts, the kind in the caption, judged by metaflac.
TEST_F(ID3EditTest, AFlacFileGetsItsOwnTagsWhole)
{
    ModalCloser closer;
    const QString flac = home.root() + "/song.flac";
    ASSERT_EQ(RunProgram("flac", {"-s", "-f", "-T", "TITLE=Old", "-o", flac, wav}), 0);
    TfrmID3Edit form;
    form.show();
    form.LoadTagFrom(flac);
    EXPECT_EQ(form.windowTitle(), flac + " (FLAC): ID3 Tag Edit");
    EXPECT_EQ(form.ID3title->text(), "Old");
    const QString title = QString(40, QChar('t'));
    form.ID3title->setText(title);
    form.bSaveTag->click();
    EXPECT_EQ(RunProgram("flac", {"-t", "-s", flac}), 0);
    QByteArray listing;
    RunProgram("metaflac", {"--export-tags-to=-", flac}, &listing);
    EXPECT_EQ(listing, "TITLE=" + title.toUtf8() + "\n");
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

} // namespace
