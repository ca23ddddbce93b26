// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddbserver.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "clirun.h"
#include "mainwindow/mainform.h"
#include "shell/discinfo.h"
#include "shell/folders.h"
#include "shell/genres.h"
#include "shell/settings.h"
#include "tags/id3tag.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QtEndian>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace {

// Every file under a folder, by path relative to it, with its bytes.
std::map<QString, QByteArray> filesUnder(const QString &folder)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(folder).relativeFilePath(path)] = ReadFileBytes(path);
    }
    return files;
}

class CliTest : public DiscImageTest {
protected:
    // Runs a Python line on the JSON text (as d; sys.argv[2:] are the extra values) and gives what it
    // printed.
    QString pythonJson(const QString &json, const QString &code, const QStringList &values = {})
    {
        const QString file = home.root() + "/answer.json";
        WriteFileText(file, json);
        QByteArray output;
        if (RunProgram(
                "python3",
                QStringList{"-c", "import json, sys\nd = json.load(open(sys.argv[1]))\n" + code, file} +
                    values,
                &output) != 0)
            return "python3 failed: " + QString::fromUtf8(output);
        return QString::fromUtf8(output);
    }

    void titles(const QString &artist, const QString &album, const QStringList &tracks)
    {
        AppSettings.DiscInfo = TCDInfo();
        AppSettings.DiscInfo.Artist = artist;
        AppSettings.DiscInfo.Album = album;
        AppSettings.DiscInfo.TrackNumber = int(tracks.size());
        for (int i = 0; i < tracks.size(); ++i)
            AppSettings.DiscInfo.Tracks[size_t(i + 1)] = tracks[i];
        ASSERT_TRUE(SaveDiscInfo(DiscKey()));
    }
};

// The man page and --help list the same options for every command: each option of a command's synopsis in
// --help is in its man page entry (or the man page's paragraph for every command), and each option the entry
// names is one the command takes.
TEST_F(CliTest, ManPageAndHelpListTheSameOptions)
{
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])--?[a-z][a-z0-9-]*"));
    const auto options = [](const QString &text) {
        QSet<QString> found;
        for (auto it = option.globalMatch(text); it.hasNext();)
            found.insert(it.next().captured());
        return found;
    };
    // --help: each command's synopsis, its first line "  NAME  [...]" and the lines that go on with "[".
    const CliRun help = runCli({"--help"});
    std::map<QString, QSet<QString>> helped;
    QString command;
    for (const QString &line : help.out.split('\n')) {
        static const QRegularExpression first(QStringLiteral("^  ([a-z]+) +(.*)$"));
        if (const auto m = first.match(line); m.hasMatch()) {
            command = m.captured(1);
            helped[command] += options(m.captured(2));
        } else if (!command.isEmpty() && line.startsWith("           [")) {
            helped[command] += options(line);
        } else {
            command.clear();
        }
    }
    ASSERT_GE(helped.size(), 12u) << help.out.toStdString();
    // The man page: each command's entry, from its .BR line to the next .TP or .PP; the last paragraph of
    // COMMANDS speaks for every command.
    QString man = ReadFileText(SONDREL_SOURCE_DIR "/docs/sondrel-cli.1");
    man.replace("\\-", "-");
    std::map<QString, QSet<QString>> entries;
    QSet<QString> everyCommand;
    QString entry;
    bool general = false;
    for (const QString &line : man.split('\n')) {
        static const QRegularExpression br(QStringLiteral("^\\.BR ([a-z]+) "));
        if (const auto m = br.match(line); m.hasMatch()) {
            entry = m.captured(1);
            entries[entry] += options(line.mid(m.capturedLength()));
        } else if (line.startsWith(".PP") && entries.size() > 1) {
            general = true;
            entry.clear();
        } else if (line.startsWith(".SH") || line.startsWith(".TP")) {
            general = general && !line.startsWith(".SH");
            entry.clear();
        } else if (general) {
            everyCommand += options(line);
        } else if (!entry.isEmpty()) {
            entries[entry] += options(line);
        }
    }
    const QSet<QString> global{"--quiet", "-v", "--verbose", "--help", "--overwrite", "--no-overwrite"};
    for (const auto &[name, synopsis] : helped) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(entries.count(name)) << "no man page entry for " << name.toStdString();
        for (const QString &o : synopsis)
            EXPECT_TRUE(entries[name].contains(o) || everyCommand.contains(o) || global.contains(o))
                << o.toStdString() << " is in --help, not in the man page";
        for (const QString &o : entries[name])
            EXPECT_TRUE(synopsis.contains(o) || global.contains(o))
                << o.toStdString() << " is in the man page, not in --help";
    }
}

TEST_F(CliTest, UsageAndListings)
{
    EXPECT_EQ(runCli({}).code, 2);
    EXPECT_EQ(runCli({"frobnicate"}).code, 2);
    const CliRun unknown = runCli({"rip", "--frob"});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_TRUE(unknown.err.contains("unknown option --frob"));
    EXPECT_EQ(runCli({"toc", "-d"}).code, 2);
    EXPECT_EQ(runCli({"tag", "show"}).code, 2);
    const CliRun help = runCli({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char *word : {"drives", "toc", "rip", "convert", "tag", "cddb", "--overwrite", "Exit status"})
        EXPECT_TRUE(help.out.contains(word)) << word;
    // A command's own help: its lines only, with the notes for every command.
    const CliRun ripHelp = runCli({"rip", "--help"});
    EXPECT_EQ(ripHelp.code, 0);
    EXPECT_TRUE(ripHelp.out.startsWith("usage: sondrel-cli rip [OPTIONS]\n")) << ripHelp.out.toStdString();
    EXPECT_TRUE(ripHelp.out.contains("--accuraterip-server URL"));
    EXPECT_FALSE(ripHelp.out.contains("record "));
    EXPECT_TRUE(ripHelp.out.contains("Exit status"));
    EXPECT_EQ(runCli({"frobnicate", "--help"}).code, 2);
    EXPECT_EQ(runCli({"rip", "--lookup", "none", "--release", "1"}).code, 2); // nothing to choose among

    // No drive and no image: said, and a failure for every command that needs a drive.
    for (const char *command : {"drives", "toc", "rip", "cddb"}) {
        const CliRun none = runCli({command});
        EXPECT_EQ(none.code, 1) << command;
        EXPECT_TRUE(none.err.contains("no CD drives or disc images found")) << none.err.toStdString();
    }

    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"300,music", "200,tone", "data:100"}));
    titles("Band", "Record", {"Opening", "Second"});
    const CliRun drives = runCli({"drives"});
    EXPECT_EQ(drives.code, 0);
    EXPECT_TRUE(drives.out.startsWith("0\tImage disc.cue\t" + images + "disc.cue\n"))
        << drives.out.toStdString();
    EXPECT_EQ(
        pythonJson(runCli({"drives", "--json"}).out,
                   "print(d[0]['index'], d[0]['vendor'], d[0]['product'], d[0]['path'], d[0]['image'])"),
        "0 Image disc.cue " + images + "disc.cue True\n");
    EXPECT_EQ(
        pythonJson(runCli({"toc", "--json"}).out,
                   "t = d['tracks']; print(d['first'], d['last'], len(t), t[0]['title'], t[1]['start'], "
                   "t[2]['type'], d['leadout'], d['disc_key'] != '', 'musicbrainz_id' in d)"),
        "1 3 3 Opening 300 data 600 True False\n");
    const CliRun toc = runCli({"toc"});
    ASSERT_EQ(toc.code, 0) << toc.err.toStdString();
    const QStringList lines = toc.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 8) << toc.out.toStdString();
    EXPECT_EQ(lines[0], "first 1");
    EXPECT_EQ(lines[1], "last 3");
    EXPECT_EQ(lines[2], "track 1\t0\t00:04\taudio\tOpening");
    EXPECT_EQ(lines[3], "track 2\t300\t00:02\taudio\tSecond");
    EXPECT_TRUE(lines[4].startsWith("track 3\t500\t00:01\tdata"));
    EXPECT_EQ(lines[5], "leadout 600");
    EXPECT_TRUE(lines[6].startsWith("cddb-id "));
    EXPECT_EQ(lines[7], "disc-key " + DiscKey());
    EXPECT_EQ(runCli({"toc", "-d", "3"}).code, 1);

    // An answer that could not be written is a failure, with the system's reason (a full disk here).
    for (const QStringList &command : {QStringList{"--help"}, {"toc"}, {"toc", "--json"}, {"drives"}}) {
        const CliRun full =
            runCli(QStringList{"-c", "exec \"$0\" \"$@\" > /dev/full", BuiltProgram("sondrel-cli")} + command,
                   "/bin/sh");
        EXPECT_EQ(full.code, 1) << command.join(' ').toStdString();
        EXPECT_TRUE(full.err.contains("sondrel-cli: standard output: No space left on device"))
            << full.err.toStdString();
    }
}

