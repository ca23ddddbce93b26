// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/auexception.h"
#include "cddb/cddbinfo.h"
#include "cddbserver.h"
#include "cdrom/cdaccess.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "shell/folders.h"
#include "shell/httpget.h"
#include "testsupport.h"

#include <QDir>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A component pointed at the test server, with short limits.
struct LocalInfo {
    CddbTestServer server;
    TCDDBInfo info;
    LocalInfo()
    {
        info.Server = server.url();
        info.Email = QStringLiteral("tester@testhost");
        info.ConnectTimeoutSeconds = 5;
        info.TotalTimeoutSeconds = 10;
    }
};

TEST(CddbQueryTest, BuildsTheUrlFromTheTemplate)
{
    TCDDBInfo info;
    info.Server = QStringLiteral("http://cddb.example");
    info.Email = QStringLiteral("ann@box");
    info.ApplicationVersion = QStringLiteral("v1.0");
    info.ApplicationName = QStringLiteral("changed by someone");
    EXPECT_EQ(
        info.Query().BuildURL("read", "rock 06019002"),
        "http://cddb.example/~cddb/cddb.cgi?cmd=cddb+read+rock+06019002&hello=ann+box+Sondrel+v1.0&proto=6");
    EXPECT_EQ(info.ApplicationName, TCDDBInfo::ClientName());
    // Defaults: the public server with its scheme, and the user at this machine.
    TCDDBInfo fresh;
    EXPECT_EQ(fresh.Server, "http://gnudb.gnudb.org");
    EXPECT_TRUE(fresh.Email.contains('@'));
    EXPECT_FALSE(fresh.Email.startsWith('@'));
}

TEST(CddbQueryTest, QueryAnswers)
{
    TCDDBInfo info;
    TCDDBQuery &query = info.Query();
    EXPECT_EQ(query.ParseQueryResponse("200 rock 06019002 Artist / Album\r\n"), 200);
    EXPECT_EQ(query.Matches(), QStringList{"rock 06019002 Artist / Album"});
    // Several matches: the list runs to the "." line; the code is that of the header line.
    EXPECT_EQ(query.ParseQueryResponse(CddbTestServer::fixture("query_multiple.txt")), 210);
    EXPECT_EQ(query.Matches(), (QStringList{"rock 06019002 Artist / Album", "misc 06019002 Other / Disc"}));
    // Not closed by ".": to the end of the answer.
    EXPECT_EQ(query.ParseQueryResponse(CddbTestServer::fixture("query_inexact_unclosed.txt")), 211);
    EXPECT_EQ(query.Matches().size(), 2);
    // The header's next line is taken whatever it holds.
    EXPECT_EQ(query.ParseQueryResponse("211 inexact\n.\n"), 211);
    EXPECT_EQ(query.Matches(), QStringList{"."});
    EXPECT_EQ(query.ParseQueryResponse("202 No match\n"), 202);
    EXPECT_TRUE(query.Matches().isEmpty());
    EXPECT_EQ(query.ParseQueryResponse("garbage\n"), 500);
    EXPECT_EQ(query.ParseQueryResponse("20"), 500);
    EXPECT_EQ(query.ParseQueryResponse(""), -2);
}

TEST(CddbQueryTest, EntryFields)
{
    TCDDBInfo info;
    TCDDBQuery &query = info.Query();
    query.ParseEntry("# Disc length: 402 seconds\n# Generated: here\nDTITLE=Artist / Album\nDYEAR=19999\n"
                     "DGENRE=A genre name that is much longer than thirty characters\n"
                     "TTITLE0=Plain\nTTITLE1=Guest / Song\nEXTD=one\\ntwo\nEXTD= three\nEXTT0=x\nEXTT1=y\n"
                     "EXTT2=beyond the tracks\n");
    const TCDDBAlbum album = info.GetAlbum();
    EXPECT_EQ(album.DiscArtist, "Artist");
    EXPECT_EQ(album.DiscTitle, "Album");
    EXPECT_EQ(album.Year, "1999");
    EXPECT_EQ(album.Genre, "A genre name that is much long");
    EXPECT_EQ(album.Genre.size(), 30);
    EXPECT_EQ(album.DiscLength, "402 seconds");
    EXPECT_EQ(album.Generated, "here");
    EXPECT_EQ(album.TrackCount, 2);
    // Not a compilation: the slash is part of the title.
    EXPECT_EQ(album.TrackArtists, (QStringList{"Artist", "Artist"}));
    EXPECT_EQ(album.TrackTitles, (QStringList{"Plain", "Guest / Song"}));
    EXPECT_EQ(album.TrackExtData, (QStringList{"x", "y"}));
    // A repeated key continues the value, as it stands.
    EXPECT_EQ(album.DiscExtData, "one\r\ntwo three");
    EXPECT_TRUE(album.Reserved.isEmpty());
}

