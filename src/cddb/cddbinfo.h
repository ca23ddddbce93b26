// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>

class TCDIn;
struct TToc;

// One disc entry from a CDDB server. Texts longer than their field are cut.
struct TCDDBAlbum {
    static constexpr int TextLength = 255;
    static constexpr int YearLength = 4;
    static constexpr int GenreLength = 30;
    static constexpr int DiscLengthLength = 30;

    QStringList TrackArtists;
    QStringList TrackTitles;
    QStringList TrackExtData;
    QString DiscExtData;
    QString DiscTitle;
    QString DiscArtist;
    QString Year;
    QString Genre;
    QString Reserved; // never filled
    QString Generated;
    QString DiscLength;
    int32_t TrackCount = 0;
};

class TCDDBInfo;

// The CDDB protocol over HTTP (protocol level 6, answers in UTF-8): builds the request URLs, fetches them and
// parses the answers. Only the first match is ever read.
class TCDDBQuery {
public:
    explicit TCDDBQuery(TCDDBInfo *owner) : m_owner(owner) {}

    QString BuildURL(const QString &command, const QString &argument);
    // False when the URL cannot be opened; the answer may be cut at the size limit.
    bool HttpGet(const QString &url, QString &answer);
    // -1 when the server cannot be reached; otherwise the code of the last answer line examined.
    int Query(const QString &discId, const QString &queryText);
    int ParseQueryResponse(const QString &text);
    void Read(int index);
    void ParseEntry(const QString &text);

    const QStringList &Matches() const { return m_matches; }
    // The server's own words when it refused the query (an answer line with a 4xx or 5xx code, such as
    // "503 Service temporarily unavailable"); empty otherwise.
    QString Refusal() const;
    const TCDDBAlbum &Album() const { return m_album; }

private:
    QStringList m_response;
    TCDDBInfo *m_owner;
    QString m_discId;
    QString m_queryText;
    QStringList m_matches;
    TCDDBAlbum m_album;
};

// Looks a disc up on a CDDB server and holds the parsed entry. Blocking: call it from one thread at a time.
class TCDDBInfo {
public:
    static QString DefaultServer();
    static QString ClientName();
    // The placeholder address sent in "hello" (user-at-host form); it names neither the user nor the machine.
    static QString DefaultEmail();

    TCDDBInfo();

    QString Server;

    // The script path used when Server names none (the settings' Query Script); empty: /~cddb/cddb.cgi.

    QString Script;
    QString Email;
    QString ApplicationName;
    QString ApplicationVersion = QStringLiteral("1.0");
    TCDIn *CDIn = nullptr;
    // Network limits and the way to end a transfer from another thread.
    QString Proxy; // "host:port", empty for a direct connection
    int ConnectTimeoutSeconds = 10;
    int TotalTimeoutSeconds = 30;
    qint64 MaxAnswerBytes = 1 << 20;
    const std::atomic<bool> *Cancel = nullptr;

    // Raise EAuException "CDIn is not assigned" without a drive component.
    QString DiscID();
    QString QueryString();
    int Lookup();
    int LookupDisc(const QString &discId, const QString &queryText);
    TCDDBAlbum GetAlbum() const { return m_query.Album(); }
    void AcquireDrive();
    void ReleaseDrive();

    QString LastDiscId() const { return m_discId; }
    QString LastQueryText() const { return m_queryText; }
    int LastResult() const { return m_result; }
    TCDDBQuery &Query() { return m_query; }

private:
    // Reads the drive component's table of contents: the start sector of each track and of the lead-out.
    bool readToc(std::vector<int32_t> &starts);

    TCDDBQuery m_query{this};
    QString m_discId;
    QString m_queryText;
    int m_result = 0;
    int m_useCount = 0;
};

// The lines of a server answer, without their line ends (CR LF, LF or CR alone); a final line end makes no
// empty line.
QStringList CddbLines(const QString &text);

// A disc entry in the xmcd format the servers answer with. A key that repeats continues its value; titles
// belong to the track their key names (TTITLE0 is the first track, whatever line it is on). "Artist / Title"
// (space, slash, space) splits the disc title, and the track titles too on a compilation: a disc whose
// artist is "Various" (or "Various Artists"), or whose every titled track has that form; elsewhere a
// track's artist is the disc's and its title is kept whole. Escapes \n, \t and \\ are undone (\n as a CR LF).
// Texts are cut to their fields' lengths.
TCDDBAlbum ParseXmcdEntry(const QString &text);

// The address CDDB commands go to: the server as given (a host, host:port, or a whole URL; http:// when no
// scheme is named), followed by the script path only when the server names no path of its own.
QString CddbServerAddress(const QString &server, const QString &script);

// CDDB disc id and query text of a table of contents given as start sectors. `starts` lists the tracks
// whose start seconds go into the digit sum; the playing time runs from `firstStart` to `leadOut`.
QString CddbDiscIdOf(const std::vector<int32_t> &starts, int32_t firstStart, int32_t leadOut, int trackCount);
QString CddbQueryTextOf(const std::vector<int32_t> &starts, int32_t leadOut, int trackCount);

// Disc id and query text of a table of contents read by the CD access calls (addresses as minute, second,
// frame), offsets counted from the first entry.
void CddbIdentityOfToc(const TToc &toc, QString &discId, QString &queryText);
