// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "taggedfileout.h"

#include <memory>

struct FLAC__StreamMetadata;
class TVorbisTags;

// A FLAC VORBIS_COMMENT block of the comments (names in capitals; empty values and pictures left out, a
// picture having a block of its own). The caller owns it.
FLAC__StreamMetadata *FlacCommentBlock(const TVorbisTags &comments);

// Encodes the PCM it pulls (8, 16 or 24 bits, 1 to 8 channels) into a FLAC file with libFLAC: the
// compression level (0 to 8), STREAMINFO with the audio's MD5, the Vorbis comments of Comments and, when
// Cover holds a JPEG, a front-cover PICTURE block. Prepare, DoOutput and Done run on the sink's worker.
class TFlacOut final : public TTaggedFileOut {
    Q_OBJECT
public:
    explicit TFlacOut(QObject *parent = nullptr);
    ~TFlacOut() override;

    int CompressionLevel = 5;

protected:
    void Prepare() override;
    bool DoOutput(bool abort) override;
    void Done() override;

private:
    struct Codec;
    std::unique_ptr<Codec> m_codec;
};
