// SPDX-License-Identifier: GPL-3.0-or-later
// The Options dialog's pages of the encoders: MP3, Ogg Vorbis, WMA, FLAC and Opus.
#include "audio/encoderprocess.h"
#include "optionsetform.h"
#include "shell/settings.h"
#include "ui/applylanguage.h"
#include "widgetnames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

namespace {

const QStringList mp3Rates = {" 32 kbit/s", " 40 kbit/s", " 48 kbit/s", " 56 kbit/s", " 64 kbit/s",
                              " 80 kbit/s", " 96 kbit/s", "112 kbit/s", "128 kbit/s", "160 kbit/s",
                              "192 kbit/s", "224 kbit/s", "256 kbit/s", "320 kbit/s"};
const QStringList oggRates = {" Default",   " 45 kbit/s", " 48 kbit/s", " 56 kbit/s", " 64 kbit/s",
                              " 80 kbit/s", " 96 kbit/s", "112 kbit/s", "128 kbit/s", "144 kbit/s",
                              "160 kbit/s", "192 kbit/s", "224 kbit/s", "256 kbit/s", "320 kbit/s"};

} // namespace

QWidget *TOptionSetForm::mp3Page()
{
    auto *mp3 = named(new QWidget, "TabSheet2");
    auto *mp3Layout = new QFormLayout(mp3);
    ckbSelectVBR = named(new QCheckBox(QStringLiteral("Enable Variable Bitrate(VBR)")), "ckbSelectVBR");
    ckbVBRHead = named(new QCheckBox(QStringLiteral("Disable writing of the VBR Tag")), "ckbVBRHead");
    cbBitRate = named(new QComboBox, "cbBitRate");
    KeepUntranslated(cbBitRate);
    cbMaxBitRate = named(new QComboBox, "cbMaxBitRate");
    KeepUntranslated(cbMaxBitRate);
    for (QComboBox *c : {cbBitRate, cbMaxBitRate}) {
        c->setEditable(true);
        c->addItems(mp3Rates);
    }
    cbVBRQuality = named(new QComboBox, "cbVBRQuality");
    KeepUntranslated(cbVBRQuality);
    for (int i = 0; i <= 9; ++i)
        cbVBRQuality->addItem(QString::number(i));
    cbMpegQuality = named(new QComboBox, "cbMpegQuality");
    cbMpegQuality->addItems({"Default", "Faster encode/Lower quality", "Slower encode/Higher quality"});
    cbStereoMode = named(new QComboBox, "cbStereoMode");
    cbStereoMode->addItems({"Stereo", "Joint Stereo", "Forced Joint Stereo", "Dual Channels", "Mono"});
    mp3Layout->addRow(ckbSelectVBR);
    mp3Layout->addRow(ckbVBRHead);
    mp3Layout->addRow(QStringLiteral("Minimum bitrate:"), cbBitRate);
    mp3Layout->addRow(QStringLiteral("Maximum bitrate:"), cbMaxBitRate);
    mp3Layout->addRow(QStringLiteral("VBR Quality:"), cbVBRQuality);
    mp3Layout->addRow(QStringLiteral("Speed/Quality:"), cbMpegQuality);
    mp3Layout->addRow(QStringLiteral("Mode:"), cbStereoMode);
    auto *mp3Default = named(new QPushButton(QStringLiteral("&Default")), "bDefault");
    mp3Layout->addRow(mp3Default);

    connect(mp3Default, &QPushButton::clicked, this, &TOptionSetForm::bDefaultClick);
    return mp3;
}

QWidget *TOptionSetForm::oggPage()
{
    auto *ogg = named(new QWidget, "TabSheet5");
    auto *oggLayout = new QFormLayout(ogg);
    cbUseCompress = named(new QCheckBox(QStringLiteral("Use Quality setting")), "cbUseCompress");
    tbCompression = named(new QSlider(Qt::Horizontal), "tbCompression");
    tbCompression->setRange(30, 100);
    tbCompression->setTickPosition(QSlider::NoTicks);
    oggLayout->addRow(cbUseCompress);
    lCompressionValue = named(new QLabel, "lCompressionValue");
    lCompressionValue->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("10.0")) + 4);
    auto *qualityRow = new QHBoxLayout;
    qualityRow->addWidget(tbCompression, 1);
    qualityRow->addWidget(lCompressionValue);
    qualityRow->addWidget(named(new QLabel(QStringLiteral("-> Highest quality")), "Label7"));
    oggLayout->addRow(qualityRow);
    // The Vorbis quality the position stands for (30 is 2.0, 100 is 9.0), as oggenc -q counts it.
    connect(tbCompression, &QSlider::valueChanged, this, [this](int value) {
        lCompressionValue->setText(QString::number(double(value - 10) / 10.0, 'f', 1));
    });
    cbOggNomBit = named(new QComboBox, "cbOggNomBit");
    KeepUntranslated(cbOggNomBit);
    cbOggMaxBit = named(new QComboBox, "cbOggMaxBit");
    KeepUntranslated(cbOggMaxBit);
    cbOggMinBit = named(new QComboBox, "cbOggMinBit");
    KeepUntranslated(cbOggMinBit);
    for (QComboBox *c : {cbOggNomBit, cbOggMaxBit, cbOggMinBit})
        c->addItems(oggRates);
    auto *manager = named(new QGroupBox(QStringLiteral("Use Bitrate manager")), "GroupBox3");
    auto *managerLayout = new QFormLayout(manager);
    managerLayout->addRow(QStringLiteral("Nominal bitrate:"), cbOggNomBit);
    managerLayout->addRow(QStringLiteral("Maximum bitrate:"), cbOggMaxBit);
    managerLayout->addRow(QStringLiteral("Minimum bitrate:"), cbOggMinBit);
    oggLayout->addRow(manager);

    return ogg;
}

