#pragma once

#include <QString>

class QWidget;

// Replaces the texts of a window and of every component it owns from the language file of the given
// language. The window's section is named by its objectName; keys are the components' objectNames:
//   labels, buttons, check and radio buttons, tool buttons, group boxes   name
//   combo boxes                    name_Text (editable ones), name_Item<j>
//   status bars                    name (simple text) or name_Panel<j> (one per label placed on it)
//   tree, table and other item views with a header                        name_Column<j>
//   tab widgets                    name_Page<j>
//   menus and their actions        section "Menu_" + window name, key = name; separators are skipped
// j counts from 0. A missing file or key leaves the current text; anything else is left alone.
void ApplyLanguage(QWidget *window, const QString &language);
