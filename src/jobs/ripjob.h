// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"
#include "encodestep.h"
#include "fileremover.h"
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

// The WMA program tells nothing of its progress: while it encodes, the elapsed time, the estimate and the
// gauge come from its output's growth, once a second. `show` hears them (Percent -1 while the program is
// not running).
class TWmaProgress final : public QObject {
public:
    TWmaProgress(TWMAEncodeProcess &wma, const TOptionsSetting &settings,
                 std::function<void(const TProcessInfo &)> show);
    // An encoding of `source` starts: the gauge at 0, the clock running.
    void Start(const QString &source);
    void Stop();
    // One tick (public for tests, which call it with a clock of their own).
    void Tick(double elapsedSeconds);

    int64_t SourceSize = 0; // of the WAV being encoded

private:
    TWMAEncodeProcess &m_wma;
    const TOptionsSetting &m_settings;
    std::function<void(const TProcessInfo &)> m_show;
    std::chrono::steady_clock::time_point m_start;
    QTimer m_timer;
    int m_gauge = 0;
};

// "Extracting(01/04): base": a job window's caption for the item `number` of `total`.
QString StageCaption(const char *word, int number, int total, const QString &item);

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

// One conversion job over a list of files, as the window's menu commands run them (JobKind): MP3 to WAV,
// the recorder's WAV to MP3, or WAV to another output format. Each file is made ready (resampled when it
// needs it), then encoded, one step at a time, moving on when the step says it ended. Extractions are
// TExtractJob's. User-interface thread only.
class TRipJob final : public QObject, public TJobRun {
    Q_OBJECT
public:
    // settings: a copy made with JobSettings.
    TRipJob(JobKind kind, const QStringList &files, const TOptionsSetting &settings,
            TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma,
            QObject *parent = nullptr);
    ~TRipJob() override;

    // Starts the first step.
    void Start() override;
    // The Stop button: ends every step and finishes with the abort result.
    void Stop() override;
    // Runs once; a stopped or closed job leaves its intermediate files as they are.
    void CleanUp() override;

    // Items whose encoding failed.
    const QSet<int> &FailedItems() const { return m_failedItems; }
    bool Finished() const override { return m_finished; }

    // For a job that is one part of a larger one (set before Start): items are numbered from NumberBase + 1
    // of NumberTotal in captions; TempTag tells its temporary files from those of the other parts.
    int NumberBase = 0;
    int NumberTotal = 0;
    QString TempTag;

    TEncodeStep Encoding; // each file's encoding
    TWmaProgress WmaProgress;

private:
    void progress(const TProcessInfo &info);
    // The steps of a file: made ready (resampled when it needs it), then encoded.
    void prepareFile(int item);
    void encodeFile(int item);
    void resampled(bool ok);
    void itemEncoded(const TEncodeEnd &end);
    void showEncoderEnd(const TEncodeEnd &end);
    // An item's step that ended before it could start (from the event loop).
    void endStepLater(bool ok);
    void stageCaption(const char *stage, int number, const QString &item);
    QString tempName(const char *stem) const;
    void finish(int result);
    QString itemName(int item, const QString &extension) const; // OutputFolder\name.ext
    QString outputFolder() const;

    TRipJobPresenter &m_presenter;
    TTrackSequence m_sequence;
    TResampleStep m_resample;
    QString m_source;      // what the item's encoding reads (the file, or its resampled copy)
    int32_t m_lastEnd = 0; // the encoder whose end was the last one heard
    QStringList Files;
    bool m_filesFreed = false;
    JobKind m_kind;
    const TOptionsSetting m_settings;
    QSet<int> m_failedItems;
    bool Busy = false;
    bool m_finished = false;
};
