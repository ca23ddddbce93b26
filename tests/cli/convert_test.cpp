// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions of files other programs made (flac, lame, oggenc, opusenc, sox) into every output format:
// the samples, tags and covers the field's tools read back, whole folders kept in step, damaged inputs.
#include "clirun.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class ConvertTest : public ::testing::Test {
protected:
    TestHome home;
    QString lib = home.root() + "/lib";
    QString out = home.root() + "/out";
    QString cover = lib + "/A/cover.jpg";

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(lib + "/A/B"));
        const QString wav = home.root() + "/tone.wav";
        ASSERT_EQ(
            RunProgram("sox", {"-n", "-r", "44100", "-b", "16", "-c", "2", wav, "synth", "2", "sine", "440"}),
            0);
        ASSERT_EQ(RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "color=c=red:s=32x32",
                                        "-frames:v", "1", cover}),
                  0);
        ASSERT_EQ(RunProgram("flac", {"-s", "-T", "TITLE=Uno", "-T", "ARTIST=Band", "-T",
                                      "MUSICBRAINZ_TRACKID=6f1e2d3c-0000-4000-8000-000000000001", "-T",
                                      "DISCNUMBER=2", "--picture", cover, "-o", lib + "/A/B/one.flac", wav}),
                  0);
        ASSERT_EQ(RunProgram("lame", {"--quiet", "--tt", "Dos", "--ta", "Band", "--ti", cover, wav,
                                      lib + "/A/two.mp3"}),
                  0);
        ASSERT_EQ(RunProgram("oggenc", {"-Q", "-t", "Trés", "-o", lib + "/three.ogg", wav}), 0);
        ASSERT_EQ(RunProgram("opusenc", {"--quiet", "--title", "Cuatro", wav, lib + "/four.opus"}), 0);
        ASSERT_EQ(RunProgram("sox", {"-n", "-r", "48000", "-b", "24", "-c", "2", lib + "/A/B/five.wav",
                                     "synth", "1", "sine", "300"}),
                  0);
        for (const auto &[name, codec] : {std::pair{"/six.m4a", "aac"}, {"/A/seven.wma", "wmav2"}})
            ASSERT_EQ(RunProgram("ffmpeg", {"-v", "error", "-i", wav, "-c:a", codec, "-metadata",
                                            "title=" + QString(codec), lib + name}),
                      0);
        WriteFileText(lib + "/A/notes.txt", "not audio");
    }

    static QString picture(const QString &file)
    {
        return QCryptographicHash::hash(ReadFileBytes(file), QCryptographicHash::Sha1).toHex();
    }
    QString tag(const QString &file, const char *key)
    {
        return JudgedTags(file).value("tags").toObject().value(key).toArray().first().toString();
    }
    // Seconds and bits as sox reads the file.
    static QString shape(const QString &file)
    {
        QByteArray seconds, bits;
        RunProgram("soxi", {"-D", file}, &seconds);
        RunProgram("soxi", {"-b", file}, &bits);
        return QString::fromUtf8(seconds.trimmed() + " s " + bits.trimmed() + " bits");
    }
};

