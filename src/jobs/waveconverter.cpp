// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveconverter.h"

#include "shell/helpers.h"
#include "wavheader.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>

TWaveConverter::TWaveConverter()
{
    acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &MaxFmtSize);
    MaxFmtSize = std::min<uint32_t>(MaxFmtSize, uint32_t(CurrentFormat.size()));
    setBuffer(&m_data);
    open(QIODevice::ReadWrite);
}

int TWaveConverter::LoadFile(QIODevice &stream)
{
    const QByteArray head = stream.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return 0;
    // An 8-byte window moving one byte at a time finds the chunks wherever they are.
    for (;;) {
        const QByteArray window = stream.read(8);
        if (window.size() < 8)
            break;
        const uint32_t size = qFromLittleEndian<uint32_t>(window.constData() + 4);
        const QByteArray id = window.left(4);
        if (id == "fmt " || id == "fact" || (id == "data" && size != 0)) {
            const int64_t left = stream.size() - stream.pos();
            const QByteArray body = stream.read(std::min<int64_t>(size, std::max<int64_t>(left, 0)));
            if (id == "fmt ") {
                CurrentFormat.fill(0);
                std::memcpy(CurrentFormat.data(), body.constData(),
                            size_t(std::min<qsizetype>(body.size(), 129)));
            } else if (id == "data") {
                m_data = body;
                seek(0);
            }
            stream.seek(stream.pos() - 7);
        } else {
            stream.seek(stream.pos() - 7);
        }
    }
    seek(0);
    return 0;
}

uint32_t TWaveConverter::Convert()
{
    HACMSTREAM handle = nullptr;
    uint32_t result = acmStreamOpen(&handle, nullptr, currentFormat(), newFormat(), nullptr, 0, 0,
                                    ACM_STREAMOPENF_NONREALTIME);
    if (result != MMSYSERR_NOERROR)
        return result;
    uint32_t destinationSize = 0;
    result = acmStreamSize(handle, uint32_t(m_data.size()), &destinationSize, ACM_STREAMSIZEF_SOURCE);
    if (result != MMSYSERR_NOERROR) {
        acmStreamClose(handle, 0);
        return result;
    }
    QByteArray destination(qsizetype(destinationSize), '\0');
    TAcmStreamHeader header{};
    header.cbStruct = sizeof header;
    header.pbSrc = reinterpret_cast<uint8_t *>(m_data.data());
    header.cbSrcLength = uint32_t(m_data.size());
    header.pbDst = reinterpret_cast<uint8_t *>(destination.data());
    header.cbDstLength = destinationSize;
    result = acmStreamPrepareHeader(handle, &header, 0);
    if (result == MMSYSERR_NOERROR)
        result = acmStreamConvert(handle, &header, ACM_STREAMCONVERTF_BLOCKALIGN);
    if (result == MMSYSERR_NOERROR) {
        std::memcpy(CurrentFormat.data(), NewFormat.data(), MaxFmtSize);
        // Only what the conversion produced: the estimate's spare room is not audio.
        destination.truncate(header.cbDstLengthUsed);
        m_data = destination;
        seek(0);
        result = acmStreamUnprepareHeader(handle, &header, 0);
    }
    const uint32_t closed = acmStreamClose(handle, 0);
    return result != MMSYSERR_NOERROR ? result : closed;
}

int TWaveConverter::SaveWav(QIODevice &target)
{
    try {
        const TWaveFormatEx *format = currentFormat();
        const int64_t start = target.pos();
        QByteArray header = CanonicalWavHeader(format->nChannels, format->nSamplesPerSec,
                                               format->wBitsPerSample, uint32_t(m_data.size()));
        // The format fields are the converter's own, as they are.
        std::memcpy(header.data() + 20, CurrentFormat.data(), 16);
        if (target.write(header) != header.size() || target.write(m_data) != m_data.size())
            return 286;
        const int64_t end = target.pos();
        target.seek(start + 4);
        QByteArray riffSize(4, '\0');
        qToLittleEndian<uint32_t>(uint32_t(target.size() - 8), riffSize.data());
        target.write(riffSize);
        target.seek(end);
        return 0;
    } catch (...) {
        LogCaughtException("Writing the converted WAV");
        return 286;
    }
}
