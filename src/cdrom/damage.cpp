// SPDX-License-Identifier: GPL-3.0-or-later
#include "damage.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

constexpr int SectorBytes = 2352;
constexpr int SectorFrames = 588;
constexpr int32_t LastSector = 100 * 60 * 75; // a disc of 100 minutes

// A hash of the seed and what is being decided (splitmix64's finaliser over each word).
uint64_t mix(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0)
{
    uint64_t x = seed;
    for (const uint64_t word : {a, b, c}) {
        x += 0x9E3779B97F4A7C15ull + word;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        x ^= x >> 31;
    }
    return x;
}

bool inRanges(const TSectorRanges &ranges, int64_t sector)
{
    return std::any_of(ranges.begin(), ranges.end(),
                       [sector](const auto &r) { return r.first <= sector && sector <= r.second; });
}

// "A-B,C,D-E".
bool parseRanges(const QString &text, TSectorRanges &ranges, QString *reason)
{
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString range = part.trimmed();
        bool okFirst = false;
        bool okLast = true;
        const int first = range.section(QLatin1Char('-'), 0, 0).trimmed().toInt(&okFirst);
        const int last = range.contains(QLatin1Char('-'))
                             ? range.section(QLatin1Char('-'), 1).trimmed().toInt(&okLast)
                             : first;
        if (!okFirst || !okLast || first < 0 || last < first || last > LastSector) {
            *reason = QStringLiteral("not a sector range: ") + range;
            return false;
        }
        ranges.emplace_back(first, last);
    }
    return true;
}

QString rangesText(const TSectorRanges &ranges)
{
    QStringList parts;
    for (const auto &[first, last] : ranges)
        parts << (first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last));
    return parts.join(QLatin1Char(','));
}

// How often each flaky sector of each image has been read in this process, and which sectors have been.
std::mutex flakyMutex;
std::map<std::pair<QString, int32_t>, uint64_t> flakyReads;
std::map<QString, std::vector<bool>> sectorsRead;

// A few samples of the sector changed, where and how `hash` says.
void changeSamples(uint8_t *sector, uint64_t hash)
{
    const int count = 1 + int(hash % 6);
    for (int i = 0; i < count; ++i) {
        const uint64_t h = mix(hash, uint64_t(i));
        const size_t at = size_t(h % (SectorFrames * 2)) * 2; // one 16-bit sample of either channel
        const uint16_t change = uint16_t(h >> 32) | 1;        // never nothing
        sector[at] ^= uint8_t(change);
        sector[at + 1] ^= uint8_t(change >> 8);
    }
}

} // namespace

TResult<TDamageProfile> TDamageProfile::Parse(const QByteArray &text, const QString &path)
{
    TDamageProfile profile;
    bool inDamage = false;
    int number = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        QString line = QString::fromUtf8(raw);
        for (const QChar comment : {QLatin1Char(';'), QLatin1Char('#')})
            line = line.section(comment, 0, 0);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const auto fail = [&](const QString &reason) {
            return TFailure{QStringLiteral("%1: line %2: %3").arg(path).arg(number).arg(reason)};
        };
        if (line.startsWith(QLatin1Char('['))) {
            inDamage = line.compare(QLatin1String("[damage]"), Qt::CaseInsensitive) == 0;
            if (!inDamage)
                return fail(QStringLiteral("a section other than [damage]"));
            continue;
        }
        if (!inDamage)
            return fail(QStringLiteral("a value outside the [damage] section"));
        if (!line.contains(QLatin1Char('=')))
            return fail(QStringLiteral("not KEY=VALUE"));
        const QString key = line.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        const QString value = line.section(QLatin1Char('='), 1).trimmed();
        bool ok = false;
        QString reason;
        if (key == QLatin1String("seed")) {
            profile.Seed = value.toULongLong(&ok);
        } else if (key == QLatin1String("jitter")) {
            profile.Jitter = value.toInt(&ok);
            ok = ok && profile.Jitter >= 0 && profile.Jitter <= SectorFrames;
        } else if (key == QLatin1String("c2")) {
            const int c2 = value.toInt(&ok);
            ok = ok && (c2 == 0 || c2 == 1);
            profile.C2 = c2 == 1;
        } else if (key == QLatin1String("slow")) {
            profile.SlowMs = value.toInt(&ok);
            ok = ok && profile.SlowMs >= 0 && profile.SlowMs <= 60000;
        } else if (key == QLatin1String("flaky_rate") || key == QLatin1String("jitter_rate")) {
            double &rate = key == QLatin1String("flaky_rate") ? profile.FlakyRate : profile.JitterRate;
            rate = value.toDouble(&ok);
            ok = ok && rate >= 0 && rate <= 1;
        } else if (key == QLatin1String("unreadable") || key == QLatin1String("flaky") ||
                   key == QLatin1String("wrong")) {
            TSectorRanges &ranges = key == QLatin1String("unreadable") ? profile.Unreadable
                                    : key == QLatin1String("flaky")    ? profile.Flaky
                                                                       : profile.Wrong;
            if (!parseRanges(value, ranges, &reason))
                return fail(reason);
            ok = true;
        } else {
            return fail(QStringLiteral("unknown key ") + key);
        }
        if (!ok)
            return fail(QStringLiteral("%1 out of range: %2").arg(key, value));
    }
    return profile;
}

