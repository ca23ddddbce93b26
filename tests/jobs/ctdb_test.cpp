// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddbserver.h"
#include "jobs/ctdb.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A table from a CDTOC tag ("4+96+2D2B+...": the track count, each track's start and the lead-out in
// hexadecimal frames), data tracks by their numbers.
TToc tocOfCdtoc(const QString &cdtoc, const QList<int> &dataTracks = {})
{
    const QStringList parts = cdtoc.split('+');
    TToc toc{};
    toc.firstTrack = 1;
    toc.lastTrack = uint8_t(parts[0].toInt(nullptr, 16));
    for (int i = 1; i < parts.size(); ++i) {
        const int f = parts[i].toInt(nullptr, 16);
        TTocTrack &entry = toc.tracks[i - 1];
        entry.ADR = dataTracks.contains(i) ? 0x14 : 0x10;
        entry.trackNumber = uint8_t(i == parts.size() - 1 ? 0xAA : i);
        entry.addr[1] = uint8_t(f / 4500);
        entry.addr[2] = uint8_t(f / 75 % 60);
        entry.addr[3] = uint8_t(f % 75);
    }
    return toc;
}

// The ids the database's documentation and the field's tools publish for these tables.
TEST(CtdbToc, IdsOfPublishedDiscs)
{
    EXPECT_EQ(CtdbTocId(tocOfCdtoc("4+96+2D2B+6256+B327+D84A")), "VukMWWItblELRM.CEFpXxw0FlME-");
    EXPECT_EQ(CtdbTocId(tocOfCdtoc("B+96+691B+B5BF+131E0+19279+1DDD5+255A9+2C2BD+331D1+39E69+3FA29+490D6")),
              "jwbCIS8AlSqzES7CrVwQ.1bfhoQ-");
    EXPECT_EQ(CtdbLookupToc(tocOfCdtoc("4+B6+F271+15798+22362+2CC18")), "0:61883:87778:139948:183138");
    // A data track is marked in the lookup.
    EXPECT_EQ(CtdbLookupToc(tocOfCdtoc("3+96+2D2B+6256+D84A", {3})), "0:11413:-25024:55220");
}

// A disc of three tracks, its audio fed to the CRCs in pieces of any size (as reads come), and Python's zlib
// over the ranges the database documents, at offsets pressings differ by: the disc less its first ten sectors
// and its last 10 to 20 (a whole number of ten-sector rows counted), the first track less the same start,
// the last less the same end, a middle track whole. Per offset: the disc's CRC, then each track's.
class CtdbDisc : public ::testing::Test {
protected:
    QTemporaryDir dir;
    TCtdbCrc crc{{301 * 588, 250 * 588, 402 * 588}};
    QJsonObject zlib;

    void SetUp() override
    {
        ASSERT_TRUE(MakeDisc(dir.filePath("disc.cue"), {"301,noise", "250,music", "402,noise"}));
        const QByteArray image = ReadFileBytes(dir.filePath("disc.bin"));
        ASSERT_EQ(image.size(), (301 + 250 + 402) * 2352);
        for (qsizetype at = 0; at < image.size();) {
            const qsizetype n =
                std::min<qsizetype>(QRandomGenerator::global()->bounded(1, 40000), image.size() - at);
            crc.Add(reinterpret_cast<const uint8_t *>(image.constData() + at), size_t(n));
            at += n;
        }
        ASSERT_TRUE(crc.Complete());
        static const char judge[] = R"(
import json, sys, zlib
data = open(sys.argv[1], 'rb').read()
tracks = [int(t) for t in sys.argv[2].split(',')]
skip = 5880
end = (sum(tracks) // skip - 1) * skip
bounds, at = [skip], 0
for i, t in enumerate(tracks):
    at += t
    bounds.append(end if i == len(tracks) - 1 else at)
out = {}
for o in (-1164, 0, 6, 667, -2940, 2940):
    crc = lambda a, b: zlib.crc32(data[(a + o) * 4:(b + o) * 4])
    out[str(o)] = [crc(bounds[0], bounds[-1])] + [crc(bounds[i], bounds[i + 1]) for i in range(len(tracks))]
json.dump(out, sys.stdout)
)";
        QByteArray output;
        ASSERT_EQ(
            RunProgram("python3", {"-c", judge, dir.filePath("disc.bin"), "176988,147000,236376"}, &output),
            0)
            << output.toStdString();
        zlib = QJsonDocument::fromJson(output).object();
    }
    uint32_t judged(int offset, int which) const
    {
        return uint32_t(zlib.value(QString::number(offset)).toArray().at(which).toDouble());
    }
};

TEST_F(CtdbDisc, CrcsAtEveryOffsetAreZlibsOverTheDocumentedRanges)
{
    for (const int offset : {-1164, 0, 6, 667, -2940, 2940}) {
        SCOPED_TRACE(offset);
        ASSERT_EQ(zlib.value(QString::number(offset)).toArray().size(), 4);
        EXPECT_EQ(crc.DiscCrc(offset), judged(offset, 0));
        for (size_t t = 0; t < 3; ++t)
            EXPECT_EQ(crc.TrackCrc(t, offset), judged(offset, int(t) + 1)) << "track " << t + 1;
    }
}

