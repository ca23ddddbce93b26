// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The fields of each tag format, for the tag layer (filetags) only.
#include "filetags.h"

#include <QString>
#include <asftag.h>
#include <functional>
#include <id3v2tag.h>
#include <infotag.h>
#include <tstring.h>
#include <xiphcomment.h>

// TagLib says what it skipped of a damaged tag on standard error; the program reads on without it. Called
// before any TagLib work.
void SilenceTagLib();
// Makes a change on a copy under the file's working name, which replaces the file when complete (and synced);
// false with "PATH: reason" in *error, the file then untouched.
bool OnWorkingCopy(const QString &path, const std::function<bool(const QString &)> &change, QString *error);

TagLib::String tagText(const QString &text);
// A text as read: without the byte-order marks a damaged frame may hold as its only "text".
QString qText(const TagLib::String &text);

// Each format's fields into tags, and an edit into the format's fields (only those the edit names).
void readId3v2(const TagLib::ID3v2::Tag &tag, TFileTags &tags);
void editId3v2(TagLib::ID3v2::Tag &tag, const TTagEdit &edit, const TFileTags &before);
void readXiph(const TagLib::Ogg::XiphComment &x, TFileTags &tags);
void editXiph(TagLib::Ogg::XiphComment &x, const TTagEdit &edit);
void readInfo(const TagLib::RIFF::Info::Tag &info, TFileTags &tags);
void editInfo(TagLib::RIFF::Info::Tag &info, const TTagEdit &edit);
void readAsf(const TagLib::ASF::Tag &tag, TFileTags &tags);
void editAsf(TagLib::ASF::Tag &tag, const TTagEdit &edit);
