// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class CdMedium;

// Which drive holds an audio CD, and the key that names a disc in the disc information cache.

// True when the drive at this index of the drive list holds a disc whose first track is audio.
bool IsAudioCdDrive(int driveIndex);

// True when the first drive of the list holds an audio CD (only the first drive is examined).
bool AudioCdPresent();

// The key of the audio CD in the first drive that holds one, or empty. The key is a signed 32-bit number in
// decimal, computed from the whole table of contents (first and last track, every start sector, lead-out):
// the same disc gives the same key on every run.
QString DiscKey();

// The key of the audio CD in the drive or disc image at this path (a path of the drive list), or empty: each
// drive's own disc, whatever the other drives hold.
QString DiscKeyOfDrive(const QString &path);

// The key of the disc in an opened medium (its table of contents must have been read); empty without one.
QString DiscKeyOf(const CdMedium &medium);
