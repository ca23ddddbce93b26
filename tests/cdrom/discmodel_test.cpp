// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/discmodel.h"
#include "shell/discinfo.h"
#include "shell/inifile.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

// A table of contents in MSF mode from the starts of its tracks and its lead-out (minute, second, frame).
TToc MsfToc(int first, const std::vector<std::array<int, 3>> &starts, const std::vector<bool> &data = {})
{
    TToc toc{};
    toc.firstTrack = uint8_t(first);
    toc.lastTrack = uint8_t(first + int(starts.size()) - 2);
    for (size_t i = 0; i < starts.size(); ++i) {
        toc.tracks[i].addr[1] = uint8_t(starts[i][0]);
        toc.tracks[i].addr[2] = uint8_t(starts[i][1]);
        toc.tracks[i].addr[3] = uint8_t(starts[i][2]);
        toc.tracks[i].ADR = i < data.size() && data[i] ? 0x14 : 0x10;
    }
    return toc;
}

TEST(DiscModel, RowsOfATableOfContents)
{
    // Lengths by minutes and seconds of the starts, frames ignored; a borrow when the seconds go below 0.
    const QList<TDiscTrack> tracks = TDiscModel::TracksOfToc(
        MsfToc(3, {{0, 2, 0}, {4, 2, 74}, {4, 32, 0}, {9, 1, 0}}, {false, false, true}));
    ASSERT_EQ(tracks.size(), 3);
    EXPECT_EQ(tracks[0].Number, 3);
    EXPECT_EQ(tracks[0].Minutes, 4);
    EXPECT_EQ(tracks[0].Seconds, 0);
    EXPECT_EQ(tracks[1].Minutes, 0);
    EXPECT_EQ(tracks[1].Seconds, 30);
    EXPECT_EQ(tracks[2].Minutes, 4);
    EXPECT_EQ(tracks[2].Seconds, 29);
    EXPECT_FALSE(tracks[1].Data);
    EXPECT_TRUE(tracks[2].Data);
}

TEST(DiscModel, TitlesComeFromTheCacheAndGoBackToIt)
{
    TestHome home;
    TCDInfo info;
    info.Artist = "Band";
    info.TrackNumber = 2;
    info.Tracks[1] = "Intro";
    ASSERT_TRUE(SaveDiscInfo("1234", info));

    TCDInfo shown;
    TDiscModel disc(shown);
    QSignalSpy reset(&disc, &TDiscModel::RowsReset);
    QSignalSpy changed(&disc, &TDiscModel::TitleChanged);
    disc.Load("1234", {{1, 4, 0, false}, {2, 3, 0, false}, {3, 1, 0, false}}, "0a0b0c03", "3 0 1 2 3");
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(disc.Title(0), "Intro");
    EXPECT_EQ(disc.Title(1), "Track02");
    EXPECT_EQ(disc.Title(2), "Track03"); // beyond the cached entry's count
    EXPECT_EQ(disc.Info().Artist, "Band");
    EXPECT_EQ(&disc.Info(), &shown); // the one record, not a copy
    EXPECT_EQ(disc.CddbDiscId(), "0a0b0c03");
    EXPECT_EQ(disc.Title(3), "");

    disc.SetTitle(1, "Middle");
    disc.SetTitle(1, "Middle"); // no change, no signal
    disc.SetTitle(7, "Nowhere");
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toInt(), 1);
    EXPECT_EQ(shown.Tracks[2], "Middle");
    ASSERT_TRUE(disc.Save());
    const IniFile ini(DiscInfoFilePath());
    EXPECT_EQ(ini.readString("1234", "2", ""), "Middle");
    EXPECT_EQ(ini.readInteger("1234", "TrackNumber", 0), 3);

    // A track's own artist, and the disc's for the others; the disc's own name is no track artist.
    disc.SetTrackArtist(2, "Guest");
    disc.SetTrackArtist(0, "Band");
    EXPECT_EQ(disc.TrackArtist(2), "Guest");
    EXPECT_EQ(disc.TrackArtist(0), "Band");
    EXPECT_EQ(shown.TrackArtists[1], "");
    shown.Artist = "Renamed";
    EXPECT_EQ(disc.TrackArtist(1), "Renamed");

    disc.Clear();
    EXPECT_EQ(disc.RowCount(), 0);
    EXPECT_EQ(reset.count(), 2);
    EXPECT_FALSE(disc.Save()); // no disc, nothing written
}

} // namespace
