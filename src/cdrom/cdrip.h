// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// The CD ripping calls the CD input component reads discs with, over libcdio-paranoia. They address the
// same drives as the CD access calls (real drives, then disc images), one of them active at a time. Results
// are 0 (CDEX_OK) on success. The read calls (CR_OpenRipper, CR_RipChunk, CR_CloseRipper) may run on a
// worker thread while the user-interface thread asks about the drive; every call is serialised.

constexpr int CDEX_OK = 0;
constexpr int CDEX_ERROR = 1;
constexpr int CDEX_NO_DRIVE = 2;
constexpr int CDEX_NO_DISC = 3;
constexpr int CDEX_READ_ERROR = 4;

// Settings of a drive, as the component hands them back and forth.
struct TDriveParams {
    char lpszCDROMID[256];
    int nNumReadSectors;
    int nNumOverlapSectors;
    int nNumCompareSectors;
    int bJitterCorrection;
    int bEnableMultiRead;
    int nMultiReadCount;
    int bParanoid;
    int nParanoiaMode;
    int bLockDuringRip;
};

int CR_Init(int version);
void CR_DeInit();
int CR_GetNumCDROM();
void CR_SetActiveCDROM(int index);
int CR_GetActiveCDROM();
TDriveParams *CR_GetStructPointer();
int CR_GetCDROMParameters(TDriveParams *params);
int CR_SetCDROMParameters(TDriveParams *params);
// "vendor product" of the active drive.
const char *CR_GetDriveID(TDriveParams *params);
int CR_GetJitterCorrection(TDriveParams *params);
void CR_SetJitterCorrection(TDriveParams *params, int value);
void CR_SetReadSectors(TDriveParams *params, int value);
void CR_SetOverlapSectors(TDriveParams *params, int value);
void CR_SetCompareSectors(TDriveParams *params, int value);
void CR_SetEnableMultiRead(TDriveParams *params, int value);
void CR_SetMultiReadCount(TDriveParams *params, int value);
void CR_SetParanoidMode(TDriveParams *params, int value);
void CR_SetParanoiaMode(TDriveParams *params, int value);
void CR_LockCDTrayWhileRipping(TDriveParams *params, int value);
// *status stays 0 when a disc is loaded.
int CR_IsMediaLoaded(int *status);
int CR_ReadToc();
// The number of tracks; entry CR_GetNumTocEntries() is the lead-out.
int CR_GetNumTocEntries();
// Low 32 bits: the entry's start sector; next byte: its flag byte (4 for a data track); then its track
// number.
uint64_t CR_GetTocEntry(int index);
// The pregap of the track at this index of the table in sectors; 0 when the disc marks none.
int CR_GetTrackPregap(int index);
// Opens a read of the sectors [start, end); *bufferSize bytes go into each chunk.
int CR_OpenRipper(int *bufferSize, int32_t start, int32_t end);
// Reads the next chunk; *length 0 at the end. A sector that cannot be read comes as silence and is counted
// among the read's unreadable sectors.
int CR_RipChunk(uint8_t *buffer, int *length, int *abort);
// Ends the open read at its next request to the drive (from any thread, while the read runs): its chunk
// fails. The next CR_OpenRipper reads again.
void CR_AbortRip();
int CR_CloseRipper();
int CR_GetNumberOfJitterErrors();
// The first sector of the open (or last) read that could not be read; -1 when none.
int32_t CR_GetLastErrorSector();
// The sectors of the open (or last) read that could not be read (silence in its audio), and why the first
// could not.
std::vector<int32_t> CR_GetUnreadableSectors(QString *reason);