QWidget *TOptionSetForm::wmaPage()
{
    auto *wma = named(new QWidget, "TabSheet6");
    auto *wmaLayout = new QFormLayout(wma);
    cbWMABitrate = named(new QComboBox, "cbWMABitrate");
    KeepUntranslated(cbWMABitrate);
    for (const TWmaProfile &p : WmaProfiles)
        cbWMABitrate->addItem(QString::fromLatin1(p.text));
    wmaLayout->addRow(QStringLiteral("Audio Bitrate:"), cbWMABitrate);
    auto *wmaDefault = named(new QPushButton(QStringLiteral("&Default")), "bWMADefault");
    wmaLayout->addRow(wmaDefault);

    connect(wmaDefault, &QPushButton::clicked, this, &TOptionSetForm::bWMADefaultClick);
    return wma;
}

QWidget *TOptionSetForm::flacPage()
{
    auto *flac = named(new QWidget, "TabSheetFlac");
    auto *flacLayout = new QFormLayout(flac);
    seFlacLevel = named(new QSpinBox, "seFlacLevel");
    seFlacLevel->setRange(0, 8);
    flacLayout->addRow(QStringLiteral("Compression level (0 fastest, 8 smallest):"), seFlacLevel);

    return flac;
}

namespace {

// The pages of the writers of our own besides FLAC's: each a tab, its controls named, their values loaded
// from the settings and saved back.
struct TWriterPage {
    const char *Caption;
    const char *Name;
    QWidget *(*Make)();
    void (*Load)(QWidget *page, const TOptionsSetting &settings);
    void (*Save)(const QWidget *page, TOptionsSetting &settings);
};

const TWriterPage writerPages[] = {
    {"Opus", "TabSheetOpus",
     [] {
         auto *page = new QWidget;
         auto *layout = new QFormLayout(page);
         auto *bitRate = new QSpinBox;
         bitRate->setObjectName(QStringLiteral("seOpusBitRate"));
         bitRate->setRange(MinOpusBitRate, MaxOpusBitRate);
         bitRate->setSuffix(QStringLiteral(" kbit/s"));
         layout->addRow(QStringLiteral("Bitrate (variable):"), bitRate);
         return page;
     },
     [](QWidget *page, const TOptionsSetting &settings) {
         page->findChild<QSpinBox *>(QStringLiteral("seOpusBitRate"))->setValue(settings.OpusOptions.BitRate);
     },
     [](const QWidget *page, TOptionsSetting &settings) {
         settings.OpusOptions.BitRate = page->findChild<QSpinBox *>(QStringLiteral("seOpusBitRate"))->value();
     }},
};

} // namespace

void TOptionSetForm::addWriterPages()
{
    for (const TWriterPage &row : writerPages)
        PageControl1->addTab(named(row.Make(), row.Name), QLatin1String(row.Caption));
}

void TOptionSetForm::loadWriterPages(const TOptionsSetting &settings)
{
    for (const TWriterPage &row : writerPages)
        row.Load(findChild<QWidget *>(QLatin1String(row.Name)), settings);
}

void TOptionSetForm::saveWriterPages(TOptionsSetting &settings) const
{
    for (const TWriterPage &row : writerPages)
        row.Save(findChild<QWidget *>(QLatin1String(row.Name)), settings);
}

void TOptionSetForm::bDefaultClick()
{
    ckbSelectVBR->setChecked(false);
    ckbVBRHead->setChecked(false);
    cbBitRate->setCurrentIndex(8);
    cbMaxBitRate->setCurrentIndex(13);
    cbVBRQuality->setCurrentIndex(4);
    cbMpegQuality->setCurrentIndex(0);
    cbStereoMode->setCurrentIndex(1);
}

void TOptionSetForm::bWMADefaultClick()
{
    cbWMABitrate->setCurrentIndex(8);
}
