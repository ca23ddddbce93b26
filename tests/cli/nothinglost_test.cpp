// SPDX-License-Identifier: GPL-3.0-or-later
// What a rip must never do to the user's files, whatever the titles hold.
#include "cddbserver.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "clirun.h"
#include "jobs/wavformat.h"
#include "shell/discinfo.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/settings.h"
#include "tags/id3tag.h"
#include "testsupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>
#include <array>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <tuple>

namespace {

class NothingLostTest : public DiscImageTest {
protected:
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
    // Starts a rip of the disc into `out` as a script would (without a terminal).
    void startRip(QProcess &cli, const QString &format)
    {
        cli.setStandardInputFile(QProcess::nullDevice());
        cli.start(BuiltProgram("sondrel-cli"),
                  QStringList{"rip", "-f", format, "-o", out, "--quiet", "--lookup", "cache"});
        ASSERT_TRUE(cli.waitForStarted());
    }
    // A disc of three tracks of that many sectors, ripped to FLAC into `clean` for others to be judged by.
    void ripCleanDisc(int sectors, const QString &clean)
    {
        disc({QString("%1,noise").arg(sectors), QString("%1,music").arg(sectors),
              QString("%1,noise").arg(sectors)},
             "TrackNumber=3\n");
        ASSERT_EQ(runCli({"rip", "-f", "flac", "-o", clean, "--quiet"}).code, 0);
    }
};

TEST_F(NothingLostTest, ControlCharactersNeverReachAFileName)
{
    // A NUL, a C1 CSI (a terminal escape) and a right-to-left override (which shows "evil\u202Evaw.exe" as
    // "evilexe.wav").
    static const char entry[] = "TrackNumber=3\n1=be\0fore\n2=keep.txt\0x\n3=ev\xC2\x9B"
                                "2Jil\xE2\x80\xAEvaw.exe\n";
    disc({"50,music", "50,music", "50,music"}, QByteArray(entry, sizeof entry - 1));
    WriteFileText(out + "/keep.txt", "mine");
    const CliRun run = runCli({"rip", "-f", "wav", "-o", out, "--no-overwrite"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(files(), QStringList({"before.wav", "ev2Jilvaw.exe.wav", "keep.txt", "keep.txtx.wav"}));
    EXPECT_FALSE(run.err.contains(QChar(0x9b)) || run.err.contains(QChar(0x202e))) << run.err.toStdString();
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

// A rip to FLAC into a folder where an earlier rip made WAVs (its log says so) writes its own WAVs over
// theirs only when allowed, and never removes them: they are the user's, not steps a cut-short run left.
TEST_F(NothingLostTest, ARipToAnotherFormatKeepsTheWavsOfAnEarlierRip)
{
    disc({"50,music", "50,music"}, "TrackNumber=2\n");
    ASSERT_EQ(runCli({"rip", "-f", "wav", "-o", out, "--log", "--quiet"}).code, 0);
    const QByteArray wav = ReadFileBytes(out + "/Track01.wav");
    const CliRun asked = runCli({"rip", "-f", "flac", "-o", out, "--quiet"}); // no terminal: the answer is no
    EXPECT_TRUE(asked.err.contains("kept " + out + "/Track01.wav")) << asked.err.toStdString();
    EXPECT_EQ(ReadFileBytes(out + "/Track01.wav"), wav);
    const CliRun allowed = runCli({"rip", "-f", "flac", "-o", out, "--overwrite", "--quiet"});
    ASSERT_EQ(allowed.code, 0) << allowed.err.toStdString();
    EXPECT_EQ(ReadFileBytes(out + "/Track01.wav"), wav); // read again, the same audio, and kept
    EXPECT_TRUE(QFileInfo::exists(out + "/Track02.wav"));
    EXPECT_TRUE(QFileInfo(out + "/Track02.flac").size() > 0);
}

// A conversion asks before it replaces a file, whichever encoder makes it: without a terminal or with
// --no-overwrite the file is kept and named (our own writers replaced it unasked), with --overwrite it is
// replaced.
TEST_F(NothingLostTest, AConversionKeepsTheFileThatIsThere)
{
    const QString wav = out + "/tone.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "0.5", "sine", "440"}),
        0);
    for (const QString format : {"mp3", "ogg", "flac", "opus"}) {
        const QString mine = out + "/tone." + format;
        WriteFileText(mine, "mine");
        const QStringList convert{"convert", "wav2" + format, wav, "-o", out, "--quiet"};
        for (const QStringList &answer : {QStringList{"--no-overwrite"}, QStringList{}}) {
            const CliRun run = runCli(convert + answer);
            EXPECT_EQ(run.code, 0);
            EXPECT_EQ(ReadFileText(mine), "mine") << format.toStdString() << answer.join("").toStdString();
            EXPECT_TRUE(run.err.contains("kept " + mine + " (already there)")) << run.err.toStdString();
        }
        ASSERT_EQ(runCli(convert + QStringList{"--overwrite"}).code, 0);
        EXPECT_NE(ReadFileText(mine), "mine") << format.toStdString();
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
    // lame cannot write there, and says so.
    EXPECT_TRUE(run.err.contains(out + "/Track01.mp3: lame ended with exit status")) << run.err.toStdString();
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

// A full disk: the disc cache keeps every disc it held, no temporary file is left, and the run fails naming
// the file and the system's reason.
TEST_F(NothingLostTest, AFullDiskKeepsTheDiscCache)
{
    // The disc image lives elsewhere; the data folder, where the cache is, is a small file system.
    const QString elsewhere = home.root() + "/images/";
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(MakeDisc(elsewhere + "disc.cue", {"15000,silence", "15000,silence"}));
    qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(elsewhere));
    TinyFileSystem disk(DataFolder());
    if (!disk.available()) {
        qunsetenv("SONDREL_DISC_IMAGES");
        GTEST_SKIP() << "no permission to mount a small file system";
    }
    const QString cache = DataFolder() + "cdinfo.dat";
    WriteFileText(cache, "[111]\nArtist=Other\n1=Kept\n[222]\nArtist=Another\n");
    const QByteArray before = ReadFileBytes(cache);
    disk.fill();
    CddbTestServer server;
    server.setQueryFixture("query_exact.txt");
    const CliRun lookup = runCli({"cddb", "--server", server.url(), "--quiet"});
    qunsetenv("SONDREL_DISC_IMAGES");
    EXPECT_EQ(lookup.code, 1);
    EXPECT_TRUE(lookup.err.contains(cache + ": No space left on device")) << lookup.err.toStdString();
    EXPECT_EQ(ReadFileBytes(cache), before);
    EXPECT_EQ(QDir(DataFolder()).entryList(QDir::Files | QDir::Hidden),
              QStringList({".filler", "cdinfo.dat"}));
}

// A WAV at 1 Hz cannot be resampled by the fast filter (its blocks are a fifth of a second), and one whose
// header has no channels or frame size cannot be read: each fails with its name and the reason, and nothing
// is made of it. The high-quality resampler takes the 1 Hz file.
TEST_F(NothingLostTest, UnusableWavsFailByName)
{
    AppSettings.CommonOptions.ResampleQuality = 1;
    ASSERT_TRUE(SaveOptions());
    const QString oneHertz = home.root() + "/one hertz.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "1", "-c", "1", "-b", "16", oneHertz, "synth", "30", "sine", "0.1"}),
        0);
    // 44 bytes of header: PCM, 2 channels, 44100 Hz, but a frame size (block align) of 0.
    const QByteArray header =
        QByteArray::fromHex("52494646240000005741564566" // "RIFF", size, "WAVEf"
                            "6d74201000000001000200"     // "mt ", 16, PCM, 2 channels
                            "44ac000010b1020000001000"   // 44100 Hz, bytes/s, align 0, 16 bits
                            "6461746100000000");         // "data", 0 bytes
    ASSERT_EQ(header.size(), 44);
    const QString zero = home.root() + "/zero frame.wav";
    QFile file(zero);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(header);
    file.close();
    const QString fake = home.root() + "/fake.wav";
    WriteFileText(fake, "just text");
    for (const char *kind : {"wav2ogg", "wav2mp3"}) {
        const CliRun run = runCli({"convert", kind, oneHertz, zero, fake, "-o", out});
        EXPECT_TRUE(run.err.contains(fake + ": not a WAV file")) << run.err.toStdString();
        EXPECT_EQ(run.code, 1) << kind;
        EXPECT_TRUE(run.err.contains(oneHertz + ": ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(zero)) << run.err.toStdString();
    }
    EXPECT_TRUE(files().isEmpty()) << files().join(",").toStdString();
    AppSettings.CommonOptions.ResampleQuality = 0;
    ASSERT_TRUE(SaveOptions());
    EXPECT_EQ(runCli({"convert", "wav2ogg", oneHertz, "-o", out}).code, 0);
    EXPECT_EQ(files(), QStringList{"one hertz.ogg"});
}

// A full disk during a rip is a write failure of the file, said with the system's reason, not a read error.
TEST_F(NothingLostTest, AFullDiskDuringARipNamesTheFile)
{
    disc({"60,music", "60,music"}, "TrackNumber=2\n"); // 141 KB each: one fits, two do not
    TinyFileSystem disk(out, 256);
    if (!disk.available())
        GTEST_SKIP() << "no permission to mount a small file system";
    const CliRun run = runCli({"rip", "-f", "wav", "-o", out, "--quiet"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains(out + "/Track02.wav: No space left on device")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Error while reading CD information")) << run.err.toStdString();
    EXPECT_EQ(QFileInfo(out + "/Track01.wav").size(), 44 + 60 * 2352);
}

// Ctrl-C or SIGTERM in the middle of a conversion: the job is stopped the normal way, nothing is left under
// the final name nor under the working one, and the tool says so by its exit status. (resample takes the same
// path; it is too quick on this input to be caught in the middle.)
TEST_F(NothingLostTest, AnInterruptedConversionLeavesNoPartialFile)
{
    const QString wav = home.root() + "/long.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "120", "sine", "440"}),
        0);
    // Both take a second or more for two minutes of audio (the in-process Ogg writer, and lame as a child).
    for (const char *kind : {"wav2ogg", "wav2mp3"}) {
        SCOPED_TRACE(kind);
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        QProcess cli;
        cli.setStandardInputFile(QProcess::nullDevice());
        const QString target = out + (QString(kind) == "wav2mp3" ? "/long.mp3" : "/long.ogg");
        cli.start(BuiltProgram("sondrel-cli"), QStringList{"convert", kind, wav, "-o", out, "--quiet"});
        ASSERT_TRUE(cli.waitForStarted());
        // Once the working file grows, the conversion is under way.
        ASSERT_TRUE(WaitFor([&] { return GrowingWorkingFile(target); }, 60000));
        ASSERT_TRUE(SignalProcess(cli, SIGTERM));
        ASSERT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(cli.exitCode(), 130);
        EXPECT_EQ(files(), QStringList()) << files().join(",").toStdString();
    }
}

// A WAV rip killed or stopped at any moment, then run again: each WAV under its name is whole, whether it
// was made by the first run or the second, and no working file is left once the second run is done.
TEST_F(NothingLostTest, AnInterruptedWavRipIsRippedAgainWhole)
{
    constexpr int sectors = 15000; // 35 MB a track: long enough to be caught in the middle
    disc({QString("%1,noise").arg(sectors), QString("%1,noise").arg(sectors),
          QString("%1,noise").arg(sectors)},
         "TrackNumber=3\n");
    for (const int signal : {SIGKILL, SIGTERM}) {
        for (const int partsSeen : {1, 2}) { // in the first track, and in the second
            SCOPED_TRACE(QString("signal %1 in track %2").arg(signal).arg(partsSeen).toStdString());
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            QProcess cli;
            ASSERT_NO_FATAL_FAILURE(startRip(cli, "wav"));
            const QString track = out + QString("/Track0%1.wav").arg(partsSeen);
            ASSERT_TRUE(WaitFor(
                [&] { return GrowingWorkingFile(track) || cli.state() == QProcess::NotRunning; }, 60000));
            ASSERT_TRUE(SignalProcess(cli, signal));
            ASSERT_TRUE(cli.waitForFinished(60000));
            // The signal came in the middle of the rip.
            if (signal == SIGKILL)
                ASSERT_EQ(cli.exitStatus(), QProcess::CrashExit);
            else
                ASSERT_EQ(cli.exitCode(), 130);
            for (const QString &name :
                 files()) { // what the interrupted run left under a track's name is whole
                if (!name.startsWith('.')) {
                    EXPECT_EQ(QFileInfo(out + "/" + name).size(), 44 + sectors * 2352) << name.toStdString();
                }
            }
            if (signal == SIGTERM) {
                EXPECT_FALSE(files().join(",").contains(".part")) << files().join(",").toStdString();
            }
            const CliRun again = runCli({"rip", "-f", "wav", "-o", out, "--no-overwrite", "--quiet"});
            ASSERT_EQ(again.code, 0) << again.err.toStdString();
            ASSERT_EQ(files(), QStringList({"Track01.wav", "Track02.wav", "Track03.wav"}));
            for (const QString &name : files())
                EXPECT_EQ(QFileInfo(out + "/" + name).size(), 44 + sectors * 2352) << name.toStdString();
        }
    }
}

// A FLAC rip killed or stopped while it reads or while it encodes, then run again as a script would (without
// a terminal, so keeping what is there): every track has its FLAC, the same bytes as a clean rip's, and no
// WAV is left (a stopped rip left its WAVs, which the rerun took for finished tracks, never making their
// FLACs).
TEST_F(NothingLostTest, AnInterruptedFlacRipIsFinishedByARerun)
{
    constexpr int sectors = 6000;
    const QString clean = home.root() + "/clean";
    ASSERT_NO_FATAL_FAILURE(ripCleanDisc(sectors, clean));
    const QStringList flacs = {"Track01.flac", "Track02.flac", "Track03.flac"};
    for (const int signal : {SIGTERM, SIGKILL}) {
        for (const QString &moment : {QString("Track02.wav"), QString("Track01.flac")}) {
            SCOPED_TRACE(QString("signal %1 at %2").arg(signal).arg(moment).toStdString());
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            QProcess cli;
            ASSERT_NO_FATAL_FAILURE(startRip(cli, "flac"));
            ASSERT_TRUE(WaitFor(
                [&] { return GrowingWorkingFile(out + "/" + moment) || cli.state() == QProcess::NotRunning; },
                60000));
            ASSERT_TRUE(SignalProcess(cli, signal)) << "the rip ended before the signal";
            ASSERT_TRUE(cli.waitForFinished(60000));
            if (signal == SIGTERM) {
                EXPECT_EQ(cli.exitCode(), 130);
                EXPECT_TRUE(files().filter(".wav").isEmpty()) << files().join(",").toStdString();
                const QString said = QString::fromUtf8(cli.readAllStandardError());
                EXPECT_TRUE(said.contains(QString("stopped: %1 of 3 tracks made, %2 not")
                                              .arg(files().size())
                                              .arg(3 - files().size())))
                    << said.toStdString();
            }
            const CliRun again = runCli({"rip", "-f", "flac", "-o", out, "--quiet"});
            ASSERT_EQ(again.code, 0) << again.err.toStdString();
            EXPECT_EQ(files(), flacs);
            for (const QString &flac : flacs)
                EXPECT_TRUE(ReadFileBytes(out + "/" + flac) == ReadFileBytes(clean + "/" + flac))
                    << flac.toStdString();
        }
    }
}

// Two runs at once into one folder: each file either run finishes is whole, none is lost, no working file
// stays, and a run that leaves a file to the other says so by name. Rips (each writes its tracks' WAVs and
// FLACs), two conversions of one file, and two library updates, which share out the files between them.
TEST_F(NothingLostTest, RunsThatMeetInOneFolderLoseNothing)
{
    constexpr int sectors = 3000;
    const QString clean = home.root() + "/clean";
    ASSERT_NO_FATAL_FAILURE(ripCleanDisc(sectors, clean));
    const QString lib = home.root() + "/lib";
    QDir().mkpath(lib);
    for (int i = 1; i <= 6; ++i)
        ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16",
                                     lib + QString("/%1.wav").arg(i), "synth", "4", "sine", "440"}),
                  0);
    struct Case {
        const char *name;
        QStringList arguments;
        QStringList made;
        bool bothSucceed;
    };
    const QList<Case> cases = {
        {"two rips",
         {"rip", "-f", "flac", "--overwrite", "-o", out, "--lookup", "cache"},
         {"Track01.flac", "Track02.flac", "Track03.flac"},
         false},
        {"two conversions",
         {"convert", "wav2ogg", lib + "/1.wav", "-o", out, "--overwrite"},
         {"1.ogg"},
         false},
        {"two updates",
         {"convert", "-f", "opus", "-r", lib, "-o", out, "--update"},
         {"1.opus", "2.opus", "3.opus", "4.opus", "5.opus", "6.opus"},
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        std::array<QProcess, 2> runs;
        for (QProcess &run : runs) {
            run.setStandardInputFile(QProcess::nullDevice());
            run.start(BuiltProgram("sondrel-cli"), c.arguments + QStringList{"--quiet"});
        }
        for (QProcess &run : runs) {
            ASSERT_TRUE(run.waitForFinished(120000));
            const QString said = QString::fromUtf8(run.readAllStandardError());
            EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
            if (c.bothSucceed) {
                EXPECT_EQ(run.exitCode(), 0) << said.toStdString();
                continue;
            }
            const bool rips = QString(c.name) == "two rips"; // these share their WAVs on the way
            for (const QString &line : said.split('\n', Qt::SkipEmptyParts)) {
                EXPECT_TRUE(rips || line.contains("another run is writing this file") ||
                            !line.startsWith("sondrel-cli: /"))
                    << said.toStdString();
            }
        }
        // (Two rips share the WAVs on the way, which each removes when done: one may fail a track whose WAV
        // the other removed, by name, or leave a whole WAV; neither is a finished file lost.)
        QStringList there = files();
        there.removeIf([](const QString &name) { return name.endsWith(".wav") && !name.startsWith('.'); });
        EXPECT_EQ(there, c.made) << files().join(",").toStdString();
        for (const QString &name : c.made) {
            const QString made = out + "/" + name;
            if (name.endsWith(".flac")) {
                // The audio of a clean rip, as metaflac reads its signature, and whole (each run's album
                // values cover the files it made).
                QByteArray signature, cleanSignature;
                ASSERT_EQ(RunProgram("metaflac", {"--show-md5sum", made}, &signature), 0);
                ASSERT_EQ(RunProgram("metaflac", {"--show-md5sum", clean + "/" + name}, &cleanSignature), 0);
                EXPECT_EQ(signature, cleanSignature) << name.toStdString();
                EXPECT_EQ(RunProgram("flac", {"-t", "--silent", made}), 0) << name.toStdString();
                continue;
            }
            QByteArray seconds;
            ASSERT_EQ(RunProgram("ffprobe",
                                 {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", made},
                                 &seconds),
                      0)
                << name.toStdString();
            EXPECT_NEAR(seconds.trimmed().toDouble(), 4.0, 0.02) << name.toStdString();
        }
    }
}

// A library update killed at random moments, then run again: no file stands under its name without its tags
// and its loudness values (a killed run left untagged files, and files without ReplayGain, which reruns took
// for up to date), and nothing is left under a working name. The seed is printed on failure.
TEST_F(NothingLostTest, AKilledUpdateIsMendedByTheNext)
{
    const QString lib = home.root() + "/lib";
    QDir().mkpath(lib);
    const QString wav = home.root() + "/source.wav";
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "6", "pinknoise"}),
              0);
    constexpr int files = 5;
    for (int i = 1; i <= files; ++i)
        ASSERT_EQ(RunProgram("flac", {"--silent", "-T", QString("TITLE=Song %1").arg(i), "-o",
                                      lib + QString("/%1.flac").arg(i), wav}),
                  0);
    const unsigned seed = unsigned(QDateTime::currentMSecsSinceEpoch());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const QStringList convert = {"convert", "-f", "opus", "-r", lib, "-o", out, "--update", "--quiet"};
    for (int round = 0; round < 3; ++round) {
        QDir(out).removeRecursively();
        QProcess cli;
        cli.setStandardInputFile(QProcess::nullDevice());
        cli.start(BuiltProgram("sondrel-cli"), convert);
        ASSERT_TRUE(cli.waitForStarted());
        // Killed while some file is being written, or finished, or with its album values on their way.
        const int victim = int(random() % files) + 1;
        const bool late = random() % 2;
        WaitFor(
            [&] {
                return (late ? QFileInfo::exists(out + QString("/%1.opus").arg(victim))
                             : GrowingWorkingFile(out + QString("/%1.opus").arg(victim))) ||
                       cli.state() == QProcess::NotRunning;
            },
            60000);
        SignalProcess(cli, SIGKILL);
        cli.waitForFinished(60000);
        const CliRun again = runCli(convert);
        ASSERT_EQ(again.code, 0) << again.err.toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name).size(), files);
        for (int i = 1; i <= files; ++i) {
            const QString made = out + QString("/%1.opus").arg(i);
            const QJsonObject tags = JudgedTags(made).value("tags").toObject();
            EXPECT_EQ(tags.value("title").toArray().at(0).toString(), QString("Song %1").arg(i))
                << made.toStdString();
            EXPECT_TRUE(tags.contains("r128_track_gain") && tags.contains("r128_album_gain"))
                << made.toStdString() << " round " << round;
        }
    }
}

