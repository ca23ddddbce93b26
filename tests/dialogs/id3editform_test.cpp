#include "dialogs/id3editform.h"
#include "testsupport.h"

#include <QComboBox>
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

    ID3EditTest()
    {
        WriteFileText(mp3, QString(500, 'a'));
        WriteFileText(other, QString(300, 'b'));
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
    EXPECT_EQ(ReadFileBytes(mp3).size(), 500 + 128);
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
    // A genre byte of 200 in the file.
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
        EXPECT_EQ(ReadFileBytes(mp3).size(), 500 + 128);
    }
    {
        ModalCloser yes(QMessageBox::Yes);
        form.bRemoveTag->click();
        EXPECT_EQ(ReadFileBytes(mp3).size(), 500);
        EXPECT_EQ(form.ID3title->text(), "");
        EXPECT_EQ(form.ID3genre->currentIndex(), -1);
        EXPECT_EQ(form.ID3track->text(), "0");
    }
    // A file that cannot be written: the message.
    ModalCloser closer;
    EXPECT_FALSE(form.SaveTagAs(home.root() + "/missing/none.mp3"));
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0], "Sondrel|Could not save Tag!");
}

} // namespace
