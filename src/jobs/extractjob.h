// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"
#include "encodestep.h"
#include "fileremover.h"
#include "readstep.h"
#include "ripjob.h"
#include "ripreport.h"
#include "shell/settings.h"
#include "tracksequence.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>

class TCDIn;
class TMp3EncodeProcess;
class TWMAEncodeProcess;

// The stages of an extraction's tracks, and of its end.
enum class TExtractStage { Reading, Normalizing, Encoding, Verifying, WritingLog };

// What an extraction shows while it runs, stage by stage; each window and the terminal word it their own
// way. Called on the user-interface thread.
class TExtractView : public TRipOutcomeView {
public:
    // Before the first track: how many tracks, and the format they become.
    virtual void Begin(int tracks, int32_t format) = 0;
    // A track enters a stage: its number among `total` (from 1) and its file base. Verifying and WritingLog
    // come once, after the last track, with number 0 and no base.
    virtual void Stage(TExtractStage stage, int number, int total, const QString &base) = 0;
    // How far the stage is: Percent 0 to 100 (-1: not known), Elapsed and Estimated when known.
    virtual void Progress(const TProcessInfo &info) = 0;
    // The read path failed (the library window makes the next start use the other one).
    virtual void ReadPathFailed() {}
};

// An extraction shown on a file job's presenter, in the words of the job window: "Extracting(01/04): base"
// in the caption, the stage in the group box, the times and the gauge.
class TExtractOnJobPresenter final : public TExtractView {
public:
    explicit TExtractOnJobPresenter(TRipJobPresenter &presenter) : m_presenter(presenter) {}

    void Begin(int tracks, int32_t format) override;
    void Stage(TExtractStage stage, int number, int total, const QString &base) override;
    void Progress(const TProcessInfo &info) override;
    void ReadPathFailed() override { m_presenter.ReadPathFailed(); }
    void ShowError(const QString &text) override { m_presenter.ShowError(text); }
    void ShowWarning(const QString &text) override { m_presenter.ShowWarning(text); }
    void FileMade(const QString &path) override { m_presenter.FileMade(path); }
    void FileKept(const QString &path) override { m_presenter.FileKept(path); }
    void ShowVerification(const TRipSession &session) override { m_presenter.ShowVerification(session); }
    void Finish(int result) override { m_presenter.Finish(result); }
    void SetEncoding(int slot, const QString &caption, int percent) override
    {
        m_presenter.SetEncoding(slot, caption, percent);
    }
    void EndEncoding(int slot) override { m_presenter.EndEncoding(slot); }

private:
    TRipJobPresenter &m_presenter;
};

// "Extracting(", "Encoding(", ... : the caption's word for a stage.
const char *StageCaptionWord(TExtractStage stage);

// Where an extraction reads: through the CD access calls (Handle) or the drive component (Drive). Neither:
// a job that only encodes what another read (a part of a job with several encoders).
struct TReadSource {
    TCdHandle Handle = 0;
    TCDIn *Drive = nullptr;
};

// Extracts the tracks of a job list: each track read by the read step of its path (TTrackReadStep,
// TComponentReadStep), then encoded to the output format (TEncodeStep), one step at a time, moving on
// when the step says it ended; then verification, the rip log and the cue sheet when asked for. A track
// that could not be read is told with its number, and the job goes on with the next. The WAVs the user did
// not ask to keep go as the read path's ways say, and with a stop. User-interface thread only.
class TExtractJob final : public QObject, public TJobRun {
    Q_OBJECT
public:
    // settings: a copy made with JobSettings.
    TExtractJob(const TReadSource &source, const QStringList &files, const TOptionsSetting &settings,
                TExtractView &view, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma,
                QObject *parent = nullptr);
    ~TExtractJob() override;

    void Start() override;
    // The Stop button: ends every step and finishes with the abort result.
    void Stop() override;
    void CleanUp() override;
    bool Finished() const override { return m_finished; }

    // Items whose encoding failed (their WAVs are all the user has of them).
    const QSet<int> &FailedItems() const { return m_failedItems; }

    // For a job that is one part of a larger one (set before Start): items are numbered from NumberBase + 1
    // of NumberTotal; SkipRead encodes the WAV each track already has; ReportFormat names the files of the
    // rip log after another format than its own; OnTrackRead hears of each track read (ok: it was read).
    int NumberBase = 0;
    int NumberTotal = 0;
    bool SkipRead = false;
    int32_t ReportFormat = -1;
    std::function<void(int item, bool ok)> OnTrackRead;
    TExtractWays Ways; // the read path's; a part without a read step is given its whole's

    TEncodeStep Encoding;

private:
    void readTrack(int item);
    void trackRead(const TReadEnd &end);
    void encodeTrack(int item);
    void encoded(const TEncodeEnd &end);
    void progress(const TProcessInfo &info);
    void stage(TExtractStage stage, int item);
    void recordTrack(int item, const TReadEnd &end);
    void finishWhole();
    void report();
    void finish(int result);
    int total() const;
    QString wavOf(int item) const;

    TExtractView &m_view;
    const TOptionsSetting m_settings;
    QStringList m_files;
    bool m_filesFreed = false;
    std::unique_ptr<TTrackReader> m_read;
    TTrackSequence m_sequence;
    TWmaProgress m_wmaProgress;
    std::unique_ptr<TRipReporter> m_report;
    QSet<int> m_failedItems;
    bool m_busy = false; // progress was heard since the last encoding ended
    int32_t m_lastEnd = 0;
    bool m_finished = false;
    QStringList m_toRemove;
    TFileRemover m_remover; // last: it waits for a removal still running before the rest goes
};
