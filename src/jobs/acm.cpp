// SPDX-License-Identifier: GPL-3.0-or-later
#include "acm.h"

#include <algorithm>
#include <cstring>
#include <mpg123.h>
#include <mutex>
#include <new>
#include <sys/types.h>

struct AcmStream {
    TWaveFormatEx src;
    TWaveFormatEx dst;
};

namespace {

constexpr uint16_t mpegLayer3Tag = 0x55;
constexpr uint16_t pcmTag = 1;

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

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
        initLibrary();
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
    size_t decode(uint8_t *out, size_t capacity)
    {
        size_t total = 0;
        while (total < capacity) {
            size_t done = 0;
            const int result = mpg123_read(m_handle, out + total, capacity - total, &done);
            total += done;
            if (result == MPG123_NEW_FORMAT)
                continue;
            if (result != MPG123_OK)
                break;
        }
        return total;
    }

private:
    MemoryReader m_reader;
    mpg123_handle *m_handle = nullptr;
};

} // namespace

uint32_t acmMetrics(void *, uint32_t metric, uint32_t *value)
{
    if (!value || metric != ACM_METRIC_MAX_SIZE_FORMAT)
        return MMSYSERR_INVALPARAM;
    *value = 129;
    return MMSYSERR_NOERROR;
}

uint32_t acmFormatSuggest(void *, const TWaveFormatEx *src, TWaveFormatEx *dst, uint32_t dstSize,
                          uint32_t flags)
{
    if (!src || !dst || dstSize < 16)
        return MMSYSERR_INVALPARAM;
    if (!(flags & ACM_FORMATSUGGESTF_WFORMATTAG) || dst->wFormatTag != pcmTag ||
        src->wFormatTag != mpegLayer3Tag || src->nChannels < 1 || src->nChannels > 2 ||
        src->nSamplesPerSec == 0)
        return ACMERR_NOTPOSSIBLE;
    dst->nChannels = src->nChannels;
    dst->nSamplesPerSec = src->nSamplesPerSec;
    dst->wBitsPerSample = 16;
    dst->nBlockAlign = uint16_t(2 * src->nChannels);
    dst->nAvgBytesPerSec = dst->nSamplesPerSec * dst->nBlockAlign;
    if (dstSize >= sizeof(TWaveFormatEx))
        dst->cbSize = 0;
    return MMSYSERR_NOERROR;
}

uint32_t acmStreamOpen(HACMSTREAM *stream, void *, const TWaveFormatEx *src, const TWaveFormatEx *dst, void *,
                       uintptr_t, uintptr_t, uint32_t)
{
    if (!stream || !src || !dst)
        return MMSYSERR_INVALPARAM;
    *stream = nullptr;
    if (src->wFormatTag != mpegLayer3Tag || dst->wFormatTag != pcmTag || dst->wBitsPerSample != 16 ||
        dst->nChannels != src->nChannels || dst->nSamplesPerSec != src->nSamplesPerSec)
        return ACMERR_NOTPOSSIBLE;
    *stream = new (std::nothrow) AcmStream{*src, *dst};
    return *stream ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

// Estimated from the source format's average bytes a second (never taken below the 8 kbit/s of the
// lowest MPEG bit rate), with a quarter to spare for variable bit rates; the conversion reports the bytes it
// really produced. A header's rates are only claims: the estimate never exceeds what the data itself can
// decode to, at most 48 bytes of 16-bit stereo for every MPEG byte (1152 frames from a 96-byte frame), taken
// as 64 with room to spare, plus a few frames.
uint32_t acmStreamSize(HACMSTREAM stream, uint32_t sourceBytes, uint32_t *destinationBytes, uint32_t flags)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!destinationBytes || flags != ACM_STREAMSIZEF_SOURCE)
        return MMSYSERR_INVALPARAM;
    const double seconds =
        double(sourceBytes) / double(std::max<uint32_t>(stream->src.nAvgBytesPerSec, 1000));
    const double bytesPerSecond = double(stream->dst.nSamplesPerSec) * stream->dst.nBlockAlign;
    const double frames = 4 * 1152 * double(stream->dst.nBlockAlign);
    const double estimate = std::min(seconds * bytesPerSecond * 1.25, double(sourceBytes) * 64.0) + frames;
    if (estimate > 0x7FFFFFFF)
        return ACMERR_NOTPOSSIBLE;
    *destinationBytes = uint32_t(estimate);
    return MMSYSERR_NOERROR;
}

uint32_t acmStreamPrepareHeader(HACMSTREAM stream, TAcmStreamHeader *header, uint32_t)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!header || header->cbStruct < sizeof(TAcmStreamHeader) || (!header->pbSrc && header->cbSrcLength))
        return MMSYSERR_INVALPARAM;
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

uint32_t acmStreamConvert(HACMSTREAM stream, TAcmStreamHeader *header, uint32_t)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    Decoder decoder(header->pbSrc, header->cbSrcLength);
    long rate = 0;
    int channels = 0;
    if (!decoder.format(rate, channels) || uint32_t(rate) != stream->dst.nSamplesPerSec ||
        channels != stream->dst.nChannels)
        return ACMERR_NOTPOSSIBLE;
    header->cbDstLengthUsed = uint32_t(decoder.decode(header->pbDst, header->cbDstLength));
    header->cbSrcLengthUsed = header->cbSrcLength;
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

uint32_t acmStreamUnprepareHeader(HACMSTREAM stream, TAcmStreamHeader *header, uint32_t)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!header)
        return MMSYSERR_INVALPARAM;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

uint32_t acmStreamClose(HACMSTREAM stream, uint32_t)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    delete stream;
    return MMSYSERR_NOERROR;
}
