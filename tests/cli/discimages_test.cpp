// SPDX-License-Identifier: GPL-3.0-or-later
// Disc images as the programs that make them read them: cdrdao TOC files with the layouts `cdrdao show-toc`
// prints for whipper's TOC files and the disc ids whipper computes from them, the samples `cdrdao show-data`
// prints; CUE sheets read from the file their FILE line names; and files that end early or are no files.
#include "clirun.h"
#include "jobs/wavheader.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const QString judge = QStringLiteral(SONDREL_SOURCE_DIR "/tests/judges/toc_judge.py");
const QString whipperTocs = QStringLiteral("/usr/lib/python3/dist-packages/whipper/test/");

QJsonValue judged(const QStringList &arguments)
{
    QByteArray output;
    if (RunProgram("/usr/bin/python3", QStringList{judge} + arguments, &output, 60000) != 0)
        return QJsonValue(QString::fromUtf8(output));
    return QJsonDocument::fromJson(output).isArray() ? QJsonValue(QJsonDocument::fromJson(output).array())
                                                     : QJsonValue(QJsonDocument::fromJson(output).object());
}

// A file of `bytes` bytes that takes no room (a WAVE header first when the name says so).
bool sparseFile(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (path.endsWith(".wav")) {
        file.write(CanonicalWavHeader(2, 44100, 16, uint32_t(bytes)));
        bytes += 44;
    }
    return file.resize(bytes);
}

class DiscImagesOfOtherTools : public DiscImageTest {
protected:
    QJsonObject tocOf(const QString &toc)
    {
        qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(toc));
        const CliRun run = runCli({"toc", "--json"});
        qunsetenv("SONDREL_DISC_IMAGES");
        EXPECT_EQ(run.code, 0) << run.err.toStdString();
        return QJsonDocument::fromJson(run.out.toUtf8()).object();
    }
};

// Every TOC file of whipper's own tests (made by cdrdao from real discs: pregaps of SILENCE before the
// first FILE, START in each track, data tracks of DATAFILE and ZERO first and last, CD-Text with octal
// escapes and a numeric language map) lies where cdrdao puts it, with whipper's disc ids.
TEST_F(DiscImagesOfOtherTools, LaidOutAsCdrdaoLaysThemOut)
{
    const QStringList tocs = QDir(whipperTocs).entryList({"*.toc"});
    ASSERT_GE(tocs.size(), 10) << "whipper's test files are missing";
    const QString folder = home.root() + "/tocs/";
    QDir().mkpath(folder);
    for (const QString &name : tocs) {
        SCOPED_TRACE(name.toStdString());
        const QString toc = folder + name;
        QFile::remove(toc);
        ASSERT_TRUE(QFile::copy(whipperTocs + name, toc));
        static const QRegularExpression file("FILE \"([^\"]+)\"");
        for (auto it = file.globalMatch(ReadFileText(toc)); it.hasNext();) {
            const QString data = folder + it.next().captured(1);
            if (!QFileInfo::exists(data)) {
                ASSERT_TRUE(sparseFile(data, qint64(900) << 20));
            }
        }
        const QJsonObject theirs = judged({"layout", toc}).toObject();
        const QJsonObject cdrdao = theirs.value("cdrdao").toObject();
        ASSERT_FALSE(cdrdao.value("starts").toArray().isEmpty())
            << QJsonDocument(theirs).toJson().toStdString();
        const QJsonObject ours = tocOf(toc);
        QJsonArray starts;
        for (const QJsonValue &track : ours.value("tracks").toArray())
            starts.append(track.toObject().value("start"));
        EXPECT_EQ(starts, cdrdao.value("starts").toArray());
        EXPECT_EQ(ours.value("leadout"), cdrdao.value("leadout"));
        if (theirs.value("whipper").isObject()) {
            const QJsonObject whipper = theirs.value("whipper").toObject();
            EXPECT_EQ(ours.value("cddb_id"), whipper.value("cddb"));
            if (!whipper.value("musicbrainz").isNull()) {
                EXPECT_EQ(ours.value("musicbrainz_id"), whipper.value("musicbrainz"));
            }
        }
    }
    // CD-Text of octal escapes in Latin-1, under LANGUAGE_MAP { 0: 9 }.
    qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(folder + "jose.toc"));
    const CliRun cdtext = runCli({"lookup", "--source", "cdtext", "--quiet"});
    qunsetenv("SONDREL_DISC_IMAGES");
    EXPECT_TRUE(cdtext.out.contains(QString::fromUtf8("artist: José González\nalbum: In Our Nature\n")))
        << cdtext.out.toStdString() << cdtext.err.toStdString();
}

