// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// The CD access calls the program reads discs with: drive list, drive handles, table of contents and raw
// audio reads, over libcdio. Records are byte-packed with the sizes below. Every call is thread-safe; reads
// on one handle are serialised. A call that fails says why in its `TCdError` when given one.

using TCdHandle = uint32_t; // a drive handle: a small non-zero number; 0 means none

#pragma pack(push, 1)
struct TCDRec {
    uint8_t ha; // adapter: 0 real drives, 1 disc images
    uint8_t tgt;
    uint8_t lun;
    uint8_t pad;
    char id[65];
    char vendor[9];
    char prodId[17];
    char rev[5];
    char vendSpec[21];
};

struct TCDList {
    uint8_t max; // capacity, set by the caller (8)
    uint8_t num; // drives found
    TCDRec cd[8];
};

struct TGetCDHand {
    uint8_t size; // 12
    uint8_t ver;  // 1
    uint8_t ha;
    uint8_t tgt;
    uint8_t lun;
    uint8_t readType;
    int32_t jitterCorr;
    uint8_t numJitter;
    uint8_t numOverlap;
};

struct TTocTrack {
    uint8_t rsvd;
    uint8_t ADR; // ADR in the high nibble, control bits in the low one (4 = data track)
    uint8_t trackNumber;
    uint8_t rsvd2;
    uint8_t addr[4]; // 0, minute, second, frame after ModifyCDParms(h, 36, 1); else the big-endian LBA
};

struct TToc {
    uint16_t tocLen;
    uint8_t firstTrack;
    uint8_t lastTrack;
    TTocTrack tracks[100]; // the entry after the last track is the lead-out
};

// The header of a read buffer; the data area follows it.
struct TTrackBuf {
    uint32_t startFrame; // counted from the start of the first table entry
    uint32_t numFrames;
    uint32_t maxLen; // capacity of the data area in bytes
    uint32_t len;    // bytes read
    uint32_t status;
    int32_t startOffset; // where the audio starts in the data area
    uint8_t buf[1];
};
#pragma pack(pop)

static_assert(sizeof(TCDRec) == 121);
static_assert(sizeof(TCDList) == 970);
static_assert(sizeof(TGetCDHand) == 12);
static_assert(sizeof(TTocTrack) == 8);
static_assert(sizeof(TToc) == 804);
static_assert(offsetof(TTrackBuf, buf) == 24);

constexpr int CD_SECTOR_BYTES = 2352;
constexpr int32_t CDP_MSF = 36; // ModifyCDParms: addresses as minute, second, frame

// Error codes of GetAspiLibError.
enum CdAccessError : int32_t {
    CDERR_NONE = 0,
    CDERR_NO_DRIVE = 1,       // no drive with that adapter, target and LUN
    CDERR_OPEN = 2,           // the drive or image could not be opened
    CDERR_INVALID_HANDLE = 3, // unknown or closed handle
    CDERR_NO_MORE_HANDLES = 4,
    CDERR_INVALID_PARAMETER = 5,
    CDERR_BUFFER_TOO_SMALL = 6,
    CDERR_NO_DISC = 7,
    CDERR_OUT_OF_RANGE = 8,
    CDERR_READ = 9,
    CDERR_CDDB_NETWORK = 10,  // the CDDB server could not be reached or answered with an error
    CDERR_CDDB_NO_MATCH = 11, // the CDDB server knows no such disc
    CDERR_CDDB_ANSWER = 12,   // the CDDB server's answer is no CDDB answer (it could not be read)
};

constexpr int MAX_CD_HANDLES = 10;

// Why a call failed: its code and the reason in words, naming the drive and the cause.
struct TCdError {
    int32_t code = CDERR_NONE;
    QString text;
};

// Fills the list (capacity list->max, at most 8) and returns the number of drives.
int32_t GetCDList(TCDList *list, TCdError *error = nullptr);
TCdHandle GetCDHandle(const TGetCDHand *request, TCdError *error = nullptr);
// A handle of a drive of the list (GetCDHandle with the drive's address); 0 when it cannot be opened.
TCdHandle OpenCDHandle(const TCDRec &drive, TCdError *error = nullptr);
int32_t CloseCDHandle(TCdHandle handle, TCdError *error = nullptr); // non-zero when closed
int32_t ModifyCDParms(TCdHandle handle, int32_t which, uint32_t value,
                      TCdError *error = nullptr);                        // non-zero on success
int32_t ReadTOC(TCdHandle handle, TToc *toc, TCdError *error = nullptr); // 1 on success

