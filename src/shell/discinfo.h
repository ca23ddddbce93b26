// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The disc information cache: "cdinfo.dat" in DataFolder(), one section per disc, named by the disc key.
// Both calls work on AppSettings.DiscInfo and do nothing for an empty key. User-interface thread only.

// The path of cdinfo.dat. An old cdinfo.dat in the program folder is copied into DataFolder() when
// DataFolder() has none yet.
QString DiscInfoFilePath();
// Where the front cover of a MusicBrainz release is kept: DataFolder + "Covers/" + MBID + ".jpg"; empty for
// a text that is no MBID (hexadecimal digits and dashes only), so no text from a server makes a path.
QString CoverCachePath(const QString &releaseId);
// Reads the disc's section into DiscInfo. A disc without a section gives empty texts, Genre -1,
// TrackNumber 100 and the titles Track01 to Track100; titles above TrackNumber keep what they held.
void LoadDiscInfo(const QString &key);
struct TCDInfo;
// The same for another record than DiscInfo; true when the cache has an entry for the disc.
bool LoadDiscInfo(const QString &key, TCDInfo &info);

// Writes DiscInfo into the disc's section, which moves to the end of the file; keys of the section that are
// not written stay. The cache keeps the AppSettings.CDOptions.DiscCacheSize discs saved last. False when the
// file could not be written.
bool SaveDiscInfo(const QString &key);
// The same for another record; *error says why when the file could not be written.
bool SaveDiscInfo(const QString &key, const TCDInfo &info, QString *error = nullptr);

// "Track" + TwoDigits(n), the title of a track nobody named.
QString DefaultTrackTitle(int trackNumber);
