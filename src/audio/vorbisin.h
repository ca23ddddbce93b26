// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "autaggedfilein.h"
#include "tags/vorbistags.h"

#include <memory>

class TAuFileStream;

// Decodes an Ogg Vorbis file to 16-bit PCM and reads its comments: "artist", "album", "title", "date",
// "genre" and "tracknumber" (names without regard to case) into VorbisComments and the common tags.
class TVorbisIn final : public TAuTaggedFileIn {
    Q_OBJECT
public:
    explicit TVorbisIn(QObject *parent = nullptr);
    ~TVorbisIn() override;

    // Opens the file when needed.
    const TVorbisTags &VorbisComments();
    long UpperBitrate() const { return m_upper; }
    long NominalBitrate() const { return m_nominal; }
    long LowerBitrate() const { return m_lower; }

protected:
    void OpenFile() override;
    void CloseFile() override;
    void DoGetData(uint8_t *&buffer, uint32_t &bytes) override;
    bool DoSeek(int64_t &sample) override;

private:
    struct Decoder;
    friend struct VorbisStreamCallbacks;

    std::unique_ptr<Decoder> m_decoder;
    std::unique_ptr<TAuFileStream> m_file;
    QIODevice *m_stream = nullptr;
    TVorbisTags m_comments;
    long m_upper = 0;
    long m_nominal = 0;
    long m_lower = 0;
    int m_currentSection = -1;
    static constexpr uint32_t bufferBytes = 0x3000;
    uint8_t m_buffer[bufferBytes] = {};
    uint32_t m_start = 0; // next byte to hand out
    uint32_t m_end = 0;   // bytes held
};