TResult<TDamageProfile> TDamageProfile::OfImage(const QString &imagePath)
{
    const QString path = DamageProfilePath(imagePath);
    QFile file(path);
    if (!file.exists())
        return TDamageProfile();
    if (!file.open(QIODevice::ReadOnly))
        return TFailure{path + QStringLiteral(": ") + file.errorString()};
    return Parse(file.read(1 << 20), path);
}

QByteArray TDamageProfile::Text() const
{
    QString text = QStringLiteral("[damage]\nseed=%1\njitter=%2\njitter_rate=%3\n")
                       .arg(Seed)
                       .arg(Jitter)
                       .arg(JitterRate);
    if (!Unreadable.empty())
        text += QStringLiteral("unreadable=") + rangesText(Unreadable) + QLatin1Char('\n');
    if (!Flaky.empty())
        text += QStringLiteral("flaky=") + rangesText(Flaky) + QLatin1Char('\n');
    text += QStringLiteral("flaky_rate=%1\n").arg(FlakyRate);
    if (!Wrong.empty())
        text += QStringLiteral("wrong=") + rangesText(Wrong) + QLatin1Char('\n');
    text += QStringLiteral("slow=%1\nc2=%2\n").arg(SlowMs).arg(C2 ? 1 : 0);
    return text.toUtf8();
}

QString DamageProfilePath(const QString &imagePath)
{
    return imagePath + QStringLiteral(".damage");
}

TDamagedReads::TDamagedReads(QString imagePath, TDamageProfile profile)
    : m_image(std::move(imagePath)), m_profile(std::move(profile))
{
}

int64_t TDamagedReads::FirstUnreadable(int32_t lsn, uint32_t count) const
{
    const int64_t end = int64_t(lsn) + count - 1;
    int64_t found = -1;
    for (const auto &[first, last] : m_profile.Unreadable) {
        if (first <= end && last >= lsn) {
            const int64_t sector = std::max<int64_t>(first, lsn);
            if (found < 0 || sector < found)
                found = sector;
        }
    }
    return found;
}

int TDamagedReads::jitterOfNextRead(int32_t lsn, uint32_t count)
{
    if (m_profile.Jitter == 0)
        return 0;
    bool goesBack = false;
    {
        std::lock_guard lock(flakyMutex);
        std::vector<bool> &seen = sectorsRead[m_image];
        const size_t begin = size_t(std::max(lsn, 0));
        const size_t end = size_t(std::max<int64_t>(int64_t(lsn) + count, 0));
        if (seen.size() < end)
            seen.resize(end, false);
        for (size_t sector = begin; sector < end; ++sector) {
            goesBack = goesBack || seen[sector];
            seen[sector] = true;
        }
    }
    std::lock_guard lock(m_mutex);
    const bool continues = lsn == m_nextSector;
    m_nextSector = int64_t(lsn) + count;
    if (continues || !goesBack)
        return 0;
    const uint64_t seek = ++m_seeks;
    if (double(mix(m_profile.Seed, 1, seek) >> 11) * 0x1.0p-53 >= m_profile.JitterRate)
        return 0;
    const uint64_t where = mix(m_profile.Seed, 4, seek);
    const int off = 1 + int((where >> 1) % uint64_t(m_profile.Jitter)); // never where it was asked
    return (where & 1) ? off : -off;
}

