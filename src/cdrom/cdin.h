// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/auinput.h"
#include "cdaccess.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class TWindowCut;

// A disc position: a track (1-based) and an offset from its start in minutes, seconds and frames.
struct TCDPosition {
    int32_t Track = 1;
    uint8_t Min = 0;
    uint8_t Sec = 0;
    uint8_t Frame = 0;
};

struct TCDTrackInfo {
    uint8_t Min = 0;
    uint8_t Sec = 0;
    uint8_t Frame = 0;
    bool DataTrack = false;
};

// An audio source reading CD audio through the CD ripping calls: 16-bit stereo 44100 Hz PCM between two disc
// positions. Also answers the main window's questions about the drives and the disc. Drive questions come
// from the user-interface thread; during a read, GetData comes from the sink's worker thread.
class TCDIn final : public TAuInput {
    Q_OBJECT
public:
    explicit TCDIn(QObject *parent = nullptr);
    ~TCDIn() override;

    bool EnableJitterCorrection = false;
    bool LockTray = false;
    int32_t MultiReadCount = 0;
    bool Paranoid = false;
    int32_t ParanoiaMode = 0;
    int32_t ReadSectors = 0;
    int32_t OverlapSectors = 0;
    int32_t CompareSectors = 0;
    int32_t JitterErrors = 0;
    // After a read: its sectors that could not be read (silence in its audio), and why the first could not.
    QList<int32_t> Unreadable;
    QString UnreadableReason;
    int32_t UseCount = 0;
    // Samples the read is shifted by (the drive's read offset correction): -5880 to 5880.
    int32_t ReadOffset = 0;
    // Sees every block of audio the read hands out, on the reading thread (set while idle).
    std::function<void(const uint8_t *data, size_t bytes)> OnAudio;

    int DrivesCount();
    int CurrentDrive() const { return m_currentDrive; }
    // Accepted only for an existing drive; otherwise the drive stays.
    void SetCurrentDrive(int index);
    QString DriveName();
    bool MediaPresent();
    // The number of tracks, or -1 when the table of contents cannot be read.
    int TracksCount();
    // Raises "Track out of range." for a track outside 1 to TracksCount.
    TCDTrackInfo TrackInfo(int track);

    // The disc's table in the CD access calls' form (MSF addresses, control bits): false without a disc.
    bool Toc(TToc &toc);
    // The sectors of a track's pregap when the disc marks one; 0 otherwise.
    int32_t PregapSectors(int track);

    int32_t StartTrack() const { return m_startTrack; }
    int32_t EndTrack() const { return m_endTrack; }
    void SetStartTrack(int32_t track);
    // The read ends at the end of this track (the start of the next).
    void SetEndTrack(int32_t track);
    TCDPosition StartPos() const { return m_startPos; }
    TCDPosition EndPos() const { return m_endPos; }
    void SetStartPos(const TCDPosition &position);
    // A track of 100 means the end of the disc.
    void SetEndPos(const TCDPosition &position);
    // While reading: the bytes of the read; otherwise (end - start + 1) sectors of bytes from the table.
    int64_t CurrentSize();
    int64_t Samples() { return CurrentSize() / 4; }
    int TotalSeconds();
    int32_t RipSize() const { return m_ripSize; }

    int GetBitsPerSample() override { return 16; }
    int GetChannels() override { return 2; }
    int GetSampleRate() override { return 44100; }
    void Reset() override;

protected:
    void DoInit() override;
    void DoFlush() override;
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override;

private:
    // Brackets every drive operation: the active drive is chosen when the count goes up from 0.
    void activate();
    void deactivate();
    void requireIdle() const;
    int32_t sectorOf(const TCDPosition &position);

    int m_currentDrive = 0;
    int32_t m_startTrack = 1;
    int32_t m_endTrack = 1;
    TCDPosition m_startPos;
    TCDPosition m_endPos;
    // "Read error at sector N of DRIVE".
    QString readErrorAt(int32_t sector) const;
    bool m_reading = false;
    int32_t m_ripSize = 0;
    std::vector<uint8_t> m_buffer;
    uint32_t m_bufferLength = 0;
    uint32_t m_readOffset = 0;
    std::unique_ptr<TWindowCut> m_window;
    int64_t m_leadSilence = 0;
    int64_t m_windowSectors = 0; // the sectors the read asks the drive for
    int64_t m_tailSilence = 0;
    bool m_sectorsLeft = false;
};
