#include "audio/auexception.h"
#include "cddb/cddbinfo.h"
#include "cddbserver.h"
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
    EXPECT_EQ(album.TrackArtists, (QStringList{"Artist", "Guest"}));
    EXPECT_EQ(album.TrackTitles, (QStringList{"Plain", "Song"}));
    EXPECT_EQ(album.TrackExtData, (QStringList{"x", "y"}));
    EXPECT_EQ(album.DiscExtData, "one\r\ntwothree");
    EXPECT_TRUE(album.Reserved.isEmpty());
}

TEST(CddbQueryTest, TitleLinesCountInOrder)
{
    TCDDBInfo info;
    // The first title line is track 0 whatever its number: a wrong number gives an empty title.
    info.Query().ParseEntry("DTITLE=Disc Artist / Disc\nTTITLE3=A / B\nTTITLE1=Right\n");
    EXPECT_EQ(info.GetAlbum().TrackArtists, (QStringList{"", "Disc Artist"}));
    EXPECT_EQ(info.GetAlbum().TrackTitles, (QStringList{"", "Right"}));
    info.Query().ParseEntry("DTITLE=Disc Artist / Disc\nTTITLE3=B\n");
    EXPECT_EQ(info.GetAlbum().TrackArtists, QStringList{"Disc Artist"});
    EXPECT_EQ(info.GetAlbum().TrackTitles, QStringList{""});
    // TTITLE12 is not TTITLE1.
    info.Query().ParseEntry("TTITLE0=a\nTTITLE12=b\n");
    EXPECT_EQ(info.GetAlbum().TrackTitles, (QStringList{"a", ""}));
    // No slash: no artist; a bare slash inside a name stays with the name.
    info.Query().ParseEntry("DTITLE=Various\nTTITLE0=AC/DC / Back\n");
    EXPECT_EQ(info.GetAlbum().DiscArtist, "");
    EXPECT_EQ(info.GetAlbum().DiscTitle, "Various");
    EXPECT_EQ(info.GetAlbum().TrackArtists, QStringList{"AC/DC"});
    EXPECT_EQ(info.GetAlbum().TrackTitles, QStringList{"Back"});
    // Long titles are cut to 255 characters.
    info.Query().ParseEntry("TTITLE0=" + QString(300, 'x') + "\n");
    EXPECT_EQ(info.GetAlbum().TrackTitles.value(0).size(), 255);
}

TEST(CddbQueryTest, ExactMatchIsQueriedAndRead)
{
    LocalInfo local;
    local.server.setQueryFixture("query_exact.txt");
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 0 15000 400"), 200);
    const QStringList commands = local.server.commands();
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(commands[0], "cddb query 06019002 2 0 15000 400");
    EXPECT_EQ(commands[1], "cddb read rock 06019002");
    EXPECT_TRUE(local.server.requestLines()[1].startsWith(
        "GET /~cddb/cddb.cgi?cmd=cddb+read+rock+06019002&hello=tester+testhost+Sondrel+1.0&proto=6 "));
    const TCDDBAlbum album = local.info.GetAlbum();
    EXPECT_EQ(album.DiscTitle, "Album");
    EXPECT_EQ(album.TrackTitles, (QStringList{"First Song", "Second Song"}));
    EXPECT_EQ(album.TrackArtists, (QStringList{"Artist", "Guest"}));
    EXPECT_EQ(album.DiscExtData, "Recorded live\r\nin one take");
    EXPECT_EQ(local.info.LastResult(), 200);
}

TEST(CddbQueryTest, OnlyTheFirstOfSeveralMatchesIsRead)
{
    LocalInfo local;
    local.server.setQueryFixture("query_inexact_unclosed.txt");
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 0 15000 400"), 211);
    EXPECT_EQ(local.server.commands().value(1), "cddb read misc 06019002");
    EXPECT_EQ(local.server.commands().size(), 2);
    EXPECT_EQ(local.info.GetAlbum().DiscArtist, "Other");
}

TEST(CddbQueryTest, FailuresLeaveTheRecordEmpty)
{
    LocalInfo local;
    local.server.setQueryFixture("query_exact.txt");
    ASSERT_EQ(local.info.LookupDisc("06019002", "2 0 15000 400"), 200);
    ASSERT_EQ(local.info.GetAlbum().TrackCount, 2);
    // No match: no read, and the earlier result is gone.
    local.server.setQueryFixture("query_nomatch.txt");
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 0 15000 400"), 202);
    EXPECT_EQ(local.server.commands().size(), 3);
    EXPECT_EQ(local.info.GetAlbum().TrackCount, 0);
    // A dropped connection and an unreachable server: -1.
    local.server.setBehaviour(CddbTestServer::Behaviour::Drop);
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 0 15000 400"), -1);
    local.info.Server = "http://127.0.0.1:1";
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 0 15000 400"), -1);
    local.info.Server = "not a server";
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 0 15000 400"), -1);
    EXPECT_EQ(local.info.GetAlbum().TrackCount, 0);
}

TEST(CddbQueryTest, MalformedEntryIsTakenApartSafely)
{
    LocalInfo local;
    local.server.setQueryFixture("query_malformed.txt");
    EXPECT_EQ(local.info.LookupDisc("0a0a0a0a", "1 0 100"), 200);
    const TCDDBAlbum album = local.info.GetAlbum();
    // TTITLE7, TTITLE and TTITLE1 are three lines for tracks 0 to 2, none carrying its own number.
    EXPECT_EQ(album.TrackCount, 3);
    EXPECT_EQ(album.TrackTitles, (QStringList{"", "", ""}));
    EXPECT_EQ(album.TrackExtData, (QStringList{"a", "b", "c"}));
    EXPECT_EQ(album.DiscArtist, "Broken");
}

TEST(CddbQueryTest, SilentServerTimesOutOrIsCancelled)
{
    LocalInfo local;
    local.server.setBehaviour(CddbTestServer::Behaviour::Silent);
    local.info.TotalTimeoutSeconds = 1;
    EXPECT_EQ(local.info.LookupDisc("06019002", "2 0 15000 400"), -1);
    // Cancelled from another thread long before the time-out.
    local.info.TotalTimeoutSeconds = 600;
    std::atomic<bool> cancel = false;
    local.info.Cancel = &cancel;
    std::atomic<int> result = 0;
    std::thread lookup([&] { result = local.info.LookupDisc("06019002", "2 0 15000 400"); });
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
}

// The machine's own drives stay out while a test runs, whichever way it ends.
struct ImagesOnly {
    ImagesOnly() { SetRealCdDrivesEnabled(false); }
    ~ImagesOnly() { SetRealCdDrivesEnabled(true); }
};

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
    EXPECT_EQ(info.QueryString(), "2 0 15000 400");
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