// Commands without network start without the network libraries: libcurl is loaded by the first request
// (the lookup tests use it), and Qt Network is the desktop program's alone.
TEST(CliStartUp, TheNetworkLibrariesAreNotLinked)
{
    QByteArray headers;
    ASSERT_EQ(RunProgram("objdump", {"-p", BuiltProgram("sondrel-cli")}, &headers), 0);
    EXPECT_TRUE(headers.contains("NEEDED               libQt6Core.so.6")) << headers.toStdString();
    EXPECT_FALSE(headers.contains("libcurl")) << headers.toStdString();
    EXPECT_FALSE(headers.contains("libQt6Network")) << headers.toStdString();
}

// Playback starts every time on a device that keeps real time (a PulseAudio null sink through ALSA): 50
// plays in a row all end well, and the sound of each arrives.
TEST_F(CliTest, PlayStartsEveryTime)
{
    PulseNullSink sink;
    if (!sink.available())
        GTEST_SKIP() << "no PulseAudio server could be started";
    const QString ogg = PulseNullSink::ShortToneOgg(home.root());
    ASSERT_FALSE(ogg.isEmpty());
    sink.record();
    int played = 0;
    for (int i = 0; i < 50; ++i) {
        const CliRun run = runCli({"play", ogg, "--device", "pulse"});
        played += run.code == 0;
        if (run.code != 0) {
            // A server that stopped answering leaves nothing to judge the player by.
            if (!sink.answers())
                GTEST_SKIP() << "the test's sound server stopped answering: " << sink.report().toStdString();
            ADD_FAILURE() << i << ": " << run.err.toStdString() << sink.report().toStdString();
            break;
        }
    }
    EXPECT_EQ(played, 50);
    // Each play's tone arrived: 50 sounds, apart by the moments between two plays.
    EXPECT_EQ(PulseNullSink::soundsIn(sink.recorded(), 1000, 200), 50);
}

TEST_F(CliTest, RipMatchesTheWindowsExtraction)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"400,music", "300,tone", "250,noise"}));
    titles("Band", "Record", {"Opening", "Middle", "End"});
    // Same files under the same names; WAV and MP3 byte for byte (an Ogg stream carries a random serial
    // number, a WMA file its own identifiers).
    static const char *const extensions[] = {"mp3", "wav", "ogg", "wma"};
    for (int format = 0; format < 4; ++format) {
        const QString windowOut = out + "/window" + QString::number(format);
        const QString cliOut = out + "/cli" + QString::number(format);
        QDir().mkpath(windowOut);
        // The window finds the WMA encoder in its program folder, here the test's own.
        QDir().mkpath(home.programFolder());
        QFile::copy(BuiltProgram("WM8EUTIL"), home.programFolder() + "WM8EUTIL");
        QFile::setPermissions(home.programFolder() + "WM8EUTIL",
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        WriteFileText(SettingsFolder() + "options.ini",
                      "[CommonOptions]\nOutputFolder=" + windowOut + "\nOutputFormat=" +
                          QString::number(format) + "\nIsCreateM3U=1\nIsCreateAlbumFolder=1\n[ID3]\nUse=1\n");
        {
            ModalCloser closer;
            TMainForm form;
            form.show();
            form.ActionExtractExecute();
            form.close();
        }
        const CliRun rip = runCli({"rip", "-o", cliOut, "--quiet"});
        ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
        const auto fromWindow = filesUnder(windowOut);
        const auto fromCli = filesUnder(cliOut);
        QStringList windowNames;
        QStringList cliNames;
        for (const auto &[name, bytes] : fromWindow)
            windowNames << name;
        for (const auto &[name, bytes] : fromCli)
            cliNames << name;
        EXPECT_EQ(cliNames, windowNames) << format << rip.err.toStdString();
        EXPECT_TRUE(cliNames.contains(QString("Record/Opening.") + extensions[format]))
            << cliNames.join(",").toStdString();
        EXPECT_TRUE(cliNames.contains("Record/Band - Record.m3u"));
        if (format <= 1) {
            EXPECT_TRUE(fromWindow == fromCli) << format;
        }
        if (format == 0) {
            Tid3tag tag;
            ASSERT_LT(tag.ReadTag(cliOut + "/Record/Middle.mp3"), 256);
            EXPECT_EQ(tag.Title, "Middle");
            EXPECT_EQ(tag.Album, "Record");
        }
    }
}

TEST_F(CliTest, RipFailuresAndTrackLists)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"300,music", "300,music", "300,music"}));
    WriteFileText(SettingsFolder() + "options.ini", "[CommonOptions]\nOutputFormat=1\n");
    const CliRun some = runCli({"rip", "-o", out, "-t", "1,3", "--quiet"});
    ASSERT_EQ(some.code, 0) << some.err.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 2) << QDir(out).entryList().join(",").toStdString();
    EXPECT_EQ(runCli({"rip", "-o", out, "-t", "4"}).code, 2);
    EXPECT_EQ(runCli({"rip", "-o", out, "-t", "3-1"}).code, 2);
    // A sector that cannot be read: the track is named with the reason, and the status says so.
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"--bad", "350", "300,music", "300,music"}));
    const CliRun bad = runCli({"rip", "-o", out + "/bad", "--no-overwrite"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.err.contains("sondrel-cli: ")) << bad.err.toStdString();
}

TEST_F(CliTest, FileNameTemplates)
{
    // Two tracks titled alike: with the number in the name they no longer need telling apart.
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music", "100,music", "100,music"}));
    titles("Band", "Record", {"Intro", "Reprise", "Reprise"});
    WriteFileText(SettingsFolder() + "options.ini", "[CommonOptions]\nOutputFormat=1\nIsCreateM3U=1\n");
    const CliRun rip = runCli({"rip", "-o", out, "--name", "%track% - %title%", "--quiet"});
    ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files),
              (QStringList{"01 - Intro.wav", "02 - Reprise.wav", "03 - Reprise.wav", "Band - Record.m3u"}));
    EXPECT_EQ(ReadFileText(out + "/Band - Record.m3u"),
              "01 - Intro.wav\r\n02 - Reprise.wav\r\n03 - Reprise.wav\r\n");
    // The setting is the default for the option; without a number the second "Reprise" is told apart.
    QDir(out).removeRecursively();
    WriteFileText(SettingsFolder() + "options.ini",
                  "[CommonOptions]\nOutputFormat=1\nFileNameTemplate=%artist% - %title%\n");
    ASSERT_EQ(runCli({"rip", "-o", out, "--quiet"}).code, 0);
    EXPECT_EQ(QDir(out).entryList(QDir::Files),
              (QStringList{"Band - Intro.wav", "Band - Reprise (2).wav", "Band - Reprise.wav"}));
}

TEST_F(CliTest, ParanoiaRipGivesTheSameAudio)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"300,music", "200,noise"}));
    const CliRun plain = runCli({"rip", "-f", "wav", "-o", out + "/plain", "--quiet"});
    ASSERT_EQ(plain.code, 0) << plain.err.toStdString();
    const CliRun checked =
        runCli({"rip", "-f", "wav", "-o", out + "/checked", "--paranoia", "-t", "2", "--quiet"});
    ASSERT_EQ(checked.code, 0) << checked.err.toStdString();
    const QByteArray a = ReadFileBytes(out + "/plain/Track02.wav");
    const QByteArray b = ReadFileBytes(out + "/checked/Track02.wav");
    ASSERT_GT(a.size(), 200 * 2352);
    // The same samples; the headers may differ in their extra chunks.
    EXPECT_TRUE(a.right(200 * 2352) == b.right(200 * 2352));
    EXPECT_FALSE(QFile::exists(out + "/checked/Track01.wav"));
}