// A source replaced (renamed over) while it is converted: the output is of the new source, audio and tags,
// never the old audio under the new tags, and the tool says it converted it again.
TEST_F(NothingLostTest, ASourceReplacedWhileConvertedIsConvertedAgain)
{
    const QString lib = home.root() + "/lib";
    QDir().mkpath(lib);
    const QString source = lib + "/song.flac";
    for (const auto &[name, seconds, title] :
         {std::tuple{source, "120", "Old"}, std::tuple{home.root() + "/new.flac", "30", "New"}}) {
        const QString wav = home.root() + "/take.wav";
        ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", seconds,
                                     "pinknoise"}),
                  0);
        ASSERT_EQ(RunProgram("flac", {"--silent", "-f", "-T", QString("TITLE=") + title, "-o", name, wav}),
                  0);
    }
    QProcess cli;
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.start(BuiltProgram("sondrel-cli"), {"convert", "-f", "opus", "-r", lib, "-o", out, "--update"});
    ASSERT_TRUE(cli.waitForStarted());
    const QString made = out + "/song.opus";
    ASSERT_TRUE(WaitFor([&] { return GrowingWorkingFile(made); }, 60000));
    ASSERT_EQ(std::rename(QFile::encodeName(home.root() + "/new.flac").constData(),
                          QFile::encodeName(source).constData()),
              0);
    ASSERT_TRUE(cli.waitForFinished(120000));
    const QString said = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_EQ(cli.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains(source + ": changed while it was converted; converted again"))
        << said.toStdString();
    EXPECT_EQ(JudgedTags(made).value("tags").toObject().value("title").toArray().at(0).toString(), "New");
    QByteArray duration;
    ASSERT_EQ(RunProgram("ffprobe",
                         {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", made},
                         &duration),
              0);
    EXPECT_NEAR(duration.trimmed().toDouble(), 30.0, 0.05);
}

