// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ripjob.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

// The loudness of a file as ReplayGain 2.0 counts it (EBU R 128 integrated loudness through libebur128) and
// its sample peak (1.0 full scale).
struct TLoudness {
    double Lufs = 0;
    double Peak = 0;
};

// ReplayGain 2.0's gain for a loudness: what brings it to -18 LUFS, in dB.
double ReplayGainOf(double lufs);
// Opus's R128 gain (RFC 7845): what brings it to -23 LUFS, in 1/256 dB, held to 16 bits.
int R128GainOf(double lufs);

// Measures the files as one album (WAV, FLAC, Ogg Vorbis, Opus and MP3, decoded as a player would) and
// writes each its track and album values: REPLAYGAIN_TRACK_GAIN/PEAK and REPLAYGAIN_ALBUM_GAIN/PEAK ("-6.52
// dB", "0.988312"), for Opus files R128_TRACK_GAIN and R128_ALBUM_GAIN instead. Files of other kinds (WMA)
// are left out. Returns the failures, each "PATH: reason" (that file is left as it was); stops between
// files when `cancel` is set. With `only`, the whole album is measured but only those files are written (a
// rerun that made some tracks of an album whose other files stay as they are). Runs on any thread.
QStringList WriteReplayGain(const QStringList &album, const std::atomic<bool> *cancel = nullptr,
                            const QStringList *only = nullptr);

// Writes ReplayGain values into albums of files (WriteReplayGain for each) on a worker thread, and shows
// their failures on a job presenter; at the end calls `then`, or without one tells the presenter the job is
// over. The step after a rip in the window, and the last step of a conversion.
class TReplayGainJob final : public QObject, public TJobRun {
    Q_OBJECT
public:
    TReplayGainJob(QList<QStringList> albums, TRipJobPresenter &presenter, std::function<void()> then = {},
                   QObject *parent = nullptr);
    ~TReplayGainJob() override;
    void Start() override;
    void Stop() override;
    void CleanUp() override;
    bool Finished() const override { return m_finished; }

private:
    const QList<QStringList> m_albums;
    TRipJobPresenter &m_presenter;
    const std::function<void()> m_then;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    bool m_finished = false;
};

// Whether a job of the format writes ReplayGain values: --replaygain (given true) or --no-replaygain (false)
// decide; else the setting does, for FLAC, Ogg Vorbis and Opus.
bool WantsReplayGain(bool setting, int32_t format, std::optional<bool> given);
