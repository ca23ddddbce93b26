// SPDX-License-Identifier: GPL-3.0-or-later
#include "vorbistags.h"

TVorbisTags::TVorbisTags()
{
    for (const char *name :
         {"album", "albumartist", "artist", "comment", "date", "genre", "title", "tracknumber", "tracktotal",
          "discnumber", "metadata_block_picture", "replaygain_reference_loudness", "replaygain_track_gain",
          "replaygain_track_peak", "replaygain_album_gain", "replaygain_album_peak", "isrc", "barcode",
          "deemphasis"})
        Declare(QString::fromLatin1(name));
}
