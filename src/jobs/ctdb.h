// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"
#include "shell/result.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// The CUETools database (CTDB): a disc's identity there and the request that looks it up. Only the table of
// contents is ever sent.

// The disc's TOC id: a SHA-1 of where each audio track after the first begins and where the audio ends, each
// counted from the first audio track's start as eight upper-case hexadecimal digits, the list padded with
// zeros to 100 entries; in base 64 with '.', '_' and '-' for '+', '/' and '='. Empty for a table without
// audio tracks, or whose audio ends before its last audio track begins (a data track after it with no gap
// between the sessions).
QString CtdbTocId(const TToc &toc);
// The same from the audio tracks' start sectors and the audio's end (any common origin).
QString CtdbTocIdOf(const std::vector<int32_t> &audioStarts, int32_t audioEnd);

// The table as the lookup takes it: every track's start and the lead-out, counted from the first track's
// start, joined by colons; a data track's start with a '-' before it ("0:61883:-87778:139948").
QString CtdbLookupToc(const TToc &toc);
// The same from each track's start sector and whether it is data, and the lead-out.
QString CtdbLookupTocOf(const std::vector<std::pair<int32_t, bool>> &starts, int32_t leadOut);
// The path and query of the lookup of a disc on the database's server.
QString CtdbLookupPath(const QString &lookupToc);

// The CRC-32s (zlib's) of a whole disc's audio as the database counts them, for every offset within half its
// stride of where the rip put the audio. The disc's CRC leaves out the first ten sectors (5,880 samples) and
// the last 10 to 20 (what is left is a whole number of ten-sector rows); the first track's CRC leaves out
// the same beginning and the last track's the same end; the others cover the whole track. A pressing whose
// audio lies `offset` samples later than this rip's has the CRCs of the ranges `offset` samples on.
// The audio is fed once, in disc order; only a window around each track boundary is kept (about 24 KB each).
class TCtdbCrc {
public:
    static constexpr int Window = 2940;   // the farthest offset looked at, in samples either way
    static constexpr int64_t Skip = 5880; // samples left out at the disc's start (and at least so at its end)

    // Each audio track's length in samples (stereo frames of 16-bit samples), in disc order.
    explicit TCtdbCrc(const std::vector<int64_t> &trackSamples);
    // The disc's audio, in disc order, in pieces of any size.
    void Add(const uint8_t *data, size_t bytes);
    // Whether all of the audio came.
    bool Complete() const { return m_at == m_total; }

    // After all the audio: the disc's CRC and a track's (0 for the first), at an offset in samples
    // (-Window..Window).
    uint32_t DiscCrc(int offset) const;
    uint32_t TrackCrc(size_t track, int offset) const;
    size_t Tracks() const { return m_bounds.size() - 1; }

private:
    // A stretch of the disc: a window around boundaries, kept, or the stretch between two, of which only the
    // CRC is kept.
    struct Piece {
        int64_t Start = 0; // bytes from the disc's start
        int64_t Length = 0;
        bool Kept = false;
        QByteArray Bytes;             // a window's audio
        std::vector<uint32_t> Prefix; // a window's CRC of its first i samples, for each i
        uint32_t Crc = 0;             // a gap's CRC
    };
    size_t pieceAt(int64_t byte) const;
    // The CRC of the bytes [from, to) of the disc; both ends lie in kept windows.
    uint32_t crcOf(int64_t from, int64_t to) const;

    std::vector<int64_t> m_bounds; // bytes: the first track's start, each track's end (the ranges counted)
    std::vector<Piece> m_pieces;
    int64_t m_total = 0;
    int64_t m_at = 0;
    size_t m_piece = 0;
};

// One rip the database holds of the disc (a pressing): the CRC-32 of the whole disc and of each track, how
// many submitted it, and its recovery record.
struct TCtdbEntry {
    QString Id;
    uint32_t Crc = 0;
    int Confidence = 0;
    int Parity = 0; // npar: the recovery record's symbols per column
    int Stride = 0;
    bool HasParity = false;
    QString ParityPath; // where on the server its recovery record lies, when the entry names a path
    std::vector<uint32_t> TrackCrcs;
};

// The lookup's XML answer: its entries (none: the database does not know the disc). The answer is
// untrusted: an entry with a value out of its form is left out, and an answer that is not the database's XML
// fails.
TResult<std::vector<TCtdbEntry>> ParseCtdbAnswer(const QByteArray &xml);
// Looks the disc up on the server ("http://host[:port]", or a host); nothing but the table is sent.
QString CtdbLookupUrl(const QString &server, const QString &lookupToc);
TResult<std::vector<TCtdbEntry>> FetchCtdb(const QString &server, const QString &lookupToc,
                                           const std::atomic<bool> *cancel);

// What the database says of a rip: the whole disc's match (the summed confidence of the entries whose disc
// CRC this rip has at some offset, and that offset), and each track's (the summed confidence of the entries
// whose track CRC it has at some offset; 0: none, a mismatch when the database knows the disc).
struct TCtdbVerdict {
    bool Known = false; // the database holds the disc
    int DiscConfidence = 0;
    int DiscOffset = 0;
    std::vector<int> TrackConfidence;
};
TCtdbVerdict JudgeCtdb(const TCtdbCrc &crc, const std::vector<TCtdbEntry> &entries);

// The wrong words of a rip found from an entry's recovery record, the audio fed in order (the range the
// disc's CRC covers, 16-bit words, little-endian): it is cut into rows of 2 × stride words, and each column
// (the same word of every row) is a Reed-Solomon codeword whose `parity` symbols the record holds: `parity`
// rows of 2 × stride words, row j the j-th parity symbol of every column. Only the columns' syndromes are
// kept (2 × parity × stride words).
class TCtdbMender {
public:
    TCtdbMender(int64_t rangeBytes, const QByteArray &record, int parity, int stride);
    ~TCtdbMender();
    // Why the record cannot mend this audio (it does not fit); empty when it can.
    const QString &Problem() const { return m_problem; }
    void Add(const uint8_t *data, size_t bytes);
    // After all the audio: each wrong word (its byte offset in the range) and what to add to it (exclusive
    // or), or why they cannot be found (more wrong words in a column than the record finds).
    TResult<std::vector<std::pair<int64_t, uint16_t>>> Mends() const;

private:
    void addWord(uint16_t word);

    QString m_problem;
    int m_parity = 0;
    int64_t m_width = 0; // words a row
    int m_rows = 0;
    QByteArray m_record;
    std::unique_ptr<class TReedSolomon16> m_code;
    std::vector<uint16_t> m_syndromes; // parity × width
    std::vector<uint16_t> m_powers;    // α^j
    int64_t m_at = 0;                  // words fed
    int m_odd = -1;                    // a byte waiting for its word's second
};

// Mends a rip from an entry's recovery record. `range` holds the audio the disc's CRC covers (16-bit words,
// little-endian); it is cut into rows of 2 × stride words, and each column (the same word of every row) is a
// Reed-Solomon codeword whose `parity` symbols the record holds: `parity` rows of 2 × stride words, row j the
// j-th parity symbol of every column. The mended audio replaces `range` only when its CRC-32 is `crc`, the
// entry's. The samples mended, or why nothing was: the record does not fit, a column holds more wrong words
// than the record can find, or what came out is not the entry's audio.
TResult<int64_t> MendWithParity(QByteArray &range, const QByteArray &record, int parity, int stride,
                                uint32_t crc);
