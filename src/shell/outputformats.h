// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "messages.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <span>

// Everything the program knows about an output format outside its encoder, in one table: a new format is
// its encoder, its row here, its writer's set-up (TFileWriters) and its own options.

// What a file is by its content: every format the tag layer and the decoders know (an MP4 only the decoders,
// through the WMA program). None for anything else.
enum class TFileFormat { None, Mp3, Flac, OggVorbis, Opus, Wav, Wma, Mp4 };

// How a format's files are made.
enum class TEncoderKind : uint8_t {
    None,       // WAV: the read itself is the file
    Lame,       // the MP3 encoder program, a child process (ProcessEvent::Mp3Encoded)
    WmaProgram, // the WMA encoder program, a child process (ProcessEvent::WmaEncoded)
    Writer,     // a writer of our own on the sink's worker thread (ProcessEvent::FileWritten)
};

// Which loudness values a format's files carry: ReplayGain's (REPLAYGAIN_TRACK_GAIN...) or the R128 gains
// of RFC 7845 (R128_TRACK_GAIN...); none for files whose loudness is not measured.
enum class TLoudnessTags : uint8_t { None, ReplayGain, R128 };

// How a format's files begin: what the check of an encoder's file looks for.
enum class TContainer : uint8_t { Wave, MpegAudio, Ogg, Flac, Asf };

struct TOptionsSetting;

// A writer's one setting (its level, its bit rate), declared once: options.ini keeps it under Section and
// Key, loaded into Min..Max; the command line takes it as Option; the Options dialog shows it on the
// format's page (Page, when the page is made from this; its caption the format's Title).
struct TFormatSetting {
    const char *Section; // "FlacOptions"
    const char *Key;     // "CompressionLevel"
    int32_t Min;
    int32_t Max;
    const char *Option;  // "--flac-level"
    const char *About;   // "FLAC level 0 to 8": the help's words
    const char *Page;    // the dialog's tab made from this ("TabSheetOpus"); nullptr: a page of its own
    const char *Control; // the spin box's name on that page
    const char *Label;   // its label
    const char *Suffix;  // after its number (" kbit/s")
    int32_t &(*Value)(TOptionsSetting &settings);
};

struct TOutputFormatInfo {
    int32_t Value;           // the number options.ini stores (OutputFormat)
    const char *Name;        // "MP3": the job window's caption, the report
    const char *Title;       // "Ogg Vorbis": the format's name in a sentence
    const char *EncodingKey; // the language text of the job window's stage while a WAV is encoded into it
    const char *Extension;   // ".mp3"
    const char *Key;         // "mp3": the command line's -f
    const char *Filter;      // "MP3 file(*.MP3)": the Output page's list
    TEncoderKind Encoder;
    JobKind Conversion; // the conversion of a WAV into this format (ExtractTracks: none)
    TContainer Container;
    TLoudnessTags Loudness;
    bool GainByDefault;            // the ReplayGain setting writes its values (else only when asked for)
    const TFormatSetting *Setting; // the writer's one setting; nullptr for none (or several of its own)
};

// Every output format, in the order of their numbers.
std::span<const TOutputFormatInfo> OutputFormats();
// The row of a format number; nullptr for an unknown number.
const TOutputFormatInfo *OutputFormatInfo(int32_t format);
// The row of a command-line key ("flac"), matched without regard to case; nullptr for an unknown key.
const TOutputFormatInfo *OutputFormatByKey(QStringView key);
// The row of the format a file of that name is (by its extension, without regard to case); nullptr for none.
const TOutputFormatInfo *OutputFormatOfFile(const QString &path);
// The file patterns of every format, "*.mp3 *.wav ...", for file dialogs.
QString OutputFormatPatterns();
// The command-line keys of every format joined by `separator` ("wav|mp3|...").
QString OutputFormatKeys(const QString &separator);
// The row of the format a conversion makes; nullptr for a kind that makes no format of the table.
const TOutputFormatInfo *OutputFormatOfConversion(JobKind kind);

// The notice an encoding into the output format ends with (the MP3 or WMA encoder's, or our writers').
int EncodedEventOf(int32_t format);
