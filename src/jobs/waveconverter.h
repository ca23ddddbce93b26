// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <array>
#include <cstdint>

// A WAV file's format block as it lies in the file.
#pragma pack(push, 1)
struct TWaveFormatHeader {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatHeader) == 18);

// Turns a compressed WAV file (MPEG Layer-3 inside RIFF/WAVE, decoded by libmpg123) into 16-bit PCM at the
// stream's own rate and channels, entirely in memory, and hands it back as a complete PCM WAV image. The
// converter is a memory stream holding the audio data.
class TWaveConverter final : public QBuffer {
    Q_OBJECT
public:
    TWaveConverter();

    // Reads the "fmt " block and the "data" bytes of a RIFF/WAVE file from the stream. Returns 0.
    int LoadFile(QIODevice &stream);
    // Fills NewFormat, whose format tag the caller set to 1 (PCM), for the data in CurrentFormat; false when
    // that is not MPEG Layer-3 of one or two channels.
    bool SuggestPcm();
    // Decodes the data from CurrentFormat to NewFormat; false when the data does not decode to that format.
    bool Convert();
    // SaveWav's result when the image could not be written (the Audio Compression Manager's own number).
    static constexpr int WriteFailed = 286;
    // Writes a PCM WAV image of the data in CurrentFormat into the target. 0, or WriteFailed.
    int SaveWav(QIODevice &target);

    TWaveFormatHeader *currentFormat() { return reinterpret_cast<TWaveFormatHeader *>(CurrentFormat.data()); }
    TWaveFormatHeader *newFormat() { return reinterpret_cast<TWaveFormatHeader *>(NewFormat.data()); }

    static constexpr uint32_t MaxFmtSize = 129; // the format bytes a conversion takes over
    alignas(4) std::array<uint8_t, 129> CurrentFormat{};
    alignas(4) std::array<uint8_t, 129> NewFormat{};

private:
    QByteArray m_data;
};
