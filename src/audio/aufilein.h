// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "austreamedinput.h"

#include <QString>

// A source that reads a file (or a stream given instead). Descendants parse the file in OpenFile, which
// counts OpenCount up, and release it in CloseFile, which counts it down. Format questions and Init open the
// file when it is not open yet and answer from its header; Flush closes it, so every run starts afresh.
class TAuFileIn : public TAuStreamedInput {
    Q_OBJECT
public:
    explicit TAuFileIn(QObject *parent = nullptr);

    QString FileName() const { return m_fileName; }
    // Closes the file first.
    void SetFileName(const QString &fileName);
    void SetStream(QIODevice *stream) override;

    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;
    int GetTotalTime() override;
    int64_t GetTotalSamples() override;
    void Reset() override;

    // Only when Seekable and not beyond TotalSamples. While busy, moves the read there; while idle, stores
    // the sample as the start of the next run.
    bool Seek(int64_t sample);
    // Moves by thousandths of the whole, relative to the current position.
    bool SeekRelative(int thousandths);
    // Opens and parses the file to test it; closes it again when it is not valid. Returns Valid.
    bool TryOpen();

    std::recursive_mutex FLock; // guards opening and closing
    int OpenCount = 0;
    bool Valid = false;
    QString OpenError; // why the file was not valid at the last open (the system's reason, or the format's)
    int BitsPerSample = 0;
    int SampleRate = 0;
    int Channels = 0;
    int TotalTime = 0;

protected:
    virtual void OpenFile() = 0;
    virtual void CloseFile() = 0;
    void ensureOpen();

    void DoInit() override;
    void DoFlush() override;

    QString m_fileName;
};
