// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "accuraterip.h"
#include "audio/nullout.h"
#include "cdripthread.h"
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
class TComponentReadStep final : public TTrackReader {
    Q_OBJECT
public:
    // settings: the job's copy, which outlives the step.
    TComponentReadStep(TCDIn &cdIn, const TOptionsSetting &settings, QObject *parent = nullptr);
    ~TComponentReadStep() override;

    // The drive reset and its tray locked for the job.
    TRipSession Begin(const TOptionsSetting &settings) override;
    // track: the disc's track number; wav: the track's WAV.
    void Start(int track, const QString &base, const QString &wav) override;
    // Ends the read at once; no end is told. A WAV being settled is left to its worker.
    void Stop() override;
    // Stop, and waits for the worker; what a stopped read left under its working name goes.
    void Close() override;
    void Describe(TTrackRip &track, const TReadEnd &end) const override;
    // This path always tagged its MP3s and let each WAV go once it was encoded.
    TExtractWays Ways() const override { return {true, true, TOggSetup::FromSettings}; }

private:
    void copy();
    // A new read of the track begins: Test & copy keeps its sector prints apart.
    void nextPrints();
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
    // Test & copy: each read's sector prints, fed on the reading thread while that read runs.
    std::vector<std::vector<uint64_t>> m_prints;
    TSectorPrints m_sectorPrints;
    // The copy's sectors that could not be read (silence in the file), why, and the track's first sector.
    QList<int32_t> m_unreadable;
    QString m_unreadableReason;
    int32_t m_firstSector = 0;
    bool m_firstTrack = false;
    bool m_lastTrack = false;
    int64_t m_frames = 0;
    std::atomic<bool> m_stopSettling{false};
    std::unique_ptr<QThread> m_settling;
};
