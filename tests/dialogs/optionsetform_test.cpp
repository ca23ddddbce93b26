// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "shell/folders.h"
#include "shell/inifile.h"
#include "shell/settings.h"
#include "testsupport.h"
#include "ui/optionsetform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Host final : TOptionsHost {
    TCDIn cd;
    int reloads = 0;
    int remembered = 0;
    TCdHandle CurrentDriveHandle() const override { return 0; }
    void ReopenDrive(int) override {}
    TCDIn &DriveComponent() override { return cd; }
    void ReloadFromDrive() override { ++reloads; }
    void RememberStatus() override { ++remembered; }
};

class OptionsTest : public ::testing::Test {
protected:
    TestHome home;
    ModalCloser closer;
    Host host;

    OptionsTest()
    {
        SetRealCdDrivesEnabled(false);
        LoadOptions();
    }
    ~OptionsTest() override { SetRealCdDrivesEnabled(true); }
};

TEST_F(OptionsTest, GenreItems)
{
    AppSettings.DiscInfo.Genre = 0;
    {
        TOptionSetForm form(host);
        form.show();
        EXPECT_EQ(form.ID3genre->currentIndex(), 0);
        EXPECT_EQ(form.ID3genre->count(), 149);
        form.btOkClick();
        EXPECT_EQ(AppSettings.DiscInfo.Genre, 0);
    }
    AppSettings.DiscInfo.Genre = -1;
    TOptionSetForm form(host);
    form.show();
    EXPECT_EQ(form.ID3genre->currentIndex(), -1);
    form.btOkClick();
    EXPECT_EQ(AppSettings.DiscInfo.Genre, -1);
    EXPECT_EQ(host.remembered, 2);
}

// OK without edits keeps the disc fields whole, however long; an edited field takes what was typed.
TEST_F(OptionsTest, UneditedDiscFieldsAreKeptWhole)
{
    const QString artist = "The Artist With A Name Longer Than Thirty Characters";
    const QString album = "An Album Whose Title Runs On Past Thirty";
    AppSettings.DiscInfo.Artist = artist;
    AppSettings.DiscInfo.Album = album;
    AppSettings.DiscInfo.Year = "1999-2001";
    AppSettings.DiscInfo.Comment = QString(80, 'c');
    {
        TOptionSetForm form(host);
        form.show();
        form.btOkClick();
    }
    EXPECT_EQ(AppSettings.DiscInfo.Artist, artist);
    EXPECT_EQ(AppSettings.DiscInfo.Album, album);
    EXPECT_EQ(AppSettings.DiscInfo.Year, "1999-2001");
    EXPECT_EQ(AppSettings.DiscInfo.Comment, QString(80, 'c'));

    TOptionSetForm form(host);
    form.show();
    form.ID3artist->selectAll();
    QTest::keyClicks(form.ID3artist, "Typed");
    form.btOkClick();
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "Typed");
    EXPECT_EQ(AppSettings.DiscInfo.Album, album);
}

TEST_F(OptionsTest, RipTimeAndFolderChecks)
{
    TOptionSetForm form(host);
    form.show();
    form.eRipTime->setText("-100");
    form.btOkClick();
    EXPECT_EQ(closer.texts.last(), "Sondrel|Please check the song length to extract.");
    EXPECT_TRUE(form.isVisible());
    form.eRipTime->setText("abc");
    form.btOkClick();
    EXPECT_EQ(closer.texts.size(), 2);
    form.eRipTime->setText("-5");
    form.editOutputDir->setText(home.root() + "/missing");
    form.btOkClick();
    EXPECT_EQ(closer.texts.last(),
              "Sondrel|" + home.root() + "/missing,The output directory does not exist.");
    EXPECT_NE(AppSettings.CommonOptions.OutputFolder, home.root() + "/missing");
    form.editOutputDir->setText(home.root());
    form.cbBitRate->setEditText("fast");
    form.btOkClick();
    EXPECT_EQ(closer.texts.size(), 4);
    EXPECT_NE(AppSettings.CommonOptions.OutputFolder, home.root()); // nothing stored
    form.cbBitRate->setEditText(" 96 kbit/s");
    form.btOkClick();
    EXPECT_EQ(AppSettings.CommonOptions.RipTime, -5);
    EXPECT_EQ(AppSettings.Mp3Options.BitRate, 96);
    EXPECT_EQ(AppSettings.CommonOptions.OutputFolder, home.root());

    // With the length limit on, no seconds (or fewer) would make every track empty: refused.
    TOptionSetForm limited(host);
    limited.show();
    limited.cbRipTime->setChecked(true);
    for (const char *seconds : {"0", "-5"}) {
        const qsizetype said = closer.texts.size();
        limited.eRipTime->setText(seconds);
        limited.btOkClick();
        ASSERT_EQ(closer.texts.size(), said + 1) << seconds;
        EXPECT_EQ(closer.texts.last(), "Sondrel|Please check the song length to extract.");
        EXPECT_FALSE(AppSettings.CommonOptions.EnableRipTime);
    }
}

