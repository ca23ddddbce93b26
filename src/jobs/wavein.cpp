// SPDX-License-Identifier: GPL-3.0-or-later
#include "wavein.h"

#include "audio/auexception.h"
#include "audio/aufilestream.h"
#include "audio/imaadpcm.h"
#include "audio/samples.h"
#include "waveconverter.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// G.711 A-law and mu-law bytes to 16-bit linear samples (ITU-T G.711).
int16_t aLawSample(uint8_t byte)
{
    const int a = byte ^ 0x55;
    const int exponent = (a >> 4) & 7;
    int magnitude = (a & 0x0F) << 4;
    magnitude += exponent == 0 ? 8 : 0x108;
    if (exponent > 1)
        magnitude <<= exponent - 1;
    return int16_t((a & 0x80) ? magnitude : -magnitude);
}

int16_t muLawSample(uint8_t byte)
{
    const int u = ~byte & 0xFF;
    const int exponent = (u >> 4) & 7;
    const int magnitude = ((((u & 0x0F) << 3) + 0x84) << exponent) - 0x84;
    return int16_t((u & 0x80) ? -magnitude : magnitude);
}

const int msAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

bool pcmBits(int bits)
{
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

} // namespace

TWaveIn::TWaveIn(QObject *parent) : TAuFileIn(parent) {}

TWaveIn::~TWaveIn()
{
    closeStreams();
}

TWavType TWaveIn::WavType()
{
    ensureOpen();
    return m_format.type == wtPCM && m_image ? wtACM : m_format.type;
}

void TWaveIn::OpenFile()
{
    std::lock_guard lock(FLock);
    if (OpenCount == 0) {
        Valid = false;
        if (StreamAssigned) {
            m_source = Stream;
            if (!m_source->isSequential())
                m_source->seek(0);
        } else {
            m_file = std::make_unique<TAuFileStream>(m_fileName, TAuFileStream::fmOpenRead |
                                                                     TAuFileStream::fmShareDenyWrite);
            m_source = m_file.get();
        }
        try {
            Valid = openParsed();
        } catch (const std::exception &) {
            Valid = false;
        }
        OpenError =
            Valid ? QString() : QStringLiteral("not a WAV file that can be read (unknown or damaged header)");
        if (!Valid) {
            BitsPerSample = SampleRate = Channels = 0;
            Size = 0;
        }
    }
    ++OpenCount;
}

