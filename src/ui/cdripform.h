// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobs/extractjob.h"

#include <QDialog>
#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class QProgressBar;
class TGaugeThrottle;
class QPushButton;
class TEncodingLines;

// The modal extraction window of the drive component path; it presents what its TExtractJob does. Its texts
// are fixed English ones. exec() returns mrCancel at the end of the job and mrAbort after Stop.
class TfrmCDRip final : public QDialog, public TExtractView {
    Q_OBJECT
public:
    TfrmCDRip(QWidget *owner, TCDIn &cdIn, const QStringList &files, const QString &outputFolder,
              TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma);
    // With the job's own settings (JobSettings) instead of the program's.
    TfrmCDRip(QWidget *owner, TCDIn &cdIn, const QStringList &files, const TOptionsSetting &jobSettings,
              TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma);
    // The window of any job that presents as an extraction through the drive component does.
    TfrmCDRip(QWidget *owner, const std::function<std::unique_ptr<TJobRun>(TExtractView &)> &makeJob);
    ~TfrmCDRip() override;

    void Begin(int tracks, int32_t format) override;
    void Stage(TExtractStage stage, int number, int total, const QString &base) override;
    void Progress(const TProcessInfo &info) override;
    void ShowError(const QString &text) override;
    void FileMade(const QString &path) override { m_made << path; }
    void Finish(int result) override;
    void ShowVerification(const TRipSession &session) override;
    void SetEncoding(int slot, const QString &caption, int percent) override;
    void EndEncoding(int slot) override;

    QLabel *lCurrentTrack;
    QLabel *lOutputFormat;
    QLabel *lSelectedTracks;
    QLabel *lCompleted;
    QLabel *lProgressHint;
    QProgressBar *ProgressBar2;
    TGaugeThrottle *ProgressBar2Throttle;
    QPushButton *bStop;
    TEncodingLines *Encodings; // one line per running encoding, with several encoders at once

protected:
    void showEvent(QShowEvent *event) override;
    void reject() override;

public:
    // The files the job made.
    const QStringList &Made() const { return m_made; }

private:
    void setHint(const QString &text); // the progress hint, also the gauge's
    std::unique_ptr<TJobRun> m_job;
    QStringList m_made;
    bool m_started = false;
    int m_pendingResult = 0;
};
