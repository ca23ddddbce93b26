// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QStringList>

// The tool bar's icons: the desktop icon theme's icon of that name, or else our own drawing of the same
// meaning (so a desktop without a theme still shows what each command does).
QIcon ToolIcon(const QString &themeName);

// The theme names ToolIcon draws itself.
QStringList DrawnToolIconNames();

// Our own drawing for a theme name (an empty icon for a name we do not draw).
QIcon DrawnToolIcon(const QString &themeName);