TEST_F(CliTest, MissingEncoderIsAFailure)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music"}));
    // A copy of the tool in a folder without the WMA encoder beside it.
    const QString folder = home.root() + "/bare/";
    QDir().mkpath(folder);
    ASSERT_TRUE(QFile::copy(BuiltProgram("sondrel-cli"), folder + "sondrel-cli"));
    QFile::setPermissions(folder + "sondrel-cli", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QProcess process;
    process.start(folder + "sondrel-cli", {"rip", "-f", "wma", "-o", out, "--quiet", "--lookup", "cache"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains("Can not find WMA encoder"));
}

TEST_F(CliTest, TagRoundTrip)
{
    const QString mp3 = out + "/song.mp3";
    const QString wav = out + "/song.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}), 0);
    ASSERT_EQ(RunProgram("lame", {"--quiet", wav, mp3}), 0);
    const QByteArray frames = ReadFileBytes(mp3);
    CliRun show = runCli({"tag", "show", mp3});
    EXPECT_EQ(show.code, 0);
    EXPECT_TRUE(show.out.contains("has no ID3 tag"));
    ASSERT_EQ(
        runCli({"tag", "set", mp3, "--title", "Song", "--artist", "Band", "--track", "7", "--genre", "Rock"})
            .code,
        0);
    ASSERT_EQ(runCli({"tag", "set", mp3, "--year", "2001"}).code, 0); // keeps the other fields
    show = runCli({"tag", "show", mp3});
    EXPECT_TRUE(show.out.contains("title: Song\n"));
    EXPECT_TRUE(show.out.contains("artist: Band\n"));
    EXPECT_TRUE(show.out.contains("year: 2001\n"));
    EXPECT_TRUE(show.out.contains("track: 7\n"));
    EXPECT_TRUE(show.out.contains("genre: Rock\n")) << show.out.toStdString();
    EXPECT_TRUE(show.out.startsWith("tag: ID3v2\n"));
    // Both tags: version 2.4 before the frames, version 1 after them.
    QByteArray bytes = ReadFileBytes(mp3);
    EXPECT_TRUE(bytes.startsWith("ID3\x04"));
    EXPECT_EQ(bytes.indexOf(frames) + frames.size() + 128, bytes.size());
    EXPECT_TRUE(bytes.right(128).startsWith("TAGSong"));
    // Whole Unicode texts in version 2; the version 1 tag has what its 30 bytes can hold.
    const QString title = QString::fromUtf8("Трава у дома — Земляне, 1983 (live at Olimpiyskiy)");
    ASSERT_EQ(runCli({"tag", "set", mp3, "--title", title, "--album-artist", "Various"}).code, 0);
    show = runCli({"tag", "show", mp3});
    EXPECT_TRUE(show.out.contains("title: " + title + "\n")) << show.out.toStdString();
    EXPECT_TRUE(show.out.contains("album artist: Various\n"));
    EXPECT_TRUE(show.out.contains("year: 2001\n"));
    // The same as JSON, read by Python's json module.
    show = runCli({"tag", "show", mp3, "--json"});
    ASSERT_EQ(show.code, 0);
    EXPECT_EQ(
        pythonJson(show.out,
                   "print(d['tag'], d['title'] == sys.argv[2], d['album_artist'], d['track'], d['genre'])",
                   {title}),
        "ID3v2 True Various 7 Rock\n");
    // Several files at once: a list; one that cannot be read is said, the others shown.
    show = runCli({"tag", "show", mp3, out + "/missing.mp3", mp3, "--json"});
    EXPECT_EQ(show.code, 1);
    EXPECT_EQ(pythonJson(show.out, "print(len(d), d[1]['album_artist'])", {}), "2 Various\n")
        << show.out.toStdString();
    show = runCli({"tag", "show", mp3, mp3});
    EXPECT_EQ(show.out.count("file: " + mp3 + "\n"), 2) << show.out.toStdString();
    EXPECT_EQ(show.out.count("album artist: Various\n"), 2);
    EXPECT_EQ(runCli({"tag", "set", mp3, "--genre", "300"}).code, 2);
    // The options every command takes are options only where an option stands, never another's value.
    ASSERT_EQ(runCli({"--quiet", "tag", "set", mp3, "--title", "-v", "--artist", "--quiet"}).code, 0);
    show = runCli({"tag", "show", mp3, "-v"});
    EXPECT_TRUE(show.out.contains("title: -v\n")) << show.out.toStdString();
    EXPECT_TRUE(show.out.contains("artist: --quiet\n")) << show.out.toStdString();
    EXPECT_EQ(runCli({"tag", "remove", mp3}).code, 0);
    EXPECT_EQ(ReadFileBytes(mp3), frames); // both gone
    EXPECT_TRUE(runCli({"tag", "show", mp3}).out.contains("has no ID3 tag"));
    const CliRun missing = runCli({"tag", "show", out + "/missing.mp3"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains("missing.mp3: No such file or directory")) << missing.err.toStdString();
    EXPECT_TRUE(runCli({"tag", "show", out}).err.contains(out + ": Is a directory"));
    WriteFileText(out + "/empty.mp3", "");
    EXPECT_TRUE(runCli({"tag", "show", out + "/empty.mp3"})
                    .err.contains("empty.mp3: not a file whose tags can be read"));
}

TEST_F(CliTest, ConvertFailures)
{
    const CliRun missing = runCli({"convert", "wav2mp3", out + "/nothing.wav", "-o", out});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains("nothing.wav: cannot be read: No such file or directory"))
        << missing.err.toStdString();
    const CliRun missingFlac = runCli({"convert", "-f", "flac", out + "/nothing.wav", "-o", out});
    EXPECT_TRUE(missingFlac.err.contains("nothing.wav: cannot be read: No such file or directory"))
        << missingFlac.err.toStdString();
    ASSERT_EQ(::mkfifo(QFile::encodeName(out + "/pipe.wav").constData(), 0600), 0);
    for (const QString format : {"mp3", "flac"}) {
        const CliRun pipe = runCli({"convert", "-f", format, out + "/pipe.wav", "-o", out}, QString(), 20000);
        EXPECT_TRUE(pipe.err.contains("pipe.wav: cannot be read: not a regular file"))
            << pipe.err.toStdString();
    }
    EXPECT_EQ(runCli({"convert", "wav2aac", out + "/x.wav"}).code, 2);
    EXPECT_EQ(runCli({"convert", "wav2mp3", "a.wav", "--overwrite", "--no-overwrite"}).code, 2);
}

TEST_F(CliTest, Resample)
{
    const QString in = out + "/in.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", in, "synth", "1", "sine", "440"}), 0);
    const CliRun down =
        runCli({"resample", in, out + "/small.wav", "--rate", "22050", "--channels", "1", "--bits", "8"});
    ASSERT_EQ(down.code, 0) << down.err.toStdString();
    QByteArray info;
    ASSERT_EQ(RunProgram("soxi", {out + "/small.wav"}, &info), 0);
    EXPECT_TRUE(info.contains("Channels       : 1")) << info.constData();
    EXPECT_TRUE(info.contains("Sample Rate    : 22050"));
    EXPECT_TRUE(info.contains("8-bit Unsigned Integer PCM"));
    EXPECT_TRUE(info.contains("22050 samples"));
    // Values equal to the input's pass the samples through untouched.
    ASSERT_EQ(
        runCli({"resample", in, out + "/same.wav", "--rate", "44100", "--channels", "2", "--bits", "16"})
            .code,
        0);
    const QByteArray original = ReadFileBytes(in);
    const QByteArray copy = ReadFileBytes(out + "/same.wav");
    ASSERT_EQ(copy.size(), original.size());
    EXPECT_TRUE(copy.right(176400) == original.right(176400));
    ASSERT_EQ(runCli({"resample", in, out + "/adpcm.wav", "--adpcm", "--bits", "16", "--channels", "2"}).code,
              0);
    info.clear();
    RunProgram("soxi", {out + "/adpcm.wav"}, &info);
    EXPECT_TRUE(info.contains("IMA ADPCM")) << info.constData();
    // Failures: an unreadable input, a device with no room, bad values.
    const CliRun unreadable = runCli({"resample", out + "/none.wav", out + "/x.wav"});
    EXPECT_EQ(unreadable.code, 1);
    EXPECT_TRUE(unreadable.err.contains("none.wav"));
    const CliRun full =
        runCli({"resample", in, "/dev/full", "--rate", "44100", "--channels", "2", "--bits", "16"});
    EXPECT_EQ(full.code, 1);
    EXPECT_TRUE(full.err.contains("/dev/full")) << full.err.toStdString();
    // Written as the device it is: never replaced by a file.
    EXPECT_FALSE(QFileInfo("/dev/full").isFile());
    EXPECT_EQ(runCli({"resample", in, out + "/x.wav", "--bits", "12"}).code, 2);
    EXPECT_EQ(runCli({"resample", in, out + "/x.wav", "--rate", "fast"}).code, 2);
    EXPECT_EQ(runCli({"resample", in, out + "/x.wav", "--quality", "best"}).code, 2);
    // Both qualities give a 48 kHz file of the same length; only the filter differs.
    for (const char *quality : {"high", "fast"}) {
        const QString file = out + "/" + quality + ".wav";
        ASSERT_EQ(runCli({"resample", in, file, "--rate", "48000", "--channels", "2", "--bits", "16",
                          "--quality", quality})
                      .code,
                  0);
        info.clear();
        RunProgram("soxi", {file}, &info);
        EXPECT_TRUE(info.contains("48000 samples")) << quality << info.constData();
    }
    EXPECT_NE(ReadFileBytes(out + "/high.wav"), ReadFileBytes(out + "/fast.wav"));
    // What is not given is the input's: only the rate changes here, whatever options.ini says.
    WriteFileText(SettingsFolder() + "options.ini", "[Resample]\nChannels=0\nBits=0\nRate=8000\n");
    ASSERT_EQ(runCli({"resample", in, out + "/rate.wav", "--rate", "48000"}).code, 0);
    QByteArray shape;
    RunProgram("soxi", {"-r", out + "/rate.wav"}, &shape);
    RunProgram("soxi", {"-c", out + "/rate.wav"}, &info);
    shape += info;
    RunProgram("soxi", {"-b", out + "/rate.wav"}, &info);
    EXPECT_EQ(shape + info, "48000\n2\n16\n");
}

// What ffprobe says of a file: its format tags, one "TAG:name=value" line each.
QString probedTags(const QString &file)
{
    QByteArray output;
    RunProgram("ffprobe",
               {"-v", "error", "-show_entries", "format_tags:stream_tags", "-of", "default=nw=1", file},
               &output);
    return QString::fromUtf8(output);
}

