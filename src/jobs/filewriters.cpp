// SPDX-License-Identifier: GPL-3.0-or-later
#include "filewriters.h"

#include "audio/flacout.h"
#include "audio/opusout.h"
#include "audio/vorbisout.h"
#include "shell/settings.h"
#include "tags/tracktags.h"

#include <stdexcept>

namespace {

// Each writer of our own: the format it makes, how it is made, and how it is set up for a file.
struct TWriterRow {
    int32_t Format;
    std::unique_ptr<TAuFileOut> (*Make)();
    void (*Setup)(TAuFileOut &writer, const TOptionsSetting &settings, const TTrackTags *tags, TOggSetup ogg);
};

const TWriterRow writerRows[] = {
    {OutputFormat::Ogg, [] { return std::unique_ptr<TAuFileOut>(std::make_unique<TVorbisOut>()); },
     [](TAuFileOut &writer, const TOptionsSetting &settings, const TTrackTags *tags, TOggSetup ogg) {
         auto &vorbis = static_cast<TVorbisOut &>(writer);
         if (ogg == TOggSetup::FromSettings)
             ApplyOggSettings(vorbis, settings);
         else
             vorbis.Compression = settings.OggOptions.IsUseCompress
                                      ? float(settings.OggOptions.CompressPosition - 10) / 100.0f
                                      : 0.2f;
         vorbis.Comments.Clear();
         if (tags)
             SetVorbisComments(vorbis.Comments, *tags);
     }},
    {OutputFormat::Flac, [] { return std::unique_ptr<TAuFileOut>(std::make_unique<TFlacOut>()); },
     [](TAuFileOut &writer, const TOptionsSetting &settings, const TTrackTags *tags, TOggSetup) {
         auto &flac = static_cast<TFlacOut &>(writer);
         flac.CompressionLevel = settings.FlacOptions.CompressionLevel;
         flac.Comments.Clear();
         flac.Cover.clear();
         if (tags)
             flac.SetTags(*tags);
     }},
    {OutputFormat::Opus, [] { return std::unique_ptr<TAuFileOut>(std::make_unique<TOpusOut>()); },
     [](TAuFileOut &writer, const TOptionsSetting &settings, const TTrackTags *tags, TOggSetup) {
         auto &opus = static_cast<TOpusOut &>(writer);
         opus.BitRate = settings.OpusOptions.BitRate;
         opus.Comments.Clear();
         opus.Cover.clear();
         if (tags)
             opus.SetTags(*tags);
     }},
};

const TWriterRow *rowOf(int32_t format)
{
    for (const TWriterRow &row : writerRows)
        if (row.Format == format)
            return &row;
    return nullptr;
}

} // namespace

TFileWriters::TFileWriters()
{
    for (const TWriterRow &row : writerRows)
        m_writers.emplace(row.Format, row.Make());
}

TFileWriters::~TFileWriters() = default;

std::vector<TAuFileOut *> TFileWriters::All() const
{
    std::vector<TAuFileOut *> all;
    for (const auto &[format, writer] : m_writers)
        all.push_back(writer.get());
    return all;
}

TAuFileOut *TFileWriters::Of(int32_t format)
{
    const auto it = m_writers.find(format);
    return it == m_writers.end() ? nullptr : it->second.get();
}

TAuFileOut &TFileWriters::Prepare(int32_t format, const TOptionsSetting &settings, const TTrackTags *tags,
                                  TOggSetup ogg)
{
    TAuFileOut *writer = Of(format);
    if (!writer)
        throw std::logic_error("no writer of our own makes this format");
    rowOf(format)->Setup(*writer, settings, tags, ogg);
    return *writer;
}

void TFileWriters::StopAll()
{
    for (TAuFileOut *writer : All())
        writer->Stop(false);
}
