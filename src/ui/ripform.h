// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobs/extractjob.h"
#include "jobs/ripjob.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

// The modal window of a job: the step in its caption and group box, a gauge, the elapsed and estimated
// times, and a Stop button. It only presents; the job (TRipJob) decides what happens next. exec() returns
// mrCancel (2) when the job ended by itself and mrAbort (3) when the user stopped it.
// The result of a verified or tested extraction: a line a track and the summary, in a message box over the
// job window (a warning when a track failed or did not match).
void ShowRipResults(QWidget *parent, const TRipSession &session);

// A progress bar whose value changes at most ten times a second: QProgressBar repaints at once on every
// change, and a job's notices would keep the window's thread painting. The latest value always lands (within
// 100 ms); its range's ends land at once.
class TGaugeThrottle final : public QObject {
public:
    explicit TGaugeThrottle(QProgressBar *bar);
    void Set(int value);

private:
    void show(int value);
    QProgressBar *m_bar;
    QElapsedTimer m_shown;
    QTimer m_later;
    int m_pending = 0;
};

// The lines of the encodings running beside a read in a job window: a caption and a bar each, by slot.
class TEncodingLines final : public QWidget {
public:
    explicit TEncodingLines(QWidget *parent = nullptr);
    void Set(int slot, const QString &caption, int percent);
    void End(int slot);

    struct Line {
        QLabel *Caption = nullptr;
        QProgressBar *Gauge = nullptr;
        TGaugeThrottle *Throttle = nullptr;
    };
    std::vector<Line> Lines;

private:
    QVBoxLayout *m_layout;
};

class TRipForm final : public QDialog, public TRipJobPresenter {
    Q_OBJECT
public:
    TRipForm(QWidget *owner, JobKind kind, TCdHandle value, const QStringList &files,
             const QString &outputFolder, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma);
    // The window of any job that reports as a file job does (a conversion of any files, say): makeJob gives
    // the job that presents in this window.
    TRipForm(QWidget *owner, const std::function<std::unique_ptr<TJobRun>(TRipJobPresenter &)> &makeJob);
    // The window of an extraction through the CD access calls.
    TRipForm(QWidget *owner, const std::function<std::unique_ptr<TJobRun>(TExtractView &)> &makeExtraction);
    ~TRipForm() override;

    void SetCaption(const QString &text) override;
    void SetStage(const QString &text) override;
    void SetElapsed(const QString &text) override;
    void SetEstimated(const QString &text) override;
    void SetInitializing(const QString &text, bool visible) override;
    void SetGauge(int percent, bool showText) override;
    void ShowError(const QString &text) override;
    void ShowWarning(const QString &text) override;
    void FileMade(const QString &path) override { m_made << path; }
    void Finish(int result) override;
    void ReadPathFailed() override;
    void ShowVerification(const TRipSession &session) override;
    void SetEncoding(int slot, const QString &caption, int percent) override;
    void EndEncoding(int slot) override;

    QGroupBox *GroupBox1;
    QLabel *Label10;
    QLabel *Label20;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QProgressBar *FlatGauge1;
    TGaugeThrottle *FlatGaugeThrottle;
    QPushButton *btStop;
    QLabel *Image1;
    // One line per running encoding of a job with several encoders at once.
    TEncodingLines *Encodings;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

public:
    // The files the job made.
    const QStringList &Made() const { return m_made; }

private:
    void btStopClick();

    TExtractOnJobPresenter m_extractView{*this}; // an extraction's stages, in this window's words
    std::unique_ptr<TJobRun> m_job;
    QStringList m_made;
    bool m_started = false;
    int m_pendingResult = 0;
};