TEST_F(OptionsTest, DependentControlsAndDefaults)
{
    AppSettings.CommonOptions.IsKeepWav = false;
    TOptionSetForm form(host);
    form.show();
    EXPECT_TRUE(form.ckbKeepWav->isChecked());
    form.cbOutputFormat->setCurrentIndex(1);
    EXPECT_FALSE(form.ckbKeepWav->isEnabled());
    EXPECT_TRUE(form.ckbKeepWav->isChecked());
    EXPECT_FALSE(form.SpinEdit1->isEnabled());
    form.ckNormalize->setChecked(true);
    EXPECT_TRUE(form.SpinEdit1->isEnabled());
    EXPECT_FALSE(form.cbMaxBitRate->isEnabled());
    form.ckbSelectVBR->setChecked(true);
    EXPECT_TRUE(form.cbMaxBitRate->isEnabled());
    form.bDefaultClick();
    EXPECT_FALSE(form.ckbSelectVBR->isChecked());
    EXPECT_FALSE(form.cbMaxBitRate->isEnabled());
    EXPECT_EQ(form.cbBitRate->currentText(), "128 kbit/s");
    EXPECT_EQ(form.cbMaxBitRate->currentText(), "320 kbit/s");
    EXPECT_EQ(form.cbStereoMode->currentIndex(), 1);
    form.cbWMABitrate->setCurrentIndex(3);
    form.bWMADefaultClick();
    EXPECT_EQ(form.cbWMABitrate->currentText(), "44.100 kHz,  64 kbit/s, Stereo");
}

TEST_F(OptionsTest, DriveList)
{
    const QString images = DataFolder() + "Disc images/";
    QDir().mkpath(images);
    ASSERT_TRUE(MakeDisc(images + "a.cue", {"100"}));
    ASSERT_TRUE(MakeDisc(images + "b.cue", {"100"}));
    AppSettings.CDOptions.Index = 3;
    {
        // Without visiting the page nothing changes.
        TOptionSetForm form(host);
        form.show();
        form.btOkClick();
        EXPECT_EQ(AppSettings.CDOptions.Index, 3);
        EXPECT_EQ(host.reloads, 0);
    }
    AppSettings.CDOptions.Index = 0;
    TOptionSetForm form(host);
    form.show();
    form.TabSheet3Show();
    form.TabSheet3Show();
    ASSERT_EQ(form.cbCDList->count(), 2);
    EXPECT_EQ(form.cbCDList->itemText(1), "Image b.cue");
    EXPECT_EQ(host.cd.CurrentDrive(), 0);
    form.cbCDList->setCurrentIndex(1);
    form.btOkClick();
    EXPECT_EQ(AppSettings.CDOptions.Index, 1);
    EXPECT_EQ(host.cd.CurrentDrive(), 1);
    EXPECT_EQ(host.reloads, 1);
}

