// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "extractjob.h"
#include "fileremover.h"
#include "ripjob.h"
#include "ripreport.h"

#include <QObject>
#include <QSet>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class TMp3EncodeProcess;
class TWMAEncodeProcess;

// How many encoders a job runs at once: the setting, or the number of processor cores when it is 0.
int EncodersAtOnce(const TOptionsSetting &settings);

// A job with several encoders at once. A conversion runs its files in up to `lanes` jobs of one file each,
// the next file starting as one ends. An extraction runs one job that reads the tracks to WAV one after the
// other (one read at a time on the drive, shown in the window as before); each track read goes to an
// encoding job of its own, up to `lanes` of them at once, while the next track is read. Every part is a
// TRipJob or TExtractJob doing what the sequential job does for its files (resampling, tags, WAV removal,
// messages numbered as in the whole list); each lane has encoder processes of its own. The rip's
// verification, log and cue sheet come from the reading job, shown when every encoding has ended.
class TParallelJob final : public QObject, public TJobRun {
    Q_OBJECT
public:
    // Conversions.
    TParallelJob(JobKind kind, const QStringList &files, const TOptionsSetting &settings,
                 TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, int lanes,
                 QObject *parent = nullptr);
    // Extractions.
    TParallelJob(const TReadSource &source, const QStringList &files, const TOptionsSetting &settings,
                 TExtractView &view, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, int lanes,
                 QObject *parent = nullptr);
    ~TParallelJob() override;

    void Start() override;
    void Stop() override;
    void CleanUp() override;
    bool Finished() const override { return m_finished; }

private:
    struct Lane;
    template <typename View> class Part;
    class ConversionPart;
    class ExtractionPart;

    void makeLanes(int lanes);
    bool extracting() const { return m_view != nullptr; }
    void trackRead(int item, bool ok);
    void startNext();
    void startPart(Lane &lane, int item);
    void partFinished(Lane *lane, int result);
    void readerFinished(int result);
    void finishIfDone();
    QString wavOf(int item) const;

    const JobKind m_kind;
    const TOptionsSetting m_settings;
    const QStringList m_files;
    TRipOutcomeView &m_outcome;              // where the job's outcome goes
    TRipJobPresenter *m_presenter = nullptr; // a conversion's window
    TExtractView *m_view = nullptr;          // an extraction's
    TMp3EncodeProcess &m_mp3;
    TWMAEncodeProcess &m_wma;
    TReadSource m_source;
    TExtractWays m_ways; // the read path's
    std::unique_ptr<ExtractionPart> m_readerView;
    std::unique_ptr<TExtractJob> m_reader;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::deque<int> m_queue; // items waiting for an encoder
    QSet<int> m_failed;      // items whose encoding failed
    bool m_readerDone = true;
    int m_readerResult = mrCancel;
    std::optional<TRipSession> m_verdicts;
    bool m_finished = false;
    bool m_stopping = false;
    TFileRemover m_remover; // last: it waits for a removal still running before the rest goes
};

// The job of a conversion for a window or the command-line tool: a TParallelJob when the settings allow
// more than one encoder and the job has something to encode in parallel, else the sequential TRipJob.
std::unique_ptr<TJobRun> MakeRipJob(JobKind kind, const QStringList &files, const TOptionsSetting &settings,
                                    TRipJobPresenter &presenter, TMp3EncodeProcess &mp3,
                                    TWMAEncodeProcess &wma);

// The same for an extraction through either read path: a TParallelJob, or the sequential TExtractJob.
std::unique_ptr<TJobRun> MakeExtractJob(const TReadSource &source, const QStringList &files,
                                        const TOptionsSetting &settings, TExtractView &view,
                                        TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma);
