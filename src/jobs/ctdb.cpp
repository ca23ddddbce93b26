// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctdb.h"

#include "reedsolomon.h"
#include "shell/httpget.h"

#include <QCryptographicHash>
#include <QStringList>
#include <QXmlStreamReader>
#include <algorithm>
#include <libdeflate.h>
#include <set>
#include <unordered_map>
#include <zlib.h>

QString CtdbTocIdOf(const std::vector<int32_t> &audioStarts, int32_t audioEnd)
{
    if (audioStarts.empty() || audioStarts.size() > 99 || audioEnd <= audioStarts.back())
        return QString(); // a data track with no gap between the sessions: where the audio ends is not known
    const int32_t origin = audioStarts.front();
    QByteArray text;
    const auto add = [&](int32_t sector) {
        text += QByteArray::number(uint32_t(sector - origin), 16).toUpper().rightJustified(8, '0');
    };
    for (size_t i = 1; i < audioStarts.size(); ++i)
        add(audioStarts[i]);
    add(audioEnd);
    text = text.leftJustified(100 * 8, '0');
    QByteArray id = QCryptographicHash::hash(text, QCryptographicHash::Sha1).toBase64();
    id.replace('+', '.').replace('/', '_').replace('=', '-');
    return QString::fromLatin1(id);
}

QString CtdbTocId(const TToc &toc)
{
    TAudioSession audio;
    if (!AudioSessionOf(toc, audio))
        return QString();
    std::vector<int32_t> starts;
    for (int t = audio.First; t <= audio.Last; ++t)
        starts.push_back(TocEntryFrames(toc.tracks[t - toc.firstTrack]));
    return CtdbTocIdOf(starts, audio.LeadOut);
}

QString CtdbLookupTocOf(const std::vector<std::pair<int32_t, bool>> &starts, int32_t leadOut)
{
    if (starts.empty())
        return QString();
    QStringList entries;
    for (const auto &[start, data] : starts)
        entries << (data ? QStringLiteral("-") : QString()) + QString::number(start - starts.front().first);
    entries << QString::number(leadOut - starts.front().first);
    return entries.join(QLatin1Char(':'));
}

QString CtdbLookupToc(const TToc &toc)
{
    if (toc.firstTrack < 1 || toc.lastTrack < toc.firstTrack || toc.lastTrack > 99)
        return QString();
    const int count = toc.lastTrack - toc.firstTrack + 1;
    std::vector<std::pair<int32_t, bool>> starts;
    for (int i = 0; i < count; ++i)
        starts.emplace_back(TocEntryFrames(toc.tracks[i]), (toc.tracks[i].ADR & 4) != 0);
    return CtdbLookupTocOf(starts, TocEntryFrames(toc.tracks[count]));
}

QString CtdbLookupPath(const QString &lookupToc)
{
    return QStringLiteral("/lookup2.php?version=3&ctdb=1&fuzzy=1&toc=") + lookupToc;
}

namespace {

constexpr int64_t SampleBytes = 4;

uint32_t crcOfBytes(uint32_t crc, const char *data, int64_t bytes)
{
    return libdeflate_crc32(crc, data, size_t(bytes));
}

// The CRC of B from those of A and of A followed by B: the CRC is linear, and zlib's combine of A's CRC with
// nothing over B's length is A's part of the whole.
uint32_t crcWithoutStart(uint32_t whole, uint32_t start, int64_t restBytes)
{
    return whole ^ uint32_t(crc32_combine(start, 0, z_off_t(restBytes)));
}

uint32_t combine(uint32_t first, uint32_t second, int64_t secondBytes)
{
    return secondBytes == 0 ? first : uint32_t(crc32_combine(first, second, z_off_t(secondBytes)));
}

} // namespace

TCtdbCrc::TCtdbCrc(const std::vector<int64_t> &trackSamples)
{
    int64_t at = 0;
    std::vector<int64_t> ends;
    for (const int64_t samples : trackSamples)
        ends.push_back(at += samples);
    m_total = at * SampleBytes;
    // The counted end: whole rows of ten sectors after the skipped start, at least ten sectors before the
    // end.
    const int64_t end = std::max<int64_t>((at / Skip - 1) * Skip, Skip);
    m_bounds.push_back(std::min(Skip, at) * SampleBytes);
    for (size_t t = 0; t < ends.size(); ++t)
        m_bounds.push_back(
            std::clamp<int64_t>(t + 1 == ends.size() ? end : ends[t], m_bounds.back() / SampleBytes, at) *
            SampleBytes);
    // Windows around the boundaries, joined where they meet; the stretches between are gaps.
    const int64_t reach = Window * SampleBytes;
    std::vector<std::pair<int64_t, int64_t>> windows;
    for (const int64_t bound : m_bounds) {
        const int64_t from = std::max<int64_t>(bound - reach, 0), to = std::min(bound + reach, m_total);
        if (!windows.empty() && from <= windows.back().second)
            windows.back().second = std::max(windows.back().second, to);
        else
            windows.emplace_back(from, to);
    }
    int64_t cursor = 0;
    for (const auto &[from, to] : windows) {
        if (from > cursor)
            m_pieces.push_back(Piece{cursor, from - cursor, false, {}, {}, 0});
        Piece window{from, to - from, true, {}, {}, 0};
        window.Bytes.reserve(window.Length);
        m_pieces.push_back(std::move(window));
        cursor = to;
    }
    if (cursor < m_total)
        m_pieces.push_back(Piece{cursor, m_total - cursor, false, {}, {}, 0});
}

