// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/dxaudioout.h"
#include "audio/stereobalance.h"
#include "audio/vorbisin.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;

// The Ogg player: plays one Ogg Vorbis file through VorbisIn1 → StereoBalance1 → DXAudioOut1, with its
// name, rate, times and comments, pause/resume, stop, a position bar and a balance slider. Every way of
// closing stops playback and waits for the output first.
class TfrmOggPlayer final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOggPlayer(QWidget *parent = nullptr);
    ~TfrmOggPlayer() override;

    // Open and play after the file dialog.
    void PlayFile(const QString &path);

    void BitBtn1Click();
    void BitBtn2Click();
    void bStopClick();
    void bCloseClick();
    // Plays on from this per cent of the file: the bar's drag end, page clicks and keys.
    void ScrollBar1Scroll(int position);
    // Where the reading is in the file, in per cent (what the bar shows).
    int FilePercent();
    void TrackBar1Change(int position);
    void Timer2Timer();

    TVorbisIn VorbisIn1;
    TStereoBalance StereoBalance1;
    TDXAudioOut DXAudioOut1;

    QLabel *lFileName;
    QLabel *lSampleRate;
    QLabel *lCurrentTime;
    QLabel *Label1;
    QLabel *lTotalTime;
    QScrollBar *ScrollBar1;
    QPushButton *BitBtn1;
    QPushButton *BitBtn2;
    QPushButton *bStop;
    QSlider *TrackBar1;
    QPushButton *bClose;
    QPlainTextEdit *Memo1;
    QTimer *Timer2;

    bool Closing = false;
    int32_t ElapsedMs = 0;

private:
    void showFilePosition();
    bool m_settingBar = false; // the bar moved by the program, not by the user

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    QWidget *infoPanel();
    void AudioOut1Done();
};
