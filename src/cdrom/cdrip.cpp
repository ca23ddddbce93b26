// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrip.h"

#include "cddrivelist.h"
#include "cdmedium.h"

#include <QList>
#include <algorithm>
#include <atomic>
#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Set to stop the read under way at its next request to the drive (paranoia may make many for one sector).
std::atomic<bool> ripAborted{false};

// The drives paranoia reads: their own read function, and the damage that changes their reads (none for a
// real drive).
struct TDamagedDrive {
    long (*Read)(cdrom_drive_t *drive, void *buffer, lsn_t begin, long sectors) = nullptr;
    TDamagedReads *Damage = nullptr;
    int32_t Leadout = 0;
};
std::mutex damagedDrivesMutex;
std::map<cdrom_drive_t *, TDamagedDrive> damagedDrives;

long damagedRead(cdrom_drive_t *drive, void *buffer, lsn_t begin, long sectors)
{
    TDamagedDrive damaged;
    {
        std::lock_guard lock(damagedDrivesMutex);
        const auto known = damagedDrives.find(drive);
        if (known == damagedDrives.end())
            return -1;
        damaged = known->second;
    }
    if (ripAborted)
        return -1;
    if (!buffer ||
        !damaged.Damage) // a read only for its time (paranoia's measure of the drive), or a real drive
        return damaged.Read(drive, buffer, begin, sectors);
    const bool read = damaged.Damage->Read(
        int32_t(begin), uint32_t(sectors), buffer, damaged.Leadout,
        [&](int32_t lsn, uint32_t count, void *into, QString *) {
            return damaged.Read(drive, into, lsn, long(count)) == long(count);
        },
        nullptr);
    return read ? sectors : -1;
}

// Every read of the drive goes through damagedRead: damaged by `damage` when there is one, and stoppable.
void damageReads(cdrom_drive_t *drive, TDamagedReads *damage, int32_t leadout)
{
    std::lock_guard lock(damagedDrivesMutex);
    damagedDrives[drive] = TDamagedDrive{drive->read_audio, damage, leadout};
    drive->read_audio = damagedRead;
}

// A drive that goes is forgotten (another may take its address).
void forgetDamagedDrive(cdrom_drive_t *drive)
{
    std::lock_guard lock(damagedDrivesMutex);
    damagedDrives.erase(drive);
}

struct Ripper {
    std::unique_ptr<CdMedium> medium; // a medium of its own, so reading never disturbs the drive questions
    cdrom_drive_t *drive = nullptr;
    cdrom_paranoia_t *paranoia = nullptr;
    int32_t next = 0;
    int32_t end = 0;
    int chunkSectors = 75;

    ~Ripper()
    {
        if (paranoia)
            cdio_paranoia_free(paranoia);
        if (drive) {
            forgetDamagedDrive(drive);
            cdio_cddap_close_no_free_cdio(drive);
        }
    }
};

struct State {
    std::recursive_mutex mutex;
    QList<CdDriveEntry> drives;
    int active = 0;
    std::map<int, TDriveParams> params; // per drive index
    std::unique_ptr<CdMedium> medium;   // the active drive, opened on demand
    int mediumIndex = -1;
    std::unique_ptr<Ripper> ripper;
    int jitterErrors = 0;
    int32_t lastErrorSector = -1;
    QString lastError;               // the drive's or image's reason for it
    std::vector<int32_t> unreadable; // sectors the open read gave as silence
    std::string driveId;
};

State &state()
{
    static State s;
    return s;
}

// The paranoia callback has no user pointer; reads run one at a time under the state's lock.
int *callbackErrors = nullptr;
int readsGivenUp = 0; // reads paranoia could not make or skipped

void paranoiaCallback(long, paranoia_cb_mode_t mode)
{
    if (!callbackErrors)
        return;
    switch (mode) {
    case PARANOIA_CB_FIXUP_EDGE:
    case PARANOIA_CB_FIXUP_ATOM:
    case PARANOIA_CB_FIXUP_DROPPED:
    case PARANOIA_CB_FIXUP_DUPED:
        ++*callbackErrors;
        break;
    case PARANOIA_CB_SKIP:
    case PARANOIA_CB_READERR:
        ++*callbackErrors;
        ++readsGivenUp;
        break;
    default:
        break;
    }
}

