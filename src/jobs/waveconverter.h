// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "acm.h"

#include <QBuffer>
#include <QByteArray>
#include <array>

// Turns a compressed WAV file (MPEG Layer-3 inside RIFF/WAVE) into PCM, entirely in memory, and hands it
// back as a complete PCM WAV image. The converter is a memory stream holding the audio data.
class TWaveConverter final : public QBuffer {
    Q_OBJECT
public:
    TWaveConverter();

    // Reads the "fmt " block and the "data" bytes of a RIFF/WAVE file from the stream. Returns 0.
    int LoadFile(QIODevice &stream);
    // Converts the data from CurrentFormat to NewFormat. 0, or the result of the first call that failed.
    uint32_t Convert();
    // Writes a PCM WAV image of the data in CurrentFormat into the target. 0, or 286 on a failure.
    int SaveWav(QIODevice &target);

    TWaveFormatEx *currentFormat() { return reinterpret_cast<TWaveFormatEx *>(CurrentFormat.data()); }
    TWaveFormatEx *newFormat() { return reinterpret_cast<TWaveFormatEx *>(NewFormat.data()); }

    uint32_t MaxFmtSize = 0;
    alignas(4) std::array<uint8_t, 129> CurrentFormat{};
    alignas(4) std::array<uint8_t, 129> NewFormat{};

private:
    QByteArray m_data;
};
