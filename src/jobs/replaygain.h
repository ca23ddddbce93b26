// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ripjob.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

// The loudness of a file as ReplayGain 2.0 counts it (EBU R 128 integrated loudness through libebur128) and
// its sample peak (1.0 full scale).
struct TLoudness {
    double Lufs = 0;
    double Peak = 0;
};

// ReplayGain 2.0's gain for a loudness: what brings it to -18 LUFS, in dB.
double ReplayGainOf(double lufs);
// The R128 gain of RFC 7845: what brings it to -23 LUFS, in 1/256 dB, held to 16 bits.
int R128GainOf(double lufs);

struct TLoudnessMeter;

// A file's loudness and what its album's measure needs of it (the loudness of its blocks).
struct TFileLoudness {
    TLoudness Track;
    std::shared_ptr<TLoudnessMeter> Blocks; // none: the file is silent, it has no loudness
};

// Whether the files of that name are measured (the format table's Loudness; not WMA, MP4).
bool MeasuresLoudness(const QString &path);
// Measures a file, decoded as a player would (its format from its content: it may be a working file).
// Throws EAuException "NAMED: reason"; stops early when `cancel` is set.
TFileLoudness MeasureLoudness(const QString &file, const QString &named,
                              const std::atomic<bool> *cancel = nullptr);
// The loudness of files together, as one album (the loudest peak); false when none has a loudness.
bool AlbumLoudness(const std::vector<const TFileLoudness *> &files, TLoudness *album);
// The values of a file's track loudness, and of its album's: REPLAYGAIN_TRACK_GAIN/PEAK ("-6.52 dB",
// "0.988312") and REPLAYGAIN_ALBUM_GAIN/PEAK, for a format with R128 gains (by the name) R128_TRACK_GAIN and
// R128_ALBUM_GAIN instead.
QList<QPair<QString, QString>> TrackGainFields(const QString &named, const TLoudness &track);
QList<QPair<QString, QString>> AlbumGainFields(const QString &named, const TLoudness &album);
// Whether the file has a track gain but no album gain: its album's measure was never written to it.
bool AlbumGainMissing(const QString &path);
// Whether the file holds an album gain (REPLAYGAIN_ALBUM_GAIN, or R128_ALBUM_GAIN).
bool HasAlbumGain(const QString &path);

// Measures the files as one album (each decoded as a player would) and
// writes each its track and album values: REPLAYGAIN_TRACK_GAIN/PEAK and REPLAYGAIN_ALBUM_GAIN/PEAK ("-6.52
// dB", "0.988312"), or the R128 gains where the format carries those. Files of other kinds (WMA)
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
    // Any work of writing loudness values: it returns the failures and stops early when told.
    using Work = std::function<QStringList(const std::atomic<bool> &stop)>;
    TReplayGainJob(Work work, TRipJobPresenter &presenter, std::function<void()> then = {},
                   QObject *parent = nullptr);
    ~TReplayGainJob() override;
    void Start() override;
    void Stop() override;
    void CleanUp() override;
    bool Finished() const override { return m_finished; }

private:
    const Work m_work;
    TRipJobPresenter &m_presenter;
    const std::function<void()> m_then;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    bool m_finished = false;
};

// Whether a job of the format writes ReplayGain values: --replaygain (given true) or --no-replaygain (false)
// decide; else the setting does, for the formats whose row says GainByDefault.
bool WantsReplayGain(bool setting, int32_t format, std::optional<bool> given);
