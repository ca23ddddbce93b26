// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/encoderprocess.h"
#include "cdrom/cdaccess.h"
#include "cdrom/discmodel.h"
#include "jobs/discsession.h"
#include "jobs/ripservice.h"
#include "shell/userprompt.h"
#include "ui/optionsetform.h"
#include "ui/querycddbform.h"
#include "ui/recordform.h"

#include <QMainWindow>
#include <QString>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QMenu;
class QAction;
class QToolBar;
class QTreeView;
class TTrackListModel;

struct TFormatOutput;

// The program's main window: one row per track of the disc its session holds (Session: the drive, the disc,
// its titles, playback). It lives for the whole run, owns the two encoder processes, and answers their
// questions with message boxes.

class TMainForm;

// A rip's front end in the main window: each job in its modal job window, questions and failures in message
// boxes.
class TWindowFrontEnd final : public TRipFrontEnd {
public:
    explicit TWindowFrontEnd(TMainForm &window);
    bool Question(const QString &caption, const QString &text) override;
    void Information(const QString &caption, const QString &text) override;
    TJobEnd RunJob(const MakeJob &make) override;
    TJobEnd RunExtraction(const TReadSource &source, const MakeExtraction &make) override;
    void Failure(const QString &text) override;
    void Notice(const QString &text) override;

private:
    TMainForm &m_window;
};

