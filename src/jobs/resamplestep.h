// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/audioconverter.h"
#include "audio/fastresampler.h"
#include "audio/qualityresampler.h"
#include "shell/messages.h"
#include "shell/result.h"
#include "wavein.h"
#include "waveout.h"

#include <QObject>
#include <chrono>

// The step that brings a WAV to CD rate before an encoder that needs it: opened (its format read), then
// written at 44100 Hz, and at 16 bits when asked, to another file on a worker thread. A started run ends
// with exactly one finished() (none after Stop). User-interface thread only.
class TResampleStep final : public QObject {
    Q_OBJECT
public:
    // fast: the fast resampler instead of the quality one.
    explicit TResampleStep(bool fast, QObject *parent = nullptr);

    // Reads the WAV's format; fails with the reader's reason (the file named).
    TResult<> Open(const QString &file);
    int SampleRate() { return m_in.GetSampleRate(); }
    int BitsPerSample() { return m_in.GetBitsPerSample(); }
    void Start(const QString &target, bool to16Bits);
    // Ends a run still going and waits for its worker; no end is told.
    void Stop();

signals:
    void progress(const TProcessInfo &info);
    void failed(const QString &message); // the source and the reason; finished(false) follows
    void finished(bool ok);

private:
    TWaveIn m_in;
    TFastResampler m_fast;
    TQualityResampler m_quality;
    TAudioConverter m_converter;
    TWaveOut m_out;
    std::chrono::steady_clock::time_point m_start;
    bool m_running = false;
};
