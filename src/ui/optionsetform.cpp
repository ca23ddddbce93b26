// SPDX-License-Identifier: GPL-3.0-or-later
#include "optionsetform.h"

#include "audio/encoderprocess.h"
#include "cdrom/cdin.h"
#include "findoffsetform.h"
#include "jobs/formatplan.h"
#include "jobs/playlist.h"
#include "shell/folders.h"
#include "shell/genres.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "ui/applylanguage.h"
#include "widgetnames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstring>

namespace {

// "Write ReplayGain values (Ogg Vorbis, FLAC, ...)": the formats the setting writes them into.
QString replayGainCaption()
{
    QStringList formats;
    for (const TOutputFormatInfo &format : OutputFormats())
        if (format.GainByDefault)
            formats << QLatin1String(format.Title);
    return QStringLiteral("Write ReplayGain values (%1)").arg(formats.join(QStringLiteral(", ")));
}

// The number in the first three characters of a bit rate text, or -1.
int bitRateOf(const QString &text)
{
    bool ok = false;
    const int value = text.left(3).trimmed().toInt(&ok);
    return ok ? value : -1;
}

} // namespace

TOptionSetForm::TOptionSetForm(TOptionsHost &host, QWidget *parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("OptionSetForm"));
    setWindowTitle(QStringLiteral("Options"));
    auto *layout = new QVBoxLayout(this);
    PageControl1 = named(new QTabWidget(this), "PageControl1");
    layout->addWidget(PageControl1);
    PageControl1->addTab(outputPage(), QStringLiteral("Output"));
    PageControl1->addTab(mp3Page(), QStringLiteral("MP3"));
    PageControl1->addTab(oggPage(), QStringLiteral("OGG"));
    PageControl1->addTab(wmaPage(), QStringLiteral("WMA"));
    PageControl1->addTab(flacPage(), QStringLiteral("FLAC"));
    addWriterPages();
    PageControl1->addTab(id3Page(), QStringLiteral("ID3 Tag"));
    QWidget *cd = cdPage();
    PageControl1->addTab(cd, QStringLiteral("CD-ROM"));
    PageControl1->addTab(titlesPage(), QStringLiteral("Titles"));
    PageControl1->setCurrentIndex(0);
    // Every tab in view at the default font, no scroll arrows; the window can be made larger.
    PageControl1->setUsesScrollButtons(false);
    setSizeGripEnabled(true);

    auto *buttons = new QHBoxLayout;
    btOk = named(new QPushButton(QStringLiteral("OK")), "btOk");
    btCancel = named(new QPushButton(QStringLiteral("Cancel")), "btCancel");
    btOk->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    layout->addLayout(buttons);

    NameRowLabels(this);
    connect(btOk, &QPushButton::clicked, this, &TOptionSetForm::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btBrowser, &QPushButton::clicked, this, &TOptionSetForm::btBrowserClick);
    for (QCheckBox *box : {ckNormalize, ckbSelectVBR, cbRipTime, ckVerifyAccurateRip})
        connect(box, &QCheckBox::toggled, this, &TOptionSetForm::updateEnabling);
    connect(cbOutputFormat, &QComboBox::currentIndexChanged, this, &TOptionSetForm::updateEnabling);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this, cd](int) {
        if (PageControl1->currentWidget() == cd)
            TabSheet3Show();
    });
}

