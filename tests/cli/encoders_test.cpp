// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line tool against encoders that record their arguments, fail or die: values from file names
// and from the disc cache reach them whole, and a failed encoding is a failed file.
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "clirun.h"
#include "shell/discinfo.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

// Records each argument followed by a NUL into a file named by the environment variable SONDREL_ARGV.
const QString recordArguments = "for a; do printf '%s\\0' \"$a\"; done > \"$SONDREL_ARGV\"\n";
using StandInEncoder::WritesLastArgument;
using StandInEncoder::WritesOutputOption;

class CliEncoderTest : public DiscImageTest {
protected:
    QString argv = home.root() + "/argv";
    QString cli; // a copy of the tool beside stand-in encoders

    CliEncoderTest()
    {
        // An output folder whose name has quotes in it.
        out = home.root() + "/My \"Best\" rips";
        QDir().mkpath(out);
        QDir().mkpath(home.programFolder());
        cli = home.programFolder() + "sondrel-cli";
        QFile::copy(BuiltProgram("sondrel-cli"), cli);
        QFile::setPermissions(cli, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        qputenv("SONDREL_ARGV", QFile::encodeName(argv));
    }
    ~CliEncoderTest() override { qunsetenv("SONDREL_ARGV"); }

    void encoder(const QString &name, const QString &script)
    {
        const QString path = home.programFolder() + name;
        QFile::remove(path);
        WriteFileText(path, "#!/bin/sh\n" + script);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }

    QStringList recorded() const
    {
        QStringList args;
        for (const QByteArray &a : ReadFileBytes(argv).split('\0'))
            args << QString::fromUtf8(a);
        args.removeLast();
        return args;
    }

    void disc(const TCDInfo &info, const QStringList &tracks)
    {
        ASSERT_TRUE(MakeDisc(images + "disc.cue", tracks));
        AppSettings.DiscInfo = info;
        ASSERT_TRUE(SaveDiscInfo(DiscKey()));
    }
};

TEST_F(CliEncoderTest, DiscValuesReachTheEncodersAsOneArgumentEach)
{
    TCDInfo info;
    info.Artist = "x\" -output \"" + home.root() + "/victim";
    info.Comment = "$(touch " + home.root() + "/pwned) `touch " + home.root() + "/pwned2`";
    info.TrackNumber = 2;
    info.Tracks[1] = "-rf 'one' $(two)";
    info.Tracks[2] = " `three`  four ";
    disc(info, {"100,music", "100,music"});
    WriteFileText(home.root() + "/victim", "precious");

    encoder("WM8EUTIL", recordArguments + WritesOutputOption + "echo 'Encoding: 100%'\n");
    const CliRun wma = runCli({"rip", "-f", "wma", "--tags", "-t", "1", "-o", out, "--quiet"}, cli);
    ASSERT_EQ(wma.code, 0) << wma.err.toStdString();
    const QString base = out + "/-rf 'one' $(two)";
    QStringList wmaArguments = recorded();
    ASSERT_EQ(wmaArguments.size(), 14);
    EXPECT_TRUE(IsWorkingFileOf(wmaArguments[3], base + ".wma")) << wmaArguments[3].toStdString();
    wmaArguments[3] = "working";
    EXPECT_EQ(wmaArguments, QStringList({"-input", base + ".wav", "-output", "working", "-a_setting",
                                         "64_44_2", "-author", info.Artist, "-description", info.Comment,
                                         "-title", info.Tracks[1], "-track", "1"}));
    EXPECT_TRUE(QFileInfo::exists(base + ".wma"));
    EXPECT_EQ(ReadFileText(home.root() + "/victim"), "precious");
    EXPECT_FALSE(QFileInfo::exists(home.root() + "/pwned"));
    EXPECT_FALSE(QFileInfo::exists(home.root() + "/pwned2"));

    encoder("lame", recordArguments + WritesLastArgument);
    const CliRun mp3 = runCli({"rip", "-f", "mp3", "-t", "2", "-o", out, "--quiet"}, cli);
    ASSERT_EQ(mp3.code, 0) << mp3.err.toStdString();
    const QString second = out + "/`three`  four"; // the title trimmed, as the track list holds it
    const QStringList args = recorded();
    ASSERT_GE(args.size(), 2);
    EXPECT_EQ(args[args.size() - 2], second + ".wav");
    EXPECT_TRUE(IsWorkingFileOf(args.last(), second + ".mp3")) << args.last().toStdString();
    EXPECT_TRUE(QFileInfo::exists(second + ".mp3"));
}

// The quoted name converts that file, and the file with the name the quotes would have split into stays.
TEST_F(CliEncoderTest, QuotedNameConvertsTheRightFile)
{
    const QString quoted = home.root() + "/say \"hi\".wav";
    const QString plain = home.root() + "/say hi.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", quoted, "synth", "1", "sine", "440"}),
        0);
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", plain, "synth", "3", "sine", "880"}),
        0);
    WriteFileText(out + "/say hi.mp3", "keep");
    QFile::remove(cli); // the built tool, with the real lame
    const CliRun run = runCli({"convert", "wav2mp3", quoted, "-o", out, "--no-overwrite", "--quiet"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(ReadFileText(out + "/say hi.mp3"), "keep");
    QByteArray probe;
    ASSERT_EQ(RunProgram("ffprobe",
                         {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                          out + "/say \"hi\".mp3"},
                         &probe),
              0);
    EXPECT_NEAR(probe.trimmed().toDouble(), 1.0, 0.1);
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// Every way an encoder fails is a failure of that file: exit status 1, the file named with the cause, no
// file under the final name, and the ripped WAV kept.
TEST_F(CliEncoderTest, FailedEncodingsFailTheRun)
{
    TCDInfo info;
    info.TrackNumber = 1;
    info.Tracks[1] = "Song";
    disc(info, {"100,music"});
    struct Case {
        QString format, program, script, cause;
    };
    const QString partialLame = StandInEncoder::WritesHalfLastArgument;
    const QString partialWma = StandInEncoder::WritesHalfOutputOption;
    const std::vector<Case> cases{
        {"mp3", "lame", partialLame + "echo 'Error writing mp3 output' >&2\nexit 1\n", "exit status 1"},
        {"mp3", "lame", partialLame + "kill -9 $$\n", "killed by signal 9"},
        {"wma", "WM8EUTIL", partialWma + "kill -9 $$\n", "killed by signal 9"},
        {"wma", "WM8EUTIL", "echo 'Encoding: 100%'\n", "wrote an empty file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.program + ": " + c.cause).toStdString());
        QDir(out).removeRecursively();
        encoder(c.program, c.script);
        const CliRun rip = runCli({"rip", "-f", c.format, "-o", out, "--quiet"}, cli);
        EXPECT_EQ(rip.code, 1);
        EXPECT_TRUE(rip.err.contains(out + "/Song." + c.format + ": ")) << rip.err.toStdString();
        EXPECT_TRUE(rip.err.contains(c.cause)) << rip.err.toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"Song.wav"});

        const CliRun convert =
            runCli({"convert", "wav2" + c.format, out + "/Song.wav", "-o", out + "/conv"}, cli);
        EXPECT_EQ(convert.code, 1);
        EXPECT_TRUE(convert.err.contains(c.cause)) << convert.err.toStdString();
        EXPECT_TRUE(QDir(out + "/conv").entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

// A WMA encoder that fails at once, again and again: every run ends.
TEST_F(CliEncoderTest, FailingWmaEncoderNeverHangs)
{
    TCDInfo info;
    info.TrackNumber = 1;
    disc(info, {"20,music"});
    const QString junk = home.root() + "/junk.wav";
    WriteFileText(junk, "this is not a WAV file");
    encoder("WM8EUTIL", "echo 'ERROR: cannot encode'\nexit 1\n");
    int ended = 0;
    for (int i = 0; i < 200; ++i) {
        if (runCli({"rip", "-f", "wma", "-o", out, "--quiet", "--overwrite"}, cli, 20000).code == 1)
            ++ended;
    }
    EXPECT_EQ(ended, 200);
    // The real encoder on a file it cannot read.
    QFile::remove(cli);
    ended = 0;
    for (int i = 0; i < 200; ++i) {
        if (runCli({"convert", "wav2wma", junk, "-o", out, "--quiet", "--overwrite"}, QString(), 20000)
                .code == 1)
            ++ended;
    }
    EXPECT_EQ(ended, 200);
}

} // namespace

namespace {

// Two encoders at once, in a conversion and in an extraction: each stand-in lame marks that it started and
// waits (bounded) until two have started, so every file says "together" only when two really ran side by
// side; one after the other, the first would wait out its bound and say "alone".
TEST_F(CliEncoderTest, TwoEncodersRunSideBySide)
{
    AppSettings.CommonOptions.EncodersAtOnce = 2;
    ASSERT_TRUE(SaveOptions());
    const QString marks = home.root() + "/marks";
    QDir().mkpath(marks);
    encoder("lame", "touch \"" + marks +
                        "/$$\"\n"
                        "n=0\n"
                        "while [ \"$(ls \"" +
                        marks +
                        "\" | wc -l)\" -lt 2 ] && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done\n"
                        "for last; do :; done\n"
                        "{ for f in 1 2; do printf '\\377\\373\\220\\000'; head -c 413 /dev/zero; done\n"
                        "if [ $n -lt 600 ]; then echo together; else echo alone; fi; } > \"$last\"\n"
                        "echo '  100/100   (100%)|    0:00/    0:00|    0:00/    0:00|   1.0x|    0:00'\n");
    QStringList wavs;
    for (const char *name : {"a", "b"}) {
        const QString wav = home.root() + "/" + name + ".wav";
        ASSERT_EQ(
            RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}),
            0);
        wavs << wav;
    }
    const CliRun convert =
        runCli(QStringList{"convert", "wav2mp3"} + wavs + QStringList{"-o", out, "--quiet"}, cli);
    ASSERT_EQ(convert.code, 0) << convert.err.toStdString();
    EXPECT_TRUE(ReadFileBytes(out + "/a.mp3").endsWith("together\n"));
    EXPECT_TRUE(ReadFileBytes(out + "/b.mp3").endsWith("together\n"));

    // An extraction: the tracks are read one after the other and encoded side by side; the WAVs go at the
    // end, and the temporary files of both lanes with them.
    QDir(marks).removeRecursively();
    QDir().mkpath(marks);
    TCDInfo info;
    info.TrackNumber = 3;
    info.Tracks[1] = "One";
    info.Tracks[2] = "Two";
    info.Tracks[3] = "Three";
    disc(info, {"150,music", "150,music", "150,music"});
    const CliRun rip = runCli({"rip", "-f", "mp3", "-o", out + "/rip"}, cli);
    ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
    // The read's lines and each encoding's own.
    for (const char *line : {"Extracting(03/03): Three", "Encoding(01/03): One", "Encoding(03/03): Three"})
        EXPECT_TRUE(rip.err.contains(line)) << line << "\n" << rip.err.toStdString();
    for (const char *name : {"One", "Two", "Three"})
        EXPECT_TRUE(ReadFileBytes(out + "/rip/" + name + ".mp3").endsWith("together\n")) << name;
    EXPECT_EQ(QDir(out + "/rip").entryList(QDir::Files | QDir::Hidden).size(), 3)
        << QDir(out + "/rip").entryList(QDir::Files | QDir::Hidden).join(" ").toStdString();

    // The same through the drive component: its reads go on while the encodings run side by side.
    QDir(marks).removeRecursively();
    QDir().mkpath(marks);
    const CliRun paranoia = runCli({"rip", "-f", "mp3", "-o", out + "/paranoia", "--paranoia"}, cli);
    ASSERT_EQ(paranoia.code, 0) << paranoia.err.toStdString();
    // One extraction job for both paths: the same lines.
    for (const char *line : {"Extracting(03/03): Three", "Encoding(02/03): Two"})
        EXPECT_TRUE(paranoia.err.contains(line)) << line << "\n" << paranoia.err.toStdString();
    for (const char *name : {"One", "Two", "Three"}) // tagged, as this path always does
        EXPECT_TRUE(ReadFileBytes(out + "/paranoia/" + name + ".mp3").contains("together\nTAG")) << name;
    EXPECT_EQ(QDir(out + "/paranoia").entryList(QDir::Files | QDir::Hidden).size(), 3)
        << QDir(out + "/paranoia").entryList(QDir::Files | QDir::Hidden).join(" ").toStdString();
    EXPECT_EQ(paranoia.out.split('\n', Qt::SkipEmptyParts).size(), 3) << paranoia.out.toStdString();
}

// An encoder that ends with status 0 after writing nothing useful (an empty file, text, a cut header) never
// replaces the good file that was there: the file is named with the reason, nothing is listed as made, and
// the run fails.
TEST_F(CliEncoderTest, AnEncoderThatWritesGarbageReplacesNothing)
{
    const QString wav = home.root() + "/song.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}), 0);
    struct Case {
        const char *encoder, *kind, *extension, *write;
    };
    const Case cases[] = {
        {"lame", "wav2mp3", "mp3", "printf 'garbage'"},
        {"lame", "wav2mp3", "mp3", ":"},                                               // empty
        {"lame", "wav2mp3", "mp3", "printf 'ID3\\004\\000\\000\\000\\000\\000\\000'"}, // a tag, no audio
        {"WM8EUTIL", "wav2wma", "wma", "head -c 5000 /dev/urandom"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.encoder) + ": " + c.write);
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        const QString target = out + "/song." + c.extension;
        WriteFileText(target, "the good file");
        const QString output = QString(c.encoder) == "lame"
                                   ? "for a; do last=$a; done\n"
                                   : "prev=\nfor a; do [ \"$prev\" = -output ] && last=$a; "
                                     "prev=$a; done\n";
        encoder(c.encoder, output + c.write + " > \"$last\"\n");
        const CliRun run = runCli({"convert", c.kind, wav, "-o", out, "--overwrite"}, cli);
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(run.err.contains(target + ": " + c.encoder + " ended normally, but "))
            << run.err.toStdString();
        EXPECT_EQ(ReadFileText(target), "the good file");
        EXPECT_FALSE(run.out.contains(target)) << run.out.toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"song." + QString(c.extension)});
    }
}

} // namespace
