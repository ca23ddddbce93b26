// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <thread>

// Removes a batch of files on a thread of its own (the WAVs of a rip are large, and removing them blocks the
// caller for a while), then calls back on the owner's thread. Only files this process made go (see
// RemoveMadeFile): another run's of the same name, and one in use, are left. Destroying the remover
// waits for a batch still running, so no file meant to go is left behind.
class TFileRemover final : public QObject {
    Q_OBJECT
public:
    explicit TFileRemover(QObject *parent = nullptr) : QObject(parent) {}
    ~TFileRemover() override;

    // `then` follows once every file is gone (at once, without a thread, when there are none). One batch at
    // a time.
    void RemoveAll(const QStringList &files, std::function<void()> then);
    bool Busy() const { return m_worker.joinable(); }

private:
    std::thread m_worker;
};
