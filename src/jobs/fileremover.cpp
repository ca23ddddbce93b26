// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileremover.h"

#include "shell/helpers.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

TFileRemover::~TFileRemover()
{
    if (m_worker.joinable())
        m_worker.join();
}

void TFileRemover::RemoveAll(const QStringList &files, std::function<void()> then)
{
    if (m_worker.joinable())
        m_worker.join();
    if (files.isEmpty()) {
        if (then)
            then();
        return;
    }
    m_worker = std::thread([this, files, then = std::move(then)] {
        for (const QString &file : files)
            if (QFileInfo::exists(file) && !FileInUse(file))
                RemoveMadeFile(file);
        QMetaObject::invokeMethod(
            this,
            [this, then] {
                if (m_worker.joinable())
                    m_worker.join();
                if (then)
                    then();
            },
            Qt::QueuedConnection);
    });
}
