// SPDX-License-Identifier: GPL-3.0-or-later
// WM8EUTIL: the WMA encoding program Sondrel runs for its WMA files.
//
//   WM8EUTIL -input IN.wav -output OUT.wma -a_setting PROFILE [-author TEXT] [-description TEXT]
//            [-title TEXT] [-album TEXT] [-albumartist TEXT] [-year TEXT] [-genre TEXT] [-track N]
//
// Reads any WAV file Sondrel reads, converts it to the profile's sample rate and channels, encodes Windows
// Media Audio version 2 at the profile's bit rate (the nearest the encoder takes for that rate and channel
// count), and writes an ASF file with the texts given as its metadata (title, author and description in the
// content description; WM/AlbumTitle, WM/AlbumArtist, WM/Year, WM/Genre and WM/TrackNumber beside them).
// Prints progress lines and a last line with "100%"; on failure prints a line with "ERROR" and the reason and
// exits with status 1.
//
//   WM8EUTIL -decode -input IN -output OUT.wav
//
// Decodes the audio of a file FFmpeg reads (WMA, M4A/AAC, ALAC...) into a WAV file at its own rate and
// channels: 16 bits, or 32 for sources of more than 16 bits. Progress and failures as above.
#include "audio/encoderprocess.h"
#include "jobs/wavein.h"
#include "jobs/wavheader.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct Profile {
    int bitRate;
    int sampleRate;
    int channels;
};

Profile findProfile(const std::string &name)
{
    for (const TWmaProfile &p : WmaProfiles) {
        if (name == p.name) {
            int kbps = 0, rateCode = 0, channels = 0;
            std::sscanf(p.name, "%d_%d_%d", &kbps, &rateCode, &channels);
            const int rate = rateCode == 44   ? 44100
                             : rateCode == 22 ? 22050
                             : rateCode == 11 ? 11025
                                              : rateCode * 1000;
            return Profile{kbps * 1000, rate, channels};
        }
    }
    throw Failure("unknown profile " + name);
}

// Set once this run has opened the output for writing: only then is a failed run's output ours to remove.
bool outputWritten = false;

class Encoder {
public:
    Encoder(const std::string &output, const Profile &profile,
            const std::vector<std::pair<std::string, std::string>> &metadata)
        : m_path(output)
    {
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
        if (!codec)
            throw Failure("this system's libavcodec has no WMA encoder");
        if (avformat_alloc_output_context2(&m_format, nullptr, "asf", output.c_str()) < 0 || !m_format)
            throw Failure("cannot make an ASF file");
        m_stream = avformat_new_stream(m_format, nullptr);
        // The encoder takes only some bit rates for a rate and channel count: try the profile's first, then
        // ever farther ones.
        int opened = -1;
        for (int step = 0; step < 200 && opened < 0; ++step) {
            const int delta = (step + 1) / 2 * 1000 * (step % 2 ? -1 : 1);
            const int rate = profile.bitRate + delta;
            if (rate < 4000)
                continue;
            avcodec_free_context(&m_codec);
            m_codec = avcodec_alloc_context3(codec);
            m_codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
            m_codec->sample_rate = profile.sampleRate;
            av_channel_layout_default(&m_codec->ch_layout, profile.channels);
            m_codec->bit_rate = rate;
            m_codec->time_base = AVRational{1, profile.sampleRate};
            if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
                m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            opened = avcodec_open2(m_codec, codec, nullptr);
        }
        if (opened < 0)
            throw Failure("the WMA encoder takes no bit rate near " + std::to_string(profile.bitRate / 1000) +
                          " kbit/s");
        avcodec_parameters_from_context(m_stream->codecpar, m_codec);
        m_stream->time_base = m_codec->time_base;
        for (const auto &[key, value] : metadata) {
            if (!value.empty())
                av_dict_set(&m_format->metadata, key.c_str(), value.c_str(), 0);
        }
        int result = avio_open(&m_format->pb, output.c_str(), AVIO_FLAG_WRITE);
        if (result < 0)
            throw Failure("cannot write " + output + ": " + avError(result));
        outputWritten = true;
        result = avformat_write_header(m_format, nullptr);
        if (result < 0)
            throw Failure("cannot write " + output + ": " + avError(result));
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }

