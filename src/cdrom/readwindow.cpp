// SPDX-License-Identifier: GPL-3.0-or-later
#include "readwindow.h"

#include <algorithm>

namespace {

constexpr int64_t sectorBytes = 2352;

int64_t floorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

} // namespace

TReadWindow ShiftedReadWindow(int32_t start, int32_t sectors, int32_t offsetSamples, int32_t discStart,
                              int32_t discEnd)
{
    TReadWindow w;
    w.Bytes = int64_t(std::max(sectors, 0)) * sectorBytes;
    const int64_t from = int64_t(start) * sectorBytes + int64_t(offsetSamples) * 4;
    const int64_t to = from + w.Bytes;
    const int64_t discFrom = int64_t(discStart) * sectorBytes;
    const int64_t discTo = int64_t(std::max(discEnd, discStart)) * sectorBytes;
    const int64_t readFrom = std::clamp(from, discFrom, discTo);
    const int64_t readTo = std::clamp(to, discFrom, discTo);
    if (readTo <= readFrom) {
        w.LeadSilence = w.Bytes; // nothing of the window lies on the disc
        return w;
    }
    w.LeadSilence = std::clamp<int64_t>(readFrom - from, 0, w.Bytes);
    w.FirstSector = int32_t(floorDiv(readFrom, sectorBytes));
    const int64_t lastSector = floorDiv(readTo - 1, sectorBytes);
    w.Sectors = int32_t(lastSector - w.FirstSector + 1);
    w.Skip = readFrom - int64_t(w.FirstSector) * sectorBytes;
    return w;
}

TWindowCut::TWindowCut(const TReadWindow &window) : m_window(window), m_skip(window.Skip) {}

std::pair<size_t, size_t> TWindowCut::Take(size_t blockBytes)
{
    const int64_t skip = std::min<int64_t>(m_skip, int64_t(blockBytes));
    m_skip -= skip;
    const int64_t room = m_window.Bytes - m_window.LeadSilence - m_given;
    const int64_t count = std::clamp<int64_t>(int64_t(blockBytes) - skip, 0, std::max<int64_t>(room, 0));
    m_given += count;
    return {size_t(skip), size_t(count)};
}
