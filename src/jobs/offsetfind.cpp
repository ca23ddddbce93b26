// SPDX-License-Identifier: GPL-3.0-or-later
#include "offsetfind.h"

#include "cdrom/readwindow.h"

#include <QtEndian>
#include <algorithm>
#include <vector>

namespace {

// The frame at index i of the read as AccurateRip sums it: right channel high, left low.
uint32_t frameAt(const QByteArray &audio, int64_t i)
{
    if (i < 0 || (i + 1) * 4 > audio.size())
        return 0;
    return qFromLittleEndian<uint32_t>(audio.constData() + i * 4);
}

// The confidence of the database's entry for the track that has one of these checksums; 0 for none.
int confidenceOf(const std::vector<TAccurateRipBlock> &blocks, const TAccurateRipDisc &disc, int track,
                 uint32_t crc)
{
    int best = 0;
    for (const TAccurateRipBlock &block : blocks) {
        if (block.Disc.Id1 != disc.Id1 || block.Disc.Id2 != disc.Id2 || block.Disc.CddbId != disc.CddbId ||
            track < 1 || track > int(block.Tracks.size()))
            continue;
        const TAccurateRipEntry &entry = block.Tracks[size_t(track - 1)];
        if (entry.Crc == crc && entry.Confidence > 0)
            best = std::max(best, entry.Confidence);
    }
    return best;
}

} // namespace

std::vector<uint32_t> AccurateRipV1ByOffset(const QByteArray &audio, int64_t frames, int margin,
                                            bool firstTrack, bool lastTrack)
{
    // Frames are numbered from 1 within the track; the sum runs over [from, to] (the first track leaves
    // out its first five sectors less one frame, the last track its last five sectors).
    const int64_t from = firstTrack ? 5 * 588 : 1;
    const int64_t to = lastTrack ? frames - 5 * 588 : frames;
    std::vector<uint32_t> sums(size_t(2 * margin + 1), 0);
    if (to < from || margin < 0)
        return sums;
    // Frame i of the track at correction o lies at index margin + o + i - 1 of the read.
    const auto x = [&](int64_t i, int o) { return frameAt(audio, margin + o + i - 1); };
    uint32_t weighted = 0; // S(o) = Σ i·x(i, o)
    uint32_t plain = 0;    // T(o) = Σ x(i, o)
    for (int64_t i = from; i <= to; ++i) {
        weighted += uint32_t(i) * x(i, -margin);
        plain += x(i, -margin);
    }
    sums[0] = weighted;
    // S(o + 1) = S(o) − T(o) − (from − 1)·x(from, o) + to·x(to + 1, o); T(o + 1) = T(o) − x(from, o) + x(to +
    // 1, o).
    for (int o = -margin; o < margin; ++o) {
        const uint32_t first = x(from, o);
        const uint32_t next = x(to + 1, o);
        weighted = weighted - plain - uint32_t(from - 1) * first + uint32_t(to) * next;
        plain = plain - first + next;
        sums[size_t(o + 1 + margin)] = weighted;
    }
    return sums;
}

const std::vector<int> &CommonReadOffsets()
{
    static const std::vector<int> offsets{6,   667, 48,   102, 12,  30, 91,   97,  618, 679,   685,
                                          691, 94,  1164, 116, 594, 0,  -472, 738, 355, -1164, 733};
    return offsets;
}

std::optional<TOffsetMatch> FindReadOffset(const QByteArray &audio, int64_t frames, int margin,
                                           bool firstTrack, bool lastTrack,
                                           const std::vector<TAccurateRipBlock> &blocks,
                                           const TAccurateRipDisc &disc, int track, int minConfidence)
{
    std::optional<TOffsetMatch> best;
    const auto consider = [&](int offset, uint32_t crc, bool v2) {
        const int confidence = confidenceOf(blocks, disc, track, crc);
        if (confidence >= minConfidence && (!best || confidence > best->Confidence))
            best = TOffsetMatch{offset, confidence, v2};
    };
    // The common offsets with both checksums (a database that holds only v2 is found there too).
    for (const int offset : CommonReadOffsets()) {
        if (offset < -margin || offset > margin)
            continue;
        const TAccurateRipSums sums =
            AccurateRipSums(audio.mid((margin + offset) * 4, frames * 4), firstTrack, lastTrack);
        consider(offset, sums.V1, false);
        consider(offset, sums.V2, true);
    }
    if (best)
        return best;
    const std::vector<uint32_t> v1 = AccurateRipV1ByOffset(audio, frames, margin, firstTrack, lastTrack);
    for (int offset = -margin; offset <= margin; ++offset)
        consider(offset, v1[size_t(offset + margin)], false);
    return best;
}