QWidget *TOptionSetForm::outputPage()
{
    auto *output = named(new QWidget, "TabSheet1");
    auto *outputLayout = new QVBoxLayout(output);
    auto *dirGroup = named(new QGroupBox(QStringLiteral("Output directory(WAV/MP3)")), "GroupBox1");
    auto *dirLayout = new QHBoxLayout(dirGroup);
    editOutputDir = named(new QLineEdit, "editOutputDir");
    btBrowser = named(new QPushButton(QStringLiteral("...")), "btBrowser");
    KeepUntranslated(btBrowser);
    dirLayout->addWidget(editOutputDir);
    dirLayout->addWidget(btBrowser);
    outputLayout->addWidget(dirGroup);
    ckbKeepWav = named(new QCheckBox(QStringLiteral("Delete WAV file after processing")), "ckbKeepWav");
    cbCreateM3U = named(new QCheckBox(QStringLiteral("Create '.m3u' playlist on extraction")), "cbCreateM3U");
    cbCreateAlbumFolder =
        named(new QCheckBox(QStringLiteral("Create album folder if available")), "cbCreateAlbumFolder");
    cbCreateAlbumFolder->setToolTip(
        QStringLiteral("Create album named subfolder when album info exists; otherwise "
                       "save files directly to output directory."));
    outputLayout->addWidget(ckbKeepWav);
    outputLayout->addWidget(cbCreateM3U);
    outputLayout->addWidget(cbCreateAlbumFolder);
    auto *formatGroup = named(new QGroupBox(QStringLiteral("Output format")), "GroupBox2");
    auto *formatLayout = new QVBoxLayout(formatGroup);
    cbOutputFormat = named(new QComboBox, "cbOutputFormat");
    for (const TOutputFormatInfo &format : OutputFormats())
        cbOutputFormat->addItem(QLatin1String(format.Filter));
    formatLayout->addWidget(cbOutputFormat);
    // Formats made besides the main one, from the same read.
    auto *extrasRow = new QHBoxLayout;
    extrasRow->addWidget(named(new QLabel(QStringLiteral("Also make:")), "lExtraFormats"));
    for (const TOutputFormatInfo &format : OutputFormats()) {
        auto *box = new QCheckBox(QLatin1String(format.Name));
        box->setObjectName(QStringLiteral("ckExtraFormat%1").arg(format.Value));
        KeepUntranslated(box);
        ckExtraFormats.push_back(box);
        extrasRow->addWidget(box);
    }
    extrasRow->addStretch();
    formatLayout->addLayout(extrasRow);
    outputLayout->addWidget(formatGroup);
    auto *namesRow = new QHBoxLayout;
    cbFileNames = named(new QComboBox, "cbFileNames");
    KeepUntranslated(cbFileNames);
    cbFileNames->setEditable(true);
    cbFileNames->addItems(FileNameTemplateChoices());
    cbFileNames->setToolTip(QStringLiteral("%track% %title% %artist% %albumartist% %album% %year% %genre%"));
    namesRow->addWidget(named(new QLabel(QStringLiteral("File names")), "lFileNames"));
    namesRow->addWidget(cbFileNames, 1);
    outputLayout->addLayout(namesRow);
    addOutputRows(outputLayout);
    return output;
}

void TOptionSetForm::addOutputRows(QVBoxLayout *outputLayout)
{
    auto *normalizeRow = new QHBoxLayout;
    ckNormalize = named(new QCheckBox(QStringLiteral("Normalize")), "ckNormalize");
    SpinEdit1 = named(new QSpinBox, "SpinEdit1");
    SpinEdit1->setRange(0, 100);
    if (auto *edit = SpinEdit1->findChild<QLineEdit *>())
        edit->setReadOnly(true); // the arrows only
    normalizeRow->addWidget(ckNormalize);
    normalizeRow->addWidget(SpinEdit1);
    auto *percent = named(new QLabel(QStringLiteral("%")), "lPercent");
    KeepUntranslated(percent);
    normalizeRow->addWidget(percent);
    normalizeRow->addStretch();
    outputLayout->addLayout(normalizeRow);
    ckReplayGain = named(new QCheckBox(replayGainCaption()), "ckReplayGain");
    outputLayout->addWidget(ckReplayGain);
    cbRipTime = named(new QCheckBox(QStringLiteral("Enable to set the length to extract")), "cbRipTime");
    outputLayout->addWidget(cbRipTime);
    auto *ripRow = new QHBoxLayout;
    eRipTime = named(new QLineEdit, "eRipTime");
    ripRow->addWidget(named(new QLabel(QStringLiteral("The song length:")), "Label5"));
    ripRow->addWidget(eRipTime);
    ripRow->addWidget(named(new QLabel(QStringLiteral("Second")), "Label6"));
    outputLayout->addLayout(ripRow);
    auto *resampleRow = new QHBoxLayout;
    cbResampleQuality = named(new QComboBox, "cbResampleQuality");
    cbResampleQuality->addItems({QStringLiteral("High"), QStringLiteral("Fast")});
    resampleRow->addWidget(named(new QLabel(QStringLiteral("Resampling quality")), "lResampleQuality"));
    resampleRow->addWidget(cbResampleQuality);
    seEncoders = named(new QSpinBox, "seEncoders");
    seEncoders->setRange(0, 64);
    seEncoders->setSpecialValueText(QStringLiteral("one per processor core"));
    resampleRow->addWidget(named(new QLabel(QStringLiteral("Encoders at once")), "lEncoders"));
    resampleRow->addWidget(seEncoders);
    resampleRow->addStretch();
    outputLayout->addLayout(resampleRow);
}

