// SPDX-License-Identifier: GPL-3.0-or-later
#include "musicbrainz.h"

#include "cdrom/cdaccess.h"
#include "coverimage.h"
#include "shell/discinfo.h"
#include "shell/helpers.h"
#include "shell/httpget.h"
#include "shell/synchronize.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <chrono>
#include <discid/discid.h>
#include <mutex>

namespace {

// The text of an artist credit: each name followed by its join phrase ("A", " feat. ", "B").
QString creditText(const QJsonValue &credit)
{
    QString text;
    for (const QJsonValue &part : credit.toArray()) {
        const QJsonObject o = part.toObject();
        QString name = o.value(QStringLiteral("name")).toString();
        if (name.isEmpty())
            name = o.value(QStringLiteral("artist")).toObject().value(QStringLiteral("name")).toString();
        text += name + o.value(QStringLiteral("joinphrase")).toString();
    }
    return text.trimmed();
}

QJsonObject matchingMedium(const QJsonArray &media, const QString &discId, int trackCount)
{
    for (const QJsonValue &m : media) {
        for (const QJsonValue &disc : m.toObject().value(QStringLiteral("discs")).toArray()) {
            if (!discId.isEmpty() && disc.toObject().value(QStringLiteral("id")).toString() == discId)
                return m.toObject();
        }
    }
    for (const QJsonValue &m : media) {
        const QJsonObject o = m.toObject();
        const int count = o.value(QStringLiteral("track-count"))
                              .toInt(int(o.value(QStringLiteral("tracks")).toArray().size()));
        if (count == trackCount)
            return o;
    }
    return QJsonObject(); // another disc of the release, or another disc altogether
}

// One request a second at most, from the whole program; a stop request ends the wait.
void waitForTurn(const TStopFlag *cancel)
{
    static std::mutex lock;
    static std::chrono::steady_clock::time_point last;
    std::lock_guard guard(lock);
    WaitUntilStopped(cancel, last + std::chrono::seconds(1));
    last = std::chrono::steady_clock::now();
}

} // namespace

bool MusicBrainzIdentityOf(int first, int last, const std::vector<int> &offsets, QString &id,
                           QString &tocText)
{
    if (first < 1 || last < first || last > 99 || int(offsets.size()) < last + 1)
        return false;
    int table[100] = {};
    for (int i = 0; i <= last; ++i)
        table[i] = offsets[size_t(i)];
    DiscId *disc = discid_new();
    if (!disc)
        return false;
    const bool ok = discid_put(disc, first, last, table) != 0;
    if (ok) {
        id = QString::fromLatin1(discid_get_id(disc));
        tocText = QString::fromLatin1(discid_get_toc_string(disc));
    }
    discid_free(disc);
    return ok;
}

bool MusicBrainzIdentityOfToc(const TToc &toc, QString &id, QString &tocText)
{
    TAudioSession audio;
    if (!AudioSessionOf(toc, audio))
        return false;
    std::vector<int> offsets(size_t(audio.Last) + 1, 0);
    offsets[0] = audio.LeadOut;
    for (int t = audio.First; t <= audio.Last; ++t)
        offsets[size_t(t)] = TocEntryFrames(toc.tracks[t - toc.firstTrack]);
    return MusicBrainzIdentityOf(audio.First, audio.Last, offsets, id, tocText);
}

bool ParseMusicBrainzAnswer(const QByteArray &json, const QString &discId, int trackCount,
                            std::vector<TMusicBrainzRelease> &releases, QString *error)
{
    releases.clear();
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        if (error)
            *error =
                QStringLiteral("MusicBrainz answered with something that is not its JSON: ") +
                (parse.error != QJsonParseError::NoError ? parse.errorString() : QStringLiteral("no object"));
        return false;
    }
    const QJsonValue list = document.object().value(QStringLiteral("releases"));
    if (!list.isUndefined() && !list.isArray()) {
        if (error)
            *error = QStringLiteral(
                "MusicBrainz answered with something that is not its JSON: releases are no list");
        return false;
    }
    // Every field read must be of the type MusicBrainz gives it; anything else is no release of theirs, and
    // nothing of it may replace what the user has.
    const auto wrongType = [&](const QJsonObject &o, const char *key, QJsonValue::Type type) {
        const QJsonValue v = o.value(QLatin1String(key));
        return !v.isUndefined() && !v.isNull() && v.type() != type;
    };
    const auto notARelease = [&] {
        if (error)
            *error = QStringLiteral("The answer is not a MusicBrainz release.");
        releases.clear();
        return false;
    };
    for (const QJsonValue &value : list.toArray()) {
        if (!value.isObject())
            return notARelease();
        const QJsonObject r = value.toObject();
        if (!r.value(QStringLiteral("id")).isString() || wrongType(r, "title", QJsonValue::String) ||
            wrongType(r, "date", QJsonValue::String) || wrongType(r, "country", QJsonValue::String) ||
            wrongType(r, "artist-credit", QJsonValue::Array) || wrongType(r, "media", QJsonValue::Array))
            return notARelease();
        for (const QJsonValue &m : r.value(QStringLiteral("media")).toArray()) {
            if (!m.isObject() || wrongType(m.toObject(), "tracks", QJsonValue::Array) ||
                wrongType(m.toObject(), "discs", QJsonValue::Array) ||
                wrongType(m.toObject(), "track-count", QJsonValue::Double))
                return notARelease();
            for (const QJsonValue &t : m.toObject().value(QStringLiteral("tracks")).toArray()) {
                if (!t.isObject() || wrongType(t.toObject(), "title", QJsonValue::String) ||
                    wrongType(t.toObject(), "recording", QJsonValue::Object))
                    return notARelease();
            }
        }
        TMusicBrainzRelease release;
        release.Id = r.value(QStringLiteral("id")).toString();
        release.Title = r.value(QStringLiteral("title")).toString();
        release.Artist = creditText(r.value(QStringLiteral("artist-credit")));
        release.Date = r.value(QStringLiteral("date")).toString();
        release.Country = r.value(QStringLiteral("country")).toString();
        const QJsonObject medium =
            matchingMedium(r.value(QStringLiteral("media")).toArray(), discId, trackCount);
        if (medium.isEmpty())
            continue; // none of its media is this disc
        release.Format = medium.value(QStringLiteral("format")).toString();
        for (const QJsonValue &t : medium.value(QStringLiteral("tracks")).toArray()) {
            const QJsonObject track = t.toObject();
            const QJsonObject recording = track.value(QStringLiteral("recording")).toObject();
            QString title = track.value(QStringLiteral("title")).toString();
            if (title.isEmpty())
                title = recording.value(QStringLiteral("title")).toString();
            QString artist = creditText(track.value(QStringLiteral("artist-credit")));
            if (artist.isEmpty())
                artist = creditText(recording.value(QStringLiteral("artist-credit")));
            release.TrackTitles << title;
            release.TrackArtists << (artist.isEmpty() ? release.Artist : artist);
        }
        releases.push_back(release);
    }
    return true;
}