// The CD-Text a disc carries (from a drive, or TITLE/PERFORMER lines of a CUE image): the album's title
// and performer, and each track's, by track number. Texts without control characters; empty when absent.
struct TCdText {
    QString AlbumTitle;
    QString AlbumPerformer;
    std::map<int, QString> Titles;
    std::map<int, QString> Performers;
    bool empty() const { return AlbumTitle.isEmpty() && AlbumPerformer.isEmpty() && Titles.empty(); }
};
// False when the handle is unknown; a disc without CD-Text gives true and an empty text.
bool ReadCdText(TCdHandle handle, TCdText &text);
// The codes a disc carries in its subchannel (or a CUE image in CATALOG and ISRC lines): the disc's media
// catalogue number (13 digits, an EAN/UPC) and each track's ISRC (CCOOOYYNNNNN), by track number. Codes
// that are not well-formed are left out (a drive without the ability gives none).
struct TDiscCodes {
    QString Mcn;
    std::map<int, QString> Isrcs;
    bool empty() const { return Mcn.isEmpty() && Isrcs.empty(); }
};
// False when the handle is unknown.
bool ReadDiscCodes(TCdHandle handle, TDiscCodes &codes);
// The forms the codes must have: 12 characters, two letters, three letters or digits, seven digits; 13
// digits, not all nought. A barcode is a catalogue number whose EAN-13 check digit is right.
bool IsWellFormedIsrc(const QString &code);
bool IsWellFormedMcn(const QString &code);
bool IsBarcode(const QString &mcn);
// 1 on success. startFrame is signed in effect: the sectors before the first entry (a hidden track's) are
// read with a negative one.
int32_t ReadCDAudioLBA(TCdHandle handle, TTrackBuf *buffer, TCdError *error = nullptr);
// The same read with the drive's C2 error pointers, one flag a sector read; `c2` is left empty when the drive
// offers none.
int32_t ReadCDAudioLBAWithC2(TCdHandle handle, TTrackBuf *buffer, std::vector<bool> *c2, TCdError *error);
// Whether the drive's reads come with C2 error pointers.
bool DriveOffersC2(TCdHandle handle);
// The sectors of audio hidden before the first track (its pregap, from the disc's start to its INDEX 01),
// when the first track is audio and that audio is not all silence; 0 otherwise. Reads those sectors.
int32_t HiddenTrackSectors(TCdHandle handle);
// The sectors of a track's pregap when the disc marks one (INDEX 00); 0 when it does not, or for no such
// track.
int32_t TrackPregapSectors(TCdHandle handle, int track);
// The code of the last failure any call of the process reported (CDERR_NONE before the first); the reason
// comes with the failing call's TCdError. SetAspiLibError reports one from a client of these calls.
int32_t GetAspiLibError();
void SetAspiLibError(int32_t code);

// True for handle 0; otherwise whether CloseCDHandle closed it.
bool CloseDriveHandle(TCdHandle handle);

// An open drive handle, closed when it goes.
class TDriveHandle {
public:
    TDriveHandle() = default;
    explicit TDriveHandle(TCdHandle handle) : m_handle(handle) {}
    TDriveHandle(TDriveHandle &&other) noexcept : m_handle(std::exchange(other.m_handle, 0)) {}
    TDriveHandle &operator=(TDriveHandle &&other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_handle, 0));
        return *this;
    }
    TDriveHandle(const TDriveHandle &) = delete;
    TDriveHandle &operator=(const TDriveHandle &) = delete;
    ~TDriveHandle() { reset(); }
    TCdHandle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != 0; }
    void reset(TCdHandle handle = 0)
    {
        if (m_handle)
            CloseCDHandle(m_handle);
        m_handle = handle;
    }

private:
    TCdHandle m_handle = 0;
};

// The device or image path behind an open handle (empty for an unknown one).
QString CdHandlePath(TCdHandle handle);

// Opens or closes the tray of the drive behind a device path; a disc image has no tray (false, nothing done).
bool EjectCdTray(const QString &devicePath);
bool CloseCdTray(const QString &devicePath);

// A position in the table in frames: minute * 4500 + second * 75 + frame (MSF addresses).
int32_t TocEntryFrames(const TTocTrack &entry);

// The audio of a disc: its first and last audio track and where the audio ends (in frames, as
// TocEntryFrames). Data tracks before the audio are no part of it; a data track after it (an enhanced CD's
// second session) ends it at the data track's start less the gap between sessions (11,400 sectors). False for
// a table without tracks.
struct TAudioSession {
    int First = 0;
    int Last = 0;
    int32_t LeadOut = 0;
};
bool AudioSessionOf(const TToc &toc, TAudioSession &session);