TEST_F(ConvertTest, AFolderOfEveryKindBecomesEachFormatWithItsTagsAndCover)
{
    const QStringList made = {"A/B/five", "A/B/one", "A/seven", "A/two", "four", "six", "three"};
    for (const char *format : {"wav", "flac", "opus", "mp3"}) {
        SCOPED_TRACE(format);
        const QString to = out + "/" + format;
        const CliRun run = runCli({"convert", "-f", format, "-r", lib, "-o", to, "--copy-covers"});
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        QStringList files;
        for (const QString &name : made)
            files << to + "/" + name + "." + format;
        QStringList printed = run.out.split('\n', Qt::SkipEmptyParts);
        printed.sort();
        EXPECT_EQ(printed, files);
        EXPECT_EQ(ReadFileBytes(to + "/A/cover.jpg"), ReadFileBytes(cover));
        EXPECT_FALSE(QFileInfo::exists(to + "/A/notes." + QString(format)));
        EXPECT_EQ(QDir(to).entryList(QDir::Hidden | QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size(),
                  4)
            << QDir(to).entryList(QDir::Hidden | QDir::AllEntries).join(' ').toStdString();
        const QString one = to + "/A/B/one." + format;
        EXPECT_EQ(tag(one, QString(format) == "mp3" ? "TIT2" : "title"), "Uno");
        // ID3 keeps its pictures as frames.
        const auto pictureOf = [&](const QString &file) {
            return QString(format) == "mp3" ? tag(file, "APIC:")
                                            : JudgedTags(file).value("pictures").toArray().first().toString();
        };
        if (QString(format) != "wav") {
            EXPECT_EQ(pictureOf(one), picture(cover));
            EXPECT_EQ(pictureOf(to + "/A/two." + format), picture(cover));
        }
    }
    // Lossless: the FLAC's samples, the 24 bits of the WAV, the MP3's length without the encoder's padding.
    QByteArray fromFlac;
    ASSERT_EQ(RunProgram("sox", {lib + "/A/B/one.flac", "-t", "raw", "-"}, &fromFlac), 0);
    QByteArray fromWav;
    ASSERT_EQ(RunProgram("sox", {out + "/wav/A/B/one.wav", "-t", "raw", "-"}, &fromWav), 0);
    EXPECT_TRUE(fromFlac == fromWav);
    EXPECT_EQ(shape(out + "/flac/A/B/five.flac"), "1.000000 s 24 bits");
    EXPECT_EQ(shape(out + "/wav/A/two.wav"), "2.000000 s 16 bits");
    EXPECT_EQ(tag(out + "/opus/A/B/one.opus", "musicbrainz_trackid"), "6f1e2d3c-0000-4000-8000-000000000001");
    EXPECT_EQ(tag(out + "/mp3/A/B/one.mp3", "TPOS"), "2");
    EXPECT_EQ(tag(out + "/flac/three.flac", "title"), "Trés");
    // WMA and AAC through FFmpeg's decoders, as long as ffmpeg makes them, their titles carried over.
    EXPECT_EQ(tag(out + "/opus/six.opus", "title"), "aac");
    EXPECT_EQ(tag(out + "/mp3/A/seven.mp3", "TIT2"), "wmav2");
    QByteArray reference;
    ASSERT_EQ(RunProgram("ffmpeg", {"-v", "error", "-i", lib + "/six.m4a", "-f", "s16le", "-"}, &reference),
              0);
    EXPECT_EQ(shape(out + "/wav/six.wav"),
              QString::number(reference.size() / 4 / 44100.0, 'f', 6) + " s 16 bits");
}

TEST_F(ConvertTest, UpdateRedoesOnlyWhatIsOlderThanItsSource)
{
    ASSERT_EQ(runCli({"convert", "-f", "opus", "-r", lib, "-o", out, "--quiet"}).code, 0);
    const QDateTime before = QFileInfo(out + "/three.opus").lastModified();
    QFile source(lib + "/A/two.mp3");
    ASSERT_TRUE(source.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        source.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    source.close();
    const CliRun again =
        runCli({"convert", "-f", "opus", "-r", lib, "-o", out, "--update", "--no-overwrite"});
    ASSERT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, out + "/A/two.opus\n");
    EXPECT_EQ(QFileInfo(out + "/three.opus").lastModified(), before);
    // Without --update, --no-overwrite keeps them all, and says so.
    const CliRun kept = runCli({"convert", "-f", "opus", "-r", lib, "-o", out, "--no-overwrite"});
    EXPECT_EQ(kept.out, "");
    EXPECT_TRUE(kept.err.contains("kept " + out + "/three.opus (already there)")) << kept.err.toStdString();
}

TEST_F(ConvertTest, DamagedAndForeignInputsFailByNameAndLeaveNothing)
{
    const QByteArray flac = ReadFileBytes(lib + "/A/B/one.flac");
    writeBytes(home.root() + "/cut.flac", flac.left(flac.size() / 2));
    QByteArray flipped = flac;
    flipped[flipped.size() - 100] = char(flipped[flipped.size() - 100] ^ 0x55);
    writeBytes(home.root() + "/flipped.flac", flipped);
    const QStringList inputs = {home.root() + "/cut.flac", home.root() + "/flipped.flac",
                                lib + "/A/notes.txt", lib, lib + "/four.opus"};
    const CliRun run = runCli(QStringList{"convert", "-f", "mp3", "-o", out} + inputs);
    EXPECT_EQ(run.code, 1);
    for (const QString &input : inputs.mid(0, 4))
        EXPECT_TRUE(run.err.contains(input + ": ")) << input.toStdString() << "\n" << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(lib + ": a folder; give -r")) << run.err.toStdString();
    EXPECT_EQ(run.out, out + "/four.mp3\n");
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"four.mp3"});
}

