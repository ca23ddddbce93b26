// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddb/cddblookup.h"
#include "cddbserver.h"
#include "shell/genres.h"
#include "shell/settings.h"

#include <gtest/gtest.h>

namespace {

// Control characters from a server never reach a title or a disc field (a NUL would cut a file name).
TEST(CddbEntryTextTest, ControlCharactersAreRemoved)
{
    TCddbLookupResult library;
    const QString entry = QString("DTITLE=Ar\x01tist / Al\tbum\nDYEAR=19\x7f"
                                  "99\nTTITLE0=be") +
                          QChar(0) + "fore\nTTITLE1=keep.txt" + QChar(0) + "x\n";
    ASSERT_TRUE(ReadCddbEntryText(entry, 1, 2, library));
    EXPECT_EQ(library.Artist, "Artist");
    EXPECT_EQ(library.Album, "Album");
    EXPECT_EQ(library.Year, "1999");
    EXPECT_EQ(library.Titles, (std::map<int, QString>{{0, "before"}, {1, "keep.txtx"}}));

    TCDDBAlbum album;
    album.DiscArtist = QString("A") + QChar(0) + "B";
    album.DiscTitle = "T\r\nU";
    album.TrackTitles = {QString("x") + QChar(0x1f) + "y"};
    TCddbLookupResult component;
    TakeCddbAlbum(album, 1, component);
    EXPECT_EQ(component.Artist, "AB");
    EXPECT_EQ(component.Album, "TU");
    EXPECT_EQ(component.Titles.at(0), "xy");
}

TEST(CddbEntryTextTest, LibraryRouteReading)
{
    TCddbLookupResult result;
    const QString entry =
        "DTITLE=AC/DC / Back\nDYEAR=1980\nDGENRE=Rock\n\nTTITLE0=One\nTTITLE1=Two\nTTITLE2=Three\n";
    ASSERT_TRUE(ReadCddbEntryText(entry, 1, 3, result));
    EXPECT_EQ(result.Artist, "AC/DC");
    EXPECT_EQ(result.Album, "Back");
    EXPECT_EQ(result.Year, "1980");
    EXPECT_EQ(result.Genre, GenreIndex("Rock") + 1);
    EXPECT_TRUE(result.LeftAlignTitles);
    EXPECT_EQ(result.Titles, (std::map<int, QString>{{0, "One"}, {1, "Two"}, {2, "Three"}}));

    // A disc whose first track is 2 starts at TITLE1; the lines running out end the titles.
    TCddbLookupResult second;
    ASSERT_TRUE(
        ReadCddbEntryText("DTITLE=Various\nDGENRE=No Such Genre\nTTITLE0=Zero\nTTITLE1=One\n", 2, 5, second));
    EXPECT_EQ(second.Artist, "");
    EXPECT_EQ(second.Album, "Various");
    EXPECT_EQ(second.Genre, 0);
    EXPECT_EQ(second.Titles, (std::map<int, QString>{{0, "One"}}));

    // A compilation gives the tracks' own artists.
    TCddbLookupResult various;
    ASSERT_TRUE(
        ReadCddbEntryText("DTITLE=Various / Hits\nTTITLE0=Queen / One\nTTITLE1=Two\n", 1, 2, various));
    EXPECT_EQ(various.Titles, (std::map<int, QString>{{0, "One"}, {1, "Two"}}));
    EXPECT_EQ(various.TrackArtists, (std::map<int, QString>{{0, "Queen"}}));

    // No title line: the disc fields found on the way stay.
    TCddbLookupResult none;
    EXPECT_FALSE(ReadCddbEntryText("DYEAR=2001\nTTITLE5=x\n", 1, 2, none));
    EXPECT_EQ(none.Year, "2001");
    EXPECT_TRUE(none.Titles.empty());
    // TITLE0 is not found inside TITLE01.
    TCddbLookupResult prefix;
    EXPECT_FALSE(ReadCddbEntryText("TTITLE01=x\n", 1, 2, prefix));
}

TEST(CddbEntryTextTest, ALookupWithTitlesReplacesTheTrackArtists)
{
    AppSettings.DiscInfo = TCDInfo();
    AppSettings.DiscInfo.TrackArtists[1] = "stale";
    TCddbLookupResult result;
    ASSERT_TRUE(ReadCddbEntryText("DTITLE=Various / Hits\nTTITLE0=A\nTTITLE1=Queen / B\n", 1, 2, result));
    ApplyCddbDiscFields(result, AppSettings.DiscInfo);
    EXPECT_EQ(AppSettings.DiscInfo.TrackArtists[1], "");
    EXPECT_EQ(AppSettings.DiscInfo.TrackArtists[2], "Queen");
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "Various");
    // Disc fields alone (no titles) leave them.
    TCddbLookupResult fields;
    fields.Year = "2001";
    ApplyCddbDiscFields(fields, AppSettings.DiscInfo);
    EXPECT_EQ(AppSettings.DiscInfo.TrackArtists[2], "Queen");
    AppSettings = DefaultOptions();
}

