// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdin.h"
#include "componentreadstep.h"
#include "encodestep.h"
#include "ripjob.h"
#include "ripreport.h"
#include "shell/settings.h"
#include "tracksequence.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
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

// Extracts the tracks of a job list through the drive component (TComponentReadStep), then encodes each WAV
// as the output format says (TEncodeStep), one step at a time, moving on when the step says it ended. A
// component error during a read is shown with the track it happened on, and the job goes on with the next
// track.
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

    int64_t WmaSourceSize = 0;

    TEncodeStep Encoding; // each WAV read to the output format

private:
    // The steps of a track: read, then (unless the job makes WAVs) encode.
    void readItem(int item);
    void encodeItem(int item);
    void itemRead(const TReadEnd &end);
    void encoded(const TEncodeEnd &end);
    void showGauge(int percent);
    void finish(int result);
    // Every track is done: verification, log and cue sheet when asked for, then the end.
    void finishWhole();
    void recordTrack(int item);
    void wmaTick();
    QString base(int item) const;
    int trackNumber(int item) const;
    QString wavOf(int item) const;

    TCDIn &m_cdIn;
    const TOptionsSetting m_settings;
    QStringList Files;
    bool m_listFreed = false;
    TCDRipJobPresenter &m_presenter;
    TWMAEncodeProcess &m_wma;
    TTrackSequence m_sequence;
    TComponentReadStep m_read;
    QTimer Timer1;
    std::chrono::steady_clock::time_point WmaStartTime;
    int m_gauge = 0;
    bool m_finished = false;
    std::unique_ptr<TRipReporter> m_report;
};