// A file that cannot be written to its end (the file size limit here, as a disk that fills up) fails with
// the file and the system's reason and leaves nothing under its name: the last block of a run sat in a
// buffer whose failed flush was told to no one, and a WAV's was then written over its header.
TEST_F(ConvertTest, AFileCutAtItsEndIsAFailure)
{
    const QString wav = home.root() + "/tone.wav";
    std::vector<std::pair<QStringList, QString>> runs; // a command and the file it makes
    for (const QString format : {"wav", "flac", "ogg", "opus"})
        runs.push_back({{"convert", "-f", format, "-o", out, wav}, out + "/tone." + format});
    runs.push_back({{"resample", wav, out + "/r.wav", "--quality", "fast"}, out + "/r.wav"});
    for (const auto &[command, made] : runs) {
        ASSERT_EQ(runCli(command).code, 0) << made.toStdString();
        // Made whole, as ffmpeg's own readers see it: the two seconds of the source.
        QByteArray seconds;
        ASSERT_EQ(RunProgram("ffprobe",
                             {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", made},
                             &seconds),
                  0);
        EXPECT_NEAR(seconds.trimmed().toDouble(), 2.0, 0.01) << made.toStdString();
        const qint64 kilobytes = (QFileInfo(made).size() - 1) / 1024; // the last block does not fit
        ASSERT_TRUE(QFile::remove(made));
        const QString limit = QString("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(kilobytes);
        const CliRun cut = runCli(QStringList{"-c", limit, BuiltProgram("sondrel-cli")} + command, "/bin/sh");
        EXPECT_EQ(cut.code, 1) << made.toStdString();
        EXPECT_TRUE(cut.err.contains(QRegularExpression(
            QRegularExpression::escape(QFileInfo(made).fileName()) + "\\.[0-9a-f-]+\\.part: File too large")))
            << cut.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(made)) << made.toStdString();
    }
}

// MP3 to WAV decodes in process: the samples mpg123's own decoder gives (gapless), however the file states
// its length: an Info frame (lame's default), none at all (VBR without Xing: libmpg123's length is then a
// guess from the file size), an Info frame promising more than a cut file holds, junk between frames. A cut
// or damaged file decodes as far as it goes, with a warning naming the file; the WAV's header counts what
// follows it.
TEST_F(ConvertTest, Mp3ToWavGivesMpg123sSamples)
{
    const QString tone = home.root() + "/long.wav";
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-b", "16", "-c", "2", tone, "synth", "10", "sine",
                                 "300-3000", "sine", "500"}),
              0);
    const QString vbr = home.root() + "/vbr.mp3";
    ASSERT_EQ(RunProgram("lame", {"--quiet", "-V", "2", tone, vbr}), 0);
    const QByteArray whole = ReadFileBytes(vbr);
    struct Case {
        const char *name;
        std::function<QByteArray()> make;
        bool warned;
    };
    const QList<Case> cases = {
        {"CBR with an Info frame", [&] { return ReadFileBytes(lib + "/A/two.mp3"); }, false},
        {"VBR without Xing",
         [&] {
             const QString bare = home.root() + "/bare.mp3";
             RunProgram("lame", {"--quiet", "-V", "2", "-t", tone, bare});
             return ReadFileBytes(bare);
         },
         false},
        {"cut after 4 KB", [&] { return whole.left(4096); }, true},
        {"junk inside",
         [&] {
             QByteArray junk(3000, '\0');
             for (int i = 0; i < junk.size(); ++i)
                 junk[i] = char((i * 7919) % 251);
             return whole.left(whole.size() / 2) + junk + whole.mid(whole.size() / 2);
         },
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString mp3 = home.root() + "/in.mp3", judge = home.root() + "/judge.wav";
        writeBytes(mp3, c.make());
        QFile::remove(out + "/in.wav");
        const CliRun run = runCli({"convert", "mp32wav", mp3, "-o", out});
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_EQ(run.err.contains("warning: " + mp3 + ": "), c.warned) << run.err.toStdString();
        ASSERT_EQ(RunProgram("mpg123", {"-q", "-w", judge, mp3}), 0);
        QByteArray ours, theirs;
        ASSERT_EQ(RunProgram("sox", {out + "/in.wav", "-t", "raw", "-"}, &ours), 0);
        ASSERT_EQ(RunProgram("sox", {judge, "-t", "raw", "-"}, &theirs), 0);
        // The header tells the truth: the RIFF chunk is the file, the data chunk all the audio.
        const QByteArray wav = ReadFileBytes(out + "/in.wav");
        ASSERT_GT(wav.size(), 44);
        uint32_t riff = 0, data = 0;
        std::memcpy(&riff, wav.constData() + 4, 4);
        std::memcpy(&data, wav.constData() + wav.indexOf("data") + 4, 4);
        EXPECT_EQ(qsizetype(riff) + 8, wav.size());
        EXPECT_EQ(qsizetype(data), ours.size());
        EXPECT_EQ(ours.size(), theirs.size());
        EXPECT_TRUE(ours == theirs);
    }
}

