// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"
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

// The read step of the CD access calls: one track into its WAV in the output folder on a worker thread
// (TCDRipThread: test and copy, normalising and de-emphasis as the options say), ending with exactly one
// finished() (none after Stop). A data track is not read. User-interface thread only.
class TTrackReadStep final : public QObject {
    Q_OBJECT
public:
    explicit TTrackReadStep(QObject *parent = nullptr);
    ~TTrackReadStep() override;

    // track: the table of contents' entry counted from 1 (0: the audio hidden before the first track);
    // base: the WAV's file name without ".wav".
    void Start(TCdHandle handle, int track, const QString &base, const TCommonOptions &options);
    // Ends a read still running (what it wrote goes) and lets the thread go; no end is told.
    void Stop();
    // The thread of the last read, for its checks once it ended; null before the first and after Stop.
    const TCDRipThread *Read() const { return m_thread.get(); }

signals:
    void progress(const TProcessInfo &info); // per cent, elapsed and estimated time
    void normalizing();
    void finished(const TReadEnd &end);

protected:
    bool event(QEvent *event) override;

private:
    void end(const TReadEnd &end);

    std::unique_ptr<TCDRipThread> m_thread;
    bool m_running = false;
};
