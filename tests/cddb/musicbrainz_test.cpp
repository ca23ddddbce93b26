// SPDX-License-Identifier: GPL-3.0-or-later
// MusicBrainz disc ids and lookups, against a loopback server of the tests' own serving JSON.
#include "cddb/musicbrainz.h"
#include "cddbserver.h"
#include "cdrom/cdaccess.h"
#include "shell/synchronize.h"
#include "testsupport.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace {

// A release in the web service's form: its tracks on one CD medium that lists the disc.
QByteArray release(const QString &id, const QString &title, const QString &artist, const QString &date,
                   const QString &country, const QStringList &tracks, const QStringList &trackArtists = {},
                   const QString &discId = "49HHV7Eb8UKF3aQiNmu1GR8vKTY-")
{
    QString list;
    for (int i = 0; i < tracks.size(); ++i) {
        const QString credit =
            trackArtists.value(i).isEmpty()
                ? QString()
                : QString(R"(,"artist-credit":[{"name":"%1","joinphrase":""}])").arg(trackArtists[i]);
        list += QString(R"(%1{"position":%2,"title":"%3"%4,"recording":{"title":"%3"}})")
                    .arg(i ? "," : "")
                    .arg(i + 1)
                    .arg(tracks[i], credit);
    }
    return QString(R"({"id":"%1","title":"%2","date":"%3","country":"%4",)"
                   R"("artist-credit":[{"name":"%5","joinphrase":""}],)"
                   R"("media":[{"format":"DVD","track-count":1,"tracks":[{"title":"Bonus"}]},)"
                   R"({"format":"CD","track-count":%6,"discs":[{"id":"%7"}],"tracks":[%8]}]})")
        .arg(id, title, date, country, artist)
        .arg(tracks.size())
        .arg(discId, list)
        .toUtf8();
}

QByteArray answer(const QList<QByteArray> &releases)
{
    QByteArray all;
    for (const QByteArray &r : releases)
        all += (all.isEmpty() ? "" : ",") + r;
    return R"({"id":"49HHV7Eb8UKF3aQiNmu1GR8vKTY-","releases":[)" + all + "]}";
}

struct Lookup {
    CddbTestServer server;
    TMusicBrainzRequest request;
    std::vector<TMusicBrainzRelease> releases;
    QString error;
    Lookup()
    {
        request.BaseUrl = server.url();
        request.DiscId = "49HHV7Eb8UKF3aQiNmu1GR8vKTY-";
        request.TocText = "1 6 95462 150 15363 32314 46592 63414 80489";
        request.TrackCount = 6;
        request.TimeoutSeconds = 10;
    }
    bool run() { return MusicBrainzLookup(request, releases, &error); }
};

const QStringList six{"One", "Two", "Three", "Four", "Five", "Six"};

TEST(MusicBrainzId, TheDocumentedExample)
{
    // MusicBrainz's own description of the disc id: six tracks, LBA 0 to 80339, lead-out at 95312.
    QString id, toc;
    ASSERT_TRUE(MusicBrainzIdentityOf(1, 6, {95462, 150, 15363, 32314, 46592, 63414, 80489}, id, toc));
    EXPECT_EQ(id, "49HHV7Eb8UKF3aQiNmu1GR8vKTY-");
    EXPECT_EQ(toc, "1 6 95462 150 15363 32314 46592 63414 80489");

    // The same disc as a table of contents in MSF addressing, and with a data track after it.
    TToc t{};
    t.firstTrack = 1;
    t.lastTrack = 6;
    const int lba[] = {0, 15213, 32164, 46442, 63264, 80339, 95312};
    for (int i = 0; i < 7; ++i) {
        const int f = lba[i] + 150;
        t.tracks[i].addr[1] = uint8_t(f / 4500);
        t.tracks[i].addr[2] = uint8_t(f / 75 % 60);
        t.tracks[i].addr[3] = uint8_t(f % 75);
    }
    QString fromToc, tocText;
    ASSERT_TRUE(MusicBrainzIdentityOfToc(t, fromToc, tocText));
    EXPECT_EQ(fromToc, id);
    t.lastTrack = 7;
    t.tracks[6].ADR = 4; // a data track where the lead-out was, 11400 sectors after the audio session
    const int f = 95312 + 11400 + 150;
    t.tracks[6].addr[1] = uint8_t(f / 4500);
    t.tracks[6].addr[2] = uint8_t(f / 75 % 60);
    t.tracks[6].addr[3] = uint8_t(f % 75);
    t.tracks[7].addr[1] = 30;
    ASSERT_TRUE(MusicBrainzIdentityOfToc(t, fromToc, tocText));
    EXPECT_EQ(fromToc, id);
    EXPECT_FALSE(MusicBrainzIdentityOf(3, 2, {0, 0, 0, 0}, id, toc));
}

