// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"

#include <QString>
#include <QStringList>
#include <optional>

class TDiscModel;
struct TCddbLookupResult;

// The titles of a disc from where they can be found: the disc information cache, the disc's CD-Text,
// MusicBrainz and CDDB. Blocking; what each source says on the way goes to a view.
class TLookupView {
public:
    virtual ~TLookupView() = default;
    virtual void Step(const QString &text) = 0; // "Looking up ID on SERVER"
    virtual void Failure(const QString &text) = 0;
    virtual void Notice(const QString &text) = 0;
};

// Where one source is asked: its server (the settings' when none), the MusicBrainz release chosen (its MBID
// or its number in the answer, from 1), CDDB's route (-1: the settings').
struct TLookupSource {
    std::optional<QString> Server;
    std::optional<QString> Release;
    int TagEncoding = -1;
};

// Asks one source, "cdtext", "musicbrainz" or "cddb", for the titles of the disc of `toc` (on the drive of
// `handle`); false (the reason told) when it found nothing.
bool LookUpAt(const QString &source, const TLookupSource &where, const TToc &toc, TCdHandle handle,
              TCddbLookupResult &result, TLookupView &view);
// The network sources by the settings' LookupOrder: MusicBrainz and CDDB, or one of them.
QStringList NetworkLookupSources();

// The disc of a table of contents, with its titles from the disc information cache under the key of the
// handle's own disc (or `key`, for a handle closed already), or, for a disc the cache does not know, from the
// CD-Text of the drive's disc when a handle is given.
void LoadDisc(TDiscModel &disc, const TToc &toc, TCdHandle handle = 0, const QString &key = QString());
// What a lookup found put over the disc's cached titles and kept in the cache under `key`; false (the reason
// in error) when the cache could not be written.
bool StoreTitles(const TToc &toc, const QString &key, const TCddbLookupResult &result, TDiscModel &disc,
                 QString *error);

// A rip's lookup (rip --lookup MODE): auto (a disc the cache knows stays as it is; otherwise its CD-Text,
// then MusicBrainz and CDDB in the settings' order), cache (the cache alone), cdtext, musicbrainz or cddb
// (that source), none. What is found is kept in the disc information cache, where the rip then reads its
// titles; finding nothing is told (a notice) and leaves the tracks their names.
bool IsRipLookupMode(const QString &mode);
// Returns where the titles came from ("cache", "cdtext", "musicbrainz", "cddb"); empty when from nowhere.
QString LookUpForRip(const QString &mode, const std::optional<QString> &release, const TToc &toc,
                     TCdHandle handle, TLookupView &view);
