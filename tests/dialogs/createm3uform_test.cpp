// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"
#include "ui/createm3uform.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

class CreateM3UTest : public ::testing::Test {
protected:
    TestHome home;
    QString music = home.root() + "/music/";

    CreateM3UTest()
    {
        QDir().mkpath(music + "album");
        QDir().mkpath(music + "lists");
    }

    static QStringList names(const TfrmCreateM3U &form)
    {
        QStringList list;
        for (int i = 0; i < form.lvMain->topLevelItemCount(); ++i)
            list << form.lvMain->topLevelItem(i)->text(0);
        return list;
    }
};

TEST_F(CreateM3UTest, ListEditing)
{
    TfrmCreateM3U form;
    form.show();
    form.AddFiles({music + "album/a.mp3", music + "album/b.mp3", music + "c.mp3", music + "album/a.mp3"});
    ASSERT_EQ(names(form), QStringList({"a.mp3", "b.mp3", "c.mp3", "a.mp3"})); // the same file may come twice
    EXPECT_EQ(form.lvMain->topLevelItem(2)->text(1), music);
    // Nothing selected: the buttons do nothing.
    form.bUpItem->click();
    form.bDeleteItem->click();
    EXPECT_EQ(form.lvMain->topLevelItemCount(), 4);

    form.lvMain->setCurrentItem(form.lvMain->topLevelItem(0));
    form.bUpItem->click(); // already first
    form.bDownItem->click();
    EXPECT_EQ(names(form), QStringList({"b.mp3", "a.mp3", "c.mp3", "a.mp3"}));
    EXPECT_EQ(form.lvMain->indexOfTopLevelItem(form.lvMain->currentItem()), 1);
    form.lvMain->setCurrentItem(form.lvMain->topLevelItem(3));
    form.bDownItem->click(); // already last
    form.bUpItem->click();
    EXPECT_EQ(names(form), QStringList({"b.mp3", "a.mp3", "a.mp3", "c.mp3"}));
    EXPECT_EQ(form.lvMain->topLevelItem(3)->text(1), music); // paths move with their names

    // Deleting the last row selects the first; another keeps the same place.
    form.lvMain->setCurrentItem(form.lvMain->topLevelItem(3));
    form.bDeleteItem->click();
    EXPECT_EQ(form.lvMain->indexOfTopLevelItem(form.lvMain->currentItem()), 0);
    form.lvMain->setCurrentItem(form.lvMain->topLevelItem(1));
    form.bDeleteItem->click();
    EXPECT_EQ(names(form), QStringList({"b.mp3", "a.mp3"}));
    EXPECT_EQ(form.lvMain->indexOfTopLevelItem(form.lvMain->currentItem()), 1);
}

TEST_F(CreateM3UTest, PlaylistsAbsoluteAndRelative)
{
    ModalCloser closer(QMessageBox::No);
    TfrmCreateM3U form;
    form.show();
    EXPECT_TRUE(form.RadioButton1->isChecked());
    // An empty list writes an empty playlist.
    ASSERT_TRUE(form.CreatePlaylistAt(music + "lists/empty"));
    EXPECT_EQ(ReadFileBytes(music + "lists/empty.m3u"), "");

    form.AddFiles({music + "album/a.mp3", music + "lists/b.mp3"});
    ASSERT_TRUE(form.CreatePlaylistAt(music + "lists/list.M3U")); // keeps its extension
    EXPECT_EQ(ReadFileBytes(music + "lists/list.M3U"),
              (music + "album/a.mp3\r\n" + music + "lists/b.mp3\r\n").toUtf8());
    EXPECT_EQ(form.PlaylistFolder(), music + "lists/");

    form.RadioButton2->setChecked(true);
    ASSERT_TRUE(form.CreatePlaylistAt(music + "lists/list.txt"));
    EXPECT_EQ(ReadFileBytes(music + "lists/list.txt.m3u"), "../album/a.mp3\r\nb.mp3\r\n");

    // The second time to the same name asks; No keeps the file.
    EXPECT_FALSE(form.CreatePlaylistAt(music + "lists/list.txt"));
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0], "Sondrel|" + music + "lists/list.txt.m3u has existed,overite it?");
    EXPECT_EQ(ReadFileBytes(music + "lists/list.txt.m3u"), "../album/a.mp3\r\nb.mp3\r\n");
}

TEST_F(CreateM3UTest, OpenFolderBeforeAnyPlaylist)
{
    ModalCloser closer;
    TfrmCreateM3U form;
    form.show();
    form.bOpenFolder->click();
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0], "Sondrel|Directory_Not_Exist,");
}

TEST_F(CreateM3UTest, FilesOnTwoFileSystemsAreRefused)
{
    TinyFileSystem usb(home.root() + "/usb");
    if (!usb.available())
        GTEST_SKIP() << "no permission to mount a small file system";
    ModalCloser closer;
    TfrmCreateM3U form;
    form.show();
    form.AddFiles({music + "album/a.mp3", home.root() + "/usb/b.mp3"});
    form.bCreatePlaylist->click(); // refused before the save dialog
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0], "Sondrel|The files in the list should be on the same drive.");
}

} // namespace