TEST_F(CliTest, UnicodeTagsFromACompilationEntry)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,music", "150,music"}));
    CddbTestServer server;
    server.setQueryAnswer("200 newage 0c0c0c0c Hits\r\n");
    ASSERT_EQ(runCli({"cddb", "--server", server.url(), "--quiet"}).code, 0);
    // The disc's comment is the user's own (the entry's EXTD is not it).
    LoadDiscInfo(DiscKey());
    AppSettings.DiscInfo.Comment = "A comment";
    ASSERT_TRUE(SaveDiscInfo(DiscKey()));
    const QString cyrillicAlbum = QString::fromUtf8("Сборник: Hits 日本 Vol. 1");

    // MP3: version 2.4 in UTF-8 beside the version 1 tag, which is what it always was.
    ASSERT_EQ(
        runCli({"rip", "-f", "mp3", "-o", out + "/mp3", "--tags", "--name", "%track% - %title%", "--quiet"})
            .code,
        0);
    const QString mp3 = out + "/mp3/01 - " + QString::fromUtf8("Трава у дома") + ".mp3";
    const QString tags = probedTags(mp3);
    EXPECT_TRUE(tags.contains("TAG:title=" + QString::fromUtf8("Трава у дома") + "\n")) << tags.toStdString();
    EXPECT_TRUE(tags.contains("TAG:artist=" + QString::fromUtf8("Земляне") + "\n"));
    EXPECT_TRUE(tags.contains("TAG:album_artist=Various\n"));
    EXPECT_TRUE(tags.contains("TAG:album=" + cyrillicAlbum + "\n"));
    EXPECT_TRUE(tags.contains("TAG:date=2003\n"));
    EXPECT_TRUE(tags.contains("TAG:genre=Pop\n"));
    EXPECT_TRUE(tags.contains("TAG:track=1/2\n"));
    EXPECT_TRUE(tags.contains("TAG:comment=A comment\n")) << tags.toStdString();
    Tid3tag v1;
    v1.SetTitle("01 - " + QString::fromUtf8("Трава у дома"));
    v1.SetArtist("Various");
    v1.SetAlbum(cyrillicAlbum);
    v1.SetYear("2003");
    v1.SetComment("A comment");
    v1.Genre = Tid3tag::GenreToId3(uint8_t(GenreIndex("Pop") + 1));
    v1.SetTrack(1);
    const QString alone = out + "/v1only.mp3";
    WriteFileText(alone, "");
    ASSERT_LT(v1.WriteTag(alone), 256);
    EXPECT_EQ(ReadFileBytes(mp3).right(128), ReadFileBytes(alone));

    // WMA: the encoder writes them as ASF metadata.
    ASSERT_EQ(runCli({"rip", "-f", "wma", "-o", out + "/wma", "--tags", "-t", "2", "--quiet"}).code, 0);
    const QString wma = probedTags(out + "/wma/First Love.wma");
    for (const QString &line :
         {QString("TAG:title=First Love"), QString::fromUtf8("TAG:artist=宇多田ヒカル"),
          "TAG:album=" + cyrillicAlbum, QString("TAG:album_artist=Various"), QString("TAG:WM/Year=2003"),
          QString("TAG:genre=Pop"), QString("TAG:track=2"), QString("TAG:comment=A comment")})
        EXPECT_TRUE(wma.contains(line + "\n")) << line.toStdString() << "\n" << wma.toStdString();

    // Ogg on both reading paths: Vorbis comments, the compilation's album artist beside the track's.
    for (const QStringList &path : {QStringList{}, QStringList{"--paranoia"}}) {
        SCOPED_TRACE(path.join(" ").toStdString());
        const QString folder = out + "/ogg" + QString::number(path.size());
        ASSERT_EQ(runCli(QStringList{"rip", "-f", "ogg", "-o", folder, "--tags", "--quiet"} + path).code, 0);
        QByteArray comments;
        ASSERT_EQ(RunProgram("vorbiscomment", {"-l", folder + "/First Love.ogg"}, &comments), 0);
        // Vorbis comment names count without regard to case (ReplayGain's tag writer gives them in capitals).
        QString text;
        for (const QString &line : QString::fromUtf8(comments).split('\n'))
            text += line.section('=', 0, 0).toLower() + '=' + line.section('=', 1) + '\n';
        for (const QString &line : {QString("title=First Love"), QString::fromUtf8("artist=宇多田ヒカル"),
                                    QString("albumartist=Various"), "album=" + cyrillicAlbum,
                                    QString("date=2003"), QString("genre=Pop"), QString("tracknumber=2"),
                                    QString("tracktotal=2"), QString("comment=A comment")})
            EXPECT_TRUE(text.contains(line + "\n")) << line.toStdString() << "\n" << text.toStdString();
    }
}

TEST_F(CliTest, TocPrintsCdText)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"--track-title", "2=Second", "100,music", "100,music"}));
    const CliRun toc = runCli({"toc"});
    ASSERT_EQ(toc.code, 0);
    EXPECT_TRUE(toc.out.contains("\taudio\tTrack01\n")) << toc.out.toStdString();
    EXPECT_TRUE(toc.out.contains("\taudio\tSecond\n"));
    // And lookup takes them like any source (once the cache knows the disc, CD-Text no longer shows by
    // itself).
    const CliRun lookup = runCli({"lookup", "--source", "cdtext", "--quiet"});
    ASSERT_EQ(lookup.code, 0) << lookup.err.toStdString();
    EXPECT_TRUE(lookup.out.contains("track 2\tSecond\n"));
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music"}));
    const CliRun none = runCli({"lookup", "--source", "cdtext"});
    EXPECT_EQ(none.code, 1);
    EXPECT_TRUE(none.err.contains("the disc carries no CD-Text")) << none.err.toStdString();
}

TEST_F(CliTest, MusicBrainzLookupFirstThenCddb)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"15000,silence", "15000,silence"}));
    const CliRun toc = runCli({"toc"});
    ASSERT_EQ(toc.code, 0);
    const QString id = toc.out.section("musicbrainz-id ", 1).section('\n', 0, 0);
    EXPECT_EQ(id.size(), 28) << toc.out.toStdString();

    // The service knows the disc: its titles, artists and release id are printed and kept.
    CddbTestServer musicbrainz;
    QStringList asked;
    musicbrainz.setHandler([&](const QString &target) {
        asked << target;
        return CddbTestServer::Reply{
            200,
            (R"({"releases":[{"id":"mbid-1","title":"Hits","date":"2001-02-03","artist-credit":[{"name":"Various"}],)"
             R"("media":[{"format":"CD","track-count":2,"discs":[{"id":")" +
             id + R"("}],"tracks":[{"title":"One","artist-credit":[{"name":"Queen"}]},{"title":"Two"}]}]}]})")
                .toUtf8(),
            {}};
    });
    const CliRun found =
        runCli({"lookup", "--source", "musicbrainz", "--server", musicbrainz.url(), "--quiet"});
    ASSERT_EQ(found.code, 0) << found.err.toStdString();
    EXPECT_TRUE(found.out.contains("artist: Various\nalbum: Hits\nyear: 2001\n")) << found.out.toStdString();
    EXPECT_TRUE(found.out.contains("musicbrainz-release: mbid-1\n"));
    EXPECT_TRUE(found.out.contains("track 1\tOne\nartist 1\tQueen\ntrack 2\tTwo\n"));
    EXPECT_TRUE(asked.value(0).startsWith("/ws/2/discid/" + id + "?"));
    LoadDiscInfo(DiscKey());
    EXPECT_EQ(AppSettings.DiscInfo.MusicBrainzRelease, "mbid-1");
    EXPECT_EQ(AppSettings.DiscInfo.TrackArtists[1], "Queen");

    // Nothing at MusicBrainz (not even by table of contents): CDDB, the settings' fall-back, answers.
    musicbrainz.setHandler([](const QString &) { return CddbTestServer::Reply{404, "{}", {}}; });
    CddbTestServer cddb;
    cddb.setQueryFixture("query_exact.txt");
    WriteFileText(SettingsFolder() + "options.ini",
                  "[QueryCDDB]\nServer=" + cddb.url() + "\nMusicBrainzServer=" + musicbrainz.url() + "\n");
    const CliRun fallback = runCli({"lookup", "--quiet"});
    ASSERT_EQ(fallback.code, 0) << fallback.err.toStdString();
    EXPECT_TRUE(fallback.out.contains("track 1\tFirst Song\n")) << fallback.out.toStdString();
    EXPECT_FALSE(fallback.out.contains("musicbrainz-release")); // the titles came from elsewhere
    // MusicBrainz alone finds nothing: said, exit 1.
    WriteFileText(SettingsFolder() + "options.ini",
                  "[QueryCDDB]\nLookupOrder=1\nMusicBrainzServer=" + musicbrainz.url() + "\n");
    const CliRun none = runCli({"lookup"});
    EXPECT_EQ(none.code, 1);
    EXPECT_TRUE(none.err.contains("MusicBrainz knows no release with this disc")) << none.err.toStdString();
    EXPECT_EQ(runCli({"lookup", "--source", "freedb"}).code, 2);
    // An answer that is no JSON: said, and the cache keeps what it had.
    musicbrainz.setHandler([](const QString &) { return CddbTestServer::Reply{200, "<html>", {}}; });
    const QByteArray cache = ReadFileBytes(DataFolder() + "cdinfo.dat");
    const CliRun broken = runCli({"lookup", "--source", "musicbrainz", "--server", musicbrainz.url()});
    EXPECT_EQ(broken.code, 1);
    EXPECT_TRUE(broken.err.contains("MusicBrainz answered with something that is not its JSON"))
        << broken.err.toStdString();
    EXPECT_EQ(ReadFileBytes(DataFolder() + "cdinfo.dat"), cache);
}