TEST(CddbQueryTest, KeysNameTheirTracksAndRepeatsContinue)
{
    // The number in the key is the track, whatever line it is on; TTITLE12 is not TTITLE1.
    TCDDBAlbum album =
        ParseXmcdEntry("DTITLE=Disc Artist / Disc\nTTITLE2=Third\nTTITLE0=First\nTTITLE1=Second\n");
    EXPECT_EQ(album.TrackCount, 3);
    EXPECT_EQ(album.TrackTitles, (QStringList{"First", "Second", "Third"}));
    album = ParseXmcdEntry("TTITLE0=a\nTTITLE12=b\n");
    EXPECT_EQ(album.TrackCount, 13);
    EXPECT_EQ(album.TrackTitles.at(12), "b");
    // Keys that name no track (leading zero, three digits, none) are left out.
    album = ParseXmcdEntry("TTITLE01=x\nTTITLE100=y\nTTITLE=z\nTTITLE0=kept\n");
    EXPECT_EQ(album.TrackTitles, QStringList{"kept"});

    // A title continued on a second line of the same key, and a disc title split the same way.
    album = ParseXmcdEntry(
        "DTITLE=The Band / A Very Long Al\nDTITLE=bum Name\nTTITLE0=Part one, \nTTITLE0=part two\n"
        "TTITLE1=AC/DC\n");
    EXPECT_EQ(album.DiscArtist, "The Band");
    EXPECT_EQ(album.DiscTitle, "A Very Long Album Name");
    EXPECT_EQ(album.TrackTitles, (QStringList{"Part one, part two", "AC/DC"}));
    EXPECT_EQ(ParseXmcdEntry("DTITLE=AC/DC / Back in Black\n").DiscArtist, "AC/DC");

    // CR alone, LF alone and CR LF all end lines; escapes are undone.
    album = ParseXmcdEntry("DTITLE=A / B\rTTITLE0=one\r\nTTITLE1=two\\tand\\\\ three\nEXTD=x\\ny\r");
    EXPECT_EQ(album.TrackTitles, (QStringList{"one", "two\tand\\ three"}));
    EXPECT_EQ(album.DiscExtData, "x\r\ny");
    // Long titles are cut to 255 characters.
    EXPECT_EQ(ParseXmcdEntry("TTITLE0=" + QString(300, 'x') + "\n").TrackTitles.value(0).size(), 255);
}

TEST(CddbQueryTest, CompilationsGiveTrackArtists)
{
    // "Various": each "Artist / Title" gives the track's artist; a title without one keeps the disc's.
    TCDDBAlbum album = ParseXmcdEntry(
        "DTITLE=Various / Hits\nTTITLE0=AC/DC / Back in Black\nTTITLE1=Queen / Bohemian Rhapsody\n"
        "TTITLE2=Interlude\n");
    EXPECT_EQ(album.TrackArtists, (QStringList{"AC/DC", "Queen", "Various"}));
    EXPECT_EQ(album.TrackTitles, (QStringList{"Back in Black", "Bohemian Rhapsody", "Interlude"}));
    // Every title in that form is a compilation too, whatever the disc artist says.
    album = ParseXmcdEntry("DTITLE=DJ Mix / Night\nTTITLE0=One / A\nTTITLE1=Two / B\n");
    EXPECT_EQ(album.TrackArtists, (QStringList{"One", "Two"}));
    EXPECT_EQ(album.TrackTitles, (QStringList{"A", "B"}));
    // No disc artist: the whole disc title is the title.
    album = ParseXmcdEntry("DTITLE=Various\nTTITLE0=X / Y\n");
    EXPECT_EQ(album.DiscArtist, "");
    EXPECT_EQ(album.DiscTitle, "Various");
}

TEST(CddbQueryTest, ExactMatchIsQueriedAndRead)
{
    LocalInfo local;
    local.server.setQueryFixture("query_exact.txt");
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 150 15150 402"), 200);
    const QStringList commands = local.server.commands();
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(commands[0], "cddb query 06019002 2 150 15150 402");
    EXPECT_EQ(commands[1], "cddb read rock 06019002");
    EXPECT_TRUE(local.server.requestLines()[1].startsWith(
        "GET /~cddb/cddb.cgi?cmd=cddb+read+rock+06019002&hello=tester+testhost+Sondrel+1.0&proto=6 "));
    const TCDDBAlbum album = local.info.GetAlbum();
    EXPECT_EQ(album.DiscTitle, "Album");
    EXPECT_EQ(album.TrackTitles, (QStringList{"First Song", "Guest / Second Song"}));
    EXPECT_EQ(album.TrackArtists, (QStringList{"Artist", "Artist"}));
    EXPECT_EQ(album.DiscExtData, "Recorded live\r\nin one take");
    EXPECT_EQ(local.info.LastResult(), 200);
}

