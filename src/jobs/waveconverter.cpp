// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveconverter.h"

#include "shell/helpers.h"
#include "wavheader.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <mpg123.h>
#include <mutex>
#include <sys/types.h>

namespace {

constexpr uint16_t mpegLayer3Tag = 0x55;
constexpr uint16_t pcmTag = 1;

// libmpg123 reads the compressed data from memory through these.
struct MemoryReader {
    const uint8_t *data;
    size_t size;
    size_t pos;
};

mpg123_ssize_t readMemory(void *handle, void *buffer, size_t count)
{
    auto *r = static_cast<MemoryReader *>(handle);
    const size_t n = std::min(count, r->size - r->pos);
    std::memcpy(buffer, r->data + r->pos, n);
    r->pos += n;
    return mpg123_ssize_t(n);
}

off_t seekMemory(void *handle, off_t offset, int whence)
{
    auto *r = static_cast<MemoryReader *>(handle);
    off_t base = whence == SEEK_CUR ? off_t(r->pos) : whence == SEEK_END ? off_t(r->size) : 0;
    const off_t target = base + offset;
    if (target < 0 || target > off_t(r->size))
        return -1;
    r->pos = size_t(target);
    return target;
}

// A decoder over memory that always gives 16-bit signed samples at the stream's own rate and channels.
class Decoder {
public:
    Decoder(const uint8_t *data, size_t size) : m_reader{data, size, 0}
    {
        static std::once_flag once;
        std::call_once(once, [] { mpg123_init(); });
        m_handle = mpg123_new(nullptr, nullptr);
        if (!m_handle)
            return;
        mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_format_none(m_handle);
        for (const long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
            mpg123_format(m_handle, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
        if (mpg123_replace_reader_handle(m_handle, readMemory, seekMemory, nullptr) != MPG123_OK ||
            mpg123_open_handle(m_handle, &m_reader) != MPG123_OK) {
            mpg123_delete(m_handle);
            m_handle = nullptr;
        }
    }
    ~Decoder()
    {
        if (m_handle) {
            mpg123_close(m_handle);
            mpg123_delete(m_handle);
        }
    }
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    bool format(long &rate, int &channels)
    {
        int encoding = 0;
        return m_handle && mpg123_getformat(m_handle, &rate, &channels, &encoding) == MPG123_OK;
    }
    // Everything the stream holds, in blocks.
    QByteArray decodeAll()
    {
        QByteArray out;
        constexpr qsizetype block = 1 << 16;
        for (;;) {
            const qsizetype filled = out.size();
            out.resize(filled + block);
            size_t done = 0;
            const int result = mpg123_read(m_handle, reinterpret_cast<unsigned char *>(out.data()) + filled,
                                           size_t(block), &done);
            out.resize(filled + qsizetype(done));
            if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
                return out;
        }
    }

private:
    MemoryReader m_reader;
    mpg123_handle *m_handle = nullptr;
};

} // namespace

TWaveConverter::TWaveConverter()
{
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

bool TWaveConverter::SuggestPcm()
{
    const TWaveFormatHeader *src = currentFormat();
    TWaveFormatHeader *dst = newFormat();
    if (dst->wFormatTag != pcmTag || src->wFormatTag != mpegLayer3Tag || src->nChannels < 1 ||
        src->nChannels > 2 || src->nSamplesPerSec == 0)
        return false;
    dst->nChannels = src->nChannels;
    dst->nSamplesPerSec = src->nSamplesPerSec;
    dst->wBitsPerSample = 16;
    dst->nBlockAlign = uint16_t(2 * src->nChannels);
    dst->nAvgBytesPerSec = dst->nSamplesPerSec * dst->nBlockAlign;
    dst->cbSize = 0;
    return true;
}

bool TWaveConverter::Convert()
{
    const TWaveFormatHeader *src = currentFormat();
    const TWaveFormatHeader *dst = newFormat();
    if (src->wFormatTag != mpegLayer3Tag || dst->wFormatTag != pcmTag || dst->wBitsPerSample != 16 ||
        dst->nChannels != src->nChannels || dst->nSamplesPerSec != src->nSamplesPerSec)
        return false;
    Decoder decoder(reinterpret_cast<const uint8_t *>(m_data.constData()), size_t(m_data.size()));
    long rate = 0;
    int channels = 0;
    // The header's rate and channels are only claims: the stream must agree with them.
    if (!decoder.format(rate, channels) || uint32_t(rate) != dst->nSamplesPerSec ||
        channels != dst->nChannels)
        return false;
    m_data = decoder.decodeAll();
    std::memcpy(CurrentFormat.data(), NewFormat.data(), MaxFmtSize);
    seek(0);
    return true;
}

int TWaveConverter::SaveWav(QIODevice &target)
{
    try {
        const TWaveFormatHeader *format = currentFormat();
        const int64_t start = target.pos();
        QByteArray header = CanonicalWavHeader(format->nChannels, format->nSamplesPerSec,
                                               format->wBitsPerSample, uint32_t(m_data.size()));
        // The format fields are the converter's own, as they are.
        std::memcpy(header.data() + 20, CurrentFormat.data(), 16);
        if (target.write(header) != header.size() || target.write(m_data) != m_data.size())
            return WriteFailed;
        const int64_t end = target.pos();
        target.seek(start + 4);
        QByteArray riffSize(4, '\0');
        qToLittleEndian<uint32_t>(uint32_t(target.size() - 8), riffSize.data());
        target.write(riffSize);
        target.seek(end);
        return 0;
    } catch (...) {
        LogCaughtException("Writing the converted WAV");
        return WriteFailed;
    }
}
