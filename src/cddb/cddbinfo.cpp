#include "cddbinfo.h"

#include "audio/auexception.h"
#include "cdrom/cdaccess.h"
#include "cdrom/cdin.h"
#include "cdrom/cdrip.h"
#include "shell/helpers.h"
#include "shell/httpget.h"

#include <unistd.h>

namespace {

const QString UrlTemplate = QStringLiteral("{S}/~cddb/cddb.cgi?cmd=cddb+{C}+{D}&hello={E}+{N}+{V}&proto=6");

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

QString cut(const QString &text, int length)
{
    return text.left(length);
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

// The value of an entry line for a key, optionally with a number: what follows the key and one separator
// character, trimmed, with every backslash-n turned into a line break. Empty when the line is for another
// key. A numbered key must not run on into more digits (TTITLE1 is not TTITLE12).
QString valueOf(const QString &line, const QString &key, int number = -1)
{
    const QString head = number < 0 ? key : key + QString::number(number);
    if (!line.startsWith(head))
        return {};
    if (number >= 0 && line.size() > head.size() && line.at(head.size()).isDigit())
        return {};
    return trimControls(line.mid(head.size() + 1)).replace(QStringLiteral("\\n"), QStringLiteral("\r\n"));
}

// Artist and title of "Artist / Title". Without a slash the whole value is the title. The usual separator
// is space-slash-space; a name that holds a bare slash itself (AC/DC) stays whole when that separator
// follows it.
std::pair<QString, QString> splitValue(const QString &value)
{
    qsizetype at = value.indexOf(QStringLiteral(" / "));
    if (at >= 0)
        return {value.left(at), value.mid(at + 3)};
    at = value.indexOf(QLatin1Char('/'));
    if (at < 0)
        return {QString(), value};
    return {value.left(at).trimmed(), value.mid(at + 1).trimmed()};
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
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
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

QString CddbQueryTextOf(const std::vector<int32_t> &starts, int32_t firstStart, int32_t leadOut,
                        int trackCount)
{
    QString text = QString::number(trackCount);
    for (const int32_t start : starts)
        text += QLatin1Char(' ') + QString::number(start);
    return text + QLatin1Char(' ') + QString::number((leadOut - firstStart) / 75);
}

void CddbIdentityOfToc(const TToc &toc, QString &discId, QString &queryText)
{
    const auto frames = [&toc](int entry) { return TocEntryFrames(toc.tracks[entry]); };
    const auto offset = [&](int n) { return frames(n - 1) - frames(0); };
    const int last = std::clamp<int>(toc.lastTrack, 0, 99);
    const int first = std::clamp<int>(toc.firstTrack, 1, std::max(1, last));
    std::vector<int32_t> all;
    std::vector<int32_t> listed;
    for (int k = 1; k <= last; ++k) {
        all.push_back(offset(k));
        if (k >= first)
            listed.push_back(offset(k));
    }
    discId = CddbDiscIdOf(all, offset(first), offset(last + 1), last);
    queryText = CddbQueryTextOf(listed, offset(1), offset(last + 1), last);
}

QString TCDDBQuery::BuildURL(const QString &command, const QString &argument)
{
    m_owner->ApplicationName = TCDDBInfo::ClientName();
    QString url = replaceOnce(UrlTemplate, QStringLiteral("{S}"), m_owner->Server);
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

void TCDDBQuery::ParseEntry(const QString &text)
{
    const QStringList lines = CddbLines(text);
    TCDDBAlbum album;
    for (const QString &line : lines) {
        if (line.startsWith(QStringLiteral("TTITLE")))
            ++album.TrackCount;
    }
    album.TrackArtists.resize(album.TrackCount);
    album.TrackTitles.resize(album.TrackCount);
    album.TrackExtData.resize(album.TrackCount);
    int track = 0;
    int extended = 0;
    const int textLength = TCDDBAlbum::TextLength;
    for (const QString &line : lines) {
        if (line.startsWith(QStringLiteral("# Generated")))
            album.Generated = cut(valueOf(line, QStringLiteral("# Generated")), textLength);
        if (line.startsWith(QStringLiteral("# Disc length")))
            album.DiscLength =
                cut(valueOf(line, QStringLiteral("# Disc length")), TCDDBAlbum::DiscLengthLength);
        if (line.startsWith(QStringLiteral("DTITLE"))) {
            const auto [artist, title] = splitValue(valueOf(line, QStringLiteral("DTITLE")));
            album.DiscArtist = cut(artist, textLength);
            album.DiscTitle = cut(title, textLength);
        }
        if (line.startsWith(QStringLiteral("DYEAR")))
            album.Year = cut(valueOf(line, QStringLiteral("DYEAR")), TCDDBAlbum::YearLength);
        if (line.startsWith(QStringLiteral("DGENRE")))
            album.Genre = cut(valueOf(line, QStringLiteral("DGENRE")), TCDDBAlbum::GenreLength);
        if (line.startsWith(QStringLiteral("TTITLE"))) {
            const QString value = valueOf(line, QStringLiteral("TTITLE"), track);
            if (!line.contains(QLatin1Char('/'))) {
                album.TrackArtists[track] = album.DiscArtist;
                album.TrackTitles[track] = cut(value, textLength);
            } else {
                const auto [artist, title] = splitValue(value);
                album.TrackArtists[track] = cut(artist, textLength);
                album.TrackTitles[track] = cut(title, textLength);
            }
            ++track;
        }
        if (line.startsWith(QStringLiteral("EXTD")))
            album.DiscExtData = cut(album.DiscExtData + valueOf(line, QStringLiteral("EXTD")), textLength);
        if (line.startsWith(QStringLiteral("EXTT"))) {
            if (extended < album.TrackCount)
                album.TrackExtData[extended] =
                    cut(valueOf(line, QStringLiteral("EXTT"), extended), textLength);
            ++extended;
        }
    }
    m_album = album;
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
    return CddbQueryTextOf(starts, starts.front(), leadOut, int(starts.size()));
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
