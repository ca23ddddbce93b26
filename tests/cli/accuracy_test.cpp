// SPDX-License-Identifier: GPL-3.0-or-later
// Archival rips from the command line: FLAC checked by the flac tools, the read offset, Test & copy on a
// disc with a weak sector, AccurateRip answers from a loopback server, and the rip log and cue sheet.
#include "cddbserver.h"
#include "cdrom/discidentity.h"
#include "clirun.h"
#include "jobs/accuraterip.h"
#include "jobs/wavheader.h"
#include "shell/discinfo.h"
#include "shell/helpers.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>
#include <csignal>
#include <gtest/gtest.h>

namespace {

constexpr qsizetype sectorBytes = 2352;

// The verdict lines a rip printed on standard error (a line a track, then the summary), without its
// progress and messages.
QString verdicts(const QString &err)
{
    static const QRegularExpression verdict(QStringLiteral("^(Track \\d\\d: |All tracks|\\d+ tracks? )"));
    QString text;
    for (const QString &line : err.split('\n', Qt::SkipEmptyParts))
        if (verdict.match(line).hasMatch())
            text += line + '\n';
    return text;
}

QStringList madeFiles(const QString &out)
{
    QStringList files;
    for (const QString &line : out.split('\n', Qt::SkipEmptyParts))
        if (line.startsWith('/'))
            files << line;
    return files;
}

class AccuracyTest : public DiscImageTest {
protected:
    QByteArray image; // the disc's audio as the image holds it

    void disc(const QStringList &arguments)
    {
        ASSERT_TRUE(MakeDisc(images + "disc.cue", arguments));
        image = ReadFileBytes(images + "disc.bin");
    }
    void titles(const QStringList &tracks)
    {
        AppSettings.DiscInfo = TCDInfo();
        AppSettings.DiscInfo.Artist = "Band";
        AppSettings.DiscInfo.Album = "Record";
        AppSettings.DiscInfo.TrackNumber = int(tracks.size());
        for (int i = 0; i < tracks.size(); ++i)
            AppSettings.DiscInfo.Tracks[size_t(i + 1)] = tracks[i];
        ASSERT_TRUE(SaveDiscInfo(DiscKey()));
    }
    // The PCM of a WAV the rip made (after its 44-byte header).
    QByteArray wavData(const QString &name) { return ReadFileBytes(out + "/" + name).mid(44); }
    // The exact samples flac -d gives back, raw.
    // A rip into an emptied `out`, through the library or (paranoia) the checking CD reader.
    CliRun ripAfresh(const QStringList &options, bool paranoia)
    {
        QDir(out).removeRecursively();
        return runCli(QStringList{"rip", "-o", out} + options +
                      (paranoia ? QStringList{"--paranoia"} : QStringList{}));
    }
    // flac -d of a file the rip made into raw samples at `raw`; false when flac failed.
    bool decodeFlac(const QString &name, const QString &raw)
    {
        QFile::remove(raw);
        return RunProgram("flac", {"-d", "-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed",
                                   "-o", raw, out + "/" + name}) == 0;
    }
    QByteArray flacSamples(const QString &name)
    {
        const QString raw = home.root() + "/decoded.raw";
        return decodeFlac(name, raw) ? ReadFileBytes(raw) : QByteArray("flac -d failed");
    }
};

TEST_F(AccuracyTest, FlacRipsAreLosslessTaggedAndPassFlacsOwnTest)
{
    disc({"600,music", "400,noise", "00:01:00,tone"});
    titles({"Opening", "Noise", "Tone"});
    for (const bool paranoia : {false, true}) {
        SCOPED_TRACE(paranoia ? "paranoia" : "library");
        const CliRun run = ripAfresh({"-f", "flac", "--tags"}, paranoia);
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        qsizetype at = 0;
        int n = 0;
        for (const auto &[name, sectors] :
             {std::pair{"Opening.flac", 600}, {"Noise.flac", 400}, {"Tone.flac", 75}}) {
            ++n;
            EXPECT_EQ(RunProgram("flac", {"-t", "-s", out + "/" + name}), 0) << name;
            EXPECT_EQ(flacSamples(name), image.mid(at, sectors * sectorBytes)) << name;
            at += sectors * sectorBytes;
            QByteArray listing;
            ASSERT_EQ(RunProgram("metaflac",
                                 {"--list", "--block-type=VORBIS_COMMENT,STREAMINFO", out + "/" + name},
                                 &listing),
                      0);
            const QString text = QString::fromUtf8(listing);
            EXPECT_TRUE(text.contains(QString("TITLE=") + QString(name).section('.', 0, 0)))
                << text.toStdString();
            EXPECT_TRUE(text.contains("ARTIST=Band"));
            EXPECT_TRUE(text.contains("ALBUM=Record"));
            EXPECT_TRUE(text.contains(QString("TRACKNUMBER=%1").arg(n)));
            EXPECT_FALSE(text.contains("MD5 signature: 00000000000000000000000000000000"));
        }
        // No WAVs or working files left behind.
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 3)
            << QDir(out).entryList().join(' ').toStdString();
    }

    // WAV to FLAC: the samples of the WAV come back.
    const QString wav = home.root() + "/in.wav";
    ASSERT_TRUE(MakeDisc(images + "w.cue", {"150,music"}));
    QDir(out).removeRecursively();
    ASSERT_EQ(runCli({"rip", "-d", "1", "-f", "wav", "-o", home.root() + "/w"}).code, 0);
    const QString ripped = QDir(home.root() + "/w").entryList({"*.wav"}).value(0);
    ASSERT_FALSE(ripped.isEmpty());
    ASSERT_TRUE(QFile::copy(home.root() + "/w/" + ripped, wav));
    const CliRun convert = runCli({"convert", "wav2flac", wav, "-o", out});
    ASSERT_EQ(convert.code, 0) << convert.err.toStdString();
    EXPECT_EQ(convert.out, out + "/in.flac\n"); // what it made, for scripts
    EXPECT_EQ(RunProgram("flac", {"-t", "-s", out + "/in.flac"}), 0);
    EXPECT_EQ(flacSamples("in.flac"), ReadFileBytes(wav).mid(44));
}

// Opus from both read paths and from a WAV: opusinfo reads a stream of the track's exact length at the
// disc's rate, and mutagen reads the tags back.
TEST_F(AccuracyTest, OpusFilesHaveTheTracksLengthAndTags)
{
    disc({"600,music", "75,tone"});
    titles({"Opening", "Close"});
    const auto judge = [this](const QString &file, const char *length) {
        QByteArray info;
        EXPECT_EQ(RunProgram("opusinfo", {file}, &info), 0) << info.toStdString();
        EXPECT_TRUE(info.contains(QByteArray("Playback length: ") + length)) << info.toStdString();
        EXPECT_TRUE(info.contains("Original sample rate: 44100 Hz")) << info.toStdString();
    };
    for (const bool paranoia : {false, true}) {
        SCOPED_TRACE(paranoia ? "paranoia" : "library");
        const CliRun run = ripAfresh({"-f", "opus", "--tags"}, paranoia);
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        judge(out + "/Opening.opus", "0m:08.000s");
        judge(out + "/Close.opus", "0m:01.000s");
        const QJsonObject tags = JudgedTags(out + "/Close.opus").value("tags").toObject();
        EXPECT_EQ(tags.value("title").toArray().first().toString(), "Close");
        EXPECT_EQ(tags.value("artist").toArray().first().toString(), "Band");
        EXPECT_EQ(tags.value("tracknumber").toArray().first().toString(), "2");
        EXPECT_TRUE(tags.contains("r128_track_gain") && tags.contains("r128_album_gain")); // on by default
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 2)
            << QDir(out).entryList().join(' ').toStdString();
    }
    ASSERT_EQ(runCli({"rip", "-f", "wav", "-t", "2", "-o", home.root() + "/w"}).code, 0);
    const CliRun convert =
        runCli({"convert", "wav2opus", home.root() + "/w/Close.wav", "-o", out, "--overwrite"});
    ASSERT_EQ(convert.code, 0) << convert.err.toStdString();
    EXPECT_EQ(convert.out, out + "/Close.opus\n");
    judge(out + "/Close.opus", "0m:01.000s");
}

