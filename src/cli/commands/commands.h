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
std::unique_ptr<TCommand> MakeRepairCommand();

// The titles for a rip (see the engine's LookUpForRip): what the sources say is told on the terminal, and
// fails nothing.
QString LookUpForRip(const QString &mode, const std::optional<QString> &release, const TToc &toc,
                     TCdHandle handle, TTerminal &terminal);
