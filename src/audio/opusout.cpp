// SPDX-License-Identifier: GPL-3.0-or-later
#include "opusout.h"

#include "auexception.h"
#include "aufilestream.h"
#include "samples.h"
#include "tags/tracktags.h"

#include <algorithm>
#include <opusenc.h>
#include <utility>

struct TOpusOut::Codec {
    OggOpusComments *comments = nullptr;
    OggOpusEnc *encoder = nullptr;
    QIODevice *out = nullptr;
    bool writeFailed = false;

    ~Codec()
    {
        if (encoder)
            ope_encoder_destroy(encoder);
        if (comments)
            ope_comments_destroy(comments);
    }

    static int write(void *client, const unsigned char *data, opus_int32 bytes)
    {
        auto *c = static_cast<Codec *>(client);
        if (c->out->write(reinterpret_cast<const char *>(data), bytes) == bytes)
            return 0;
        c->writeFailed = true;
        return 1;
    }
    static int close(void *) { return 0; }
};

TOpusOut::TOpusOut(QObject *parent) : TTaggedFileOut(parent) {}

TOpusOut::~TOpusOut()
{
    Shutdown();
}

void TOpusOut::Prepare()
{
    m_frames = -1; // not yet under way: a run that never started is no "no audio"
    const int rate = openRun("Opus");
    // libopusenc asserts (and the process aborts) below 100 Hz.
    if (rate < 100 || rate > 768000)
        throw EAuException(QStringLiteral("Opus files take audio of 100 to 768000 Hz, not %1 Hz").arg(rate));
    m_codec = std::make_unique<Codec>();
    Codec &c = *m_codec;
    c.out = m_file.get();
    c.comments = ope_comments_create();
    if (!c.comments)
        throw EAuException(QStringLiteral("Out of memory"));
    const auto failed = [this](const char *what, int error) {
        return EAuException(
            QStringLiteral("%1: the Opus encoder could not %2 (%3)")
                .arg(m_fileName, QLatin1String(what), QString::fromUtf8(ope_strerror(error))));
    };
    for (int i = 0; i < Comments.Count(); ++i) {
        const QByteArray name = Comments.NameAt(i).toUpper().toUtf8();
        const QByteArray value = Comments.AsWideText(Comments.NameAt(i)).toUtf8();
        if (value.isEmpty() || name.isEmpty() || name.contains('='))
            continue;
        if (const int error = ope_comments_add(c.comments, name.constData(), value.constData());
            error != OPE_OK)
            throw failed("take its tags", error);
    }
    if (!Cover.isEmpty()) {
        if (const int error = ope_comments_add_picture_from_memory(c.comments, Cover.constData(),
                                                                   size_t(Cover.size()), 3, nullptr);
            error != OPE_OK)
            throw failed("take the cover", error);
    }
    static const OpusEncCallbacks callbacks = {&Codec::write, &Codec::close};
    int error = OPE_OK;
    c.encoder = ope_encoder_create_callbacks(&callbacks, &c, c.comments, rate, m_channels,
                                             m_channels > 2 ? 1 : 0, &error);
    if (!c.encoder)
        throw failed("start", error);
    // Unconstrained VBR, as opusenc makes it: libopus's default is constrained VBR, which spends the whole
    // bit rate on every packet. The depth of the samples tells the encoder what noise floor to leave alone.
    for (const auto &[set, what] :
         {std::pair{ope_encoder_ctl(c.encoder, OPUS_SET_BITRATE(opus_int32(BitRate) * 1000)),
                    "take the bit rate"},
          std::pair{ope_encoder_ctl(c.encoder, OPUS_SET_VBR_CONSTRAINT(0)), "use VBR"},
          std::pair{ope_encoder_ctl(c.encoder, OPUS_SET_LSB_DEPTH(std::clamp(m_bits, 8, 24))),
                    "take the sample depth"}})
        if (set != OPE_OK)
            throw failed(what, set);
    m_frames = 0;
}

bool TOpusOut::DoOutput(bool abort)
{
    if (abort)
        return false;
    Codec &c = *m_codec;
    constexpr uint32_t chunkFrames = 4800;
    const uint32_t frameBytes = uint32_t(m_channels * m_bits / 8);
    m_pcm.resize(size_t(chunkFrames) * frameBytes);
    const uint32_t frames = Input()->ReadFully(m_pcm.data(), uint32_t(m_pcm.size())) / frameBytes;
    if (frames == 0)
        return false;
    m_frames += frames;
    m_samples.resize(size_t(frames) * size_t(m_channels));
    Samples::ToFloat(m_pcm.data(), m_samples.data(), m_samples.size(), m_bits);
    ClearUpperVectorState(); // libopus is SSE code
    if (const int error = ope_encoder_write_float(c.encoder, m_samples.data(), int(frames)); error != OPE_OK)
        throw EAuException(
            c.writeFailed ? writeFailure(QStringLiteral("Error writing"), m_file.get())
                          : QStringLiteral("%1: %2").arg(m_fileName, QString::fromUtf8(ope_strerror(error))));
    return true;
}

void TOpusOut::Done()
{
    QString failure;
    // Only a run whose encoder is still sound is finished: the last pages go out then.
    if (m_codec && m_codec->encoder && !m_codec->writeFailed) {
        if (const int error = ope_encoder_drain(m_codec->encoder); error != OPE_OK || m_codec->writeFailed)
            failure = m_codec->writeFailed
                          ? writeFailure(QStringLiteral("Error writing"), m_file.get())
                          : QStringLiteral("%1: %2").arg(m_fileName, QString::fromUtf8(ope_strerror(error)));
    }
    if (m_file && failure.isEmpty() && !flushed(m_file.get()))
        failure = writeFailure(QStringLiteral("Error writing"), m_file.get());
    // A stream of no samples is no valid Opus file (its length comes out negative): none is made.
    if (m_file && failure.isEmpty() && m_frames == 0 && !Stopped)
        failure = m_fileName + QStringLiteral(": no audio");
    m_codec.reset();
    closeRun();
    if (!failure.isEmpty())
        reportFailure(failure);
}