// Several formats from one read: a folder each, the FLAC lossless, the others tagged from it, no WAV left;
// with %format% in the names, one folder.
TEST_F(AccuracyTest, SeveralFormatsFromOneRead)
{
    disc({"600,music", "75,tone"});
    titles({"Opening", "Close"});
    const CliRun run = ripAfresh({"-f", "flac,mp3,opus", "--tags"}, false);
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    QStringList made = madeFiles(run.out);
    made.sort();
    EXPECT_EQ(made,
              QStringList({out + "/FLAC/Close.flac", out + "/FLAC/Opening.flac", out + "/MP3/Close.mp3",
                           out + "/MP3/Opening.mp3", out + "/OPUS/Close.opus", out + "/OPUS/Opening.opus"}));
    EXPECT_EQ(flacSamples("FLAC/Opening.flac"), image.left(600 * sectorBytes));
    EXPECT_EQ(JudgedTags(out + "/MP3/Close.mp3")
                  .value("tags")
                  .toObject()
                  .value("TIT2")
                  .toArray()
                  .first()
                  .toString(),
              "Close");
    EXPECT_EQ(JudgedTags(out + "/OPUS/Opening.opus")
                  .value("tags")
                  .toObject()
                  .value("album")
                  .toArray()
                  .first()
                  .toString(),
              "Record");
    EXPECT_TRUE(QDir(out + "/FLAC").entryList({"*.wav", ".*"}, QDir::Files | QDir::Hidden).isEmpty());

    const CliRun named = ripAfresh({"-f", "ogg,wav", "--name", "%title% (%format%)"}, false);
    ASSERT_EQ(named.code, 0) << named.err.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({"Close (ogg).ogg", "Close (wav).wav", "Opening (ogg).ogg", "Opening (wav).wav"}));
}

// Each format's loudness values belong to it: the FLAC's are loudgain's (its ReplayGain 2.0 at -18 LUFS),
// the MP3s (no ReplayGain by default) and the Opus files (R128 gains only, RFC 7845) take none of the
// FLAC's, whichever format -f names first; two rips of one disc give files identical byte for byte.
TEST_F(AccuracyTest, LoudnessValuesBelongToTheirFormatAndRipsRepeat)
{
    disc({"300,music", "150,noise", "225,tone:300"});
    titles({"One", "Two", "Three"});
    const auto tagsOf = [this](const QString &file) {
        return JudgedTags(out + "/" + file).value("tags").toObject();
    };
    QMap<QString, QByteArray> bytesOfFirst;
    QMap<QString, QJsonObject> tagsOfFirst;
    for (const QString &order :
         {QString("flac,mp3,opus"), QString("opus,mp3,flac"), QString("flac,mp3,opus")}) {
        SCOPED_TRACE(order.toStdString());
        const CliRun run = ripAfresh({"-f", order, "--tags"}, false);
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        for (const char *name : {"One", "Two", "Three"}) {
            const QString mp3 = QString("MP3/") + name + ".mp3", opus = QString("OPUS/") + name + ".opus";
            const QString flac = QString("FLAC/") + name + ".flac";
            for (const QString &key : tagsOf(mp3).keys())
                EXPECT_FALSE(key.contains("REPLAYGAIN", Qt::CaseInsensitive))
                    << mp3.toStdString() << " " << key.toStdString();
            const QJsonObject opusTags = tagsOf(opus);
            EXPECT_TRUE(opusTags.contains("r128_track_gain") && opusTags.contains("r128_album_gain"));
            for (const QString &key : opusTags.keys())
                EXPECT_FALSE(key.startsWith("replaygain")) << opus.toStdString() << " " << key.toStdString();
            // Whatever the order, the same values; in the same order, the same bytes (Opus streams take a
            // random serial number, as opusenc's do).
            for (const QString &file : {flac, mp3, opus}) {
                if (!tagsOfFirst.contains(file))
                    tagsOfFirst[file] = tagsOf(file);
                EXPECT_EQ(tagsOf(file), tagsOfFirst[file]) << file.toStdString();
            }
            for (const QString &file : {flac, mp3}) {
                const QByteArray bytes = ReadFileBytes(out + "/" + file);
                if (order == "flac,mp3,opus" && !bytesOfFirst.contains(file))
                    bytesOfFirst[file] = bytes;
                if (order == "flac,mp3,opus") {
                    EXPECT_TRUE(bytes == bytesOfFirst[file])
                        << file.toStdString() << " differs from the first rip's";
                }
            }
        }
    }
    // The FLAC's gains are loudgain's, track and album.
    QByteArray listing;
    ASSERT_EQ(RunProgram("loudgain",
                         {"-a", "-q", "-O", out + "/FLAC/One.flac", out + "/FLAC/Two.flac",
                          out + "/FLAC/Three.flac"},
                         &listing),
              0);
    const auto gainOf = [](const QString &text) { return text.section(' ', 0, 0).toDouble(); };
    int rows = 0;
    for (const QString &line : QString::fromUtf8(listing).split('\n')) {
        const QStringList columns = line.split('\t'); // File, Loudness, ..., Gain (the ninth)
        if (columns.size() < 9 || columns[0] == "File")
            continue;
        SCOPED_TRACE(line.toStdString());
        ++rows;
        for (const char *name : {"One", "Two", "Three"}) {
            const QString file = out + "/FLAC/" + name + ".flac";
            if (columns[0] != file && columns[0] != "Album")
                continue;
            const QJsonObject tags = JudgedTags(file).value("tags").toObject();
            const char *key = columns[0] == "Album" ? "replaygain_album_gain" : "replaygain_track_gain";
            EXPECT_NEAR(gainOf(tags.value(key).toArray().at(0).toString()), gainOf(columns[8]), 0.05) << name;
        }
    }
    EXPECT_EQ(rows, 4) << listing.toStdString();
}

TEST_F(AccuracyTest, ReadOffsetShiftsTheAudioWithSilenceAtTheDiscsEdges)
{
    disc({"300,noise", "200,noise"});
    titles({"One", "Two"});
    const qsizetype one = 300 * sectorBytes, two = 200 * sectorBytes, shift = 48 * 4;
    for (const bool paranoia : {false, true}) {
        for (const int offset : {48, -48}) {
            SCOPED_TRACE(
                QString("%1 offset %2").arg(paranoia ? "paranoia" : "library").arg(offset).toStdString());
            const CliRun run = ripAfresh({"-f", "wav", "--offset", QString::number(offset)}, paranoia);
            ASSERT_EQ(run.code, 0) << run.err.toStdString();
            if (offset > 0) {
                EXPECT_EQ(wavData("One.wav"), image.mid(shift, one));
                EXPECT_EQ(wavData("Two.wav"), image.mid(one + shift, two - shift) + QByteArray(shift, '\0'));
            } else {
                EXPECT_EQ(wavData("One.wav"), QByteArray(shift, '\0') + image.mid(0, one - shift));
                EXPECT_EQ(wavData("Two.wav"), image.mid(one - shift, two));
            }
        }
    }
    EXPECT_EQ(runCli({"rip", "-o", out, "--offset", "5881"}).code, 2);
}