bool TWaveIn::measure(int64_t &data, int64_t &size, int &outBits)
{
    const WavFormat &f = m_format;
    const int channels = f.channels;
    m_containerBytes = m_sampleBytes = m_sampleSkip = 0;
    switch (f.type) {
    case wtPCM:
    case wtExtPCM: {
        // Samples in containers wider than themselves. An extensible header's valid bits are left-justified
        // in a container of its bits per sample (24 valid of 32: the top three bytes). A header whose frame
        // size alone is wider than its bits per sample (24 bits in 4-byte blocks, as ALSA's S24_LE and
        // hound write it) holds each sample in the low bytes of its container.
        const bool leftJustified = f.validBitsPerSample > 0 && f.validBitsPerSample < f.bitsPerSample;
        const int bits = leftJustified ? f.validBitsPerSample : f.bitsPerSample;
        const int sampleBytes = (bits + 7) / 8;
        const int container = f.blockAlign % channels == 0 ? f.blockAlign / channels : 0;
        if (container > sampleBytes && container <= 4 && sampleBytes >= 1) {
            m_containerBytes = container;
            m_sampleBytes = sampleBytes;
            m_sampleSkip = leftJustified && container * 8 == f.bitsPerSample ? container - sampleBytes : 0;
            data -= data % f.blockAlign;
            size = data / container * sampleBytes;
            outBits = sampleBytes * 8;
            break;
        }
        if (!pcmBits(f.bitsPerSample))
            return false;
        const int frame = channels * f.bitsPerSample / 8;
        data -= data % frame;
        size = data;
        break;
    }
    case wtALaw:
    case wtMuLaw:
        if (f.bitsPerSample != 8)
            return false;
        data -= data % channels;
        size = data * 2;
        outBits = 16;
        break;
    case wtIEEEFloat:
    case wtExtIEEEFloat: {
        if (f.bitsPerSample != 32 && f.bitsPerSample != 64)
            return false;
        const int frame = channels * f.bitsPerSample / 8;
        data -= data % frame;
        size = data * 32 / f.bitsPerSample;
        outBits = 32;
        break;
    }
    case wtDVIADPCM:
    case wtMSADPCM: {
        const bool ima = f.type == wtDVIADPCM;
        const int header = (ima ? 4 : 7) * channels;
        if ((ima && f.bitsPerSample != 4) || channels > 2 || f.blockAlign <= header)
            return false;
        // Frames a full block holds; a header that claims more is not believed.
        const int most =
            ima ? (f.blockAlign - header) * 2 / channels + 1 : (f.blockAlign - header) * 2 / channels + 2;
        if (f.samplesPerBlock == 0 || f.samplesPerBlock > most)
            m_format.samplesPerBlock = uint16_t(most);
        const int64_t blocks = (data + f.blockAlign - 1) / f.blockAlign;
        int64_t frames = blocks * m_format.samplesPerBlock;
        if (f.factFrames >= 0)
            frames = std::min<int64_t>(frames, f.factFrames);
        size = frames * channels * 2;
        outBits = 16;
        break;
    }
    case wtACM:
        return false; // read through the MPEG decoder instead
    default:
        return false;
    }
    return true;
}

bool TWaveIn::openParsed()
{
    m_format = ParseWavHeader(*m_source, 65535);
    const WavFormat &f = m_format;
    const int channels = f.channels;
    if (f.type == wtUnsupported || channels < 1 || channels > 32 || f.samplesPerSecond == 0)
        return false;
    const int64_t available = m_source->isSequential()
                                  ? int64_t(f.dataSize)
                                  : std::max<int64_t>(m_source->size() - f.dataOffset, 0);
    // A streamed file's data size says nothing: its data is the rest of the file.
    int64_t data = f.streamed ? available : std::min<int64_t>(f.dataSize, available);
    int64_t size = 0;
    int outBits = f.bitsPerSample;
    if (f.type == wtACM)
        return openMpeg();
    if (!measure(data, size, outBits))
        return false;
    Channels = channels;
    SampleRate = int(f.samplesPerSecond);
    BitsPerSample = outBits;
    Size = size;
    m_dataStart = f.dataOffset;
    m_dataEnd = f.dataOffset + data;
    m_outRead = m_outFill = 0;
    return true;
}

bool TWaveIn::openMpeg()
{
    if (m_source->isSequential() || !m_source->seek(0))
        return false;
    TWaveConverter converter;
    converter.LoadFile(*m_source);
    converter.newFormat()->wFormatTag = 1;
    if (!converter.SuggestPcm() || !converter.Convert())
        return false;
    m_image = std::make_unique<QBuffer>(&m_imageBytes);
    m_image->open(QIODevice::ReadWrite);
    if (converter.SaveWav(*m_image) != 0 || !m_image->seek(0))
        return false;
    // The image is parsed like any file and becomes the source; the MPEG file stays open until close.
    m_source = m_image.get();
    return openParsed() && m_format.type == wtPCM;
}

void TWaveIn::closeStreams()
{
    m_source = nullptr;
    m_image.reset();
    m_imageBytes.clear();
    m_file.reset();
    m_outRead = m_outFill = 0;
}

void TWaveIn::CloseFile()
{
    std::lock_guard lock(FLock);
    if (OpenCount == 1)
        closeStreams();
    if (OpenCount > 0)
        --OpenCount;
}

