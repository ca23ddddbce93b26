// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveout.h"

#include "audio/auexception.h"
#include "audio/aufilestream.h"
#include "wavheader.h"

#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t pcmChunk = 16384;
constexpr int appendHeaderLimit = 8192;

uint32_t clampSize(int64_t v)
{
    return uint32_t(std::clamp<int64_t>(v, 0, 0xFFFFFFFFll));
}

} // namespace

TWaveOut::TWaveOut(QObject *parent) : TAuFileOut(parent) {}

TWaveOut::~TWaveOut()
{
    Shutdown();
}

void TWaveOut::SetWavType(TWavType type)
{
    if (!Busy && (type == wtPCM || type == wtDVIADPCM))
        m_wavType = type;
}

void TWaveOut::SetBlockSize(int size)
{
    if (!Busy && size > 0 && size % 4 == 0)
        m_blockSize = size;
}

void TWaveOut::write(const char *data, int64_t size)
{
    if (m_out->write(data, size) != size)
        throw EAuException(writeFailure(QStringLiteral("Error writing wave file"), m_out));
}

void TWaveOut::writeUInt32At(int64_t offset, uint32_t value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    if (!m_out->seek(offset) || m_out->write(bytes, 4) != 4)
        throw EAuException(writeFailure(QStringLiteral("Error writing wave file"), m_out));
}

void TWaveOut::openForAppend(QIODevice &file)
{
    const auto refuse = [this](const char *message) {
        m_file.reset();
        m_out = nullptr;
        throw EAuException(QString::fromLatin1(message));
    };
    file.seek(0);
    const WavFormat f = ParseWavHeader(file, appendHeaderLimit);
    if (f.type != wtPCM && f.type != wtDVIADPCM)
        refuse("Cannot append data to this .wav file.");
    const bool sameFormat = f.type == wtPCM ? int(f.samplesPerSecond) == m_rate &&
                                                  f.bitsPerSample == m_bits && f.channels == m_channels
                                            : int(f.samplesPerSecond) == m_rate && f.channels == m_channels;
    if (!sameFormat)
        refuse("Cannot append data in different audio format.");
    if (f.type == wtDVIADPCM && m_bits != 16)
        refuse("Cannot encode 8 bit sound into ADPCM.");
    m_type = f.type;
    m_appending = true;
    m_factOffset = f.factOffset;
    m_dataSizeOffset = f.dataSizeOffset;
    m_dataOffset = f.dataOffset;
    if (m_type == wtDVIADPCM) {
        m_blockSize = f.blockAlign;
        m_samplesPerBlock = f.samplesPerBlock;
    }
    file.seek(file.size());
}

void TWaveOut::Prepare()
{
    TAuInput *input = Input();
    m_type = m_wavType;
    m_appending = false;
    m_inputEnded = false;
    m_written = 0;
    m_factOffset = m_dataSizeOffset = m_dataOffset = -1;
    m_ima[0] = m_ima[1] = ImaAdpcm::Channel{};

    const bool append =
        FileMode == foAppend && QFileInfo(m_fileName).isFile() && QFileInfo(m_fileName).size() > 0;
    if (StreamAssigned) {
        m_out = Stream;
    } else {
        if (m_fileName.isEmpty())
            throw EAuException(QStringLiteral("File name is not assigned."));
        const uint16_t mode =
            append ? uint16_t(TAuFileStream::fmOpenReadWrite | ShareMode) : TAuFileStream::fmCreate;
        try {
            m_file = std::make_unique<TAuFileStream>(m_fileName, mode);
        } catch (const EAuException &e) { // the file named, as every writer of ours does
            throw EAuException(m_fileName + QStringLiteral(": ") + e.message());
        }
        m_out = m_file.get();
    }

    input->Init();
    m_channels = input->GetChannels();
    m_bits = input->GetBitsPerSample();
    m_rate = input->GetSampleRate();
    const int64_t size = input->Size;
    // A length that is only claimed is never padded up to: the header is set from what was written.
    m_sizeKnown = size >= 0 && !input->SizeIsEstimate;
    if ((m_channels > 2 || m_bits > 16) && !CreateNonMsHeaders)
        m_type = wtExtPCM;

    if (append || (StreamAssigned && FileMode == foAppend && m_out->size() > 0)) {
        openForAppend(*m_out);
        return;
    }

    QByteArray header;
    switch (m_type) {
    case wtDVIADPCM: {
        if (m_bits != 16)
            throw EAuException(QStringLiteral("Cannot encode 8 bit sound into ADPCM."));
        if (m_channels < 1 || m_channels > 2)
            throw EAuException(QStringLiteral("IMA ADPCM takes mono or stereo sound only."));
        m_samplesPerBlock = (2 / m_channels) * (m_blockSize - 4 * m_channels) + 1;
        const int64_t frames = std::max<int64_t>(size, 0) / 2 / m_channels;
        m_announced = int64_t(std::nearbyint(double(frames) / m_samplesPerBlock)) * m_blockSize;
        header = ImaAdpcmWavHeader(uint16_t(m_channels), uint32_t(m_rate), uint16_t(m_blockSize),
                                   uint16_t(m_samplesPerBlock), clampSize(frames), clampSize(m_announced));
        m_factOffset = 48;
        m_dataSizeOffset = 56;
        m_dataOffset = 60;
        break;
    }
    case wtExtPCM:
        m_announced = std::max<int64_t>(size, 0);
        header = ExtensibleWavHeader(uint16_t(m_channels), uint32_t(m_rate), uint16_t(m_bits),
                                     clampSize(m_announced));
        m_dataSizeOffset = 64;
        m_dataOffset = 68;
        break;
    default:
        m_type = wtPCM;
        m_announced = std::max<int64_t>(size, 0);
        header = CanonicalWavHeader(uint16_t(m_channels), uint32_t(m_rate), uint16_t(m_bits),
                                    clampSize(m_announced));
        m_dataSizeOffset = 40;
        m_dataOffset = 44;
        break;
    }
    write(header.constData(), header.size());
}