TEST_F(AccuracyTest, TestAndCopyFindsASectorThatReadsDifferentlyTheSecondTime)
{
    disc({"300,music", "300,music", "--flaky", "450", "--damage", "c2=0"}); // a drive without C2 pointers
    titles({"Steady", "Weak"});
    // Through the CD access calls the copy differs from the test: the track is read again until a read
    // agrees, the log showing every read, and the file holds the audio the two agreeing reads gave. The
    // checking reader sees the weak sector itself and reads it again until two reads agree: the copy is right
    // at once.
    for (const bool paranoia : {false, true}) {
        SCOPED_TRACE(paranoia ? "paranoia" : "library");
        const CliRun run = ripAfresh({"-f", "wav", "--test-copy", "--log"}, paranoia);
        EXPECT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_EQ(wavData("Weak.wav"), image.mid(300 * sectorBytes));
        const QString log = ReadFileText(out + "/Band - Record.log");
        EXPECT_EQ(log.contains("; re-reads: 1 (CRCs "), !paranoia) << log.toStdString();
        // Where the reads differed: the weak sector, 2 seconds into the second track.
        EXPECT_EQ(log.contains("  Suspicious positions: 00:02.00 (sector 450)\r\n"), !paranoia)
            << log.toStdString();
        EXPECT_FALSE(log.contains("CRC mismatch")) << log.toStdString();
    }
    // No retries allowed: the mismatch stands.
    WriteFileText(home.settingsFile(), "[CommonOptions]\nTestCopyRetries=0\n");
    const CliRun run = ripAfresh({"-f", "wav", "--test-copy"}, false);
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("Track 02 (Weak): CRC mismatch")) << run.err.toStdString();
    const QStringList lines = verdicts(run.err).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << run.err.toStdString();
    // Both WAVs were made (the weak one too: it is all there is of the track), and are named.
    EXPECT_EQ(madeFiles(run.out), QStringList({out + "/Steady.wav", out + "/Weak.wav"}));
    EXPECT_EQ(lines[0], "Track 01: Not verified");
    EXPECT_TRUE(lines[1].startsWith("Track 02: CRC mismatch (copy ")) << lines[1].toStdString();
    EXPECT_EQ(lines[2], "1 track failed; 1 track not verified");
    // Without Test & copy nothing is compared: a single read cannot tell.
    QDir(out).removeRecursively();
    const CliRun single = runCli({"rip", "-f", "wav", "-o", out});
    EXPECT_EQ(single.code, 0);
    EXPECT_EQ(verdicts(single.err), "");
}

TEST_F(AccuracyTest, VerificationAgainstTheDatabaseServedFromFixtures)
{
    disc({"00:01:00,noise", "600,music"});
    titles({"Short", "Long"});
    const TAccurateRipSums first = AccurateRipSums(image.left(75 * sectorBytes), true, false);
    const TAccurateRipSums last = AccurateRipSums(image.mid(75 * sectorBytes), false, true);
    const CliRun toc = runCli({"toc"});
    const uint32_t cddb = toc.out.section("cddb-id ", 1).section('\n', 0, 0).toUInt(nullptr, 16);
    const TAccurateRipDisc id = AccurateRipDiscOf({0, 75}, 675, cddb);
    const QString path = "/accuraterip/" + AccurateRipUrl("", id).section("/accuraterip/", 1);

    CddbTestServer server;
    QByteArray answer;
    int status = 200;
    QStringList asked;
    server.setHandler([&](const QString &target) {
        asked << target;
        return CddbTestServer::Reply{target == path ? status : 404, answer, {}};
    });
    const auto verify = [&](const QStringList &more = {}) {
        QDir(out).removeRecursively();
        return runCli(QStringList{"rip", "-f", "wav", "-o", out, "--verify", "--accuraterip-server",
                                  server.url(), "--quiet"} +
                      more);
    };

    // Track 1 by its v1 sum, track 2 by its v2 sum (in a second block, as the database keeps them); a block
    // of other disc ids holding other sums is no part of it.
    TAccurateRipDisc other = id;
    other.Id1 ^= 1;
    answer = AccurateRipAnswerBlock(other, {{99, 0x11111111}, {99, 0x22222222}}) +
             AccurateRipAnswerBlock(id, {{7, first.V1}, {7, 0x12345678}}) +
             AccurateRipAnswerBlock(id, {{4, 0x9ABCDEF0}, {4, last.V2}});
    CliRun run = verify({"--json", "--require-verified"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, "Track 01: verified (confidence 7, v1)\n"
                       "Track 02: verified (confidence 4, v2)\n"
                       "All tracks accurately ripped\n");
    EXPECT_EQ(asked.value(0), path);
    // --json: one document with the files and every track's result.
    const QJsonObject document = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(document.value("files").toArray().size(), 2) << run.out.toStdString();
    EXPECT_EQ(document.value("tracks").toArray().at(1).toObject().value("result").toString(), "verified");
    EXPECT_EQ(document.value("exit_status").toInt(-1), 0);

    // A track the database knows otherwise: said, and the exit status says so.
    answer = AccurateRipAnswerBlock(id, {{7, first.V1}, {9, last.V1 ^ 1}});
    run = verify();
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("Track 02: mismatch (database has ")) << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith("1 track not accurately ripped\n"));

    // A disc the database does not know: unknown, exit 0, unless every track must be verified.
    status = 404;
    run = verify();
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "Track 01: unknown (not in the database)\nTrack 02: unknown (not in the database)\n"
                       "2 tracks not verified\n");
    run = verify({"--require-verified", "--json"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("not every track was verified by AccurateRip")) << run.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(run.out.toUtf8())
                  .object()
                  .value("tracks")
                  .toArray()
                  .at(0)
                  .toObject()
                  .value("result"),
              "unknown");

    // An answer cut short: a clear message, nothing judged.
    status = 200;
    answer = AccurateRipAnswerBlock(id, {{7, first.V1}, {7, last.V1}}).left(20);
    run = verify();
    EXPECT_TRUE(run.err.contains("The AccurateRip answer is cut short (20 bytes).")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Track 01: unknown (the database could not be asked)"))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith("2 tracks not verified\n"));
}