class TMainForm final : public QMainWindow,
                        public TUserPrompt,
                        public TOptionsHost,
                        public TCddbHost,
                        public TRecordHost {
    Q_OBJECT
    friend class TWindowFrontEnd;

public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    void bRefreshClick();
    void FormActivate();
    // Shows the window, restores it when minimised and brings it to the front (a second start asked).
    void RestoreInstance();

    QString StatusText() const;
    void SetStatusText(const QString &text);
    // After a rip: "N files saved in FOLDER" (and the log's name when one was written), with Open Folder.
    void ShowSavedFiles(const QString &folder, int count, const QString &log);

    // Commands of the menus, the tool bar and the track list.
    void ActionExtractExecute();
    // Opens the job window of a conversion (2 WAV to MP3, 3 MP3 to WAV, 5 WAV to OGG, 6 WAV to WMA) on files.
    void ConvertFiles(JobKind kind, const QStringList &files);
    void ChooseAndConvert(JobKind kind);
    // Files of any kind the program reads, converted into one output format in the job window (their tags
    // carried over); the files and the format are chosen first.
    void ConvertAnyFiles(const QStringList &files, int32_t format);
    // After a rip: where the files went.
    void ShowRipOutcome(const std::vector<TFormatOutput> &outputs, const QString &folder);
    void ChooseAndConvertAny();
    void ActionSelectAllExecute();
    void ActionNoSelectExecute();
    void aEditTrackNameExecute();
    void OpenOutputDirectory();
    void EjectCD();
    void CloseCD();
    // The language items: "miGerman" chooses German when its language file is there.
    void LanguageClick(const QString &itemName);
    void AboutClick();
    void ActionOptionSetExecute();
    // Clears the recent-file list of RealPlayer (true) or Windows Media Player (false) under Wine.
    void ClearHistory(bool realPlayer);
    void VolumeControl();
    void HelpClick();
    // CD playback: the selected row's track, read through the CD layer and played through the audio output
    // (CDPlayIn → CDAudioOut), from its start to the next track's (the last row to the end of the disc).
    void aPlayExecute();
    void aPauseExecute();
    void aStopExecute();

    TCdHandle CurrentDriveHandle() const override { return Session.DriveHandle; }
    bool HasDriveHandle() const override { return Session.DriveHandle != 0; }
    // The recorder's save as MP3: the job window of kind 4 on the saved file, modally.
    void ConvertRecording(const QString &wavFile) override;
    void ReopenDrive(int index) override;
    TCDIn &DriveComponent() override { return Session.CDIn1; }
    void ReloadFromDrive() override { Session.LoadTracksFromDrive(); }
    void RememberStatus() override { Session.SavedStatus = StatusText(); }
    bool CheckOutputFolder();
    // An earlier rip in the extraction folder read some of the chosen tracks well: the user may keep their
    // files and read only the others (the request is set up so). False when nothing is left to read.
    bool OfferResume(TRipRequest &request);
    bool AnyTrackChecked() const;
    // One entry per checked row: the track number in two digits, then the file base of its title.
    QStringList JobList() const;
    QStringList JobList(const QString &nameTemplate) const;
    void UpdateActions();
    // Fills the titles and the disc fields from a CDDB server.
    void aQueryCDDBExecute();
    // Fills the titles, artists, album and year from MusicBrainz (a choice when several releases hold the
    // disc).
    void aQueryMusicBrainzExecute();

    int CddbRowCount() const override;
    QString CddbRowTitle(int row) const override;
    void SetCddbRowTitle(int row, const QString &title) override;
    void SetCddbTitlesLeftAligned() override;
    QString CddbDiscIdOfDisc() const override { return Session.Disc.CddbDiscId(); }
    QString CddbQueryTextOfDisc() const override { return Session.Disc.CddbQueryText(); }
    TCDDBInfo &CddbComponent() override { return CDDBInfo1; }
    QString CddbDiscKey() const override;
    // Stores the titles and the settings; runs once whichever way the window closes.
    void FormClose();

    QMenu *miLanguage;
    QMenu *PopupMenu1;
    QAction *ActionExtract;
    QAction *miWAVtoWAV;
    QAction *ActionWavToMp3;
    QAction *mnuMp3ToWav;
    QAction *miWAVtoOGG;
    QAction *miWAVtoWMA;
    QAction *miWAVtoFLAC;
    QAction *miConvertFiles;
    QAction *Openoutputdirectory1;
    QAction *bRefresh;
    QAction *EjectMenu;
    QAction *CloseCdRomMenu;
    QAction *ActionExit;
    QAction *ActionSelectAll;
    QAction *ActionNoSelect;
    QAction *aEditTrackName;
    QAction *aQueryCDDB;
    QAction *aQueryMusicBrainz;
    QAction *aCreateM3UPlaylist;
    QAction *miOGGPlayer;
    QAction *ActionRecord;
    QAction *aPlay;
    QAction *aPause;
    QAction *aStop;
    QAction *aID3Edit;
    QAction *mnuAbout;
    QAction *ActionOptionSet;
    QAction *VolumeControlMenu;
    QAction *miRealOnePlayer;
    QAction *miWindowsMediaPlayer;
    QAction *mnuHelp;
    QAction *miWeb;
    // The project's home page as the build names it; empty when it names none.
    static QString HomePage();

    bool Question(const QString &caption, const QString &text) override;
    void Information(const QString &caption, const QString &text) override;

    // The drive and the disc on display; ListView1 shows its Disc, and a title edited in a row goes into it.
    TDiscSession Session;

    QToolBar *ToolBar1;
    QTreeView *ListView1;
    TTrackListModel *Tracks = nullptr; // the rows ListView1 shows, with their check marks
    QLabel *StatusPanel1;
    // Beside the status line after a rip: opens the folder the files went to.
    QPushButton *bOpenSaved;
    TCDDBInfo CDDBInfo1;
    std::unique_ptr<TMp3EncodeProcess> Mp3Encoder;
    std::unique_ptr<TWMAEncodeProcess> WmaEncoder;

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void FormShow();
    // The row that is current and selected; -1 for none.
    int selectedRow() const;
    void layoutContents();
    void createMenus();
    // The commands' table, and what is made from it.
    struct ActionSpec;
    static const std::vector<ActionSpec> &actionTable();
    template <typename Window> static void showModal(TMainForm &form);
    void createActions();
    void createMenuBar();
    void createLanguageMenu();
    void createToolBar();
    void connectTrackList();
    void message(const QString &text, bool error = false);

    bool m_closed = false;

    bool m_shown = false;
    bool m_hintShown = false;
    QWidget *m_client;
    QString m_savedFolder; // where the last rip put its files
};
