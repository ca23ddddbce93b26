// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shell/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <vector>

// AccurateRip: the checksums of a ripped track as the public description of the algorithm defines them, the
// disc's database ids and address, and the database's answer.

struct TAccurateRipSums {
    uint32_t V1 = 0;
    uint32_t V2 = 0;
};

// The checksums of a track's audio (16-bit stereo, little-endian, 4 bytes a frame). Frames are counted from
// 1; the first track of the disc leaves out its first five sectors less one frame (2939 frames), the last
// track its last five sectors (2940 frames). v1 sums frame × number; v2 sums both halves of the 64-bit
// product. Both modulo 2³².
TAccurateRipSums AccurateRipSums(const QByteArray &audio, bool firstTrack, bool lastTrack);

// The checks of a track's audio taken while it streams past, in blocks of any size: the CRC32 of all its
// bytes (the "copy CRC" of rip logs), its peak level and its AccurateRip checksums. The frame count must be
// known in advance for the last track's end to be left out of the checksums.
class TAudioCheck {
public:
    TAudioCheck() = default;
    TAudioCheck(int64_t frames, bool firstTrack, bool lastTrack);
    void Add(const uint8_t *data, size_t bytes);

    uint32_t Crc() const { return m_crc; }
    int Peak() const { return m_peak; } // the largest sample magnitude, 0 to 32768
    TAccurateRipSums Sums() const { return m_sums; }
    int64_t Frames() const { return m_frame; } // whole frames seen

private:
    void addFrames(const uint8_t *data, uint64_t count);

    uint64_t m_from = 1;
    uint64_t m_to = 0;
    uint64_t m_frame = 0;
    uint32_t m_crc = 0;
    int m_peak = 0;
    TAccurateRipSums m_sums;
    uint8_t m_carry[4] = {};
    size_t m_carried = 0;
};

// The disc's two AccurateRip ids from its audio tracks' start sectors (LBA) and its lead-out.
struct TAccurateRipDisc {
    uint32_t Id1 = 0;
    uint32_t Id2 = 0;
    uint32_t CddbId = 0;
    int TrackCount = 0;
    // The places on the disc (1-based, as jobs count tracks) of its audio tracks, in the order of the
    // database's entries (empty: 1, 2, 3 ...).
    std::vector<int> Places;
};
// The ids of a disc whose audio tracks start at `starts` (sectors), each weighted by its place on the disc
// (`places`, 1-based; by default 1, 2, 3 ...).
TAccurateRipDisc AccurateRipDiscOf(const std::vector<int32_t> &starts, int32_t leadOut, uint32_t cddbId,
                                   const std::vector<int> &places = {});
// ".../accuraterip/a/b/c/dBAR-NNN-ID1-ID2-CDDB.bin" under the base address.
QString AccurateRipUrl(const QString &base, const TAccurateRipDisc &disc);

// One answer block of the database: the disc it is for, and per track its confidence and v1/v2 checksum
// (the database keeps one checksum a track and block; v2 entries are blocks of their own).
struct TAccurateRipEntry {
    int Confidence = 0;
    uint32_t Crc = 0;
    uint32_t Crc450 = 0;
};
struct TAccurateRipBlock {
    TAccurateRipDisc Disc;
    std::vector<TAccurateRipEntry> Tracks;
};
// Reads the database's answer; an answer cut short or empty fails with the reason.
TResult<std::vector<TAccurateRipBlock>> ParseAccurateRipAnswer(const QByteArray &answer);

// The disc of a table of contents as the AccurateRip database knows it: its audio tracks at their places on
// the disc, the disc's lead-out (after a data track too) and its CDDB id.
struct TToc;
TAccurateRipDisc AccurateRipDiscOfToc(const TToc &toc);

// Asks the database at `base` about the disc: its blocks, none when it does not know the disc. Fails with the
// reason when it could not be asked or answered with something unreadable.
TResult<std::vector<TAccurateRipBlock>> FetchAccurateRip(const QString &base, const TAccurateRipDisc &disc,
                                                         const std::atomic<bool> *cancel = nullptr);

// A track judged against the answer: "verified (confidence N, v1|v2)", "mismatch (database has …)", or
// "unknown (not in the database)". `track` counts the disc's audio tracks from 1. With `disc`,
// only blocks of that disc's ids count.
QString AccurateRipVerdict(const std::vector<TAccurateRipBlock> &blocks, int track,
                           const TAccurateRipSums &sums, bool *accurate = nullptr,
                           const TAccurateRipDisc *disc = nullptr);