TEST_F(AccuracyTest, RipLogAndCueSheet)
{
    disc({"300,music", "200,noise", "100,tone", "--pregap", "3=30"});
    titles({"Opening", "Say \"Hi\"", "Close"});
    const CliRun run =
        runCli({"rip", "-f", "flac", "-o", out, "--log", "--cue", "--offset", "6", "--test-copy"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    // The files made, one a line (the log and cue sheet as soon as the last track is read).
    QStringList made = madeFiles(run.out);
    made.sort();
    EXPECT_EQ(made, QStringList({out + "/Band - Record.cue", out + "/Band - Record.log", out + "/Close.flac",
                                 out + "/Opening.flac", out + "/Say Hi.flac"}))
        << run.out.toStdString();
    const QString log = ReadFileText(out + "/Band - Record.log");
    const QString cue = ReadFileText(out + "/Band - Record.cue");
    for (const char *line :
         {"Read mode: CD access calls", "Paranoia: off", "Read offset correction: +6 samples (given)",
          "Test & copy: on", "Artist: Band", "Album: Record", "AccurateRip: not asked",
          "  File: Opening.flac", "  Length: 0:04.00", "  Length: 0:01.33", "  Read errors: 0"})
        EXPECT_TRUE(log.contains(line)) << line << "\n" << log.toStdString();
    EXPECT_TRUE(log.trimmed().endsWith("3 tracks not verified"));
    // The table of contents as cd-info reads the image: each track's first and last sector.
    QByteArray info;
    RunProgram("cd-info", {"--no-header", "--no-device-info", "--cue-file", images + "disc.cue"}, &info);
    static const QRegularExpression row("\\s*(\\d+): \\d\\d:\\d\\d:\\d\\d\\s+(\\d+) (audio|leadout)");
    QList<int> starts;
    for (auto m = row.globalMatch(QString(info)); m.hasNext();)
        starts << m.next().captured(2).toInt();
    ASSERT_EQ(starts.size(), 4) << info.toStdString();
    for (int t = 0; t < 3; ++t)
        EXPECT_TRUE(QRegularExpression(QString("\r\n +%1 +\\S+ +\\S+ +%2 +%3  audio\r\n")
                                           .arg(t + 1)
                                           .arg(starts[t])
                                           .arg(starts[t + 1] - 1))
                        .match(log)
                        .hasMatch())
            << t << log.toStdString();
    EXPECT_TRUE(log.contains(QString("  Lead-out ")) && log.contains(QString::number(starts[3]) + "\r\n"));
    // The copy CRCs are zlib's CRC-32 of the audio written (checked by Python's zlib).
    const QString script = home.root() + "/crc.py";
    ASSERT_TRUE(WriteFileText(script, "import sys, zlib\nfor f in sys.argv[1:]:\n"
                                      "    print('%08X' % zlib.crc32(open(f, 'rb').read()))\n"));
    QStringList raws;
    for (const char *name : {"Opening.flac", "Say Hi.flac", "Close.flac"}) {
        const QString raw = home.root() + "/" + name + ".raw";
        ASSERT_TRUE(decodeFlac(name, raw)) << name;
        raws << raw;
    }
    QByteArray crcs;
    ASSERT_EQ(RunProgram("python3", QStringList{script} + raws, &crcs), 0);
    for (const QString &crc : QString::fromLatin1(crcs).split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(log.contains("  Copy CRC: " + crc + "\r\n  Test CRC: " + crc + "\r\n"))
            << crc.toStdString();

    // cd-paranoia and libcdio read only single-image cue sheets; this one names a file a track, so it is
    // read back here line by line: every FILE exists, each holds TRACK nn AUDIO and INDEX 01 00:00:00.
    QStringList lines = cue.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2 + 5 + 5 + 4 + 2) << cue.toStdString();
    EXPECT_EQ(lines[0], "PERFORMER \"Band\"");
    EXPECT_EQ(lines[1], "TITLE \"Record\"");
    const QStringList files{"Opening.flac", "Say Hi.flac", "Close.flac"};
    const QStringList names{"Opening", "Say 'Hi'", "Close"};
    // Track 3 begins in track 2's file with its pregap (the last 30 sectors, 200 - 30 = 170 = 00:02:20);
    // its own file holds its INDEX 01. One TRACK line a track.
    EXPECT_EQ(lines.mid(12),
              QStringList({"  TRACK 03 AUDIO", "    TITLE \"Close\"", "    PERFORMER \"Band\"",
                           "    INDEX 00 00:02:20", "FILE \"Close.flac\" WAVE", "    INDEX 01 00:00:00"}));
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(lines[2 + t * 5], "FILE \"" + files[t] + "\" WAVE");
        EXPECT_EQ(lines[3 + t * 5], QString("  TRACK 0%1 AUDIO").arg(t + 1));
        EXPECT_EQ(lines[4 + t * 5], "    TITLE \"" + names[t] + "\"");
        EXPECT_EQ(lines[5 + t * 5], "    PERFORMER \"Band\"");
        EXPECT_EQ(lines[6 + t * 5], "    INDEX 01 00:00:00");
    }
    for (const QString &file : files)
        EXPECT_TRUE(QFileInfo::exists(out + "/" + file)) << file.toStdString();
}

// The codes a disc carries (its catalogue number, ISRCs, a pre-emphasised track) reach toc, the cue sheet,
// the log and the tags, as cd-info, metaflac and mutagen read them; a catalogue number whose check digit is
// wrong is no barcode.
TEST_F(AccuracyTest, DiscCodesReachTocCueLogAndTags)
{
    for (const QString mcn : {"4006381333931", "4006381333932"}) {
        SCOPED_TRACE(mcn.toStdString());
        disc({"--catalog", mcn, "--isrc", "1=USRC17607839", "--isrc", "2=GBAYE0000351", "--pre", "2", "150",
              "150"});
        titles({"Opening", "Close"});
        QByteArray info;
        RunProgram("cd-info", {"--no-header", "--no-device-info", "--cue-file", images + "disc.cue"}, &info);
        ASSERT_TRUE(info.contains("Media Catalog Number (MCN): " + mcn.toLatin1())) << info.toStdString();
        ASSERT_TRUE(QRegularExpression(" 2: \\S+ +\\d+ audio .* yes\n").match(QString(info)).hasMatch());

        const QJsonObject toc = QJsonDocument::fromJson(runCli({"toc", "--json"}).out.toUtf8()).object();
        EXPECT_EQ(toc.value("mcn").toString(), mcn);
        const QJsonArray tracks = toc.value("tracks").toArray();
        EXPECT_EQ(tracks[0].toObject().value("isrc").toString(), "USRC17607839");
        EXPECT_FALSE(tracks[0].toObject().value("preemphasis").toBool());
        EXPECT_TRUE(tracks[1].toObject().value("preemphasis").toBool()); // as cd-info says

        ASSERT_EQ(ripAfresh({"-f", "flac,mp3", "--tags", "--cue", "--log", "--no-replaygain"}, false).code,
                  0);
        const bool barcode = mcn.endsWith('1');
        QByteArray flacTags;
        RunProgram("metaflac", {"--export-tags-to=-", out + "/FLAC/Close.flac"}, &flacTags);
        EXPECT_TRUE(flacTags.contains("ISRC=GBAYE0000351\n")) << flacTags.toStdString();
        EXPECT_EQ(flacTags.contains("BARCODE=" + mcn.toLatin1()), barcode) << flacTags.toStdString();
        const QJsonObject mp3 = JudgedTags(out + "/MP3/Opening.mp3").value("tags").toObject();
        EXPECT_EQ(mp3.value("TSRC").toArray().first().toString(), "USRC17607839");
        EXPECT_EQ(mp3.contains("TXXX:BARCODE"), barcode);
        const QString cue = ReadFileText(out + "/FLAC/Band - Record.cue");
        EXPECT_TRUE(cue.startsWith("CATALOG " + mcn + "\r\n")) << cue.toStdString();
        EXPECT_TRUE(
            cue.contains("TRACK 02 AUDIO\r\n    TITLE \"Close\"\r\n    PERFORMER \"Band\"\r\n    FLAGS "
                         "PRE\r\n    ISRC GBAYE0000351\r\n"))
            << cue.toStdString();
        const QString log = ReadFileText(out + "/FLAC/Band - Record.log");
        EXPECT_TRUE(log.contains("Catalogue number: " + mcn)) << log.toStdString();
        EXPECT_TRUE(log.contains("  ISRC: GBAYE0000351\r\n  Pre-emphasis: yes")) << log.toStdString();
    }
    // Made from kept WAVs (which hold no tags), the other formats get the disc's tags all the same.
    ASSERT_EQ(ripAfresh({"-f", "wav,flac,mp3", "--tags", "--no-replaygain"}, false).code, 0);
    QByteArray flacTags;
    RunProgram("metaflac", {"--export-tags-to=-", out + "/FLAC/Close.flac"}, &flacTags);
    EXPECT_TRUE(flacTags.contains("TITLE=Close\n") && flacTags.contains("ISRC=GBAYE0000351\n"))
        << flacTags.toStdString();
    const QJsonObject mp3 = JudgedTags(out + "/MP3/Close.mp3").value("tags").toObject();
    EXPECT_EQ(mp3.value("TSRC").toArray().first().toString(), "GBAYE0000351");
    EXPECT_EQ(mp3.value("TIT2").toArray().first().toString(), "Close");
}

// --deemphasis undoes the pre-emphasis of the tracks the disc flags, on both read paths, as sox's deemph
// effect does (each track's level within 0.1 dB); a track without the flag is left as read; the files say so
// in their tags, the log says so, and the cue sheet no longer flags them.
TEST_F(AccuracyTest, DeemphasisMatchesSoxOnFlaggedTracksOnly)
{
    disc({"--pre", "1", "--pre", "2", "--pre", "3", "150,tone:5000", "150,tone:12000", "150,noise",
          "150,noise"});
    titles({"A", "B", "C", "D"});
    const auto rmsLevel = [](const QString &file) {
        QByteArray stats;
        RunProgram("sox", {file, "-n", "stats"}, &stats);
        const QRegularExpressionMatch m = QRegularExpression("RMS lev dB +(\\S+)").match(QString(stats));
        return m.hasMatch() ? m.captured(1).toDouble() : 999.0;
    };
    for (const bool paranoia : {false, true}) {
        SCOPED_TRACE(paranoia ? "paranoia" : "library");
        const QString plain = home.root() + "/plain";
        QDir(plain).removeRecursively();
        ASSERT_EQ(runCli(QStringList{"rip", "-f", "wav", "-o", plain} +
                         (paranoia ? QStringList{"--paranoia"} : QStringList{}))
                      .code,
                  0);
        ASSERT_EQ(ripAfresh({"-f", "flac,wav", "--deemphasis", "--tags", "--log", "--cue", "--no-replaygain"},
                            paranoia)
                      .code,
                  0);
        for (const char *name : {"A", "B", "C"}) {
            const QString sox = home.root() + "/sox.wav";
            ASSERT_EQ(RunProgram("sox", {plain + "/" + name + ".wav", sox, "deemph"}), 0);
            EXPECT_NEAR(rmsLevel(out + "/WAV/" + name + ".wav"), rmsLevel(sox), 0.1) << name;
            EXPECT_LT(rmsLevel(out + "/WAV/" + name + ".wav"), rmsLevel(plain + "/" + name + ".wav") - 1)
                << name;
        }
        ASSERT_TRUE(decodeFlac("FLAC/D.flac", home.root() + "/d.raw"));
        EXPECT_EQ(ReadFileBytes(home.root() + "/d.raw"), ReadFileBytes(plain + "/D.wav").mid(44));
        QByteArray tags;
        RunProgram("metaflac", {"--export-tags-to=-", out + "/FLAC/C.flac"}, &tags);
        EXPECT_TRUE(tags.contains("DEEMPHASIS=yes")) << tags.toStdString();
        RunProgram("metaflac", {"--export-tags-to=-", out + "/FLAC/D.flac"}, &tags);
        EXPECT_FALSE(tags.contains("DEEMPHASIS")) << tags.toStdString();
        EXPECT_TRUE(
            ReadFileText(out + "/FLAC/Band - Record.log").contains("Pre-emphasis: yes (de-emphasised)"));
        EXPECT_FALSE(ReadFileText(out + "/FLAC/Band - Record.cue").contains("FLAGS PRE"));
    }
}

// Audio hidden before track 1 (its pregap from the disc's start): --htoa rips it as track 0, exactly the
// image's first sectors as flac decodes them, tagged, in the cue sheet as track 1's INDEX 00 in a file of its
// own, "not in the database" for AccurateRip without failing the verification. Silence there is no track.
TEST_F(AccuracyTest, HiddenAudioBeforeTrackOneIsTrackZero)
{
    const auto hide = [this] {
        WriteFileText(images + "disc.cue",
                      ReadFileText(images + "disc.cue")
                          .replace("TRACK 01 AUDIO\n    INDEX 01 00:00:00",
                                   "TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:05:00"));
    };
    disc({"700,music", "300,noise"});
    hide();
    titles({"Opening", "Close"});
    EXPECT_EQ(QJsonDocument::fromJson(runCli({"toc", "--json"}).out.toUtf8())
                  .object()
                  .value("hidden_track_sectors"),
              375);
    CddbTestServer server;
    server.setHandler([](const QString &) { return CddbTestServer::Reply{404, {}, {}}; });
    const CliRun rip = ripAfresh({"-f", "flac", "--htoa", "--tags", "--cue", "--verify", "--require-verified",
                                  "--accuraterip-server", server.url(), "--no-replaygain"},
                                 false);
    EXPECT_EQ(rip.code, 1) << rip.err.toStdString(); // the disc's own tracks are unknown to the database
    EXPECT_TRUE(rip.err.contains("Track 00: unknown (not in the database)")) << rip.err.toStdString();
    EXPECT_EQ(flacSamples("00 - Hidden Track.flac"), image.left(375 * 2352));
    EXPECT_EQ(flacSamples("Opening.flac"), image.mid(375 * 2352, 325 * 2352));
    QByteArray tags;
    RunProgram("metaflac", {"--export-tags-to=-", out + "/00 - Hidden Track.flac"}, &tags);
    EXPECT_TRUE(tags.contains("TITLE=Hidden Track\n")) << tags.toStdString();
    EXPECT_TRUE(ReadFileText(out + "/Band - Record.cue")
                    .contains("FILE \"00 - Hidden Track.flac\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE "
                              "\"Opening\"\r\n    PERFORMER \"Band\"\r\n    INDEX 00 00:00:00\r\n"
                              "FILE \"Opening.flac\" WAVE\r\n    INDEX 01 00:00:00\r\n"))
        << ReadFileText(out + "/Band - Record.cue").toStdString();

    disc({"700,music", "300,noise"});
    QFile bin(images + "disc.bin");
    ASSERT_TRUE(bin.open(QIODevice::ReadWrite) && bin.write(QByteArray(375 * 2352, '\0')) == 375 * 2352);
    bin.close();
    hide();
    EXPECT_FALSE(runCli({"toc"}).out.contains("hidden-track"));
    ASSERT_EQ(ripAfresh({"-f", "wav", "--htoa"}, false).code, 0);
    EXPECT_FALSE(QFileInfo::exists(out + "/00 - Hidden Track.wav"));
    EXPECT_TRUE(QFileInfo::exists(out + "/Opening.wav"));
}

// rip --image: one FLAC of the whole disc that flac -t passes, whose CUESHEET block metaflac exports as the
// disc's own layout (indexes, ISRC, catalogue number), and whose samples cut at those indexes are the
// per-track rip's; a cue sheet beside it; the same as one WAV. The tracks' WAVs go once the image is made.
TEST_F(AccuracyTest, SingleFileImageHoldsTheDiscsLayout)
{
    disc({"--pregap", "2=30", "--pregap", "3=75", "--isrc", "2=GBAYE0000351", "--catalog", "4006381333931",
          "300,music", "200,noise", "250,music"});
    titles({"Opening", "Say Hi", "Close"});
    const auto layout = [](const QString &cue) {
        QStringList lines;
        for (const QString &line : cue.split(QRegularExpression("\r?\n")))
            if (QRegularExpression("^\\s*(TRACK \\d+|INDEX \\d+|ISRC|CATALOG)").match(line).hasMatch())
                lines << line.simplified().remove(" AUDIO");
        return lines;
    };
    ASSERT_EQ(ripAfresh({"-f", "wav"}, false).code, 0);
    const QString tracks = home.root() + "/tracks";
    ASSERT_TRUE(QDir().rename(out, tracks));

    const CliRun rip = ripAfresh({"-f", "flac", "--image", "--log"}, false);
    ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
    const QString flac = out + "/Band - Record.flac";
    EXPECT_EQ(rip.out, flac + "\n" + out + "/Band - Record.log\n" + out + "/Band - Record.cue\n");
    EXPECT_EQ(QDir(out).entryList({"*.wav"}, QDir::Files), QStringList());
    EXPECT_EQ(RunProgram("flac", {"-t", "-s", flac}), 0);
    QByteArray imageTags;
    RunProgram("metaflac", {"--export-tags-to=-", flac}, &imageTags);
    EXPECT_TRUE(imageTags.contains("ALBUM=Record\n") && imageTags.contains("ARTIST=Band\n") &&
                !imageTags.contains("TITLE=") && !imageTags.contains("TRACKTOTAL="))
        << imageTags.toStdString();
    QByteArray exported;
    ASSERT_EQ(RunProgram("metaflac", {"--export-cuesheet-to=-", flac}, &exported), 0);
    const QStringList expected = layout(ReadFileText(images + "disc.cue"));
    ASSERT_EQ(expected.size(), 10); // CATALOG, three TRACKs, five INDEXes, ISRC
    EXPECT_EQ(layout(QString::fromUtf8(exported)), expected) << exported.toStdString();
    const QString cue = ReadFileText(out + "/Band - Record.cue");
    EXPECT_EQ(layout(cue), expected) << cue.toStdString();
    EXPECT_TRUE(
        cue.contains("FILE \"Band - Record.flac\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"Opening\""));
    EXPECT_TRUE(ReadFileText(out + "/Band - Record.log").contains("File: Band - Record.flac"));

    const QByteArray samples = flacSamples("Band - Record.flac");
    int64_t at = 0;
    for (const QString name : {"Opening", "Say Hi", "Close"}) {
        const QByteArray track = ReadFileBytes(tracks + "/" + name + ".wav").mid(44);
        EXPECT_EQ(samples.mid(at, track.size()), track) << name.toStdString();
        at += track.size();
    }
    EXPECT_EQ(at, samples.size());

    ASSERT_EQ(ripAfresh({"-f", "wav", "--image"}, false).code, 0);
    EXPECT_EQ(ReadFileBytes(out + "/Band - Record.wav").mid(44), samples);
    EXPECT_EQ(QDir(out).entryList({"*.wav"}, QDir::Files), QStringList({"Band - Record.wav"}));
    EXPECT_EQ(ripAfresh({"-f", "mp3", "--image"}, false).code, 2);
}

// A disc read through a simulated damaged drive (the image's damage profile): whatever the damage, a track
// whose file differs from the clean disc's audio is never said to be verified, and the run never ends well
// with --test-copy and --verify; the damage each path can mend is mended, bit for bit.
enum class Outcome {
    Mended,
    Shows,
    Either
}; // every file equals the clean audio, and the run ends well;
   // the damage shows in a file; either (nothing promised)

struct DamageCase {
    const char *name;
    QStringList damage; // --damage KEY=VALUE each
    bool paranoia;
    Outcome outcome;
    const char *said = "";              // what the run must say of it
    const char *logged = "";            // and its log
    std::pair<int, int> silent{-1, -1}; // sectors that must be silence in the files, all else exact
};

class DamageTest : public AccuracyTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamageTest, NoDamagedTrackPassesForAGoodOne)
{
    const DamageCase &c = GetParam();
    // A new seed each run; a failing run says how to repeat it (SONDREL_DAMAGE_SEED=N).
    const QString given = qEnvironmentVariable("SONDREL_DAMAGE_SEED");
    const QString seed =
        given.isEmpty() ? QString::number(QDateTime::currentMSecsSinceEpoch() % 100000) : given;
    SCOPED_TRACE(("SONDREL_DAMAGE_SEED=" + seed).toStdString());
    QStringList arguments{"--damage", "seed=" + seed};
    for (const QString &d : c.damage)
        arguments << "--damage" << d;
    disc(arguments + QStringList{"300,music", "300,music", "300,music"}); // track 2 holds sectors 300-599
    titles({"One", "Two", "Three"});
    // The database's answer holds the clean disc's checksums as whipper computes them, at the path whipper
    // asks for this disc.
    const QString judge = QStringLiteral(SONDREL_SOURCE_DIR "/tests/judges/disc_judge.py");
    QByteArray judged;
    ASSERT_EQ(RunProgram("/usr/bin/python3", {judge, "disc", images + "disc.cue"}, &judged), 0);
    const QJsonObject disc = QJsonDocument::fromJson(judged).object();
    const QString path = "/accuraterip/" + disc.value("accuraterip_path").toString();
    const QJsonArray ids = disc.value("accuraterip_ids").toArray();
    TAccurateRipDisc id;
    id.TrackCount = 3;
    id.Id1 = uint32_t(ids.at(0).toString().toUInt(nullptr, 16));
    id.Id2 = uint32_t(ids.at(1).toString().toUInt(nullptr, 16));
    id.CddbId = uint32_t(disc.value("cddb").toString().toUInt(nullptr, 16));
    QStringList wavs;
    for (int t = 0; t < 3; ++t) {
        wavs << home.root() + QString("/clean%1.wav").arg(t + 1);
        const QByteArray audio = image.mid(t * 300 * sectorBytes, 300 * sectorBytes);
        QFile wav(wavs.back());
        ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
        wav.write(CdAudioWavHeader(uint32_t(audio.size())) + audio);
    }
    ASSERT_EQ(RunProgram("/usr/bin/python3", QStringList{judge, "sums"} + wavs, &judged), 0);
    std::vector<std::pair<int, uint32_t>> sums;
    for (const QJsonValue v1 : QJsonDocument::fromJson(judged).object().value("v1").toArray())
        sums.emplace_back(5, v1.toString().toUInt(nullptr, 16));
    ASSERT_EQ(sums.size(), 3u) << judged.toStdString();
    CddbTestServer server;
    const QByteArray answer = AccurateRipAnswerBlock(id, sums);
    server.setHandler([&](const QString &target) {
        return CddbTestServer::Reply{target == path ? 200 : 404, answer, {}};
    });

