// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "austreamedoutput.h"

#include <QFileDevice>
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
    // The words, the file and the system's reason for a write to out that failed: "Error writing wave file
    // /music/.a.wav.part: No space left on device".
    QString writeFailure(const QString &words, const QIODevice *out) const
    {
        const QString reason = out ? out->errorString() : QString();
        QString text = m_fileName.isEmpty() ? words : words + QLatin1Char(' ') + m_fileName;
        return reason.isEmpty() ? text : text + QStringLiteral(": ") + reason;
    }
    // Whether what out holds back reached its file: a buffered file keeps the last block of a run until it
    // is flushed, and a flush that fails when the file is closed is told to no one.
    static bool flushed(QIODevice *out)
    {
        auto *file = qobject_cast<QFileDevice *>(out);
        return !file || file->flush();
    }

    QString m_fileName;
};