QWidget *TOptionSetForm::id3Page()
{
    auto *id3 = named(new QWidget, "TabSheet4");
    auto *id3Layout = new QFormLayout(id3);
    cbUseID3 = named(new QCheckBox(QStringLiteral("Use ID3 tag")), "cbUseID3");
    ID3artist = named(new QLineEdit, "ID3artist");
    ID3album = named(new QLineEdit, "ID3album");
    ID3year = named(new QLineEdit, "ID3year");
    ID3comment = named(new QLineEdit, "ID3comment");
    ID3artist->setMaxLength(30);
    ID3album->setMaxLength(30);
    ID3year->setMaxLength(4);
    ID3comment->setMaxLength(30);
    ID3genre = named(new QComboBox, "ID3genre");
    KeepUntranslated(ID3genre);
    ID3genre->addItem(QString());
    ID3genre->addItems(GenreNames());
    id3Layout->addRow(cbUseID3);
    id3Layout->addRow(QStringLiteral("Artist:"), ID3artist);
    id3Layout->addRow(QStringLiteral("Album:"), ID3album);
    id3Layout->addRow(QStringLiteral("Year:"), ID3year);
    id3Layout->addRow(QStringLiteral("Comment:"), ID3comment);
    id3Layout->addRow(QStringLiteral("Genre:"), ID3genre);

    return id3;
}

QWidget *TOptionSetForm::cdPage()
{
    auto *cd = named(new QWidget, "TabSheet3");
    auto *cdLayout = new QFormLayout(cd);
    cbCDList = named(new QComboBox, "cbCDList");
    ckbCDDb = named(new QCheckBox(QStringLiteral("Get CD information from CD DB")), "ckbCDDb");
    ckbCDDb->setVisible(false);
    cdLayout->addRow(QStringLiteral("Device\uFF1A"), cbCDList);
    cdLayout->addRow(ckbCDDb);
    seReadOffset = named(new QSpinBox, "seReadOffset");
    seReadOffset->setRange(-MaxReadOffset, MaxReadOffset);
    cdLayout->addRow(QStringLiteral("Read offset correction (samples):"), seReadOffset);
    btFindOffset = named(new QPushButton(QStringLiteral("&Find offset...")), "btFindOffset");
    auto *findRow = new QHBoxLayout;
    findRow->addWidget(btFindOffset);
    findRow->addStretch();
    cdLayout->addRow(findRow);
    connect(btFindOffset, &QPushButton::clicked, this, &TOptionSetForm::btFindOffsetClick);
    ckTestAndCopy =
        named(new QCheckBox(QStringLiteral("Test && copy (read every track twice)")), "ckTestAndCopy");
    ckVerifyAccurateRip =
        named(new QCheckBox(QStringLiteral("Verify with AccurateRip")), "ckVerifyAccurateRip");
    eAccurateRipServer = named(new QLineEdit, "eAccurateRipServer");
    ckWriteLog = named(new QCheckBox(QStringLiteral("Write a rip log")), "ckWriteLog");
    ckWriteCue = named(new QCheckBox(QStringLiteral("Write a cue sheet")), "ckWriteCue");
    seTestCopyRetries = named(new QSpinBox, "seTestCopyRetries");
    seTestCopyRetries->setRange(0, 20);
    ckDeemphasis = named(new QCheckBox(QStringLiteral("Undo the pre-emphasis of tracks the disc flags")),
                         "ckDeemphasis");
    ckRipHiddenTrack = named(new QCheckBox(QStringLiteral("Rip audio hidden before track 1 (as track 0)")),
                             "ckRipHiddenTrack");
    cdLayout->addRow(ckTestAndCopy);
    cdLayout->addRow(QStringLiteral("Reads again when test and copy differ:"), seTestCopyRetries);
    cdLayout->addRow(ckDeemphasis);
    cdLayout->addRow(ckRipHiddenTrack);
    cdLayout->addRow(ckVerifyAccurateRip);
    cdLayout->addRow(QStringLiteral("AccurateRip server:"), eAccurateRipServer);
    cdLayout->addRow(ckWriteLog);
    cdLayout->addRow(ckWriteCue);

    return cd;
}

