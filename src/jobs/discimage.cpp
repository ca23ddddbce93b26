// SPDX-License-Identifier: GPL-3.0-or-later
#include "discimage.h"

#include "audio/flacout.h"
#include "shell/helpers.h"
#include "tags/tracktags.h"
#include "tags/vorbistags.h"
#include "wavein.h"
#include "wavheader.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <QFile>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t chunkFrames = 588 * 32;

// The CUESHEET block of the image: each track at its first index (INDEX 00 when known), the lead-out after
// the last sample.
FLAC__StreamMetadata *cueSheetBlock(const TRipSession &session, QString *error)
{
    FLAC__StreamMetadata *block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_CUESHEET);
    FLAC__StreamMetadata_CueSheet &sheet = block->data.cue_sheet;
    std::strncpy(sheet.media_catalog_number, session.Mcn.toLatin1().left(128).constData(), 128);
    sheet.lead_in = 2 * 44100;
    sheet.is_cd = true;
    unsigned n = 0;
    for (const TImageTrack &place : ImageLayout(session)) {
        const TTrackRip &track = *std::find_if(session.Tracks.begin(), session.Tracks.end(),
                                               [&](const TTrackRip &t) { return t.Track == place.Track; });
        FLAC__metadata_object_cuesheet_insert_blank_track(block, n);
        FLAC__StreamMetadata_CueSheet_Track &entry = sheet.tracks[n];
        entry.number = FLAC__byte(place.Track);
        const int64_t first = place.Index0 >= 0 ? place.Index0 : place.Index1;
        entry.offset = FLAC__uint64(first) * 588;
        std::strncpy(entry.isrc, track.Isrc.toLatin1().left(12).constData(), 12);
        entry.type = 0; // audio
        entry.pre_emphasis = track.PreEmphasis && !session.Deemphasis;
        unsigned i = 0;
        if (place.Index0 >= 0) {
            FLAC__metadata_object_cuesheet_track_insert_blank_index(block, n, i);
            sheet.tracks[n].indices[i].number = 0;
            sheet.tracks[n].indices[i++].offset = 0;
        }
        FLAC__metadata_object_cuesheet_track_insert_blank_index(block, n, i);
        sheet.tracks[n].indices[i].number = 1;
        sheet.tracks[n].indices[i].offset = FLAC__uint64(place.Index1 - first) * 588;
        ++n;
    }
    FLAC__metadata_object_cuesheet_insert_blank_track(block, n);
    sheet.tracks[n].number = 170; // the lead-out
    sheet.tracks[n].offset = FLAC__uint64(ImageSectors(session)) * 588;
    const char *violation = nullptr;
    if (!FLAC__metadata_object_cuesheet_is_legal(block, true, &violation)) {
        *error = QStringLiteral("the disc's layout makes no CD cue sheet: ") + QString::fromUtf8(violation);
        FLAC__metadata_object_delete(block);
        return nullptr;
    }
    return block;
}

// Streams the WAVs' audio into `write`, a chunk at a time. False with the file and the reason.
bool streamTracks(const QStringList &wavs, const std::function<bool(const uint8_t *, uint32_t)> &write,
                  QString *error, const std::atomic<bool> *cancel)
{
    std::vector<uint8_t> chunk(chunkFrames * 4);
    for (const QString &wav : wavs) {
        TWaveIn in;
        in.SetFileName(wav);
        if (!in.TryOpen()) {
            *error = wav + QStringLiteral(": ") + in.OpenError;
            return false;
        }
        in.Init();
        for (;;) {
            if (cancel && *cancel) {
                *error = wav + QStringLiteral(": stopped");
                return false;
            }
            const uint32_t bytes = in.ReadFully(chunk.data(), uint32_t(chunk.size()));
            if (bytes == 0)
                break;
            if (!write(chunk.data(), bytes)) {
                in.Flush();
                return false;
            }
        }
        in.Flush();
    }
    return true;
}

