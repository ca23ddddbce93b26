// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/ctdb.h"

#include <QStringList>
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

} // namespace
