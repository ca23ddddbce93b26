// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cddbinfo.h"
#include "cdrom/cdaccess.h"
#include "shell/settings.h"

#include <QEvent>
#include <QObject>
#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

// What one lookup produced for the track list and the disc fields. It is applied on the main thread.
struct TCddbLookupResult {
    std::map<int, QString> Titles;       // row index -> title
    std::map<int, QString> TrackArtists; // row index -> the track's own artist, on compilations
    bool LeftAlignTitles = false;
    std::optional<QString> Artist;
    std::optional<QString> Album;
    std::optional<QString> Year;
    std::optional<int32_t> Genre;
    std::optional<QString> GenreText; // the genre as it came, when the list does not name it
    std::optional<QString> Comment;
    std::optional<QString>
        MusicBrainzRelease; // the release's MBID; empty when the titles came from elsewhere
    QString Refusal;        // the server's words when it refused the lookup
    QString Failure;        // why the lookup itself failed (it then ends as no match)
};

// The message codes a lookup ends with.
constexpr int CDDBQUERY_NO_MATCH = 6;
constexpr int CDDBQUERY_FINISHED = 7;

struct TCddbLookupRequest {
    uint8_t FirstTrack = 1;
    uint8_t LastTrack = 1;
    TCdHandle DriveHandle = 0;
    int RowCount = 0;
    QString DiscId; // of the disc as loaded; empty when it could not be computed
    QString QueryText;
    TQueryCDDB Settings;
    // The component's connection data for the UTF-8 route.
    QString ComponentServer;
    QString ComponentEmail;
    QString ComponentVersion = QStringLiteral("v1.0");
    int TimeoutSeconds = 30;
};

// The disc fields of a lookup into the disc's information (those it produced; the others stay), and with its
// titles the tracks' own artists.
void ApplyCddbDiscFields(const TCddbLookupResult &result, TCDInfo &disc);

// The genre number of a genre name: its place in the genre list from 1, 0 when it is not there.
int32_t CddbGenreNumber(const QString &name);
// The titles, artists, album and year of a MusicBrainz release (first rows only), and its id.
struct TMusicBrainzRelease;
void TakeMusicBrainzRelease(const TMusicBrainzRelease &release, int rowCount, TCddbLookupResult &result);
// The titles (first rows only) and the disc fields of a parsed entry.
void TakeCddbAlbum(const TCDDBAlbum &album, int rowCount, TCddbLookupResult &result);
// The library route's reading of a disc entry; true when the title lines were found.
bool ReadCddbEntryText(const QString &text, int firstTrack, int lastTrack, TCddbLookupResult &result);
// The proxy port of the settings: 80 when it is not a number.
int32_t CddbProxyPort(const QString &port);

// One lookup, blocking: the component route (UTF-8) first when asked for, then the library route. Returns
// CDDBQUERY_FINISHED or CDDBQUERY_NO_MATCH (with the library's error code and reason in *error).
int RunCddbLookup(const TCddbLookupRequest &request, TCddbLookupResult &result, TCdError *error,
                  const std::atomic<bool> *cancel);

// The event a lookup thread posts to its window when it ends.
class TCddbQueryEvent final : public QEvent {
public:
    static QEvent::Type EventType();
    TCddbQueryEvent(int code, int32_t error, TCddbLookupResult result)
        : QEvent(EventType()), Code(code), Error(error), Result(std::move(result))
    {
    }
    int Code;
    int32_t Error;
    TCddbLookupResult Result;
};

// The lookup, run as a task of the application's thread pool. The window that owns this object never waits
// for it: Abandon() (also on destruction) cuts it off from the window, so whatever it still produces is
// dropped, and ends its network transfer as soon as the transfer notices; the pool holds the task until
// then, and waits for it when the application ends.
class TQueryCDDBThread {
public:
    TQueryCDDBThread(const TCddbLookupRequest &request, QObject *window);
    ~TQueryCDDBThread();
    void Start();
    void Abandon();
    bool Started() const { return m_started; }

private:
    struct Shared {
        std::mutex mutex;
        QObject *window = nullptr;
        std::atomic<bool> cancel = false;
    };
    TCddbLookupRequest m_request;
    std::shared_ptr<Shared> m_shared;
    bool m_started = false;
};
