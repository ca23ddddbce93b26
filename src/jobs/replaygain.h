// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

// The loudness of a file as ReplayGain 2.0 counts it (EBU R 128 integrated loudness through libebur128) and
// its sample peak (1.0 full scale).
struct TLoudness {
    double Lufs = 0;
    double Peak = 0;
};

// ReplayGain 2.0's gain for a loudness: what brings it to -18 LUFS, in dB.
double ReplayGainOf(double lufs);
// Opus's R128 gain (RFC 7845): what brings it to -23 LUFS, in 1/256 dB, held to 16 bits.
int R128GainOf(double lufs);

// Measures the files as one album (WAV, FLAC, Ogg Vorbis, Opus and MP3, decoded as a player would) and
// writes each its track and album values: REPLAYGAIN_TRACK_GAIN/PEAK and REPLAYGAIN_ALBUM_GAIN/PEAK ("-6.52
// dB", "0.988312"), for Opus files R128_TRACK_GAIN and R128_ALBUM_GAIN instead. Files of other kinds (WMA)
// are left out. Returns the failures, each "PATH: reason" (that file is left as it was); stops between
// files when `cancel` is set. Runs on any thread.
QStringList WriteReplayGain(const QStringList &album, const std::atomic<bool> *cancel = nullptr);

// Whether a job of the format writes ReplayGain values: --replaygain (given true) or --no-replaygain (false)
// decide; else the setting does, for FLAC, Ogg Vorbis and Opus.
bool WantsReplayGain(bool setting, int32_t format, std::optional<bool> given);