    ~Encoder()
    {
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_codec);
        if (m_format) {
            if (m_format->pb)
                avio_closep(&m_format->pb);
            avformat_free_context(m_format);
        }
    }

    int frameSize() const { return m_codec->frame_size; }
    int channels() const { return m_codec->ch_layout.nb_channels; }

    // Planar float samples, of which the first real ones are audio; null at the end.
    void encode(float *const *planes, int samples, int real = -1)
    {
        int result = 0;
        if (planes) {
            av_frame_unref(m_frame);
            m_frame->nb_samples = samples;
            m_frame->format = AV_SAMPLE_FMT_FLTP;
            m_frame->sample_rate = m_codec->sample_rate;
            av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout);
            if (av_frame_get_buffer(m_frame, 0) < 0)
                throw Failure("out of memory");
            for (int c = 0; c < channels(); ++c)
                std::memcpy(m_frame->data[c], planes[c], size_t(samples) * sizeof(float));
            m_frame->pts = m_pts;
            m_pts += real < 0 ? samples : real;
            result = avcodec_send_frame(m_codec, m_frame);
        } else {
            result = avcodec_send_frame(m_codec, nullptr);
        }
        if (result < 0)
            throw Failure("encoding failed: " + avError(result));
        while ((result = avcodec_receive_packet(m_codec, m_packet)) >= 0) {
            // The last frame was padded to a whole frame; its packet lasts only as long as the audio in it.
            if (m_packet->pts != AV_NOPTS_VALUE) {
                const int64_t whole = m_packet->duration > 0 ? m_packet->duration : m_codec->frame_size;
                m_packet->duration = std::clamp<int64_t>(m_pts - m_packet->pts, 0, whole);
            }
            av_packet_rescale_ts(m_packet, m_codec->time_base, m_stream->time_base);
            m_packet->stream_index = m_stream->index;
            if (av_interleaved_write_frame(m_format, m_packet) < 0)
                throw Failure("cannot write " + m_path);
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            throw Failure("encoding failed: " + avError(result));
    }

    void finish()
    {
        encode(nullptr, 0);
        if (av_write_trailer(m_format) < 0)
            throw Failure("cannot write " + m_path);
    }

private:
    std::string m_path;
    AVFormatContext *m_format = nullptr;
    AVStream *m_stream = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
    int64_t m_pts = 0;
};

AVSampleFormat packedFormat(int bits)
{
    switch (bits) {
    case 8:
        return AV_SAMPLE_FMT_U8;
    case 16:
        return AV_SAMPLE_FMT_S16;
    case 32:
        return AV_SAMPLE_FMT_S32;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

void run(const std::string &input, const std::string &output, const Profile &profile,
         const std::vector<std::pair<std::string, std::string>> &metadata)
{
    TWaveIn in;
    in.SetFileName(QFile::decodeName(input.c_str()));
    try {
        if (!in.TryOpen())
            throw Failure("cannot read " + input + ": not a WAV file Sondrel reads");
    } catch (const std::exception &e) {
        throw Failure("cannot read " + input + ": " + e.what());
    }
    const int inChannels = in.GetChannels();
    const int inRate = in.GetSampleRate();
    const int inBits = in.GetBitsPerSample();
    // 24-bit samples go to the resampler widened to 32 bits.
    const int bits = inBits == 24 ? 32 : inBits;
    if (packedFormat(bits) == AV_SAMPLE_FMT_NONE)
        throw Failure("cannot read " + input + ": unsupported sample width");

    Encoder encoder(output, profile, metadata);
    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, inChannels);
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, encoder.channels());
    SwrContext *swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_FLTP, profile.sampleRate, &inLayout,
                            packedFormat(bits), inRate, 0, nullptr) < 0 ||
        swr_init(swr) < 0)
        throw Failure("cannot convert " + std::to_string(inRate) + " Hz to " +
                      std::to_string(profile.sampleRate) + " Hz");

    const int frameSize = encoder.frameSize();
    std::vector<std::vector<float>> fifo(size_t(encoder.channels()));
    std::vector<std::vector<float>> converted(size_t(encoder.channels()));
    const auto flushFifo = [&](bool all) {
        while (!fifo[0].empty() && (fifo[0].size() >= size_t(frameSize) || all)) {
            const int n = int(std::min<size_t>(fifo[0].size(), size_t(frameSize)));
            // The encoder takes whole frames only: the last one is filled up with silence, and only its real
            // length counts.
            for (auto &f : fifo)
                f.resize(std::max<size_t>(f.size(), size_t(frameSize)), 0.0f);
            std::vector<float *> planes;
            for (auto &f : fifo)
                planes.push_back(f.data());
            encoder.encode(planes.data(), frameSize, n);
            for (auto &f : fifo)
                f.erase(f.begin(), f.begin() + frameSize);
            if (n < frameSize)
                break;
        }
    };
    const auto convert = [&](const uint8_t *data, int frames) {
        const int room = swr_get_out_samples(swr, frames);
        for (auto &c : converted)
            c.resize(size_t(std::max(room, 1)));
        std::vector<uint8_t *> planes;
        for (auto &c : converted)
            planes.push_back(reinterpret_cast<uint8_t *>(c.data()));
        const int got = swr_convert(swr, planes.data(), room, data ? &data : nullptr, frames);
        if (got < 0)
            throw Failure("sample conversion failed");
        for (size_t c = 0; c < fifo.size(); ++c)
            fifo[c].insert(fifo[c].end(), converted[c].begin(), converted[c].begin() + got);
        flushFifo(false);
    };

    in.Init();
    const int64_t total = std::max<int64_t>(in.Size, 1);
    int64_t done = 0;
    int lastPercent = -1;
    std::vector<uint8_t> widened;
    const int frameBytes = inChannels * inBits / 8;
    for (;;) {
        uint8_t *data = nullptr;
        uint32_t bytes = 65536 - 65536 % uint32_t(frameBytes);
        in.GetData(data, bytes);
        if (bytes == 0)
            break;
        done += bytes;
        const int frames = int(bytes) / frameBytes;
        if (inBits == 24) {
            widened.resize(size_t(frames) * size_t(inChannels) * 4);
            for (int i = 0; i < frames * inChannels; ++i) {
                const int32_t v = int32_t(uint32_t(data[3 * i]) << 8 | uint32_t(data[3 * i + 1]) << 16 |
                                          uint32_t(data[3 * i + 2]) << 24);
                std::memcpy(widened.data() + 4 * i, &v, 4);
            }
            data = widened.data();
        }
        convert(data, frames);
        const int percent = int(std::min<int64_t>(done * 100 / total, 99));
        if (percent != lastPercent && percent % 5 == 0) {
            std::printf("Encoding: %d%%\n", percent);
            std::fflush(stdout);
            lastPercent = percent;
        }
    }
    in.Flush();
    convert(nullptr, 0);
    flushFifo(true);
    encoder.finish();
    swr_free(&swr);
    std::printf("Encoding: 100%%\n");
    std::fflush(stdout);
}

