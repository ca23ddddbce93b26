// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "aufileout.h"
#include "tags/vorbistags.h"

#include <QByteArray>
#include <memory>

class TAuFileStream;
struct TTrackTags;

// A writer of our own whose files carry Vorbis comments and a front cover, for PCM of 8, 16,
// 24 or 32 bits and 1 to 8 channels.
class TTaggedFileOut : public TAuFileOut {
    Q_OBJECT
public:
    using TAuFileOut::TAuFileOut;

    TVorbisTags Comments;
    QByteArray Cover; // a JPEG; empty for none

    // Comments and Cover from a track's tags (the cover as a picture, not as a comment of its own).
    void SetTags(const TTrackTags &tags);

protected:
    // The start of a run on the sink's worker: the input opened, its format taken into m_channels and
    // m_bits (one the format's files cannot hold raises "FORMAT files take ..."), the file created; returns
    // the sample rate.
    int openRun(const char *format);
    // The end of a run: the file closed, the input flushed, the tags cleared for the next one.
    void closeRun();

    std::unique_ptr<TAuFileStream> m_file;
    int m_channels = 0;
    int m_bits = 0;
};
