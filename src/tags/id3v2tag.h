#pragma once

#include "tracktags.h"

#include <QString>

// ID3 version 2.4 tags at the start of MP3 files, through TagLib: UTF-8 frames TIT2 (title), TPE1 (artist),
// TPE2 (album artist), TALB (album), TDRC (year), TCON (genre name), TRCK ("n/total"), COMM (comment). The
// ID3 version 1 tag at the end of the file is left exactly as it is.

// Replaces the file's version 2 tag by one with these fields (frames of other kinds it had stay). The file
// is tagged as a copy under its working name that replaces it when complete, so a failure leaves it as it
// was. False with "PATH: reason" in *error.
bool WriteId3v2Tag(const QString &path, const TTrackTags &tags, QString *error = nullptr);
// The fields of the file's version 2 tag; false when it has none (or is no MP3 file TagLib can read).
bool ReadId3v2Tag(const QString &path, TTrackTags &tags);
// Removes the version 2 tag (nothing to do without one), the same way as WriteId3v2Tag.
bool RemoveId3v2Tag(const QString &path, QString *error = nullptr);