// A FLAC a rip named before its loudness values were written (the run was killed while it measured) gets
// them from the next run, which keeps the file: the album's value, as metaflac reads it.
TEST_F(NothingLostTest, ARerunWritesTheLoudnessAKilledRipOwed)
{
    ASSERT_NO_FATAL_FAILURE(ripCleanDisc(300, out));
    const auto valueOf = [](const QString &file, const QString &field) {
        QByteArray said;
        RunProgram("metaflac", {"--show-tag=" + field, file}, &said);
        return QString::fromUtf8(said).trimmed().section('=', 1);
    };
    const QString album = valueOf(out + "/Track01.flac", "REPLAYGAIN_ALBUM_GAIN");
    ASSERT_FALSE(album.isEmpty());
    ASSERT_EQ(
        RunProgram("metaflac", {"--remove-tag=REPLAYGAIN_TRACK_GAIN", "--remove-tag=REPLAYGAIN_TRACK_PEAK",
                                "--remove-tag=REPLAYGAIN_ALBUM_GAIN", "--remove-tag=REPLAYGAIN_ALBUM_PEAK",
                                out + "/Track02.flac"}),
        0);
    const CliRun again = runCli({"rip", "-f", "flac", "-o", out, "--no-overwrite", "--quiet"});
    ASSERT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_EQ(valueOf(out + "/Track02.flac", "REPLAYGAIN_ALBUM_GAIN"), album);
    EXPECT_FALSE(valueOf(out + "/Track02.flac", "REPLAYGAIN_TRACK_GAIN").isEmpty());
}

