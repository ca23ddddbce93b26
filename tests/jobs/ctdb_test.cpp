// SPDX-License-Identifier: GPL-3.0-or-later
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

// The CRCs of a disc at the offsets pressings differ by, against Python's zlib over the ranges the database
// documents: the disc less its first ten sectors and its last 10 to 20 (a whole number of ten-sector rows
// counted), the first track less the same start, the last less the same end, a middle track whole.
TEST(CtdbCrc, DiscAndTracksAtEveryOffsetAsZlibCountsThem)
{
    QTemporaryDir dir;
    ASSERT_TRUE(MakeDisc(dir.filePath("disc.cue"), {"301,noise", "250,music", "402,noise"}));
    const QByteArray image = ReadFileBytes(dir.filePath("disc.bin"));
    const std::vector<int64_t> tracks{301 * 588, 250 * 588, 402 * 588};
    ASSERT_EQ(image.size(), (301 + 250 + 402) * 2352);
    TCtdbCrc crc(tracks);
    for (qsizetype at = 0; at < image.size();) { // in pieces of any size, as reads come
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
total = sum(tracks)
skip = 5880
end = (total // skip - 1) * skip
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
    ASSERT_EQ(RunProgram("python3", {"-c", judge, dir.filePath("disc.bin"), "176988,147000,236376"}, &output),
              0)
        << output.toStdString();
    const QJsonObject expected = QJsonDocument::fromJson(output).object();
    for (const int offset : {-1164, 0, 6, 667, -2940, 2940}) {
        SCOPED_TRACE(offset);
        const QJsonArray sums = expected.value(QString::number(offset)).toArray();
        ASSERT_EQ(sums.size(), 4) << output.toStdString();
        EXPECT_EQ(crc.DiscCrc(offset), uint32_t(sums[0].toDouble()));
        for (size_t t = 0; t < 3; ++t)
            EXPECT_EQ(crc.TrackCrc(t, offset), uint32_t(sums[qsizetype(t) + 1].toDouble()))
                << "track " << t + 1;
    }
}

} // namespace