// Inputs that hold nothing or claim what they do not hold: a WAV, FLAC or Ogg file without a sample is
// refused by name in every format (no file made, no invalid Opus file); a rate Opus cannot take is said
// before anything is encoded (libopusenc aborted the process); a FLAC whose STREAMINFO claims 2^36-1
// samples and an MP3 whose Info frame claims 0x7FFFFFFF frames become WAVs of exactly the audio they hold
// (the writer padded zeros to the claim without end).
TEST_F(ConvertTest, InputsThatHoldNothingOrClaimTooMuch)
{
    const QString empty = home.root() + "/empty.wav";
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-b", "16", "-c", "2", empty, "trim", "0", "0"}), 0);
    const QString nothing = home.root() + "/nothing";
    QDir().mkpath(nothing);
    ASSERT_TRUE(QFile::copy(empty, nothing + "/a.wav"));
    // flac refuses to encode nothing; ffmpeg makes the FLAC.
    ASSERT_EQ(RunProgram("ffmpeg", {"-v", "error", "-i", empty, nothing + "/b.flac"}), 0);
    ASSERT_EQ(RunProgram("oggenc", {"-Q", "-o", nothing + "/c.ogg", empty}), 0);
    for (const char *format : {"opus", "flac", "mp3", "ogg", "wav"}) {
        for (const char *name : {"a.wav", "b.flac", "c.ogg"}) {
            SCOPED_TRACE(std::string(name) + " to " + format);
            const QString folder = out + "/" + format;
            const CliRun run =
                runCli({"convert", "-f", format, nothing + "/" + name, "-o", folder, "--quiet"});
            EXPECT_EQ(run.code, 1);
            EXPECT_TRUE(run.err.contains(nothing + "/" + name + ": no audio")) << run.err.toStdString();
            EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty())
                << QDir(folder).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString();
        }
    }

    const QString low = home.root() + "/low.wav";
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "50", "-b", "16", "-c", "1", low, "synth", "2", "sine", "10"}),
              0);
    const CliRun opus = runCli({"convert", "-f", "opus", low, "-o", out + "/low", "--quiet"});
    EXPECT_EQ(opus.code, 1);
    EXPECT_TRUE(opus.err.contains("Opus files take audio of 100 to 768000 Hz, not 50 Hz"))
        << opus.err.toStdString();
    EXPECT_TRUE(QDir(out + "/low").entryList(QDir::Files | QDir::Hidden).isEmpty());

    // The claims patched into files flac and lame made; flac decodes the FLAC as it was, mpg123 the MP3 as it
    // is.
    const QString tone = home.root() + "/tone.wav", flac = home.root() + "/claims.flac",
                  mp3 = home.root() + "/claims.mp3";
    ASSERT_EQ(RunProgram("flac", {"-s", "-o", flac, tone}), 0);
    ASSERT_EQ(RunProgram("lame", {"--quiet", tone, mp3}), 0);
    QByteArray flacJudge, mp3Judge;
    ASSERT_EQ(RunProgram("flac",
                         {"-d", "-s", "-c", "--force-raw-format", "--endian=little", "--sign=signed", flac},
                         &flacJudge),
              0);
    QByteArray bytes = ReadFileBytes(flac);
    bytes[21] = char(bytes[21] | 0x0F); // the low 36 bits of STREAMINFO's 64 at byte 18: all ones
    for (int i = 22; i < 26; ++i)
        bytes[i] = char(0xFF);
    writeBytes(flac, bytes);
    bytes = ReadFileBytes(mp3);
    const qsizetype info = bytes.indexOf("Info");
    ASSERT_GT(info, 0);
    ASSERT_TRUE(bytes[info + 7] & 1); // the frame count is there
    bytes.replace(info + 8, 4, QByteArray("\x7F\xFF\xFF\xFF", 4));
    writeBytes(mp3, bytes);
    // mpg123 decodes what the file holds (its end padding kept, as the claimed count no longer places it).
    ASSERT_EQ(RunProgram("mpg123", {"-q", "-s", mp3}, &mp3Judge), 0);
    for (const auto &[file, judge] : {std::pair{flac, flacJudge}, {mp3, mp3Judge}}) {
        SCOPED_TRACE(file.toStdString());
        const QString folder = out + "/claims/" + QFileInfo(file).suffix();
        const CliRun run = runCli({"convert", "-f", "wav", file, "-o", folder}, QString(), 60000);
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        QByteArray ours;
        ASSERT_EQ(RunProgram("sox", {folder + "/claims.wav", "-t", "raw", "-"}, &ours), 0);
        EXPECT_EQ(ours.size(), judge.size());
        EXPECT_TRUE(ours == judge);
    }
}