uint32_t TWaveIn::refill()
{
    m_outRead = m_outFill = 0;
    const int64_t left = m_dataEnd - m_source->pos();
    if (left <= 0)
        return 0;
    const int channels = m_format.channels;
    switch (m_format.type) {
    case wtDVIADPCM:
    case wtMSADPCM: {
        const uint32_t want = uint32_t(std::min<int64_t>(m_format.blockAlign, left));
        m_in.resize(m_format.blockAlign);
        const int64_t got = m_source->read(reinterpret_cast<char *>(m_in.data()), want);
        if (got <= 0)
            return 0;
        m_out.resize(size_t(m_format.samplesPerBlock) * size_t(channels) * 2);
        m_outFill = m_format.type == wtDVIADPCM ? decodeIma(m_in.data(), uint32_t(got))
                                                : decodeMs(m_in.data(), uint32_t(got));
        return m_outFill;
    }
    case wtALaw:
    case wtMuLaw: {
        const uint32_t want = uint32_t(std::min<int64_t>(bufferBytes, left));
        m_in.resize(bufferBytes);
        const int64_t got = m_source->read(reinterpret_cast<char *>(m_in.data()), want);
        if (got <= 0)
            return 0;
        m_out.resize(std::max<size_t>(m_out.size(), size_t(got) * 2));
        const bool aLaw = m_format.type == wtALaw;
        for (int64_t i = 0; i < got; ++i)
            qToLittleEndian<int16_t>(aLaw ? aLawSample(m_in[size_t(i)]) : muLawSample(m_in[size_t(i)]),
                                     m_out.data() + 2 * i);
        m_outFill = uint32_t(got) * 2;
        return m_outFill;
    }
    case wtIEEEFloat:
    case wtExtIEEEFloat: {
        uint32_t want = bufferBytes - bufferBytes % uint32_t(channels * 8);
        if (want == 0)
            want = uint32_t(channels * 8);
        want = uint32_t(std::min<int64_t>(want, left));
        m_out.resize(std::max<size_t>(m_out.size(), want));
        const int64_t got = m_source->read(reinterpret_cast<char *>(m_out.data()), want);
        if (got <= 0)
            return 0;
        m_outFill = convertFloat(uint32_t(got));
        return m_outFill;
    }
    default: {
        if (m_containerBytes > 0) {
            const uint32_t frame = m_format.blockAlign;
            uint32_t want = std::max(bufferBytes - bufferBytes % frame, frame);
            want = uint32_t(std::min<int64_t>(want, left));
            m_in.resize(std::max<size_t>(m_in.size(), want));
            const int64_t got = m_source->read(reinterpret_cast<char *>(m_in.data()), want);
            if (got <= 0)
                return 0;
            const size_t samples = size_t(got) / frame * size_t(channels);
            m_out.resize(std::max<size_t>(m_out.size(), samples * size_t(m_sampleBytes)));
            const size_t skip = size_t(m_sampleSkip);
            for (size_t i = 0; i < samples; ++i)
                std::memcpy(m_out.data() + i * size_t(m_sampleBytes),
                            m_in.data() + i * size_t(m_containerBytes) + skip, size_t(m_sampleBytes));
            m_outFill = uint32_t(samples * size_t(m_sampleBytes));
            return m_outFill;
        }
        const uint32_t frame = uint32_t(channels * m_format.bitsPerSample / 8);
        uint32_t want = std::max(bufferBytes - bufferBytes % frame, frame);
        want = uint32_t(std::min<int64_t>(want, left));
        m_out.resize(std::max<size_t>(m_out.size(), want));
        const int64_t got = m_source->read(reinterpret_cast<char *>(m_out.data()), want);
        if (got <= 0)
            return 0;
        m_outFill = uint32_t(got) - uint32_t(got) % frame;
        return m_outFill;
    }
    }
}

