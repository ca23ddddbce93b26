// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

class QObject;
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

// Qt's own texts (the Yes, No and Cancel of message boxes, the file dialogs) in the language the program
// shows, a language file's name ("German"): Qt's translation of it from the system's Qt translations, the
// one loaded before removed. English, or a language Qt has no translation for, leaves Qt's own English.
// True when a translation was installed.
bool LoadQtTranslations(const QString &language);

// Marks a component whose texts are data rather than captions (genre names, bit rates, file-name templates,
// times and names filled in at run time): language files never replace them. On a window, its caption.
void KeepUntranslated(QObject *component);

// Names each unnamed row label of the form layouts under the window after its field (field name + "_Label"),
// so language files can address it.
void NameRowLabels(QWidget *window);

// One text a language file can replace, with the text the window shows now.
struct LanguageEntry {
    QString section;
    QString key;
    QString text;
};

// Every non-empty text ApplyLanguage would look up for the window, in the order it looks them up (what a
// complete language file for the window holds).
QList<LanguageEntry> LanguageEntries(QWidget *window);
