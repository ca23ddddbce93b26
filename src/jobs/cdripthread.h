// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "accuraterip.h"
#include "cdrom/cdaccess.h"
#include "shell/settings.h"

#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// Reads one audio track through the CD access calls into a WAV file in the output folder (16-bit stereo,
// 44100 Hz), optionally scales its volume afterwards (normalisation), and reports to NotifyWindow by posted
// messages: WM_RIPERROR when the drive cannot be set up, and WM_PROCESSINFO notices (progress; 999 when
// normalisation begins; exactly one 1000 at the end of a read, with ResultCode 0 done, 3 read error, 5 the
// file could not be created). After a stop request nothing more is posted.
//
// Created idle; the job sets CDHandle, NotifyWindow and Options (its own copy), then calls Resume. The window
// must outlive the thread: destroying this object waits for the thread (set StopRequested first to end it
// early).
// A fingerprint of each 2352-byte sector of a read's audio as it passes (a sector may come in pieces), for
// Test & copy to tell where its reads differed.
class TSectorPrints {
public:
    explicit TSectorPrints(std::vector<uint64_t> *prints = nullptr) : m_prints(prints) {}
    void Add(const uint8_t *data, size_t bytes);

private:
    std::vector<uint64_t> *m_prints;
    std::array<uint8_t, 2352> m_sector{};
    size_t m_filled = 0;
};

// Whether a read of a track (its sector prints; the first read is the reference) began off where it was
// asked to start, as a jittering drive's does: it differs from its first sector on, over a run too long
// for a weak spot.
bool BeganOff(const std::vector<std::vector<uint64_t>> &prints);
// The sectors where a read of the track differed from the first (firstSector: where the track begins).
QList<int32_t> DifferingSectors(const std::vector<std::vector<uint64_t>> &prints, int32_t firstSector);

class TCDRipThread final {
public:
    // trackIndex: the track's entry in the table of contents, counted from 1; 0 reads the audio hidden before
    // the first track.
    TCDRipThread(int trackIndex, const QString &fileBase);
    ~TCDRipThread();
    TCDRipThread(const TCDRipThread &) = delete;
    TCDRipThread &operator=(const TCDRipThread &) = delete;

    void Resume();
    bool Finished() const { return m_finished; }
    // The WAV file of the track, once set up.
    QString FilePath() const;

    const int TrackIndex;
    const QString FileBase;
    TCdHandle CDHandle = 0;
    QObject *NotifyWindow = nullptr;
    TCommonOptions Options; // output folder, rip time, normalisation; read by the thread, set before Resume
    std::atomic<uint8_t> StopRequested{0};

    // After the read (read on the user-interface thread once the end notice arrived): the checks of the
    // audio written, the test read's CRC when Test & copy was on, and the reads that failed.
    TAudioCheck Check;
    bool Tested = false;
    uint32_t TestCrc = 0;
    // When the test and the copy differed: the copy's first CRC, and the CRCs of the reads after it (the
    // file holds the last).
    uint32_t FirstCopyCrc = 0;
    QList<uint32_t> Rereads;
    // Test & copy: the sectors (counted from the disc's first track) whose reads differed, and the track's
    // first sector.
    QList<int32_t> Suspicious;
    // Test & copy: the track's first sector when a read of it began off (jitter); -1 when none did.
    int32_t JitterFrom = -1;
    // The copy's sectors the drive flagged with C2 error pointers (each read again until a read came without
    // the flag), and those still flagged when the re-reads were spent.
    QList<int32_t> C2Flagged;
    QList<int32_t> C2Left;
    // The sectors (counted as the table counts them) that could not be read: silence in the file.
    QList<int32_t> Unreadable;
    // Why the last read that failed did (the drive's or image's reason).
    QString ReadError() const { return m_readError; }
    int32_t FirstSector = 0;
    int ReadErrors = 0;

    // Scales every 16-bit sample after the 44-byte header of a WAV file by percent / 100, rounding ties to
    // even, through a temporary ".nor" file that then replaces it. Progress goes to the receiver; false when
    // a file could not be opened or created (the WAV is then left as it was).
    static bool Normalize(const QString &wavPath, int percent, QObject *receiver);
    // Undoes the CD pre-emphasis of the 16-bit stereo samples of a WAV file the same way (TDeemphasis).
    static bool Deemphasize(const QString &wavPath);

private:
    struct ReadPlan;
    struct FileWrite;
    void Execute();
    // The track's place on the disc; false (the window told) when the table of contents cannot be read.
    bool plan(ReadPlan &plan);
    void planTrack(ReadPlan &plan, const TToc &toc, int32_t discEnd);
    // One pass over the track: its audio goes to the check and, when out is given, to the file. False on a
    // read or write failure (or a stop).
    // prints, when given, gets a fingerprint of each of the track's sectors as read.
    bool readPass(ReadPlan &plan, FileWrite *out, TAudioCheck &check, int passes, int passIndex,
                  std::vector<uint64_t> *prints = nullptr);
    // A block that failed, read again a sector at a time into `into`: what cannot be read is silence, its
    // sector listed. False when stopped.
    // Reads again, one by one, the sectors of a block the drive flagged with C2 error pointers, until a read
    // comes without the flag (bounded), into the block's audio `data`.
    void mendFlaggedSectors(uint32_t first, const std::vector<bool> &c2, uint8_t *data, bool copy);
    bool readSectorsOneByOne(uint32_t first, uint32_t count, std::vector<uint8_t> &into,
                             QList<int32_t> &unreadable);
    // The working file becomes the track's WAV (header, sync, normalising), or goes; the end is posted.
    void settle(const QString &working, FileWrite &out, bool failed);
    void writeFailure(const QString &reason);

    std::thread m_thread;
    std::atomic<bool> m_finished{false};
    QString m_path;
    QString m_readError;        // the drive's (or image's) reason for the last read that failed
    bool m_preemphasis = false; // the table flags the track as pre-emphasised
};
