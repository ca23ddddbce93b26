// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoders.h"

#include "auexception.h"
#include "samples.h"
#include "tags/filetags.h"

#include <FLAC/stream_decoder.h>
#include <QFile>
#include <mpg123.h>
#include <mutex>
#include <opusfile.h>
#include <vorbis/vorbisfile.h>

namespace {

EAuException failure(const QString &path, const QString &reason)
{
    return EAuException(path + QStringLiteral(": ") + reason);
}

// FLAC through libFLAC's file decoder, its MD5 signature checked at the end.
class FlacFileIn final : public TDecodedFileIn {
public:
    explicit FlacFileIn(const QString &path) : TDecodedFileIn(path)
    {
        m_decoder = FLAC__stream_decoder_new();
        if (!m_decoder)
            throw failure(path, QStringLiteral("out of memory"));
        FLAC__stream_decoder_set_md5_checking(m_decoder, true);
        const FLAC__StreamDecoderInitStatus status = FLAC__stream_decoder_init_file(
            m_decoder, QFile::encodeName(path).constData(), &write, &metadata, &error, this);
        if (status != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            throw failure(path, QString::fromLatin1(FLAC__StreamDecoderInitStatusString[status]));
        if (!FLAC__stream_decoder_process_until_end_of_metadata(m_decoder) || m_channels == 0)
            throw failure(path, m_problem.isEmpty() ? QStringLiteral("not a FLAC stream") : m_problem);
    }
    ~FlacFileIn() override
    {
        if (m_decoder)
            FLAC__stream_decoder_delete(m_decoder);
    }

protected:
    bool refill() override
    {
        m_fill = 0;
        while (m_fill == 0) {
            if (FLAC__stream_decoder_get_state(m_decoder) == FLAC__STREAM_DECODER_END_OF_STREAM) {
                if (!FLAC__stream_decoder_finish(m_decoder))
                    throw failure(m_path, QStringLiteral("the audio does not match its MD5 signature"));
                return false;
            }
            if (!FLAC__stream_decoder_process_single(m_decoder) || !m_problem.isEmpty())
                throw failure(m_path, m_problem.isEmpty()
                                          ? QString::fromLatin1(
                                                FLAC__stream_decoder_get_resolved_state_string(m_decoder))
                                          : m_problem);
        }
        return true;
    }

private:
    static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                const FLAC__int32 *const channels[], void *client)
    {
        auto *self = static_cast<FlacFileIn *>(client);
        if (int(frame->header.channels) != self->m_channels) {
            self->m_problem = QStringLiteral("the number of channels changes inside the stream");
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const int bytes = self->m_bits / 8;
        const int shift = self->m_bits - self->m_sourceBits;
        const uint32_t frames = frame->header.blocksize;
        self->m_data.resize(size_t(frames) * size_t(self->m_channels) * size_t(bytes));
        uint8_t *out = self->m_data.data();
        for (uint32_t i = 0; i < frames; ++i) {
            for (int c = 0; c < self->m_channels; ++c) {
                const uint32_t v = uint32_t(channels[c][i]) << shift;
                if (bytes == 1) {
                    *out++ = uint8_t(v + 128);
                } else {
                    for (int b = 0; b < bytes; ++b)
                        *out++ = uint8_t(v >> (8 * b));
                }
            }
        }
        self->m_read = 0;
        self->m_fill = uint32_t(self->m_data.size());
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *block, void *client)
    {
        auto *self = static_cast<FlacFileIn *>(client);
        if (block->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        const FLAC__StreamMetadata_StreamInfo &info = block->data.stream_info;
        self->m_sourceBits = int(info.bits_per_sample);
        const int bits = info.bits_per_sample <= 8    ? 8
                         : info.bits_per_sample <= 16 ? 16
                         : info.bits_per_sample <= 24 ? 24
                                                      : 32;
        self->setFormat(bits, int(info.channels), int(info.sample_rate), int64_t(info.total_samples));
    }
    static void error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus status, void *client)
    {
        static_cast<FlacFileIn *>(client)->m_problem =
            QString::fromLatin1(FLAC__StreamDecoderErrorStatusString[status]);
    }

    FLAC__StreamDecoder *m_decoder = nullptr;
    int m_sourceBits = 16;
    QString m_problem;
};

// Ogg Vorbis through libvorbisfile, 16 bits.
class VorbisFileIn final : public TDecodedFileIn {
public:
    explicit VorbisFileIn(const QString &path) : TDecodedFileIn(path)
    {
        if (const int error = ov_fopen(QFile::encodeName(path).constData(), &m_file); error != 0)
            throw failure(path,
                          QStringLiteral("not an Ogg Vorbis stream libvorbisfile can read (%1)").arg(error));
        m_open = true;
        const vorbis_info *info = ov_info(&m_file, -1);
        if (!info || info->channels < 1)
            throw failure(path, QStringLiteral("an Ogg Vorbis stream without channels"));
        const ogg_int64_t total = ov_pcm_total(&m_file, -1);
        setFormat(16, info->channels, int(info->rate), total > 0 ? int64_t(total) : 0);
    }
    ~VorbisFileIn() override
    {
        if (m_open)
            ov_clear(&m_file);
    }

protected:
    bool refill() override
    {
        m_data.resize(16384);
        for (;;) {
            int section = 0;
            ClearUpperVectorState();
            const long got = ov_read(&m_file, reinterpret_cast<char *>(m_data.data()), int(m_data.size()), 0,
                                     2, 1, &section);
            if (got == OV_HOLE)
                continue; // a gap in the stream: the decoder goes on after it
            if (got < 0)
                throw failure(m_path, QStringLiteral("the Ogg Vorbis stream is damaged (%1)").arg(got));
            const vorbis_info *info = ov_info(&m_file, section);
            if (got > 0 && info && info->channels != m_channels)
                throw failure(m_path, QStringLiteral("the number of channels changes inside the stream"));
            m_read = 0;
            m_fill = uint32_t(got);
            return got > 0;
        }
    }

private:
    OggVorbis_File m_file{};
    bool m_open = false;
};

// Opus through libopusfile: 48 kHz, 16 bits.
class OpusFileIn final : public TDecodedFileIn {
public:
    explicit OpusFileIn(const QString &path) : TDecodedFileIn(path)
    {
        int error = 0;
        m_file = op_open_file(QFile::encodeName(path).constData(), &error);
        if (!m_file)
            throw failure(path, QStringLiteral("not an Opus stream libopusfile can read (%1)").arg(error));
        const ogg_int64_t total = op_pcm_total(m_file, -1);
        setFormat(16, op_channel_count(m_file, -1), 48000, total > 0 ? int64_t(total) : 0);
    }
    ~OpusFileIn() override
    {
        if (m_file)
            op_free(m_file);
    }

protected:
    bool refill() override
    {
        constexpr int frames = 5760; // 120 ms, the longest Opus packet
        m_data.resize(size_t(frames) * size_t(m_channels) * 2);
        for (;;) {
            int link = 0;
            const int got =
                op_read(m_file, reinterpret_cast<opus_int16 *>(m_data.data()), frames * m_channels, &link);
            if (got == OP_HOLE)
                continue;
            if (got < 0)
                throw failure(m_path, QStringLiteral("the Opus stream is damaged (%1)").arg(got));
            if (got > 0 && op_channel_count(m_file, link) != m_channels)
                throw failure(m_path, QStringLiteral("the number of channels changes inside the stream"));
            m_read = 0;
            m_fill = uint32_t(got) * uint32_t(m_channels) * 2;
            return got > 0;
        }
    }

private:
    OggOpusFile *m_file = nullptr;
};

// MP3 through libmpg123, gapless (the encoder's delay and padding left out), 16 bits. The length libmpg123
// gives before decoding is a guess from the file size unless an Info frame states it; the audio decoded is
// what counts. A stream damaged past its first frame decodes as far as it can, with a warning saying where.
class Mp3FileIn final : public TDecodedFileIn {
public:
    explicit Mp3FileIn(const QString &path) : TDecodedFileIn(path)
    {
        static std::once_flag once;
        std::call_once(once, [] { mpg123_init(); });
        int error = MPG123_OK;
        m_handle = mpg123_new(nullptr, &error);
        if (!m_handle)
            throw failure(path, QString::fromUtf8(mpg123_plain_strerror(error)));
        mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
        if (mpg123_open(m_handle, QFile::encodeName(path).constData()) != MPG123_OK)
            throw failure(path, QString::fromUtf8(mpg123_strerror(m_handle)));
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(m_handle, &rate, &channels, &encoding) != MPG123_OK)
            throw failure(path, QString::fromUtf8(mpg123_strerror(m_handle)));
        mpg123_format_none(m_handle);
        mpg123_format(m_handle, rate, channels, MPG123_ENC_SIGNED_16);
        const off_t length = mpg123_length(m_handle);
        long accurate = 0;
        mpg123_getstate(m_handle, MPG123_ACCURATE, &accurate, nullptr);
        m_stated = accurate != 0 && length > 0 ? int64_t(length) : -1;
        setFormat(16, channels, int(rate), length > 0 ? int64_t(length) : 0);
    }
    ~Mp3FileIn() override
    {
        if (m_handle) {
            mpg123_close(m_handle);
            mpg123_delete(m_handle);
        }
    }

protected:
    bool refill() override
    {
        if (m_ended)
            return false;
        m_data.resize(32768);
        for (;;) {
            size_t done = 0;
            const int result = mpg123_read(m_handle, m_data.data(), m_data.size(), &done);
            if (result == MPG123_NEW_FORMAT && done == 0)
                continue;
            if (result != MPG123_OK && result != MPG123_DONE && result != MPG123_NEW_FORMAT) {
                const QString reason = QString::fromUtf8(mpg123_strerror(m_handle));
                if (m_frames == 0 && done == 0)
                    throw failure(m_path, reason);
                addWarning(
                    QStringLiteral("%1: the MP3 stream cannot be decoded past %2 (%3); the rest is left out")
                        .arg(m_path, where(), reason));
                m_ended = true;
            }
            m_frames += int64_t(done) / SampleSize;
            if (result == MPG123_DONE || (done == 0 && !m_ended)) {
                m_ended = true;
                if (m_stated > m_frames)
                    addWarning(
                        QStringLiteral("%1: the MP3 stream ends at %2, before the %3 its header announces")
                            .arg(m_path, where(), timeOf(m_stated)));
            }
            m_read = 0;
            m_fill = uint32_t(done);
            return done > 0;
        }
    }

private:
    QString timeOf(int64_t frames) const
    {
        const double seconds = m_rate > 0 ? double(frames) / m_rate : 0.0;
        const int minutes = int(seconds / 60);
        return QStringLiteral("%1:%2").arg(minutes).arg(seconds - minutes * 60.0, 5, 'f', 2,
                                                        QLatin1Char('0'));
    }
    QString where() const
    {
        return QStringLiteral("%1 (byte %2)")
            .arg(timeOf(m_frames))
            .arg(int64_t(mpg123_tell_stream(m_handle)));
    }

