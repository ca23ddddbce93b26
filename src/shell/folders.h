// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the program keeps and finds its files. Every folder text ends in the path separator.

// The per-user configuration folder: $XDG_CONFIG_HOME, or ~/.config when that is unset or not absolute.
QString AppDataFolder();
// The per-user data folder: $XDG_DATA_HOME, or ~/.local/share when that is unset or not absolute.
QString LocalAppDataFolder();

// AppDataFolder + "Ombrel/Sondrel/" (holds options.ini) and LocalAppDataFolder + "Ombrel/Sondrel/" (the
// default output folder; holds cdinfo.dat). Resolved anew at every call: created with all missing parents,
// and the program folder when that fails.
QString SettingsFolder();
QString DataFolder();

// The folder of the running executable.
QString ProgramFolder();
// Tests and embedders point the program folder elsewhere; an empty text restores the real one.
void SetProgramFolderOverride(const QString &folder);

// The installed share folder for data files the program ships (language files, the manual, the demo disc):
// the one the build was configured for, and the one relative to the program (PREFIX/bin/../share/sondrel/),
// which is right for any prefix or DESTDIR the files were installed under.
QString InstalledShareFolder();
QString RelativeShareFolder();
// A shipped data file: the program folder's copy when it exists, else the installed one (relative to the
// program first) when that exists, else the (missing) path in the program folder.
QString ShippedFilePath(const QString &fileName);