TResult<QByteArray> ReadTrackWithMargin(TCdHandle handle, int32_t start, int32_t sectors, int32_t discEnd,
                                        int margin, const std::atomic<bool> *stop)
{
    // The window shifted back by the margin, long enough to reach the margin past the track's end.
    const int32_t extra = (2 * margin + 587) / 588;
    const TReadWindow window = ShiftedReadWindow(start, sectors + extra, -margin, 0, discEnd);
    const int64_t wanted = (int64_t(sectors) * 588 + 2 * margin) * 4;
    QByteArray audio(window.LeadSilence, '\0');
    audio.reserve(window.Bytes);
    TWindowCut cut(window);
    std::vector<uint8_t> request(24 + 10 * CD_SECTOR_BYTES);
    for (int32_t done = 0; done < window.Sectors;) {
        if (stop && *stop) {
            return TFailure{QStringLiteral("stopped")};
        }
        const int32_t n = std::min(window.Sectors - done, 10);
        auto *buffer = reinterpret_cast<TTrackBuf *>(request.data());
        *buffer = TTrackBuf{};
        buffer->startFrame = uint32_t(window.FirstSector + done);
        buffer->numFrames = uint32_t(n);
        buffer->maxLen = uint32_t(n) * CD_SECTOR_BYTES;
        if (TCdError failure; ReadCDAudioLBA(handle, buffer, &failure) != 1) {
            return TFailure{failure.text};
        }
        const auto [skip, count] = cut.Take(buffer->len);
        audio.append(reinterpret_cast<const char *>(buffer->buf + buffer->startOffset + skip),
                     qsizetype(count));
        done += n;
    }
    audio.append(QByteArray(cut.TailSilence(), '\0'));
    audio.truncate(wanted);
    return audio;
}

namespace {

// The table's entry as a sector counted from the disc's start.
int32_t tocSector(const TToc &toc, int entry)
{
    return TocEntryFrames(toc.tracks[entry]) - 150;
}

// The disc's audio tracks by their entry in the table, the ones between others first (the first and last
// tracks' checksums leave out their ends).
std::vector<int> tracksToTry(const TToc &toc)
{
    std::vector<int> middle, ends;
    const int count = toc.lastTrack - toc.firstTrack + 1;
    for (int i = 0; i < count; ++i) {
        if ((toc.tracks[i].ADR & 4) != 0)
            continue;
        const bool edge = i == 0 || i == count - 1 || (toc.tracks[i + 1].ADR & 4) != 0;
        (edge ? ends : middle).push_back(i);
    }
    middle.insert(middle.end(), ends.begin(), ends.end());
    return middle;
}

} // namespace

TOffsetSearch SearchReadOffset(TCdHandle handle, const TToc &toc, const QString &server,
                               const std::function<void(const QString &)> &step,
                               const std::atomic<bool> *stop)
{
    TOffsetSearch search;
    const auto stopped = [&] { return stop && stop->load(); };
    const TAccurateRipDisc disc = AccurateRipDiscOfToc(toc);
    step(QStringLiteral("Asking the AccurateRip database at %1").arg(server));
    const auto answer = FetchAccurateRip(server, disc, stop);
    if (!answer) {
        search.Stopped = stopped();
        search.Error =
            QStringLiteral("cannot ask the AccurateRip database at %1: %2").arg(server, answer.Error());
        return search;
    }
    const std::vector<TAccurateRipBlock> &blocks = *answer;
    if (blocks.empty()) {
        search.Error = QStringLiteral("the AccurateRip database does not know this disc; try another one");
        return search;
    }
    const int count = toc.lastTrack - toc.firstTrack + 1;
    const int32_t first = tocSector(toc, 0);
    const int32_t discEnd = tocSector(toc, count) - first;
    for (const int entry : tracksToTry(toc)) {
        const int place = entry + 1;
        const auto audioIndex =
            std::find(disc.Places.begin(), disc.Places.end(), place) - disc.Places.begin();
        const int32_t start = tocSector(toc, entry) - first;
        const int32_t sectors = tocSector(toc, entry + 1) - first - start;
        step(QStringLiteral("Reading track %1 with %2 samples either side")
                 .arg(place)
                 .arg(OffsetSearchMargin));
        const auto audio = ReadTrackWithMargin(handle, start, sectors, discEnd, OffsetSearchMargin, stop);
        if (!audio) {
            search.Stopped = stopped();
            search.Error = QStringLiteral("cannot read track %1: %2").arg(place).arg(audio.Error());
            return search;
        }
        search.Match = FindReadOffset(*audio, int64_t(sectors) * 588, OffsetSearchMargin, audioIndex == 0,
                                      audioIndex + 1 == qsizetype(disc.Places.size()), blocks, disc,
                                      int(audioIndex) + 1);
        if (search.Match) {
            search.Track = place;
            return search;
        }
    }
    search.Error =
        QStringLiteral("no read offset within %1 samples matches the database with confidence 2 or "
                       "more; try another disc")
            .arg(OffsetSearchMargin);
    return search;
}