    mpg123_handle *m_handle = nullptr;
    int64_t m_stated = -1; // the length an Info frame states; -1 when it is only guessed
    int64_t m_frames = 0;  // sample frames decoded
    bool m_ended = false;
};

} // namespace

TFileFormat AudioFileKindOf(const QString &path)
{
    // The tag layer knows every format but the MP4 box.
    if (const TFileFormat format = TagFormatOf(path); format != TFileFormat::None)
        return format;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.read(8).mid(4) == "ftyp")
        return TFileFormat::Mp4;
    return TFileFormat::None;
}

std::unique_ptr<TDecodedFileIn> TDecodedFileIn::Open(const QString &path)
{
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        throw failure(path, probe.errorString());
    probe.close();
    switch (AudioFileKindOf(path)) {
    case TFileFormat::Flac:
        return std::make_unique<FlacFileIn>(path);
    case TFileFormat::OggVorbis:
        return std::make_unique<VorbisFileIn>(path);
    case TFileFormat::Opus:
        return std::make_unique<OpusFileIn>(path);
    case TFileFormat::Mp3:
        return std::make_unique<Mp3FileIn>(path);
    default:
        throw failure(path,
                      QStringLiteral("not an audio file this program decodes (FLAC, Ogg Vorbis, Opus, MP3)"));
    }
}