bool writeFlac(const TRipSession &session, const QStringList &wavs, const QString &working, int level,
               const TTrackTags &tags, QString *error, const std::atomic<bool> *cancel)
{
    FLAC__StreamMetadata *sheet = cueSheetBlock(session, error);
    if (!sheet)
        return false;
    TVorbisTags comments;
    SetVorbisComments(comments, tags);
    FLAC__StreamMetadata *blocks[] = {FlacCommentBlock(comments), sheet};
    const auto cleanUp = [&](FLAC__StreamEncoder *encoder) {
        FLAC__stream_encoder_delete(encoder);
        for (FLAC__StreamMetadata *block : blocks)
            FLAC__metadata_object_delete(block);
    };
    std::unique_ptr<FLAC__StreamEncoder, decltype(cleanUp)> encoder(FLAC__stream_encoder_new(), cleanUp);
    FLAC__stream_encoder_set_channels(encoder.get(), 2);
    FLAC__stream_encoder_set_bits_per_sample(encoder.get(), 16);
    FLAC__stream_encoder_set_sample_rate(encoder.get(), 44100);
    FLAC__stream_encoder_set_compression_level(encoder.get(), uint32_t(std::clamp(level, 0, 8)));
    FLAC__stream_encoder_set_total_samples_estimate(encoder.get(), FLAC__uint64(ImageSectors(session)) * 588);
    FLAC__stream_encoder_set_metadata(encoder.get(), blocks, 2);
    if (FLAC__stream_encoder_init_file(encoder.get(), QFile::encodeName(working).constData(), nullptr,
                                       nullptr) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        *error =
            working + QStringLiteral(": ") +
            QString::fromUtf8(FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(encoder.get())]);
        return false;
    }
    std::vector<FLAC__int32> samples(chunkFrames * 2);
    const bool streamed = streamTracks(
        wavs,
        [&](const uint8_t *data, uint32_t bytes) {
            const uint32_t count = bytes / 2;
            for (uint32_t i = 0; i < count; ++i)
                samples[i] = int16_t(uint16_t(data[2 * i] | (data[2 * i + 1] << 8)));
            if (FLAC__stream_encoder_process_interleaved(encoder.get(), samples.data(), count / 2))
                return true;
            *error = working + QStringLiteral(": ") +
                     QString::fromUtf8(
                         FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(encoder.get())]);
            return false;
        },
        error, cancel);
    const bool finished = FLAC__stream_encoder_finish(encoder.get());
    if (streamed && !finished)
        *error = working + QStringLiteral(": the FLAC encoder could not finish the file");
    return streamed && finished;
}

bool writeWav(const TRipSession &session, const QStringList &wavs, const QString &working, QString *error,
              const std::atomic<bool> *cancel)
{
    QFile out(working);
    const uint32_t dataSize = uint32_t(ImageSectors(session) * 2352);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(CdAudioWavHeader(dataSize)) != CanonicalWavHeaderSize) {
        *error = working + QStringLiteral(": ") + out.errorString();
        return false;
    }
    const bool streamed = streamTracks(
        wavs,
        [&](const uint8_t *data, uint32_t bytes) {
            if (out.write(reinterpret_cast<const char *>(data), bytes) == qint64(bytes))
                return true;
            *error = working + QStringLiteral(": ") + out.errorString();
            return false;
        },
        error, cancel);
    if (streamed && !out.flush()) {
        *error = working + QStringLiteral(": ") + out.errorString();
        return false;
    }
    return streamed;
}

} // namespace

TResult<> WriteDiscImage(TRipSession &session, const QStringList &wavs, const QString &target, bool flac,
                         int compressionLevel, const TTrackTags &tags, const std::atomic<bool> *cancel)
{
    if (wavs.size() != qsizetype(session.Tracks.size()))
        return TFailure{target + QStringLiteral(": not every track was read")};
    for (qsizetype i = 0; i < wavs.size(); ++i) { // the layout needs every file's length first
        TWaveIn in;
        in.SetFileName(wavs[i]);
        if (!in.TryOpen())
            return TFailure{wavs[i] + QStringLiteral(": ") + in.OpenError};
        if (in.GetChannels() != 2 || in.GetBitsPerSample() != 16 || in.GetSampleRate() != 44100)
            return TFailure{wavs[i] + QStringLiteral(": not CD audio (16-bit stereo 44,100 Hz)")};
        session.Tracks[size_t(i)].Frames = in.GetTotalSamples();
        if (in.GetTotalSamples() % 588 != 0)
            return TFailure{wavs[i] + QStringLiteral(": not whole sectors of audio")};
    }
    const QString working = WorkingFileOf(target);
    QString error;
    const bool written = flac ? writeFlac(session, wavs, working, compressionLevel, tags, &error, cancel)
                              : writeWav(session, wavs, working, &error, cancel);
    if (!SettleWorkingFile(working, target, written, written ? &error : nullptr))
        return TFailure{error};
    return {};
}
