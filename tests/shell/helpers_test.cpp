// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/genres.h"
#include "shell/helpers.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(Helpers, TwoDigits)
{
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(5), "05");
    EXPECT_EQ(TwoDigits(9), "09");
    EXPECT_EQ(TwoDigits(10), "10");
    EXPECT_EQ(TwoDigits(123), "123");
}

TEST(Helpers, FileNames)
{
    EXPECT_EQ(TrackFileName("AC/DC: Live?", 4), "ACDC Live");
    // Control characters go (a NUL would end the name early), and so do leading dots and blanks: a title
    // never makes a hidden file.
    EXPECT_EQ(TrackFileName(" keeps \x01 blanks ", 1), "keeps  blanks ");
    EXPECT_EQ(TrackFileName(QString("be") + QChar(0) + "fore\x7f", 1), "before");
    EXPECT_EQ(TrackFileName("...And Justice for All", 1), "And Justice for All");
    EXPECT_EQ(TrackFileName(". .", 3).left(5), "File_");
    // Long titles are cut to whole characters within the byte limit.
    const QString longTitle = QString(300, QChar(0x65e5)); // three bytes each
    const QString cut = TrackFileName(longTitle, 1);
    EXPECT_EQ(cut.toUtf8().size(), MaxFileBaseBytes / 3 * 3);
    EXPECT_TRUE(longTitle.startsWith(cut));
    const QString emoji = QString(" ") + QString::fromUtf8("\xF0\x9F\x8E\xB5").repeated(100);
    EXPECT_EQ(TrackFileName(emoji, 1).toUtf8().size(), MaxFileBaseBytes / 4 * 4);
    EXPECT_EQ(CutToUtf8Bytes(QString::fromUtf8("a\xF0\x9F\x8E\xB5"), 4), "a"); // never half a pair
    EXPECT_EQ(TrackFileName(QString::fromUtf8("Café <\"*|\\>"), 2), QString::fromUtf8("Café "));
    const QString fallback = TrackFileName("???", 12);
    EXPECT_TRUE(QRegularExpression("^File_\\d{8}_\\d{6}_12$").match(fallback).hasMatch())
        << fallback.toStdString();

    EXPECT_EQ(AlbumFolderName("  Best <Of>  "), "Best Of");
    EXPECT_EQ(AlbumFolderName("\t\x02Live\x1f "), "Live");
    EXPECT_EQ(AlbumFolderName(":/:"), "");
    EXPECT_EQ(AlbumFolderName("../../.."), "");
    EXPECT_EQ(AlbumFolderName("...Live. "), "Live.");
    EXPECT_EQ(AlbumFolderName(longTitle), cut);

    EXPECT_EQ(WithTrailingBackslash(""), "");
    EXPECT_EQ(WithTrailingBackslash("/tmp"), "/tmp/");
    EXPECT_EQ(WithTrailingBackslash("/tmp/"), "/tmp/");
}

TEST(Helpers, TimestampNameIsTheLocalTime)
{
    const QDateTime before = QDateTime::currentDateTime();
    const QString name = TimestampName();
    const QDateTime stamp = QDateTime::fromString(name.mid(5), "yyyyMMdd_HHmmss");
    ASSERT_TRUE(name.startsWith("File_"));
    ASSERT_TRUE(stamp.isValid()) << name.toStdString();
    EXPECT_LE(std::abs(stamp.secsTo(before)), 2);
}

TEST(Helpers, Genres)
{
    ASSERT_EQ(GenreNames().size(), 148);
    EXPECT_EQ(GenreNames().first(), "A Cappella");
    EXPECT_EQ(GenreNames().last(), "Vocal");
    EXPECT_EQ(GenreIndex("rock"), -1);
    EXPECT_EQ(GenreIndex("Rock"), 117);
    EXPECT_EQ(GenreIndex("Blues"), 17);
    EXPECT_EQ(GenreIndex("Other"), 95);
}

TEST(Helpers, OutputFormatNamesAndExtensions)
{
    const int formats[] = {0, 1, 2, 3, 4, 5, 6, -1};
    const char *names[] = {"MP3", "WAV", "OGG", "WMA", "FLAC", "OPUS", "", ""};
    const char *extensions[] = {".mp3", ".wav", ".ogg", ".wma", ".flac", ".opus", "", ""};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(OutputFormatName(formats[i]), names[i]);
        EXPECT_EQ(OutputFormatExtension(formats[i]), extensions[i]);
    }
}

class FileHelpers : public ::testing::Test {
protected:
    TestHome home;
    QString file = home.root() + "/file.bin";
};