// The database's answer from a loopback server: a pressing 667 samples off this rip that agrees on every
// track, and one that differs in the second track; entries out of their form are left out.
TEST_F(CtdbDisc, AnswerJudgesEachTrackAcrossPressings)
{
    const auto hex = [](uint32_t v) { return QString::number(v, 16).rightJustified(8, '0').toUpper(); };
    const QString good =
        QString("<entry id=\"1\" confidence=\"12\" crc32=\"%1\" npar=\"16\" stride=\"5880\" "
                "hasparity=\"/parity/1\" trackcrcs=\"%2 %3 %4\"/>")
            .arg(hex(judged(667, 0)), hex(judged(667, 1)), hex(judged(667, 2)), hex(judged(667, 3)));
    const QString other =
        QString("<entry id=\"2\" confidence=\"3\" crc32=\"12345678\" trackcrcs=\"%1 DEADBEEF %2\"/>")
            .arg(hex(judged(0, 1)), hex(judged(0, 3)));
    const QString broken = "<entry id=\"3\" confidence=\"40\" crc32=\"not hex\" trackcrcs=\"0 0 0\"/>";
    CddbTestServer server;
    QString asked;
    server.setHandler([&](const QString &target) {
        asked = target;
        return CddbTestServer::Reply{
            200,
            ("<?xml version=\"1.0\"?><ctdb xmlns=\"http://db.cuetools.net/ns/mmd-1.0#\">" + good + other +
             broken + "</ctdb>")
                .toUtf8(),
            {}};
    });
    const auto entries = FetchCtdb(server.url(), CtdbLookupToc(tocOfCdtoc("3+96+1C3+2BD+44F")), nullptr);
    ASSERT_TRUE(entries) << entries.Error().toStdString();
    EXPECT_EQ(asked, "/lookup2.php?version=3&ctdb=1&fuzzy=1&toc=0:301:551:953");
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_TRUE((*entries)[0].HasParity);
    const TCtdbVerdict verdict = JudgeCtdb(crc, *entries);
    EXPECT_TRUE(verdict.Known);
    EXPECT_EQ(verdict.DiscConfidence, 12);
    EXPECT_EQ(verdict.DiscOffset, 667);
    EXPECT_EQ(verdict.TrackConfidence, std::vector<int>({15, 12, 15}));

    // A disc the database does not know, and an answer that is not its XML.
    server.setHandler([](const QString &) { return CddbTestServer::Reply{404, {}, {}}; });
    const auto unknown = FetchCtdb(server.url(), CtdbLookupToc(tocOfCdtoc("3+96+1C3+2BD+44F")), nullptr);
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(JudgeCtdb(crc, *unknown).Known);
    server.setHandler([](const QString &) { return CddbTestServer::Reply{200, "<html>busy</html>", {}}; });
    const auto garbage = FetchCtdb(server.url(), CtdbLookupToc(tocOfCdtoc("3+96+1C3+2BD+44F")), nullptr);
    ASSERT_FALSE(garbage);
    EXPECT_TRUE(garbage.Error().contains("not the database's answer")) << garbage.Error().toStdString();
}

// A recovery record made by an independent Reed-Solomon encoder (Debian's libfec: symbols of 16 bits, field
// polynomial 0x1100B, first root α^0, 16 parity symbols) over the audio the disc's CRC covers, in columns of
// rows of 2 × 5,880 words. Damage of 1 to 80 sectors in a row is mended bit-exact; 81 is refused, changing
// nothing.
TEST_F(CtdbDisc, DamageUpTo80SectorsIsMendedFromTheRecoveryRecord)
{
    const int64_t end = ((301 + 250 + 402) * 588 / 5880 - 1) * 5880;
    ASSERT_EQ(
        RunProgram("python3", {SONDREL_SOURCE_DIR "/tests/judges/recovery_record.py",
                               dir.filePath("disc.bin"), QString::number(end), dir.filePath("record.bin")}),
        0);
    const QByteArray record = ReadFileBytes(dir.filePath("record.bin"));
    ASSERT_EQ(record.size(), 16 * 11760 * 2);
    const QByteArray clean = ReadFileBytes(dir.filePath("disc.bin")).mid(5880 * 4, (end - 5880) * 4);
    for (const int sectors : {1, 40, 80, 81}) {
        SCOPED_TRACE(sectors);
        QByteArray range = clean;
        for (qsizetype at = 100 * 2352; at < (100 + sectors) * 2352; ++at)
            range[at] = char(range[at] ^ 0x5A);
        const QByteArray damaged = range;
        const auto mended = MendWithParity(range, record, 16, 5880, judged(0, 0));
        if (sectors <= 80) {
            ASSERT_TRUE(mended) << mended.Error().toStdString();
            EXPECT_EQ(*mended, sectors * 588);
            EXPECT_TRUE(range == clean);
        } else {
            EXPECT_FALSE(mended);
            EXPECT_TRUE(range == damaged);
        }
    }
}

} // namespace