// The samples are cdrdao's: a raw file holds big-endian samples, a WAVE file little-endian ones; SILENCE
// and PREGAP are zeros of their own (a track of SILENCE alone included); a data track's DATAFILE without a
// length is the whole file. A file that ends before the TOC says is a read error of that track, named; a FIFO
// is refused at once.
TEST_F(DiscImagesOfOtherTools, SamplesAsCdrdaoReadsThem)
{
    const QString folder = home.root() + "/made/";
    QDir().mkpath(folder);
    QByteArray raw, wav;
    for (int i = 0; i < 588 * 300; ++i) {
        const int16_t left = int16_t(i * 7), right = int16_t(-i * 3);
        raw += char(left >> 8) + QByteArray(1, char(left)) + char(right >> 8) + QByteArray(1, char(right));
    }
    ASSERT_TRUE(RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", folder + "b.wav", "synth", "6",
                                   "sine", "440"}) == 0);
    WriteFileText(folder + "a.raw", QString());
    QFile rawFile(folder + "a.raw");
    ASSERT_TRUE(rawFile.open(QIODevice::WriteOnly));
    rawFile.write(raw);
    rawFile.close();
    ASSERT_TRUE(sparseFile(folder + "d.iso", 2048 * 600));
    WriteFileText(folder + "disc.toc",
                  "CD_ROM\n"
                  "CD_TEXT { LANGUAGE_MAP { 0: 9 } LANGUAGE 0 { TITLE \"T\" } }\n"
                  "TRACK AUDIO\nSILENCE 00:00:10\nFILE \"a.raw\" 0 00:04:00\nSTART 00:00:10\n"
                  "TRACK AUDIO\nPREGAP 00:02:00\nFILE \"b.wav\" 0 00:05:00\n"
                  "TRACK AUDIO\nSILENCE 00:04:00\n"
                  "TRACK MODE1\nZERO MODE1 00:02:00\nDATAFILE \"d.iso\"\n");
    const QJsonValue layout = judged({"layout", folder + "disc.toc"});
    ASSERT_TRUE(layout.isObject()) << layout.toString().toStdString();
    const QJsonObject theirs = layout.toObject();
    const QJsonObject ours = tocOf(folder + "disc.toc");
    EXPECT_EQ(ours.value("leadout"), theirs.value("cdrdao").toObject().value("leadout"))
        << QJsonDocument(theirs).toJson().toStdString();
    EXPECT_EQ(ours.value("leadout").toInt(), 10 + 300 + 150 + 375 + 300 + 150 + 600);
    QJsonArray starts; // a track of silence alone is a track too (libcdio refused it)
    for (const QJsonValue &track : ours.value("tracks").toArray())
        starts.append(track.toObject().value("start"));
    EXPECT_EQ(starts, theirs.value("cdrdao").toObject().value("starts").toArray());

    // Track 1 ripped is the raw file's samples after its pregap: cdrdao's, past the 10 sectors of silence.
    qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(folder + "disc.toc"));
    const CliRun rip = runCli({"rip", "-t", "1,2", "-f", "wav", "-o", out, "--quiet"});
    ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
    const QJsonArray shown =
        judged({"samples", folder + "disc.toc", QString::number(10 * 588 + 200)}).toArray();
    ASSERT_EQ(shown.size(), 10 * 588 + 200);
    const QByteArray ripped = ReadFileBytes(out + "/Track01.wav").mid(44);
    ASSERT_GE(ripped.size(), 200 * 4);
    for (int i = 0; i < 200; ++i) {
        const QJsonArray frame = shown.at(10 * 588 + i).toArray();
        ASSERT_EQ(qFromLittleEndian<int16_t>(ripped.constData() + 4 * i), frame.at(0).toInt()) << i;
        ASSERT_EQ(qFromLittleEndian<int16_t>(ripped.constData() + 4 * i + 2), frame.at(1).toInt()) << i;
    }
    // Track 2 is the WAVE file's first 5 s, as sox reads them.
    QByteArray fromSox;
    ASSERT_EQ(RunProgram("sox", {folder + "b.wav", "-t", "raw", "-", "trim", "0", "5"}, &fromSox), 0);
    EXPECT_TRUE(ReadFileBytes(out + "/Track02.wav").mid(44) == fromSox);

    // The raw file cut short while the disc is in: track 1 is made with silence where nothing could be read
    // and said to be damaged, with the image's reason; track 2 is still read.
    ASSERT_TRUE(rawFile.resize(588 * 4 * 100));
    const CliRun cut = runCli({"rip", "-t", "1,2", "-f", "wav", "-o", out + "/cut", "--quiet"});
    EXPECT_EQ(cut.code, 1);
    EXPECT_TRUE(cut.err.contains("Track 01: damaged: 200 sectors unreadable at 00:01.25–00:03.74 ("))
        << cut.err.toStdString();
    EXPECT_TRUE(cut.err.contains("a.raw ends at byte")) << cut.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(out + "/cut/Track01.wav"));
    EXPECT_TRUE(QFileInfo::exists(out + "/cut/Track02.wav"));
    // Asked for verified tracks only, the damaged one is not made, and the run says why.
    const CliRun strict =
        runCli({"rip", "-t", "1,2", "-f", "wav", "-o", out + "/strict", "--quiet", "--require-verified"});
    EXPECT_EQ(strict.code, 1);
    EXPECT_TRUE(strict.err.contains(out + "/strict/Track01.wav: not made: 200 sectors could not be read"))
        << strict.err.toStdString();
    EXPECT_EQ(QDir(out + "/strict").entryList(QDir::Files | QDir::Hidden), QStringList{"Track02.wav"});

    // A FIFO named as a file is refused at once, not waited on.
    QFile::remove(folder + "a.raw");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "a.raw").constData(), 0600), 0);
    const CliRun fifo = runCli({"toc"}, QString(), 20000);
    qunsetenv("SONDREL_DISC_IMAGES");
    EXPECT_EQ(fifo.code, 1);
    EXPECT_TRUE(fifo.err.contains("a.raw: not a regular file")) << fifo.err.toStdString();
}