    const CliRun run = ripAfresh(
        {"-f", "wav", "--test-copy", "--verify", "--log", "--json", "--accuraterip-server", server.url()},
        c.paranoia);
    const QStringList lines = verdicts(run.err).split('\n', Qt::SkipEmptyParts);
    const QJsonArray results = QJsonDocument::fromJson(run.out.toUtf8()).object().value("tracks").toArray();
    const QString log = ReadFileText(out + "/Band - Record.log");
    bool allSame = true;
    int n = 0;
    for (const char *name : {"One.wav", "Two.wav", "Three.wav"}) {
        const bool same = QFileInfo::exists(out + "/" + name) &&
                          wavData(name) == image.mid(n * 300 * sectorBytes, 300 * sectorBytes);
        const QString line = lines.value(n);
        const QString result = results.at(n++).toObject().value("result").toString();
        allSame = allSame && same;
        if (!same) {
            EXPECT_FALSE(line.contains("verified (")) << name << ": " << run.err.toStdString();
            EXPECT_NE(result, "verified") << name;
        }
        // A track said to be damaged is so in --json and in the log too.
        if (line.contains(": damaged: ")) {
            EXPECT_EQ(result, "damaged") << run.out.toStdString();
            EXPECT_TRUE(log.contains("  Status: damaged")) << log.toStdString();
        }
    }
    if (!allSame) {
        EXPECT_NE(run.code, 0) << run.err.toStdString();
    }
    if (c.silent.first >= 0) {
        QByteArray expected = image;
        expected.replace(c.silent.first * sectorBytes, (c.silent.second - c.silent.first + 1) * sectorBytes,
                         QByteArray((c.silent.second - c.silent.first + 1) * sectorBytes, '\0'));
        n = 0;
        for (const char *name : {"One.wav", "Two.wav", "Three.wav"})
            EXPECT_TRUE(wavData(name) == expected.mid(n++ * 300 * sectorBytes, 300 * sectorBytes)) << name;
    }
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.said))) << run.err.toStdString();
    EXPECT_TRUE(log.contains(QString::fromUtf8(c.logged))) << log.toStdString();
    if (c.outcome == Outcome::Mended) {
        EXPECT_TRUE(allSame) << run.err.toStdString();
        EXPECT_EQ(run.code, 0) << run.err.toStdString();
    } else if (c.outcome == Outcome::Shows) {
        EXPECT_FALSE(allSame) << "the damage did not show: " << run.err.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DamageTest,
    ::testing::Values(
        // The checking reader aligns its reads with one another, not with the disc: a read that landed off
        // early can set where the whole disc is taken from.
        DamageCase{"JitterThroughTheCheckingReader", {"jitter=40"}, true, Outcome::Either},
        DamageCase{"JitterThroughTheLibrary", {"jitter=40"}, false, Outcome::Either},
        // Off on every seek: Test & copy's reads never agree, and the log says why.
        DamageCase{"JitterOnEverySeekThroughTheLibrary",
                   {"jitter=40", "jitter_rate=1"},
                   false,
                   Outcome::Shows,
                   "",
                   "  Jitter: a read began off where it was asked to start, at 00:00.00 (sector 0); "},
        DamageCase{"FlakyMendedByTestAndCopy",
                   {"flaky=450-452", "c2=0"},
                   false,
                   Outcome::Mended,
                   "",
                   "C2 error pointers: not offered by the drive"},
        DamageCase{
            "FlakyMendedByC2Pointers",
            {"flaky=450-452"},
            false,
            Outcome::Mended,
            "",
            "  C2 errors: 3 sectors flagged (from sector 450), each read again until a read came clean\r\n"},
        DamageCase{"FlakyMendedByTheCheckingReader", {"flaky=450-452"}, true, Outcome::Mended},
        DamageCase{"WrongThroughTheLibrary", {"wrong=450"}, false, Outcome::Shows},
        DamageCase{"WrongThroughTheCheckingReader", {"wrong=450"}, true, Outcome::Shows},
        DamageCase{"UnreadableThroughTheLibrary",
                   {"unreadable=450-461"},
                   false,
                   Outcome::Shows,
                   "Track 02: damaged: 12 sectors unreadable at 00:02.00–00:02.11",
                   "  Status: damaged",
                   {450, 461}},
        DamageCase{"UnreadableThroughTheCheckingReader",
                   {"unreadable=450-461"},
                   true,
                   Outcome::Shows,
                   "Track 02: damaged: 12 sectors unreadable at 00:02.00–00:02.11",
                   "  Status: damaged",
                   {450, 461}},
        DamageCase{"SlowThroughTheLibrary", {"slow=3"}, false, Outcome::Mended},
        DamageCase{"SlowThroughTheCheckingReader", {"slow=3"}, true, Outcome::Mended}),
    [](const ::testing::TestParamInfo<DamageCase> &param) { return std::string(param.param.name); });

} // namespace

