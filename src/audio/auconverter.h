// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auinput.h"

#include <QPointer>

// A source whose data comes from another source, its Input. Called on the sink's worker thread like any
// source; setting Input takes the Lock, so it may change while a run reads.
class TAuConverter : public TAuInput {
    Q_OBJECT
public:
    explicit TAuConverter(QObject *parent = nullptr);

    TAuInput *Input() const { return m_input.data(); }
    // Ignored for the converter itself. While busy, the old input is flushed and the new one initialised.
    virtual void SetInput(TAuInput *input);

    void GetData(uint8_t *&buffer, uint32_t &bytes) override;

protected:
    // Counts delivered bytes into Position and cuts them at Size; a count of 0 ends the stream.
    void account(uint32_t &bytes);

    QPointer<TAuInput> m_input; // cleared when the input is destroyed
};