void TDamagedReads::Mangle(int32_t lsn, uint32_t count, void *buffer, std::vector<bool> *c2)
{
    if (c2)
        c2->assign(count, false);
    auto *bytes = static_cast<uint8_t *>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t sector = lsn + int32_t(i);
        uint8_t *at = bytes + size_t(i) * SectorBytes;
        if (inRanges(m_profile.Wrong, sector))
            changeSamples(at, mix(m_profile.Seed, 2, uint64_t(sector)));
        if (!inRanges(m_profile.Flaky, sector))
            continue;
        uint64_t n = 0;
        {
            std::lock_guard lock(flakyMutex);
            n = ++flakyReads[{m_image, sector}];
        }
        // The reads that come back wrong are spread evenly at the rate: at 0.5, every second one.
        const double rate = m_profile.FlakyRate;
        if (std::floor(double(n) * rate) > std::floor(double(n - 1) * rate)) {
            changeSamples(at, mix(m_profile.Seed, 3, uint64_t(sector), n));
            if (c2)
                (*c2)[i] = true;
        }
    }
}

bool TDamagedReads::Read(int32_t lsn, uint32_t count, void *buffer, int32_t leadout, const RawRead &raw,
                         QString *error, std::vector<bool> *c2)
{
    if (c2)
        c2->assign(count, false);
    // A slow drive is what is simulated here: the read itself takes longer, as a worn drive's does (on the
    // reading thread; a stop is heard after the read, as with a real drive).
    if (m_profile.SlowMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_profile.SlowMs));
    if (const int64_t bad = FirstUnreadable(lsn, count); bad >= 0) {
        if (error)
            *error = QStringLiteral("Read error at sector %1 of %2").arg(bad).arg(m_image);
        return false;
    }
    const int jitter = jitterOfNextRead(lsn, count);
    if (jitter == 0) {
        if (!raw(lsn, count, buffer, error))
            return false;
        Mangle(lsn, count, buffer, c2);
        return true;
    }
    // The request lands `jitter` samples off: the sectors around it are read, and the part it covers taken.
    const int64_t startByte = int64_t(lsn) * SectorBytes + int64_t(jitter) * 4;
    const int64_t endByte = startByte + int64_t(count) * SectorBytes;
    const int64_t first = startByte >= 0 ? startByte / SectorBytes : -1;
    const int64_t last = (endByte - 1) / SectorBytes;
    QByteArray around(int((last - first + 1) * SectorBytes), '\0'); // outside the disc: silence
    const int64_t readFirst = std::max<int64_t>(first, 0);
    const int64_t readLast = std::min<int64_t>(last, int64_t(leadout) - 1);
    if (readLast >= readFirst) {
        char *into = around.data() + (readFirst - first) * SectorBytes;
        if (!raw(int32_t(readFirst), uint32_t(readLast - readFirst + 1), into, error))
            return false;
        std::vector<bool> flagged;
        Mangle(int32_t(readFirst), uint32_t(readLast - readFirst + 1), into, c2 ? &flagged : nullptr);
        // A sector of the request is flagged when it holds bytes of a flagged sector read.
        for (size_t k = 0; c2 && k < flagged.size(); ++k) {
            const int64_t sector = readFirst + int64_t(k);
            for (const int64_t asked : {sector - lsn, sector - lsn + (jitter > 0 ? -1 : 1)})
                if (flagged[k] && asked >= 0 && asked < int64_t(count))
                    (*c2)[size_t(asked)] = true;
        }
    }
    std::memcpy(buffer, around.constData() + (startByte - first * SectorBytes), size_t(count) * SectorBytes);
    return true;
}
