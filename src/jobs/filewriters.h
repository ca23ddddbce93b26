// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/aufileout.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

struct TOptionsSetting;
struct TTrackTags;

// How the Ogg Vorbis writer takes the Ogg page's settings: its quality or its three bit rates, or (the
// conversion job's way) the quality alone.
enum class TOggSetup { FromSettings, QualityOnly };

// A job's own writers, one for each format the program encodes itself (the formats whose encoder is
// TEncoderKind::Writer), set up from the settings for each file. A new writer is its row in filewriters.cpp.
class TFileWriters {
public:
    TFileWriters();
    ~TFileWriters();
    TFileWriters(const TFileWriters &) = delete;
    TFileWriters &operator=(const TFileWriters &) = delete;

    // Every writer, to connect once.
    std::vector<TAuFileOut *> All() const;
    // The writer of a format; nullptr for a format no writer here makes.
    TAuFileOut *Of(int32_t format);
    // The format's writer set up for its next file: its options from the settings, and a track's tags when
    // `tags` is given (none otherwise). The format must be one of the writers'.
    TAuFileOut &Prepare(int32_t format, const TOptionsSetting &settings, const TTrackTags *tags,
                        TOggSetup ogg = TOggSetup::FromSettings);
    // Ends every writer still running.
    void StopAll();

private:
    std::map<int32_t, std::unique_ptr<TAuFileOut>> m_writers;
};