// A CUE sheet's data is the file its FILE line names, relative to the sheet, whatever the sheet is called
// (libcdio read "NAME.bin" for "NAME.cue" instead); a FIFO named there is refused at once, and one named as
// the sheet is no drive;
// a sheet of several files is refused by name rather than read wrong.
TEST_F(DiscImagesOfOtherTools, CueSheetsAreReadFromTheirFileLines)
{
    const QString folder = home.root() + "/cues/";
    QDir().mkpath(folder + "sub");
    ASSERT_TRUE(MakeDisc(folder + "tone.cue", {"300,tone:440"}));
    ASSERT_TRUE(MakeDisc(folder + "sub/noise.cue", {"300,noise"}));
    // A sheet beside a BIN of its own name that names another file, and one whose BIN has another name.
    WriteFileText(folder + "sheet.cue",
                  "FILE \"sub/noise.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    ASSERT_TRUE(QFile::copy(folder + "tone.bin", folder + "sheet.bin"));
    WriteFileText(folder + "album.cue",
                  "FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    for (const auto &[sheet, data] : {std::pair{"sheet.cue", "sub/noise.bin"}, {"album.cue", "tone.bin"}}) {
        SCOPED_TRACE(sheet);
        qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(folder + sheet));
        const CliRun rip = runCli({"rip", "-t", "1", "-f", "wav", "-o", out + "/" + sheet, "--quiet"});
        ASSERT_EQ(rip.code, 0) << rip.err.toStdString();
        EXPECT_TRUE(ReadFileBytes(out + "/" + sheet + "/Track01.wav").mid(44) ==
                    ReadFileBytes(folder + data));
    }
    WriteFileText(folder + "two.cue", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                      "FILE \"b.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "fifo.bin").constData(), 0600), 0);
    WriteFileText(folder + "fifo.cue", "FILE \"fifo.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "itself.cue").constData(), 0600), 0);
    for (const auto &[sheet, said] :
         {std::pair{"two.cue", "a CUE sheet of several data files (a.bin, b.bin)"},
          {"fifo.cue", "fifo.bin: not a regular file"},
          {"itself.cue", "no CD drives or disc images found"}}) {
        SCOPED_TRACE(sheet);
        qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(folder + sheet));
        const CliRun toc = runCli({"toc"}, QString(), 20000);
        EXPECT_EQ(toc.code, 1);
        EXPECT_TRUE(toc.err.contains(said)) << toc.err.toStdString();
    }
    qunsetenv("SONDREL_DISC_IMAGES");
}

} // namespace