TEST_F(OptionsTest, RoundTripThroughOptionsIni)
{
    {
        TOptionSetForm form(host);
        form.show();
        form.editOutputDir->setText(home.root());
        form.ckbKeepWav->setChecked(false);
        form.cbCreateM3U->setChecked(true);
        form.cbCreateAlbumFolder->setChecked(true);
        form.cbOutputFormat->setCurrentIndex(4);
        EXPECT_EQ(form.cbOutputFormat->currentText(), "FLAC file(*.FLAC)");
        form.seFlacLevel->setValue(8);
        form.findChild<QSpinBox *>("seOpusBitRate")->setValue(999); // held to the codec's range
        form.ckExtraFormats[4]->setChecked(true);                   // FLAC, the main format: made anyway
        form.ckExtraFormats[5]->setChecked(true);
        form.ckExtraFormats[0]->setChecked(true);
        EXPECT_FALSE(form.ckExtraFormats[4]->isEnabled());
        EXPECT_EQ(form.cbResampleQuality->currentText(), "High");
        form.cbResampleQuality->setCurrentIndex(1);
        EXPECT_EQ(form.seEncoders->text(), "one per processor core");
        form.seEncoders->setValue(3);
        form.seReadOffset->setValue(-9999); // held to the range
        form.ckTestAndCopy->setChecked(true);
        form.ckVerifyAccurateRip->setChecked(true);
        form.eAccurateRipServer->setText("http://127.0.0.1:9");
        form.ckWriteCue->setChecked(true);
        form.cbFileNames->setCurrentText("%track% - %artist% - %title%");
        form.cbLookupOrder->setCurrentIndex(2);
        form.eMusicBrainzServer->setText("http://mirror.example:5000");
        form.eCoverArtServer->clear(); // back to the public one
        form.ckEmbedCover->setChecked(false);
        form.ckNormalize->setChecked(true);
        form.SpinEdit1->setValue(80);
        form.cbRipTime->setChecked(true);
        form.eRipTime->setText("45");
        form.ckbSelectVBR->setChecked(true);
        form.ckbVBRHead->setChecked(true);
        form.cbBitRate->setCurrentIndex(4);
        form.cbMaxBitRate->setCurrentIndex(10);
        form.cbVBRQuality->setCurrentIndex(2);
        form.cbMpegQuality->setCurrentIndex(2);
        form.cbStereoMode->setCurrentIndex(4);
        form.cbUseCompress->setChecked(false);
        form.tbCompression->setValue(70);
        EXPECT_EQ(form.lCompressionValue->text(), "6.0"); // the Vorbis quality beside the slider
        // Every tab in view without scroll arrows, and the window can be made larger.
        EXPECT_FALSE(form.PageControl1->usesScrollButtons());
        EXPECT_TRUE(form.isSizeGripEnabled());
        EXPECT_GE(form.PageControl1->width(), form.PageControl1->tabBar()->sizeHint().width());
        form.cbOggNomBit->setCurrentIndex(8);
        form.cbOggMaxBit->setCurrentIndex(10);
        form.cbOggMinBit->setCurrentIndex(2);
        form.cbWMABitrate->setCurrentIndex(20);
        form.cbUseID3->setChecked(true);
        form.btOkClick();
    }
    EXPECT_EQ(AppSettings.Mp3Options.BitRate, 64);
    EXPECT_EQ(AppSettings.Mp3Options.MaxBitRate, 192);
    ASSERT_TRUE(SaveOptions());
    AppSettings = TOptionsSetting{};
    LoadOptions();
    TOptionSetForm again(host);
    again.show();
    EXPECT_EQ(again.editOutputDir->text(), home.root());
    EXPECT_FALSE(again.ckbKeepWav->isChecked());
    EXPECT_TRUE(again.cbCreateM3U->isChecked());
    EXPECT_TRUE(again.cbCreateAlbumFolder->isChecked());
    EXPECT_EQ(again.cbOutputFormat->currentIndex(), 4);
    EXPECT_EQ(IniFile(home.settingsFile()).readString("CommonOptions", "OutputFormat", ""), "4");
    EXPECT_EQ(again.seFlacLevel->value(), 8);
    EXPECT_EQ(IniFile(home.settingsFile()).readString("OpusOptions", "BitRate", ""), "510");
    EXPECT_EQ(IniFile(home.settingsFile()).readString("CommonOptions", "OutputFormats", ""), "0,5");
    EXPECT_TRUE(again.ckExtraFormats[5]->isChecked() && !again.ckExtraFormats[4]->isChecked());
    EXPECT_EQ(again.cbResampleQuality->currentText(), "Fast");
    EXPECT_EQ(again.seEncoders->value(), 3);
    EXPECT_EQ(again.seReadOffset->value(), -5880);
    EXPECT_TRUE(again.ckTestAndCopy->isChecked());
    EXPECT_TRUE(again.ckVerifyAccurateRip->isChecked());
    EXPECT_EQ(again.eAccurateRipServer->text(), "http://127.0.0.1:9");
    EXPECT_FALSE(again.ckWriteLog->isChecked());
    EXPECT_TRUE(again.ckWriteCue->isChecked());
    EXPECT_EQ(again.cbFileNames->currentText(), "%track% - %artist% - %title%");
    EXPECT_EQ(again.cbLookupOrder->currentIndex(), 2);
    EXPECT_EQ(again.eMusicBrainzServer->text(), "http://mirror.example:5000");
    EXPECT_EQ(again.eCoverArtServer->text(), "https://coverartarchive.org");
    EXPECT_TRUE(again.ckSaveCover->isChecked());
    EXPECT_FALSE(again.ckEmbedCover->isChecked());
    EXPECT_EQ(IniFile(home.settingsFile()).readString("CommonOptions", "FileNameTemplate", ""),
              "%track% - %artist% - %title%");
    EXPECT_EQ(again.SpinEdit1->value(), 80);
    EXPECT_EQ(again.eRipTime->text(), "45");
    EXPECT_TRUE(again.ckbVBRHead->isChecked());
    EXPECT_EQ(again.cbBitRate->currentText(), "64 kbit/s");
    EXPECT_EQ(again.cbMaxBitRate->currentText(), "192 kbit/s");
    EXPECT_EQ(again.cbVBRQuality->currentIndex(), 2);
    EXPECT_EQ(again.cbMpegQuality->currentIndex(), 2);
    EXPECT_EQ(again.cbStereoMode->currentIndex(), 4);
    EXPECT_FALSE(again.cbUseCompress->isChecked());
    EXPECT_EQ(again.tbCompression->value(), 70);
    EXPECT_EQ(again.cbOggNomBit->currentIndex(), 8);
    EXPECT_EQ(again.cbOggMaxBit->currentIndex(), 10);
    EXPECT_EQ(again.cbOggMinBit->currentIndex(), 2);
    EXPECT_EQ(again.cbWMABitrate->currentIndex(), 20);
    EXPECT_TRUE(again.cbUseID3->isChecked());
}

} // namespace