void refreshDrives(State &s)
{
    s.drives = CdDriveList();
}

CdMedium *activeMedium(State &s);

// The drive list and the active drive's medium are looked at afresh: discs change, images come and go.
CdMedium *reopenMedium(State &s)
{
    refreshDrives(s);
    s.medium.reset();
    s.mediumIndex = -1;
    return activeMedium(s);
}

CdMedium *activeMedium(State &s)
{
    if (s.medium && s.mediumIndex == s.active)
        return s.medium.get();
    s.medium.reset();
    s.mediumIndex = -1;
    if (s.drives.isEmpty())
        refreshDrives(s);
    if (s.active < 0 || s.active >= s.drives.size() || !s.drives[s.active].readable)
        return nullptr;
    s.medium = CdMedium::open(s.drives[s.active].path, s.drives[s.active].isImage, nullptr);
    s.mediumIndex = s.medium ? s.active : -1;
    return s.medium.get();
}

TDriveParams &paramsOf(State &s, int index)
{
    auto it = s.params.find(index);
    if (it == s.params.end()) {
        TDriveParams p{};
        p.nNumReadSectors = 26;
        p.nNumOverlapSectors = 3;
        p.nNumCompareSectors = 1;
        it = s.params.emplace(index, p).first;
    }
    return it->second;
}

} // namespace

int CR_Init(int)
{
    InstallCdioLogHandler();
    State &s = state();
    std::lock_guard lock(s.mutex);
    refreshDrives(s);
    return CDEX_OK;
}

void CR_DeInit()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    s.ripper.reset();
    s.medium.reset();
    s.mediumIndex = -1;
}

int CR_GetNumCDROM()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    refreshDrives(s);
    return int(s.drives.size());
}

void CR_SetActiveCDROM(int index)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (index != s.active) {
        s.medium.reset();
        s.mediumIndex = -1;
    }
    s.active = index;
}

int CR_GetActiveCDROM()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    return s.active;
}

TDriveParams *CR_GetStructPointer()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    return &paramsOf(s, s.active);
}

int CR_GetCDROMParameters(TDriveParams *params)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (!params)
        return CDEX_ERROR;
    if (params != &paramsOf(s, s.active))
        *params = paramsOf(s, s.active);
    if (s.drives.isEmpty())
        refreshDrives(s);
    if (s.active >= 0 && s.active < s.drives.size()) {
        const QByteArray id =
            (s.drives[s.active].vendor + QLatin1Char(' ') + s.drives[s.active].product).toUtf8();
        std::strncpy(params->lpszCDROMID, id.constData(), sizeof params->lpszCDROMID - 1);
    }
    return CDEX_OK;
}

int CR_SetCDROMParameters(TDriveParams *params)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (!params)
        return CDEX_ERROR;
    paramsOf(s, s.active) = *params;
    return CDEX_OK;
}

const char *CR_GetDriveID(TDriveParams *params)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    s.driveId = params ? params->lpszCDROMID : "";
    return s.driveId.c_str();
}

int CR_GetJitterCorrection(TDriveParams *p)
{
    return p ? p->bJitterCorrection : 0;
}
void CR_SetJitterCorrection(TDriveParams *p, int v)
{
    if (p)
        p->bJitterCorrection = v;
}
void CR_SetReadSectors(TDriveParams *p, int v)
{
    if (p)
        p->nNumReadSectors = v;
}
void CR_SetOverlapSectors(TDriveParams *p, int v)
{
    if (p)
        p->nNumOverlapSectors = v;
}
void CR_SetCompareSectors(TDriveParams *p, int v)
{
    if (p)
        p->nNumCompareSectors = v;
}
void CR_SetEnableMultiRead(TDriveParams *p, int v)
{
    if (p)
        p->bEnableMultiRead = v;
}
void CR_SetMultiReadCount(TDriveParams *p, int v)
{
    if (p)
        p->nMultiReadCount = v;
}
void CR_SetParanoidMode(TDriveParams *p, int v)
{
    if (p)
        p->bParanoid = v;
}
void CR_SetParanoiaMode(TDriveParams *p, int v)
{
    if (p)
        p->nParanoiaMode = v;
}
void CR_LockCDTrayWhileRipping(TDriveParams *p, int v)
{
    if (p)
        p->bLockDuringRip = v;
}

