// SPDX-License-Identifier: GPL-3.0-or-later
#include "commontags.h"

TCommonTags::TCommonTags()
{
    for (const char *name : {"Title", "Album", "Artist", "Genre", "Year", "Track"})
        Declare(QString::fromLatin1(name), QString());
}
