// SPDX-License-Identifier: GPL-3.0-or-later
#include "flacout.h"

#include "auexception.h"
#include "aufilestream.h"
#include "tags/tracktags.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <QFileInfo>
#include <cstring>
#include <vector>

FLAC__StreamMetadata *FlacCommentBlock(const TVorbisTags &comments)
{
    FLAC__StreamMetadata *block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    for (int i = 0; i < comments.Count(); ++i) {
        const QByteArray name = comments.NameAt(i).toUpper().toUtf8();
        const QByteArray value = comments.AsWideText(comments.NameAt(i)).toUtf8();
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        if (value.isEmpty() || name == "METADATA_BLOCK_PICTURE" ||
            !FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.constData(),
                                                                            value.constData()))
            continue;
        FLAC__metadata_object_vorbiscomment_append_comment(block, entry, false);
    }
    return block;
}

struct TFlacOut::Codec {
    FLAC__StreamEncoder *encoder = nullptr;
    std::vector<FLAC__StreamMetadata *> blocks; // kept until the encoder has finished with them
    std::vector<FLAC__int32> samples;
    std::vector<uint8_t> pcm;
    QIODevice *out = nullptr;
    bool writeFailed = false;

    ~Codec()
    {
        if (encoder)
            FLAC__stream_encoder_delete(encoder);
        for (FLAC__StreamMetadata *block : blocks)
            FLAC__metadata_object_delete(block);
    }

    static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder *, const FLAC__byte buffer[],
                                                size_t bytes, uint32_t, uint32_t, void *client)
    {
        auto *c = static_cast<Codec *>(client);
        if (c->out->write(reinterpret_cast<const char *>(buffer), qint64(bytes)) == qint64(bytes))
            return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
        c->writeFailed = true;
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    // The encoder goes back to fill in STREAMINFO (sample count, MD5) when it finishes.
    static FLAC__StreamEncoderSeekStatus seek(const FLAC__StreamEncoder *, FLAC__uint64 offset, void *client)
    {
        auto *c = static_cast<Codec *>(client);
        return c->out->seek(qint64(offset)) ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                                            : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
    static FLAC__StreamEncoderTellStatus tell(const FLAC__StreamEncoder *, FLAC__uint64 *offset, void *client)
    {
        *offset = FLAC__uint64(static_cast<Codec *>(client)->out->pos());
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }

    QString stateText() const
    {
        return QString::fromLatin1(FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(encoder)]);
    }
};

TFlacOut::TFlacOut(QObject *parent) : TTaggedFileOut(parent) {}

TFlacOut::~TFlacOut()
{
    Shutdown();
}

