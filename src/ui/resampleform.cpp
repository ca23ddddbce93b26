// SPDX-License-Identifier: GPL-3.0-or-later
#include "resampleform.h"

#include "jobs/waveconversion.h"
#include "shell/helpers.h"
#include "shell/settings.h"
#include "toolbuttons.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

TfrmResample::TfrmResample(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmResample"));
    setWindowTitle(QStringLiteral("Wave File Converter"));
    WaveIn1.Loop = false;
    WaveIn1.EndSample = -1;
    FastResampler1.SetInput(&WaveIn1);
    FastResampler1.OutSampleRate = 22050;
    AudioConverter1.SetInput(&FastResampler1);
    WaveOut1.SetInput(&AudioConverter1);
    WaveOut1.SetWavType(wtPCM);
    WaveOut1.SetBlockSize(512);
    WaveOut1.CreateNonMsHeaders = false;
    WaveOut1.FileMode = foRewrite;
    WaveOut1.OnProgress = [this](TAuOutput *sink) {
        ProgressBar1->setValue(std::clamp(sink->Progress(), 0, 100));
    };
    WaveOut1.OnThreadException = [this](TAuOutput *sink) {
        StatusBar1->showMessage(sink->ExceptionMessage());
    };
    WaveOut1.OnDone = [this](TAuOutput *) { WaveOut1Done(); };

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(inputBox());
    layout->addWidget(outputBox());
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    layout->addWidget(ProgressBar1);
    auto *buttons = new QHBoxLayout;
    const auto button = [this, buttons](const char *name, const QString &text) {
        return AddToolButton(this, buttons, name, text);
    };
    Button1 = button("Button1", QStringLiteral("Input File..."));
    Button2 = button("Button2", QStringLiteral("Output File..."));
    Button3 = button("Button3", QStringLiteral("Convert"));
    Button4 = button("Button4", QStringLiteral("Abort"));
    Button5 = button("Button5", QStringLiteral("Close"));
    layout->addLayout(buttons);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    layout->addWidget(StatusBar1);

    connect(Button1, &QPushButton::clicked, this, &TfrmResample::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TfrmResample::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TfrmResample::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TfrmResample::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TfrmResample::reject);
    setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
}

namespace {

QLabel *namedLabel(QWidget *owner, const char *name)
{
    auto *l = new QLabel(owner);
    l->setObjectName(QLatin1String(name));
    return l;
}

} // namespace

QGroupBox *TfrmResample::inputBox()
{
    auto *input = new QGroupBox(QStringLiteral("Input File Parameters"), this);
    auto *inputForm = new QFormLayout(input);
    Label5 = namedLabel(input, "Label5");
    Label6 = namedLabel(input, "Label6");
    Label7 = namedLabel(input, "Label7");
    Label8 = namedLabel(input, "Label8");
    Label15 = namedLabel(input, "Label15");
    inputForm->addRow(QStringLiteral("File:"), Label5);
    inputForm->addRow(QStringLiteral("Channels:"), Label6);
    inputForm->addRow(QStringLiteral("Sample Rate:"), Label7);
    inputForm->addRow(QStringLiteral("Bits Per Sample:"), Label8);
    inputForm->addRow(QStringLiteral("Encoding"), Label15);
    return input;
}

QGroupBox *TfrmResample::outputBox()
{
    auto *output = new QGroupBox(QStringLiteral(" Output File Parameters "), this);
    auto *outputForm = new QFormLayout(output);
    Label10 = namedLabel(output, "Label10");
    Edit1 = new QLineEdit(QStringLiteral("22050"), output);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    SpinEdit1 = new QSpinBox(output);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setRange(1, 2);
    SpinEdit1->setValue(1);
    SpinEdit3 = new QSpinBox(output);
    SpinEdit3->setObjectName(QStringLiteral("SpinEdit3"));
    SpinEdit3->setRange(8, 32);
    SpinEdit3->setSingleStep(8);
    SpinEdit3->setValue(8);
    ComboBox1 = new QComboBox(output);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems({QStringLiteral("RAW PCM"), QStringLiteral("DVI IMA ADPCM")});
    ComboBox1->setCurrentIndex(0);
    outputForm->addRow(QStringLiteral("File:"), Label10);
    outputForm->addRow(QStringLiteral("Sample Rate:"), Edit1);
    outputForm->addRow(QStringLiteral("Channels:"), SpinEdit1);
    outputForm->addRow(QStringLiteral("Bits Per Sample:"), SpinEdit3);
    outputForm->addRow(QStringLiteral("Encoding"), ComboBox1);
    return output;
}

