// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddbinfo.h"

#include "audio/auexception.h"
#include "cdrom/cdaccess.h"
#include "cdrom/cdin.h"
#include "cdrom/cdrip.h"
#include "shell/helpers.h"
#include "shell/httpget.h"

#include <unistd.h>

namespace {

const QString UrlTemplate = QStringLiteral("{S}?cmd=cddb+{C}+{D}&hello={E}+{N}+{V}&proto=6");

QString replaceOnce(const QString &text, const QString &placeholder, const QString &value)
{
    QString result = text;
    const qsizetype at = result.indexOf(placeholder);
    if (at >= 0)
        result.replace(at, placeholder.size(), value);
    return result;
}

QString replaced(QString text, QChar from, QChar to)
{
    return text.replace(from, to);
}

// Spaces and control characters off both ends.
QString trimControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= ' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

// A value as the file holds it: \n, \t and \\ undone, a line break as CR LF.
QString unescaped(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == QLatin1Char('n'))
            out += QStringLiteral("\r\n");
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QString(c) + next;
    }
    return out;
}

// The number after a key such as TTITLE: decimal, no leading zero, at most two digits (a CD has at most
// 99 tracks); -1 otherwise.
int keyNumber(const QString &key, qsizetype from)
{
    const QString digits = key.mid(from);
    if (digits.isEmpty() || digits.size() > 2 || (digits.size() > 1 && digits.at(0) == QLatin1Char('0')))
        return -1;
    bool ok = false;
    const int n = digits.toInt(&ok);
    return ok && n >= 0 ? n : -1;
}

// "Artist / Title" split at the first space-slash-space; without one, no artist and the whole as title.
std::pair<QString, QString> splitValue(const QString &value)
{
    const qsizetype at = value.indexOf(QStringLiteral(" / "));
    if (at < 0)
        return {QString(), value.trimmed()};
    return {value.left(at).trimmed(), value.mid(at + 3).trimmed()};
}

bool isVarious(const QString &artist)
{
    return artist.compare(QStringLiteral("Various"), Qt::CaseInsensitive) == 0 ||
           artist.compare(QStringLiteral("Various Artists"), Qt::CaseInsensitive) == 0;
}

int digitSum(int value)
{
    int sum = 0;
    for (; value > 0; value /= 10)
        sum += value % 10;
    return sum;
}

} // namespace

QStringList CddbLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

QString CddbDiscIdOf(const std::vector<int32_t> &starts, int32_t firstStart, int32_t leadOut, int trackCount)
{
    const auto seconds = [](int32_t sector) { return (sector + 150) / 75; };
    int sum = 0;
    for (const int32_t start : starts)
        sum += digitSum(seconds(start));
    const int32_t playing = seconds(leadOut) - seconds(firstStart);
    const uint32_t id =
        uint32_t(sum % 255) << 24 | uint32_t(playing & 0xffff) << 8 | uint32_t(trackCount & 0xff);
    return QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0'));
}

QString CddbServerAddress(const QString &server, const QString &script)
{
    QString address = server.trimmed();
    if (!address.contains(QStringLiteral("://")))
        address.prepend(QStringLiteral("http://"));
    const qsizetype pathAt = address.indexOf(QLatin1Char('/'), address.indexOf(QStringLiteral("://")) + 3);
    const bool hasPath = pathAt >= 0 && pathAt < address.size() - 1;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    if (hasPath)
        return address;
    QString path = script.trimmed().isEmpty() ? QStringLiteral("/~cddb/cddb.cgi") : script.trimmed();
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    return address + path;
}

QString CddbQueryTextOf(const std::vector<int32_t> &starts, int32_t leadOut, int trackCount)
{
    // The protocol's "ntrks off1 ... offN nsecs": offsets in frames from the very start of the disc (its
    // two-second lead-in included), the length in seconds as the disc id counts them.
    QString text = QString::number(trackCount);
    for (const int32_t start : starts)
        text += QLatin1Char(' ') + QString::number(start + 150);
    return text + QLatin1Char(' ') + QString::number((leadOut + 150) / 75);
}

void CddbIdentityOfToc(const TToc &toc, QString &discId, QString &queryText)
{
    // Sectors from the start of the disc (the MSF address less its two seconds), as servers count them: a
    // first track that starts after sector 0 (audio hidden before it) counts from the disc's start too.
    // Entries are by place on the disc, whatever the first track's number; every track counts, data too.
    const int count = std::clamp<int>(int(toc.lastTrack) - int(toc.firstTrack) + 1, 0, 99);
    const auto offset = [&toc](int entry) { return TocEntryFrames(toc.tracks[entry]) - 150; };
    std::vector<int32_t> starts;
    for (int entry = 0; entry < count; ++entry)
        starts.push_back(offset(entry));
    discId = CddbDiscIdOf(starts, count > 0 ? offset(0) : 0, offset(count), count);
    queryText = CddbQueryTextOf(starts, offset(count), count);
}

