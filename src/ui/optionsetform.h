// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"

#include <QDialog>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QVBoxLayout;
struct TOptionsSetting;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class TCDIn;

// What the options dialog needs of the main window: its drive, and reloading the disc when the drive changes.
class TOptionsHost {
public:
    virtual ~TOptionsHost() = default;
    virtual TCdHandle CurrentDriveHandle() const = 0;
    // Opens the drive at the index through the CD access calls and loads its tracks.
    virtual void ReopenDrive(int index) = 0;
    virtual TCDIn &DriveComponent() = 0;
    // Loads the tracks through the drive component.
    virtual void ReloadFromDrive() = 0;
    // The status line becomes the one to restore after playback.
    virtual void RememberStatus() = 0;
};

// The options dialog: copies the settings (and the disc fields that go into tags) into its controls when
// shown, and back when OK passes its checks; reopens the drive when another one was chosen.
class TOptionSetForm final : public QDialog {
    Q_OBJECT
public:
    TOptionSetForm(TOptionsHost &host, QWidget *parent = nullptr);

    void btOkClick();
    void bDefaultClick();
    void bWMADefaultClick();
    void TabSheet3Show();
    // Finds the drive's read offset (a window of its own); the one found goes into the offset's field.
    void btFindOffsetClick();

    QTabWidget *PageControl1;
    QLineEdit *editOutputDir;
    QPushButton *btBrowser;
    QCheckBox *ckbKeepWav;
    QCheckBox *cbCreateM3U;
    QCheckBox *cbCreateAlbumFolder;
    QComboBox *cbOutputFormat;
    QComboBox *cbFileNames; // the file-name template
    // The Titles page.
    QComboBox *cbLookupOrder;
    QLineEdit *eMusicBrainzServer;
    QLineEdit *eCoverArtServer;
    QCheckBox *ckSaveCover;
    QCheckBox *ckEmbedCover;
    QCheckBox *ckNormalize;
    QSpinBox *SpinEdit1;
    QCheckBox *cbRipTime;
    QLineEdit *eRipTime;
    QCheckBox *ckbSelectVBR;
    QCheckBox *ckbVBRHead;
    QComboBox *cbBitRate;
    QComboBox *cbMaxBitRate;
    QComboBox *cbVBRQuality;
    QComboBox *cbMpegQuality;
    QComboBox *cbStereoMode;
    QCheckBox *cbUseCompress;
    QSlider *tbCompression;
    QComboBox *cbOggNomBit;
    QComboBox *cbOggMaxBit;
    QComboBox *cbOggMinBit;
    QComboBox *cbWMABitrate;
    QSpinBox *seFlacLevel;
    QCheckBox *ckReplayGain;
    std::vector<QCheckBox *> ckExtraFormats; // by format number
    QLabel *lCompressionValue;               // the Ogg quality of the slider's position
    QComboBox *cbResampleQuality;
    QSpinBox *seEncoders;
    QSpinBox *seReadOffset;
    QPushButton *btFindOffset;
    QCheckBox *ckTestAndCopy;
    QSpinBox *seTestCopyRetries;
    QCheckBox *ckDeemphasis;
    QCheckBox *ckRipHiddenTrack;
    QCheckBox *ckVerifyAccurateRip;
    QLineEdit *eAccurateRipServer;
    QCheckBox *ckWriteLog;
    QCheckBox *ckWriteCue;
    QCheckBox *cbUseID3;
    QLineEdit *ID3artist;
    QLineEdit *ID3album;
    QLineEdit *ID3year;
    QLineEdit *ID3comment;
    QComboBox *ID3genre;
    QComboBox *cbCDList;
    QCheckBox *ckbCDDb;
    QPushButton *btOk;
    QPushButton *btCancel;

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The pages, each made with its controls and connections.
    QWidget *outputPage();
    void addOutputRows(QVBoxLayout *outputLayout);
    QWidget *mp3Page();
    QWidget *oggPage();
    QWidget *wmaPage();
    QWidget *flacPage();
    // The pages of the other writers of our own, from their table.
    void addWriterPages();
    void loadWriterPages(const TOptionsSetting &settings);
    void saveWriterPages(TOptionsSetting &settings) const;
    QWidget *id3Page();
    QWidget *cdPage();
    QWidget *titlesPage();
    // OK: what is typed checked (false, said, when something is wrong), then stored into the settings.
    bool checkInput(int &ripTime, int &bitRate, int &maxBitRate);
    void storeOutputAndEncoders(TOptionsSetting &s, int ripTime, int bitRate, int maxBitRate) const;
    void storeTagsAndDrive(TOptionsSetting &s) const;
    void toControls();
    void btBrowserClick();
    void updateEnabling();

    TOptionsHost &m_host;
    int m_driveAtOpening = 0;
    bool m_cddbAtOpening = false;
};
