// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auinput.h"
#include "shell/outputformats.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>

// The kind of a file judged by its first bytes (an ID3 tag in front is passed over): RIFF/RF64 WAVE, fLaC,
// Ogg with the header of a codec we decode, MPEG audio frames, an ASF header object, an MP4 "ftyp" box.
// None for anything else and for files that cannot be read.
TFileFormat AudioFileKindOf(const QString &path);

// A compressed file decoded to PCM by the field's own decoder for its format: FLAC by libFLAC (at its own
// bits, 12 and 20 widened to 16 and 24), the Ogg codecs by their reference libraries (at the rate their
// streams define), MP3 by libmpg123 (gapless), the last three as 16 bits. A source for one run from the start
// of the file to its end; GetData runs on the sink's worker.
class TDecodedFileIn : public TAuInput {
    Q_OBJECT
public:
    // Opens the file with the decoder its content calls for. Throws EAuException "PATH: reason" for a file
    // that cannot be read, a kind no decoder here takes (WAV is the jobs' own reader's), or a broken stream.
    static std::unique_ptr<TDecodedFileIn> Open(const QString &path);
    ~TDecodedFileIn() override;

    int GetBitsPerSample() override { return m_bits; }
    int GetChannels() override { return m_channels; }
    int GetSampleRate() override { return m_rate; }
    int64_t GetTotalSamples() override { return m_totalFrames; }
    // What the decoder passed over without failing (a damaged or cut stream decoded as far as it goes), each
    // naming the file and the place. Any thread.
    QStringList Warnings() const;

protected:
    explicit TDecodedFileIn(const QString &path);
    void DoInit() override {}
    void DoFlush() override {}
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override;
    // Decodes the next block into m_data (m_fill bytes); false at the end. Throws EAuException on a broken
    // stream.
    virtual bool refill() = 0;
    // The total size known: Size from the frames and the format.
    void setFormat(int bits, int channels, int rate, int64_t frames);
    void addWarning(const QString &text);

    QString m_path;
    std::vector<uint8_t> m_data;
    uint32_t m_read = 0;
    uint32_t m_fill = 0;
    int m_bits = 16;
    int m_channels = 0;
    int m_rate = 0;
    int64_t m_totalFrames = 0;

private:
    mutable std::mutex m_warningLock;
    QStringList m_warnings;
};