QString TCDDBQuery::BuildURL(const QString &command, const QString &argument)
{
    m_owner->ApplicationName = TCDDBInfo::ClientName();
    QString url =
        replaceOnce(UrlTemplate, QStringLiteral("{S}"), CddbServerAddress(m_owner->Server, m_owner->Script));
    url = replaceOnce(url, QStringLiteral("{C}"), command);
    url = replaceOnce(url, QStringLiteral("{D}"), replaced(argument, QLatin1Char(' '), QLatin1Char('+')));
    url =
        replaceOnce(url, QStringLiteral("{E}"), replaced(m_owner->Email, QLatin1Char('@'), QLatin1Char('+')));
    url = replaceOnce(url, QStringLiteral("{N}"),
                      replaced(m_owner->ApplicationName, QLatin1Char(' '), QLatin1Char('+')));
    return replaceOnce(url, QStringLiteral("{V}"), m_owner->ApplicationVersion);
}

bool TCDDBQuery::HttpGet(const QString &url, QString &answer)
{
    HttpRequest request;
    request.url = url;
    request.userAgent = m_owner->ApplicationName;
    request.proxy = m_owner->Proxy;
    request.connectTimeoutSeconds = m_owner->ConnectTimeoutSeconds;
    request.totalTimeoutSeconds = m_owner->TotalTimeoutSeconds;
    request.maxBytes = m_owner->MaxAnswerBytes;
    request.cancel = m_owner->Cancel;
    const HttpResponse response = ::HttpGet(request);
    answer = response.ok ? response.text : QString();
    return response.ok;
}

int TCDDBQuery::Query(const QString &discId, const QString &queryText)
{
    m_album = TCDDBAlbum();
    m_matches.clear();
    m_discId = discId;
    m_queryText = queryText;
    QString answer;
    if (!HttpGet(BuildURL(QStringLiteral("query"), discId + QLatin1Char(' ') + queryText), answer))
        return -1;
    const int code = ParseQueryResponse(answer);
    if ((code == 200 || code == 210 || code == 211) && !m_matches.isEmpty())
        Read(0);
    return code;
}

int TCDDBQuery::ParseQueryResponse(const QString &text)
{
    int code = -2;
    m_matches.clear();
    m_response = CddbLines(text);
    for (qsizetype i = 0; i < m_response.size(); ++i) {
        const QString &line = m_response.at(i);
        bool number = false;
        code = line.left(3).toInt(&number);
        if (!number || line.size() < 3)
            code = 500;
        if (code == 200) {
            m_matches.append(line.mid(4));
        } else if (code == 210 || code == 211) {
            if (i + 1 < m_response.size())
                m_matches.append(m_response.at(i + 1));
            for (qsizetype j = i + 2; j < m_response.size() && !m_response.at(j).startsWith(QLatin1Char('.'));
                 ++j)
                m_matches.append(m_response.at(j));
            break;
        }
    }
    return code;
}

QString TCDDBQuery::Refusal() const
{
    for (const QString &line : m_response) {
        bool number = false;
        const int code = line.left(3).toInt(&number);
        if (number && code >= 400 && code <= 599)
            return WithoutControlChars(line.trimmed()).left(300);
    }
    return QString();
}

void TCDDBQuery::Read(int index)
{
    if (index < 0 || index >= m_matches.size())
        return;
    const QString &match = m_matches.at(index);
    const qsizetype first = match.indexOf(QLatin1Char(' '));
    const QString category = first < 0 ? match : match.left(first);
    const qsizetype second = first < 0 ? -1 : match.indexOf(QLatin1Char(' '), first + 1);
    const QString discId = first < 0 ? QString() : match.mid(first + 1, second < 0 ? -1 : second - first - 1);
    QString answer;
    if (HttpGet(BuildURL(QStringLiteral("read"), category + QLatin1Char(' ') + discId), answer))
        ParseEntry(answer);
}