// A single-file image rip stopped or killed while it reads, then run again: the rerun makes the image and its
// cue sheet (a stopped image rip left its track WAVs, which the rerun kept, making no image), with a clean
// image rip's audio, and no track WAV stays.
TEST_F(NothingLostTest, AnInterruptedImageRipIsFinishedByARerun)
{
    constexpr int sectors = 6000;
    const QString clean = home.root() + "/clean";
    ASSERT_NO_FATAL_FAILURE(ripCleanDisc(sectors, clean));
    ASSERT_EQ(runCli({"rip", "-f", "flac", "--image", "-o", clean + "/image", "--quiet"}).code, 0);
    const QStringList made = QDir(clean + "/image").entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(made.size(), 2) << made.join(",").toStdString(); // the image and its cue sheet
    const QString image = made.filter(".flac").value(0);
    QByteArray cleanSignature;
    ASSERT_EQ(RunProgram("metaflac", {"--show-md5sum", clean + "/image/" + image}, &cleanSignature), 0);
    for (const auto &[signal, path] :
         {std::pair{SIGTERM, "--lookup"}, std::pair{SIGKILL, "--lookup"}, std::pair{SIGTERM, "--paranoia"}}) {
        SCOPED_TRACE(QString("signal %1 %2").arg(signal).arg(path).toStdString());
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        QProcess cli;
        cli.setStandardInputFile(QProcess::nullDevice());
        const QStringList read =
            QString(path) == "paranoia" ? QStringList{"--paranoia"} : QStringList{"--lookup", "cache"};
        cli.start(BuiltProgram("sondrel-cli"),
                  QStringList{"rip", "-f", "flac", "--image", "-o", out, "--quiet"} + read);
        ASSERT_TRUE(cli.waitForStarted());
        ASSERT_TRUE(WaitFor(
            [&] { return GrowingWorkingFile(out + "/Track02.wav") || cli.state() == QProcess::NotRunning; },
            60000));
        ASSERT_TRUE(SignalProcess(cli, signal)) << "the rip ended before the signal";
        ASSERT_TRUE(cli.waitForFinished(60000));
        if (signal == SIGTERM) {
            EXPECT_TRUE(files().filter(".wav").isEmpty()) << files().join(",").toStdString();
        }
        const CliRun again = runCli({"rip", "-f", "flac", "--image", "-o", out, "--quiet"});
        ASSERT_EQ(again.code, 0) << again.err.toStdString();
        EXPECT_EQ(files(), made);
        QByteArray signature;
        ASSERT_EQ(RunProgram("metaflac", {"--show-md5sum", out + "/" + image}, &signature), 0);
        EXPECT_EQ(signature, cleanSignature);
    }
}

