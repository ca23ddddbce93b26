// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QBoxLayout;
class QPushButton;
class QWidget;

// A push button of a tool window, named as the language files address it, added to the layout; it never
// becomes the dialog's default button (Enter in an edit box does not press it).
QPushButton *AddToolButton(QWidget *owner, QBoxLayout *layout, const char *name, const QString &text);
