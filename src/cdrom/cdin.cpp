// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdin.h"

#include "audio/auexception.h"
#include "cddrivelist.h"
#include "cdrip.h"
#include "readwindow.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/inifile.h"

#include <cmath>
#include <mutex>

namespace {

constexpr int chunkBytes = 176400;

// Once per process: the ripping calls are initialised and their settings file is written.
void bindLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        IniFile ini(SettingsFolder() + QStringLiteral("cdr.ini"));
        ini.writeString(QStringLiteral("CD-ROM"), QStringLiteral("nActive"), QStringLiteral("0"));
        ini.save();
        CR_Init(1);
    });
}

int32_t sectorOfEntry(uint64_t entry)
{
    return int32_t(uint32_t(entry));
}

} // namespace

TCDIn::TCDIn(QObject *parent) : TAuInput(parent), m_buffer(chunkBytes)
{
    bindLibrary();
}

TCDIn::~TCDIn()
{
    if (m_reading)
        CR_CloseRipper();
}

void TCDIn::activate()
{
    if (UseCount == 0)
        CR_SetActiveCDROM(m_currentDrive);
    ++UseCount;
}

void TCDIn::deactivate()
{
    if (UseCount > 0)
        --UseCount;
}

void TCDIn::requireIdle() const
{
    if (m_reading)
        throw EAuException(QStringLiteral("The component is busy"));
}

int TCDIn::DrivesCount()
{
    return CR_GetNumCDROM();
}

void TCDIn::SetCurrentDrive(int index)
{
    if (index >= 0 && index < CR_GetNumCDROM())
        m_currentDrive = index;
}

QString TCDIn::DriveName()
{
    activate();
    TDriveParams *p = CR_GetStructPointer();
    CR_GetCDROMParameters(p);
    const QString name = QString::fromUtf8(CR_GetDriveID(p));
    if (!EnableJitterCorrection)
        EnableJitterCorrection = CR_GetJitterCorrection(p) != 0;
    deactivate();
    return name;
}

bool TCDIn::MediaPresent()
{
    activate();
    int status = 0;
    CR_IsMediaLoaded(&status);
    deactivate();
    return status == 0;
}

int TCDIn::TracksCount()
{
    activate();
    const int count = CR_ReadToc() == CDEX_OK ? CR_GetNumTocEntries() : -1;
    deactivate();
    return count;
}

TCDTrackInfo TCDIn::TrackInfo(int track)
{
    if (track < 1 || track > TracksCount())
        throw EAuException(QStringLiteral("Track out of range."));
    activate();
    const uint64_t entry = CR_GetTocEntry(track - 1);
    const uint64_t next = CR_GetTocEntry(track);
    deactivate();
    const int32_t sectors = sectorOfEntry(next) - sectorOfEntry(entry);
    TCDTrackInfo info;
    info.Min = uint8_t(sectors / 4500);
    info.Sec = uint8_t(sectors / 75 % 60);
    info.Frame = uint8_t(sectors % 75);
    info.DataTrack = uint8_t(entry >> 32) == 4;
    return info;
}

bool TCDIn::Toc(TToc &toc)
{
    const int count = TracksCount();
    if (count < 1 || count > 99)
        return false;
    toc = TToc{};
    activate();
    for (int i = 0; i <= count; ++i) {
        const uint64_t entry = CR_GetTocEntry(i);
        const int32_t msf = sectorOfEntry(entry) + 150;
        TTocTrack &t = toc.tracks[i];
        t.ADR = uint8_t(0x10 | (uint8_t(entry >> 32) & 0x0F));
        t.trackNumber = i == count ? 0xAA : uint8_t(entry >> 40);
        t.addr[1] = uint8_t(msf / 4500);
        t.addr[2] = uint8_t(msf / 75 % 60);
        t.addr[3] = uint8_t(msf % 75);
    }
    deactivate();
    toc.firstTrack = toc.tracks[0].trackNumber;
    toc.lastTrack = uint8_t(toc.firstTrack + count - 1);
    return true;
}

int32_t TCDIn::PregapSectors(int track)
{
    activate();
    const int32_t sectors = CR_GetTrackPregap(track - 1);
    deactivate();
    return sectors;
}

void TCDIn::SetStartTrack(int32_t track)
{
    requireIdle();
    m_startTrack = track;
    m_startPos = TCDPosition{track, 0, 0, 0};
}

void TCDIn::SetEndTrack(int32_t track)
{
    requireIdle();
    m_endTrack = track;
    m_endPos = TCDPosition{track + 1, 0, 0, 0};
}

void TCDIn::SetStartPos(const TCDPosition &position)
{
    requireIdle();
    m_startPos = position;
}

void TCDIn::SetEndPos(const TCDPosition &position)
{
    requireIdle();
    m_endPos = position;
    if (m_endPos.Track == 100)
        m_endPos.Track = TracksCount() + 1;
}

int32_t TCDIn::sectorOf(const TCDPosition &position)
{
    activate();
    const int32_t base = sectorOfEntry(CR_GetTocEntry(position.Track - 1));
    deactivate();
    return base + position.Min * 4500 + position.Sec * 75 + position.Frame;
}

int64_t TCDIn::CurrentSize()
{
    if (m_reading)
        return m_ripSize;
    activate();
    const bool toc = CR_ReadToc() == CDEX_OK;
    deactivate();
    if (!toc)
        return 0;
    return (int64_t(sectorOf(m_endPos)) - sectorOf(m_startPos) + 1) * 2352;
}

int TCDIn::TotalSeconds()
{
    return int(std::llround(double(Samples()) / 44100.0));
}