void TCtdbCrc::Add(const uint8_t *data, size_t bytes)
{
    while (bytes > 0 && m_piece < m_pieces.size()) {
        Piece &piece = m_pieces[m_piece];
        const int64_t n = std::min<int64_t>(int64_t(bytes), piece.Start + piece.Length - m_at);
        if (piece.Kept)
            piece.Bytes.append(reinterpret_cast<const char *>(data), n);
        else
            piece.Crc = crcOfBytes(piece.Crc, reinterpret_cast<const char *>(data), n);
        m_at += n;
        data += n;
        bytes -= size_t(n);
        if (m_at < piece.Start + piece.Length)
            continue;
        if (piece.Kept) { // its prefix CRCs, a sample at a time
            piece.Prefix.assign(size_t(piece.Length / SampleBytes) + 1, 0);
            for (size_t i = 1; i < piece.Prefix.size(); ++i)
                piece.Prefix[i] = crcOfBytes(piece.Prefix[i - 1],
                                             piece.Bytes.constData() + (i - 1) * SampleBytes, SampleBytes);
        }
        ++m_piece;
    }
}

size_t TCtdbCrc::pieceAt(int64_t byte) const
{
    const auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), byte,
                                     [](int64_t at, const Piece &piece) { return at < piece.Start; });
    return size_t(std::max<ptrdiff_t>(it - m_pieces.begin() - 1, 0));
}

uint32_t TCtdbCrc::crcOf(int64_t from, int64_t to) const
{
    // Each piece's share of [from, to): a whole piece by its CRC, a part of a window from its prefix CRCs.
    // The ends lie in windows (or on their edges), so no gap is ever cut.
    uint32_t crc = 0;
    for (size_t k = pieceAt(from); k < m_pieces.size() && m_pieces[k].Start < to; ++k) {
        const Piece &piece = m_pieces[k];
        const int64_t a = std::max(from, piece.Start), b = std::min(to, piece.Start + piece.Length);
        if (b <= a)
            continue;
        uint32_t share = piece.Crc;
        if (piece.Kept) {
            const size_t i = size_t((a - piece.Start) / SampleBytes),
                         j = size_t((b - piece.Start) / SampleBytes);
            share = crcWithoutStart(piece.Prefix[j], piece.Prefix[i], b - a);
        } else if (b - a != piece.Length) {
            return 0; // not reached: a range's ends are never this far from a boundary
        }
        crc = combine(crc, share, b - a);
    }
    return crc;
}

uint32_t TCtdbCrc::DiscCrc(int offset) const
{
    const int64_t shift = int64_t(std::clamp(offset, -Window, Window)) * SampleBytes;
    return crcOf(m_bounds.front() + shift, m_bounds.back() + shift);
}

uint32_t TCtdbCrc::TrackCrc(size_t track, int offset) const
{
    const int64_t shift = int64_t(std::clamp(offset, -Window, Window)) * SampleBytes;
    return track + 1 < m_bounds.size() ? crcOf(m_bounds[track] + shift, m_bounds[track + 1] + shift) : 0;
}