int CR_IsMediaLoaded(int *status)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    CdMedium *medium = reopenMedium(s);
    const bool loaded = medium && medium->readToc(nullptr);
    if (status && !loaded)
        *status = 1;
    return CDEX_OK;
}

int CR_ReadToc()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    CdMedium *medium = reopenMedium(s);
    if (!medium)
        return CDEX_NO_DRIVE;
    return medium->readToc(nullptr) ? CDEX_OK : CDEX_NO_DISC;
}

int CR_GetNumTocEntries()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    CdMedium *medium = activeMedium(s);
    return medium ? int(medium->tracks().size()) : 0;
}

uint64_t CR_GetTocEntry(int index)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    CdMedium *medium = activeMedium(s);
    if (!medium || index < 0 || index > int(medium->tracks().size()))
        return 0;
    if (index == int(medium->tracks().size()))
        return uint32_t(medium->leadout()) | uint64_t(0xAA) << 40;
    const CdMedium::Track &t = medium->tracks()[size_t(index)];
    const uint8_t flags =
        uint8_t((t.audio ? 0 : 0x04) | (t.copyPermitted ? 0x02 : 0) | (t.preemphasis ? 0x01 : 0));
    return uint32_t(t.lsn) | uint64_t(flags) << 32 | uint64_t(uint8_t(t.number)) << 40;
}

int CR_GetTrackPregap(int index)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    CdMedium *medium = activeMedium(s);
    if (!medium || index < 0 || index >= int(medium->tracks().size()))
        return 0;
    return medium->tracks()[size_t(index)].pregap;
}

int CR_OpenRipper(int *bufferSize, int32_t start, int32_t end)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    s.ripper.reset();
    s.jitterErrors = 0;
    s.lastErrorSector = -1;
    s.lastError.clear();
    s.unreadable.clear();
    ripAborted = false;
    refreshDrives(s);
    if (s.active < 0 || s.active >= s.drives.size())
        return CDEX_NO_DRIVE;
    const CdDriveEntry &entry = s.drives[s.active];
    auto ripper = std::make_unique<Ripper>();
    ripper->medium = CdMedium::open(entry.path, entry.isImage, nullptr);
    if (!ripper->medium || !ripper->medium->readToc(nullptr))
        return CDEX_NO_DISC;
    ripper->next = start;
    ripper->end = end;
    ripper->chunkSectors = std::max(1, (bufferSize ? *bufferSize : 176400) / 2352);
    const TDriveParams &p = paramsOf(s, s.active);
    int mode = PARANOIA_MODE_DISABLE;
    if (p.bJitterCorrection)
        mode |= PARANOIA_MODE_OVERLAP | PARANOIA_MODE_VERIFY;
    if (p.bParanoid || p.nParanoiaMode)
        mode = PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP;
    // A TOC image is read by our own reader, which paranoia cannot drive; an image has no jitter to mend.
    if (mode != PARANOIA_MODE_DISABLE && ripper->medium->cdio()) {
        ripper->drive = cdio_cddap_identify_cdio(ripper->medium->cdio(), CDDA_MESSAGE_FORGETIT, nullptr);
        if (!ripper->drive)
            return CDEX_ERROR;
        // An image holds little-endian samples. Left to itself, paranoia guesses the byte order from the
        // audio it finds first, and noise-like audio can make it guess wrong and swap every sample.
        if (ripper->medium->isImage())
            ripper->drive->bigendianp = 0;
        if (cdio_cddap_open(ripper->drive) != 0)
            return CDEX_ERROR;
        if (ripper->medium->isImage())
            ripper->drive->bigendianp = 0;
        // A damaged image's reads are damaged below paranoia, as a drive's would be: paranoia sees them.
        damageReads(ripper->drive, ripper->medium->damage(), ripper->medium->leadout());
        ripper->paranoia = cdio_paranoia_init(ripper->drive);
        cdio_paranoia_modeset(ripper->paranoia, mode);
        // The overlap of the drive's settings is not forced on paranoia: it sizes its overlap to the drive's
        // jitter as it reads (as cd-paranoia does), and a fixed one only cost time and memory (the same
        // audio, 53 against 42 MB for 10 minutes).
        cdio_paranoia_seek(ripper->paranoia, start, SEEK_SET);
        // Paranoia may read a chunk many times over (more so on a poor drive): smaller chunks let a stop
        // be answered between them soon.
        ripper->chunkSectors = std::min(ripper->chunkSectors, 15);
    }
    s.ripper = std::move(ripper);
    return CDEX_OK;
}