// Sources that meet in one output are planned before any lane starts: loose files of one name make the
// first and refuse the others by name (two lanes wrote one working file and both failed); with -r, several
// trees each keep their top folder; a target that is another item's source is refused.
TEST_F(ConvertTest, SourcesThatMeetInOneOutput)
{
    const QString a = home.root() + "/A", b = home.root() + "/B";
    QDir().mkpath(a);
    QDir().mkpath(b);
    const QString tone = home.root() + "/tone.wav";
    ASSERT_EQ(RunProgram("flac", {"-s", "-T", "TITLE=from A", "-o", a + "/01.flac", tone}), 0);
    ASSERT_EQ(RunProgram("flac", {"-s", "-T", "TITLE=from B", "-o", b + "/01.flac", tone}), 0);
    const QString c = home.root() + "/C";
    QDir().mkpath(c);
    ASSERT_EQ(RunProgram("lame", {"--quiet", "--tt", "from C", tone, c + "/02.mp3"}), 0);
    ASSERT_EQ(RunProgram("flac", {"-s", "-o", c + "/02.flac", tone}), 0);
    const auto titleOf = [](const QString &file) {
        const QJsonObject tags = JudgedTags(file).value("tags").toObject();
        return tags.value(tags.contains("TIT2") ? "TIT2" : "title").toArray().at(0).toString();
    };

    const CliRun loose =
        runCli({"convert", "-f", "mp3", a + "/01.flac", b + "/01.flac", "-o", out, "--quiet"});
    EXPECT_EQ(loose.code, 1);
    EXPECT_TRUE(
        loose.err.contains(out + "/01.mp3: also the output of " + a + "/01.flac; " + b + "/01.flac skipped"))
        << loose.err.toStdString();
    EXPECT_EQ(titleOf(out + "/01.mp3"), "from A");

    const CliRun trees = runCli({"convert", "-f", "mp3", "-r", a, b, "-o", out + "/trees", "--quiet"});
    EXPECT_EQ(trees.code, 0) << trees.err.toStdString();
    EXPECT_EQ(titleOf(out + "/trees/A/01.mp3"), "from A");
    EXPECT_EQ(titleOf(out + "/trees/B/01.mp3"), "from B");

    // Two kinds of one name into Opus, and a FLAC whose WAV would replace a WAV being converted.
    const CliRun kinds =
        runCli({"convert", "-f", "opus", c + "/02.mp3", c + "/02.flac", "-o", out + "/kinds", "--quiet"});
    EXPECT_EQ(kinds.code, 1);
    EXPECT_EQ(titleOf(out + "/kinds/02.opus"), "from C");
    EXPECT_TRUE(kinds.err.contains(c + "/02.flac skipped")) << kinds.err.toStdString();
    ASSERT_TRUE(QFile::copy(tone, b + "/03.wav"));
    ASSERT_EQ(RunProgram("flac", {"-s", "-o", b + "/03.flac", tone}), 0);
    const QByteArray wav = ReadFileBytes(b + "/03.wav");
    const CliRun input = runCli({"convert", "-f", "wav", b + "/03.wav", b + "/03.flac", "-o", b, "--quiet"});
    EXPECT_EQ(input.code, 1);
    EXPECT_TRUE(
        input.err.contains(b + "/03.wav: also an input of this conversion; " + b + "/03.flac skipped"))
        << input.err.toStdString();
    EXPECT_TRUE(ReadFileBytes(b + "/03.wav") == wav);
}

