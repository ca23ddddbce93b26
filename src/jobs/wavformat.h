// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

class QIODevice;

// The kinds of WAV data the program knows (the order is fixed).
enum TWavType {
    wtUnsupported,
    wtPCM,
    wtDVIADPCM,
    wtMSADPCM,
    wtACM,
    wtIEEEFloat,
    wtExtPCM,
    wtExtIEEEFloat,
    wtALaw, // G.711, 8 bits a sample
    wtMuLaw,
};

// What the header of a RIFF/WAVE file says, and where its parts lie.
struct WavFormat {
    TWavType type = wtUnsupported;
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t validBitsPerSample = 0; // extensible files: the bits of each sample that carry sound
    uint16_t samplesPerBlock = 0;    // ADPCM and MPEG types
    std::vector<std::pair<int16_t, int16_t>> coefficients; // MS ADPCM
    int64_t factFrames = -1;                               // from "fact"; -1 when the file has none
    int64_t factOffset = -1;                               // file offset of the "fact" body
    int64_t dataSizeOffset = -1;                           // file offset of the "data" chunk's size field
    int64_t dataOffset = -1;                               // file offset of the first data byte
    int64_t dataSize = 0; // as the "data" chunk (or RF64's "ds64") announces it
    // The data chunk's size says nothing (0 or 0xFFFFFFFF, as a WAV written while streaming has it): the
    // data goes to the end of the file.
    bool streamed = false;
};

// Reads the header from the device's current position: "RIFF" (or RF64's "RF64", whose 64-bit sizes come
// from its "ds64" chunk) and "WAVE" are found even after junk bytes,
// chunk ids match regardless of letter case, unknown chunks are skipped. Gives wtUnsupported for an unknown
// format or a damaged header, at the end of the device, or once headerLimit bytes were read without finding
// the data. On success the device stands at the first data byte.
WavFormat ParseWavHeader(QIODevice &device, int headerLimit);

// The published GUIDs of the PCM and IEEE-float sub-formats of extensible WAV files.
extern const uint8_t KSDATAFORMAT_SUBTYPE_PCM[16];
extern const uint8_t KSDATAFORMAT_SUBTYPE_IEEE_FLOAT[16];

// The 60-byte IMA ADPCM header and the 68-byte extensible PCM header (the canonical PCM header is in
// wavheader.h).
QByteArray ImaAdpcmWavHeader(uint16_t channels, uint32_t samplesPerSecond, uint16_t blockSize,
                             uint16_t samplesPerBlock, uint32_t frames, uint32_t dataSize);
QByteArray ExtensibleWavHeader(uint16_t channels, uint32_t samplesPerSecond, uint16_t bitsPerSample,
                               uint32_t dataSize);