void TFlacOut::Prepare()
{
    const int rate = openRun("FLAC");
    TAuInput *input = Input();
    m_codec = std::make_unique<Codec>();
    Codec &c = *m_codec;
    c.out = m_file.get();
    c.encoder = FLAC__stream_encoder_new();
    if (!c.encoder)
        throw EAuException(QStringLiteral("Out of memory"));
    FLAC__stream_encoder_set_channels(c.encoder, uint32_t(m_channels));
    // 32-bit input (integer, or float as the WAV reader hands it out) is kept as 24 bits, rounded: what
    // players and the reference decoder take, and below the noise of any recording.
    FLAC__stream_encoder_set_bits_per_sample(c.encoder, uint32_t(std::min(m_bits, 24)));
    FLAC__stream_encoder_set_sample_rate(c.encoder, uint32_t(rate));
    FLAC__stream_encoder_set_compression_level(c.encoder, uint32_t(std::clamp(CompressionLevel, 0, 8)));
    const int64_t size = input->Size;
    const int frameBytes = m_channels * m_bits / 8;
    if (size > 0)
        FLAC__stream_encoder_set_total_samples_estimate(c.encoder, FLAC__uint64(size / frameBytes));

    c.blocks.push_back(FlacCommentBlock(Comments));
    if (!Cover.isEmpty()) {
        FLAC__StreamMetadata *picture = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE);
        c.blocks.push_back(picture);
        picture->data.picture.type = FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
        char mime[] = "image/jpeg";
        FLAC__byte description[] = "";
        FLAC__metadata_object_picture_set_mime_type(picture, mime, true);
        FLAC__metadata_object_picture_set_description(picture, description, true);
        FLAC__metadata_object_picture_set_data(picture, reinterpret_cast<FLAC__byte *>(Cover.data()),
                                               FLAC__uint32(Cover.size()), true);
    }
    FLAC__StreamMetadata *padding = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING);
    padding->length = 4096; // room for later tag edits without rewriting the file
    c.blocks.push_back(padding);
    FLAC__stream_encoder_set_metadata(c.encoder, c.blocks.data(), uint32_t(c.blocks.size()));

    const FLAC__StreamEncoderInitStatus status =
        FLAC__stream_encoder_init_stream(c.encoder, &Codec::write, &Codec::seek, &Codec::tell, nullptr, &c);
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK && c.writeFailed) // its header could not be written
        throw EAuException(writeFailure(QStringLiteral("Error writing"), m_file.get()));
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        throw EAuException(
            QStringLiteral("%1: the FLAC encoder could not start (%2)")
                .arg(m_fileName, QString::fromLatin1(FLAC__StreamEncoderInitStatusString[status])));
}

bool TFlacOut::DoOutput(bool abort)
{
    if (abort)
        return false;
    Codec &c = *m_codec;
    const int sampleBytes = m_bits / 8;
    const int frameBytes = m_channels * sampleBytes;
    c.pcm.resize(size_t(frameBytes) * 4608);
    const uint8_t *data = c.pcm.data();
    const uint32_t frames = Input()->ReadFully(c.pcm.data(), uint32_t(c.pcm.size())) / uint32_t(frameBytes);
    if (frames == 0)
        return false;
    c.samples.resize(size_t(frames) * size_t(m_channels));
    FLAC__int32 *out = c.samples.data();
    const size_t count = c.samples.size();
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *s = data + i * size_t(sampleBytes);
        switch (m_bits) {
        case 8:
            out[i] = int(s[0]) - 128;
            break;
        case 16:
            out[i] = int16_t(uint16_t(s[0] | s[1] << 8));
            break;
        case 32: {
            const int64_t wide =
                int32_t(uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16 | uint32_t(s[3]) << 24);
            out[i] = FLAC__int32(std::min<int64_t>((wide + 128) >> 8, (1 << 23) - 1));
            break;
        }
        default:
            out[i] = int32_t(uint32_t(s[0] << 8 | s[1] << 16 | uint32_t(s[2]) << 24)) >> 8;
            break;
        }
    }
    if (!FLAC__stream_encoder_process_interleaved(c.encoder, out, frames))
        throw EAuException(c.writeFailed ? writeFailure(QStringLiteral("Error writing"), m_file.get())
                                         : QStringLiteral("%1: %2").arg(m_fileName, c.stateText()));
    return true;
}

void TFlacOut::Done()
{
    QString failure;
    if (m_codec && m_codec->encoder &&
        FLAC__stream_encoder_get_state(m_codec->encoder) == FLAC__STREAM_ENCODER_OK) {
        // Writes the last frame and goes back to complete STREAMINFO.
        if (!FLAC__stream_encoder_finish(m_codec->encoder) || m_codec->writeFailed)
            failure = m_codec->writeFailed ? writeFailure(QStringLiteral("Error writing"), m_file.get())
                                           : QStringLiteral("%1: %2").arg(m_fileName, m_codec->stateText());
    }
    if (m_file && failure.isEmpty() && !flushed(m_file.get()))
        failure = writeFailure(QStringLiteral("Error writing"), m_file.get());
    m_codec.reset();
    closeRun();
    if (!failure.isEmpty())
        reportFailure(failure);
}
