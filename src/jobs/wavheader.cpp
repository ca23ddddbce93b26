// SPDX-License-Identifier: GPL-3.0-or-later
#include "wavheader.h"

#include <QtEndian>
#include <cstring>

void PutWavFormatStart(char *p, uint32_t riffSize, uint32_t fmtSize, uint16_t formatTag, uint16_t channels,
                       uint32_t samplesPerSecond, uint16_t blockAlign, uint16_t bitsPerSample)
{
    std::memcpy(p, "RIFF", 4);
    qToLittleEndian<uint32_t>(riffSize, p + 4);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<uint32_t>(fmtSize, p + 16);
    qToLittleEndian<uint16_t>(formatTag, p + 20);
    qToLittleEndian<uint16_t>(channels, p + 22);
    qToLittleEndian<uint32_t>(samplesPerSecond, p + 24);
    qToLittleEndian<uint32_t>(samplesPerSecond * blockAlign, p + 28);
    qToLittleEndian<uint16_t>(blockAlign, p + 32);
    qToLittleEndian<uint16_t>(bitsPerSample, p + 34);
}

QByteArray CanonicalWavHeader(uint16_t channels, uint32_t samplesPerSecond, uint16_t bitsPerSample,
                              uint32_t dataSize)
{
    QByteArray header(CanonicalWavHeaderSize, '\0');
    char *p = header.data();
    const uint16_t blockAlign = uint16_t(bitsPerSample * channels / 8);
    PutWavFormatStart(p, dataSize + 36, 16, 1, channels, samplesPerSecond, blockAlign, bitsPerSample);
    std::memcpy(p + 36, "data", 4);
    qToLittleEndian<uint32_t>(dataSize, p + 40);
    return header;
}