TEST_F(CliTest, CoverArtBesideAndInsideTheFiles)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,music", "150,music"}));
    const QString jpeg = out + "/front.jpg";
    ASSERT_EQ(RunProgram("ffmpeg",
                         {"-v", "error", "-f", "lavfi", "-i", "color=c=red:s=32x32", "-frames:v", "1", jpeg}),
              0);
    const QByteArray image = ReadFileBytes(jpeg);
    ASSERT_TRUE(image.startsWith("\xFF\xD8\xFF"));
    const QString mbid = "6f1e2d3c-0000-4000-8000-000000000001";
    CddbTestServer server;
    QStringList asked;
    server.setHandler([&](const QString &target) {
        asked << target;
        if (target == "/release/" + mbid + "/front-500")
            return CddbTestServer::Reply{200, image, {}};
        return CddbTestServer::Reply{
            200,
            (R"({"releases":[{"id":")" + mbid +
             R"(","title":"Hits","artist-credit":[{"name":"Band"}],)"
             R"("media":[{"track-count":2,"tracks":[{"title":"One"},{"title":"Two"}]}]}]})")
                .toUtf8(),
            {}};
    });
    WriteFileText(SettingsFolder() + "options.ini", "[QueryCDDB]\nMusicBrainzServer=" + server.url() +
                                                        "\nCoverArtServer=" + server.url() + "\n");
    const CliRun lookup = runCli({"lookup", "--source", "musicbrainz", "--quiet"});
    ASSERT_EQ(lookup.code, 0) << lookup.err.toStdString();
    EXPECT_TRUE(asked.contains("/release/" + mbid + "/front-500")) << asked.join(",").toStdString();
    EXPECT_TRUE(lookup.err.contains("cover: ")) << lookup.err.toStdString(); // never among the answers

    for (const char *format : {"mp3", "ogg", "opus"}) {
        SCOPED_TRACE(format);
        const QString folder = out + "/" + format;
        ASSERT_EQ(runCli({"rip", "-f", format, "-o", folder, "--tags", "-t", "1", "--quiet"}).code, 0);
        EXPECT_EQ(ReadFileBytes(folder + "/cover.jpg"), image);
        QByteArray streams;
        RunProgram("ffprobe",
                   {"-v", "error", "-show_entries", "stream=codec_name:stream_disposition=attached_pic",
                    "-of", "default=nw=1", folder + "/One." + format},
                   &streams);
        EXPECT_TRUE(streams.contains("codec_name=mjpeg")) << streams.toStdString();
        EXPECT_TRUE(streams.contains("DISPOSITION:attached_pic=1")) << streams.toStdString();
    }
    // Turned off: neither beside nor inside.
    WriteFileText(SettingsFolder() + "options.ini", "[QueryCDDB]\nSaveCover=0\nEmbedCover=0\n");
    ASSERT_EQ(runCli({"rip", "-f", "mp3", "-o", out + "/plain", "--tags", "-t", "1", "--quiet"}).code, 0);
    EXPECT_FALSE(QFileInfo::exists(out + "/plain/cover.jpg"));
    QByteArray streams;
    RunProgram(
        "ffprobe",
        {"-v", "error", "-show_entries", "stream=codec_name", "-of", "default=nw=1", out + "/plain/One.mp3"},
        &streams);
    EXPECT_FALSE(streams.contains("mjpeg"));
}

// Hostile answers: fields of the wrong JSON type, a release whose only medium is another disc, and covers
// that are too large, cut short or no image. The user's typed titles stay, and no such cover is kept.
TEST_F(CliTest, HostileMusicBrainzAnswersChangeNothing)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,music", "150,music"}));
    AppSettings.DiscInfo = TCDInfo{};
    AppSettings.DiscInfo.Artist = "Typed Artist";
    AppSettings.DiscInfo.Album = "Typed Album";
    AppSettings.DiscInfo.Year = "1999";
    ASSERT_TRUE(SaveDiscInfo(DiscKey()));
    const QByteArray cache = ReadFileBytes(DataFolder() + "cdinfo.dat");
    const QString mbid = "6f1e2d3c-0000-4000-8000-000000000001";
    const auto releaseWith = [&](const QString &fields) {
        return (R"({"releases":[{"id":")" + mbid + R"(",)" + fields + "}]}").toUtf8();
    };
    const QByteArray wellFormed = releaseWith(
        R"("title":"Hits","media":[{"track-count":2,"tracks":[{"title":"One"},{"title":"Two"}]}])");
    struct Case {
        const char *name;
        QByteArray release, cover;
        const char *said;
    };
    QByteArray jpeg;
    ASSERT_EQ(RunProgram("ffmpeg",
                         {"-v", "error", "-f", "lavfi", "-i", "testsrc=s=64x64", "-frames:v", "1", "-f",
                          "mjpeg", "-"},
                         &jpeg),
              0);
    const QList<Case> cases = {
        {"title a number",
         releaseWith(R"("title":5,"media":[])"),
         {},
         "The answer is not a MusicBrainz release."},
        {"media an object",
         releaseWith(R"("title":"T","media":{"tracks":[]})"),
         {},
         "not a MusicBrainz release"},
        {"tracks a string",
         releaseWith(R"("title":"T","media":[{"tracks":"One"}])"),
         {},
         "not a MusicBrainz release"},
        {"another disc",
         releaseWith(R"("title":"Other","media":[{"track-count":9,"discs":[{"id":"x"}]}])"),
         {},
         "MusicBrainz knows no release with this disc"},
        {"cover cut in half", wellFormed, jpeg.left(jpeg.size() / 2), "the image is cut short"},
        {"cover no image", wellFormed, "<html>" + QByteArray(1000, 'x'), "not a JPEG or PNG image"},
        {"cover undecodable", wellFormed, "\xFF\xD8\xFF\xE0" + QByteArray(500, '\x07') + "\xFF\xD9",
         "the image cannot be decoded"},
        {"cover too large", wellFormed, "\xFF\xD8\xFF" + QByteArray(21 << 20, 'x'), "larger than 20 MB"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CddbTestServer server;
        server.setHandler([&](const QString &target) {
            if (target.startsWith("/release/"))
                return CddbTestServer::Reply{200, c.cover, {}};
            return CddbTestServer::Reply{200, c.release, {}};
        });
        WriteFileText(SettingsFolder() + "options.ini", "[QueryCDDB]\nMusicBrainzServer=" + server.url() +
                                                            "\nCoverArtServer=" + server.url() + "\n");
        QDir(DataFolder() + "covers").removeRecursively();
        const CliRun run = runCli({"lookup", "--source", "musicbrainz"});
        EXPECT_TRUE(run.err.contains(c.said)) << run.err.toStdString();
        if (c.cover.isEmpty()) {
            EXPECT_EQ(run.code, 1);
            EXPECT_EQ(ReadFileBytes(DataFolder() + "cdinfo.dat"), cache);
        } else {
            EXPECT_FALSE(run.out.contains("cover: ")) << run.out.toStdString();
            ASSERT_EQ(runCli({"rip", "-f", "wav", "-o", out, "-t", "1", "--quiet"}).code, 0);
            EXPECT_FALSE(QFileInfo::exists(out + "/cover.jpg"));
        }
    }
}

// A CDDB server given as a host, host:port or a whole URL is used as given: its own path when it names one,
// the script's otherwise, never both; the same on either route.
TEST_F(CliTest, CddbServerAddressesAreUsedAsGiven)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"15000,silence", "15000,silence"}));
    for (const char *route : {"component", "library"}) {
        CddbTestServer server;
        server.setQueryFixture("query_exact.txt");
        const QString url = server.url(); // http://127.0.0.1:PORT
        const QList<std::pair<QString, QString>> cases = {
            {url.mid(7), "/~cddb/cddb.cgi?"},
            {url, "/~cddb/cddb.cgi?"},
            {url + "/", "/~cddb/cddb.cgi?"},
            {url + "/~cddb/cddb.cgi", "/~cddb/cddb.cgi?"},
            {url + "/other/query.cgi", "/other/query.cgi?"},
        };
        for (const auto &[given, path] : cases) {
            SCOPED_TRACE((QString(route) + " " + given).toStdString());
            const qsizetype before = server.requestLines().size();
            const CliRun run = runCli({"cddb", "--server", given, "--route", route, "--quiet"});
            EXPECT_EQ(run.code, 0) << run.err.toStdString();
            const QString line = server.requestLines().value(before);
            EXPECT_TRUE(line.startsWith("GET " + path)) << line.toStdString();
        }
        // The settings' Query Script is used for a server named without a path, on either route.
        WriteFileText(SettingsFolder() + "options.ini", "[QueryCDDB]\nScript=/typed/query.cgi\n");
        const qsizetype before = server.requestLines().size();
        const CliRun typed = runCli({"cddb", "--server", url.mid(7), "--route", route, "--quiet"});
        QFile::remove(SettingsFolder() + "options.ini");
        const QString line = server.requestLines().value(before);
        EXPECT_TRUE(line.startsWith("GET /typed/query.cgi?")) << route << ": " << line.toStdString();
    }
}

