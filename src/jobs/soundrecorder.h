// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/alsacapture.h"
#include "shell/result.h"
#include "wavformat.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <cstdint>

// Records sound into a PCM WAV file, inserting it at a chosen point of the file's data. While recording,
// the sound goes to a hidden file beside the WAV; when the recording stops, the WAV is written anew under its
// working name with the recording spliced in and renamed over the old one, so the file is always either the
// old one or the new one, complete. Used by the recorder window and by "sondrel-cli record"; needs no window.
class TSoundRecorder final : public QObject {
    Q_OBJECT
public:
    explicit TSoundRecorder(QObject *parent = nullptr);
    // A recording still running is stopped and kept.
    ~TSoundRecorder() override;

    // The canonical 44-byte header of a PCM file with no data, written under a working name and renamed.
    static TResult<> WriteEmptyWav(const QString &path, int channels, int bits, int rate);
    // A time as the recorder shows it: "1Hour2 Min3 Sec" from a minute on, else seconds to three significant
    // digits ("5.5 Sec", "60 Sec" for 59,999 ms).
    static QString TimeText(int64_t milliseconds);

    // The WAV file to record into: plain or extensible PCM of 8, 16, 24 or 32 bits. Fails with "PATH:
    // reason" for anything else; the recorder then has no file.
    TResult<> SetFile(const QString &path);
    QString FileName() const { return m_path; }
    // Stops a recording (keeping it) and lets go of the file.
    void Close();
    int SampleRate() const { return int(m_format.samplesPerSecond); }
    int Channels() const { return m_format.channels; }
    int BitsPerSample() const { return m_format.bitsPerSample; }
    int64_t Frames() const;
    int64_t LengthMs() const;

    // Starts recording from the device, to be inserted atMs into the file (clamped to its length).
    TResult<> Start(const QString &device, int64_t atMs);
    bool Recording() const { return m_device.Running(); }
    int64_t RecordedFrames() const { return m_device.Frames(); }
    int64_t RecordedMs() const;
    // Lets the recording end by itself once it holds that many frames; Ended follows. Returns at once.
    void EndAfterFrames(int64_t frames) { m_device.EndAt(frames); }
    // Ends the recording moreMs later (0: now) and inserts what was recorded into the file. Fails with
    // "PATH: reason" when the file could not be written; it then stays as it was.
    TResult<> Stop(int64_t moreMs = 0);

signals:
    // The recording ended by itself (the device failed, the disk is full); Stop still inserts what came.
    void Failed(const QString &reason);
    // The recording ended by itself (EndAfterFrames, or a failure); Stop inserts it.
    void Ended();

private:
    TResult<> readFormat(const QString &path);
    TResult<> insertRecording();

    QString m_path;
    WavFormat m_format;
    int64_t m_dataBytes = 0; // whole frames of data in the file
    int64_t m_fileSize = 0;
    TAlsaCapture m_device;
    QFile m_capture; // the hidden file the recording goes to
    int64_t m_insertFrame = 0;
};
