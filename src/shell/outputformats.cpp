// SPDX-License-Identifier: GPL-3.0-or-later
#include "outputformats.h"

#include "settings.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace {

constexpr TFormatSetting flacLevel = {
    "FlacOptions",
    "CompressionLevel",
    0,
    8,
    "--flac-level",
    "FLAC level 0 to 8",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    [](TOptionsSetting &s) -> int32_t & { return s.FlacOptions.CompressionLevel; }};

constexpr TFormatSetting opusBitRate = {
    "OpusOptions",
    "BitRate",
    MinOpusBitRate,
    MaxOpusBitRate,
    "--opus-bitrate",
    "Opus at N kbit/s",
    "TabSheetOpus",
    "seOpusBitRate",
    "Bitrate (variable):",
    " kbit/s",
    [](TOptionsSetting &s) -> int32_t & { return s.OpusOptions.BitRate; }};

constexpr TOutputFormatInfo formats[] = {
    {OutputFormat::Mp3, "MP3", "MP3", "RES_WAV_TO_MP3", ".mp3", "mp3", "MP3 file(*.MP3)", TEncoderKind::Lame,
     JobKind::WavToMp3, TContainer::MpegAudio, TLoudnessTags::ReplayGain, false, nullptr},
    {OutputFormat::Wav, "WAV", "WAV", nullptr, ".wav", "wav", "WAV file(*.WAV)", TEncoderKind::None,
     JobKind::ExtractTracks, TContainer::Wave, TLoudnessTags::ReplayGain, false, nullptr},
    {OutputFormat::Ogg, "OGG", "Ogg Vorbis", "RES_WAV_TO_OGG", ".ogg", "ogg", "OGG file(*.OGG)",
     TEncoderKind::Writer, JobKind::WavToOgg, TContainer::Ogg, TLoudnessTags::ReplayGain, true, nullptr},
    {OutputFormat::Wma, "WMA", "WMA", "RES_WAV_TO_WMA", ".wma", "wma", "WMA file(*.WMA)",
     TEncoderKind::WmaProgram, JobKind::WavToWma, TContainer::Asf, TLoudnessTags::None, false, nullptr},
    {OutputFormat::Flac, "FLAC", "FLAC", "RES_WAV_TO_FLAC", ".flac", "flac", "FLAC file(*.FLAC)",
     TEncoderKind::Writer, JobKind::WavToFlac, TContainer::Flac, TLoudnessTags::ReplayGain, true, &flacLevel},
    {OutputFormat::Opus, "OPUS", "Opus", "RES_WAV_TO_OPUS", ".opus", "opus", "Opus file(*.OPUS)",
     TEncoderKind::Writer, JobKind::WavToOpus, TContainer::Ogg, TLoudnessTags::R128, true, &opusBitRate},
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

const TOutputFormatInfo *OutputFormatOfFile(const QString &path)
{
    const QString extension = QLatin1Char('.') + QFileInfo(path).suffix();
    const auto *row =
        std::find_if(std::begin(formats), std::end(formats), [&extension](const TOutputFormatInfo &f) {
            return extension.compare(QLatin1String(f.Extension), Qt::CaseInsensitive) == 0;
        });
    return row == std::end(formats) ? nullptr : row;
}

QString OutputFormatPatterns()
{
    QStringList patterns;
    for (const TOutputFormatInfo &f : formats)
        patterns << QLatin1Char('*') + QLatin1String(f.Extension);
    return patterns.join(QLatin1Char(' '));
}

QString OutputFormatKeys(const QString &separator)
{
    QStringList keys;
    for (const TOutputFormatInfo &f : formats)
        keys << QLatin1String(f.Key);
    return keys.join(separator);
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
