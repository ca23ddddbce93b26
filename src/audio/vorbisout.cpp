// SPDX-License-Identifier: GPL-3.0-or-later
#include "vorbisout.h"

#include "auexception.h"
#include "aufilestream.h"
#include "samples.h"
#include "shell/settings.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <vorbis/vorbisenc.h>

struct TVorbisOut::Codec {
    vorbis_info info{};
    vorbis_comment comment{};
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    ogg_stream_state stream{};
    bool infoReady = false, commentReady = false, dspReady = false, blockReady = false, streamReady = false;

    ~Codec()
    {
        if (streamReady)
            ogg_stream_clear(&stream);
        if (blockReady)
            vorbis_block_clear(&block);
        if (dspReady)
            vorbis_dsp_clear(&dsp);
        if (commentReady)
            vorbis_comment_clear(&comment);
        if (infoReady)
            vorbis_info_clear(&info);
    }
};

int VorbisBitsPerSecond(int value)
{
    static const int rates[] = {-1,     24000,  32000,  45000,  48000,  56000,  64000,  80000,  96000,
                                112000, 128000, 144000, 160000, 192000, 224000, 256000, 320000, 499000};
    return value >= 0 && value < int(std::size(rates)) ? rates[value] : -1;
}

TVorbisOut::TVorbisOut(QObject *parent) : TAuFileOut(parent) {}

TVorbisOut::~TVorbisOut()
{
    Shutdown();
}

// The nominal rate leads: a lower minimum follows it down, a lower maximum follows it up, and the quality
// mode (brAutoSelect) takes the maximum with it.
void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate value)
{
    m_nominal = value;
    if (value < m_minimum)
        m_minimum = value;
    if (m_maximum < value)
        m_maximum = value;
    if (value == brAutoSelect)
        m_maximum = brAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate value)
{
    if (m_nominal != brAutoSelect && (value == brAutoSelect || value >= m_nominal))
        m_maximum = value;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate value)
{
    if (value <= m_nominal)
        m_minimum = value;
}

void TVorbisOut::writePage(const void *header, long headerBytes, const void *body, long bodyBytes)
{
    if (m_out->write(static_cast<const char *>(header), headerBytes) != headerBytes ||
        m_out->write(static_cast<const char *>(body), bodyBytes) != bodyBytes)
        throw EAuException(writeFailure(QStringLiteral("Error writing ogg file"), m_out));
}

void TVorbisOut::Prepare()
{
    const bool append = FileMode == foAppend && QFileInfo::exists(m_fileName);
    if (StreamAssigned) {
        m_out = Stream;
    } else {
        if (m_fileName.isEmpty())
            throw EAuException(QStringLiteral("File name is not assigned."));
        m_file = std::make_unique<TAuFileStream>(m_fileName,
                                                 append ? uint16_t(TAuFileStream::fmOpenReadWrite | ShareMode)
                                                        : TAuFileStream::fmCreate);
        m_out = m_file.get();
    }
    TAuInput *input = Input();
    input->Init();
    if (append)
        m_out->seek(m_out->size());
    m_endOfStream = false;
    m_channels = input->GetChannels();
    m_bits = input->GetBitsPerSample();
    const int rate = input->GetSampleRate();

    m_codec = std::make_unique<Codec>();
    Codec &c = *m_codec;
    ClearUpperVectorState(); // the set-up computes the psychoacoustic tables: much SSE work
    vorbis_info_init(&c.info);
    c.infoReady = true;
    const QString failed =
        QStringLiteral("Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.");
    if (m_nominal == brAutoSelect) {
        if (vorbis_encode_setup_vbr(&c.info, m_channels, rate, Compression) != 0 ||
            vorbis_encode_setup_init(&c.info) != 0)
            throw EAuException(failed);
    } else {
        const int nominal = VorbisBitsPerSecond(m_nominal);
        int minimum = VorbisBitsPerSecond(m_minimum);
        if (minimum == -1)
            minimum = nominal;
        if (vorbis_encode_init(&c.info, m_channels, rate, VorbisBitsPerSecond(m_maximum), nominal, minimum) !=
            0)
            throw EAuException(failed);
    }
    vorbis_comment_init(&c.comment);
    c.commentReady = true;
    for (int i = 0; i < Comments.Count(); ++i) {
        const QString name = Comments.NameAt(i);
        const QByteArray value = Comments.AsWideText(name).toUtf8();
        if (!value.isEmpty())
            vorbis_comment_add_tag(&c.comment, name.toUtf8().constData(), value.constData());
    }
    if (vorbis_analysis_init(&c.dsp, &c.info) != 0)
        throw EAuException(failed);
    c.dspReady = true;
    vorbis_block_init(&c.dsp, &c.block);
    c.blockReady = true;
    ogg_stream_init(&c.stream, Serial);
    c.streamReady = true;
    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&c.dsp, &c.comment, &header, &comments, &codebooks);
    ogg_stream_packetin(&c.stream, &header);
    ogg_stream_packetin(&c.stream, &comments);
    ogg_stream_packetin(&c.stream, &codebooks);
    ogg_page page;
    while (ogg_stream_flush(&c.stream, &page) != 0)
        writePage(page.header, page.header_len, page.body, page.body_len);
}