uint32_t TWaveIn::decodeIma(const uint8_t *block, uint32_t size)
{
    const int channels = m_format.channels;
    const uint32_t header = uint32_t(4 * channels);
    if (size < header)
        return 0;
    ImaAdpcm::Channel state[2];
    auto *out = reinterpret_cast<int16_t *>(m_out.data());
    for (int c = 0; c < channels; ++c) {
        const int16_t first = qFromLittleEndian<int16_t>(block + 4 * c);
        state[c].predicted = first;
        state[c].index = std::clamp<int>(block[4 * c + 2], 0, 88);
        out[c] = first;
    }
    const size_t spb = m_format.samplesPerBlock;
    size_t frames = 1;
    const uint8_t *data = block + header;
    const uint32_t dataBytes = size - header;
    if (channels == 1) {
        for (uint32_t i = 0; i < dataBytes && frames + 1 < spb + 1; ++i) {
            out[frames] = ImaAdpcm::Decode(state[0], data[i] & 0x0F);
            if (++frames >= spb)
                break;
            out[frames] = ImaAdpcm::Decode(state[0], data[i] >> 4);
            ++frames;
        }
    } else {
        // Groups of 8 bytes: 4 of the left channel (8 samples), then 4 of the right.
        for (uint32_t g = 0; g + 8 <= dataBytes && frames < spb; g += 8) {
            const size_t count = std::min<size_t>(8, spb - frames);
            for (int c = 0; c < 2; ++c) {
                const uint8_t *bytes = data + g + 4 * uint32_t(c);
                for (size_t k = 0; k < count; ++k) {
                    const int nibble = (k & 1) ? bytes[k / 2] >> 4 : bytes[k / 2] & 0x0F;
                    out[(frames + k) * 2 + size_t(c)] = ImaAdpcm::Decode(state[c], nibble);
                }
            }
            frames += count;
        }
    }
    return uint32_t(frames * size_t(channels) * 2);
}

uint32_t TWaveIn::decodeMs(const uint8_t *block, uint32_t size)
{
    const int channels = m_format.channels;
    const uint32_t header = uint32_t(7 * channels);
    if (size < header)
        return 0;
    MsState state[2];
    const int coefficients = int(m_format.coefficients.size());
    for (int c = 0; c < channels; ++c) {
        state[c].predictor = std::min<int>(block[c], coefficients - 1);
        state[c].delta = qFromLittleEndian<int16_t>(block + channels + 2 * c);
        state[c].sample1 = qFromLittleEndian<int16_t>(block + 3 * channels + 2 * c);
        state[c].sample2 = qFromLittleEndian<int16_t>(block + 5 * channels + 2 * c);
    }
    auto *out = reinterpret_cast<int16_t *>(m_out.data());
    const size_t spb = m_format.samplesPerBlock;
    size_t n = 0; // samples written, all channels
    for (int c = 0; c < channels; ++c)
        out[n++] = int16_t(state[c].sample2);
    if (spb > 1) {
        for (int c = 0; c < channels; ++c)
            out[n++] = int16_t(state[c].sample1);
    }
    const auto step = [&](MsState &s, int nibble) {
        const auto &[c1, c2] = m_format.coefficients[size_t(s.predictor)];
        const int signedNibble = nibble >= 8 ? nibble - 16 : nibble;
        // Divided by 256 rounding down (an arithmetic shift), as the other decoders of this format do.
        // Worked in 64 bits: a damaged block can drive the step size far beyond what real audio reaches.
        const int64_t prediction = (int64_t(s.sample1) * c1 + int64_t(s.sample2) * c2) >> 8;
        const int predicted =
            int(std::clamp<int64_t>(prediction + int64_t(signedNibble) * s.delta, -32768, 32767));
        s.sample2 = s.sample1;
        s.sample1 = predicted;
        s.delta = int(std::clamp<int64_t>(int64_t(s.delta) * msAdaptation[nibble] / 256, 16, 0x7FFFFFFF));
        return int16_t(predicted);
    };
    const size_t total = spb * size_t(channels);
    for (uint32_t i = header; i < size && n + 1 < total + 1; ++i) {
        const int high = block[i] >> 4;
        const int low = block[i] & 0x0F;
        if (channels == 2) {
            if (n + 2 > total)
                break;
            out[n++] = step(state[0], high);
            out[n++] = step(state[1], low);
        } else {
            out[n++] = step(state[0], high);
            if (n >= total)
                break;
            out[n++] = step(state[0], low);
        }
        if (n >= total)
            break;
    }
    return uint32_t(n * 2);
}

