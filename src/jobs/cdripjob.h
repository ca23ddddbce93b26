// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "accuraterip.h"
#include "audio/nullout.h"
#include "cdrom/cdin.h"
#include "encodestep.h"
#include "ripjob.h"
#include "ripreport.h"
#include "shell/settings.h"
#include "wavein.h"
#include "waveout.h"

#include <QObject>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class TMp3EncodeProcess;
class TRipReporter;
struct TRipSession;
class TWMAEncodeProcess;
struct TProcessInfo;

// What the extraction through the drive component shows. Called on the user-interface thread.
class TCDRipJobPresenter : public TRipOutcomeView {
public:
    virtual void SetCurrentTrack(const QString &text) = 0;
    virtual void SetOutputFormat(const QString &text) = 0;
    virtual void SetSelectedTracks(int count) = 0;
    virtual void SetCompleted(int count) = 0;
    virtual void SetProgressHint(const QString &text) = 0; // also the gauge's hint
    virtual void SetGauge(int percent) = 0;
};

// Extracts the tracks of a job list through the drive component (TCDIn → TWaveOut), then encodes each WAV
// as the output format says, one step at a time, moving on when a notice arrives. A component error during a
// read is shown with the track it happened on, and the job goes on with the next track.
// User-interface thread only.
class TCDRipJob final : public QObject, public TJobRun {
    Q_OBJECT
public:
    // settings: a copy made with JobSettings.
    TCDRipJob(TCDIn &cdIn, const QStringList &files, const TOptionsSetting &settings,
              TCDRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma,
              QObject *parent = nullptr);
    ~TCDRipJob() override;

    void Start() override;
    void Stop() override;
    void Close();
    void CleanUp() override { Close(); }
    bool Finished() const override { return m_finished; }

    // For a job whose reads feed encoders elsewhere (it then writes WAVs only): told of every track read,
    // with whether the read succeeded. ReportFormat, when set, is the format the rip log and cue sheet name.
    std::function<void(int item, bool ok)> OnTrackRead;
    int ReportFormat = -1;

    int Completed = 0;
    int64_t WmaSourceSize = 0;
    TAuOutput *CurrentOutput = nullptr;

    TEncodeStep Encoding; // each WAV read to the output format
    TWaveOut WaveOut1;
    TNullOut TestOut1; // the test read of Test & copy

protected:
    bool event(QEvent *event) override;

private:
    void processInfo(const TProcessInfo &info);
    void readItem(int item);
    void encodeItem(int item);
    void encoded(const TEncodeEnd &end);
    void nextOrFinish();
    void finish(int result);
    // Every track is done: verification, log and cue sheet when asked for, then the end.
    void finishWhole();
    // Starts the read of an item into its WAV (after its test read, when there is one).
    void copyItem(int item);
    void recordTrack(int item);
    void wmaTick();
    // The copy of a track ended: read again (Test & copy) or settled.
    void copyDone(TAuOutput *sink);
    void settleRead(const QString &working, bool complete);
    void waitForSettling();
    QString base(int item) const;
    int trackNumber(int item) const;
    QString wavOf(int item) const;

    TCDIn &m_cdIn;
    const TOptionsSetting m_settings;
    QStringList Files;
    bool m_listFreed = false;
    TCDRipJobPresenter &m_presenter;
    TWMAEncodeProcess &m_wma;
    QTimer Timer1;
    std::chrono::steady_clock::time_point WmaStartTime;
    int m_gauge = 0;
    bool m_readFailed = false;
    bool m_finished = false;
    QString m_wavTarget; // the WAV being read (under its working name until it is complete)
    std::unique_ptr<TRipReporter> m_report;
    TAudioCheck m_check; // of the read in progress; fed on the reading thread, read once it is done
    bool m_tested = false;
    uint32_t m_testCrc = 0;
    QList<uint32_t> m_reads; // Test & copy: the CRCs of the test and of each copy that agreed with none
    bool m_firstTrack = false;
    bool m_lastTrack = false;
    int64_t m_frames = 0;
    std::atomic<bool> m_stopSettling{false};
    std::unique_ptr<QThread> m_settling; // normalises and places the WAV just read
};