TDecodedFileIn::TDecodedFileIn(const QString &path) : m_path(path) {}

TDecodedFileIn::~TDecodedFileIn() = default;

void TDecodedFileIn::setFormat(int bits, int channels, int rate, int64_t frames)
{
    m_bits = bits;
    m_channels = channels;
    m_rate = rate;
    m_totalFrames = frames;
    SampleSize = uint16_t(channels * bits / 8);
    // What the stream's headers say (STREAMINFO, the last granule, a Xing frame or libmpg123's guess from
    // the file size) may be wrong either way: the audio decoded decides.
    Size = frames > 0 ? frames * SampleSize : -1;
    SizeIsEstimate = true;
}

void TDecodedFileIn::addWarning(const QString &text)
{
    std::lock_guard lock(m_warningLock);
    m_warnings << text;
}

QStringList TDecodedFileIn::Warnings() const
{
    std::lock_guard lock(m_warningLock);
    return m_warnings;
}

void TDecodedFileIn::DoGetData(uint8_t *&buffer, uint32_t &bytes)
{
    if (takePrebufferedOrEnd(buffer, bytes))
        return;
    TakeBuffered(
        m_data, m_read, m_fill, [this] { return refill(); }, buffer, bytes);
    if (!buffer)
        EndOfData = true;
}
