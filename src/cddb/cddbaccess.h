// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"

#include <QString>
#include <cstdint>

// The CD access library's CDDB client: settings, a query for the disc behind a drive handle, and the disc
// entry of one match. Blocking; the settings are shared by every thread, a query's state is not.

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

void CDDBSetOption(int32_t option, const QString &text, int32_t number);
// 1 when the server answered (a disc it does not know gives 1 and no matches, with CDERR_CDDB_NO_MATCH
// from GetAspiLibError); 0 when the table of contents cannot be read or the server cannot be reached.
int32_t CDDBQuery(HCDROM handle, TCDDBQueryHeader *query);
// 1 when the entry of this match was fetched; the text (UTF-8, zero-terminated) is cut to fit the buffer.
int32_t CDDBGetDiskInfo(const TCDDBQueryItem *entry, char *text, int32_t size);

// Time-out of one CDDB request in seconds, and the flag that ends the requests of this thread early.
void SetCddbTimeout(int seconds);
void SetCddbCancelFlag(const std::atomic<bool> *cancel);

// What one lookup's requests use, given with each call instead of set for the whole process: the server,
// the client's address and name, the proxy, the time-out and the flag that ends the requests early.
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
// CDDBQuery and CDDBGetDiskInfo with the options of one lookup.
int32_t CddbQueryWith(const TCddbClientOptions &options, HCDROM handle, TCDDBQueryHeader *query);
int32_t CddbDiskInfoWith(const TCddbClientOptions &options, const TCDDBQueryItem *entry, char *text,
                         int32_t size);
