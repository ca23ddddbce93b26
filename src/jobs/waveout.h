// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/aufileout.h"
#include "audio/imaadpcm.h"
#include "wavformat.h"

#include <memory>
#include <vector>

class TAuFileStream;

// Writes WAV files: plain PCM (44-byte header), IMA ADPCM (60 bytes) or extensible PCM (68 bytes, for more
// than two channels or more than 16 bits when CreateNonMsHeaders is off). Can append to a PCM or IMA ADPCM
// file of the same format. The header is written from the input's announced size and patched from the real
// length when that was not known, when appending, or when the run was stopped early; a PCM file that got
// fewer bytes than announced is padded with zeros, so its header stays true. The file is locked while it is
// written.
//
// Prepare, DoOutput and Done run on the sink's worker thread.
class TWaveOut final : public TAuFileOut {
    Q_OBJECT
public:
    explicit TWaveOut(QObject *parent = nullptr);
    ~TWaveOut() override;

    TWavType WavType() const { return m_wavType; }
    // Only wtPCM and wtDVIADPCM, and only while idle.
    void SetWavType(TWavType type);
    int BlockSize() const { return m_blockSize; }
    // Ignored while busy, for 0, and for sizes that are not a multiple of 4.
    void SetBlockSize(int size);

    bool CreateNonMsHeaders = true;

protected:
    void Prepare() override;
    bool DoOutput(bool abort) override;
    void Done() override;

private:
    void write(const char *data, int64_t size);
    void openForAppend(QIODevice &file);
    void patchHeader();
    void writeUInt32At(int64_t offset, uint32_t value);
    uint32_t encodeBlock(const int16_t *samples);

    TWavType m_wavType = wtPCM;
    int m_blockSize = 512;

    // One run's state.
    TWavType m_type = wtPCM;
    std::unique_ptr<TAuFileStream> m_file;
    QIODevice *m_out = nullptr;
    int m_channels = 0;
    int m_bits = 0;
    int m_rate = 0;
    int m_samplesPerBlock = 0;
    bool m_appending = false;
    bool m_sizeKnown = false;
    bool m_inputEnded = false;
    int64_t m_announced = 0; // data bytes the header announces
    int64_t m_written = 0;   // data bytes written in this run
    int64_t m_factOffset = -1;
    int64_t m_dataSizeOffset = -1;
    int64_t m_dataOffset = -1;
    ImaAdpcm::Channel m_ima[2];
    std::vector<uint8_t> m_pcm;
    std::vector<uint8_t> m_block;
};
