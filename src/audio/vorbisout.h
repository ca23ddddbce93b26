// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "aufileout.h"
#include "tags/vorbistags.h"

#include <memory>
#include <vector>

class TAuFileStream;

// The bit rates of the managed (bit rate) mode of the Ogg Vorbis writer.
enum TVorbisBitRate {
    brAutoSelect,
    bitrate24,
    bitrate32,
    bitrate45,
    bitrate48,
    bitrate56,
    bitrate64,
    bitrate80,
    bitrate96,
    bitrate112,
    bitrate128,
    bitrate144,
    bitrate160,
    bitrate192,
    bitrate224,
    bitrate256,
    bitrate320,
    bitrate499
};

// Bits a second of a bit rate value; -1 for brAutoSelect and anything unknown.
int VorbisBitsPerSecond(int value);

// Encodes the PCM it pulls into an Ogg Vorbis file with the Vorbis comments of Comments (UTF-8, in the
// set's order, empty values left out). With the nominal bit rate brAutoSelect it encodes in the quality
// mode at Compression (-0.1 to 1.0); otherwise in the managed mode at the three bit rates.
// Prepare, DoOutput and Done run on the sink's worker thread.
class TVorbisOut final : public TAuFileOut {
    Q_OBJECT
public:
    explicit TVorbisOut(QObject *parent = nullptr);
    ~TVorbisOut() override;

    float Compression = 0.2f;
    TVorbisTags Comments;
    int32_t Serial = 0;

    TVorbisBitRate DesiredNominalBitrate() const { return m_nominal; }
    TVorbisBitRate DesiredMaximumBitrate() const { return m_maximum; }
    TVorbisBitRate MinimumBitrate() const { return m_minimum; }
    // The three keep each other consistent: see the setters' rules in the source.
    void SetDesiredNominalBitrate(TVorbisBitRate value);
    void SetDesiredMaximumBitrate(TVorbisBitRate value);
    void SetMinimumBitrate(TVorbisBitRate value);

protected:
    void Prepare() override;
    bool DoOutput(bool abort) override;
    void Done() override;

private:
    struct Codec;
    void writePage(const void *header, long headerBytes, const void *body, long bodyBytes);

    TVorbisBitRate m_nominal = brAutoSelect;
    TVorbisBitRate m_maximum = brAutoSelect;
    TVorbisBitRate m_minimum = brAutoSelect;
    std::unique_ptr<Codec> m_codec;
    std::unique_ptr<TAuFileStream> m_file;
    QIODevice *m_out = nullptr;
    bool m_endOfStream = false;
    int m_channels = 0;
    int m_bits = 0;
    std::vector<uint8_t> m_block; // one piece of PCM for the encoder
};

// Configures an Ogg writer from the settings: its quality or bit rates (the comments are the job's to set).
struct TOptionsSetting;
void ApplyOggSettings(TVorbisOut &writer, const TOptionsSetting &settings);