// Where titles and covers come from.
QWidget *TOptionSetForm::titlesPage()
{
    auto *titles = named(new QWidget, "TabSheetTitles");
    auto *titlesLayout = new QFormLayout(titles);
    cbLookupOrder = named(new QComboBox, "cbLookupOrder");
    cbLookupOrder->addItems({QStringLiteral("MusicBrainz, then CDDB"), QStringLiteral("MusicBrainz only"),
                             QStringLiteral("CDDB only")});
    eMusicBrainzServer = named(new QLineEdit, "eMusicBrainzServer");
    eCoverArtServer = named(new QLineEdit, "eCoverArtServer");
    ckSaveCover =
        named(new QCheckBox(QStringLiteral("Keep the cover as cover.jpg beside the files")), "ckSaveCover");
    ckEmbedCover = named(new QCheckBox(QStringLiteral("Put the cover into the files")), "ckEmbedCover");
    titlesLayout->addRow(QStringLiteral("Look titles up at"), cbLookupOrder);
    titlesLayout->addRow(QStringLiteral("MusicBrainz server"), eMusicBrainzServer);
    titlesLayout->addRow(QStringLiteral("Cover art server"), eCoverArtServer);
    titlesLayout->addRow(ckSaveCover);
    titlesLayout->addRow(ckEmbedCover);
    return titles;
}

void TOptionSetForm::updateEnabling()
{
    SpinEdit1->setEnabled(ckNormalize->isChecked());
    for (QWidget *w : std::initializer_list<QWidget *>{ckbVBRHead, cbMaxBitRate, cbVBRQuality})
        w->setEnabled(ckbSelectVBR->isChecked());
    eRipTime->setEnabled(cbRipTime->isChecked());
    ckbKeepWav->setEnabled(cbOutputFormat->currentIndex() != 1);
    for (int i = 0; i < int(ckExtraFormats.size()); ++i) // the main format is made anyway
        ckExtraFormats[size_t(i)]->setEnabled(i != cbOutputFormat->currentIndex());
    eAccurateRipServer->setEnabled(ckVerifyAccurateRip->isChecked());
}

void TOptionSetForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
    toControls();
}

