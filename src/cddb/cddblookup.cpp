// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddblookup.h"

#include "cddbaccess.h"
#include "musicbrainz.h"
#include "shell/genres.h"
#include "shell/helpers.h"
#include "shell/httpget.h"
#include "shell/settings.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThreadPool>
#include <vector>

int32_t CddbGenreNumber(const QString &name)
{
    return GenreIndex(name) + 1;
}

void ApplyCddbDiscFields(const TCddbLookupResult &result, TCDInfo &disc)
{
    if (result.Artist)
        disc.Artist = *result.Artist;
    if (result.Album)
        disc.Album = *result.Album;
    if (result.Year)
        disc.Year = *result.Year;
    if (result.Genre) {
        disc.Genre = *result.Genre;
        disc.GenreText = result.GenreText.value_or(QString());
    }
    if (result.Comment)
        disc.Comment = *result.Comment;
    if (result.MusicBrainzRelease)
        disc.MusicBrainzRelease = *result.MusicBrainzRelease;
    else if (!result.Titles.empty())
        disc.MusicBrainzRelease.clear(); // the titles came from elsewhere
    // A lookup that found titles says which tracks have artists of their own (none, on most discs).
    if (!result.Titles.empty()) {
        for (QString &artist : disc.TrackArtists)
            artist.clear();
        for (const auto &[row, artist] : result.TrackArtists) {
            if (row >= 0 && row + 1 < int(disc.TrackArtists.size()))
                disc.TrackArtists[size_t(row + 1)] = artist;
        }
    }
}

int32_t CddbProxyPort(const QString &port)
{
    bool number = false;
    const int value = port.trimmed().toInt(&number);
    return number ? value : 80;
}

namespace {

// Titles and fields from a server carry no control characters (a NUL would cut a file name short).
void cleanResult(TCddbLookupResult &result)
{
    for (auto &[row, title] : result.Titles)
        title = WithoutControlChars(title);
    for (auto &[row, artist] : result.TrackArtists)
        artist = WithoutControlChars(artist);
    for (std::optional<QString> *field : {&result.Artist, &result.Album, &result.Year, &result.Comment}) {
        if (*field)
            **field = WithoutControlChars(**field);
    }
}

// The titles of the first rows, and the artists that are the tracks' own (not the disc's).
void takeTracks(const QStringList &titles, const QStringList &artists, const QString &discArtist,
                int rowCount, TCddbLookupResult &result)
{
    for (int i = 0; i < titles.size() && i < rowCount; ++i) {
        result.Titles[i] = titles.at(i);
        const QString artist = artists.value(i);
        if (!artist.isEmpty() && artist != discArtist)
            result.TrackArtists[i] = artist;
    }
}

} // namespace

void TakeMusicBrainzRelease(const TMusicBrainzRelease &release, int rowCount, TCddbLookupResult &result)
{
    takeTracks(release.TrackTitles, release.TrackArtists, release.Artist, rowCount, result);
    result.Artist = release.Artist;
    result.Album = release.Title;
    result.Year = release.Date.left(4);
    result.MusicBrainzRelease = release.Id;
    result.LeftAlignTitles = !release.TrackTitles.isEmpty();
    cleanResult(result);
}

void TakeCddbAlbum(const TCDDBAlbum &album, int rowCount, TCddbLookupResult &result)
{
    takeTracks(album.TrackTitles, album.TrackArtists, album.DiscArtist, rowCount, result);
    result.Artist = album.DiscArtist;
    result.Album = album.DiscTitle;
    result.Year = album.Year;
    result.Genre = CddbGenreNumber(album.Genre);
    if (*result.Genre <= 0)
        result.GenreText = album.Genre.trimmed();
    result.Comment = album.Reserved;
    cleanResult(result);
}

bool ReadCddbEntryText(const QString &text, int firstTrack, int lastTrack, TCddbLookupResult &result)
{
    const TCDDBAlbum album = ParseXmcdEntry(text);
    if (text.contains(QStringLiteral("DTITLE="))) {
        result.Artist = album.DiscArtist;
        result.Album = album.DiscTitle;
    }
    if (text.contains(QStringLiteral("DYEAR=")))
        result.Year = album.Year;
    if (text.contains(QStringLiteral("DGENRE="))) {
        result.Genre = CddbGenreNumber(album.Genre);
        if (*result.Genre <= 0)
            result.GenreText = album.Genre.trimmed();
    }
    bool found = false;
    for (int t = std::max(firstTrack, 1); t <= lastTrack && t <= album.TrackCount; ++t) {
        const QString &title = album.TrackTitles.at(t - 1);
        if (title.isEmpty())
            continue;
        result.Titles[t - firstTrack] = title;
        if (album.TrackArtists.at(t - 1) != album.DiscArtist)
            result.TrackArtists[t - firstTrack] = album.TrackArtists.at(t - 1);
        found = true;
    }
    result.LeftAlignTitles = found;
    cleanResult(result);
    return found;
}

