// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auinput.h"

class QIODevice;

// A source that reads from a stream, limited to a range of samples [StartSample, EndSample] and optionally
// looped. Streamed sources can seek.
class TAuStreamedInput : public TAuInput {
    Q_OBJECT
public:
    explicit TAuStreamedInput(QObject *parent = nullptr);

    virtual void SetStream(QIODevice *stream);
    void GetData(uint8_t *&buffer, uint32_t &bytes) override;

    QIODevice *Stream = nullptr;
    bool StreamAssigned = false;
    int64_t StartSample = 0;
    int64_t EndSample = -1; // -1: to the end
    bool Loop = false;
    int64_t TotalSamples = 0;

protected:
    // Moves to the sample (which it may adjust to the one reached); false when it cannot.
    virtual bool DoSeek(int64_t &sample) = 0;
};
