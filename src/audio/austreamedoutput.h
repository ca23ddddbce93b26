// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auoutput.h"

class QIODevice;

// A sink that writes to a stream: one it opens itself, or one assigned from outside (which it never closes).
class TAuStreamedOutput : public TAuOutput {
    Q_OBJECT
public:
    using TAuOutput::TAuOutput;

    void SetStream(QIODevice *stream)
    {
        Stream = stream;
        StreamAssigned = stream != nullptr;
    }

    QIODevice *Stream = nullptr;
    bool StreamAssigned = false;
};