namespace {

bool componentRoute(const TCddbLookupRequest &request, TCddbLookupResult &result,
                    const std::atomic<bool> *cancel)
{
    TCDDBInfo info;
    // The server as the settings give it; the component's own script path only when it names none.
    info.Server =
        request.Settings.Server.trimmed().isEmpty() ? request.ComponentServer : request.Settings.Server;
    // The typed script too, on this route as on the other (it was left out: requests went to the default).
    info.Script = request.Settings.Script;
    if (!request.ComponentEmail.isEmpty())
        info.Email = request.ComponentEmail;
    info.ApplicationVersion = request.ComponentVersion;
    info.TotalTimeoutSeconds = request.TimeoutSeconds;
    if (request.Settings.UseProxy && !request.Settings.ProxyAddress.isEmpty())
        info.Proxy = request.Settings.ProxyAddress + QLatin1Char(':') +
                     QString::number(CddbProxyPort(request.Settings.Port));
    info.Cancel = cancel;
    info.LookupDisc(request.DiscId, request.QueryText);
    const TCDDBAlbum album = info.GetAlbum();
    if (album.TrackCount <= 0) {
        result.Refusal = info.Query().Refusal();
        return false;
    }
    TakeCddbAlbum(album, request.RowCount, result);
    return true;
}

int libraryRoute(const TCddbLookupRequest &request, TCddbLookupResult &result, TCdError *error,
                 const std::atomic<bool> *cancel)
{
    std::vector<TCDDBQueryItem> table(CDDB_MAX_MATCHES);
    TCDDBQueryHeader header{CDDB_MAX_MATCHES, table.data()};
    const TQueryCDDB &s = request.Settings;
    // This lookup's own options: two lookups at once never mix their servers.
    TCddbClientOptions options;
    CDDBSetOption(options, CDDB_OPT_SERVER, s.Server, 0);
    CDDBSetOption(options, CDDB_OPT_CGI, s.Script, 0);
    CDDBSetOption(options, CDDB_OPT_USER, TCDDBInfo::DefaultEmail(), 0);
    CDDBSetOption(options, CDDB_OPT_AGENT, QStringLiteral("program 1.0"), 0);
    CDDBSetOption(options, CDDB_OPT_HTTP_PORT, QString(), 0);
    if (s.UseProxy) {
        CDDBSetOption(options, CDDB_OPT_USE_PROXY, QString(), 1);
        CDDBSetOption(options, CDDB_OPT_PROXY_PORT, QString(), CddbProxyPort(s.Port));
        CDDBSetOption(options, CDDB_OPT_PROXY, s.ProxyAddress, 0);
    }
    options.timeoutSeconds = std::max(1, request.TimeoutSeconds);
    options.cancel = cancel;
    TCdError failure;
    const int32_t ok = CDDBQuery(options, request.DriveHandle, &header, &failure);
    if (ok != 1) {
        // A server that cannot be reached is said so, with the no-match hints; a disc whose table of
        // contents cannot be read ends as finished, with nothing changed.
        const int32_t why = failure.code;
        if (why != CDERR_CDDB_NETWORK && why != CDERR_CDDB_ANSWER)
            return CDDBQUERY_FINISHED;
        if (error)
            *error = failure;
        if (why == CDERR_CDDB_ANSWER) // the window says so instead of its no-match hints
            result.Failure = QStringLiteral("the CDDB server's answer could not be read: ") + failure.text;
        return CDDBQUERY_NO_MATCH;
    }
    if (header.num < 1) {
        if (error)
            *error = failure;
        return CDDBQUERY_NO_MATCH;
    }
    std::vector<char> text(32000);
    for (int m = 0; m < header.num && !(cancel && cancel->load()); ++m) {
        std::fill(text.begin(), text.end(), '\0');
        if (CDDBGetDiskInfo(options, &table[size_t(m)], text.data(), 32000) != 1)
            continue;
        if (ReadCddbEntryText(DecodeServerText(QByteArray(text.data(), qstrnlen(text.data(), text.size()))),
                              request.FirstTrack, request.LastTrack, result))
            break;
    }
    return CDDBQUERY_FINISHED;
}

} // namespace

int RunCddbLookup(const TCddbLookupRequest &request, TCddbLookupResult &result, TCdError *error,
                  const std::atomic<bool> *cancel)
{
    if (error)
        *error = TCdError{};
    if (request.Settings.TagEncoding == 0) {
        if (request.DiscId.isEmpty())
            return CDDBQUERY_FINISHED;
        if (componentRoute(request, result, cancel))
            return CDDBQUERY_FINISHED;
    }
    return libraryRoute(request, result, error, cancel);
}

QEvent::Type TCddbQueryEvent::EventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

TQueryCDDBThread::TQueryCDDBThread(const TCddbLookupRequest &request, QObject *window)
    : m_request(request), m_shared(std::make_shared<Shared>())
{
    m_shared->window = window;
}

TQueryCDDBThread::~TQueryCDDBThread()
{
    Abandon();
}

void TQueryCDDBThread::Start()
{
    if (m_started)
        return;
    m_started = true;
    QThreadPool::globalInstance()->start([request = m_request, shared = m_shared] {
        TCddbLookupResult result;
        TCdError error;
        int code = CDDBQUERY_FINISHED;
        try {
            code = RunCddbLookup(request, result, &error, &shared->cancel);
        } catch (...) {
            // Said in the window, which would otherwise wait for an answer that never comes.
            LogCaughtException("CDDB lookup");
            result = TCddbLookupResult();
            result.Failure = CurrentExceptionText();
            code = CDDBQUERY_NO_MATCH;
        }
        std::lock_guard lock(shared->mutex);
        if (shared->window && !shared->cancel)
            QCoreApplication::postEvent(shared->window,
                                        new TCddbQueryEvent(code, error.code, std::move(result)));
    });
}

void TQueryCDDBThread::Abandon()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->window = nullptr;
    m_shared->cancel = true;
}