// A WAV rip over an existing WAV on a disk that fills up keeps the old file whole and says why.
TEST_F(NothingLostTest, AFullDiskKeepsTheWavThatWasThere)
{
    disc({"200,music"}, "TrackNumber=1\n"); // 470 KB: more than the disk holds
    TinyFileSystem disk(out, 256);
    if (!disk.available())
        GTEST_SKIP() << "no permission to mount a small file system";
    WriteFileText(out + "/Track01.wav", "the old take");
    const CliRun run = runCli({"rip", "-f", "wav", "-o", out, "--overwrite", "--quiet"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains(out + "/Track01.wav: No space left on device")) << run.err.toStdString();
    EXPECT_EQ(ReadFileText(out + "/Track01.wav"), "the old take");
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList({"Track01.wav"}));
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString(); // nothing listed as made
}

// An output that is the input under another name (a symbolic link, a path through a linked folder) is
// refused before anything is written, for every command that reads one file and writes another.
TEST_F(NothingLostTest, AnOutputThatIsTheInputIsRefused)
{
    const QString wav = home.root() + "/in.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}), 0);
    const QByteArray before = ReadFileBytes(wav);
    ASSERT_TRUE(QFile::link(wav, home.root() + "/link.wav"));
    ASSERT_TRUE(QFile::link(home.root(), home.root() + "/again"));
    QList<QStringList> cases = {{"resample", wav, home.root() + "/link.wav"},
                                {"resample", wav, home.root() + "/again/in.wav"}};
    for (const char *format : {"mp3", "ogg", "flac"}) { // conversions into links to their own input
        ASSERT_TRUE(QFile::link(wav, out + "/in." + format));
        cases.append({"convert", QString("wav2") + format, wav, "-o", out, "--overwrite"});
    }
    for (const QStringList &arguments : cases) {
        SCOPED_TRACE(arguments.join(" ").toStdString());
        const QString refused =
            arguments[0] == "resample" ? arguments[2] : out + "/in." + arguments[1].mid(4);
        const CliRun run = runCli(arguments);
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(run.err.contains(refused + ": the output would overwrite the input"))
            << run.err.toStdString();
        EXPECT_EQ(ReadFileBytes(wav), before);
    }
}