TResult<std::vector<TCtdbEntry>> ParseCtdbAnswer(const QByteArray &xml)
{
    constexpr qsizetype MostEntries = 1000;
    std::vector<TCtdbEntry> entries;
    QXmlStreamReader reader(xml);
    bool root = false;
    const auto hex = [](QStringView text, uint32_t &value) {
        bool ok = false;
        value = text.size() <= 8 ? uint32_t(text.toULong(&ok, 16)) : 0;
        return ok;
    };
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (!root) {
            if (reader.name() != QLatin1String("ctdb"))
                return TFailure{QStringLiteral("not the database's answer (its first element is %1)")
                                    .arg(reader.name().left(40))};
            root = true;
            continue;
        }
        if (reader.name() != QLatin1String("entry") || qsizetype(entries.size()) >= MostEntries)
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        TCtdbEntry entry;
        entry.Id = a.value(QLatin1String("id")).left(64).toString();
        bool confidence = false, parity = true, stride = true;
        entry.Confidence = a.value(QLatin1String("confidence")).toInt(&confidence);
        if (a.hasAttribute(QLatin1String("npar")))
            entry.Parity = a.value(QLatin1String("npar")).toInt(&parity);
        if (a.hasAttribute(QLatin1String("stride")))
            entry.Stride = a.value(QLatin1String("stride")).toInt(&stride);
        const QStringView has = a.value(QLatin1String("hasparity"));
        entry.HasParity = !has.isEmpty() && has != QLatin1String("0") && has != QLatin1String("false");
        if (has.startsWith(QLatin1Char('/')) && has.size() <= 512)
            entry.ParityPath = has.toString();
        bool ok = confidence && parity && stride && entry.Confidence > 0 && entry.Parity >= 0 &&
                  entry.Stride >= 0 && hex(a.value(QLatin1String("crc32")), entry.Crc);
        for (const QStringView crc :
             a.value(QLatin1String("trackcrcs")).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            uint32_t value = 0;
            ok = ok && entry.TrackCrcs.size() < 99 && hex(crc, value);
            entry.TrackCrcs.push_back(value);
        }
        if (ok)
            entries.push_back(std::move(entry));
    }
    if (reader.hasError() || !root)
        return TFailure{QStringLiteral("not the database's XML: ") +
                        (root ? reader.errorString() : QStringLiteral("no answer in it"))};
    return entries;
}

QString CtdbLookupUrl(const QString &server, const QString &lookupToc)
{
    QString address = server.contains(QLatin1String("://")) ? server : QStringLiteral("http://") + server;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address + CtdbLookupPath(lookupToc);
}

TResult<std::vector<TCtdbEntry>> FetchCtdb(const QString &server, const QString &lookupToc,
                                           const std::atomic<bool> *cancel)
{
    const QString url = CtdbLookupUrl(server, lookupToc);
    const auto answer = AskDatabase(QStringLiteral("the CUETools database"), url, cancel);
    if (!answer)
        return TFailure{answer.Error()};
    if (!*answer)
        return std::vector<TCtdbEntry>{};
    auto entries = ParseCtdbAnswer(**answer);
    if (!entries)
        return TFailure{url + QStringLiteral(": ") + entries.Error()};
    return entries;
}

TCtdbVerdict JudgeCtdb(const TCtdbCrc &crc, const std::vector<TCtdbEntry> &entries)
{
    TCtdbVerdict verdict;
    verdict.Known = !entries.empty();
    verdict.TrackConfidence.assign(crc.Tracks(), 0);
    std::unordered_multimap<uint32_t, const TCtdbEntry *> discs;
    std::vector<std::unordered_multimap<uint32_t, int>> tracks(crc.Tracks());
    for (const TCtdbEntry &entry : entries) {
        discs.emplace(entry.Crc, &entry);
        if (entry.TrackCrcs.size() == crc.Tracks())
            for (size_t t = 0; t < crc.Tracks(); ++t)
                tracks[t].emplace(entry.TrackCrcs[t], entry.Confidence);
    }
    if (!verdict.Known)
        return verdict;
    // Each entry counts once, at the offset nearest the rip's own where it matches.
    std::vector<const TCtdbEntry *> counted;
    std::vector<std::vector<uint32_t>> trackCounted(crc.Tracks());
    for (int step = 0; step <= 2 * TCtdbCrc::Window; ++step) {
        const int offset = step % 2 == 0 ? step / 2 : -(step + 1) / 2; // 0, -1, 1, -2, 2, ...
        const auto [from, to] = discs.equal_range(crc.DiscCrc(offset));
        for (auto it = from; it != to; ++it)
            if (std::find(counted.begin(), counted.end(), it->second) == counted.end()) {
                if (verdict.DiscConfidence == 0)
                    verdict.DiscOffset = offset;
                verdict.DiscConfidence += it->second->Confidence;
                counted.push_back(it->second);
            }
        for (size_t t = 0; t < crc.Tracks(); ++t) {
            if (tracks[t].empty())
                continue;
            const uint32_t sum = crc.TrackCrc(t, offset);
            const auto [a, b] = tracks[t].equal_range(sum);
            if (a == b ||
                std::find(trackCounted[t].begin(), trackCounted[t].end(), sum) != trackCounted[t].end())
                continue;
            trackCounted[t].push_back(sum);
            for (auto it = a; it != b; ++it)
                verdict.TrackConfidence[t] += it->second;
        }
    }
    return verdict;
}