TEST_F(FileHelpers, FileSizeOfIsTheRealSize)
{
    EXPECT_EQ(FileSizeOf(home.root() + "/missing"), -1);
    EXPECT_EQ(FileSizeOf(""), -1);
    WriteFileText(file, "12345");
    EXPECT_EQ(FileSizeOf(file), 5);
    EXPECT_EQ(FileSizeOf(home.root()), 0);

    // A sparse file of 5 GiB: a size read as 32-bit signed would be wrong.
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const off_t big = off_t(5) * 1024 * 1024 * 1024 + 7;
    const bool grown = ::ftruncate(fd, big) == 0;
    ::close(fd);
    if (!grown)
        GTEST_SKIP() << "file system refuses a sparse 5 GiB file";
    EXPECT_EQ(FileSizeOf(file), int64_t(big));
}

TEST_F(FileHelpers, FileInUse)
{
    EXPECT_FALSE(FileInUse(home.root() + "/missing"));
    EXPECT_FALSE(FileInUse(home.root()));
    WriteFileText(file, "data");
    EXPECT_FALSE(FileInUse(file));

    // Our own writers lock what they write; another thread of the same process must see the lock.
    const int writer = ::open(QFile::encodeName(file).constData(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_TRUE(LockOpenFile(writer, true));
    bool seenFromThread = false;
    std::thread([&] { seenFromThread = FileInUse(file); }).join();
    EXPECT_TRUE(seenFromThread);
    EXPECT_TRUE(FileInUse(file));
    // The probe's own open and close must not drop the writer's lock.
    EXPECT_TRUE(FileInUse(file));
    ::close(writer);
    EXPECT_FALSE(FileInUse(file));

    // A shared lock counts too, and so do fcntl() locks that other programs take.
    const int reader = ::open(QFile::encodeName(file).constData(), O_RDONLY);
    ASSERT_TRUE(LockOpenFile(reader, false));
    EXPECT_TRUE(FileInUse(file));
    ::close(reader);
    EXPECT_FALSE(FileInUse(file));
    const int other = ::open(QFile::encodeName(file).constData(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);
    EXPECT_TRUE(FileInUse(file));
    ::close(other);
    EXPECT_FALSE(FileInUse(file));
}

TEST_F(FileHelpers, FileInUseWhenItCannotBeOpenedForWriting)
{
    WriteFileText(file, "data");
    QFile::setPermissions(file, QFileDevice::ReadOwner);
    if (::access(QFile::encodeName(file).constData(), W_OK) == 0)
        GTEST_SKIP() << "running with rights that ignore file permissions";
    EXPECT_TRUE(FileInUse(file));
}

} // namespace

#include "shell/wineregistry.h"

namespace {

TEST(WineRegistry, ClearingTheRecentFileLists)
{
    TestHome home;
    const QString path = home.root() + "/user.reg";
    WriteFileText(
        path,
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to \\\\User\\\\S-1-5-21\n\n"
        "[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\MostRecentClips1] 1700000000\n"
        "@=\"C:\\\\a.rm\"\n\n"
        "[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\MostRecentClips2] 1700000000\n"
        "@=\"C:\\\\b.rm\"\n\n"
        "[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\MostRecentClips3] 1700000000\n"
        "@=\"C:\\\\c.rm\"\n\n"
        "[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\MostRecentClips5] 1700000000\n"
        "@=\"C:\\\\e.rm\"\n\n"
        "[Software\\\\Microsoft\\\\MediaPlayer\\\\Player\\\\RecentFileList] 1700000000\n"
        "\"File0\"=\"C:\\\\x.wma\"\n\"File1\"=\"C:\\\\y.wma\"\n\"Other\"=\"kept\"\n\n"
        "[Software\\\\Wine] 1700000000\n\"Version\"=\"win10\"\n");
    WineUserRegistry registry(path);
    ASSERT_TRUE(registry.exists());
    EXPECT_EQ(ClearRealPlayerHistory(registry), 3); // 1 to 3; the gap at 4 ends the run
    WineUserRegistry reread(path);
    EXPECT_FALSE(reread.hasKey("Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips2"));
    EXPECT_TRUE(reread.hasKey("Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips5"));
    EXPECT_TRUE(reread.hasKey("Software\\Wine"));
    EXPECT_EQ(ClearMediaPlayerHistory(reread), 2);
    const QString text = ReadFileText(path);
    EXPECT_FALSE(text.contains("File0"));
    EXPECT_TRUE(text.contains("\"Other\"=\"kept\""));
    EXPECT_TRUE(text.contains("\"Version\"=\"win10\""));
    WineUserRegistry none(home.root() + "/missing.reg");
    EXPECT_EQ(ClearMediaPlayerHistory(none), 0);
    EXPECT_FALSE(WindowsProgramRunning("surely-not-running-program.exe"));
}

// Files are written under a hidden working name beside where they land, and a rename makes them the file:
// a symbolic link stays a link (its target is replaced), and a device is written as it is, never replaced.
TEST_F(FileHelpers, FoldersAreMadeOrTheSystemSaysWhyNot)
{
    QString error;
    EXPECT_TRUE(MakeFolder(home.root() + "/a/b/c/", &error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo(home.root() + "/a/b/c").isDir());
    EXPECT_TRUE(MakeFolder(home.root() + "/a/b", &error)); // there already
    WriteFileText(file, "x");
    const struct {
        QString folder, reason;
    } refusals[] = {{file, "Not a directory"},                       // a file of that name
                    {file + "/below", "Not a directory"},            // a file on the way
                    {"/proc/sondrel", "No such file or directory"}}; // the system allows no folder there
    for (const auto &refusal : refusals) {
        EXPECT_FALSE(MakeFolder(refusal.folder, &error));
        EXPECT_EQ(error, refusal.folder + ": cannot create the folder: " + refusal.reason);
    }
}

TEST_F(FileHelpers, WorkingFilesLandWhereThePathLeads)
{
    const QString plain = home.root() + "/song.ogg";
    const QString working = WorkingFileOf(plain);
    EXPECT_TRUE(IsWorkingFileOf(working, plain)) << working.toStdString();
    EXPECT_TRUE(QFileInfo(working).isFile()); // made at once, exclusively
    EXPECT_EQ(WorkingFileOf(plain), working); // held until settled
    WriteFileText(working, "new");
    ASSERT_TRUE(CommitWorkingFile(working, plain));
    EXPECT_EQ(ReadFileText(plain), "new");
    EXPECT_EQ(WorkingFilesThere(plain), QStringList());
    EXPECT_NE(WorkingFileOf(plain), working); // a new claim, a new name
    DiscardWorkingFile(ClaimedWorkingFileOf(plain), plain);
    EXPECT_EQ(WorkingFilesThere(plain), QStringList());

    QDir().mkpath(home.root() + "/real");
    WriteFileText(home.root() + "/real/target.ogg", "old");
    ASSERT_TRUE(QFile::link(home.root() + "/real/target.ogg", home.root() + "/link.ogg"));
    const QString linked = WorkingFileOf(home.root() + "/link.ogg");
    EXPECT_TRUE(IsWorkingFileOf(linked, home.root() + "/real/target.ogg")) << linked.toStdString();
    WriteFileText(linked, "new");
    ASSERT_TRUE(CommitWorkingFile(linked, home.root() + "/link.ogg"));
    EXPECT_TRUE(QFileInfo(home.root() + "/link.ogg").isSymLink());
    EXPECT_EQ(ReadFileText(home.root() + "/real/target.ogg"), "new");

    // A name as long as a file system allows still has a working name that fits.
    const QString longest = home.root() + "/" + QString(250, QChar(0x00e9)).left(125) + ".flac";
    const QString longWorking = WorkingFileOf(longest);
    EXPECT_LE(QFile::encodeName(QFileInfo(longWorking).fileName()).size(), 255);
    EXPECT_TRUE(QFileInfo(longWorking).isFile());
    DiscardWorkingFile(longWorking, longest);

    EXPECT_EQ(WorkingFileOf("/dev/null"), "/dev/null");
    EXPECT_TRUE(CommitWorkingFile("/dev/null", "/dev/null"));
    DiscardWorkingFile("/dev/null", "/dev/null");
    EXPECT_FALSE(QFileInfo("/dev/null").isFile());
    EXPECT_TRUE(QFileInfo::exists("/dev/null"));

    // A rename that cannot be done says why, and takes the working file away.
    const QString once = WorkingFileOf(plain);
    WriteFileText(once, "x");
    QDir().mkpath(home.root() + "/folder.ogg/inside");
    QString error;
    EXPECT_FALSE(CommitWorkingFile(once, home.root() + "/folder.ogg", &error));
    EXPECT_TRUE(error.startsWith(home.root() + "/folder.ogg: cannot be written: ")) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(once));
    EXPECT_EQ(ClaimedWorkingFileOf(plain), QString());
}

// An edit replaces only the file it began from: a link (or another file) put in its place meanwhile is left
// as it is, and so is what the link points at.
TEST_F(FileHelpers, AnEditNeverLandsOnALinkSwappedIn)
{
    const QString song = home.root() + "/song.mp3", victim = home.root() + "/victim";
    WriteFileText(song, "old");
    WriteFileText(victim, "precious");
    const TFileIdentity identity = RegularFileIdentity(song);
    ASSERT_TRUE(identity.Valid());
    EXPECT_FALSE(RegularFileIdentity(home.root()).Valid());

    QString working = WorkingFileOf(song);
    WriteFileText(working, "new");
    ASSERT_TRUE(QFile::rename(song, home.root() + "/moved.mp3"));
    ASSERT_TRUE(QFile::link(victim, song));
    QString error;
    EXPECT_FALSE(CommitWorkingFileOver(working, song, identity, &error));
    EXPECT_EQ(error, song + ": it was replaced while it was being changed; left as it is");
    EXPECT_TRUE(QFileInfo(song).isSymLink());
    EXPECT_EQ(ReadFileText(victim), "precious");
    EXPECT_FALSE(QFileInfo::exists(working));

    // Unchanged, the same edit lands.
    ASSERT_TRUE(QFile::remove(song));
    ASSERT_TRUE(QFile::rename(home.root() + "/moved.mp3", song));
    working = WorkingFileOf(song);
    WriteFileText(working, "new");
    EXPECT_TRUE(CommitWorkingFileOver(working, song, identity, &error)) << error.toStdString();
    EXPECT_EQ(ReadFileText(song), "new");
}

// Working files of other runs: one whose run ended without settling it (nobody holds it) is removed by the
// next claim of the same file; one a live process holds and claimed earlier gives that run the file, and
// this claim is refused by name. Another process stands in with a lock of its own (POSIX locks and the
// open-file locks the claims hold exclude each other).
TEST_F(FileHelpers, ClaimsMeetOtherRunsWorkingFiles)
{
    const QString target = home.root() + "/Track02.flac";
    const QString left = home.root() + "/.Track02.flac.00000000000000aa-00000001.part";
    const QString legacy = home.root() + "/.Track02.flac.part";
    const QString otherFile = home.root() + "/.Track02.flac.x.00000000000000aa-00000001.part";
    for (const QString &path : {left, legacy, otherFile})
        WriteFileText(path, "what a killed run left");
    QString error;
    bool busy = true;
    const QString mine = ClaimWorkingFile(target, &error, &busy);
    ASSERT_FALSE(mine.isEmpty()) << error.toStdString();
    EXPECT_FALSE(busy);
    EXPECT_FALSE(QFileInfo::exists(left));
    EXPECT_FALSE(QFileInfo::exists(legacy));
    EXPECT_TRUE(QFileInfo::exists(otherFile)); // another file's
    DiscardWorkingFile(mine, target);

    const QString held = home.root() + "/.Track02.flac.00000000000000aa-00000002.part";
    WriteFileText(held, "being written");
    QProcess holder;
    holder.start("/usr/bin/python3",
                 {"-c",
                  "import fcntl, sys\nf = open(sys.argv[1], 'r+')\nfcntl.lockf(f, fcntl.LOCK_EX)\n"
                  "print('held', flush=True)\nsys.stdin.read()\n",
                  held});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    EXPECT_EQ(ClaimWorkingFile(target, &error, &busy), QString());
    EXPECT_TRUE(busy);
    EXPECT_EQ(error, target + ": another run is writing this file");
    EXPECT_TRUE(QFileInfo::exists(held));
    EXPECT_EQ(WorkingFilesThere(target), QStringList({held}));
    // A writer that must write all the same gets a working file of its own.
    const QString anyway = WorkingFileOf(target);
    EXPECT_TRUE(IsWorkingFileOf(anyway, target));
    EXPECT_NE(anyway, held);
    DiscardWorkingFile(anyway, target);

    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(10000));
    const QString after = ClaimWorkingFile(target, &error, &busy);
    EXPECT_FALSE(after.isEmpty()) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(held)); // its run is over
    DiscardWorkingFile(after, target);
}

// A file committed while its run goes on changing it (its album values to come) stays claimed: another run
// finds a working file held by a live process from before the file had its name, and leaves the file alone.
TEST_F(FileHelpers, ACommitThatHoldsKeepsTheFileClaimed)
{
    const QString target = home.root() + "/Track03.flac";
    const QString working = ClaimWorkingFile(target);
    ASSERT_FALSE(working.isEmpty());
    WriteFileText(working, "complete");
    QString error;
    ASSERT_TRUE(CommitWorkingFileHolding(working, target, &error)) << error.toStdString();
    EXPECT_EQ(ReadFileText(target), "complete");
    const QStringList held = WorkingFilesThere(target);
    ASSERT_EQ(held.size(), 1);
    EXPECT_EQ(held[0], ClaimedWorkingFileOf(target));
    // Another process cannot lock it: the claim is live.
    EXPECT_NE(RunProgram("/usr/bin/python3", {"-c",
                                              "import fcntl, sys\nf = open(sys.argv[1], 'r+')\n"
                                              "fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)\n",
                                              held[0]}),
              0);
    DiscardWorkingFile(ClaimedWorkingFileOf(target), target);
    EXPECT_TRUE(WorkingFilesThere(target).isEmpty());
    EXPECT_EQ(ReadFileText(target), "complete");
}

} // namespace
