// SPDX-License-Identifier: GPL-3.0-or-later
#include "accuraterip.h"

#include "cddb/cddbinfo.h"
#include "cdrom/cdaccess.h"
#include "shell/httpget.h"

#include <QtEndian>
#include <algorithm>
#include <libdeflate.h>

namespace {

constexpr uint32_t framesPerSector = 588;

} // namespace

TAccurateRipSums AccurateRipSums(const QByteArray &audio, bool firstTrack, bool lastTrack)
{
    TAudioCheck check(audio.size() / 4, firstTrack, lastTrack);
    check.Add(reinterpret_cast<const uint8_t *>(audio.constData()), size_t(audio.size()));
    return check.Sums();
}

TAudioCheck::TAudioCheck(int64_t frames, bool firstTrack, bool lastTrack)
{
    const uint64_t all = uint64_t(std::max<int64_t>(frames, 0));
    // The first track is counted from the sample whose 1-based weight is 5 sectors of samples (2940).
    m_from = firstTrack ? uint64_t(framesPerSector) * 5 : 1;
    m_to = lastTrack ? (all > uint64_t(framesPerSector) * 5 ? all - uint64_t(framesPerSector) * 5 : 0) : all;
}

void TAudioCheck::addFrames(const uint8_t *data, uint64_t count)
{
    // Three runs with no test a frame: before the counted range (peak only), inside it, after it.
    const uint64_t first = m_frame + 1;
    const uint64_t last = m_frame + count;
    const uint64_t from = std::clamp(m_from, first, last + 1);
    const uint64_t to = std::clamp(m_to + 1, from, last + 1); // one past the last counted frame
    int peak = m_peak;
    const auto peakOf = [&peak](uint32_t word) {
        const int left = int16_t(word & 0xFFFF);
        const int right = int16_t(word >> 16);
        peak = std::max({peak, left < 0 ? -left : left, right < 0 ? -right : right});
    };
    uint64_t frame = first;
    for (; frame < from; ++frame, data += 4)
        peakOf(qFromLittleEndian<uint32_t>(data));
    uint32_t v1 = m_sums.V1;
    uint32_t v2 = m_sums.V2;
    for (; frame < to; ++frame, data += 4) {
        const uint32_t word = qFromLittleEndian<uint32_t>(data);
        peakOf(word);
        const uint64_t product = uint64_t(word) * uint64_t(uint32_t(frame));
        v1 += uint32_t(product);
        v2 += uint32_t(product) + uint32_t(product >> 32);
    }
    m_sums.V1 = v1;
    m_sums.V2 = v2;
    for (; frame <= last; ++frame, data += 4)
        peakOf(qFromLittleEndian<uint32_t>(data));
    m_peak = peak;
    m_frame = last;
}

void TAudioCheck::Add(const uint8_t *data, size_t bytes)
{
    m_crc = libdeflate_crc32(m_crc, data, bytes);
    size_t at = 0;
    while (m_carried > 0 && at < bytes) {
        m_carry[m_carried++] = data[at++];
        if (m_carried == 4) {
            addFrames(m_carry, 1);
            m_carried = 0;
        }
    }
    const uint64_t whole = (bytes - at) / 4;
    if (whole > 0)
        addFrames(data + at, whole);
    at += size_t(whole) * 4;
    while (at < bytes)
        m_carry[m_carried++] = data[at++];
}

TAccurateRipDisc AccurateRipDiscOf(const std::vector<int32_t> &starts, int32_t leadOut, uint32_t cddbId,
                                   const std::vector<int> &places)
{
    TAccurateRipDisc disc;
    disc.CddbId = cddbId;
    disc.TrackCount = int(starts.size());
    for (size_t i = 0; i < starts.size(); ++i) {
        const uint32_t place = i < places.size() ? uint32_t(places[i]) : uint32_t(i + 1);
        disc.Id1 += uint32_t(starts[i]);
        disc.Id2 += uint32_t(std::max(starts[i], 1)) * place;
    }
    disc.Id1 += uint32_t(leadOut);
    disc.Id2 += uint32_t(std::max(leadOut, 1)) * uint32_t(starts.size() + 1);
    return disc;
}

TAccurateRipDisc AccurateRipDiscOfToc(const TToc &toc)
{
    QString cddbId, query;
    CddbIdentityOfToc(toc, cddbId, query);
    const int count = std::clamp(int(toc.lastTrack) - int(toc.firstTrack) + 1, 0, 99);
    // LBA = MSF - 150
    const auto lba = [&toc](int entry) { return TocEntryFrames(toc.tracks[entry]) - 150; };
    // As the database counts them: the audio tracks, each weighted by its place on the disc (a data track
    // before them keeps its place), and the disc's own lead-out, a data track after them included.
    std::vector<int32_t> starts;
    std::vector<int> places;
    for (int i = 0; i < count; ++i) {
        if ((toc.tracks[i].ADR & 4) != 0)
            continue;
        starts.push_back(lba(i));
        places.push_back(i + 1);
    }
    TAccurateRipDisc disc = AccurateRipDiscOf(starts, lba(count), cddbId.toUInt(nullptr, 16), places);
    disc.Places = places;
    return disc;
}

