// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddb/cddbaccess.h"
#include "cddbserver.h"
#include "cdrom/cddrivelist.h"
#include "shell/folders.h"
#include "testsupport.h"

#include <QDir>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// A disc image of two 15000-sector tracks behind a drive handle, and the library pointed at a test server.
class CddbAccessTest : public ::testing::Test {
protected:
    TestHome home;
    CddbTestServer server;
    TCdHandle handle = 0;
    std::vector<TCDDBQueryItem> table = std::vector<TCDDBQueryItem>(CDDB_MAX_MATCHES);
    TCDDBQueryHeader header{};
    TCddbClientOptions options;
    TCdError error;

    CddbAccessTest()
    {
        SetRealCdDrivesEnabled(false);
        const QString images = DataFolder() + "Disc images/";
        QDir().mkpath(images);
        EXPECT_TRUE(MakeDisc(images + "disc.cue", {"15000,silence", "15000,silence"}));
        handle = OpenFirstDriveHandle();
        CDDBSetOption(options, CDDB_OPT_SERVER, server.url(), 0);
        CDDBSetOption(options, CDDB_OPT_CGI, "/~cddb/cddb.cgi", 0);
        CDDBSetOption(options, CDDB_OPT_USER, "tester@testhost", 0);
        CDDBSetOption(options, CDDB_OPT_AGENT, "program 1.0", 0);
        CDDBSetOption(options, CDDB_OPT_USE_PROXY, "", 0);
        options.timeoutSeconds = 10;
    }
    ~CddbAccessTest() override
    {
        CloseCDHandle(handle);
        SetRealCdDrivesEnabled(true);
    }
    int32_t query()
    {
        std::memset(table.data(), 0, table.size() * sizeof(TCDDBQueryItem));
        header.num = CDDB_MAX_MATCHES;
        header.q = table.data();
        return CDDBQuery(options, handle, &header, &error);
    }
};

TEST_F(CddbAccessTest, QueryFillsTheMatchTableAndEntriesAreRead)
{
    ASSERT_NE(handle, 0u);
    server.setQueryFixture("query_multiple.txt");
    ASSERT_EQ(query(), 1);
    ASSERT_EQ(header.num, 2);
    EXPECT_STREQ(table[0].categ, "rock");
    EXPECT_STREQ(table[0].cddbId, "06019002");
    EXPECT_STREQ(table[0].artist, "Artist");
    EXPECT_STREQ(table[1].categ, "misc");
    EXPECT_EQ(server.commands().value(0), "cddb query 06019002 2 150 15150 402");
    EXPECT_TRUE(server.requestLines().value(0).contains("&hello=tester+testhost+program+1.0&proto=6"));
    std::vector<char> text(32000);
    ASSERT_EQ(CDDBGetDiskInfo(options, &table[0], text.data(), 32000), 1);
    const QString entry = QString::fromUtf8(text.data());
    EXPECT_TRUE(entry.contains("TTITLE1=Guest / Second Song"));
    EXPECT_FALSE(entry.startsWith("210"));
    EXPECT_EQ(server.commands().value(1), "cddb read rock 06019002");
    // A small buffer gets a cut, terminated text.
    char small[16];
    ASSERT_EQ(CDDBGetDiskInfo(options, &table[0], small, sizeof small), 1);
    EXPECT_EQ(std::strlen(small), 15u);
}

TEST_F(CddbAccessTest, NoMatchAndFailures)
{
    ASSERT_NE(handle, 0u);
    server.setQueryFixture("query_nomatch.txt");
    EXPECT_EQ(query(), 1);
    EXPECT_EQ(header.num, 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_CDDB_NO_MATCH);
    // An entry the server does not have.
    TCDDBQueryItem unknown{};
    std::strcpy(unknown.categ, "blues");
    std::strcpy(unknown.cddbId, "12345678");
    char text[100];
    EXPECT_EQ(CDDBGetDiskInfo(options, &unknown, text, sizeof text), 0);
    // A dropped connection, a bad handle.
    server.setBehaviour(CddbTestServer::Behaviour::Drop);
    EXPECT_EQ(query(), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_CDDB_NETWORK);
    EXPECT_EQ(error.code, CDERR_CDDB_NETWORK);
    EXPECT_FALSE(error.text.isEmpty());
    server.setBehaviour(CddbTestServer::Behaviour::Answer);
    const TCdHandle good = handle;
    handle = 999;
    EXPECT_EQ(query(), 0);
    handle = good;
}

TEST_F(CddbAccessTest, ServerWithoutSchemeAndProxy)
{
    ASSERT_NE(handle, 0u);
    server.setQueryFixture("query_exact.txt");
    CDDBSetOption(options, CDDB_OPT_SERVER, server.url().mid(7), 0);
    EXPECT_EQ(query(), 1);
    EXPECT_EQ(header.num, 1);
    // Through a "proxy": the test server itself, so the request line carries the whole URL.
    CDDBSetOption(options, CDDB_OPT_SERVER, "cddb.invalid", 0);
    CDDBSetOption(options, CDDB_OPT_USE_PROXY, "", 1);
    CDDBSetOption(options, CDDB_OPT_PROXY_PORT, "", server.url().section(':', 2).toInt());
    CDDBSetOption(options, CDDB_OPT_PROXY, "127.0.0.1", 0);
    EXPECT_EQ(query(), 1);
    EXPECT_TRUE(
        server.requestLines().last().startsWith("GET http://cddb.invalid/~cddb/cddb.cgi?cmd=cddb+query"));
    CDDBSetOption(options, CDDB_OPT_USE_PROXY, "", 0);
}

} // namespace
