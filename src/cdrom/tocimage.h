// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class QFile;

// A cdrdao TOC file and the data it names, laid out as cdrdao lays it out (its manual's "TOC FILES"
// section; `cdrdao show-toc` prints the same positions): each track is its SILENCE, ZERO, FILE and DATAFILE
// statements one after the other, padded with zeros to whole blocks; START (or PREGAP) marks where index 1
// begins; the tracks follow one another from sector 0, and the lead-out follows the last.
//
// Files are named relative to the TOC's folder. A name ending in ".wav" is a WAVE file (its data chunk is
// the audio); any other audio file is raw, with big-endian samples as cdrdao defines it, and is read as the
// little-endian samples a drive hands out. Only regular files are taken: a FIFO or a device is refused, so
// nothing can hold a reader for good. Reading past the end of a file is a read error of that sector, as on
// a drive.
//
// Not thread-safe: the owner serialises calls.
class TocImage final {
public:
    struct Track {
        int number = 0;
        bool audio = true;
        bool copyPermitted = false;
        bool preemphasis = false;
        QString isrc;
        int32_t begin = 0;  // the first sector of its pregap (or of index 1 when it has none)
        int32_t pregap = 0; // sectors before index 1
        int32_t sectors = 0;
        QString title; // CD-Text of the first language
        QString performer;
        int32_t start() const { return begin + pregap; } // index 1
    };

    ~TocImage();
    TocImage(const TocImage &) = delete;
    TocImage &operator=(const TocImage &) = delete;

    // Reads the TOC file and checks the files it names. Null with "PATH: reason" (the line it stopped at,
    // or the file and the system's reason) in *error.
    static std::unique_ptr<TocImage> Open(const QString &path, QString *error);

    const std::vector<Track> &tracks() const { return m_tracks; }
    int32_t leadout() const { return m_leadout; }
    const QString &catalog() const { return m_catalog; }
    const QString &albumTitle() const { return m_albumTitle; }
    const QString &albumPerformer() const { return m_albumPerformer; }

    // count sectors of 2352 bytes from lsn on, as a drive reads audio: little-endian samples; a data track's
    // sectors as zeros. False, with the sector and the reason in *error, past the disc's end or a file's.
    bool read(int32_t lsn, uint32_t count, void *buffer, QString *error) const;

private:
    struct Piece {
        int64_t bytes = 0;
        int file = -1; // into m_files; -1: zeros
        int64_t offset = 0;
    };
    struct DataFile {
        QString path;
        bool swap = false; // raw audio: big-endian samples
        int64_t dataStart = 0;
        int64_t dataBytes = 0;
        std::unique_ptr<QFile> file;
    };
    class Parser;

    TocImage() = default;
    bool readSector(int32_t lsn, char *out, QString *error) const;

    QString m_path;
    QString m_catalog;
    QString m_albumTitle;
    QString m_albumPerformer;
    std::vector<Track> m_tracks;
    std::vector<std::vector<Piece>> m_pieces; // by track
    std::vector<int> m_blockBytes;            // by track
    std::vector<DataFile> m_files;
    int32_t m_leadout = 0;
};
