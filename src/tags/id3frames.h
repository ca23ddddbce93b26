// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// An ID3v2 tag (versions 2.2 to 2.4) as its bytes: the frames a careful reader (mutagen, the ID3 programs)
// takes even where TagLib gives up. TagLib stops at the first frame it cannot read (an empty frame, an
// identifier of other characters) and drops every frame after it, so a tag with one bad frame reads as
// empty and a later save wipes it.
//
// Returns the tag with such frames taken out and the frames after them moved up, padded with zeros to the
// same size (so it can be written over the old one in place); *dropped counts the frames taken out. The tag
// unchanged, with 0 dropped, when it has none, or when its layout (unsynchronisation of the whole tag, a
// footer) leaves no room for padding. `tag` is the whole tag: header, frames and padding.
QByteArray WithoutUnreadableId3v2Frames(const QByteArray &tag, int *dropped);
