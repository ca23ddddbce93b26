// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "accuraterip.h"
#include "cdrom/cdaccess.h"
#include "shell/result.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The AccurateRip v1 checksums of one track at every read offset correction in [-margin, margin], from one
// read of its audio: `audio` holds 16-bit stereo frames from `margin` frames before the track's start to
// `margin` frames after its end (silence where the disc ends), `frames` the track's length. Entry
// margin + o is the checksum with correction o. One pass over the audio, then each offset from the one
// before it (the checksum is a weighted sum that slides).
std::vector<uint32_t> AccurateRipV1ByOffset(const QByteArray &audio, int64_t frames, int margin,
                                            bool firstTrack, bool lastTrack);

// The offsets drives most often need, the likeliest first.
const std::vector<int> &CommonReadOffsets();

struct TOffsetMatch {
    int Offset = 0;
    int Confidence = 0;
    bool V2 = false; // the v2 checksum matched (else v1)
};

// The read offset correction at which the track (`track`: its number among the disc's audio tracks, counted
// from 1) matches an entry of the database's answer for `disc` with at least `minConfidence`: the common
// offsets first (v1 and v2), then every offset of the margin by its v1 checksum. The entry of most confidence
// wins; nullopt when none matches.
std::optional<TOffsetMatch> FindReadOffset(const QByteArray &audio, int64_t frames, int margin,
                                           bool firstTrack, bool lastTrack,
                                           const std::vector<TAccurateRipBlock> &blocks,
                                           const TAccurateRipDisc &disc, int track, int minConfidence = 2);

// Reads a track with `margin` frames (at most 5880) either side through the drive handle, for the functions
// above: `start` and `sectors` as the table of contents gives them (sectors counted from its first entry),
// `discEnd` the lead-out; silence outside the disc. Fails with the drive's reason when a read failed or *stop
// was set.
TResult<QByteArray> ReadTrackWithMargin(TCdHandle handle, int32_t start, int32_t sectors, int32_t discEnd,
                                        int margin, const std::atomic<bool> *stop = nullptr);

// How far either way a search for a drive's read offset looks, in samples.
constexpr int OffsetSearchMargin = 3000;

// What a search for a drive's read offset came to: the match and the track it was found on, or why there is
// none (words for the user; Stopped when the search was stopped).
struct TOffsetSearch {
    std::optional<TOffsetMatch> Match;
    int Track = 0;
    QString Error;
    bool Stopped = false;
};

// Asks the AccurateRip database at `server` about the disc whose table of contents is `toc`, then reads its
// audio tracks (those between others first) until one matches at an offset within OffsetSearchMargin. `step`
// hears the words of each step as it begins, on the thread the search runs on; *stop ends the search.
TOffsetSearch SearchReadOffset(TCdHandle handle, const TToc &toc, const QString &server,
                               const std::function<void(const QString &)> &step,
                               const std::atomic<bool> *stop = nullptr);
