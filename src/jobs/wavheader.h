// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <cstdint>

// The canonical 44-byte PCM WAV header, little-endian:
//   "RIFF", data size + 36, "WAVE", "fmt ", 16, format tag 1, channels, samples a second,
//   bytes a second, block alignment (bits × channels / 8), bits, "data", data size.
// Shared by every writer of plain PCM files, so they all agree byte for byte.
constexpr int CanonicalWavHeaderSize = 44;

QByteArray CanonicalWavHeader(uint16_t channels, uint32_t samplesPerSecond, uint16_t bitsPerSample,
                              uint32_t dataSize);

// The opening every header shares: "RIFF", the RIFF size, "WAVEfmt ", the fmt chunk size, then the format
// tag, channels, samples a second, bytes a second, block alignment and bits (36 bytes from p).
void PutWavFormatStart(char *p, uint32_t riffSize, uint32_t fmtSize, uint16_t formatTag, uint16_t channels,
                       uint32_t samplesPerSecond, uint16_t blockAlign, uint16_t bitsPerSample);

// The header of 16-bit stereo 44100 Hz audio, as read from a CD.
inline QByteArray CdAudioWavHeader(uint32_t dataSize)
{
    return CanonicalWavHeader(2, 44100, 16, dataSize);
}