TEST(MusicBrainzAnswer, ReleasesWithTheMatchingMediumAndCredits)
{
    std::vector<TMusicBrainzRelease> releases;
    QString error;
    const QByteArray compilation =
        release("mb-2", QString::fromUtf8("Сборник"), "Various Artists", "2003-05-01", "RU", {"A", "B"},
                {QString::fromUtf8("Земляне"), "Queen"});
    ASSERT_TRUE(
        ParseMusicBrainzAnswer(answer({compilation}), "49HHV7Eb8UKF3aQiNmu1GR8vKTY-", 2, releases, &error));
    ASSERT_EQ(releases.size(), 1u);
    const TMusicBrainzRelease &r = releases[0];
    EXPECT_EQ(r.Id, "mb-2");
    EXPECT_EQ(r.Title, QString::fromUtf8("Сборник"));
    EXPECT_EQ(r.Artist, "Various Artists");
    EXPECT_EQ(r.Date, "2003-05-01");
    EXPECT_EQ(r.Country, "RU");
    EXPECT_EQ(r.Format, "CD"); // the medium with the disc, not the first
    EXPECT_EQ(r.TrackTitles, (QStringList{"A", "B"}));
    EXPECT_EQ(r.TrackArtists, (QStringList{QString::fromUtf8("Земляне"), "Queen"}));

    // Join phrases make the credit as it reads.
    const QByteArray joined =
        R"({"releases":[{"id":"x","title":"T","artist-credit":[{"name":"A","joinphrase":" feat. "},)"
        R"({"artist":{"name":"B"},"joinphrase":""}],"media":[{"tracks":[{"title":"t"}]}]}]})";
    ASSERT_TRUE(ParseMusicBrainzAnswer(joined, QString(), 1, releases, &error));
    EXPECT_EQ(releases[0].Artist, "A feat. B");
    EXPECT_EQ(releases[0].TrackArtists, QStringList{"A feat. B"}); // no own credit: the release's

    // Not the service's JSON: said, nothing taken.
    EXPECT_FALSE(ParseMusicBrainzAnswer("{\"releases\": [", QString(), 1, releases, &error));
    EXPECT_TRUE(error.startsWith("MusicBrainz answered with something that is not its JSON"))
        << error.toStdString();
    EXPECT_TRUE(releases.empty());
    EXPECT_FALSE(ParseMusicBrainzAnswer(R"({"releases": 5})", QString(), 1, releases, &error));
    EXPECT_TRUE(
        ParseMusicBrainzAnswer(R"({"release-count": 0, "releases": []})", QString(), 1, releases, &error));
    EXPECT_TRUE(releases.empty());
}