// A cover larger than a FLAC metadata block holds (16 MB) is left out of the FLAC with a warning naming it;
// the FLAC is whole (flac -t), where its picture block made it unreadable.
TEST_F(ConvertTest, ACoverTooLargeForFlacIsLeftOut)
{
    const QString mp3 = home.root() + "/big.mp3";
    ASSERT_EQ(RunProgram("lame", {"--quiet", "--tt", "Big", home.root() + "/tone.wav", mp3}), 0);
    ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c",
                                              "import sys, mutagen.id3 as i\n"
                                              "t = i.ID3(sys.argv[1])\n"
                                              "t.add(i.APIC(encoding=0, mime='image/jpeg', type=3, desc='', "
                                              "data=b'\\xff\\xd8\\xff\\xe0' + bytes(17 << 20)))\n"
                                              "t.save()",
                                              mp3}),
              0);
    const CliRun run = runCli({"convert", "-f", "flac", mp3, "-o", out, "--quiet"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("warning: " + out + "/big.flac: the cover of " + mp3))
        << run.err.toStdString();
    EXPECT_EQ(RunProgram("flac", {"-t", "-s", out + "/big.flac"}), 0);
    const QJsonObject judged = JudgedTags(out + "/big.flac");
    EXPECT_EQ(judged.value("tags").toObject().value("title").toArray().at(0).toString(), "Big");
    EXPECT_TRUE(judged.value("pictures").toArray().isEmpty());
}