TEST(CddbQueryTest, OnlyTheFirstOfSeveralMatchesIsRead)
{
    LocalInfo local;
    local.server.setQueryFixture("query_inexact_unclosed.txt");
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 150 15150 402"), 211);
    EXPECT_EQ(local.server.commands().value(1), "cddb read misc 06019002");
    EXPECT_EQ(local.server.commands().size(), 2);
    EXPECT_EQ(local.info.GetAlbum().DiscArtist, "Other");
}

TEST(CddbQueryTest, FailuresLeaveTheRecordEmpty)
{
    LocalInfo local;
    local.server.setQueryFixture("query_exact.txt");
    ASSERT_EQ(local.info.LookupDisc("06019002", "2 150 15150 402"), 200);
    ASSERT_EQ(local.info.GetAlbum().TrackCount, 2);
    // No match: no read, and the earlier result is gone.
    local.server.setQueryFixture("query_nomatch.txt");
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 150 15150 402"), 202);
    EXPECT_EQ(local.server.commands().size(), 3);
    EXPECT_EQ(local.info.GetAlbum().TrackCount, 0);
    // A dropped connection and an unreachable server: -1.
    local.server.setBehaviour(CddbTestServer::Behaviour::Drop);
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 150 15150 402"), -1);
    local.info.Server = "http://127.0.0.1:1";
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 150 15150 402"), -1);
    local.info.Server = "not a server";
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 150 15150 402"), -1);
    EXPECT_EQ(local.info.GetAlbum().TrackCount, 0);
}

TEST(CddbQueryTest, MalformedEntryIsTakenApartSafely)
{
    LocalInfo local;
    local.server.setQueryFixture("query_malformed.txt");
    EXPECT_EQ(local.info.LookupDisc("0a0a0a0a", "1 0 100"), 200);
    const TCDDBAlbum album = local.info.GetAlbum();
    // TTITLE7 names the eighth track; "TTITLE=" and a line without "=" name none.
    EXPECT_EQ(album.TrackCount, 8);
    EXPECT_EQ(album.TrackTitles.value(7), "Seven");
    EXPECT_EQ(album.TrackTitles.value(1), "");
    EXPECT_EQ(album.TrackExtData.mid(0, 5), (QStringList{"a", "b", "c", "d", ""}));
    EXPECT_EQ(album.DiscArtist, "Broken");
}

TEST(CddbQueryTest, SilentServerTimesOutOrIsCancelled)
{
    LocalInfo local;
    local.server.setBehaviour(CddbTestServer::Behaviour::Silent);
    local.info.TotalTimeoutSeconds = 1;
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 150 15150 402"), -1);
    // Cancelled from another thread long before the time-out.
    local.info.TotalTimeoutSeconds = 600;
    std::atomic<bool> cancel = false;
    local.info.Cancel = &cancel;
    std::atomic<int> result = 0;
    std::thread lookup([&] { result = local.info.LookupDisc("06019002", "2 150 15150 402"); });
    ASSERT_TRUE(WaitFor([&] { return local.server.commands().size() == 2; }));
    cancel = true;
    lookup.join();
    EXPECT_EQ(result, -1);
}

