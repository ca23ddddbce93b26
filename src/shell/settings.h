// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

// The program's settings: one global record, AppSettings, read from options.ini once when the main window is
// created and written back once when it closes. Everything in between changes it in memory only. The field
// names are the INI key names. Only the user-interface thread loads and saves; worker threads read fields
// while a modal job window keeps the user from changing them.

// The output formats, by the number options.ini stores.
namespace OutputFormat {
enum Value : int32_t { Mp3 = 0, Wav = 1, Ogg = 2, Wma = 3, Flac = 4, Opus = 5 };
}
// "MP3", "WAV", "OGG", "WMA", "FLAC", "OPUS"; empty for another number.
QString OutputFormatName(int32_t format);
// ".mp3", ".wav", ".ogg", ".wma", ".flac", ".opus"; empty for another number.
QString OutputFormatExtension(int32_t format);

struct TCommonOptions {
    QString OutputFolder;
    int32_t OutputFormat = ::OutputFormat::Mp3;
    bool IsKeepWav = false;
    bool IsCreateM3U = false;
    bool IsNormalize = false;
    int32_t NormalizePercent = 95;
    bool IsCreateAlbumFolder = false;
    bool EnableRipTime = false;
    int32_t RipTime = 0;
    bool IsCDHandleZero = false; // true: read discs through the drive component instead of the library
    // How ripped files are named: %track% %title% %artist% %albumartist% %album% %year% %genre%.
    QString FileNameTemplate = QStringLiteral("%title%");
    // Samples the drive's reads are shifted by (its read offset correction), -5880 to 5880.
    int32_t ReadOffset = 0;
    // Where a run's ReadOffset came from, for its log (not stored): "given", "found for the drive"; empty
    // for the setting.
    QString ReadOffsetSource;
    bool TestAndCopy = false; // read every track twice and compare the checksums
    // Not stored: a track with sectors that could not be read is made all the same (silence in their place);
    // false when only verified tracks are wanted.
    bool KeepDamaged = true;
    // Not stored: the log of an earlier rip this one resumes (its well-read tracks are kept); empty for none.
    QString ResumedLog;
    // Test & copy: how many more times a track whose reads differ is read, until two reads agree.
    int32_t TestCopyRetries = 3;
    bool RipHiddenTrack = false; // audio hidden before the first track is ripped as track 0
    // Not stored: a rip joined into one image of this format (FLAC or WAV) with a cue sheet; -1 for none.
    int32_t ImageFormat = -1;
    bool VerifyAccurateRip = false;
    QString AccurateRipServer = QStringLiteral("http://www.accuraterip.com");
    // The CUETools database, asked beside AccurateRip by a verified rip; empty: not asked.
    QString CtdbServer = QStringLiteral("http://db.cuetools.net");
    bool WriteLog = false; // "ARTIST - ALBUM.log" beside the files
    bool WriteCue = false; // "ARTIST - ALBUM.cue" beside the files
    // How WAV files change their sample rate: 0 high quality (libsoxr), 1 fast (the simple filter).
    int32_t ResampleQuality = 0;
    // How many encodings a job runs at once; 0: as many as the computer has processor cores. 1 keeps the
    // strict order of one step after the other.
    int32_t EncodersAtOnce = 0;
    // ReplayGain values (track and album) in the FLAC, Ogg Vorbis and Opus files a rip or conversion makes.
    bool ReplayGain = true;
    // The formats a rip makes besides OutputFormat, from the same read: format numbers, "2,5" (see
    // ExtraFormatsOf).
    QString OutputFormats;
    // Undo the pre-emphasis of tracks the disc flags as pre-emphasised (the 50/15 µs curve) after reading.
    bool Deemphasis = false;
};

constexpr int32_t MaxReadOffset = 5880;

// The read offsets found for drives (sondrel-cli offset find), in options.ini's [DriveOffsets] section, each
// under its drive's "VENDOR PRODUCT REVISION" (control characters, "=" and brackets made "_"). nullopt when
// none is saved for the drive (or the value is out of range); saving keeps the file's other lines and its
// old contents when the save fails (false, *error saying why).
QString DriveOffsetKey(const QString &vendor, const QString &product, const QString &revision);
std::optional<int> SavedDriveOffset(const QString &driveKey);
bool SaveDriveOffset(const QString &driveKey, int offset, QString *error = nullptr);

struct TMp3Options {
    bool IsSelectVBR = false;
    bool IsVBRHead = false; // "Disable writing of the VBR Tag"
    int32_t BitRate = 128;
    int32_t MaxBitRate = 320;
    int32_t MpegQuality = 0;
    int32_t VBRQuality = 4;
    int32_t StereoMode = 1;
};

