// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of an archival rip that need no disc: the shifted read window, the streaming checks, and
// what the summary, the log and the cue sheet say.
#include "cdrom/readwindow.h"
#include "jobs/accuraterip.h"
#include "jobs/ripreport.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

// The window's bytes from a disc of `sectors` sectors whose byte n is n % 251, cut as the readers do, in
// blocks of `block` bytes.
QByteArray cutWindow(int32_t start, int32_t count, int32_t offset, int32_t sectors, size_t block)
{
    QByteArray disc(sectors * 2352, '\0');
    for (qsizetype i = 0; i < disc.size(); ++i)
        disc[i] = char(i % 251 + 1);
    const TReadWindow w = ShiftedReadWindow(start, count, offset, 0, sectors);
    TWindowCut cut(w);
    QByteArray out(w.LeadSilence, '\0');
    const QByteArray read = disc.mid(qsizetype(w.FirstSector) * 2352, qsizetype(w.Sectors) * 2352);
    for (qsizetype at = 0; at < read.size(); at += qsizetype(block)) {
        const QByteArray part = read.mid(at, qsizetype(block));
        const auto [skip, n] = cut.Take(size_t(part.size()));
        out += part.mid(qsizetype(skip), qsizetype(n));
    }
    out += QByteArray(cut.TailSilence(), '\0');
    EXPECT_EQ(out.size(), w.Bytes);
    return out;
}

QByteArray expectedWindow(int32_t start, int32_t count, int32_t offset, int32_t sectors)
{
    QByteArray out;
    for (int64_t i = int64_t(start) * 2352 + offset * 4; i < int64_t(start + count) * 2352 + offset * 4; ++i)
        out += i < 0 || i >= int64_t(sectors) * 2352 ? '\0' : char(i % 251 + 1);
    return out;
}

TEST(ReadWindow, ShiftedReadsAtEveryEdgeInAnyBlockSize)
{
    for (const int offset : {0, 48, -48, 588, -589, 5880, -5880, 1}) {
        for (const auto &[start, count] : {std::pair{0, 10}, {5, 10}, {10, 10}, {0, 20}, {19, 1}}) {
            for (const size_t block : {size_t(2352), size_t(2352 * 3), size_t(1000)}) {
                SCOPED_TRACE(testing::Message() << offset << " " << start << "+" << count << " " << block);
                EXPECT_EQ(cutWindow(start, count, offset, 20, block),
                          expectedWindow(start, count, offset, 20));
            }
        }
    }
    // A window wholly beyond the disc is silence without a read.
    const TReadWindow beyond = ShiftedReadWindow(19, 1, 5880, 0, 20);
    EXPECT_EQ(beyond.Sectors, 0);
    EXPECT_EQ(beyond.LeadSilence, 2352);
}

TEST(AudioCheck, StreamingInAnyBlocksGivesTheWholeChecks)
{
    QByteArray audio(3000 * 4, '\0');
    for (qsizetype i = 0; i < audio.size(); ++i)
        audio[i] = char((i * 7919) % 256);
    audio[101] = char(0x80); // a sample of -32768 (bytes 100 and 101)
    audio[100] = 0;
    const TAccurateRipSums whole = AccurateRipSums(audio, true, true);
    for (const size_t block : {size_t(1), size_t(3), size_t(4), size_t(4097)}) {
        TAudioCheck check(3000, true, true);
        for (qsizetype at = 0; at < audio.size(); at += qsizetype(block))
            check.Add(reinterpret_cast<const uint8_t *>(audio.constData()) + at,
                      size_t(std::min<qsizetype>(qsizetype(block), audio.size() - at)));
        EXPECT_EQ(check.Sums().V1, whole.V1) << block;
        EXPECT_EQ(check.Sums().V2, whole.V2) << block;
        EXPECT_EQ(check.Frames(), 3000);
        EXPECT_EQ(check.Peak(), 32768);
        EXPECT_EQ(check.Crc(),
                  uint32_t(crc32(0, reinterpret_cast<const Bytef *>(audio.constData()), uInt(audio.size()))));
    }
}

TTrackRip track(int number, bool accurate, bool inDatabase, bool read = true)
{
    TTrackRip t;
    t.Track = number;
    t.File = QString("/music/%1.flac").arg(number);
    t.Title = QString("Song %1").arg(number);
    t.Read = read;
    t.Frames = 588 * 75 * 3; // three seconds
    t.Accurate = accurate;
    t.InDatabase = inDatabase;
    t.AccurateRip = inDatabase ? (accurate ? "verified (confidence 2, v1)" : "mismatch")
                               : "unknown (not in the database)";
    return t;
}

TEST(RipReport, SummaryLogAndCueSheet)
{
    TRipSession session;
    session.Artist = "Band";
    session.Album = "Record";
    session.Tracks = {track(1, true, true), track(2, true, true)};
    EXPECT_EQ(RipSummary(session), "All tracks accurately ripped");
    session.Tracks.push_back(track(3, false, true));
    session.Tracks.push_back(track(4, false, false));
    session.Tracks.push_back(track(5, false, false));
    session.Tracks.push_back(track(6, false, false, false));
    session.Tracks[5].Problem = "/music/.6.wav.part: No space left on device\n";
    session.Tracks[1].Tested = true;
    session.Tracks[1].TestCrc = 1; // copy CRC 0: a mismatch fails the track, whatever AccurateRip said
    EXPECT_EQ(RipSummary(session), "2 tracks failed; 1 track not accurately ripped; 2 tracks not verified");
    const QStringList lines = VerificationLines(session);
    EXPECT_EQ(lines[1], "Track 02: CRC mismatch (copy 00000000, test 00000001)");
    EXPECT_EQ(lines[5], "Track 06: Not read");

    const QString log = RipLogText(session, QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    EXPECT_TRUE(log.startsWith("Sondrel 5.6 rip log\r\n\r\nDate: 2026-12-07T10:00:00\r\n"));
    EXPECT_TRUE(log.contains("  Test CRC: 00000001 (CRC mismatch)\r\n"));
    EXPECT_TRUE(log.contains("  Length: 0:03.00\r\n"));
    EXPECT_TRUE(log.contains("  Status: not read (/music/.6.wav.part: No space left on device)\r\n"));

    // A known pregap of the next track: the track begins at the end of this file, with its INDEX 00 (one
    // TRACK line a track).
    session.Tracks.resize(2);
    session.Tracks[0].Pregap = 75;
    session.Tracks[1].Title = "Say \"Hi\"\n";
    EXPECT_EQ(CueSheetText(session),
              "PERFORMER \"Band\"\r\nTITLE \"Record\"\r\n"
              "FILE \"1.flac\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"Song 1\"\r\n"
              "    PERFORMER \"Band\"\r\n    INDEX 01 00:00:00\r\n"
              "  TRACK 02 AUDIO\r\n    TITLE \"Say 'Hi'\"\r\n    PERFORMER \"Band\"\r\n"
              "    INDEX 00 00:02:00\r\nFILE \"2.flac\" WAVE\r\n    INDEX 01 00:00:00\r\n");
}

} // namespace