TfrmResample::~TfrmResample()
{
    WaveOut1.Stop(false);
    if (!m_output.isEmpty())
        DiscardWorkingFile(ClaimedWorkingFileOf(m_output), m_output);
}

QString TfrmResample::EncodingText(int waveType)
{
    static const char *const names[] = {
        "Unsupported", "Raw PCM",    "DVI IMA ADPCM",       "Microsoft ADPCM",
        "ACM",         "IEEE Float", "WaveFormatExt (PCM)", "WaveFormatExt (IEEE Float)"};
    return waveType >= 0 && waveType <= 7 ? QLatin1String(names[waveType]) : QString();
}

QString TfrmResample::StatusText() const
{
    return StatusBar1->currentMessage();
}

void TfrmResample::message(const QString &text)
{
    QMessageBox::information(this, QStringLiteral("Sondrel"), text);
}

void TfrmResample::SetInputFile(const QString &path)
{
    WaveIn1.SetFileName(path);
    if (!WaveIn1.TryOpen())
        return; // the labels keep what they showed
    Label5->setText(QFileInfo(path).fileName());
    Label6->setText(QString::number(WaveIn1.GetChannels()));
    Label7->setText(QString::number(WaveIn1.GetSampleRate()));
    Label8->setText(QString::number(WaveIn1.GetBitsPerSample()));
    Label15->setText(EncodingText(int(WaveIn1.WavType()) & 0x7F));
}

void TfrmResample::SetOutputFile(const QString &path)
{
    if (!path.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive))
        return;
    m_output = path;
    Label10->setText(QFileInfo(path).fileName());
}

void TfrmResample::Button1Click()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QString(),
                                                      QStringLiteral("Wave Files (*.wav)"));
    if (!path.isEmpty())
        SetInputFile(path);
}

void TfrmResample::Button2Click()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), QString(),
                                     QStringLiteral("Wave Files (*.wav);;Windows Media Files (*.wma)"));
    if (!path.isEmpty())
        SetOutputFile(path);
}

void TfrmResample::Button3Click()
{
    if (m_output.isEmpty()) {
        message(QStringLiteral("The output file name is not set!"));
        return;
    }
    bool number = false;
    const int rate = Edit1->text().trimmed().toInt(&number);
    if (!number) {
        message(QStringLiteral("'%1' is not a valid integer value").arg(Edit1->text()));
        return;
    }
    if (!WaveIn1.TryOpen())
        return;
    ApplyWaveConversion(
        TWaveConversion{rate, SpinEdit1->value(), SpinEdit3->value(), ComboBox1->currentIndex() == 1},
        WaveIn1,
        AppSettings.CommonOptions.ResampleQuality == 1 ? static_cast<TRateConverter &>(FastResampler1)
                                                       : static_cast<TRateConverter &>(QualityResampler1),
        AudioConverter1, WaveOut1);
    WaveOut1.SetFileName(WorkingFileOf(m_output));
    m_aborted = false;
    Button3->setEnabled(false);
    StatusBar1->showMessage(QStringLiteral("Converting..."));
    ProgressBar1->setValue(0);
    try {
        WaveOut1.Run();
    } catch (const std::exception &e) {
        Button3->setEnabled(true);
        StatusBar1->showMessage(QString::fromUtf8(e.what()));
    }
}

void TfrmResample::Button4Click()
{
    m_aborted = true;
    WaveOut1.Stop(true);
}

void TfrmResample::WaveOut1Done()
{
    Button3->setEnabled(true);
    ProgressBar1->setValue(100);
    const QString working = WaveOut1.FileName();
    WaveOut1.SetFileName(QString());
    // A conversion that did not end by itself leaves nothing under the output's name, and an aborted one is
    // not called a success.
    const bool failed = !WaveOut1.ExceptionMessage().isEmpty();
    QString error;
    if (SettleWorkingFile(working, m_output, !failed && !m_aborted, &error))
        StatusBar1->showMessage(QStringLiteral("Success!"));
    else if (!error.isEmpty())
        StatusBar1->showMessage(error);
    else if (!failed)
        StatusBar1->showMessage(QStringLiteral("Aborted"));
}

void TfrmResample::closeEvent(QCloseEvent *event)
{
    WaveOut1.Stop(false);
    QDialog::closeEvent(event);
}

void TfrmResample::reject()
{
    WaveOut1.Stop(false);
    QDialog::reject();
}