TEST(CddbHttpTest, LargeAnswersAreCutAndSplitCharactersComeOutWhole)
{
    CddbTestServer server;
    QByteArray answer = "200 rock 06019002 ";
    while (answer.size() < (2 << 20))
        answer += "\xc3\xa9\xe2\x82\xac "; // é and € over and over, across every chunk boundary
    server.setQueryAnswer(answer);
    HttpRequest request;
    request.url = server.url() + "/~cddb/cddb.cgi?cmd=cddb+query";
    request.maxBytes = 1 << 20;
    const HttpResponse response = HttpGet(request);
    ASSERT_TRUE(response.ok) << response.error.toStdString();
    EXPECT_LE(response.text.toUtf8().size(), 1 << 20);
    EXPECT_GT(response.text.toUtf8().size(), (1 << 20) - 8);
    const QString body = response.text.mid(18, 3000);
    EXPECT_EQ(body.count(QChar(0xfffd)), 0);
    EXPECT_EQ(body.left(6), QString::fromUtf8("é€ é€ "));
    // No half character at the cut, and the whole still read as UTF-8 (Latin-1 would give "Ã©").
    EXPECT_EQ(response.text.count(QChar(0xfffd)), 0);
    EXPECT_FALSE(response.text.contains(QChar(0xc3)));

    // An answer that is not UTF-8 is read as Latin-1: an old server's "Café Müller".
    LocalInfo local;
    local.server.setQueryAnswer("200 classical 0b0b0b0b Caf\xe9\r\n");
    local.info.LookupDisc("0b0b0b0b", "1 0 400");
    EXPECT_EQ(local.info.GetAlbum().DiscArtist, QString::fromUtf8("Café"));
    EXPECT_EQ(local.info.GetAlbum().DiscTitle, QString::fromUtf8("Müller"));
    EXPECT_EQ(local.info.GetAlbum().TrackTitles, QStringList{QString::fromUtf8("À la carte")});
}

// A server that redirects to itself is followed five times, not for ever (1,492 requests a second), and the
// failure says why.
TEST(HttpGetTest, ARedirectLoopEndsAfterFiveHops)
{
    CddbTestServer server;
    server.setHandler([&server](const QString &) {
        return CddbTestServer::Reply{302, "", ("Location: " + server.url() + "/again\r\n").toUtf8()};
    });
    HttpRequest request;
    request.url = server.url() + "/start";
    const HttpResponse response = HttpGet(request);
    EXPECT_FALSE(response.ok);
    EXPECT_TRUE(response.error.contains("redirect", Qt::CaseInsensitive)) << response.error.toStdString();
    EXPECT_LE(server.requestLines().size(), 6);
}

// The machine's own drives stay out while a test runs, whichever way it ends.
struct ImagesOnly {
    ImagesOnly() { SetRealCdDrivesEnabled(false); }
    ~ImagesOnly() { SetRealCdDrivesEnabled(true); }
};

TEST(CddbDiscTest, DiscIdOfADiscStartingAfterSectorZero)
{
    // Three tracks at sectors 150, 20,000 and 45,000 (MSF addresses with their two seconds), lead-out at
    // 90,000.
    TToc toc{};
    toc.firstTrack = 1;
    toc.lastTrack = 3;
    const int starts[] = {150, 20000, 45000, 90000};
    for (int i = 0; i < 4; ++i) {
        const int f = starts[i] + 150;
        toc.tracks[i].trackNumber = uint8_t(i == 3 ? 0xAA : i + 1);
        toc.tracks[i].addr[1] = uint8_t(f / 4500);
        toc.tracks[i].addr[2] = uint8_t(f / 75 % 60);
        toc.tracks[i].addr[3] = uint8_t(f % 75);
    }
    // The published algorithm by hand: digit sums of the start seconds (sector + 150) / 75: 4 s (4),
    // 268 s (16), 602 s (8) → 28 = 0x1c; playing time 1202 - 4 = 1198 s = 0x4ae; three tracks.
    QString id, query;
    CddbIdentityOfToc(toc, id, query);
    EXPECT_EQ(id, "1c04ae03");
    EXPECT_EQ(query, "3 300 20150 45150 1202");
}

TEST(CddbDiscTest, DiscIdAndQueryTextOfTheDrive)
{
    TestHome home;
    const ImagesOnly imagesOnly;
    const QString images = DataFolder() + "Disc images/";
    QDir().mkpath(images);
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"15000,silence", "15000,silence"}));
    TCDIn cd;
    TCDDBInfo info;
    EXPECT_THROW(info.DiscID(), EAuException);
    EXPECT_THROW(info.QueryString(), EAuException);
    info.CDIn = &cd;
    EXPECT_EQ(info.DiscID(), "06019002");
    EXPECT_EQ(info.QueryString(), "2 150 15150 402");
    // The computation agrees with the one the main window uses.
    EXPECT_EQ(CddbDiscIdOf({0, 15000}, 0, 30000, 2), "06019002");
    // No disc: the placeholder id and no query text; the query is still sent.
    QFile::remove(images + "disc.cue");
    EXPECT_EQ(info.DiscID(), "ffffffff");
    EXPECT_EQ(info.QueryString(), "");
    CddbTestServer server;
    server.setQueryFixture("query_nomatch.txt");
    info.Server = server.url();
    EXPECT_EQ(info.Lookup(), 202);
    EXPECT_EQ(server.commands().value(0), "cddb query ffffffff ");
    EXPECT_EQ(info.LastDiscId(), "ffffffff");
}

} // namespace
