// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"
#include "encodestep.h"
#include "fileremover.h"
#include "readstep.h"
#include "resamplestep.h"
#include "ripreport.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "tracksequence.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class TRipReporter;
struct TRipSession;
class TMp3EncodeProcess;
class TWMAEncodeProcess;
class TUserPrompt;
struct TProcessInfo;

// What a job shows while it runs. The job window presents it in its controls; the command-line tool on the
// terminal. Called on the user-interface thread.
class TRipJobPresenter : public TRipOutcomeView {
public:
    virtual void SetCaption(const QString &text) = 0;
    virtual void SetStage(const QString &text) = 0; // the group box
    virtual void SetElapsed(const QString &text) = 0;
    virtual void SetEstimated(const QString &text) = 0;
    virtual void SetInitializing(const QString &text, bool visible) = 0;
    virtual void SetGauge(int percent, bool showText) = 0;
    // A track could not be read through the library: the window makes the next start use the other read
    // path (the setting IsCDHandleZero flips). Others ignore it.
    virtual void ReadPathFailed() {}
};

// What a job works with, copied when it is created: the settings it reads, with OutputFolder set to the
// folder it writes into. Jobs and their workers never read the global settings.
TOptionsSetting JobSettings(const TOptionsSetting &settings, const QString &outputFolder);

// The estimated whole time of a WMA encoding: 2 s for sources under 2,000,000 bytes; otherwise from how far
// the output has grown against the size the profile (a settings value; 8 when out of range) leads to
// expect. -1 while nothing can be said (no output yet). Not below elapsed + 1.
double WmaEstimate(double elapsed, int64_t sourceSize, int64_t currentOutputSize, int32_t wmaBitRate);

constexpr int mrCancel = 2;
constexpr int mrAbort = 3;

// What a window or the command-line tool holds of a running job.
class TJobRun {
public:
    virtual ~TJobRun() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual void CleanUp() = 0;
    virtual bool Finished() const = 0;
};

// One job over a list of files: extracting CD tracks and encoding them, MP3 to WAV, the recorder's WAV to
// MP3, or WAV to any other output format (JobKind). Each item runs
// its steps in turn (a track: read, then encode; a file: resample when it needs it, then encode), one step
// at a time, moving on when the step says it ended. User-interface thread only.
class TRipJob final : public QObject, public TJobRun {
    Q_OBJECT
public:
    // settings: a copy made with JobSettings.
    TRipJob(JobKind kind, TCdHandle cdHandle, const QStringList &files, const TOptionsSetting &settings,
            TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma,
            QObject *parent = nullptr);
    ~TRipJob() override;

    // Starts the first step.
    void Start() override;
    // The Stop button: ends every step and finishes with the abort result.
    void Stop() override;
    // Runs once; a stopped or closed job leaves its intermediate files as they are.
    void CleanUp() override;

    const TOptionsSetting &Settings() const { return m_settings; }
    // Items whose encoding failed (their WAVs are all the user has of them).
    const QSet<int> &FailedItems() const { return m_failedItems; }
    bool Finished() const override { return m_finished; }

    // The WMA estimate, once a second while a WMA encoding runs (public for tests, which call it with a clock
    // of their own).
    void WmaTimerTick(double elapsedSeconds);

    // Size of the WAV file being encoded to WMA, for the estimate.
    int64_t WmaSourceSize = 0;

    // For a job that is one part of a larger one (set before Start): items are numbered from NumberBase + 1
    // of NumberTotal in captions; an extraction with SkipRead encodes the WAV its one track already has;
    // TempTag tells its temporary files from those of the other parts; ReportFormat names the files of the
    // rip log after another format than its own; OnTrackRead hears of each track read (ok: it was read);
    // TagMp3Always tags extracted MP3s whatever the ID3 setting says (as the drive component's job does).
    int NumberBase = 0;
    int NumberTotal = 0;
    bool SkipRead = false;
    QString TempTag;
    int32_t ReportFormat = -1;
    std::function<void(int item, bool ok)> OnTrackRead;
    bool TagMp3Always = false;

    TEncodeStep Encoding; // each file's encoding

private:
    void progress(const TProcessInfo &info);
    // The steps of an item. A track: read, then (unless the job makes WAVs) encode; a file: made ready
    // (resampled when it needs it), then encoded.
    void readTrack(int item);
    void encodeTrack(int item);
    void prepareFile(int item);
    void encodeFile(int item);
    // The ends of the steps.
    void trackRead(const TReadEnd &end);
    void showReadFailure(const TReadEnd &end, int item);
    void resampled(bool ok);
    void itemEncoded(const TEncodeEnd &end);
    void showEncoderEnd(const TEncodeEnd &end);
    // An item's step that ended before it could start (from the event loop).
    void endStepLater(bool ok);
    // The encoding of a file to the job's format (lame decodes with Mp3ToWav); with an extracted item, its
    // tags go in when tags are on.
    void startEncoding(const QString &source, const QString &destination, int item = -1);
    void stageCaption(const char *stage, int number, const QString &item);
    QString tempName(const char *stem) const;
    void finish(int result);
    // The job's files are all made: verification, log and cue sheet when asked for, then the end.
    void finishWhole();
    void report();
    // The format this job makes (the output format when extracting, else the conversion's).
    int32_t targetFormat() const;
    // After a track's read: what the read gave, for the report.
    void recordTrack(int item, bool read, const QString &problem);
    void wmaTick();

    int itemNumber(int item) const;   // the two-digit track number of a mode 1 entry
    QString itemBase(int item) const; // the file base of a mode 1 entry
    QString itemName(int item, const QString &extension) const; // OutputFolder\name.ext of other modes
    QString outputFolder() const;
    QString wavOf(int item) const; // mode 1: the WAV of the track

    TRipJobPresenter &m_presenter;
    TWMAEncodeProcess &m_wma;
    TTrackSequence m_sequence;
    TTrackReadStep m_read;
    TResampleStep m_resample;
    QString m_source;      // what the item's encoding reads (the file, or its resampled copy)
    int32_t m_lastEnd = 0; // the encoder whose end was the last one heard
    QStringList Files;
    bool m_filesFreed = false;
    JobKind m_kind;
    const TOptionsSetting m_settings;
    QSet<int> m_failedItems;                // items whose encoding failed: their WAVs stay
    std::unique_ptr<TRipReporter> m_report; // extractions: what each track gave
    TCdHandle CDHandle;
    bool Busy = false;
    std::chrono::steady_clock::time_point WmaStartTime;
    QTimer Timer1;
    int m_gauge = 0;
    bool m_finished = false;
    QStringList m_toRemove; // the WAVs that go once the job is done
    TFileRemover m_remover; // last: it waits for a removal still running before the rest goes
};