// cdrdao TOC images as other tools write them: data files named relative to the TOC (opened from another
// working directory), a CD-Text block with SIZE_INFO; and one whose START lies past its track's end, which
// is refused rather than shown with a negative length.
TEST_F(CliTest, CdrdaoTocImagesOfOtherTools)
{
    const QString elsewhere = home.root() + "/tocs/";
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(MakeDisc(elsewhere + "d.cue", {"750,music", "375,noise"}));
    QFile::remove(elsewhere + "d.cue");
    WriteFileText(elsewhere + "d.toc", "CD_DA\n"
                                       "CD_TEXT {\n  LANGUAGE_MAP { 0 : EN }\n  LANGUAGE 0 {\n"
                                       "    TITLE \"Album\"\n    PERFORMER \"Band\"\n"
                                       "    SIZE_INFO { 0, 0, 2, 0, 3, 0, 0, 0, 0, 0, 0, 0,\n"
                                       "                0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,\n"
                                       "                0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}\n  }\n}\n"
                                       "TRACK AUDIO\nFILE \"d.bin\" 0 00:10:00\n"
                                       "TRACK AUDIO\nFILE \"d.bin\" 00:10:00 00:05:00\n");
    WriteFileText(elsewhere + "bad.toc", "CD_DA\nTRACK AUDIO\nFILE \"d.bin\" 0 00:01:00\nSTART 00:05:00\n"
                                         "TRACK AUDIO\nFILE \"d.bin\" 00:01:00 00:05:00\n");
    ASSERT_NE(QDir::currentPath() + "/", elsewhere);
    qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(elsewhere + "d.toc"));
    const CliRun toc = runCli({"toc"});
    EXPECT_EQ(toc.code, 0) << toc.err.toStdString();
    EXPECT_TRUE(toc.out.contains("track 1\t0\t00:10\taudio") &&
                toc.out.contains("track 2\t750\t00:05\taudio") && toc.out.contains("leadout 1125"))
        << toc.out.toStdString();
    qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(elsewhere + "bad.toc"));
    const CliRun bad = runCli({"toc"});
    qunsetenv("SONDREL_DISC_IMAGES");
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.err.contains(elsewhere + "bad.toc: track 1: its START lies at or past its end"))
        << bad.err.toStdString();
}

// A genre the list does not name (a CDDB DGENRE of its own) is kept, in the cache and in every format's
// own tag, as mutagen reads them; the ID3 version 1 tag, which holds only the list, says none (255).
TEST_F(CliTest, AGenreOfItsOwnIsKeptInEveryTag)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,music", "150,music"}));
    CddbTestServer server;
    server.setHandler([](const QString &target) {
        if (target.contains("cddb+query"))
            return CddbTestServer::Reply{200, "200 misc 06019002 Artist / Album\r\n", {}};
        return CddbTestServer::Reply{
            200,
            "210 misc 06019002\r\nDISCID=06019002\r\nDTITLE=Artist / Album\r\nDGENRE=Krautrock\r\n"
            "TTITLE0=One\r\nTTITLE1=Two\r\n.\r\n",
            {}};
    });
    const CliRun lookup = runCli({"cddb", "--server", server.url(), "--quiet"});
    ASSERT_EQ(lookup.code, 0) << lookup.err.toStdString();
    EXPECT_TRUE(lookup.out.contains("genre: Krautrock\n")) << lookup.out.toStdString();
    const CliRun rip = runCli({"rip", "-t", "1", "-f", "mp3,flac,opus", "--tags", "-o", out, "--quiet"});
    ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
    for (const auto &[file, key] :
         {std::pair{"MP3/One.mp3", "TCON"}, {"FLAC/One.flac", "genre"}, {"OPUS/One.opus", "genre"}}) {
        const QJsonObject tags = JudgedTags(out + "/" + file).value("tags").toObject();
        EXPECT_EQ(tags.value(key).toVariant().toStringList(), QStringList{"Krautrock"})
            << file << ": " << QJsonDocument(tags).toJson().toStdString();
    }
    const QByteArray mp3 = ReadFileBytes(out + "/MP3/One.mp3");
    ASSERT_TRUE(mp3.right(128).startsWith("TAG"));
    EXPECT_EQ(uint8_t(mp3.at(mp3.size() - 1)), 255);
}

// An answer that is no CDDB answer at all (a megabyte of noise) is said to be unreadable, on both routes,
// not taken for a server without the disc.
TEST_F(CliTest, AGarbledCddbAnswerIsNotANoMatch)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,music", "150,music"}));
    CddbTestServer server;
    QByteArray noise(1 << 20, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 2654435761u) >> 13);
    server.setHandler([&noise](const QString &) { return CddbTestServer::Reply{200, noise, {}}; });
    for (const char *route : {"component", "library"}) {
        SCOPED_TRACE(route);
        const QString address = QString(route) == "library" ? server.url().mid(7) : server.url();
        const CliRun run = runCli({"cddb", "--server", address, "--route", route, "--quiet"});
        EXPECT_EQ(run.code, 1);
        EXPECT_FALSE(run.err.contains("no match")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("sent an answer that could not be read: no CDDB status line"))
            << run.err.toStdString();
    }
}

