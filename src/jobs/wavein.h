// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/aufilein.h"
#include "wavformat.h"

#include <QBuffer>
#include <QStringList>
#include <array>
#include <atomic>
#include <memory>
#include <vector>

class TAuFileStream;

// Reads WAV files: PCM (8 to 32 bits, plain and extensible), IEEE float (32 and 64 bits, delivered as 32-bit
// integers), IMA and MS ADPCM (delivered as 16 bits), and MPEG Layer-3 data, which is decoded into memory
// at open. A file it cannot read makes it invalid rather than raising; a damaged file never makes it read
// past its buffers.
//
// Threading as for every source: format questions on the user-interface thread, data on the sink's worker.
class TWaveIn final : public TAuFileIn {
    Q_OBJECT
public:
    explicit TWaveIn(QObject *parent = nullptr);
    ~TWaveIn() override;

    TWavType WavType();
    // The file's own bits a sample (4 for ADPCM, 64 for double floats); BitsPerSample is what is delivered.
    int FileBitsPerSample() const { return m_format.bitsPerSample; }
    int SamplesPerBlock() const { return m_format.samplesPerBlock; }
    // What was read that the audio handed out does not hold: floating-point samples beyond full scale, which
    // are clipped ("PATH: 1234 samples above full scale (peak +3.5 dBFS) were clipped"). Read on the
    // user-interface thread once the sink has ended.
    QStringList Warnings() const;

protected:
    void OpenFile() override;
    void CloseFile() override;
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override;
    bool DoSeek(int64_t &sample) override;

private:
    bool openParsed();
    // The audio bytes of the data (trimmed to whole frames or blocks), their decoded size and sample width;
    // false for a layout this reader cannot decode.
    bool measure(int64_t &data, int64_t &size, int &outBits);
    bool openMpeg();
    void closeStreams();
    uint32_t refill();
    uint32_t decodeIma(const uint8_t *block, uint32_t size);
    uint32_t decodeMs(const uint8_t *block, uint32_t size);
    uint32_t convertFloat(uint32_t size);

    static constexpr uint32_t bufferBytes = 16384;

    WavFormat m_format;
    QIODevice *m_source = nullptr; // the file, the assigned stream, or the decoded MPEG image
    std::unique_ptr<TAuFileStream> m_file;
    std::unique_ptr<QBuffer> m_image;
    QByteArray m_imageBytes;
    int64_t m_dataStart = 0;    // offset of the data in m_source
    int64_t m_dataEnd = 0;      // end of the data in m_source
    std::vector<uint8_t> m_in;  // one compressed block or raw read
    int m_containerBytes = 0;   // PCM in wider containers (24 bits in 4 bytes): each sample's container...
    int m_sampleBytes = 0;      // ...and the bytes of it handed out; 0 when packed
    int m_sampleSkip = 0;       // where in the container those bytes begin
    std::vector<uint8_t> m_out; // decoded bytes handed out
    std::atomic<int64_t> m_clipped{0}; // floating-point samples beyond full scale...
    std::atomic<double> m_overPeak{0}; // ...and the largest of them
    uint32_t m_outRead = 0;
    uint32_t m_outFill = 0;
    struct MsState {
        int predictor = 0;
        int delta = 0;
        int sample1 = 0;
        int sample2 = 0;
    };
};