// A WAV file written as the decoder hands out samples; its sizes are filled in at the end.
class WavFile {
public:
    WavFile(const std::string &path, int channels, int rate, int bits)
        : m_file(std::fopen(path.c_str(), "wb"))
    {
        if (!m_file)
            throw Failure("cannot write " + path + ": " + std::strerror(errno));
        outputWritten = true;
        header(0, uint16_t(channels), uint32_t(rate), uint16_t(bits));
    }
    ~WavFile()
    {
        if (m_file)
            std::fclose(m_file);
    }
    void write(const uint8_t *data, size_t bytes)
    {
        if (std::fwrite(data, 1, bytes, m_file) != bytes)
            throw Failure(std::string("write error: ") + std::strerror(errno));
        m_bytes += bytes;
    }
    void finish(int channels, int rate, int bits)
    {
        if (m_bytes > 0xFFFFFFFFu - 36)
            throw Failure("the audio is too long for a WAV file");
        if (std::fseek(m_file, 0, SEEK_SET) != 0)
            throw Failure(std::string("write error: ") + std::strerror(errno));
        header(uint32_t(m_bytes), uint16_t(channels), uint32_t(rate), uint16_t(bits));
        if (std::fclose(std::exchange(m_file, nullptr)) != 0)
            throw Failure(std::string("write error: ") + std::strerror(errno));
    }

private:
    void header(uint32_t data, uint16_t channels, uint32_t rate, uint16_t bits)
    {
        const QByteArray h = CanonicalWavHeader(channels, rate, bits, data);
        if (std::fwrite(h.constData(), 1, size_t(h.size()), m_file) != size_t(h.size()))
            throw Failure(std::string("write error: ") + std::strerror(errno));
    }
    std::FILE *m_file;
    uint64_t m_bytes = 0;
};

