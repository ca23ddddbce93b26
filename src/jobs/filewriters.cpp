// SPDX-License-Identifier: GPL-3.0-or-later
#include "filewriters.h"

#include "shell/settings.h"
#include "tags/tracktags.h"

#include <stdexcept>

TAuFileOut *TFileWriters::Of(int32_t format)
{
    switch (format) {
    case OutputFormat::Ogg:
        return &Vorbis;
    case OutputFormat::Flac:
        return &Flac;
    case OutputFormat::Opus:
        return &Opus;
    default:
        return nullptr;
    }
}

TAuFileOut &TFileWriters::Prepare(int32_t format, const TOptionsSetting &settings, const TTrackTags *tags,
                                  TOggSetup ogg)
{
    switch (format) {
    case OutputFormat::Ogg:
        if (ogg == TOggSetup::FromSettings)
            ApplyOggSettings(Vorbis, settings);
        else
            Vorbis.Compression = settings.OggOptions.IsUseCompress
                                     ? float(settings.OggOptions.CompressPosition - 10) / 100.0f
                                     : 0.2f;
        Vorbis.Comments.Clear();
        if (tags)
            SetVorbisComments(Vorbis.Comments, *tags);
        return Vorbis;
    case OutputFormat::Flac:
        Flac.CompressionLevel = settings.FlacOptions.CompressionLevel;
        Flac.Comments.Clear();
        Flac.Cover.clear();
        if (tags)
            Flac.SetTags(*tags);
        return Flac;
    case OutputFormat::Opus:
        Opus.BitRate = settings.OpusOptions.BitRate;
        Opus.Comments.Clear();
        Opus.Cover.clear();
        if (tags)
            Opus.SetTags(*tags);
        return Opus;
    default:
        throw std::logic_error("no writer of our own makes this format");
    }
}

void TFileWriters::StopAll()
{
    for (TAuFileOut *writer : All())
        writer->Stop(false);
}