// A tree with a folder that is a link (an album kept on another disk) has that folder converted too, a link
// back up the tree is walked once, and an output folder inside the tree is not taken for input (each rerun
// nested one level deeper).
TEST_F(ConvertTest, LinkedFoldersAndAnOutputInsideTheTree)
{
    const QString tree = home.root() + "/tree", elsewhere = home.root() + "/elsewhere/Album";
    QDir().mkpath(tree);
    QDir().mkpath(elsewhere);
    ASSERT_EQ(RunProgram("flac", {"-s", "-o", elsewhere + "/a.flac", home.root() + "/tone.wav"}), 0);
    ASSERT_EQ(RunProgram("flac", {"-s", "-o", tree + "/b.flac", home.root() + "/tone.wav"}), 0);
    ASSERT_TRUE(QFile::link(elsewhere, tree + "/Linked"));
    ASSERT_TRUE(QFile::link(tree, tree + "/Loop"));
    for (int run = 0; run < 2; ++run) {
        const CliRun convert =
            runCli({"convert", "-f", "opus", "-r", tree, "-o", tree + "/out", "--update", "--quiet"},
                   QString(), 60000);
        ASSERT_EQ(convert.code, 0) << convert.err.toStdString();
    }
    QStringList made;
    for (QDirIterator it(tree + "/out", QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        made << QDir(tree + "/out").relativeFilePath(it.next());
    made.sort();
    EXPECT_EQ(made, QStringList({"Linked/a.opus", "b.opus"}));
}

// The quality options set this run's encoders only; a value out of range is refused before anything runs.
TEST_F(ConvertTest, QualityOptionsReachTheEncodersAndNotOptionsIni)
{
    const QString wav = home.root() + "/tone.wav";
    ASSERT_EQ(runCli({"convert", "-f", "mp3", "--mp3-bitrate", "96", wav, "-o", out}).code, 0);
    QByteArray rate;
    RunProgram("ffprobe",
               {"-v", "error", "-show_entries", "stream=bit_rate", "-of", "csv=p=0", out + "/tone.mp3"},
               &rate);
    EXPECT_TRUE(rate.startsWith("96000")) << rate.toStdString();
    ASSERT_EQ(runCli({"convert", "-f", "opus", "--opus-bitrate", "32", wav, "-o", out}).code, 0);
    // The bit rate reached the encoder, in VBR as opusenc makes it (libopus's default, constrained VBR,
    // spends the same bits on every packet).
    ASSERT_EQ(RunProgram("opusenc", {"--quiet", "--bitrate", "32", wav, home.root() + "/peer.opus"}), 0);
    EXPECT_NEAR(double(QFileInfo(out + "/tone.opus").size()),
                double(QFileInfo(home.root() + "/peer.opus").size()),
                0.05 * double(QFileInfo(home.root() + "/peer.opus").size()));
    for (const QStringList &wrong : {QStringList{"--mp3-bitrate", "97"}, QStringList{"--ogg-quality", "11"},
                                     QStringList{"--flac-level", "9"}, QStringList{"--opus-bitrate", "600"},
                                     QStringList{"--mp3-bitrate", "96", "--mp3-vbr", "2"}}) {
        const CliRun run = runCli(QStringList{"convert", "-f", "flac", wav, "-o", out + "/no"} + wrong);
        EXPECT_EQ(run.code, 2) << wrong.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(wrong.first())) << run.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(out + "/no"));
    EXPECT_FALSE(ReadFileText(home.settingsFile()).contains("BitRate=32"));
}

} // namespace

namespace {

// What ffmpeg's EBU R 128 meter says of the files played one after the other: the integrated loudness, to
// the thousandth.
double ffmpegLoudness(const QStringList &files)
{
    QStringList arguments{"-hide_banner", "-nostats"};
    QString inputs;
    for (int i = 0; i < files.size(); ++i) {
        arguments << "-i" << files[i];
        inputs += QString("[%1:a]").arg(i);
    }
    arguments << "-filter_complex"
              << inputs +
                     QString("concat=n=%1:v=0:a=1,ebur128=metadata=1,ametadata=print:key=lavfi.r128.I:file=-")
                         .arg(files.size())
              << "-f"
              << "null"
              << "-";
    QByteArray output;
    RunProgram("ffmpeg", arguments, &output);
    const qsizetype at = output.lastIndexOf("lavfi.r128.I=");
    return at < 0 ? 999 : output.mid(at + 13).split('\n').first().toDouble();
}

// The sample peak sox finds in the file as ffmpeg decodes it: the larger of its extremes.
double soxPeak(const QString &file, const QString &scratch)
{
    QFile::remove(scratch);
    RunProgram("ffmpeg", {"-v", "error", "-i", file, "-c:a", "pcm_s16le", scratch});
    QByteArray output;
    RunProgram("sox", {scratch, "-n", "stat"}, &output);
    const auto extreme = [&output](const char *label) {
        const qsizetype at = output.indexOf(label);
        return at < 0
                   ? 999
                   : std::abs(
                         output.mid(at + qsizetype(strlen(label))).trimmed().split('\n').first().toDouble());
    };
    return std::max(extreme("Maximum amplitude:"), extreme("Minimum amplitude:"));
}

// A floating-point WAV above full scale: what cannot be held is clipped, and the tool says so with the
// peak; the Ogg's peak value is that of what was written (sox's).
TEST_F(ConvertTest, AFloatSourceAboveFullScaleIsClippedWithAWord)
{
    const QString hot = home.root() + "/hot.wav";
    QByteArray data;
    for (int i = 0; i < 44100; ++i) {
        const float v = float(2.0 * std::sin(2.0 * M_PI * 440.0 * i / 44100.0));
        for (int c = 0; c < 2; ++c)
            data.append(reinterpret_cast<const char *>(&v), 4);
    }
    QByteArray wav = "RIFF" + QByteArray(4, 0) + "WAVEfmt ";
    const auto le = [&](uint32_t v, int bytes) {
        for (int b = 0; b < bytes; ++b)
            wav.append(char((v >> (8 * b)) & 0xff));
    };
    le(16, 4), le(3, 2), le(2, 2), le(44100, 4), le(44100 * 8, 4), le(8, 2), le(32, 2);
    wav += "data";
    le(uint32_t(data.size()), 4);
    wav += data;
    const uint32_t riff = uint32_t(wav.size() - 8);
    std::memcpy(wav.data() + 4, &riff, 4);
    QFile file(hot);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(wav);
    file.close();
    const CliRun run = runCli({"convert", "-f", "ogg", "--replaygain", hot, "-o", out});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(
        QRegularExpression(QRegularExpression::escape(hot) +
                           ": \\d+ samples above full scale \\(peak \\+6\\.0 dBFS\\) were clipped")))
        << run.err.toStdString();
    const QString made = out + "/hot.ogg";
    EXPECT_NEAR(tag(made, "replaygain_track_peak").toDouble(), soxPeak(made, home.root() + "/peak.wav"),
                0.001);
}

} // namespace

