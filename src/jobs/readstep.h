// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"
#include "filewriters.h"
#include "shell/messages.h"
#include "shell/settings.h"

#include <QObject>
#include <memory>

class TCDRipThread;

// How a track's read ended. Result: ProcessResult::Done, ReadError (Message: the drive's or image's reason),
// WavNotCreated (Message: the file and the system's reason; empty for a name the file system refuses) or
// SourceFailed (nothing read; Message says why: a data track, a drive that could not be set up).
struct TReadEnd {
    int32_t Result = ProcessResult::Done;
    QString Message;
};

struct TRipSession;
struct TTrackRip;

// How the jobs of a read path treat the files they make, each as its window always did.
struct TExtractWays {
    bool TagMp3Always = false; // MP3s get their ID3 tags whatever the tag setting says
    // Each WAV goes once its encoding succeeded, and a stopped read's WAV stays; otherwise the WAVs go at the
    // job's end or with its stop.
    bool WavGoesWhenEncoded = false;
    TOggSetup Ogg = TOggSetup::FromSettings;
};

// The read step of an extraction: one track at a time into its WAV, ending with exactly one finished()
// (none after Stop). Each read path is one of these; the extraction job does not know which it runs.
// User-interface thread only.
class TTrackReader : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Before the first read: the drive made ready, and the session of the rip log started with the drive's
    // name, the read path and the disc's table of contents.
    virtual TRipSession Begin(const TOptionsSetting &settings) = 0;
    // track: the table of contents' entry counted from 1 (0: the audio hidden before the first track);
    // base: the WAV's file name without ".wav"; wav: that WAV in the output folder.
    virtual void Start(int track, const QString &base, const QString &wav) = 0;
    // Ends a read still running (what it wrote goes); no end is told.
    virtual void Stop() = 0;
    // Stop, and waits for any worker of the step.
    virtual void Close() { Stop(); }
    // What the last read gave, for the rip log and the verdicts (end: how it ended).
    virtual void Describe(TTrackRip &track, const TReadEnd &end) const = 0;
    virtual TExtractWays Ways() const = 0;

signals:
    void progress(const TProcessInfo &info); // per cent, and elapsed and estimated time when known
    void normalizing();
    // The track and the reason, as soon as the read fails; pathFailed: the read path itself failed (the
    // window makes its next start use the other one).
    void failed(const QString &message);
    void pathFailed();
    void finished(const TReadEnd &end);
};

// The read step of the CD access calls: one track into its WAV in the output folder on a worker thread
// (TCDRipThread: test and copy, normalising and de-emphasis as the options say). A data track is not read.
class TTrackReadStep final : public TTrackReader {
    Q_OBJECT
public:
    // options: the job's, which outlive the step.
    TTrackReadStep(TCdHandle handle, const TCommonOptions &options, QObject *parent = nullptr);
    ~TTrackReadStep() override;

    TRipSession Begin(const TOptionsSetting &settings) override;
    void Start(int track, const QString &base, const QString &wav) override;
    void Stop() override;
    void Describe(TTrackRip &track, const TReadEnd &end) const override;
    TExtractWays Ways() const override { return {false, false, TOggSetup::QualityOnly}; }

protected:
    bool event(QEvent *event) override;

private:
    void end(const TReadEnd &end);

    const TCdHandle m_handle;
    const TCommonOptions &m_options;
    std::unique_ptr<TCDRipThread> m_thread;
    int m_track = 0;
    QString m_base;
    bool m_running = false;
};