// options.ini values that would make every file empty, or none at all, are read as their defaults, and the
// tool says which.
TEST_F(NothingLostTest, SettingsOutOfRangeAreReadAsTheirDefaults)
{
    disc({"100,music"}, "TrackNumber=1\n");
    const QString ini = SettingsFolder() + "options.ini";
    struct Case {
        const char *settings, *warning, *made;
    };
    const Case cases[] = {
        {"EnableRipTime=1\nRipTime=0\n", "RipTime=0 would extract nothing", "Track01.wav"},
        {"EnableRipTime=1\nRipTime=-5\n", "RipTime=-5 would extract nothing", "Track01.wav"},
        {"OutputFormat=7\n", "OutputFormat=7 is out of range (0 to 5); 0 is used", "Track01.mp3"},
        {"OutputFormat=-1\n", "OutputFormat=-1 is out of range (0 to 5); 0 is used", "Track01.mp3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.settings);
        QDir(out).removeRecursively();
        WriteFileText(ini, QString("[CommonOptions]\n") + c.settings + "OutputFolder=" + out + "\n");
        const QStringList format =
            QString(c.made).endsWith(".wav") ? QStringList{"-f", "wav"} : QStringList();
        const CliRun run = runCli(QStringList{"rip", "--quiet"} + format);
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(ini + ": " + c.warning)) << run.err.toStdString();
        EXPECT_EQ(files(), QStringList{c.made});
        if (QString(c.made).endsWith(".wav")) {
            EXPECT_EQ(QFileInfo(out + "/" + c.made).size(), 44 + 100 * 2352);
        }
    }
}

