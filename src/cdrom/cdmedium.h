// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "damage.h"
#include "tocimage.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

struct _CdIo;
class QTemporaryDir;

// One opened CD drive or disc image: drives and CUE and NRG images over libcdio, cdrdao TOC images through
// TocImage. Not thread-safe: the owner serialises calls.
class CdMedium final {
public:
    struct Track {
        int number = 0;
        int32_t lsn = 0; // start sector, counted from the start of the disc
        bool audio = true;
        bool copyPermitted = false;
        bool preemphasis = false;
        int32_t pregap = 0; // sectors of its pregap (INDEX 00 to INDEX 01) when the disc says; else 0
    };

    ~CdMedium();
    CdMedium(const CdMedium &) = delete;
    CdMedium &operator=(const CdMedium &) = delete;

    // Opens a device path or a disc image (CUE/BIN, cdrdao TOC, NRG by the file's suffix). Null on failure,
    // with the reason in *error.
    static std::unique_ptr<CdMedium> open(const QString &path, bool isImage, QString *error);

    const QString &path() const { return m_path; }
    bool isImage() const { return m_isImage; }
    // libcdio's handle; null for a TOC image, which tocImage() reads instead.
    _CdIo *cdio() const { return m_cdio; }
    const TocImage *tocImage() const { return m_toc.get(); }

    // Reads the table of contents anew; false when there is no readable disc.
    bool readToc(QString *error);
    int firstTrack() const { return m_first; }
    int lastTrack() const { return m_last; }
    const std::vector<Track> &tracks() const { return m_tracks; }
    int32_t leadout() const { return m_leadout; }
    // True when a disc is there and its first track is audio.
    bool holdsAudioCd();

    // Reads count raw audio sectors (2352 bytes each) starting at lsn into buffer, as an image's damage
    // profile says a damaged drive would. Fails on a sector outside the disc or marked unreadable.
    // With `c2`, the drive's C2 error pointers too (a flag a sector), when it offers them; left empty when
    // not.
    bool readAudio(int32_t lsn, uint32_t count, void *buffer, QString *error,
                   std::vector<bool> *c2 = nullptr) const;
    // Whether reads come with C2 error pointers: a drive's, when it says it gives them (and its first read
    // with them worked); a simulated damaged drive's as its profile says.
    bool offersC2() const { return m_damage ? m_damage->Profile().C2 : m_driveC2; }
    // The image's damage (IMAGE.damage); null for a drive or an undamaged image.
    TDamagedReads *damage() const { return m_damage.get(); }
    // The first sector in [lsn, lsn + count) marked unreadable, or -1.
    int64_t firstBadSector(int32_t lsn, uint32_t count) const;

private:
    CdMedium() = default;
    // The reads of the undamaged medium.
    bool readRaw(int32_t lsn, uint32_t count, void *buffer, QString *error) const;
    // A drive's read with its C2 error pointers (MMC READ CD); false when the drive refused it.
    bool readDriveWithC2(int32_t lsn, uint32_t count, void *buffer, std::vector<bool> &c2) const;
    // False, with "IMAGE: track N starts before track N-1" (or before the disc, or after its end), when the
    // tracks do not follow one another.
    bool tracksInOrder(QString *reason) const;

    _CdIo *m_cdio = nullptr;
    QString m_path;
    bool m_isImage = false;
    int m_first = 0;
    int m_last = 0;
    int32_t m_leadout = 0;
    std::vector<Track> m_tracks;
    std::unique_ptr<TDamagedReads> m_damage;
    mutable bool m_driveC2 = false; // the drive gives C2 error pointers with its reads
    std::unique_ptr<TocImage> m_toc;
    std::unique_ptr<QTemporaryDir> m_workspace; // a CUE sheet's copy and its data file's link, while open
    QString m_dataFile;                         // the file a CUE sheet names
};

// The bytes of a sector read with its C2 error pointers (MMC READ CD, C2 error bits): the 2,352 bytes of
// audio, then a bit for each of them, set where the drive could not correct the byte.
constexpr uint32_t CdSectorWithC2Bytes = 2352 + 294;
// Takes `count` such sectors apart: their audio into `audio` (2,352 bytes each), and a flag for each sector
// with any error bit set into `c2`.
void SplitC2Sectors(const uint8_t *sectors, uint32_t count, uint8_t *audio, std::vector<bool> &c2);

// Routes libcdio's log to the TCdioMessage listening instead of standard error. Called by everything that
// opens drives; idempotent.
void InstallCdioLogHandler();

// While it lives, what libcdio logs from calls of this thread (its errors carry the operating system's
// reason): the last such text.
class TCdioMessage {
public:
    TCdioMessage();
    ~TCdioMessage();
    TCdioMessage(const TCdioMessage &) = delete;
    TCdioMessage &operator=(const TCdioMessage &) = delete;
    QString text() const;

private:
    QString m_text;
    QString *m_previous = nullptr;
};

// Held around every opening of a drive or image through libcdio.
std::mutex &CdioOpenMutex();
