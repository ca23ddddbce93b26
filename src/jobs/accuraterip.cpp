#include "accuraterip.h"

#include <QtEndian>

namespace {

constexpr uint32_t framesPerSector = 588;

} // namespace

TAccurateRipSums AccurateRipSums(const QByteArray &audio, bool firstTrack, bool lastTrack)
{
    const uint64_t frames = uint64_t(audio.size()) / 4;
    const uint64_t from = firstTrack ? uint64_t(framesPerSector) * 5 - 1 : 1;
    const uint64_t to =
        lastTrack ? (frames > uint64_t(framesPerSector) * 5 ? frames - uint64_t(framesPerSector) * 5 : 0)
                  : frames;
    TAccurateRipSums sums;
    const auto *data = reinterpret_cast<const uchar *>(audio.constData());
    for (uint64_t n = 1; n <= frames; ++n) {
        if (n < from || n > to)
            continue;
        const uint32_t word = qFromLittleEndian<uint32_t>(data + (n - 1) * 4);
        const uint64_t product = uint64_t(word) * uint64_t(uint32_t(n));
        sums.V1 += uint32_t(product);
        sums.V2 += uint32_t(product) + uint32_t(product >> 32);
    }
    return sums;
}

TAccurateRipDisc AccurateRipDiscOf(const std::vector<int32_t> &starts, int32_t leadOut, uint32_t cddbId)
{
    TAccurateRipDisc disc;
    disc.CddbId = cddbId;
    disc.TrackCount = int(starts.size());
    for (size_t i = 0; i < starts.size(); ++i) {
        disc.Id1 += uint32_t(starts[i]);
        disc.Id2 += uint32_t(std::max(starts[i], 1)) * uint32_t(i + 1);
    }
    disc.Id1 += uint32_t(leadOut);
    disc.Id2 += uint32_t(leadOut) * uint32_t(starts.size() + 1);
    return disc;
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

bool ParseAccurateRipAnswer(const QByteArray &answer, std::vector<TAccurateRipBlock> &blocks, QString *error)
{
    blocks.clear();
    const auto *p = reinterpret_cast<const uchar *>(answer.constData());
    const qsizetype size = answer.size();
    qsizetype at = 0;
    while (at < size) {
        if (size - at < 13) {
            if (error)
                *error = QStringLiteral("The AccurateRip answer is cut short (%1 bytes).").arg(size);
            blocks.clear();
            return false;
        }
        TAccurateRipBlock block;
        block.Disc.TrackCount = p[at];
        block.Disc.Id1 = qFromLittleEndian<uint32_t>(p + at + 1);
        block.Disc.Id2 = qFromLittleEndian<uint32_t>(p + at + 5);
        block.Disc.CddbId = qFromLittleEndian<uint32_t>(p + at + 9);
        at += 13;
        if (size - at < qsizetype(block.Disc.TrackCount) * 9) {
            if (error)
                *error = QStringLiteral("The AccurateRip answer is cut short (%1 bytes).").arg(size);
            blocks.clear();
            return false;
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
    if (blocks.empty()) {
        if (error)
            *error = QStringLiteral("The AccurateRip answer is empty.");
        return false;
    }
    return true;
}

QString AccurateRipVerdict(const std::vector<TAccurateRipBlock> &blocks, int track,
                           const TAccurateRipSums &sums, bool *accurate)
{
    if (accurate)
        *accurate = false;
    QStringList known;
    for (const TAccurateRipBlock &block : blocks) {
        if (track < 1 || track > int(block.Tracks.size()))
            continue;
        const TAccurateRipEntry &entry = block.Tracks[size_t(track - 1)];
        if (entry.Confidence == 0 && entry.Crc == 0)
            continue;
        if (entry.Crc == sums.V1 || entry.Crc == sums.V2) {
            if (accurate)
                *accurate = true;
            return QStringLiteral("Accurately ripped (confidence %1, %2)")
                .arg(entry.Confidence)
                .arg(entry.Crc == sums.V1 ? QStringLiteral("v1") : QStringLiteral("v2"));
        }
        known << QStringLiteral("%1 with confidence %2")
                     .arg(entry.Crc, 8, 16, QLatin1Char('0'))
                     .arg(entry.Confidence);
    }
    if (known.isEmpty())
        return QStringLiteral("Not in the database");
    return QStringLiteral("Not accurately ripped (database has %1; this rip %2 v1, %3 v2)")
        .arg(known.join(QStringLiteral(", ")))
        .arg(sums.V1, 8, 16, QLatin1Char('0'))
        .arg(sums.V2, 8, 16, QLatin1Char('0'));
}