TCDDBAlbum ParseXmcdEntry(const QString &text)
{
    QString dtitle, year, genre, extd;
    std::vector<QString> titles, exts;
    const auto at = [](std::vector<QString> &list, int n) -> QString & {
        if (size_t(n) >= list.size())
            list.resize(size_t(n) + 1);
        return list[size_t(n)];
    };
    TCDDBAlbum album;
    for (const QString &line : CddbLines(text)) {
        if (line.startsWith(QLatin1Char('#'))) {
            const QString comment = line.mid(1).trimmed();
            if (comment.startsWith(QStringLiteral("Generated:")))
                album.Generated = comment.mid(10).trimmed().left(TCDDBAlbum::TextLength);
            else if (comment.startsWith(QStringLiteral("Disc length:")))
                album.DiscLength = comment.mid(12).trimmed().left(TCDDBAlbum::DiscLengthLength);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1);
        if (key == QLatin1String("DTITLE"))
            dtitle += value;
        else if (key == QLatin1String("DYEAR"))
            year += value;
        else if (key == QLatin1String("DGENRE"))
            genre += value;
        else if (key == QLatin1String("EXTD"))
            extd += value;
        else if (key.startsWith(QLatin1String("TTITLE")) && keyNumber(key, 6) >= 0)
            at(titles, keyNumber(key, 6)) += value;
        else if (key.startsWith(QLatin1String("EXTT")) && keyNumber(key, 4) >= 0)
            at(exts, keyNumber(key, 4)) += value;
    }
    const auto field = [](const QString &value, int length) {
        return trimControls(unescaped(value)).left(length);
    };
    const auto [artist, title] = splitValue(unescaped(dtitle));
    album.DiscArtist = trimControls(artist).left(TCDDBAlbum::TextLength);
    album.DiscTitle = trimControls(title).left(TCDDBAlbum::TextLength);
    album.Year = field(WithoutControlChars(year), TCDDBAlbum::YearLength);
    album.Genre = field(WithoutControlChars(genre), TCDDBAlbum::GenreLength);
    album.DiscExtData = field(extd, TCDDBAlbum::TextLength);
    album.TrackCount = int(titles.size());
    bool everyTitleSplits = false;
    for (const QString &t : titles) {
        if (t.isEmpty())
            continue;
        everyTitleSplits = unescaped(t).contains(QStringLiteral(" / "));
        if (!everyTitleSplits)
            break;
    }
    const bool compilation = isVarious(album.DiscArtist) || everyTitleSplits;
    for (size_t n = 0; n < titles.size(); ++n) {
        const QString value = unescaped(titles[n]);
        const auto [trackArtist, trackTitle] = compilation ? splitValue(value) : std::pair{QString(), value};
        const bool split = compilation && value.contains(QStringLiteral(" / "));
        album.TrackArtists << (split ? trimControls(trackArtist).left(TCDDBAlbum::TextLength)
                                     : album.DiscArtist);
        album.TrackTitles << trimControls(trackTitle).left(TCDDBAlbum::TextLength);
        album.TrackExtData << (n < exts.size() ? field(exts[n], TCDDBAlbum::TextLength) : QString());
    }
    return album;
}

void TCDDBQuery::ParseEntry(const QString &text)
{
    m_album = ParseXmcdEntry(text);
}

QString TCDDBInfo::DefaultServer()
{
    return QStringLiteral("http://") + QStringLiteral("gnudb.gnudb.org");
}

QString TCDDBInfo::ClientName()
{
    return QStringLiteral("Sondrel");
}

QString TCDDBInfo::DefaultEmail()
{
    // A placeholder: the user's login and the machine's name are nobody else's business.
    return QStringLiteral("sondrel@localhost");
}

TCDDBInfo::TCDDBInfo() : Server(DefaultServer()), Email(DefaultEmail()), ApplicationName(ClientName()) {}

bool TCDDBInfo::readToc(std::vector<int32_t> &starts)
{
    if (!CDIn)
        throw EAuException(QStringLiteral("CDIn is not assigned"));
    AcquireDrive();
    struct Release {
        TCDDBInfo *info;
        ~Release() { info->ReleaseDrive(); }
    } release{this};
    int status = 0;
    if (CR_IsMediaLoaded(&status) == CDEX_OK && status != 0)
        return false;
    if (CR_ReadToc() != CDEX_OK)
        return false;
    const int count = CR_GetNumTocEntries();
    if (count <= 0)
        return false;
    starts.clear();
    for (int i = 0; i <= count; ++i)
        starts.push_back(int32_t(CR_GetTocEntry(i) & 0xffffffffu));
    return true;
}

QString TCDDBInfo::DiscID()
{
    std::vector<int32_t> starts;
    if (!readToc(starts))
        return QStringLiteral("ffffffff");
    const int32_t leadOut = starts.back();
    starts.pop_back();
    return CddbDiscIdOf(starts, starts.front(), leadOut, int(starts.size()));
}

QString TCDDBInfo::QueryString()
{
    std::vector<int32_t> starts;
    if (!readToc(starts))
        return {};
    const int32_t leadOut = starts.back();
    starts.pop_back();
    return CddbQueryTextOf(starts, leadOut, int(starts.size()));
}

int TCDDBInfo::Lookup()
{
    m_discId = DiscID();
    m_queryText = QueryString();
    m_result = m_query.Query(m_discId, m_queryText);
    return m_result;
}

int TCDDBInfo::LookupDisc(const QString &discId, const QString &queryText)
{
    m_result = m_query.Query(discId, queryText);
    return m_result;
}

void TCDDBInfo::AcquireDrive()
{
    if (m_useCount == 0 && CDIn)
        CR_SetActiveCDROM(CDIn->CurrentDrive());
    ++m_useCount;
}

void TCDDBInfo::ReleaseDrive()
{
    if (m_useCount > 0)
        --m_useCount;
}