namespace {

// A slow drive (every read 20 ms late): the rip moves on, and a stop in the middle of a long track is
// answered at once, not after the track, on both read paths.
class SlowDriveTest : public AccuracyTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SlowDriveTest, StopIsAnsweredInTheMiddleOfATrack)
{
    disc({"--damage", "slow=20", "6000,music"}); // a minute and a half: at least 12 s of reading
    QProcess cli;
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.start(BuiltProgram("sondrel-cli"),
              QStringList{"rip", "-f", "wav", "-o", out, "--quiet", "--lookup", "none"} +
                  (GetParam() ? QStringList{"--paranoia"} : QStringList{}));
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(WaitFor(
        [&] { return GrowingWorkingFile(out + "/Track01.wav") || cli.state() != QProcess::Running; }, 60000));
    ASSERT_TRUE(SignalProcess(cli, SIGTERM)) << "the rip ended before the stop";
    QElapsedTimer stopping;
    stopping.start();
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 130);
    // Well short of the rest of the track (a bound loose enough for a loaded machine).
    EXPECT_LT(stopping.elapsed(), 5000);
    EXPECT_FALSE(QFileInfo::exists(out + "/Track01.wav"));
}

INSTANTIATE_TEST_SUITE_P(Paths, SlowDriveTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &param) {
                             return std::string(param.param ? "ThroughTheCheckingReader"
                                                            : "ThroughTheLibrary");
                         });

} // namespace

