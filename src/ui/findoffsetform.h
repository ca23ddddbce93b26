// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobs/offsetfind.h"

#include <QDialog>
#include <atomic>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

// Options > CD-ROM > "Find offset...": finds the read offset correction of a drive of the list with the disc
// in it, against the AccurateRip database, on a worker thread (the window stays live; Stop ends the search).
// The offset found is saved for the drive and kept in Offset(); the words of each step, and why nothing was
// found, show in the window.
class TFindOffsetForm final : public QDialog {
    Q_OBJECT
public:
    TFindOffsetForm(int driveIndex, const QString &server, QWidget *parent = nullptr);
    // Stops the search and waits for it.
    ~TFindOffsetForm() override;

    // The search starts when the window is first shown.
    void Start();
    bool Running() const { return m_running; }
    const std::optional<int> &Offset() const { return m_offset; }

    QLabel *lbStep;
    QProgressBar *pbSearch;
    QPushButton *btStop;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void search();
    void ended(const TOffsetSearch &search);
    void stopOrClose();

    const int m_driveIndex;
    const QString m_server;
    std::atomic<bool> m_stop{false};
    std::unique_ptr<QThread> m_thread;
    std::optional<int> m_offset;
    bool m_running = false;
};