bool FetchCoverArt(const QString &base, const QString &releaseId, QString *error, const TStopFlag *cancel)
{
    if (error)
        error->clear();
    const QString path = CoverCachePath(releaseId);
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("\"%1\" is no MusicBrainz release id").arg(releaseId.left(80));
        return false;
    }
    if (QFileInfo(path).isFile() && QFileInfo(path).size() > 0)
        return true;
    QString address = base;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    HttpRequest http;
    http.url = address + QStringLiteral("/release/") + releaseId + QStringLiteral("/front-500");
    http.userAgent = MusicBrainzUserAgent();
    http.cancel = cancel ? cancel->Atomic() : nullptr;
    http.maxBytes = MaxCoverBytes + 1;
    const HttpResponse response = HttpGet(http);
    if (response.status == 404)
        return false; // the release has no cover art
    const QString problem = !response.ok   ? response.error
                            : response.cut ? QStringLiteral("larger than %1 MB").arg(MaxCoverBytes >> 20)
                                           : CoverImageProblem(response.bytes);
    if (!problem.isEmpty()) {
        if (error)
            *error = QStringLiteral("The cover of %1 could not be fetched from %2: %3")
                         .arg(releaseId, address, problem);
        return false;
    }
    return MakeFolder(QFileInfo(path).path(), error) && WriteFileAtomically(path, response.bytes, error);
}

QString MusicBrainzUserAgent()
{
    return QStringLiteral("Sondrel/" SONDREL_VERSION " ( sondrel@localhost )");
}

bool MusicBrainzLookup(const TMusicBrainzRequest &request, std::vector<TMusicBrainzRelease> &releases,
                       QString *error)
{
    releases.clear();
    QString base = request.BaseUrl;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QString inc = QStringLiteral("inc=artist-credits+recordings&fmt=json");
    const QString byId = base + QStringLiteral("/ws/2/discid/") +
                         QString::fromLatin1(QUrl::toPercentEncoding(request.DiscId)) + QLatin1Char('?') +
                         inc;
    const QString byToc =
        base + QStringLiteral("/ws/2/discid/") +
        QString::fromLatin1(QUrl::toPercentEncoding(request.DiscId)) + QStringLiteral("?toc=") +
        QString(request.TocText).replace(QLatin1Char(' '), QLatin1Char('+')) + QLatin1Char('&') + inc;
    const auto fail = [&](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    const auto fetch = [&](const QString &url, HttpResponse &response) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            waitForTurn(request.Cancel);
            HttpRequest http;
            http.url = url;
            http.userAgent = MusicBrainzUserAgent();
            http.totalTimeoutSeconds = request.TimeoutSeconds;
            http.cancel = request.Cancel ? request.Cancel->Atomic() : nullptr;
            response = HttpGet(http);
            if (request.Cancel && request.Cancel->IsSet())
                return false;
            if (response.status != 503 || attempt == 1)
                return true;
            // Busy: once more after the wait the server names (or a second), within reason.
            const int wait = std::clamp(response.retryAfterSeconds, 1, 10);
            WaitUntilStopped(request.Cancel, std::chrono::steady_clock::now() + std::chrono::seconds(wait));
        }
        return true;
    };
    const auto cancelled = [&] { return fail(QStringLiteral("The MusicBrainz lookup was stopped.")); };
    HttpResponse response;
    if (!fetch(byId, response))
        return cancelled();
    if (response.status == 404 && !request.TocText.isEmpty()) {
        if (!fetch(byToc, response))
            return cancelled();
        if (response.status == 404)
            return true; // not even a fuzzy match
    } else if (response.status == 404) {
        return true;
    }
    if (response.status == 503)
        return fail(
            QStringLiteral("MusicBrainz is busy and asks to be left alone for now; try again later."));
    if (!response.ok)
        return fail(QStringLiteral("MusicBrainz (%1) could not be asked: %2").arg(base, response.error));
    return ParseMusicBrainzAnswer(response.text.toUtf8(), request.DiscId, request.TrackCount, releases,
                                  error);
}