namespace {

// rip --resume after a rip with a damaged track, the disc now read well: only that track is read again (its
// damaged file replaced), the others' files stay as they were, and the new log says which tracks were kept.
// A log naming a file outside the folder keeps nothing of it.
TEST_F(AccuracyTest, ResumeReadsAgainOnlyWhatFailed)
{
    disc({"--damage", "unreadable=450-461", "300,music", "300,music", "300,music"});
    titles({"One", "Two", "Three"});
    ASSERT_EQ(ripAfresh({"-f", "wav", "--log"}, false).code, 1);
    const QString log = out + "/Band - Record.log";
    ASSERT_TRUE(ReadFileText(log).contains("  Status: damaged"));
    QFile::remove(images + "disc.cue.damage"); // a cleaned disc
    QFile one(out + "/One.wav");
    ASSERT_TRUE(one.setPermissions(QFileDevice::ReadOwner)); // a kept file is never written again
    const QDateTime before = QFileInfo(out + "/Three.wav").lastModified();

    const CliRun resumed = runCli({"rip", "-o", out, "-f", "wav", "--resume"});
    ASSERT_EQ(resumed.code, 0) << resumed.err.toStdString();
    EXPECT_EQ(resumed.out, out + "/Two.wav\n" + log + "\n");
    EXPECT_TRUE(resumed.err.contains("resuming the rip of " + log + ": tracks 01, 03 kept"))
        << resumed.err.toStdString();
    for (int t = 0; t < 3; ++t)
        EXPECT_TRUE(wavData(QStringList{"One.wav", "Two.wav", "Three.wav"}[t]) ==
                    image.mid(t * 300 * sectorBytes, 300 * sectorBytes))
            << t;
    EXPECT_EQ(QFileInfo(out + "/Three.wav").lastModified(), before);
    const QString text = ReadFileText(log);
    EXPECT_TRUE(text.contains("Resumed: tracks kept from the earlier run: 01, 03\r\n")) << text.toStdString();
    EXPECT_EQ(text.count("  Kept from the earlier run"), 2) << text.toStdString();
    EXPECT_EQ(text.count("  Status: copied"), 3) << text.toStdString();

    // Everything read well: nothing is read again.
    const CliRun nothing = runCli({"rip", "-o", out, "-f", "wav", "--resume"});
    EXPECT_EQ(nothing.code, 0);
    EXPECT_TRUE(nothing.err.contains("nothing to read again")) << nothing.err.toStdString();
    // Files of another format are not what a FLAC rip makes: nothing is kept, and with nothing to go on
    // from, the WAVs are asked about before the rip's own WAVs take their names.
    const CliRun flac = runCli({"rip", "-o", out, "-f", "flac", "--resume", "--no-overwrite", "--quiet"});
    EXPECT_TRUE(flac.err.contains(log + ": a rip to files of another format: every track is read"))
        << flac.err.toStdString();
    EXPECT_TRUE(ReadFileText(log).contains("  File: Three.wav")); // not the FLAC rip's log

    // A log that names a file outside the folder (or a hidden one) as a track's keeps nothing.
    QString hostile = text;
    hostile.replace("  File: One.wav", "  File: ../One.wav").replace("  File: Two.wav", "  File: .Two.wav");
    WriteFileText(log, hostile);
    const CliRun outside = runCli({"rip", "-o", out, "-f", "wav", "--resume", "--quiet"});
    EXPECT_TRUE(outside.err.contains(": track 03 kept")) << outside.err.toStdString();
}

// The CUETools database beside AccurateRip (which cannot be asked here): a loopback server answers with the
// clean disc's CRCs as Python's zlib counts them over the documented ranges. A clean rip is verified by it; a
// drive that reads two sectors of the second track wrong gives that track a mismatch (exit 1), the others
// still verified; --require-verified takes the tracks the one database verifies.
TEST_F(AccuracyTest, TheCueToolsDatabaseVerifiesAndFindsWrongSectors)
{
    disc({"300,music", "300,noise", "300,music"});
    titles({"One", "Two", "Three"});
    static const char judge[] = R"(
import sys, zlib
data = open(sys.argv[1], 'rb').read()
skip, tracks = 5880, [300 * 588] * 3
end = (sum(tracks) // skip - 1) * skip
bounds = [skip, tracks[0], tracks[0] + tracks[1], end]
crc = lambda a, b: '%08X' % zlib.crc32(data[a * 4:b * 4])
print('<ctdb><entry id="7" confidence="5" crc32="%s" trackcrcs="%s"/></ctdb>' % (crc(bounds[0], bounds[3]),
      ' '.join(crc(bounds[i], bounds[i + 1]) for i in range(3))))
)";
    QByteArray answer;
    ASSERT_EQ(RunProgram("python3", {"-c", judge, images + "disc.bin"}, &answer), 0) << answer.toStdString();
    CddbTestServer ctdb;
    QStringList asked;
    ctdb.setHandler([&](const QString &target) {
        asked << target;
        return CddbTestServer::Reply{200, answer, {}};
    });
    const QStringList verify{"-f",
                             "flac",
                             "--verify",
                             "--log",
                             "--json",
                             "--accuraterip-server",
                             "http://127.0.0.1:1",
                             "--ctdb-server",
                             ctdb.url()};
    CliRun run = ripAfresh(verify, false);
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(asked, QStringList({"/lookup2.php?version=3&ctdb=1&fuzzy=1&toc=0:300:600:900"}));
    EXPECT_EQ(verdicts(run.err).count("verified (AccurateRip could not be asked; CTDB confidence 5)"), 3)
        << run.err.toStdString();
    const QString log = ReadFileText(out + "/Band - Record.log");
    EXPECT_TRUE(log.contains("CUETools database: the disc verified (confidence 5, offset 0) (TOC id "))
        << log.toStdString();

    WriteFileText(images + "disc.cue.damage", "[damage]\nwrong=400-401\n");
    run = ripAfresh(verify + QStringList{"--require-verified"}, false);
    EXPECT_EQ(run.code, 1);
    const QStringList lines = verdicts(run.err).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3) << run.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith("Track 01: verified")) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "Track 02: mismatch (AccurateRip could not be asked; CTDB no entry has this track)");
    EXPECT_TRUE(lines[2].startsWith("Track 03: verified")) << lines[2].toStdString();
    const QJsonArray tracks = QJsonDocument::fromJson(run.out.toUtf8()).object().value("tracks").toArray();
    ASSERT_EQ(tracks.size(), 3) << run.out.toStdString();
    EXPECT_EQ(tracks[1].toObject().value("ctdb").toString(), "mismatch (no entry has this track)");
}

