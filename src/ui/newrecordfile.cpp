// SPDX-License-Identifier: GPL-3.0-or-later
// "New sound file": the rate, sample width and channels of a new recording.
#include "recordform.h"
#include "shell/settings.h"
#include "toolbuttons.h"
#include "ui/applylanguage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

TfrmNewRecordFile::TfrmNewRecordFile(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmNewRecordFile"));
    setWindowTitle(QStringLiteral("New sound file"));
    auto *layout = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Record Property"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    auto *grid = new QGridLayout(group);
    cbBitSamples = new QComboBox(group);
    cbBitSamples->setObjectName(QStringLiteral("cbBitSamples"));
    KeepUntranslated(cbBitSamples);
    cbBitSamples->addItems({QStringLiteral("  8000"), QStringLiteral("11025"), QStringLiteral("12000"),
                            QStringLiteral("16000"), QStringLiteral("22050"), QStringLiteral("24000"),
                            QStringLiteral("32000"), QStringLiteral("44100"), QStringLiteral("48000")});
    cbBitSamples->setCurrentIndex(7);
    grid->addWidget(cbBitSamples, 0, 0, 1, 2);
    const auto radio = [group](const char *name, const QString &caption, QButtonGroup *buttons) {
        auto *b = new QRadioButton(caption, group);
        b->setObjectName(QLatin1String(name));
        buttons->addButton(b);
        return b;
    };
    auto *bits = new QButtonGroup(this);
    auto *channels = new QButtonGroup(this);
    rb8Bit = radio("rb8Bit", QStringLiteral("8bit"), bits);
    rb16Bit = radio("rb16Bit", QStringLiteral("16bit"), bits);
    rbMono = radio("rbMono", QStringLiteral("Mono"), channels);
    rbStereo = radio("rbStereo", QStringLiteral("Stereo"), channels);
    rb16Bit->setChecked(true);
    rbStereo->setChecked(true);
    grid->addWidget(rb8Bit, 1, 0);
    grid->addWidget(rb16Bit, 1, 1);
    grid->addWidget(rbMono, 2, 0);
    grid->addWidget(rbStereo, 2, 1);
    layout->addWidget(group);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    btOK = AddToolButton(this, buttons, "btOK", QStringLiteral("OK"));
    btCancel = AddToolButton(this, buttons, "btCancel", QStringLiteral("Cancel"));
    btOK->setDefault(true);
    layout->addLayout(buttons);
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int TfrmNewRecordFile::SampleRate() const
{
    return cbBitSamples->currentText().trimmed().toInt();
}

int TfrmNewRecordFile::BitsPerSample() const
{
    return rb8Bit->isChecked() ? 8 : 16;
}

int TfrmNewRecordFile::Channels() const
{
    return rbMono->isChecked() ? 1 : 2;
}

void TfrmNewRecordFile::showEvent(QShowEvent *event)
{
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
    QDialog::showEvent(event);
}
