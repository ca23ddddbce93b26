// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"

#include <QString>
#include <atomic>
#include <cstdint>

// The CD access library's CDDB client: settings, a query for the disc behind a drive handle, and the disc
// entry of one match. Blocking; each lookup gives its own options.

enum CddbOption : int32_t {
    CDDB_OPT_SERVER = 0,
    CDDB_OPT_PROXY = 1,
    CDDB_OPT_USE_PROXY = 2,
    CDDB_OPT_AGENT = 3, // "name version"
    CDDB_OPT_USER = 4,  // e-mail address
    CDDB_OPT_PROXY_PORT = 5,
    CDDB_OPT_CGI = 6,
    CDDB_OPT_HTTP_PORT = 8, // accepted; the port is taken from the server text
};

constexpr int CDDB_MAX_MATCHES = 10;

#pragma pack(push, 1)
struct TCDDBQueryItem {
    char categ[12];
    char cddbId[12];
    char artist[84];
    char title[84];
};
struct TCDDBQueryHeader {
    int32_t num; // in: capacity; out: number of matches
    TCDDBQueryItem *q;
};
#pragma pack(pop)
static_assert(sizeof(TCDDBQueryItem) == 192);

// What one lookup's requests use, given with each call: the server, the client's address and name, the
// proxy, the time-out and the flag that ends the requests early. Two lookups at once never share them.
struct TCddbClientOptions {
    QString server;
    QString script = QStringLiteral("/~cddb/cddb.cgi");
    QString email;
    QString agent = QStringLiteral("Sondrel 1.0"); // "name version"
    bool useProxy = false;
    QString proxy;
    int proxyPort = 80;
    int timeoutSeconds = 30;
    const std::atomic<bool> *cancel = nullptr;
};

// Sets one of the lookup's options by its CddbOption number.
void CDDBSetOption(TCddbClientOptions &options, int32_t option, const QString &text, int32_t number);
// 1 when the server answered (a disc it does not know gives 1 and no matches, CDERR_CDDB_NO_MATCH in the
// error); 0 when the table of contents cannot be read or the server cannot be reached or understood.
int32_t CDDBQuery(const TCddbClientOptions &options, TCdHandle handle, TCDDBQueryHeader *query,
                  TCdError *error = nullptr);
// 1 when the entry of this match was fetched; the text (UTF-8, zero-terminated) is cut to fit the buffer.
int32_t CDDBGetDiskInfo(const TCddbClientOptions &options, const TCDDBQueryItem *entry, char *text,
                        int32_t size, TCdError *error = nullptr);
