// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "aufilein.h"
#include "tags/commontags.h"

// A file source that also carries the file's tags, filled by descendants when they open a file.
class TAuTaggedFileIn : public TAuFileIn {
    Q_OBJECT
public:
    using TAuFileIn::TAuFileIn;

    TCommonTags CommonTags;
};
