// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

// The audio of sectors [start, start + sectors) shifted by a drive's read offset correction (in samples of
// 4 bytes; positive: the audio that belongs there comes later on the disc). What lies outside the disc is
// silence. Both read paths hand out exactly Bytes bytes: LeadSilence zeros, then the window's part of the
// sectors read, then zeros up to Bytes.
struct TReadWindow {
    int64_t Bytes = 0;
    int64_t LeadSilence = 0;
    int32_t FirstSector = 0; // the sectors to read, all on the disc
    int32_t Sectors = 0;
    int64_t Skip = 0; // bytes at the start of the first sector read that lie before the window
};

TReadWindow ShiftedReadWindow(int32_t start, int32_t sectors, int32_t offsetSamples, int32_t discStart,
                              int32_t discEnd);

// Cuts the window's bytes out of the sectors as they are read, block by block.
class TWindowCut {
public:
    explicit TWindowCut(const TReadWindow &window);
    // Of a block of read sectors: where the window's part starts and how long it is.
    std::pair<size_t, size_t> Take(size_t blockBytes);
    // The silence still owed after the sectors (all of the rest of the window once reading has ended).
    int64_t TailSilence() const { return m_window.Bytes - m_window.LeadSilence - m_given; }

private:
    TReadWindow m_window;
    int64_t m_skip;
    int64_t m_given = 0;
};
