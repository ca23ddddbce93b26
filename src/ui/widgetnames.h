// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A widget given the object name the language files and the tests address it by.
template <typename T> T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}
