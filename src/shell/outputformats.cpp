// SPDX-License-Identifier: GPL-3.0-or-later
#include "outputformats.h"

#include "settings.h"

#include <algorithm>

namespace {

constexpr TOutputFormatInfo formats[] = {
    {OutputFormat::Mp3, "MP3", ".mp3", "mp3", "MP3 file(*.MP3)", TEncoderKind::Lame, JobKind::WavToMp3},
    {OutputFormat::Wav, "WAV", ".wav", "wav", "WAV file(*.WAV)", TEncoderKind::None, JobKind::ExtractTracks},
    {OutputFormat::Ogg, "OGG", ".ogg", "ogg", "OGG file(*.OGG)", TEncoderKind::Writer, JobKind::WavToOgg},
    {OutputFormat::Wma, "WMA", ".wma", "wma", "WMA file(*.WMA)", TEncoderKind::WmaProgram, JobKind::WavToWma},
    {OutputFormat::Flac, "FLAC", ".flac", "flac", "FLAC file(*.FLAC)", TEncoderKind::Writer,
     JobKind::WavToFlac},
    {OutputFormat::Opus, "OPUS", ".opus", "opus", "Opus file(*.OPUS)", TEncoderKind::Writer,
     JobKind::WavToOpus},
};

} // namespace

std::span<const TOutputFormatInfo> OutputFormats()
{
    return formats;
}

const TOutputFormatInfo *OutputFormatInfo(int32_t format)
{
    return format >= 0 && size_t(format) < std::size(formats) ? &formats[format] : nullptr;
}

const TOutputFormatInfo *OutputFormatByKey(QStringView key)
{
    const auto *row = std::find_if(std::begin(formats), std::end(formats), [key](const TOutputFormatInfo &f) {
        return key.compare(QLatin1String(f.Key), Qt::CaseInsensitive) == 0;
    });
    return row == std::end(formats) ? nullptr : row;
}

const TOutputFormatInfo *OutputFormatOfConversion(JobKind kind)
{
    if (kind == JobKind::ExtractTracks)
        return nullptr;
    if (kind == JobKind::RecordingToMp3)
        return OutputFormatInfo(OutputFormat::Mp3);
    const auto *row = std::find_if(std::begin(formats), std::end(formats),
                                   [kind](const TOutputFormatInfo &f) { return f.Conversion == kind; });
    return row == std::end(formats) ? nullptr : row;
}

int EncodedEventOf(int32_t format)
{
    const TOutputFormatInfo *info = OutputFormatInfo(format);
    switch (info ? info->Encoder : TEncoderKind::Writer) {
    case TEncoderKind::Lame:
        return ProcessEvent::Mp3Encoded;
    case TEncoderKind::WmaProgram:
        return ProcessEvent::WmaEncoded;
    default:
        return ProcessEvent::FileWritten;
    }
}
