// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtEndian>
#include <cstdint>

// Builds WAV files byte by byte, so tests can make exactly the header they mean.
struct WavBuilder {
    QByteArray bytes;

    WavBuilder &raw(const QByteArray &b)
    {
        bytes += b;
        return *this;
    }
    WavBuilder &u16(uint16_t v)
    {
        char b[2];
        qToLittleEndian(v, b);
        bytes.append(b, 2);
        return *this;
    }
    WavBuilder &u32(uint32_t v)
    {
        char b[4];
        qToLittleEndian(v, b);
        bytes.append(b, 4);
        return *this;
    }
    WavBuilder &chunk(const char *id, const QByteArray &body)
    {
        raw(QByteArray(id, 4));
        u32(uint32_t(body.size()));
        return raw(body);
    }
    static QByteArray fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                          uint16_t blockAlign = 0)
    {
        WavBuilder b;
        const uint16_t align = blockAlign ? blockAlign : uint16_t(channels * bits / 8);
        b.u16(tag).u16(channels).u32(rate).u32(rate * align).u16(align).u16(bits);
        return b.bytes;
    }
    // "RIFF" size "WAVE" followed by the chunks given.
    static QByteArray riff(const QByteArray &chunks, const char *riffId = "RIFF", const char *waveId = "WAVE")
    {
        WavBuilder b;
        b.raw(QByteArray(riffId, 4)).u32(uint32_t(chunks.size() + 4)).raw(QByteArray(waveId, 4)).raw(chunks);
        return b.bytes;
    }
    static QByteArray pcmFile(const QByteArray &pcm, uint16_t channels, uint32_t rate, uint16_t bits)
    {
        WavBuilder chunks;
        chunks.chunk("fmt ", fmt(1, channels, rate, bits)).chunk("data", pcm);
        return riff(chunks.bytes);
    }
};

bool WriteBytes(const QString &path, const QByteArray &bytes);
