// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/m3uplaylist.h"
#include "testsupport.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(M3uPlaylist, RelativeFoldersOnWholeComponents)
{
    // The examples of the playlist builder, on Linux paths.
    EXPECT_EQ(M3uRelativeFolder("/Music/Album", "/Music/Lists"), "../Album");
    EXPECT_EQ(M3uRelativeFolder("/Music/Album", "/Music"), "Album");
    EXPECT_EQ(M3uRelativeFolder("/Music", "/Music/Lists/Sub"), "../..");
    EXPECT_EQ(M3uRelativeFolder("/A/B", "/X"), "../A/B");
    EXPECT_EQ(M3uRelativeFolder("/Music/Album", "/Music/Album/"), "");
    // "/music/al" is no folder of "/music/album".
    EXPECT_EQ(M3uRelativeFolder("/music/album", "/music/al"), "../album");
    EXPECT_EQ(M3uRelativeFolder("/music/al", "/music/album/cd1"), "../../al");

    EXPECT_EQ(M3uPlaylistName("list.M3U"), "list.M3U");
    EXPECT_EQ(M3uPlaylistName("list.txt"), "list.txt.m3u");
    EXPECT_EQ(M3uPlaylistName("list"), "list.m3u");
}

TEST(M3uPlaylist, LinesAndFile)
{
    TestHome home;
    const QString root = home.root();
    QDir().mkpath(root + "/music/album");
    QDir().mkpath(root + "/music/lists");
    const QStringList files{root + "/music/album/01 One.mp3", root + "/music/lists/two.mp3",
                            root + "/music/album/01 One.mp3"};
    const QString playlist = root + "/music/lists/mine.m3u";
    EXPECT_EQ(M3uLines(files, playlist, false), files);
    EXPECT_EQ(M3uLines(files, playlist, true),
              QStringList({"../album/01 One.mp3", "two.mp3", "../album/01 One.mp3"}));
    ASSERT_TRUE(WriteM3u(playlist, M3uLines(files, playlist, true)));
    EXPECT_EQ(ReadFileBytes(playlist), "../album/01 One.mp3\r\ntwo.mp3\r\n../album/01 One.mp3\r\n");
    // An empty list is an empty playlist.
    ASSERT_TRUE(WriteM3u(playlist, M3uLines({}, playlist, true)));
    EXPECT_EQ(ReadFileBytes(playlist), "");
    EXPECT_TRUE(M3uSameFileSystem(files));
    EXPECT_TRUE(M3uSameFileSystem({root + "/one.mp3"}));
}

TEST(M3uPlaylist, FilesOnAnotherFileSystem)
{
    TestHome home;
    TinyFileSystem other(home.root() + "/usb");
    if (!other.available())
        GTEST_SKIP() << "no permission to mount a small file system";
    const QStringList files{home.root() + "/a.mp3", home.root() + "/usb/b.mp3"};
    EXPECT_FALSE(M3uSameFileSystem(files));
    EXPECT_TRUE(M3uSameFileSystem({files[1]})); // one file always is
    // A relative line to a file on another file system would depend on where both are mounted: the
    // absolute path is written.
    EXPECT_EQ(M3uLines({files[1]}, home.root() + "/list.m3u", true), QStringList{files[1]});
}

} // namespace
