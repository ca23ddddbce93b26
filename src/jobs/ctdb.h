// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"

#include <QString>
#include <cstdint>
#include <vector>

// The CUETools database (CTDB): a disc's identity there and the request that looks it up. Only the table of
// contents is ever sent.

// The disc's TOC id: a SHA-1 of where each audio track after the first begins and where the audio ends, each
// counted from the first audio track's start as eight upper-case hexadecimal digits, the list padded with
// zeros to 100 entries; in base 64 with '.', '_' and '-' for '+', '/' and '='. Empty for a table without
// audio tracks, or whose audio ends before its last audio track begins (a data track after it with no gap
// between the sessions).
QString CtdbTocId(const TToc &toc);
// The same from the audio tracks' start sectors and the audio's end (any common origin).
QString CtdbTocIdOf(const std::vector<int32_t> &audioStarts, int32_t audioEnd);

// The table as the lookup takes it: every track's start and the lead-out, counted from the first track's
// start, joined by colons; a data track's start with a '-' before it ("0:61883:-87778:139948").
QString CtdbLookupToc(const TToc &toc);
// The path and query of the lookup of a disc on the database's server.
QString CtdbLookupPath(const TToc &toc);