void decode(const std::string &input, const std::string &output)
{
    AVFormatContext *format = nullptr;
    if (const int error = avformat_open_input(&format, input.c_str(), nullptr, nullptr); error < 0)
        throw Failure("cannot read " + input + ": " + avError(error));
    const std::unique_ptr<AVFormatContext *, void (*)(AVFormatContext **)> closeFormat(&format,
                                                                                       avformat_close_input);
    avformat_find_stream_info(format, nullptr);
    const AVCodec *codec = nullptr;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0 || !codec)
        throw Failure("cannot read " + input + ": no audio stream FFmpeg decodes");
    AVCodecContext *context = avcodec_alloc_context3(codec);
    const std::unique_ptr<AVCodecContext *, void (*)(AVCodecContext **)> freeContext(&context,
                                                                                     avcodec_free_context);
    if (avcodec_parameters_to_context(context, format->streams[stream]->codecpar) < 0 ||
        avcodec_open2(context, codec, nullptr) < 0)
        throw Failure("cannot read " + input + ": the " + codec->name + " decoder does not start");
    const int bits = context->bits_per_raw_sample > 16 ? 32 : 16;
    const int channels = context->ch_layout.nb_channels;
    const int rate = context->sample_rate;
    SwrContext *swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &context->ch_layout, bits == 32 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16,
                            rate, &context->ch_layout, context->sample_fmt, rate, 0, nullptr) < 0 ||
        swr_init(swr) < 0)
        throw Failure("cannot convert the decoder's samples");
    const std::unique_ptr<SwrContext *, void (*)(SwrContext **)> freeSwr(&swr, swr_free);
    WavFile wav(output, channels, rate, bits);
    AVPacket *packet = av_packet_alloc();
    const std::unique_ptr<AVPacket *, void (*)(AVPacket **)> freePacket(&packet, av_packet_free);
    AVFrame *frame = av_frame_alloc();
    const std::unique_ptr<AVFrame *, void (*)(AVFrame **)> freeFrame(&frame, av_frame_free);
    if (!packet || !frame)
        throw Failure("out of memory");
    std::vector<uint8_t> samples;
    const int64_t size = std::max<int64_t>(avio_size(format->pb), 1);
    int lastPercent = -1;
    const auto drain = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            samples.resize(size_t(frame->nb_samples) * size_t(channels) * size_t(bits / 8));
            uint8_t *out = samples.data();
            const int got =
                swr_convert(swr, &out, frame->nb_samples, const_cast<const uint8_t **>(frame->extended_data),
                            frame->nb_samples);
            if (got < 0)
                throw Failure("sample conversion failed");
            wav.write(samples.data(), size_t(got) * size_t(channels) * size_t(bits / 8));
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) {
            const int percent = int(std::min<int64_t>(std::max<int64_t>(packet->pos, 0) * 100 / size, 99));
            if (avcodec_send_packet(context, packet) < 0)
                throw Failure("cannot read " + input + ": the audio is damaged");
            drain();
            if (percent != lastPercent && percent % 5 == 0) {
                std::printf("Decoding: %d%%\n", percent);
                std::fflush(stdout);
                lastPercent = percent;
            }
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    drain();
    wav.finish(channels, rate, bits);
    std::printf("Decoding: 100%%\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    av_log_set_level(AV_LOG_QUIET);
    if (argc == 6 && std::strcmp(argv[1], "-decode") == 0 && std::strcmp(argv[2], "-input") == 0 &&
        std::strcmp(argv[4], "-output") == 0) {
        try {
            decode(argv[3], argv[5]);
            return 0;
        } catch (const std::exception &e) {
            if (outputWritten)
                std::remove(argv[5]);
            std::printf("ERROR: %s\n", e.what());
            return 1;
        }
    }
    std::string input, output, setting;
    // Our options and the metadata keys they become.
    static const std::pair<const char *, const char *> texts[] = {
        {"-author", "author"},       {"-description", "comment"},        {"-title", "title"},
        {"-album", "WM/AlbumTitle"}, {"-albumartist", "WM/AlbumArtist"}, {"-year", "WM/Year"},
        {"-genre", "WM/Genre"},      {"-track", "WM/TrackNumber"}};
    std::vector<std::pair<std::string, std::string>> metadata;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        const auto text = std::find_if(std::begin(texts), std::end(texts),
                                       [&option](const auto &t) { return option == t.first; });
        if (option == "-input") {
            input = value;
        } else if (option == "-output") {
            output = value;
        } else if (option == "-a_setting") {
            setting = value;
        } else if (text != std::end(texts)) {
            metadata.emplace_back(text->second, value);
        } else {
            std::printf("ERROR: unknown option %s\n", option.c_str());
            return 1;
        }
    }
    if (argc % 2 == 0 || input.empty() || output.empty() || setting.empty()) {
        std::printf("ERROR: usage: WM8EUTIL -input IN.wav -output OUT.wma -a_setting PROFILE "
                    "[-author TEXT] [-description TEXT] [-title TEXT] [-album TEXT] [-albumartist TEXT] "
                    "[-year TEXT] [-genre TEXT] [-track N]\n");
        return 1;
    }
    try {
        run(input, output, findProfile(setting), metadata);
        return 0;
    } catch (const std::exception &e) {
        if (outputWritten)
            std::remove(output.c_str());
        std::printf("ERROR: %s\n", e.what());
        return 1;
    }
}