void TOptionSetForm::toControls()
{
    const TOptionsSetting &s = AppSettings;
    editOutputDir->setText(s.CommonOptions.OutputFolder);
    ckbKeepWav->setChecked(!s.CommonOptions.IsKeepWav);
    cbCreateM3U->setChecked(s.CommonOptions.IsCreateM3U);
    cbCreateAlbumFolder->setChecked(s.CommonOptions.IsCreateAlbumFolder);
    cbOutputFormat->setCurrentIndex(s.CommonOptions.OutputFormat);
    cbFileNames->setCurrentText(s.CommonOptions.FileNameTemplate);
    cbLookupOrder->setCurrentIndex(std::clamp(s.QueryCDDB.LookupOrder, 0, 2));
    eMusicBrainzServer->setText(s.QueryCDDB.MusicBrainzServer);
    eCoverArtServer->setText(s.QueryCDDB.CoverArtServer);
    ckSaveCover->setChecked(s.QueryCDDB.SaveCover);
    ckEmbedCover->setChecked(s.QueryCDDB.EmbedCover);
    ckNormalize->setChecked(s.CommonOptions.IsNormalize);
    SpinEdit1->setValue(s.CommonOptions.NormalizePercent);
    cbRipTime->setChecked(s.CommonOptions.EnableRipTime);
    eRipTime->setText(QString::number(s.CommonOptions.RipTime));
    ckbSelectVBR->setChecked(s.Mp3Options.IsSelectVBR);
    ckbVBRHead->setChecked(s.Mp3Options.IsVBRHead);
    cbBitRate->setEditText(QString::number(s.Mp3Options.BitRate) + QStringLiteral(" kbit/s"));
    cbMaxBitRate->setEditText(QString::number(s.Mp3Options.MaxBitRate) + QStringLiteral(" kbit/s"));
    cbVBRQuality->setCurrentIndex(s.Mp3Options.VBRQuality);
    cbMpegQuality->setCurrentIndex(s.Mp3Options.MpegQuality);
    cbStereoMode->setCurrentIndex(s.Mp3Options.StereoMode);
    cbUseCompress->setChecked(s.OggOptions.IsUseCompress);
    tbCompression->setValue(s.OggOptions.CompressPosition);
    cbOggNomBit->setCurrentIndex(s.OggOptions.NomalBitRate);
    cbOggMaxBit->setCurrentIndex(s.OggOptions.MaxBitRate);
    cbOggMinBit->setCurrentIndex(s.OggOptions.MinBitRate);
    seFlacLevel->setValue(s.FlacOptions.CompressionLevel);
    loadWriterPages(s);
    cbResampleQuality->setCurrentIndex(std::clamp(s.CommonOptions.ResampleQuality, 0, 1));
    seEncoders->setValue(s.CommonOptions.EncodersAtOnce);
    ckReplayGain->setChecked(s.CommonOptions.ReplayGain);
    const QList<int32_t> extras = ExtraFormatsOf(s.CommonOptions);
    for (int i = 0; i < int(ckExtraFormats.size()); ++i)
        ckExtraFormats[size_t(i)]->setChecked(extras.contains(i));
    seReadOffset->setValue(s.CommonOptions.ReadOffset);
    ckTestAndCopy->setChecked(s.CommonOptions.TestAndCopy);
    seTestCopyRetries->setValue(s.CommonOptions.TestCopyRetries);
    ckDeemphasis->setChecked(s.CommonOptions.Deemphasis);
    ckRipHiddenTrack->setChecked(s.CommonOptions.RipHiddenTrack);
    ckVerifyAccurateRip->setChecked(s.CommonOptions.VerifyAccurateRip);
    eAccurateRipServer->setText(s.CommonOptions.AccurateRipServer);
    ckWriteLog->setChecked(s.CommonOptions.WriteLog);
    ckWriteCue->setChecked(s.CommonOptions.WriteCue);
    cbWMABitrate->setCurrentIndex(s.WMAOptions.BitRate);
    cbUseID3->setChecked(s.Use);
    ID3artist->setText(s.DiscInfo.Artist);
    ID3album->setText(s.DiscInfo.Album);
    ID3year->setText(s.DiscInfo.Year);
    ID3comment->setText(s.DiscInfo.Comment);
    ID3genre->setCurrentIndex(s.DiscInfo.Genre >= 0 && s.DiscInfo.Genre <= 148 ? s.DiscInfo.Genre : -1);
    ckbCDDb->setChecked(s.CDOptions.CDDb);
    m_driveAtOpening = std::max(s.CDOptions.Index, 0);
    m_cddbAtOpening = s.CDOptions.CDDb;
    updateEnabling();
}

void TOptionSetForm::btBrowserClick()
{
    const QString start = QFileInfo(editOutputDir->text()).isDir() ? editOutputDir->text() : ProgramFolder();
    const QString chosen = QFileDialog::getExistingDirectory(
        this,
        LocalizedText(QStringLiteral("RES_Select_Directory"),
                      QStringLiteral("Please select the directory to save mp3 and wav file")),
        start);
    if (!chosen.isEmpty())
        editOutputDir->setText(chosen);
}

void TOptionSetForm::btFindOffsetClick()
{
    // The drive chosen on the page, or the one in use before the page was shown.
    const int drive = cbCDList->currentIndex() >= 0 ? cbCDList->currentIndex() : m_driveAtOpening;
    TFindOffsetForm form(drive, eAccurateRipServer->text().trimmed(), this);
    form.exec();
    if (form.Offset())
        seReadOffset->setValue(*form.Offset());
}