// ReplayGain values against ffmpeg's loudness meter (track, and the folder as an album) and sox's peaks.
TEST_F(ConvertTest, ReplayGainMatchesTheFieldsMeters)
{
    const QString src = home.root() + "/levels";
    ASSERT_TRUE(QDir().mkpath(src));
    // One file of another rate: the album's meter takes it too.
    for (const auto &[name, level, rate] :
         {std::tuple{"a.wav", "0.9", "44100"}, {"b.wav", "0.3", "48000"}, {"c.wav", "0.05", "44100"}})
        ASSERT_EQ(RunProgram("sox", {"-n", "-r", rate, "-b", "16", "-c", "2", src + "/" + name, "synth", "10",
                                     "pinknoise", "vol", level}),
                  0);
    for (const char *format : {"flac", "mp3", "opus"}) {
        SCOPED_TRACE(format);
        const QString to = out + "/" + format;
        ASSERT_EQ(runCli({"convert", "-f", format, "--replaygain", "-r", src, "-o", to, "--quiet"}).code, 0);
        QStringList files;
        for (const char *name : {"a", "b", "c"})
            files << to + "/" + name + "." + format;
        const double album = ffmpegLoudness(files);
        const bool opus = QString(format) == "opus";
        const bool mp3 = QString(format) == "mp3";
        const auto value = [&](const QString &file, const char *key) {
            return tag(file,
                       mp3 ? (QByteArray("TXXX:") + key).constData() : QByteArray(key).toLower().constData())
                .section(' ', 0, 0)
                .toDouble();
        };
        for (const QString &file : files) {
            SCOPED_TRACE(file.toStdString());
            const double track = ffmpegLoudness({file});
            if (opus) {
                EXPECT_NEAR(value(file, "R128_TRACK_GAIN") / 256, -23 - track, 0.1);
                EXPECT_NEAR(value(file, "R128_ALBUM_GAIN") / 256, -23 - album, 0.1);
                continue;
            }
            EXPECT_NEAR(value(file, "REPLAYGAIN_TRACK_GAIN"), -18 - track, 0.1);
            EXPECT_NEAR(value(file, "REPLAYGAIN_ALBUM_GAIN"), -18 - album, 0.1);
            EXPECT_NEAR(value(file, "REPLAYGAIN_TRACK_PEAK"), soxPeak(file, home.root() + "/peak.wav"),
                        0.001);
        }
        EXPECT_NEAR(value(files[2], "REPLAYGAIN_ALBUM_PEAK"), value(files[0], "REPLAYGAIN_TRACK_PEAK"),
                    0.000001);
    }
}
