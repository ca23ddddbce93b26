// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shell/result.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

// Sector ranges, first and last included, counted from the start of the disc.
using TSectorRanges = std::vector<std::pair<int32_t, int32_t>>;

// How a simulated drive mangles the reads of a disc image: the file IMAGE.damage beside it, INI:
//
//     [damage]
//     seed=1                 ; the same seed gives the same reads
//     jitter=0               ; a read that seeks back lands up to ±N samples (stereo frames) off (N ≤ 588)
//     jitter_rate=0.25       ; the share of such reads that land off
//     unreadable=LBA-LBA,…   ; reads touching these sectors fail with an error
//     flaky=LBA-LBA,…        ; reads of these sectors return a few samples wrong, each time others, with
//                            ; C2 error pointers set for them
//     flaky_rate=0.5         ; the share of reads of a flaky sector that come back wrong
//     wrong=LBA-LBA,…        ; these sectors always return the same wrong samples, without an error
//     slow=MS                ; every read takes MS milliseconds more
//     c2=1                   ; whether the drive offers C2 error pointers (0: it does not)
//
// Comments start with ';' or '#'. Sectors count from the start of the disc, as the table of contents does.
// A jittering drive lands off on some seeks: a read request that goes back over sectors read before lands
// off at random at the jitter rate; one that reaches only sectors never read before, or that continues
// where the last one ended, starts where it was asked to. (A drive off on every seek would
// leave no reader a way to tell where a track begins: the reads would agree with one another, not the disc.)
struct TDamageProfile {
    uint64_t Seed = 1;
    int Jitter = 0;
    double JitterRate = 0.25;
    TSectorRanges Unreadable;
    TSectorRanges Flaky;
    double FlakyRate = 0.5;
    TSectorRanges Wrong;
    int SlowMs = 0;
    bool C2 = true; // the drive offers C2 error pointers

    bool Empty() const
    {
        return Jitter == 0 && Unreadable.empty() && Flaky.empty() && Wrong.empty() && SlowMs == 0;
    }
    // The profile of a file's text; a key it does not know or a value out of range fails, the line named
    // ("PATH: line N: reason").
    static TResult<TDamageProfile> Parse(const QByteArray &text, const QString &path);
    // The profile beside the image; an empty one when there is none.
    static TResult<TDamageProfile> OfImage(const QString &imagePath);
    // Its text as Parse reads it.
    QByteArray Text() const;
};

// The file beside a disc image that holds its damage profile: "IMAGE.damage".
QString DamageProfilePath(const QString &imagePath);

// The reads of one damaged image. A flaky sector's reads are counted per image for the whole process (every
// medium opened on it counts on, as a drive's next look at a weak spot would), so that the same seed and the
// same reads give the same bytes. Thread-safe.
class TDamagedReads {
public:
    // Reads `count` raw sectors at `lsn` of the undamaged image into `buffer`; false with the reason.
    using RawRead = std::function<bool(int32_t lsn, uint32_t count, void *buffer, QString *error)>;

    TDamagedReads(QString imagePath, TDamageProfile profile);

    const TDamageProfile &Profile() const { return m_profile; }
    // The first unreadable sector in [lsn, lsn + count), or -1.
    int64_t FirstUnreadable(int32_t lsn, uint32_t count) const;
    // Reads as the damaged drive does: slower, failing on an unreadable sector, off by the jitter (silence
    // beyond the disc's `leadout`), with the flaky and wrong sectors' samples changed.
    // With `c2`, also the drive's C2 error pointers: one flag a sector, set for a flaky sector read wrong.
    bool Read(int32_t lsn, uint32_t count, void *buffer, int32_t leadout, const RawRead &raw, QString *error,
              std::vector<bool> *c2 = nullptr);
    // Changes what a read of [lsn, lsn + count) gave as the flaky and wrong sectors do (for a reader that
    // read the image itself).
    void Mangle(int32_t lsn, uint32_t count, void *buffer, std::vector<bool> *c2 = nullptr);

private:
    int jitterOfNextRead(int32_t lsn, uint32_t count);

    QString m_image;
    TDamageProfile m_profile;
    std::mutex m_mutex;
    uint64_t m_seeks = 0;      // requests that did not continue the one before (the jitter's sequence)
    int64_t m_nextSector = -1; // where the last request ended
};