void TOptionSetForm::TabSheet3Show()
{
    cbCDList->clear();
    if (m_host.CurrentDriveHandle() != 0) {
        TCDList list;
        std::memset(&list, 0, sizeof list);
        list.max = 8;
        GetCDList(&list);
        for (int i = 0; i < list.num; ++i)
            cbCDList->addItem((QString::fromUtf8(list.cd[i].vendor) + QString::fromUtf8(list.cd[i].prodId))
                                  .left(26)
                                  .trimmed());
    } else {
        TCDIn &cd = m_host.DriveComponent();
        const int current = cd.CurrentDrive();
        for (int i = 0; i < cd.DrivesCount(); ++i) {
            cd.SetCurrentDrive(i);
            cbCDList->addItem(cd.DriveName());
        }
        cd.SetCurrentDrive(current);
    }
    if (cbCDList->count() > m_driveAtOpening)
        cbCDList->setCurrentIndex(m_driveAtOpening);
}

bool TOptionSetForm::checkInput(int &ripTime, int &bitRate, int &maxBitRate)
{
    const auto refuse = [this](const QString &text, QWidget *focus) {
        QMessageBox::critical(this, QStringLiteral("Sondrel"), text);
        if (PageControl1->currentIndex() == 0)
            focus->setFocus();
    };
    if (!QFileInfo(editOutputDir->text()).isDir()) {
        refuse(editOutputDir->text() + QLatin1Char(',') +
                   LocalizedText(QStringLiteral("RES_Directory_Not_Exist"),
                                 QStringLiteral("The output directory does not exist.")),
               editOutputDir);
        return false;
    }
    bool ripTimeOk = false;
    ripTime = eRipTime->text().trimmed().toInt(&ripTimeOk);
    // A length of no seconds would make every track an empty file.
    if (!ripTimeOk || ripTime == -100 || (cbRipTime->isChecked() && ripTime < 1)) {
        refuse(LocalizedText(QStringLiteral("RES_Rip_Time_Error"),
                             QStringLiteral("Please check the song length to extract.")),
               eRipTime);
        return false;
    }
    // Checked before anything is stored, so that a bad bit rate leaves every setting as it was.
    bitRate = bitRateOf(cbBitRate->currentText());
    maxBitRate = bitRateOf(cbMaxBitRate->currentText());
    if (bitRate < 0 || maxBitRate < 0) {
        QMessageBox::critical(this, QStringLiteral("Sondrel"),
                              QStringLiteral("'%1' is not a valid bit rate.")
                                  .arg(bitRate < 0 ? cbBitRate->currentText() : cbMaxBitRate->currentText()));
        return false;
    }
    return true;
}

