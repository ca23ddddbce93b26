#pragma once

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
// other (one read at a time on the drive, its caption and stages in the window as before); each track read
// goes to an encoding job of its own, up to `lanes` of them at once, while the next track is read. Every
// part is a TRipJob doing what the sequential job does for its files (resampling, tags, WAV removal,
// messages numbered as in the whole list); each lane has encoder processes of its own. The rip's
// verification, log and cue sheet come from the reading job, shown when every encoding has ended.
class TParallelJob final : public QObject, public TJobRun {
    Q_OBJECT
public:
    TParallelJob(JobKind kind, HCDROM cdHandle, const QStringList &files, const TOptionsSetting &settings,
                 TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, int lanes,
                 QObject *parent = nullptr);
    ~TParallelJob() override;

    void Start() override;
    void Stop() override;
    void CleanUp() override;
    bool Finished() const override { return m_finished; }

    // The most encodings that ran at the same time (for tests).
    int MostAtOnce() const { return m_mostAtOnce; }

private:
    class PartPresenter;
    struct Lane;

    void trackRead(int item, bool ok);
    void startNext();
    void partFinished(Lane *lane, int result);
    void readerFinished(int result);
    void finishIfDone();

    const JobKind m_kind;
    const TOptionsSetting m_settings;
    const QStringList m_files;
    TRipJobPresenter &m_presenter;
    TMp3EncodeProcess &m_mp3;
    TWMAEncodeProcess &m_wma;
    HCDROM m_cdHandle;
    std::unique_ptr<PartPresenter> m_readerPresenter;
    std::unique_ptr<TRipJob> m_reader;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::deque<int> m_queue; // items waiting for an encoder
    QSet<int> m_failed;      // items whose encoding failed
    bool m_readerDone = true;
    int m_readerResult = mrCancel;
    std::optional<TRipSession> m_verdicts;
    bool m_finished = false;
    bool m_stopping = false;
    int m_mostAtOnce = 0;
};

// The job for a window or the command-line tool: a TParallelJob when the settings allow more than one
// encoder and the job has something to encode in parallel, else the sequential TRipJob.
std::unique_ptr<TJobRun> MakeRipJob(JobKind kind, HCDROM cdHandle, const QStringList &files,
                                    const TOptionsSetting &settings, TRipJobPresenter &presenter,
                                    TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma);