TEST_F(CliTest, CddbLookupStoresTheTitles)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"15000,silence", "15000,silence"}));
    CddbTestServer server;
    server.setQueryFixture("query_exact.txt");
    const CliRun lookup = runCli({"cddb", "--server", server.url(), "--quiet"});
    ASSERT_EQ(lookup.code, 0) << lookup.err.toStdString();
    EXPECT_TRUE(lookup.out.contains("artist: Artist\nalbum: Album\nyear: 1999\ngenre: Rock\n"))
        << lookup.out.toStdString();
    EXPECT_TRUE(lookup.out.contains("track 2\tGuest / Second Song\n"));
    LoadDiscInfo(DiscKey());
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[1], "First Song");
    // The library route takes the whole title line.
    const CliRun library = runCli({"cddb", "--server", server.url().mid(7), "--route", "library", "--quiet"});
    ASSERT_EQ(library.code, 0) << library.err.toStdString();
    EXPECT_TRUE(library.out.contains("track 2\tGuest / Second Song\n"));
    // The same as JSON, read by Python's json module.
    const CliRun json = runCli({"cddb", "--server", server.url(), "--quiet", "--json"});
    ASSERT_EQ(json.code, 0) << json.err.toStdString();
    EXPECT_EQ(pythonJson(json.out,
                         "t = d['tracks']; print(d['artist'], d['album'], d['year'], d['genre'], len(t), "
                         "t[0]['number'], t[1]['title'])"),
              "Artist Album 1999 Rock 2 1 Guest / Second Song\n")
        << json.out.toStdString();
    server.setQueryFixture("query_nomatch.txt");
    const CliRun none = runCli({"cddb", "--server", server.url()});
    EXPECT_EQ(none.code, 1);
    EXPECT_TRUE(none.err.contains("no match"));
    // A server that refuses is quoted, not taken for one without the disc.
    server.setQueryFixture("query_refused.txt");
    const CliRun refused = runCli({"cddb", "--server", server.url()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(
        refused.err.contains("refused the lookup: 503 Service temporarily unavailable: too many requests"))
        << refused.err.toStdString();
    EXPECT_FALSE(refused.err.contains("no match"));
    // The hello names no user and no machine.
    int hellos = 0;
    for (const QString &line : server.requestLines()) {
        if (line.contains("hello=")) {
            ++hellos;
            EXPECT_TRUE(line.contains("hello=sondrel+localhost+")) << line.toStdString();
        }
    }
    EXPECT_GT(hellos, 0);
    EXPECT_FALSE(QFile::exists(home.settingsFile())); // the tool never writes options.ini
}

TEST_F(CliTest, Playlist)
{
    QDir().mkpath(out + "/album");
    WriteFileText(out + "/album/one.mp3", "x");
    WriteFileText(out + "/album/two.mp3", "x");
    QDir().mkpath(out + "/lists");
    const CliRun relative = runCli({"playlist", out + "/lists/list.M3U", out + "/album/one.mp3",
                                    out + "/album/two.mp3", "--relative", "--quiet"});
    ASSERT_EQ(relative.code, 0) << relative.err.toStdString();
    EXPECT_EQ(ReadFileBytes(out + "/lists/list.M3U"), "../album/one.mp3\r\n../album/two.mp3\r\n");
    // A second run to the same name asks: kept without --overwrite, replaced with it.
    const CliRun again = runCli({"playlist", out + "/lists/list.M3U", out + "/album/two.mp3"});
    EXPECT_EQ(again.code, 0);
    EXPECT_TRUE(again.err.contains("kept " + out + "/lists/list.M3U")) << again.err.toStdString();
    EXPECT_EQ(ReadFileBytes(out + "/lists/list.M3U"), "../album/one.mp3\r\n../album/two.mp3\r\n");
    ASSERT_EQ(runCli({"playlist", out + "/lists/list.M3U", out + "/album/two.mp3", "--overwrite"}).code, 0);
    EXPECT_EQ(ReadFileBytes(out + "/lists/list.M3U"), (out + "/album/two.mp3\r\n").toUtf8());
    // list.txt becomes list.txt.m3u; a missing file is named and nothing is written.
    ASSERT_EQ(runCli({"playlist", out + "/list.txt", out + "/album/one.mp3"}).code, 0);
    EXPECT_TRUE(QFileInfo::exists(out + "/list.txt.m3u"));
    const CliRun missing = runCli({"playlist", out + "/none.m3u", out + "/album/none.mp3"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains(out + "/album/none.mp3: no such file"));
    EXPECT_FALSE(QFileInfo::exists(out + "/none.m3u"));
    EXPECT_EQ(runCli({"playlist", out + "/x.m3u"}).code, 2);
}

TEST_F(CliTest, PlayOnTheNullDevice)
{
    const QString wav = out + "/tone.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}), 0);
    const QString ogg = out + "/tone.OGG";
    ASSERT_EQ(RunProgram("oggenc", {"-Q", "-o", ogg, wav}), 0);
    for (const QString &file : {wav, ogg}) {
        const CliRun play = runCli({"play", file, "--device", "null", "--quiet"});
        EXPECT_EQ(play.code, 0) << play.err.toStdString();
    }
    const CliRun nowhere = runCli({"play", wav, "--device", "no-such-device"});
    EXPECT_EQ(nowhere.code, 1);
    EXPECT_TRUE(nowhere.err.contains("there is no sound device no-such-device")) << nowhere.err.toStdString();
    WriteFileText(out + "/text.wav", "not a wav");
    const CliRun text = runCli({"play", out + "/text.wav", "--device", "null"});
    EXPECT_EQ(text.code, 1);
    EXPECT_TRUE(text.err.contains(out + "/text.wav: not a WAV file")) << text.err.toStdString();
    // A named pipe no one writes to is refused at once (opening it waited for a writer, deaf to Ctrl+C).
    for (const QString &pipe : {out + "/pipe.wav", out + "/pipe.ogg"}) {
        ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        EXPECT_EQ(runCli({"play", pipe, "--device", "null"}, QString(), 20000).code, 1);
    }
}

TEST_F(CliTest, RecordFromTheNullDevice)
{
    // A length in seconds gives exactly that many frames, in the format asked for.
    const QString wav = out + "/take.wav";
    const CliRun take = runCli({"record", wav, "--seconds", "1", "--rate", "8000", "--channels", "1",
                                "--bits", "8", "--device", "null", "--quiet"});
    ASSERT_EQ(take.code, 0) << take.err.toStdString();
    QByteArray info;
    ASSERT_EQ(RunProgram("soxi", {wav}, &info), 0);
    EXPECT_TRUE(info.contains("Channels       : 1"));
    EXPECT_TRUE(info.contains("Sample Rate    : 8000"));
    EXPECT_TRUE(info.contains("Precision      : 8-bit"));
    EXPECT_TRUE(info.contains("= 8000 samples")) << info.toStdString();

    // An existing file is kept when asked to; an unknown device is said and leaves nothing.
    const QByteArray before = ReadFileBytes(wav);
    const CliRun kept = runCli({"record", wav, "--seconds", "1", "--device", "null", "--no-overwrite"});
    EXPECT_EQ(kept.code, 0);
    EXPECT_TRUE(kept.err.contains("kept " + wav)) << kept.err.toStdString();
    EXPECT_EQ(ReadFileBytes(wav), before);
    const CliRun nowhere =
        runCli({"record", out + "/none.wav", "--seconds", "1", "--device", "no-such-device"});
    EXPECT_EQ(nowhere.code, 1);
    EXPECT_TRUE(nowhere.err.contains("no-such-device: ")) << nowhere.err.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"take.wav"});
    EXPECT_EQ(runCli({"record", wav, "--bits", "12"}).code, 2);
}

TEST_F(CliTest, RecordWithoutALengthEndsWhenInterrupted)
{
    const QString wav = out + "/open.wav";
    QProcess cli;
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.start(BuiltProgram("sondrel-cli"), {"record", wav, "--device", "null", "--quiet"});
    ASSERT_TRUE(cli.waitForStarted());
    // Once the hidden recording grows, sound is coming.
    ASSERT_TRUE(WaitFor([&] {
        const QFileInfoList found = QDir(out).entryInfoList({"*.recording"}, QDir::Files | QDir::Hidden);
        return !found.isEmpty() && found.first().size() > 0;
    }));
    ASSERT_TRUE(SignalProcess(cli, SIGINT));
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QByteArray bytes = ReadFileBytes(wav);
    ASSERT_GT(bytes.size(), 44);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 40), uint32_t(bytes.size() - 44));
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"open.wav"});
}

// rip looks an unknown disc up by itself (by default: cache, CD-Text, then the network) and makes named,
// tagged files in one command; the titles are kept, so the next rip asks no one.
TEST_F(CliTest, RipLooksTheDiscUpByItself)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,tone", "150,noise"}));
    const QString id = runCli({"toc"}).out.section("musicbrainz-id ", 1).section('\n', 0, 0);
    CddbTestServer musicbrainz;
    QStringList asked;
    musicbrainz.setHandler([&](const QString &target) {
        asked << target;
        if (!target.startsWith("/ws/2/discid/"))
            return CddbTestServer::Reply{404, {}, {}}; // no cover
        return CddbTestServer::Reply{
            200,
            (R"({"releases":[{"id":"mbid-9","title":"Live","date":"1999","artist-credit":[{"name":"Band"}],)"
             R"("media":[{"format":"CD","track-count":2,"discs":[{"id":")" +
             id + R"("}],"tracks":[{"title":"Intro"},{"title":"Encore"}]}]}]})")
                .toUtf8(),
            {}};
    });
    WriteFileText(SettingsFolder() + "options.ini",
                  "[QueryCDDB]\nLookupOrder=1\nMusicBrainzServer=" + musicbrainz.url() +
                      "\nCoverArtServer=" + musicbrainz.url() + "\n");
    // The default, as a user types it (without the test's own --lookup).
    QProcess rip;
    rip.start(BuiltProgram("sondrel-cli"), {"rip", "-f", "flac", "--tags", "-o", out, "--quiet"});
    ASSERT_TRUE(rip.waitForFinished(60000));
    EXPECT_EQ(rip.exitCode(), 0) << rip.readAllStandardError().toStdString();
    // The files made, in the order their encodings ended.
    EXPECT_EQ(QString::fromUtf8(rip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).size(), 2);
    EXPECT_TRUE(QFileInfo::exists(out + "/Intro.flac") && QFileInfo::exists(out + "/Encore.flac"));
    QByteArray tags;
    RunProgram("metaflac", {"--export-tags-to=-", out + "/Encore.flac"}, &tags);
    EXPECT_TRUE(tags.contains("TITLE=Encore\n") && tags.contains("ARTIST=Band\n") &&
                tags.contains("ALBUM=Live\n"))
        << tags.toStdString();
    ASSERT_FALSE(asked.isEmpty());

    // Known now: the cache answers, nobody is asked.
    asked.clear();
    QDir(out).removeRecursively();
    const CliRun again = runCli({"rip", "-f", "wav", "-o", out, "--lookup", "auto", "--quiet", "--json"});
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    const QJsonObject document = QJsonDocument::fromJson(again.out.toUtf8()).object();
    EXPECT_EQ(document.value("files").toArray().first().toString(), out + "/Intro.wav")
        << again.out.toStdString();
    EXPECT_EQ(document.value("disc").toObject().value("titles_from").toString(), "cache");
    EXPECT_EQ(document.value("disc").toObject().value("album").toString(), "Live");
    EXPECT_TRUE(asked.isEmpty()) << asked.join(' ').toStdString();
    // A source that finds nothing fails no rip; a mode that does not exist is a usage error.
    musicbrainz.setHandler([](const QString &) { return CddbTestServer::Reply{500, {}, {}}; });
    QDir(out).removeRecursively();
    const CliRun nothing = runCli({"rip", "-f", "wav", "-o", out, "--lookup", "musicbrainz", "-t", "1"});
    EXPECT_EQ(nothing.code, 0) << nothing.err.toStdString();
    EXPECT_TRUE(nothing.err.contains("no titles found for this disc")) << nothing.err.toStdString();
    EXPECT_EQ(runCli({"rip", "--lookup", "freedb"}).code, 2);
}