bool TVorbisOut::DoOutput(bool abort)
{
    if (abort || m_endOfStream)
        return false;
    Codec &c = *m_codec;
    // Small pieces: after every block it analyses, the encoder moves all the audio it still holds to the
    // front of its buffer, so large pieces cost a copy of them per block.
    constexpr uint32_t chunkFrames = 1024;
    const int frameBytes = m_channels * m_bits / 8;
    m_block.resize(size_t(chunkFrames) * size_t(std::max(frameBytes, 1)));
    const uint8_t *data = m_block.data();
    const uint32_t bytes = Input()->ReadFully(m_block.data(), uint32_t(m_block.size()));
    const int frames = frameBytes ? int(bytes) / frameBytes : 0;
    float **buffer = vorbis_analysis_buffer(&c.dsp, int(chunkFrames));
    if (frames > 0) {
        for (int ch = 0; ch < m_channels; ++ch) {
            float *out = buffer[ch];
            for (int i = 0; i < frames; ++i) {
                const uint8_t *s = data + size_t(i) * size_t(frameBytes) + size_t(ch) * size_t(m_bits / 8);
                switch (m_bits) {
                case 8:
                    out[i] = (int(s[0]) - 128) / 128.0f;
                    break;
                case 16: {
                    int16_t v;
                    std::memcpy(&v, s, 2);
                    out[i] = v / 32768.0f;
                    break;
                }
                case 32: {
                    int32_t v;
                    std::memcpy(&v, s, 4);
                    out[i] = float(double(v) / 2147483648.0);
                    break;
                }
                default: {
                    int16_t high;
                    std::memcpy(&high, s + 1, 2);
                    out[i] = (high * 256 + s[0]) / 8388608.0f;
                    break;
                }
                }
            }
        }
    }
    ClearUpperVectorState();
    vorbis_analysis_wrote(&c.dsp, frames);
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&c.dsp, &c.block) == 1) {
        ClearUpperVectorState(); // writing the last page may have run AVX code
        vorbis_analysis(&c.block, nullptr);
        vorbis_bitrate_addblock(&c.block);
        while (vorbis_bitrate_flushpacket(&c.dsp, &packet)) {
            ogg_stream_packetin(&c.stream, &packet);
            while (!m_endOfStream && ogg_stream_pageout(&c.stream, &page) != 0) {
                writePage(page.header, page.header_len, page.body, page.body_len);
                if (ogg_page_eos(&page))
                    m_endOfStream = true;
            }
        }
    }
    return true;
}

void TVorbisOut::Done()
{
    const QString failure =
        m_out && !flushed(m_out) ? writeFailure(QStringLiteral("Error writing ogg file"), m_out) : QString();
    if (!StreamAssigned)
        m_file.reset();
    m_out = nullptr;
    if (Input())
        Input()->Flush();
    Comments.Clear();
    m_codec.reset();
    if (!failure.isEmpty())
        throw EAuException(failure);
}

void ApplyOggSettings(TVorbisOut &writer, const TOptionsSetting &settings)
{
    const TOggOptions &ogg = settings.OggOptions;
    const auto listItem = [](int index) {
        return index >= 1 && index <= 14 ? TVorbisBitRate(index + 2) : brAutoSelect;
    };
    if (ogg.IsUseCompress) {
        writer.Compression = float(ogg.CompressPosition - 10) / 100.0f;
        writer.SetDesiredMaximumBitrate(brAutoSelect);
        writer.SetDesiredNominalBitrate(brAutoSelect);
        writer.SetMinimumBitrate(brAutoSelect);
    } else {
        writer.SetDesiredMaximumBitrate(listItem(ogg.MaxBitRate));
        writer.SetDesiredNominalBitrate(listItem(ogg.NomalBitRate));
        writer.SetMinimumBitrate(listItem(ogg.MinBitRate));
        writer.Compression = 0.2f;
    }
}