TEST(MusicBrainzLookup, OneReleaseSeveralAndAFuzzyMatch)
{
    Lookup one;
    QStringList targets;
    std::mutex lock;
    one.server.setHandler([&](const QString &target) {
        std::lock_guard guard(lock);
        targets << target;
        return CddbTestServer::Reply{200, answer({release("mb-1", "Album", "Band", "1999", "GB", six)}), {}};
    });
    ASSERT_TRUE(one.run()) << one.error.toStdString();
    ASSERT_EQ(one.releases.size(), 1u);
    EXPECT_EQ(one.releases[0].TrackTitles, six);
    EXPECT_EQ(one.releases[0].TrackArtists, QStringList(6, "Band"));
    ASSERT_EQ(targets.size(), 1);
    EXPECT_EQ(targets[0], "/ws/2/discid/49HHV7Eb8UKF3aQiNmu1GR8vKTY-?inc=artist-credits+recordings&fmt=json");

    // Several releases: all of them, for the user to choose from.
    one.server.setHandler([&](const QString &) {
        return CddbTestServer::Reply{200,
                                     answer({release("mb-1", "Album", "Band", "1999", "GB", six),
                                             release("mb-3", "Album (remaster)", "Band", "2009", "US", six)}),
                                     {}};
    });
    ASSERT_TRUE(one.run());
    ASSERT_EQ(one.releases.size(), 2u);
    EXPECT_EQ(one.releases[1].Country, "US");

    // An id the service does not know: then by table of contents.
    targets.clear();
    one.server.setHandler([&](const QString &target) {
        std::lock_guard guard(lock);
        targets << target;
        if (!target.contains("toc="))
            return CddbTestServer::Reply{404, R"({"error": "Not Found"})", {}};
        return CddbTestServer::Reply{200,
                                     R"({"release-count":1,"releases":[)" +
                                         release("mb-9", "Near", "Band", "", "", six, {}, "other") + "]}",
                                     {}};
    });
    ASSERT_TRUE(one.run()) << one.error.toStdString();
    ASSERT_EQ(one.releases.size(), 1u);
    EXPECT_EQ(one.releases[0].Title, "Near");
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[1],
              "/ws/2/discid/49HHV7Eb8UKF3aQiNmu1GR8vKTY-?toc=1+6+95462+150+15363+32314+46592+63414+80489"
              "&inc=artist-credits+recordings&fmt=json");
}

TEST(MusicBrainzLookup, BusyServersBrokenAnswersAndStopping)
{
    // 503 with a wait: asked once more after it, then the answer counts.
    Lookup busy;
    std::atomic<int> asked{0};
    busy.server.setHandler([&](const QString &) {
        if (asked++ == 0)
            return CddbTestServer::Reply{503, "busy", "Retry-After: 1\r\n"};
        return CddbTestServer::Reply{200, answer({release("mb-1", "Album", "Band", "1999", "GB", six)}), {}};
    });
    ASSERT_TRUE(busy.run()) << busy.error.toStdString();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(busy.releases.size(), 1u);
    // Busy twice: a clear message, no third request.
    asked = 0;
    busy.server.setHandler([&](const QString &) {
        ++asked;
        return CddbTestServer::Reply{503, "busy", "Retry-After: 1\r\n"};
    });
    EXPECT_FALSE(busy.run());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(busy.error, "MusicBrainz is busy and asks to be left alone for now; try again later.");

    // Broken JSON: said.
    busy.server.setHandler([&](const QString &) {
        return CddbTestServer::Reply{200, "<html>oops</html>", {}};
    });
    EXPECT_FALSE(busy.run());
    EXPECT_TRUE(busy.error.startsWith("MusicBrainz answered with something that is not its JSON"));
    EXPECT_TRUE(busy.releases.empty());

    // A server that says nothing: stopping ends the lookup at once.
    busy.server.setBehaviour(CddbTestServer::Behaviour::Silent);
    TStopFlag stop;
    busy.request.Cancel = &stop;
    busy.request.TimeoutSeconds = 60;
    const qsizetype before = busy.server.requestLines().size();
    std::future<bool> running = std::async(std::launch::async, [&] { return busy.run(); });
    ASSERT_TRUE(WaitFor([&] { return busy.server.requestLines().size() > before; }));
    stop.Set();
    EXPECT_FALSE(running.get());
    EXPECT_EQ(busy.error, "The MusicBrainz lookup was stopped.");
}

} // namespace