// A file name with a line break would make a second playlist entry of the name's choosing: no playlist is
// written, and the file is named.
TEST_F(NothingLostTest, APlaylistEntryWithALineBreakIsRefused)
{
    for (const char *brk : {"\n", "\r"}) {
        const QString sneaky = out + "/song" + brk + "/etc/passwd.mp3";
        QDir().mkpath(QFileInfo(sneaky).path());
        WriteFileText(sneaky, "audio");
        WriteFileText(out + "/fine.mp3", "audio");
        const CliRun run = runCli({"playlist", out + "/list.m3u", out + "/fine.mp3", sneaky});
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(
            run.err.contains("/etc/passwd.mp3: a file name with a line break cannot be a playlist entry"))
            << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out + "/list.m3u"));
    }
}

// WAVs of every shape other programs write are read whole and right: each is made into FLAC by the tool and
// decoded again by flac, and its samples are what sox reads from the same file (at 24 bits for 32-bit input,
// which FLAC keeps rounded to 24 bits).
TEST_F(NothingLostTest, WavsOfEveryShapeBecomeTheSameFlac)
{
    const QString source = home.root() + "/source.wav"; // 24-bit, 2 s of a chord
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "24", source, "synth", "2", "sine",
                                 "440", "sine", "660", "vol", "0.7"}),
              0);
    const QByteArray packed = ReadFileBytes(source);
    const qsizetype dataAt = packed.indexOf("data") + 8; // sox writes an extensible header
    ASSERT_GT(dataAt, 8);
    const auto raw = [](const QString &wav, int bits) {
        QByteArray bytes;
        RunProgram("sox", {"-D", wav, "-t", "raw", "-e", "signed", "-b", QString::number(bits), "-"}, &bytes);
        return bytes;
    };
    const auto writeBytes = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    struct Case {
        QString name;
        std::function<bool(const QString &)> make; // writes the input WAV
        int bits;                                  // what the FLAC holds
        bool lossless = true;                      // holds the source's samples (else sox's reading of it)
    };
    const auto bySox = [&](QStringList options) {
        return [&, options](const QString &wav) {
            return RunProgram("sox", QStringList{source} + options + QStringList{wav}) == 0;
        };
    };
    const QList<Case> cases = {
        {"streamed (data size 0)",
         [&](const QString &wav) {
             QByteArray bytes = packed;
             bytes.replace(4, 4, QByteArray(4, '\0'));
             bytes.replace(dataAt - 4, 4, QByteArray(4, '\0'));
             return writeBytes(wav, bytes);
         },
         24},
        {"24 bits in 4-byte containers",
         [&](const QString &wav) {
             QByteArray data;
             for (qsizetype i = dataAt; i + 3 <= packed.size(); i += 3)
                 data += '\0' + packed.mid(i, 3);
             QByteArray header = ExtensibleWavHeader(2, 44100, 32, uint32_t(data.size()));
             qToLittleEndian<uint16_t>(24, header.data() + 38); // 24 valid bits
             return writeBytes(wav, header + data);
         },
         24},
        {"24 bits low in 4-byte blocks under a plain header (ALSA's S24_LE, hound)",
         [&](const QString &wav) {
             QByteArray data;
             for (qsizetype i = dataAt; i + 3 <= packed.size(); i += 3)
                 data += packed.mid(i, 3) + char((packed[i + 2] & 0x80) ? 0xFF : 0x00);
             QByteArray header(44, '\0');
             char *h = header.data();
             std::memcpy(h, "RIFF", 4);
             qToLittleEndian<uint32_t>(uint32_t(36 + data.size()), h + 4);
             std::memcpy(h + 8, "WAVEfmt ", 8);
             qToLittleEndian<uint32_t>(16, h + 16);
             qToLittleEndian<uint16_t>(1, h + 20); // plain PCM
             qToLittleEndian<uint16_t>(2, h + 22);
             qToLittleEndian<uint32_t>(44100, h + 24);
             qToLittleEndian<uint32_t>(44100 * 8, h + 28);
             qToLittleEndian<uint16_t>(8, h + 32);  // 4 bytes a sample
             qToLittleEndian<uint16_t>(24, h + 34); // 24 bits
             std::memcpy(h + 36, "data", 4);
             qToLittleEndian<uint32_t>(uint32_t(data.size()), h + 40);
             return writeBytes(wav, header + data);
         },
         24},
        {"RF64",
         [&](const QString &wav) {
             return RunProgram("ffmpeg", {"-v", "error", "-i", source, "-c:a", "pcm_s24le", "-rf64", "always",
                                          wav}) == 0;
         },
         24},
        {"A-law", bySox({"-e", "a-law"}), 16, false},
        {"mu-law", bySox({"-e", "mu-law"}), 16, false},
        {"32-bit integer", bySox({"-b", "32", "-e", "signed"}), 24},
        {"32-bit float", bySox({"-b", "32", "-e", "float"}), 24, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        const QString wav = home.root() + "/in.wav";
        QFile::remove(wav);
        ASSERT_TRUE(c.make(wav));
        const CliRun run = runCli({"convert", "wav2flac", wav, "-o", out, "--quiet"});
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        const QString decoded = home.root() + "/decoded.wav";
        ASSERT_EQ(RunProgram("flac", {"-d", "-f", "-s", "-o", decoded, out + "/in.flac"}), 0);
        const QByteArray ours = raw(decoded, c.bits);
        const QByteArray theirs = raw(c.lossless ? source : wav, c.bits);
        ASSERT_EQ(ours.size(), theirs.size());
        ASSERT_GT(ours.size(), 44100 * 2);
        // Rounding 32-bit samples to 24 may fall either way of a half.
        int worst = 0;
        const int step = c.bits / 8;
        for (qsizetype i = 0; i + step <= ours.size(); i += step) {
            int a = 0, b = 0;
            std::memcpy(&a, ours.constData() + i, size_t(step));
            std::memcpy(&b, theirs.constData() + i, size_t(step));
            worst =
                std::max(worst, std::abs((a << (32 - 8 * step)) - (b << (32 - 8 * step))) >> (32 - 8 * step));
        }
        EXPECT_LE(worst, c.name.contains("float") ? 1 : 0);
    }
}

} // namespace