bool TWaveOut::DoOutput(bool abort)
{
    if (abort)
        return false;
    TAuInput *input = Input();
    if (m_type != wtDVIADPCM) {
        uint8_t *data = nullptr;
        uint32_t bytes = pcmChunk;
        input->GetData(data, bytes);
        if (bytes == 0) {
            m_inputEnded = true;
            return false;
        }
        write(reinterpret_cast<const char *>(data), bytes);
        m_written += bytes;
        return true;
    }
    // One block's worth of 16-bit input, zero-filled at the end of the input.
    const uint32_t want = uint32_t(m_samplesPerBlock * m_channels * 2);
    m_pcm.assign(want, 0);
    bool ended = false;
    const uint32_t got = input->ReadFully(m_pcm.data(), want, &ended);
    if (got == 0) {
        m_inputEnded = true;
        return false;
    }
    m_block.assign(size_t(m_blockSize), 0);
    encodeBlock(reinterpret_cast<const int16_t *>(m_pcm.data()));
    write(reinterpret_cast<const char *>(m_block.data()), m_blockSize);
    m_written += m_blockSize;
    if (ended)
        m_inputEnded = true;
    return !ended;
}

uint32_t TWaveOut::encodeBlock(const int16_t *samples)
{
    const int channels = m_channels;
    uint8_t *out = m_block.data();
    for (int c = 0; c < channels; ++c) {
        const int16_t first = samples[c];
        qToLittleEndian<int16_t>(first, out + 4 * c);
        out[4 * c + 2] = uint8_t(m_ima[c].index);
        out[4 * c + 3] = 0;
        m_ima[c].predicted = first;
    }
    uint8_t *data = out + 4 * channels;
    const int frames = m_samplesPerBlock - 1;
    if (channels == 1) {
        for (int i = 0; i < frames; i += 2) {
            const int low = ImaAdpcm::Encode(m_ima[0], samples[1 + i]);
            const int high = i + 1 < frames ? ImaAdpcm::Encode(m_ima[0], samples[2 + i]) : 0;
            *data++ = uint8_t(low | high << 4);
        }
    } else {
        for (int g = 0; g < frames; g += 8) {
            for (int c = 0; c < 2; ++c) {
                for (int k = 0; k < 8; k += 2) {
                    const int f1 = 1 + g + k;
                    const int f2 = f1 + 1;
                    const int low = f1 - 1 < frames ? ImaAdpcm::Encode(m_ima[c], samples[f1 * 2 + c]) : 0;
                    const int high = f2 - 1 < frames ? ImaAdpcm::Encode(m_ima[c], samples[f2 * 2 + c]) : 0;
                    *data++ = uint8_t(low | high << 4);
                }
            }
        }
    }
    return uint32_t(m_blockSize);
}

void TWaveOut::patchHeader()
{
    const int64_t length = m_out->size();
    const int64_t dataSize = length - m_dataOffset;
    writeUInt32At(m_dataSizeOffset, clampSize(dataSize));
    if (m_type == wtDVIADPCM && m_factOffset >= 0 &&
        (m_appending || !m_sizeKnown || Stopped || !m_inputEnded))
        writeUInt32At(m_factOffset, clampSize(dataSize / m_blockSize * m_samplesPerBlock));
    writeUInt32At(4, clampSize(length - 8));
}

void TWaveOut::Done()
{
    try {
        if (m_out && m_dataOffset < 0) {
            // The run failed before a header was written: nothing to finish.
            if (!StreamAssigned)
                m_file.reset();
            m_out = nullptr;
        }
        if (m_out) {
            // More audio than announced (a source that delivered past its own length) is counted too.
            const bool patch =
                !m_sizeKnown || m_appending || Stopped || !m_inputEnded || m_written > m_announced;
            if (patch || m_type == wtDVIADPCM) {
                // IMA ADPCM data is whole blocks, which the announced size may not count exactly.
                patchHeader();
            } else if (m_written < m_announced) {
                const QByteArray zeros(int(std::min<int64_t>(m_announced - m_written, 1 << 20)), '\0');
                while (m_written < m_announced) {
                    const int64_t n = std::min<int64_t>(zeros.size(), m_announced - m_written);
                    write(zeros.constData(), n);
                    m_written += n;
                }
            }
            if (!flushed(m_out) || !m_out->seek(m_out->size()))
                throw EAuException(writeFailure(QStringLiteral("Error writing wave file"), m_out));
            if (!StreamAssigned)
                m_file.reset();
            m_out = nullptr;
        }
    } catch (...) {
        m_file.reset();
        m_out = nullptr;
        if (Input())
            Input()->Flush();
        throw;
    }
    if (Input())
        Input()->Flush();
}