TCtdbMender::TCtdbMender(int64_t rangeBytes, const QByteArray &record, int parity, int stride)
    : m_parity(parity), m_width(2 * int64_t(stride)), m_record(record)
{
    const int64_t words = rangeBytes / 2;
    if (parity < 2 || parity > 64 || stride <= 0 || rangeBytes % 2 != 0 || words % m_width != 0 ||
        record.size() != 2 * parity * m_width || words / m_width + parity > 65535) {
        m_problem =
            QStringLiteral("the recovery record does not fit this disc (%1 parity symbols, stride %2)")
                .arg(parity)
                .arg(stride);
        return;
    }
    m_rows = int(words / m_width);
    m_code = std::make_unique<TReedSolomon16>(parity);
    m_syndromes.assign(size_t(parity * m_width), 0);
    uint16_t power = 1;
    for (int j = 0; j < parity; ++j) {
        m_powers.push_back(power);
        power = m_code->multiply(power, 2);
    }
}

TCtdbMender::~TCtdbMender() = default;

void TCtdbMender::addWord(uint16_t word)
{
    const int64_t column = m_at++ % m_width;
    for (int j = 0; j < m_parity; ++j) {
        uint16_t &s = m_syndromes[size_t(j * m_width + column)];
        s = uint16_t(m_code->multiply(s, m_powers[size_t(j)]) ^ word);
    }
}

void TCtdbMender::Add(const uint8_t *data, size_t bytes)
{
    if (!m_problem.isEmpty())
        return;
    for (size_t i = 0; i < bytes; ++i) {
        if (m_odd < 0) {
            m_odd = data[i];
            continue;
        }
        addWord(uint16_t(m_odd | data[i] << 8));
        m_odd = -1;
    }
}

TResult<std::vector<std::pair<int64_t, uint16_t>>> TCtdbMender::Mends() const
{
    if (!m_problem.isEmpty())
        return TFailure{m_problem};
    std::vector<std::pair<int64_t, uint16_t>> found;
    std::vector<std::pair<int, uint16_t>> mends;
    std::vector<uint16_t> syndromes(static_cast<size_t>(m_parity), 0);
    for (int64_t column = 0; column < m_width; ++column) {
        // The parity rows follow the audio's rows in each column's codeword.
        for (int j = 0; j < m_parity; ++j) {
            uint16_t s = m_syndromes[size_t(j * m_width + column)];
            for (int k = 0; k < m_parity; ++k) {
                const qsizetype at = qsizetype(2 * (k * m_width + column));
                s = uint16_t(m_code->multiply(s, m_powers[size_t(j)]) ^
                             (uint8_t(m_record[at]) | uint8_t(m_record[at + 1]) << 8));
            }
            syndromes[size_t(j)] = s;
        }
        if (!m_code->Mends(m_rows + m_parity, syndromes, mends))
            return TFailure{
                QStringLiteral("too much damage to mend: more than %1 wrong samples in a column of "
                               "the recovery record (about %2 sectors in a row)")
                    .arg(m_parity / 2)
                    .arg(int64_t(m_parity / 2) * m_width / 2 / 588)};
        for (const auto &[i, error] : mends)
            if (i < m_rows) // a wrong parity symbol is nothing of the audio
                found.emplace_back(2 * (i * m_width + column), error);
    }
    std::sort(found.begin(), found.end());
    return found;
}

TResult<int64_t> MendWithParity(QByteArray &range, const QByteArray &record, int parity, int stride,
                                uint32_t crc)
{
    TCtdbMender mender(range.size(), record, parity, stride);
    mender.Add(reinterpret_cast<const uint8_t *>(range.constData()), size_t(range.size()));
    const auto mends = mender.Mends();
    if (!mends)
        return TFailure{mends.Error()};
    QByteArray mended = range;
    std::set<int64_t> samples; // the stereo samples with a mended word
    for (const auto &[at, error] : *mends) {
        mended[qsizetype(at)] = char(uint8_t(mended[qsizetype(at)]) ^ (error & 0xFF));
        mended[qsizetype(at + 1)] = char(uint8_t(mended[qsizetype(at + 1)]) ^ (error >> 8));
        samples.insert(at / 4);
    }
    const uint32_t got = crcOfBytes(0, mended.constData(), mended.size());
    if (got != crc)
        return TFailure{QStringLiteral("the mended audio is not the database's (CRC %1, the entry's %2)")
                            .arg(got, 8, 16, QLatin1Char('0'))
                            .arg(crc, 8, 16, QLatin1Char('0'))};
    range = mended;
    return int64_t(samples.size());
}