// A drive that reads two sectors wrong, and the CUETools database's recovery record (made for the test by
// libfec's Reed-Solomon encoder over the clean image's audio): repair makes the files bit-exact to the clean
// disc, keeps the damaged one beside, and records it in the log; damage too wide for the record is refused
// and nothing is changed.
TEST_F(AccuracyTest, RepairMendsARipFromTheRecoveryRecord)
{
    disc({"300,music", "300,noise", "300,music", "--damage", "wrong=400-401"});
    titles({"One", "Two", "Three"});
    static const char database[] = R"(
import sys, zlib
data = open(sys.argv[1], 'rb').read()
skip, total = 5880, 900 * 588
end = (total // skip - 1) * skip
bounds = [skip, 300 * 588, 600 * 588, end]
crc = lambda a, b: '%08X' % zlib.crc32(data[a * 4:b * 4])
open(sys.argv[2], 'w').write('<ctdb><entry id="7" confidence="5" npar="16" stride="5880" hasparity="/parity/7" '
    'crc32="%s" trackcrcs="%s"/></ctdb>' % (crc(bounds[0], bounds[3]), ' '.join(crc(bounds[i], bounds[i + 1]) for i in range(3))))
)";
    const QString answer = home.root() + "/answer.xml", record = home.root() + "/record.bin";
    ASSERT_EQ(RunProgram("python3", {"-c", database, images + "disc.bin", answer}), 0);
    ASSERT_EQ(
        RunProgram("python3", {SONDREL_SOURCE_DIR "/tests/judges/recovery_record.py", images + "disc.bin",
                               QString::number((900 * 588 / 5880 - 1) * 5880), record}),
        0);
    CddbTestServer ctdb;
    ctdb.setHandler([&](const QString &target) {
        if (target == "/parity/7")
            return CddbTestServer::Reply{200, ReadFileBytes(record), {}};
        return CddbTestServer::Reply{200, ReadFileBytes(answer), {}};
    });
    const CliRun rip = ripAfresh({"-f", "wav", "--verify", "--log", "--accuraterip-server",
                                  "http://127.0.0.1:1", "--ctdb-server", ctdb.url()},
                                 false);
    EXPECT_EQ(rip.code, 1);
    EXPECT_TRUE(rip.err.contains("Track 02: mismatch")) << rip.err.toStdString();
    const QByteArray damaged = ReadFileBytes(out + "/Two.wav");
    ASSERT_NE(damaged.mid(44), image.mid(300 * sectorBytes, 300 * sectorBytes));

    const CliRun repair = runCli({"repair", out, "--ctdb-server", ctdb.url()});
    ASSERT_EQ(repair.code, 0) << repair.err.toStdString();
    EXPECT_TRUE(
        repair.out.startsWith("Repaired from the CUETools database (entry 7, confidence 5): track 02: "))
        << repair.out.toStdString();
    for (int t = 0; t < 3; ++t)
        EXPECT_TRUE(wavData(QStringList{"One.wav", "Two.wav", "Three.wav"}[t]) ==
                    image.mid(t * 300 * sectorBytes, 300 * sectorBytes))
            << t;
    EXPECT_EQ(ReadFileBytes(out + "/Two.wav.damaged"), damaged);
    EXPECT_TRUE(ReadFileText(out + "/Band - Record.log").contains("Repaired from the CUETools database"));
    EXPECT_EQ(runCli({"repair", out, "--ctdb-server", ctdb.url()}).out, "nothing to mend: the rip is the "
                                                                        "database's (confidence 5)\n");

    // A disk that fills while a track is mended: said, nothing changed, no working file left.
    {
        const QString small = home.root() + "/small";
        TinyFileSystem disk(small, 4096);
        if (disk.available()) {
            for (const QString &name : QDir(out).entryList(QDir::Files))
                ASSERT_TRUE(QFile::copy(out + "/" + name, small + "/" + name));
            QByteArray two = ReadFileBytes(small + "/Two.wav");
            two[44 + 150 * sectorBytes] = char(two[44 + 150 * sectorBytes] ^ 0x40);
            ASSERT_TRUE(WriteFileAtomically(small + "/Two.wav", two));
            disk.fill();
            const CliRun full = runCli({"repair", small, "--ctdb-server", ctdb.url()});
            EXPECT_EQ(full.code, 1);
            EXPECT_TRUE(full.err.contains("No space left on device")) << full.err.toStdString();
            EXPECT_EQ(ReadFileBytes(small + "/Two.wav"), two);
            EXPECT_TRUE(QDir(small).entryList({"*.part"}, QDir::Files | QDir::Hidden).isEmpty());
        }
    }

    // rip --repair does the same at the end of the rip, and the run ends well.
    const CliRun mended = ripAfresh({"-f", "wav", "--repair", "--json", "--accuraterip-server",
                                     "http://127.0.0.1:1", "--ctdb-server", ctdb.url()},
                                    false);
    EXPECT_EQ(mended.code, 0) << mended.err.toStdString();
    EXPECT_TRUE(mended.err.contains("Repaired from the CUETools database")) << mended.err.toStdString();
    EXPECT_TRUE(wavData("Two.wav") == image.mid(300 * sectorBytes, 300 * sectorBytes));

    // 82 sectors of the second track wrong: more than the record can find; nothing changes.
    QByteArray wide = ReadFileBytes(out + "/Two.wav");
    for (qsizetype at = 44 + 100 * sectorBytes; at < 44 + 182 * sectorBytes; ++at)
        wide[at] = char(wide[at] ^ 0x33);
    ASSERT_TRUE(WriteFileAtomically(out + "/Two.wav", wide));
    QFile::remove(out + "/Two.wav.damaged");
    const CliRun refused = runCli({"repair", out, "--ctdb-server", ctdb.url()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains("too much damage to mend")) << refused.err.toStdString();
    EXPECT_EQ(ReadFileBytes(out + "/Two.wav"), wide);
    EXPECT_FALSE(QFileInfo::exists(out + "/Two.wav.damaged"));
}

} // namespace
