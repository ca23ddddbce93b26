// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "austreamedoutput.h"

#include <QString>
#include <cstdint>

enum TFileOutputMode { foRewrite = 0, foAppend = 1 };

// A sink that writes a file.
class TAuFileOut : public TAuStreamedOutput {
    Q_OBJECT
public:
    using TAuStreamedOutput::TAuStreamedOutput;

    QString FileName() const { return m_fileName; }
    void SetFileName(const QString &fileName) { m_fileName = fileName; }

    uint16_t ShareMode = 0; // sharing bits of TAuFileStream
    TFileOutputMode FileMode = foRewrite;

protected:
    QString m_fileName;
};
