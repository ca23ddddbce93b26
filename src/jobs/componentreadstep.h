// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "accuraterip.h"
#include "audio/nullout.h"
#include "cdrom/cdin.h"
#include "readstep.h"
#include "shell/settings.h"
#include "waveout.h"

#include <QList>
#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>

// The read step of the drive component: one track through TCDIn into its WAV, written under its working
// name. With Test & copy a first read only for its checksum, and a copy that agrees with no read before it
// read again (the file written anew) up to the retries the settings allow. The read WAV is then
// de-emphasised and normalised when asked, on a worker, and takes the track's name only when whole. Ends
// with exactly one finished() (none after Stop). User-interface thread only.
class TComponentReadStep final : public QObject {
    Q_OBJECT
public:
    // settings: the job's copy, which outlives the step.
    TComponentReadStep(TCDIn &cdIn, const TOptionsSetting &settings, QObject *parent = nullptr);
    ~TComponentReadStep() override;

    // track: the disc's track number; wav: the track's WAV.
    void Start(int track, const QString &base, const QString &wav);
    // Ends the read at once; no end is told. A WAV being settled is left to its worker.
    void Stop();
    // Stop, and waits for the worker; what a stopped read left under its working name goes.
    void Close();

    // What the last read gave, once it ended.
    bool ReadFailed() const { return m_readFailed; }
    QString Failure() const { return m_failure; } // why, when known
    const TAudioCheck &Check() const { return m_check; }
    bool Tested() const { return m_tested; }
    uint32_t TestCrc() const { return m_testCrc; }
    // Test & copy: the test's CRC, then each copy's that agreed with none before it (the file holds the last
    // read, whose CRC is Check's).
    const QList<uint32_t> &Reads() const { return m_reads; }

signals:
    void progress(int percent);
    void failed(const QString &message); // the track and the reason, as soon as the read fails
    void finished(const TReadEnd &end);

private:
    void copy();
    void copyDone(TAuOutput *sink);
    void settle(const QString &working, bool complete);
    void waitForSettling();
    void readFailure(const QString &reason);
    void end(const TReadEnd &end);

    TCDIn &m_cdIn;
    const TOptionsSetting &m_settings;
    TWaveOut m_out;
    TNullOut m_testOut; // the test read of Test & copy
    TAuOutput *m_current = nullptr;
    int m_track = 0;
    QString m_base;
    QString m_wav; // the WAV being read (under its working name until it is complete)
    bool m_running = false;
    bool m_ending = false; // an end is on its way to be told
    bool m_readFailed = false;
    QString m_failure;
    TAudioCheck m_check; // of the read in progress; fed on the reading thread, read once it is done
    bool m_tested = false;
    uint32_t m_testCrc = 0;
    QList<uint32_t> m_reads;
    bool m_firstTrack = false;
    bool m_lastTrack = false;
    int64_t m_frames = 0;
    std::atomic<bool> m_stopSettling{false};
    std::unique_ptr<QThread> m_settling;
};
