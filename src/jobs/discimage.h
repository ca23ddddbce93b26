// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ripreport.h"
#include "shell/result.h"

#include <QString>
#include <QStringList>
#include <atomic>

struct TTrackTags;

// Joins the tracks' WAVs (16-bit stereo 44,100 Hz, `wavs` in the session's order) into one image at `target`,
// written under its working name and settled only when whole: a FLAC when `flac` (with `tags` and a CUESHEET
// block of ImageLayout), else a WAV. Each track's Frames are taken from its WAV. Fails with the file and the
// reason (nothing is left at `target` then).
TResult<> WriteDiscImage(TRipSession &session, const QStringList &wavs, const QString &target, bool flac,
                         int compressionLevel, const TTrackTags &tags,
                         const std::atomic<bool> *cancel = nullptr);
