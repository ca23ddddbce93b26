// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/audioconverter.h"
#include "audio/fastresampler.h"
#include "audio/qualityresampler.h"
#include "jobs/wavein.h"
#include "jobs/waveout.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStatusBar;

// The wave file converter: one WAV file into another with a chosen rate, channel count, width and encoding,
// through WaveIn1 → FastResampler1 → AudioConverter1 → WaveOut1, which runs on the writer's thread while the
// dialog stays usable. The output is written under a hidden working name and takes its own name when the
// conversion ends by itself. Not translated (its texts are fixed English).
class TfrmResample final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmResample(QWidget *parent = nullptr);
    ~TfrmResample() override;

    // The file steps of Input File... and Output File..., after their dialogs.
    void SetInputFile(const QString &path);
    // Only a ".wav" name is taken; any other leaves the previous choice.
    void SetOutputFile(const QString &path);

    void Button1Click();
    void Button2Click();
    void Button3Click(); // Convert
    void Button4Click(); // Abort

    QString StatusText() const;
    static QString EncodingText(int waveType);

    TWaveIn WaveIn1;
    TFastResampler FastResampler1;
    TQualityResampler QualityResampler1;
    TAudioConverter AudioConverter1;
    TWaveOut WaveOut1;

    QLabel *Label5;  // input file name
    QLabel *Label6;  // channels
    QLabel *Label7;  // sample rate
    QLabel *Label8;  // bits per sample
    QLabel *Label15; // encoding
    QLabel *Label10; // output file name
    QLineEdit *Edit1;
    QSpinBox *SpinEdit1;
    QSpinBox *SpinEdit3;
    QComboBox *ComboBox1;
    QPushButton *Button1;
    QPushButton *Button2;
    QPushButton *Button3;
    QPushButton *Button4;
    QPushButton *Button5;
    QProgressBar *ProgressBar1;
    QStatusBar *StatusBar1;

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    // The boxes of the input's and the output's parameters.
    QGroupBox *inputBox();
    QGroupBox *outputBox();
    void WaveOut1Done();
    void message(const QString &text);

    QString m_output; // the chosen output file; empty until one is chosen
    bool m_aborted = false;
};