// Several releases hold the disc: each is listed with its number, the first taken unless --release chooses
// another (by number or by id); a release that is not there is said.
TEST_F(CliTest, ReleaseChoosesAmongMusicBrainzReleases)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,tone"}));
    const QString id = runCli({"toc"}).out.section("musicbrainz-id ", 1).section('\n', 0, 0);
    const auto release = [&id](const char *mbid, const char *title) {
        return QString(R"({"id":"%1","title":"%2","artist-credit":[{"name":"Band"}],"media":[{"format":"CD",)"
                       R"("track-count":1,"discs":[{"id":"%3"}],"tracks":[{"title":"%2 song"}]}]})")
            .arg(mbid, title, id);
    };
    CddbTestServer musicbrainz;
    musicbrainz.setHandler([&](const QString &) {
        return CddbTestServer::Reply{
            200,
            ("{\"releases\":[" + release("mbid-a", "First") + "," + release("mbid-b", "Second") + "]}")
                .toUtf8(),
            {}};
    });
    const QStringList lookup{"lookup", "--source", "musicbrainz", "--server", musicbrainz.url()};
    const CliRun first = runCli(lookup);
    EXPECT_TRUE(first.out.contains("album: First\n")) << first.out.toStdString();
    EXPECT_TRUE(first.err.contains("* release 1: Band - First")) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains("  release 2: Band - Second")) << first.err.toStdString();
    EXPECT_TRUE(runCli(lookup + QStringList{"--release", "2"}).out.contains("album: Second\n"));
    EXPECT_TRUE(runCli(lookup + QStringList{"--release", "mbid-b"}).out.contains("track 1\tSecond song\n"));
    const CliRun missing = runCli(lookup + QStringList{"--release", "3"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains("no release 3 among the 2 MusicBrainz has for this disc"))
        << missing.err.toStdString();
}

// Titles typed for a rip (a file in lookup --json's shape, then options over it) name and tag the files and
// stay in the cache for the next rip; malformed ones are refused before anything is read.
TEST_F(CliTest, TypedTitlesNameTagAndStay)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,tone", "150,noise"}));
    const QString file = home.root() + "/titles.json";
    WriteFileText(file, R"({"artist":"Band","album":"Live","year":"1999","genre":"Rock",)"
                        R"("tracks":[{"number":1,"title":"Intro"},{"number":2,"title":"Old"}]})");
    const CliRun rip = runCli({"rip", "-f", "flac", "--tags", "-o", out, "--titles", file, "--title",
                               "2=Encore", "--track-artist", "2=Guest", "--genre", "Jazz", "--quiet"});
    ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
    QStringList made = rip.out.split('\n', Qt::SkipEmptyParts);
    made.sort(); // in the order their encodings ended
    EXPECT_EQ(made, QStringList({out + "/Encore.flac", out + "/Intro.flac"}));
    QByteArray tags;
    RunProgram("metaflac", {"--export-tags-to=-", out + "/Encore.flac"}, &tags);
    for (const char *field : {"TITLE=Encore\n", "ARTIST=Guest\n", "ALBUMARTIST=Band\n", "ALBUM=Live\n",
                              "DATE=1999\n", "GENRE=Jazz\n"})
        EXPECT_TRUE(tags.contains(field)) << field << tags.toStdString();
    QDir(out).removeRecursively();
    EXPECT_EQ(runCli({"rip", "-f", "wav", "-o", out, "-t", "2", "--quiet"}).out, out + "/Encore.wav\n");

    WriteFileText(file, "{\"tracks\": [{\"number\": 100, \"title\": \"x\"}]}");
    const CliRun bad = runCli({"rip", "-o", out, "--titles", file});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.err.contains(file + ": a track without a number from 1 to 99")) << bad.err.toStdString();
    for (const QStringList &wrong :
         {QStringList{"--title", "Encore"}, QStringList{"--title", "0=x"}, QStringList{"--genre", "Nope"}})
        EXPECT_EQ(runCli(QStringList{"rip", "-o", out} + wrong).code, 2) << wrong.join(' ').toStdString();
}

// --verbose says each step (the drive, each request with the server and the reason it failed); -vv also the
// encoders' command lines; without it none of that.
TEST_F(CliTest, VerboseSaysEachStep)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,tone"}));
    const QStringList lookup{"lookup", "--source", "musicbrainz", "--server", "http://127.0.0.1:1"};
    const CliRun verbose = runCli(lookup + QStringList{"--verbose"});
    EXPECT_EQ(verbose.code, 1);
    EXPECT_TRUE(verbose.err.contains("sondrel-cli: drive 0 opened: " + images + "disc.cue"))
        << verbose.err.toStdString();
    EXPECT_TRUE(verbose.err.contains(
        QRegularExpression("sondrel-cli: GET http://127.0.0.1:1/ws/2/discid/\\S+: \\S.+")))
        << verbose.err.toStdString();
    EXPECT_FALSE(runCli(lookup).err.contains("sondrel-cli: GET"));
    const CliRun rip = runCli({"rip", "-f", "mp3", "-o", out, "-vv", "--quiet"});
    EXPECT_EQ(rip.code, 0) << rip.err.toStdString();
    EXPECT_TRUE(rip.err.contains("sondrel-cli: disc ids: CDDB ")) << rip.err.toStdString();
    EXPECT_TRUE(rip.err.contains("sondrel-cli: settled " + out + "/Track01.mp3\n")) << rip.err.toStdString();
    EXPECT_TRUE(rip.err.contains(QRegularExpression("sondrel-cli: run: \\S*lame .*\\.part\n")))
        << rip.err.toStdString();
}

} // namespace

// With two discs, each drive's own disc gives the key, the titles and the tags: -d 1 never borrows the
// first disc's.
TEST_F(CliTest, EachDriveItsOwnDisc)
{
    ASSERT_TRUE(MakeDisc(images + "a.cue", {"150,music", "150,music"}));
    ASSERT_TRUE(MakeDisc(images + "b.cue", {"--title", "Segundo", "100,music", "100,noise", "100,music"}));
    const QList<CdDriveEntry> drives = CdDriveList();
    ASSERT_EQ(drives.size(), 2);
    const QString first = DiscKeyOfDrive(drives[0].path);
    const QString second = DiscKeyOfDrive(drives[1].path);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_NE(first, second);
    TCDInfo a;
    a.Album = "First";
    a.TrackNumber = 2;
    a.Tracks[1] = "Ça va";
    a.Tracks[2] = "Deux";
    ASSERT_TRUE(SaveDiscInfo(first, a));
    TCDInfo b;
    b.Album = "Second";
    b.TrackNumber = 3;
    b.Tracks[1] = "Uno";
    b.Tracks[2] = "Dos";
    b.Tracks[3] = "Tres";
    ASSERT_TRUE(SaveDiscInfo(second, b));
    const CliRun toc = runCli({"toc", "-d", "1"});
    EXPECT_TRUE(toc.out.contains("disc-key " + second + "\n")) << toc.out.toStdString();
    EXPECT_TRUE(toc.out.contains("\tUno\n")) << toc.out.toStdString();
    const CliRun rip = runCli({"rip", "-d", "1", "-f", "wav", "-o", out, "--quiet"});
    ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList({"Dos.wav", "Tres.wav", "Uno.wav"}));
    // -d takes the path of a listed image, or of one anywhere else; the tags, CDDB and lookups are the
    // second disc's too.
    EXPECT_TRUE(runCli({"toc", "-d", images + "b.cue"}).out.contains("disc-key " + second + "\n"));
    QDir(out).removeRecursively();
    ASSERT_EQ(runCli({"rip", "-d", images + "b.cue", "-t", "2", "-f", "flac", "--tags", "-o", out}).code, 0);
    QByteArray tags;
    RunProgram("metaflac", {"--export-tags-to=-", out + "/Dos.flac"}, &tags);
    EXPECT_TRUE(tags.contains("TITLE=Dos\n") && tags.contains("ALBUM=Second\n")) << tags.toStdString();
    const QString id = QJsonDocument::fromJson(runCli({"toc", "-d", "1", "--json"}).out.toUtf8())
                           .object()
                           .value("cddb_id")
                           .toString();
    CddbTestServer cddb;
    cddb.setQueryFixture("query_exact.txt");
    runCli({"cddb", "-d", "1", "--server", cddb.url(), "--quiet"});
    EXPECT_TRUE(cddb.commands().value(0).startsWith("cddb query " + id + " 3 "))
        << cddb.commands().value(0).toStdString();
    ASSERT_EQ(runCli({"lookup", "-d", images + "b.cue", "--source", "cdtext", "--quiet"}).code, 0);
    TCDInfo stored;
    ASSERT_TRUE(LoadDiscInfo(second, stored));
    EXPECT_EQ(stored.Album, "Segundo");
    ASSERT_TRUE(LoadDiscInfo(first, stored));
    EXPECT_EQ(stored.Album, "First");
    ASSERT_TRUE(MakeDisc(home.root() + "/elsewhere.cue", {"100,music", "100,noise", "100,music"}));
    const CliRun elsewhere = runCli({"toc", "-d", home.root() + "/elsewhere.cue"});
    EXPECT_TRUE(elsewhere.out.contains("disc-key " + second + "\n")) << elsewhere.err.toStdString();
    EXPECT_EQ(runCli({"toc", "-d", home.root() + "/none.cue"}).code, 2);
}

// A server that does not answer is said so, apart from a disc the server does not know.
TEST_F(CliTest, AnUnreachableCddbServerIsNoNoMatch)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"150,music"}));
    const CliRun run = runCli({"cddb", "--server", "http://127.0.0.1:1/~cddb/cddb.cgi"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("cannot reach the CDDB server http://127.0.0.1:1/~cddb/cddb.cgi: "))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("no match")) << run.err.toStdString();
}
