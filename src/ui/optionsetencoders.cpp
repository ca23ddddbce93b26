// SPDX-License-Identifier: GPL-3.0-or-later
// The Options dialog's pages of the encoders: MP3, Ogg Vorbis, WMA, FLAC and those the formats declare.
#include "audio/encoderprocess.h"
#include "optionsetform.h"
#include "shell/outputformats.h"
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

// The spin box of a format's setting on its page.
QSpinBox *settingControl(const QWidget *form, const TFormatSetting &setting)
{
    return form->findChild<QSpinBox *>(QLatin1String(setting.Control));
}

} // namespace

// The pages the writers' settings declare (TFormatSetting::Page): a tab each, with its spin box.
void TOptionSetForm::addWriterPages()
{
    for (const TOutputFormatInfo &format : OutputFormats()) {
        const TFormatSetting *setting = format.Setting;
        if (!setting || !setting->Page)
            continue;
        auto *page = named(new QWidget, setting->Page);
        auto *layout = new QFormLayout(page);
        auto *control = named(new QSpinBox, setting->Control);
        control->setRange(setting->Min, setting->Max);
        control->setSuffix(QLatin1String(setting->Suffix));
        layout->addRow(QLatin1String(setting->Label), control);
        PageControl1->addTab(page, QLatin1String(format.Title));
    }
}

void TOptionSetForm::loadWriterPages(const TOptionsSetting &settings)
{
    TOptionsSetting copy = settings;
    for (const TOutputFormatInfo &format : OutputFormats())
        if (format.Setting && format.Setting->Page)
            settingControl(this, *format.Setting)->setValue(format.Setting->Value(copy));
}

void TOptionSetForm::saveWriterPages(TOptionsSetting &settings) const
{
    for (const TOutputFormatInfo &format : OutputFormats())
        if (format.Setting && format.Setting->Page)
            format.Setting->Value(settings) = settingControl(this, *format.Setting)->value();
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
