// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "taggedfileout.h"

#include <memory>
#include <vector>

// Encodes the PCM it pulls (8, 16, 24 or 32 bits, 1 to 8 channels, any rate: libopusenc resamples to the
// 48 kHz Opus codes and keeps the input's rate in the header) into an Ogg Opus file with libopusenc, at
// BitRate kbit/s of variable bit rate, with the Vorbis comments of Comments and, when Cover holds a JPEG, a
// front-cover METADATA_BLOCK_PICTURE. Prepare, DoOutput and Done run on the sink's worker thread.
class TOpusOut final : public TTaggedFileOut {
    Q_OBJECT
public:
    explicit TOpusOut(QObject *parent = nullptr);
    ~TOpusOut() override;

    int BitRate = 160;

protected:
    void Prepare() override;
    bool DoOutput(bool abort) override;
    void Done() override;

private:
    struct Codec;
    std::unique_ptr<Codec> m_codec;
    std::vector<uint8_t> m_pcm;
    std::vector<float> m_samples;
    int64_t m_frames = 0; // sample frames encoded in this run
};