uint32_t TWaveIn::convertFloat(uint32_t size)
{
    int64_t clipped = 0;
    double peak = 0;
    const auto convert = [&](double x) -> int32_t {
        if (std::abs(x) > 1.0 && std::isfinite(x)) {
            ++clipped;
            peak = std::max(peak, std::abs(x));
        }
        if (x >= 1.0)
            return 2147483647;
        if (x <= -1.0)
            return int32_t(-2147483647 - 1);
        if (x == 0.0 || std::isnan(x))
            return 0;
        return int32_t(std::floor(x * 2147483647.0));
    };
    uint8_t *p = m_out.data();
    const auto note = [&] {
        if (clipped == 0)
            return;
        m_clipped += clipped;
        if (peak > m_overPeak)
            m_overPeak = peak;
    };
    if (m_format.bitsPerSample == 64) {
        const uint32_t count = size / 8;
        for (uint32_t i = 0; i < count; ++i) {
            double v;
            std::memcpy(&v, p + 8 * i, 8);
            const int32_t s = convert(v);
            std::memcpy(p + 4 * i, &s, 4);
        }
        note();
        return count * 4;
    }
    const uint32_t count = size / 4;
    for (uint32_t i = 0; i < count; ++i) {
        float v;
        std::memcpy(&v, p + 4 * i, 4);
        const int32_t s = convert(double(v));
        std::memcpy(p + 4 * i, &s, 4);
    }
    note();
    return count * 4;
}

QStringList TWaveIn::Warnings() const
{
    if (m_clipped == 0)
        return {};
    return {FileName() + QStringLiteral(": %1 samples above full scale (peak %2%3 dBFS) were clipped")
                             .arg(m_clipped.load())
                             .arg(QLatin1Char('+'))
                             .arg(20.0 * std::log10(m_overPeak.load()), 0, 'f', 1)};
}

void TWaveIn::DoGetData(uint8_t *&buffer, uint32_t &bytes)
{
    if (!m_source || OpenCount == 0)
        throw EAuException(QStringLiteral("The Stream is not opened"));
    // A file that is not valid has nothing to give (and no frame size to read by).
    if (!Valid) {
        buffer = nullptr;
        bytes = 0;
        return;
    }
    TakeBuffered(
        m_out, m_outRead, m_outFill, [this] { return refill() != 0; }, buffer, bytes);
}

bool TWaveIn::DoSeek(int64_t &sample)
{
    if (!m_source || m_source->isSequential() || sample < 0)
        return false;
    int64_t offset = 0;
    switch (m_format.type) {
    case wtDVIADPCM:
    case wtMSADPCM: {
        const int64_t block = sample / m_format.samplesPerBlock;
        offset = block * m_format.blockAlign;
        sample = block * m_format.samplesPerBlock;
        break;
    }
    case wtALaw:
    case wtMuLaw:
        offset = sample * m_format.channels;
        break;
    default:
        offset = m_containerBytes > 0 ? sample * m_format.blockAlign
                                      : sample * m_format.channels * (m_format.bitsPerSample / 8);
        break;
    }
    const int64_t target = std::min(m_dataStart + offset, m_dataEnd);
    if (!m_source->seek(target))
        return false;
    m_outRead = m_outFill = 0;
    return true;
}
