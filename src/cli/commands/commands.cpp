// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

const std::vector<std::unique_ptr<TCommand>> &AllCommands()
{
    static const std::vector<std::unique_ptr<TCommand>> commands = [] {
        std::vector<std::unique_ptr<TCommand>> list;
        for (auto make : {MakeDrivesCommand, MakeTocCommand, MakeRipCommand, MakeConvertCommand,
                          MakeResampleCommand, MakeTagCommand, MakeCddbCommand, MakeLookupCommand,
                          MakePlayCommand, MakeRecordCommand, MakePlaylistCommand, MakeOffsetCommand, MakeRepairCommand})
            list.push_back(make());
        return list;
    }();
    return commands;
}