void TOptionSetForm::storeOutputAndEncoders(TOptionsSetting &s, int ripTime, int bitRate,
                                            int maxBitRate) const
{
    s.CommonOptions.OutputFolder = editOutputDir->text();
    s.CommonOptions.IsKeepWav = !ckbKeepWav->isChecked();
    s.CommonOptions.IsCreateM3U = cbCreateM3U->isChecked();
    s.CommonOptions.IsCreateAlbumFolder = cbCreateAlbumFolder->isChecked();
    s.CommonOptions.OutputFormat = cbOutputFormat->currentIndex();
    const QString names = cbFileNames->currentText().trimmed();
    s.CommonOptions.FileNameTemplate = names.isEmpty() ? QStringLiteral("%title%") : names;
    s.QueryCDDB.LookupOrder = cbLookupOrder->currentIndex();
    // An emptied address means the public service again.
    const TQueryCDDB defaults;
    const QString musicBrainz = eMusicBrainzServer->text().trimmed();
    const QString coverArt = eCoverArtServer->text().trimmed();
    s.QueryCDDB.MusicBrainzServer = musicBrainz.isEmpty() ? defaults.MusicBrainzServer : musicBrainz;
    s.QueryCDDB.CoverArtServer = coverArt.isEmpty() ? defaults.CoverArtServer : coverArt;
    s.QueryCDDB.SaveCover = ckSaveCover->isChecked();
    s.QueryCDDB.EmbedCover = ckEmbedCover->isChecked();
    s.CommonOptions.IsNormalize = ckNormalize->isChecked();
    s.CommonOptions.NormalizePercent = SpinEdit1->value();
    s.CommonOptions.EnableRipTime = cbRipTime->isChecked();
    s.CommonOptions.RipTime = ripTime;
    s.Mp3Options.IsSelectVBR = ckbSelectVBR->isChecked();
    s.Mp3Options.IsVBRHead = ckbVBRHead->isChecked();
    s.Mp3Options.BitRate = bitRate;
    s.Mp3Options.MaxBitRate = maxBitRate;
    s.Mp3Options.VBRQuality = cbVBRQuality->currentIndex();
    s.Mp3Options.MpegQuality = cbMpegQuality->currentIndex();
    s.Mp3Options.StereoMode = cbStereoMode->currentIndex();
    s.OggOptions.IsUseCompress = cbUseCompress->isChecked();
    s.OggOptions.CompressPosition = tbCompression->value();
    s.OggOptions.NomalBitRate = cbOggNomBit->currentIndex();
    s.OggOptions.MaxBitRate = cbOggMaxBit->currentIndex();
    s.OggOptions.MinBitRate = cbOggMinBit->currentIndex();
    s.WMAOptions.BitRate = cbWMABitrate->currentIndex();
    s.FlacOptions.CompressionLevel = seFlacLevel->value();
    saveWriterPages(s);
    s.CommonOptions.ResampleQuality = cbResampleQuality->currentIndex();
    s.CommonOptions.EncodersAtOnce = seEncoders->value();
    s.CommonOptions.ReplayGain = ckReplayGain->isChecked();
    QStringList extraFormats;
    for (int i = 0; i < int(ckExtraFormats.size()); ++i)
        if (ckExtraFormats[size_t(i)]->isChecked() && i != s.CommonOptions.OutputFormat)
            extraFormats << QString::number(i);
    s.CommonOptions.OutputFormats = extraFormats.join(QLatin1Char(','));
    s.CommonOptions.ReadOffset = seReadOffset->value();
    s.CommonOptions.TestAndCopy = ckTestAndCopy->isChecked();
    s.CommonOptions.TestCopyRetries = seTestCopyRetries->value();
    s.CommonOptions.Deemphasis = ckDeemphasis->isChecked();
    s.CommonOptions.RipHiddenTrack = ckRipHiddenTrack->isChecked();
    s.CommonOptions.VerifyAccurateRip = ckVerifyAccurateRip->isChecked();
    const QString accurateRip = eAccurateRipServer->text().trimmed();
    s.CommonOptions.AccurateRipServer =
        accurateRip.isEmpty() ? TCommonOptions().AccurateRipServer : accurateRip;
    s.CommonOptions.WriteLog = ckWriteLog->isChecked();
    s.CommonOptions.WriteCue = ckWriteCue->isChecked();
}

void TOptionSetForm::storeTagsAndDrive(TOptionsSetting &s) const
{
    s.Use = cbUseID3->isChecked();
    // The edit boxes cut what the program puts in them to their length: a field the user did not edit is
    // stored as it was, whole.
    for (auto [edit, field] :
         {std::pair{ID3artist, &s.DiscInfo.Artist}, std::pair{ID3album, &s.DiscInfo.Album},
          std::pair{ID3year, &s.DiscInfo.Year}, std::pair{ID3comment, &s.DiscInfo.Comment}}) {
        if (edit->isModified())
            *field = edit->text();
    }
    if (ID3genre->currentIndex() != s.DiscInfo.Genre) {
        s.DiscInfo.Genre = ID3genre->currentIndex();
        s.DiscInfo.GenreText.clear(); // a genre of the list chosen instead of the disc's own
    }
    s.CDOptions.CDDb = ckbCDDb->isChecked();
}

void TOptionSetForm::btOkClick()
{
    int ripTime = 0;
    int bitRate = 0;
    int maxBitRate = 0;
    if (!checkInput(ripTime, bitRate, maxBitRate))
        return;
    storeOutputAndEncoders(AppSettings, ripTime, bitRate, maxBitRate);
    storeTagsAndDrive(AppSettings);
    if (cbCDList->count() > 0) {
        const int index = cbCDList->currentIndex();
        AppSettings.CDOptions.Index = index;
        if (index != m_driveAtOpening || ckbCDDb->isChecked() != m_cddbAtOpening) {
            if (m_host.CurrentDriveHandle() != 0) {
                m_host.ReopenDrive(index);
            } else {
                m_host.DriveComponent().SetCurrentDrive(index);
                m_host.ReloadFromDrive();
            }
        }
    }
    m_host.RememberStatus();
    accept();
}