void TCDIn::DoInit()
{
    requireIdle();
    activate();
    try {
        TDriveParams *p = CR_GetStructPointer();
        CR_GetCDROMParameters(p);
        CR_SetJitterCorrection(p, EnableJitterCorrection ? -1 : 0);
        if (ReadSectors)
            CR_SetReadSectors(p, ReadSectors);
        if (OverlapSectors)
            CR_SetOverlapSectors(p, OverlapSectors);
        if (CompareSectors)
            CR_SetCompareSectors(p, CompareSectors);
        CR_SetEnableMultiRead(p, MultiReadCount > 0 ? -1 : 0);
        CR_SetMultiReadCount(p, MultiReadCount);
        CR_SetParanoidMode(p, Paranoid ? -1 : 0);
        CR_SetParanoiaMode(p, ParanoiaMode);
        CR_LockCDTrayWhileRipping(p, LockTray ? 1 : 0);
        CR_SetCDROMParameters(p);

        if (!MediaPresent())
            throw EAuException(QStringLiteral("The drive is not ready"));
        const int tracks = TracksCount();
        if (m_startPos.Track < 1 || m_startPos.Track > tracks)
            throw EAuException(QStringLiteral("The start track out of range"));
        if (uint8_t(CR_GetTocEntry(m_startPos.Track - 1) >> 32) == 4)
            throw EAuException(QStringLiteral("Trying to rip a data track"));
        if (m_endPos.Track < 1 || m_endPos.Track > tracks + 1)
            throw EAuException(QStringLiteral("The end track out of range"));

        const int32_t start = sectorOf(m_startPos);
        const int32_t end = sectorOf(m_endPos);
        m_ripSize = std::max<int32_t>(end - start, 0) * 2352;
        // While reading, Size is the size of the read itself (one sector less than announced beforehand).
        Size = m_ripSize;
        Position = 0;
        m_bufferLength = m_readOffset = 0;
        const int32_t discEnd = sectorOfEntry(CR_GetTocEntry(tracks));
        const TReadWindow window = ShiftedReadWindow(start, std::max(end - start, 0),
                                                     std::clamp(ReadOffset, -5880, 5880), 0, discEnd);
        m_window = std::make_unique<TWindowCut>(window);
        m_windowSectors = window.Sectors;
        m_leadSilence = window.LeadSilence;
        m_sectorsLeft = window.Sectors > 0;
        int bufferSize = chunkBytes;
        if (m_sectorsLeft &&
            CR_OpenRipper(&bufferSize, window.FirstSector, window.FirstSector + window.Sectors) != CDEX_OK)
            throw EAuException(QStringLiteral("The drive is not ready"));
        m_reading = true;
        Busy = true;
    } catch (...) {
        deactivate();
        throw;
    }
    deactivate();
}

QString TCDIn::readErrorAt(int32_t sector) const
{
    return QStringLiteral("Read error at sector %1 of %2")
        .arg(sector)
        .arg(CdDriveList().value(m_currentDrive).path);
}

void TCDIn::DoGetData(uint8_t *&buffer, uint32_t &bytes)
{
    if (!m_reading)
        throw EAuException(QStringLiteral("The Stream is not opened"));
    // Silence where the shifted read lies before the disc's start, then the sectors, then silence again
    // where it lies beyond the disc's end.
    const auto silence = [&](int64_t &left) {
        std::fill(m_buffer.begin(), m_buffer.end(), uint8_t(0));
        bytes = uint32_t(std::min<int64_t>({int64_t(bytes), left, int64_t(m_buffer.size())}));
        buffer = m_buffer.data();
        left -= bytes;
    };
    if (m_leadSilence > 0) {
        silence(m_leadSilence);
    } else {
        while (m_sectorsLeft && m_readOffset >= m_bufferLength) {
            int length = 0;
            int abort = 0;
            if (CR_RipChunk(m_buffer.data(), &length, &abort) != CDEX_OK)
                throw EAuException(readErrorAt(CR_GetLastErrorSector()));
            const auto [skip, count] = m_window->Take(size_t(std::max(length, 0)));
            m_readOffset = uint32_t(skip);
            m_bufferLength = uint32_t(skip + count);
            if (length <= 0) {
                m_sectorsLeft = false;
                m_tailSilence = m_window->TailSilence();
                // A read of which nothing at all could be read is no read.
                QString reason;
                if (const size_t bad = CR_GetUnreadableSectors(&reason).size();
                    bad > 0 && int64_t(bad) >= m_windowSectors)
                    throw EAuException(reason.isEmpty() ? readErrorAt(CR_GetLastErrorSector()) : reason);
            }
        }
        if (m_readOffset < m_bufferLength) {
            bytes = std::min(bytes, m_bufferLength - m_readOffset);
            buffer = m_buffer.data() + m_readOffset;
            m_readOffset += bytes;
        } else if (m_tailSilence > 0) {
            silence(m_tailSilence);
        } else {
            buffer = nullptr;
            bytes = 0;
            return;
        }
    }
    if (OnAudio)
        OnAudio(buffer, bytes);
    Position += bytes;
}

void TCDIn::DoFlush()
{
    if (!m_reading)
        return;
    JitterErrors = CR_GetNumberOfJitterErrors();
    const std::vector<int32_t> unreadable = CR_GetUnreadableSectors(&UnreadableReason);
    Unreadable = QList<int32_t>(unreadable.begin(), unreadable.end());
    if (!Unreadable.isEmpty() && UnreadableReason.isEmpty())
        UnreadableReason = readErrorAt(Unreadable.first());
    CR_CloseRipper();
    m_window.reset();
    m_leadSilence = m_tailSilence = 0;
    m_sectorsLeft = false;
    m_reading = false;
    Busy = false;
    Size = 0;
}

void TCDIn::Reset()
{
    try {
        Flush();
    } catch (...) {
        LogCaughtException("Resetting the CD input");
    }
    m_reading = false;
    Busy = false;
}
