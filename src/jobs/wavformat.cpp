// SPDX-License-Identifier: GPL-3.0-or-later
#include "wavformat.h"

#include "wavheader.h"

#include <QIODevice>
#include <QtEndian>
#include <cstring>

const uint8_t KSDATAFORMAT_SUBTYPE_PCM[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t KSDATAFORMAT_SUBTYPE_IEEE_FLOAT[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

namespace {

// Two bytes match when equal or when they differ by exactly 32, so letter case does not count.
bool idMatches(const char *a, const char *b)
{
    for (int i = 0; i < 4; ++i) {
        const int d = uint8_t(a[i]) - uint8_t(b[i]);
        if (d != 0 && d != 32 && d != -32)
            return false;
    }
    return true;
}

class HeaderReader {
public:
    HeaderReader(QIODevice &device, int limit) : m_device(device), m_limit(limit) {}

    bool read(char *into, int64_t count)
    {
        if (m_used + count > m_limit)
            return false;
        const int64_t got = m_device.read(into, count);
        if (got != count)
            return false;
        m_used += count;
        return true;
    }

    // Skips a chunk body (padded to an even length); without seeking past the end.
    bool skip(uint32_t size)
    {
        const int64_t bytes = int64_t(size) + (size & 1);
        if (m_used + bytes > m_limit)
            return false;
        m_used += bytes;
        const int64_t target = m_device.pos() + bytes;
        if (!m_device.isSequential()) {
            if (target > m_device.size())
                return false;
            return m_device.seek(target);
        }
        QByteArray discard(int(std::min<int64_t>(bytes, 65536)), '\0');
        int64_t left = bytes;
        while (left > 0) {
            const int64_t got = m_device.read(discard.data(), std::min<int64_t>(left, discard.size()));
            if (got <= 0)
                return false;
            left -= got;
        }
        return true;
    }

    // Reads 4 bytes, then shifts in one more byte at a time until they match the id (or, when given, the
    // other id exactly; *otherFound then says which one it was).
    bool scanFor(const char *id, const char *other = nullptr, bool *otherFound = nullptr)
    {
        char window[4];
        if (!read(window, 4))
            return false;
        for (;;) {
            if (idMatches(window, id))
                return true;
            if (other && std::memcmp(window, other, 4) == 0) {
                *otherFound = true;
                return true;
            }
            std::memmove(window, window + 1, 3);
            if (!read(window + 3, 1))
                return false;
        }
    }

    bool chunk(char *id, uint32_t &size)
    {
        char header[8];
        if (!read(header, 8))
            return false;
        std::memcpy(id, header, 4);
        size = qFromLittleEndian<uint32_t>(header + 4);
        return true;
    }

private:
    QIODevice &m_device;
    int64_t m_limit;
    int64_t m_used = 0;
};

TWavType typeOfTag(uint16_t tag)
{
    switch (tag) {
    case 1:
        return wtPCM;
    case 2:
        return wtMSADPCM;
    case 3:
        return wtIEEEFloat;
    case 0x11:
        return wtDVIADPCM;
    case 0x55:
        return wtACM;
    case 6:
        return wtALaw;
    case 7:
        return wtMuLaw;
    default:
        return wtUnsupported;
    }
}

// The body of the format chunk (in RF64 after "ds64", whose data size is kept); false when there is none.
bool readFormatChunk(HeaderReader &reader, bool rf64, QByteArray &body, int64_t &ds64DataSize)
{
    char id[4];
    uint32_t size = 0;
    for (;;) {
        if (!reader.chunk(id, size))
            return false;
        if (idMatches(id, "fmt "))
            break;
        if (rf64 && std::memcmp(id, "ds64", 4) == 0 && size >= 16) {
            char sizes[16];
            if (!reader.read(sizes, 16) || !reader.skip(size - 16))
                return false;
            ds64DataSize = qFromLittleEndian<int64_t>(sizes + 8);
            continue;
        }
        if (!reader.skip(size))
            return false;
    }
    if (size < 16 || size > 65535)
        return false;
    body = QByteArray(int(size), '\0');
    if (!reader.read(body.data(), size))
        return false;
    char pad;
    return (size & 1) == 0 || reader.read(&pad, 1);
}

// The format chunk's fields; false for a format this program cannot read.
bool parseFormat(const QByteArray &body, WavFormat &f)
{
    const char *b = body.constData();
    const auto size = uint32_t(body.size());
    f.formatTag = qFromLittleEndian<uint16_t>(b);
    f.channels = qFromLittleEndian<uint16_t>(b + 2);
    f.samplesPerSecond = qFromLittleEndian<uint32_t>(b + 4);
    f.blockAlign = qFromLittleEndian<uint16_t>(b + 12);
    f.bitsPerSample = qFromLittleEndian<uint16_t>(b + 14);
    // Nothing can be read, or sized, from a file without channels, rate or frame size.
    if (f.channels == 0 || f.samplesPerSecond == 0 || f.blockAlign == 0)
        return false;
    if (f.formatTag == 0xFFFE) {
        if (size < 40)
            return false;
        f.validBitsPerSample = qFromLittleEndian<uint16_t>(b + 18);
        const uint8_t *guid = reinterpret_cast<const uint8_t *>(b) + 24;
        if (std::memcmp(guid, KSDATAFORMAT_SUBTYPE_PCM, 16) == 0)
            f.type = wtExtPCM;
        else if (std::memcmp(guid, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 16) == 0)
            f.type = wtExtIEEEFloat;
        else
            return false;
    } else {
        f.type = typeOfTag(f.formatTag);
        if (f.type == wtUnsupported)
            return false;
    }
    const bool compressed = f.type == wtDVIADPCM || f.type == wtMSADPCM || f.type == wtACM;
    if (compressed && size >= 20)
        f.samplesPerBlock = qFromLittleEndian<uint16_t>(b + 18);
    if (f.type != wtMSADPCM)
        return true;
    if (size < 22)
        return false;
    const uint16_t count = qFromLittleEndian<uint16_t>(b + 20);
    if (count == 0 || 22 + uint32_t(count) * 4 > size)
        return false;
    for (uint16_t i = 0; i < count; ++i)
        f.coefficients.emplace_back(qFromLittleEndian<int16_t>(b + 22 + 4 * i),
                                    qFromLittleEndian<int16_t>(b + 24 + 4 * i));
    return true;
}

// The "fact" chunk of compressed types, then the data. A compressed file without "fact" is taken as it is;
// its frame count comes from the data.
bool findData(HeaderReader &reader, QIODevice &device, bool rf64, int64_t ds64DataSize, WavFormat &f)
{
    bool needFact = f.type == wtDVIADPCM || f.type == wtMSADPCM || f.type == wtACM;
    char id[4];
    uint32_t size = 0;
    for (;;) {
        if (!reader.chunk(id, size))
            return false;
        if (needFact && idMatches(id, "fact")) {
            f.factOffset = device.pos();
            char frames[4];
            if (size < 4 || !reader.read(frames, 4) || !reader.skip(size - 4))
                return false;
            f.factFrames = qFromLittleEndian<uint32_t>(frames);
            needFact = false;
            continue;
        }
        if (idMatches(id, "data")) {
            f.dataSizeOffset = device.pos() - 4;
            f.dataOffset = device.pos();
            f.dataSize = size;
            if (rf64 && size == 0xFFFFFFFFu && ds64DataSize >= 0)
                f.dataSize = ds64DataSize;
            else
                f.streamed = size == 0 || size == 0xFFFFFFFFu;
            return true;
        }
        if (!reader.skip(size))
            return false;
    }
}

} // namespace

WavFormat ParseWavHeader(QIODevice &device, int headerLimit)
{
    HeaderReader reader(device, headerLimit);
    bool rf64 = false;
    char riffSize[4];
    if (!reader.scanFor("RIFF", "RF64", &rf64) || !reader.read(riffSize, 4) || !reader.scanFor("WAVE"))
        return {};
    QByteArray body;
    int64_t ds64DataSize = -1; // RF64: the data size its 32-bit field cannot hold
    WavFormat f;
    if (!readFormatChunk(reader, rf64, body, ds64DataSize) || !parseFormat(body, f) ||
        !findData(reader, device, rf64, ds64DataSize, f))
        return {};
    return f;
}

QByteArray ImaAdpcmWavHeader(uint16_t channels, uint32_t samplesPerSecond, uint16_t blockSize,
                             uint16_t samplesPerBlock, uint32_t frames, uint32_t dataSize)
{
    QByteArray h(60, '\0');
    char *p = h.data();
    std::memcpy(p, "RIFF", 4);
    qToLittleEndian<uint32_t>(dataSize + 52, p + 4);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<uint32_t>(20, p + 16);
    qToLittleEndian<uint16_t>(0x11, p + 20);
    qToLittleEndian<uint16_t>(channels, p + 22);
    qToLittleEndian<uint32_t>(samplesPerSecond, p + 24);
    qToLittleEndian<uint32_t>(samplesPerBlock ? samplesPerSecond / samplesPerBlock * blockSize : 0, p + 28);
    qToLittleEndian<uint16_t>(blockSize, p + 32);
    qToLittleEndian<uint16_t>(4, p + 34);
    qToLittleEndian<uint16_t>(2, p + 36);
    qToLittleEndian<uint16_t>(samplesPerBlock, p + 38);
    std::memcpy(p + 40, "fact", 4);
    qToLittleEndian<uint32_t>(4, p + 44);
    qToLittleEndian<uint32_t>(frames, p + 48);
    std::memcpy(p + 52, "data", 4);
    qToLittleEndian<uint32_t>(dataSize, p + 56);
    return h;
}

QByteArray ExtensibleWavHeader(uint16_t channels, uint32_t samplesPerSecond, uint16_t bitsPerSample,
                               uint32_t dataSize)
{
    QByteArray h(68, '\0');
    char *p = h.data();
    const uint16_t blockAlign = uint16_t(bitsPerSample / 8 * channels);
    uint32_t mask = 0;
    switch (channels) {
    case 1:
        mask = 1;
        break;
    case 2:
        mask = 3;
        break;
    case 6:
        mask = 63;
        break;
    case 8:
        mask = 255;
        break;
    default:
        break;
    }
    PutWavFormatStart(p, dataSize + 60, 40, 0xFFFE, channels, samplesPerSecond, blockAlign, bitsPerSample);
    qToLittleEndian<uint16_t>(22, p + 36);
    qToLittleEndian<uint16_t>(bitsPerSample, p + 38);
    qToLittleEndian<uint32_t>(mask, p + 40);
    std::memcpy(p + 44, KSDATAFORMAT_SUBTYPE_PCM, 16);
    std::memcpy(p + 60, "data", 4);
    qToLittleEndian<uint32_t>(dataSize, p + 64);
    return h;
}
