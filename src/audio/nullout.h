// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auoutput.h"

// A sink that pulls its input to the end and keeps nothing: a read whose audio only its source's observers
// see (a test read for its checksum).
class TNullOut final : public TAuOutput {
    Q_OBJECT
public:
    using TAuOutput::TAuOutput;
    ~TNullOut() override { Shutdown(); }

protected:
    void Prepare() override { Input()->Init(); }
    bool DoOutput(bool abort) override
    {
        if (abort)
            return false;
        uint8_t *data = nullptr;
        uint32_t bytes = 1 << 16;
        Input()->GetData(data, bytes);
        return bytes > 0;
    }
    void Done() override { Input()->Flush(); }
};
