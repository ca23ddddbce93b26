// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/command.h"

#include <memory>
#include <vector>

// Every command of the tool, in the order --help lists them.
const std::vector<std::unique_ptr<TCommand>> &AllCommands();

std::unique_ptr<TCommand> MakeDrivesCommand();
std::unique_ptr<TCommand> MakeTocCommand();
std::unique_ptr<TCommand> MakeRipCommand();
std::unique_ptr<TCommand> MakeConvertCommand();
std::unique_ptr<TCommand> MakeResampleCommand();
std::unique_ptr<TCommand> MakeTagCommand();
std::unique_ptr<TCommand> MakeCddbCommand();
std::unique_ptr<TCommand> MakeLookupCommand();
std::unique_ptr<TCommand> MakePlayCommand();
std::unique_ptr<TCommand> MakeRecordCommand();
std::unique_ptr<TCommand> MakePlaylistCommand();
std::unique_ptr<TCommand> MakeOffsetCommand();

// A rip's lookup (rip --lookup MODE): auto (a disc the cache knows stays as it is; otherwise its CD-Text,
// then MusicBrainz and CDDB in the settings' order), cache (the cache alone), cdtext, musicbrainz or cddb
// (that source), none. What is found is kept in the disc information cache, where the rip then reads its
// titles; finding nothing is told and fails nothing.
bool IsRipLookupMode(const QString &mode);
// `release` chooses among MusicBrainz's releases (see lookup --release).
// Returns where the titles came from ("cache", "cdtext", "musicbrainz", "cddb"); empty when from nowhere.
QString LookUpForRip(const QString &mode, const std::optional<QString> &release, const TToc &toc,
                     HCDROM handle, TTerminal &terminal);