int CR_RipChunk(uint8_t *buffer, int *length, int *abort)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (length)
        *length = 0;
    Ripper *r = s.ripper.get();
    if (!r || !buffer || !length)
        return CDEX_ERROR;
    const int32_t count = std::min<int32_t>(r->chunkSectors, r->end - r->next);
    if (count <= 0 || (abort && *abort))
        return CDEX_OK;
    bool read = r->medium->firstBadSector(r->next, uint32_t(count)) < 0;
    if (read && !r->paranoia) {
        read = r->medium->readAudio(r->next, uint32_t(count), buffer, nullptr);
    } else if (read) {
        callbackErrors = &s.jitterErrors;
        readsGivenUp = 0;
        for (int32_t i = 0; i < count && read; ++i) {
            if (ripAborted) {
                callbackErrors = nullptr;
                return CDEX_ERROR;
            }
            // The sector paranoia returns lives only until its next read: copied at once.
            const int16_t *sector = cdio_paranoia_read_limited(r->paranoia, paranoiaCallback, 20);
            if (sector)
                std::memcpy(buffer + size_t(i) * CDIO_CD_FRAMESIZE_RAW, sector, CDIO_CD_FRAMESIZE_RAW);
            read = sector != nullptr;
        }
        callbackErrors = nullptr;
        // Where paranoia gave up on a read (the drive failed near here) what it made of the chunk is not
        // trusted: the chunk is read again below, sector by sector.
        read = read && readsGivenUp == 0;
    }
    if (!read) {
        // A chunk that cannot be read whole is read sector by sector, straight from the drive: what can be
        // read is kept, what cannot becomes silence and is told. Paranoia takes over again after it.
        for (int32_t i = 0; i < count; ++i) {
            if (ripAborted)
                return CDEX_ERROR;
            uint8_t *sector = buffer + size_t(i) * CDIO_CD_FRAMESIZE_RAW;
            QString error;
            if (!r->medium->readAudio(r->next + i, 1, sector, &error)) {
                std::memset(sector, 0, CDIO_CD_FRAMESIZE_RAW);
                if (s.unreadable.empty()) {
                    s.lastErrorSector = r->next + i;
                    s.lastError = error;
                }
                s.unreadable.push_back(r->next + i);
            }
        }
        if (r->paranoia)
            cdio_paranoia_seek(r->paranoia, r->next + count, SEEK_SET);
    }
    r->next += count;
    *length = count * CDIO_CD_FRAMESIZE_RAW;
    return CDEX_OK;
}

void CR_AbortRip()
{
    ripAborted = true; // without the state's lock: the read holds it
}

int CR_CloseRipper()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    s.ripper.reset();
    return CDEX_OK;
}

int CR_GetNumberOfJitterErrors()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    return s.jitterErrors;
}

int32_t CR_GetLastErrorSector()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    return s.lastErrorSector;
}

std::vector<int32_t> CR_GetUnreadableSectors(QString *reason)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (reason)
        *reason = s.lastError;
    return s.unreadable;
}