TResult<std::vector<TAccurateRipBlock>> FetchAccurateRip(const QString &base, const TAccurateRipDisc &disc,
                                                         const std::atomic<bool> *cancel)
{
    const QString url = AccurateRipUrl(base, disc);
    const auto answer = AskDatabase(QStringLiteral("AccurateRip"), url, cancel);
    if (!answer)
        return TFailure{answer.Error()};
    if (!*answer)
        return std::vector<TAccurateRipBlock>{}; // the database does not know the disc
    auto blocks = ParseAccurateRipAnswer(**answer);
    if (!blocks)
        return TFailure{url + QStringLiteral(": ") + blocks.Error()};
    return blocks;
}

QString AccurateRipUrl(const QString &base, const TAccurateRipDisc &disc)
{
    QString address = base;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    const auto hex = [](uint32_t v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')); };
    return address + QStringLiteral("/accuraterip/%1/%2/%3/dBAR-%4-%5-%6-%7.bin")
                         .arg(disc.Id1 & 0xF, 0, 16)
                         .arg(disc.Id1 >> 4 & 0xF, 0, 16)
                         .arg(disc.Id1 >> 8 & 0xF, 0, 16)
                         .arg(disc.TrackCount, 3, 10, QLatin1Char('0'))
                         .arg(hex(disc.Id1), hex(disc.Id2), hex(disc.CddbId));
}

TResult<std::vector<TAccurateRipBlock>> ParseAccurateRipAnswer(const QByteArray &answer)
{
    std::vector<TAccurateRipBlock> blocks;
    const auto *p = reinterpret_cast<const uchar *>(answer.constData());
    const qsizetype size = answer.size();
    qsizetype at = 0;
    while (at < size) {
        if (size - at < 13) {
            return TFailure{QStringLiteral("The AccurateRip answer is cut short (%1 bytes).").arg(size)};
        }
        TAccurateRipBlock block;
        block.Disc.TrackCount = p[at];
        block.Disc.Id1 = qFromLittleEndian<uint32_t>(p + at + 1);
        block.Disc.Id2 = qFromLittleEndian<uint32_t>(p + at + 5);
        block.Disc.CddbId = qFromLittleEndian<uint32_t>(p + at + 9);
        at += 13;
        if (size - at < qsizetype(block.Disc.TrackCount) * 9) {
            return TFailure{QStringLiteral("The AccurateRip answer is cut short (%1 bytes).").arg(size)};
        }
        for (int t = 0; t < block.Disc.TrackCount; ++t) {
            TAccurateRipEntry entry;
            entry.Confidence = p[at];
            entry.Crc = qFromLittleEndian<uint32_t>(p + at + 1);
            entry.Crc450 = qFromLittleEndian<uint32_t>(p + at + 5);
            block.Tracks.push_back(entry);
            at += 9;
        }
        blocks.push_back(block);
    }
    if (blocks.empty())
        return TFailure{QStringLiteral("The AccurateRip answer is empty.")};
    return blocks;
}

QString AccurateRipVerdict(const std::vector<TAccurateRipBlock> &blocks, int track,
                           const TAccurateRipSums &sums, bool *accurate, const TAccurateRipDisc *disc)
{
    if (accurate)
        *accurate = false;
    QStringList known;
    for (const TAccurateRipBlock &block : blocks) {
        // A block of another disc (the database's file may hold several) says nothing about this one.
        if (disc &&
            (block.Disc.Id1 != disc->Id1 || block.Disc.Id2 != disc->Id2 || block.Disc.CddbId != disc->CddbId))
            continue;
        if (track < 1 || track > int(block.Tracks.size()))
            continue;
        const TAccurateRipEntry &entry = block.Tracks[size_t(track - 1)];
        if (entry.Confidence == 0 && entry.Crc == 0)
            continue;
        if (entry.Crc == sums.V1 || entry.Crc == sums.V2) {
            if (accurate)
                *accurate = true;
            return QStringLiteral("verified (confidence %1, %2)")
                .arg(entry.Confidence)
                .arg(entry.Crc == sums.V1 ? QStringLiteral("v1") : QStringLiteral("v2"));
        }
        known << QStringLiteral("%1 with confidence %2")
                     .arg(entry.Crc, 8, 16, QLatin1Char('0'))
                     .arg(entry.Confidence);
    }
    if (known.isEmpty())
        return QStringLiteral("unknown (not in the database)");
    return QStringLiteral("mismatch (database has %1; this rip %2 v1, %3 v2)")
        .arg(known.join(QStringLiteral(", ")))
        .arg(sums.V1, 8, 16, QLatin1Char('0'))
        .arg(sums.V2, 8, 16, QLatin1Char('0'));
}
