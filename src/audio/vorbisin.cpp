// SPDX-License-Identifier: GPL-3.0-or-later
#include "vorbisin.h"

#include "auexception.h"
#include "aufilestream.h"
#include "samples.h"

#include <cstdio>
#include <vorbis/vorbisfile.h>

struct TVorbisIn::Decoder {
    OggVorbis_File file{};
    bool open = false;
    ~Decoder()
    {
        if (open)
            ov_clear(&file);
    }
};

// libvorbisfile reads the file through the source's stream.
struct VorbisStreamCallbacks {
    static size_t read(void *ptr, size_t size, size_t count, void *source)
    {
        auto *self = static_cast<TVorbisIn *>(source);
        const qint64 got = self->m_stream->read(static_cast<char *>(ptr), qint64(size * count));
        return got > 0 ? size_t(got) : 0;
    }
    static int seek(void *source, ogg_int64_t offset, int whence)
    {
        auto *self = static_cast<TVorbisIn *>(source);
        if (!self->Seekable || self->m_stream->isSequential())
            return -1;
        const qint64 base = whence == SEEK_CUR   ? self->m_stream->pos()
                            : whence == SEEK_END ? self->m_stream->size()
                                                 : 0;
        return self->m_stream->seek(base + offset) ? 0 : -1;
    }
    static int close(void *source)
    {
        auto *self = static_cast<TVorbisIn *>(source);
        // A stream the source opened goes with it; an assigned one is rewound for its owner.
        if (self->m_file) {
            self->m_file.reset();
        } else if (self->m_stream && !self->m_stream->isSequential()) {
            self->m_stream->seek(0);
        }
        self->m_stream = nullptr;
        return 0;
    }
    static long tell(void *source) { return long(static_cast<TVorbisIn *>(source)->m_stream->pos()); }
};

TVorbisIn::TVorbisIn(QObject *parent) : TAuTaggedFileIn(parent) {}

TVorbisIn::~TVorbisIn()
{
    CloseFile();
}

const TVorbisTags &TVorbisIn::VorbisComments()
{
    ensureOpen();
    return m_comments;
}

void TVorbisIn::OpenFile()
{
    std::lock_guard lock(FLock);
    if (OpenCount > 0)
        return;
    Valid = true;
    if (StreamAssigned) {
        m_stream = Stream;
    } else {
        try {
            m_file = std::make_unique<TAuFileStream>(m_fileName, TAuFileStream::fmOpenRead |
                                                                     TAuFileStream::fmShareDenyWrite);
        } catch (const EAuException &e) {
            Valid = false;
            throw EAuException(QStringLiteral("Failed to open stream: ") + e.message());
        }
        m_stream = m_file.get();
    }
    m_decoder = std::make_unique<Decoder>();
    const ov_callbacks callbacks{VorbisStreamCallbacks::read, VorbisStreamCallbacks::seek,
                                 VorbisStreamCallbacks::close, VorbisStreamCallbacks::tell};
    const int tested = ov_test_callbacks(this, &m_decoder->file, nullptr, 0, callbacks);
    if (tested != 0) {
        // On failure the library leaves the stream to us.
        Valid = false;
        m_decoder.reset();
        m_file.reset();
        m_stream = nullptr;
        throw EAuException(QStringLiteral("Failed to open an ogg file: ") + QString::number(tested));
    }
    m_decoder->open = true;
    if (ov_test_open(&m_decoder->file) != 0) {
        Valid = false;
        m_decoder.reset();
        throw EAuException(QStringLiteral("Failed to open an ogg file: ") + QString::number(OV_EBADHEADER));
    }

    m_comments.Clear();
    CommonTags.Clear();
    if (const vorbis_comment *comment = ov_comment(&m_decoder->file, -1)) {
        for (int i = 0; i < comment->comments; ++i) {
            const QByteArray entry(comment->user_comments[i], comment->comment_lengths[i]);
            const qsizetype eq = entry.indexOf('=');
            if (eq <= 0)
                continue;
            const QString name = QString::fromUtf8(entry.left(eq)).toLower();
            static const QStringList wanted = {"artist", "album", "title", "date", "genre", "tracknumber"};
            if (wanted.contains(name))
                m_comments.SetValue(name, QString::fromUtf8(entry.mid(eq + 1)));
        }
    }
    CommonTags.SetArtist(m_comments.Artist());
    CommonTags.SetAlbum(m_comments.Album());
    CommonTags.SetTitle(m_comments.Title());
    CommonTags.SetYear(m_comments.Date());
    CommonTags.SetTrack(m_comments.Track());
    CommonTags.SetGenre(m_comments.Genre());

    const vorbis_info *info = ov_info(&m_decoder->file, -1);
    Channels = info ? info->channels : 0;
    SampleRate = info ? int(info->rate) : 0;
    BitsPerSample = 16;
    m_upper = info ? info->bitrate_upper : 0;
    m_nominal = info ? info->bitrate_nominal : 0;
    m_lower = info ? info->bitrate_lower : 0;
    const ogg_int64_t total = ov_pcm_total(&m_decoder->file, -1);
    Size = total > 0 ? total * 2 * Channels : 0;
    m_currentSection = -1;
    m_start = m_end = 0;
    ++OpenCount;
}

void TVorbisIn::CloseFile()
{
    std::lock_guard lock(FLock);
    if (OpenCount > 0) {
        m_decoder.reset(); // ov_clear closes the stream through the callbacks
        m_file.reset();
        m_stream = nullptr;
        OpenCount = 0;
    }
}

void TVorbisIn::DoGetData(uint8_t *&buffer, uint32_t &bytes)
{
    if (!Busy || !m_decoder)
        throw EAuException(QStringLiteral("The Stream is not opened"));
    if (m_start >= m_end) {
        m_start = m_end = 0;
        while (!EndOfData && m_end < bufferBytes) {
            ClearUpperVectorState();
            const long got = ov_read(&m_decoder->file, reinterpret_cast<char *>(m_buffer) + m_end,
                                     int(bufferBytes - m_end), 0, 2, 1, &m_currentSection);
            if (got == OV_HOLE)
                continue; // a gap in the data; decoding goes on after it
            if (got <= 0) {
                EndOfData = true;
                break;
            }
            m_end += uint32_t(got);
            const int64_t size = Size;
            if (size > 0 && Position + m_end >= size) {
                m_end = uint32_t(std::max<int64_t>(size - Position, 0));
                if (m_end == 0)
                    EndOfData = true;
                break;
            }
        }
    }
    bytes = std::min(bytes, m_end - m_start);
    buffer = m_buffer + m_start;
    m_start += bytes;
}

bool TVorbisIn::DoSeek(int64_t &sample)
{
    ensureOpen();
    if (!m_decoder || ov_pcm_seek(&m_decoder->file, sample) != 0)
        return false;
    m_start = m_end = 0;
    EndOfData = false;
    return true;
}