struct TOggOptions {
    bool IsUseCompress = true;
    int32_t CompressPosition = 30; // 30 to 100, enforced at load
    int32_t MaxBitRate = 0;
    int32_t NomalBitRate = 0;
    int32_t MinBitRate = 0;
};

struct TFlacOptions {
    int32_t CompressionLevel = 5; // 0 to 8
};

// Opus bit rates in kbit/s (variable bit rate aims at it): 6 is speech at its thinnest, 510 the codec's top.
constexpr int32_t MinOpusBitRate = 6;
constexpr int32_t MaxOpusBitRate = 510;

struct TOpusOptions {
    int32_t BitRate = 160;
};

struct TWMAOptions {
    int32_t BitRate = 8; // row of the WMA profile list
};

struct TCDOptions {
    int32_t Index = -1; // drive chosen in the options dialog; -1 none
    bool CDDb = false;
    // How many discs the disc information cache keeps; the least recently saved go first.
    int32_t DiscCacheSize = 10000;
};

struct TRecordOptions {
    bool SaveMp3 = false;
};

// The metadata of the disc most recently loaded; kept in the disc information cache, never in options.ini.
struct TCDInfo {
    QString Artist;
    QString Album;
    QString Year;
    int32_t Genre = 0; // position in GenreNames counted from 1; 0 and below: none
    // A genre the list does not name (a CDDB DGENRE of its own, "Krautrock"), kept as it came; used while
    // Genre names none.
    QString GenreText;
    QString Comment;
    int32_t TrackNumber = 0;
    std::array<QString, 101> Tracks; // Tracks[n] is the title of track n, 1 to 100; Tracks[0] is unused
    // TrackArtists[n]: the own artist of track n on a compilation; empty for the disc's artist.
    std::array<QString, 101> TrackArtists;
    QString MusicBrainzRelease; // the MBID of the release the titles came from, when they did
    // What the disc itself carries (never from the cache): its catalogue number, whether that is a valid
    // EAN/UPC barcode, and by entry (as Tracks) each track's ISRC and pre-emphasis flag.
    QString Mcn;
    bool McnIsBarcode = false;
    std::array<QString, 101> Isrcs;
    std::array<bool, 101> PreEmphasis{};
};

struct TQueryCDDB {
    QString Server = QStringLiteral("gnudb.gnudb.org");
    QString Script = QStringLiteral("/~cddb/cddb.cgi");
    bool UseProxy = false;
    QString ProxyAddress;
    QString Port = QStringLiteral("80");
    int32_t TagEncoding = 0; // 0 UTF8, 1 local default
    // Where titles are looked up: 0 MusicBrainz, then CDDB when it finds nothing; 1 MusicBrainz only; 2 CDDB
    // only.
    int32_t LookupOrder = 0;
    QString MusicBrainzServer = QStringLiteral("https://musicbrainz.org");
    // Cover art of MusicBrainz releases: where from, kept as cover.jpg beside a rip, put into its files.
    QString CoverArtServer = QStringLiteral("https://coverartarchive.org");
    bool SaveCover = true;
    bool EmbedCover = true;
};

struct TOptionsSetting {
    TCommonOptions CommonOptions;
    TMp3Options Mp3Options;
    TOggOptions OggOptions;
    TWMAOptions WMAOptions;
    TFlacOptions FlacOptions;
    TOpusOptions OpusOptions;
    TCDOptions CDOptions;
    TRecordOptions RecordOptions;
    TCDInfo DiscInfo;
    TQueryCDDB QueryCDDB;
    bool Use = false; // write tags into the output files
    QString Lan = QStringLiteral("English");
};

extern TOptionsSetting AppSettings;

// The record as it is with no options.ini: every default, with OutputFolder = DataFolder().
TOptionsSetting DefaultOptions();

// Fills every field but DiscInfo from options.ini in SettingsFolder(); absent keys and values that are not
// decimal integers give the defaults.
void LoadOptions();
// What the last LoadOptions found out of range and read as the default instead, one line each ("PATH:
// KEY=VALUE is out of range ..."); empty when every value was usable.
QStringList OptionsWarnings();
// Writes every field but DiscInfo to options.ini, in the fixed order, keeping what else the file holds.
// False when the file could not be written (it then keeps its previous contents, and *error says why).
bool SaveOptions(QString *error = nullptr);

// True when the language name is "English", compared without regard to case.
bool IsEnglish(const QString &language);