TEST(CddbEntryTextTest, ProxyPortAndAlbum)
{
    EXPECT_EQ(CddbProxyPort("8080"), 8080);
    EXPECT_EQ(CddbProxyPort("eighty"), 80);
    EXPECT_EQ(CddbProxyPort(""), 80);
    TCDDBAlbum album;
    album.TrackTitles = {"a", "b", "c"};
    album.TrackCount = 3;
    album.DiscArtist = "X";
    album.Genre = "Nothing Like A Genre";
    TCddbLookupResult result;
    TakeCddbAlbum(album, 2, result); // titles beyond the last row are dropped
    EXPECT_EQ(result.Titles.size(), 2u);
    EXPECT_EQ(result.Artist, "X");
    EXPECT_EQ(result.Genre, 0);
    EXPECT_EQ(result.Comment, "");
}

struct LookupFixture : ::testing::Test {
    CddbTestServer server;
    TCddbLookupRequest request;
    TCddbLookupResult result;
    TCdError error;
    LookupFixture()
    {
        request.RowCount = 2;
        request.FirstTrack = 1;
        request.LastTrack = 2;
        request.DiscId = "06019002";
        request.QueryText = "2 0 15000 400";
        request.Settings.Server = server.url().mid(7); // host:port, no scheme
        request.ComponentServer = "http://unused.invalid";
        request.TimeoutSeconds = 10;
    }
};

TEST_F(LookupFixture, ComponentRoute)
{
    server.setQueryFixture("query_exact.txt");
    EXPECT_EQ(RunCddbLookup(request, result, &error, nullptr), CDDBQUERY_FINISHED);
    EXPECT_EQ(result.Titles, (std::map<int, QString>{{0, "First Song"}, {1, "Guest / Second Song"}}));
    EXPECT_EQ(result.Album, "Album");
    EXPECT_EQ(result.Year, "1999");
    EXPECT_EQ(result.Genre, GenreIndex("Rock") + 1);
    // A server with a scheme leaves the component's own address.
    request.Settings.Server = server.url();
    request.ComponentServer = server.url();
    TCddbLookupResult again;
    EXPECT_EQ(RunCddbLookup(request, again, &error, nullptr), CDDBQUERY_FINISHED);
    EXPECT_EQ(again.Titles.size(), 2u);
}

TEST_F(LookupFixture, NoDiscIdMeansNoNetwork)
{
    request.DiscId.clear();
    EXPECT_EQ(RunCddbLookup(request, result, &error, nullptr), CDDBQUERY_FINISHED);
    EXPECT_TRUE(server.commands().isEmpty());
    EXPECT_TRUE(result.Titles.empty());
    EXPECT_FALSE(result.Artist.has_value());
}

TEST_F(LookupFixture, FallsBackToTheLibraryRoute)
{
    // Nothing from the component, and the library cannot read the table of contents without a drive:
    // finished, with nothing changed.
    server.setQueryFixture("query_nomatch.txt");
    EXPECT_EQ(RunCddbLookup(request, result, &error, nullptr), CDDBQUERY_FINISHED);
    EXPECT_EQ(server.commands().size(), 1);
    EXPECT_TRUE(result.Titles.empty());
}

TEST_F(LookupFixture, LibraryRouteWithoutADriveAsksNothing)
{
    server.setBehaviour(CddbTestServer::Behaviour::Drop);
    request.Settings.TagEncoding = 1;
    TCddbLookupResult dropped;
    // Without a drive the table of contents cannot be read: finished, nothing asked.
    EXPECT_EQ(RunCddbLookup(request, dropped, &error, nullptr), CDDBQUERY_FINISHED);
    EXPECT_TRUE(server.commands().isEmpty());
}

} // namespace
