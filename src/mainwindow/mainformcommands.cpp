// The commands of the main window: menus, tool bar, pop-up menu and what they run.
#include "about.h"
#include "cddb/musicbrainzform.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "dialogs/createm3uform.h"
#include "dialogs/id3editform.h"
#include "dialogs/oggplayerform.h"
#include "dialogs/recordform.h"
#include "dialogs/resampleform.h"
#include "edittrackname.h"
#include "jobs/cdripform.h"
#include "jobs/playlist.h"
#include "jobs/ripform.h"
#include "mainform.h"
#include "shell/applylanguage.h"
#include "shell/discinfo.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "shell/wineregistry.h"
#include "toolicons.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <thread>

namespace {

QString text(const char *key, const char *english)
{
    return LocalizedText(QLatin1String(key), QString::fromUtf8(english));
}

} // namespace

QString TMainForm::HomePage()
{
    return QStringLiteral(SONDREL_HOME_PAGE);
}

void TMainForm::createMenus()
{
    const auto action = [this](const char *name, const QString &caption, const QKeySequence &shortcut = {}) {
        auto *a = new QAction(caption, this);
        a->setObjectName(QLatin1String(name));
        if (!shortcut.isEmpty())
            a->setShortcut(shortcut);
        return a;
    };
    miWAVtoWAV = action("miWAVtoWAV", QStringLiteral("WA&V to WAV..."));
    connect(miWAVtoWAV, &QAction::triggered, this, [this] {
        TfrmResample window(this);
        window.exec();
    });
    ActionWavToMp3 =
        action("ActionWavToMp3", QStringLiteral("&WAV to MP3..."), QKeySequence(QStringLiteral("Ctrl+W")));
    mnuMp3ToWav = action("mnuMp3ToWav", QStringLiteral("&MP3 to WAV..."));
    miWAVtoOGG = action("miWAVtoOGG", QStringLiteral("WAV to O&GG..."));
    miWAVtoWMA = action("miWAVtoWMA", QStringLiteral("WAV to WM&A..."));
    miWAVtoFLAC = action("miWAVtoFLAC", QStringLiteral("WAV to F&LAC..."));
    Openoutputdirectory1 = action("Openoutputdirectory1", QStringLiteral("&Open output directory..."));
    bRefresh = action("bRefresh", QStringLiteral("&Refresh"));
    EjectMenu = action("EjectMenu", QStringLiteral("&Eject CD"), QKeySequence(QStringLiteral("Ctrl+E")));
    CloseCdRomMenu =
        action("CloseCdRomMenu", QStringLiteral("&Close CD"), QKeySequence(QStringLiteral("Ctrl+L")));
    ActionExit = action("ActionExit", QStringLiteral("E&xit"));
    ActionExtract =
        action("ActionExtract", QStringLiteral("E&xtract"), QKeySequence(QStringLiteral("Ctrl+X")));
    ActionSelectAll =
        action("ActionSelectAll", QStringLiteral("Select &All"), QKeySequence(QStringLiteral("Ctrl+A")));
    ActionNoSelect =
        action("ActionNoSelect", QStringLiteral("Select &None"), QKeySequence(QStringLiteral("Ctrl+N")));
    aEditTrackName = action("aEditTrackName", QStringLiteral("Rename &Title"), QKeySequence(Qt::Key_F2));
    aPlay = action("aPlay", QStringLiteral("&Play"), QKeySequence(QStringLiteral("Ctrl+P")));
    aPause = action("aPause", QStringLiteral("P&ause"));
    aStop = action("aStop", QStringLiteral("&Stop"));
    connect(aPlay, &QAction::triggered, this, &TMainForm::aPlayExecute);
    connect(aPause, &QAction::triggered, this, &TMainForm::aPauseExecute);
    connect(aStop, &QAction::triggered, this, &TMainForm::aStopExecute);
    CDAudioOut.SetInput(&CDPlayIn);
    // The end of the track ends playback the way Stop does; a failing or missing device is said.
    CDAudioOut.OnDone = [this](TAuOutput *) {
        if (Playing)
            aStopExecute();
    };
    CDAudioOut.OnThreadException = [this](TAuOutput *sink) { message(sink->ExceptionMessage(), true); };
    ActionRecord =
        action("ActionRecord", QStringLiteral("&Record..."), QKeySequence(QStringLiteral("Ctrl+R")));
    connect(ActionRecord, &QAction::triggered, this, [this] {
        TfrmRecord window(this, this);
        window.exec();
    });
    miOGGPlayer = action("miOGGPlayer", QStringLiteral("&OGG Player..."));
    connect(miOGGPlayer, &QAction::triggered, this, [this] {
        TfrmOggPlayer window(this);
        window.exec();
    });
    aCreateM3UPlaylist = action("aCreateM3UPlaylist", QStringLiteral("Create .m3u Playlist"));
    connect(aCreateM3UPlaylist, &QAction::triggered, this, [this] {
        TfrmCreateM3U window(this);
        window.exec();
    });
    aID3Edit = action("aID3Edit", QStringLiteral("&ID3 Tag Edit"));
    connect(aID3Edit, &QAction::triggered, this, [this] {
        TfrmID3Edit window(this);
        window.exec();
    });
    aQueryCDDB = action("aQueryCDDB", QStringLiteral("&Query Freedb"));
    connect(aQueryCDDB, &QAction::triggered, this, &TMainForm::aQueryCDDBExecute);
    aQueryMusicBrainz = action("aQueryMusicBrainz", QStringLiteral("Query &MusicBrainz"));
    connect(aQueryMusicBrainz, &QAction::triggered, this, &TMainForm::aQueryMusicBrainzExecute);
    mnuAbout = action("mnuAbout", QStringLiteral("&About..."));
    ActionOptionSet =
        action("ActionOptionSet", QStringLiteral("&Options..."), QKeySequence(QStringLiteral("Ctrl+O")));
    connect(ActionOptionSet, &QAction::triggered, this, &TMainForm::ActionOptionSetExecute);
    VolumeControlMenu = action("VolumeControlMenu", QStringLiteral("&Volume Control..."),
                               QKeySequence(QStringLiteral("Ctrl+V")));
    miRealOnePlayer = action("miRealOnePlayer", QStringLiteral("&RealPlayer"));
    miWindowsMediaPlayer = action("miWindowsMediaPlayer", QStringLiteral("&Windows Media Player"));
    mnuHelp = action("mnuHelp", QStringLiteral("&Help"), QKeySequence(Qt::Key_F1));
    // The project's pages: the one address the build names (SONDREL_HOME_PAGE); without one there is no link.
    miWeb = action("miWeb", QStringLiteral("Sondrel on the &web"));
    miWeb->setVisible(!HomePage().isEmpty());
    connect(miWeb, &QAction::triggered, this, [] { QDesktopServices::openUrl(QUrl(HomePage())); });
    connect(VolumeControlMenu, &QAction::triggered, this, &TMainForm::VolumeControl);
    connect(miRealOnePlayer, &QAction::triggered, this, [this] { ClearHistory(true); });
    connect(miWindowsMediaPlayer, &QAction::triggered, this, [this] { ClearHistory(false); });
    connect(mnuHelp, &QAction::triggered, this, &TMainForm::HelpClick);

    connect(ActionWavToMp3, &QAction::triggered, this, [this] { ChooseAndConvert(JobKind::WavToMp3); });
    connect(mnuMp3ToWav, &QAction::triggered, this, [this] { ChooseAndConvert(JobKind::Mp3ToWav); });
    connect(miWAVtoOGG, &QAction::triggered, this, [this] { ChooseAndConvert(JobKind::WavToOgg); });
    connect(miWAVtoWMA, &QAction::triggered, this, [this] { ChooseAndConvert(JobKind::WavToWma); });
    connect(miWAVtoFLAC, &QAction::triggered, this, [this] { ChooseAndConvert(JobKind::WavToFlac); });
    connect(Openoutputdirectory1, &QAction::triggered, this, &TMainForm::OpenOutputDirectory);
    connect(bRefresh, &QAction::triggered, this, &TMainForm::bRefreshClick);
    connect(EjectMenu, &QAction::triggered, this, &TMainForm::EjectCD);
    connect(CloseCdRomMenu, &QAction::triggered, this, &TMainForm::CloseCD);
    connect(ActionExit, &QAction::triggered, this, &QWidget::close);
    connect(ActionExtract, &QAction::triggered, this, &TMainForm::ActionExtractExecute);
    connect(ActionSelectAll, &QAction::triggered, this, &TMainForm::ActionSelectAllExecute);
    connect(ActionNoSelect, &QAction::triggered, this, &TMainForm::ActionNoSelectExecute);
    connect(aEditTrackName, &QAction::triggered, this, &TMainForm::aEditTrackNameExecute);
    connect(mnuAbout, &QAction::triggered, this, &TMainForm::AboutClick);

    const auto menu = [this](const char *name, const QString &title) {
        QMenu *m = menuBar()->addMenu(title);
        m->setObjectName(QLatin1String(name));
        return m;
    };
    QMenu *file = menu("File1", QStringLiteral("&File"));
    file->addActions({miWAVtoWAV, ActionWavToMp3, mnuMp3ToWav, miWAVtoOGG, miWAVtoWMA, miWAVtoFLAC,
                      Openoutputdirectory1, bRefresh, EjectMenu, CloseCdRomMenu, ActionExit});
    QMenu *actions = menu("Actions1", QStringLiteral("&Actions"));
    actions->addAction(ActionExtract);
    actions->addAction(ActionRecord);
    actions->addAction(aCreateM3UPlaylist);
    actions->addAction(miOGGPlayer);
    actions->addActions({aPlay, aPause, aStop});
    actions->addAction(VolumeControlMenu);
    QMenu *history = actions->addMenu(QStringLiteral("&Clear History"));
    history->setObjectName(QStringLiteral("ClearHistory1"));
    history->addActions({miRealOnePlayer, miWindowsMediaPlayer});
    QMenu *edit = menu("Edit1", QStringLiteral("&Edit"));
    edit->addActions({ActionSelectAll, ActionNoSelect, aQueryCDDB, aQueryMusicBrainz, aEditTrackName,
                      aID3Edit, ActionOptionSet});

    miLanguage = menu("miLanguage", QStringLiteral("Language"));
    static const char *const languages[][2] = {{"miArabic", "&Arabic"},
                                               {"miCatalan", "Catalan"},
                                               {"miChinese", "&Chinese"},
                                               {"miCzech", "C&zech"},
                                               {"miDanish", "&Danish"},
                                               {"miEnglish", "&English"},
                                               {"miFrench", "&French"},
                                               {"miGerman", "&German"},
                                               {"miGreek", "G&reek"},
                                               {"miHebrew", "He&brew"},
                                               {"miHungarian", "&Hungarian"},
                                               {"miItalian", "&Italian"},
                                               {"miKurdish", "&Kurdish"},
                                               {"miLatvian", "&Latvian"},
                                               {"miNetherlands", "&Netherlands"},
                                               {"miPolish", "P&olish"},
                                               {"miPortuguese", "&Portuguese"},
                                               {"miRussian", "&Russian"},
                                               {"miSlovenian", "Slo&venian"},
                                               {"miSpanish", "&Spanish"},
                                               {"miSwedish", "S&wedish"},
                                               {"miTurkish", "&Turkish"},
                                               {"miOther", "Other"}};
    for (const auto &[name, caption] : languages) {
        if (QLatin1String(name) == QLatin1String("miOther"))
            miLanguage->addSeparator();
        QAction *item = miLanguage->addAction(QString::fromUtf8(caption));
        item->setObjectName(QLatin1String(name));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, item] {
            item->setChecked(!item->isChecked()); // the click decides only when the file is there
            LanguageClick(item->objectName());
        });
    }
    QMenu *help = menu("Help1", QStringLiteral("&Help"));
    help->addAction(mnuHelp);
    help->addAction(miWeb);
    help->addAction(mnuAbout);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addActions(
        {ActionExtract, ActionSelectAll, ActionNoSelect, aPlay, aPause, aStop, aEditTrackName});
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at)); });

    // The desktop's icon theme first; our own drawing of the same meaning when the theme has none.
    const auto icon = [](const char *themeName) { return ToolIcon(QLatin1String(themeName)); };
    ActionExtract->setIcon(icon("media-optical-audio"));
    ActionWavToMp3->setIcon(icon("document-save-as")); // encode: save as MP3
    Openoutputdirectory1->setIcon(icon("folder-open"));
    ActionRecord->setIcon(icon("media-record"));
    ActionOptionSet->setIcon(icon("preferences-system"));
    ActionExit->setIcon(icon("application-exit"));
    QAction *home = new QAction(icon("go-home"), QStringLiteral("Home"), this);
    home->setObjectName(QStringLiteral("aHome"));
    connect(home, &QAction::triggered, miWeb, &QAction::trigger);
    home->setVisible(miWeb->isVisible());
    // The tool bar shows short captions of the same actions; its buttons are named for the language files.
    const auto button = [this](QAction *a, const char *name, const QString &caption) {
        ToolBar1->addAction(a);
        if (auto *b = qobject_cast<QToolButton *>(ToolBar1->widgetForAction(a))) {
            b->setObjectName(QLatin1String(name));
            b->setText(caption);
        }
    };
    button(ActionExtract, "tbExtract", QStringLiteral("Extract"));
    button(ActionWavToMp3, "tbEncode", QStringLiteral("Encode"));
    button(Openoutputdirectory1, "tbFolder", QStringLiteral("Folder"));
    button(ActionRecord, "tbRecord", QStringLiteral("Record"));
    button(ActionOptionSet, "tbOptions", QStringLiteral("Options"));
    button(home, "tbHome", QStringLiteral("Home"));
    button(ActionExit, "tbExit", QStringLiteral("Exit"));

    connect(ListView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item, int column) {
        // A title typed into a row goes into the disc; check marks only change the actions.
        if (column == 1 && !m_showing)
            Disc.SetTitle(ListView1->indexOfTopLevelItem(item), item->text(1));
        UpdateActions();
    });
    connect(&Disc, &TDiscModel::RowsReset, this, &TMainForm::showRows);
    connect(&Disc, &TDiscModel::TitleChanged, this, [this](int row) {
        if (QTreeWidgetItem *item = ListView1->topLevelItem(row); item && item->text(1) != Disc.Title(row)) {
            m_showing = true;
            item->setText(1, Disc.Title(row));
            m_showing = false;
        }
    });
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &TMainForm::UpdateActions);
    connect(ListView1->model(), &QAbstractItemModel::rowsRemoved, this, &TMainForm::UpdateActions);
    connect(ListView1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item, int column) {
        // Ctrl+click toggles the check box (a click on the box itself already did).
        if (column != 0 && (QApplication::keyboardModifiers() & Qt::ControlModifier))
            item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    });
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { aEditTrackNameExecute(); });
    UpdateActions();
}

void TMainForm::message(const QString &text, bool error)
{
    if (error)
        QMessageBox::critical(this, QStringLiteral("Sondrel"), text);
    else
        QMessageBox::information(this, QStringLiteral("Sondrel"), text);
}

bool TMainForm::AnyTrackChecked() const
{
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        if (ListView1->topLevelItem(i)->checkState(0) == Qt::Checked)
            return true;
    }
    return false;
}

void TMainForm::aPlayExecute()
{
    QTreeWidgetItem *item = ListView1->currentItem();
    const int row = item && item->isSelected() ? ListView1->indexOfTopLevelItem(item) : -1;
    if (row < 0)
        return;
    const bool wasPaused = Playing && Paused;
    SetStatusText(text("RES_Play", "Play ") + Disc.Title(row));
    Playing = true;
    Paused = false;
    try {
        if (wasPaused) {
            CDAudioOut.Resume();
        } else {
            CDAudioOut.Stop(false);
            const int index = AppSettings.CDOptions.Index;
            CDPlayIn.SetCurrentDrive(index > 0 && index < CDPlayIn.DrivesCount() ? index : 0);
            CDPlayIn.SetStartTrack(row + 1);
            CDPlayIn.SetEndTrack(row + 1);
            CDAudioOut.Run();
        }
    } catch (const std::exception &) {
        // As the player's errors were: swallowed; a device failure during the run is said by the output.
    }
    UpdateActions();
}

void TMainForm::aPauseExecute()
{
    Paused = true;
    try {
        CDAudioOut.Pause();
    } catch (const std::exception &) {
    }
    UpdateActions();
}

void TMainForm::aStopExecute()
{
    Playing = false;
    Paused = false;
    if (CDAudioOut.Status() == 1)
        CDAudioOut.Resume();
    CDAudioOut.Stop(false);
    SetStatusText(SavedStatus);
    UpdateActions();
}

void TMainForm::UpdateActions()
{
    ActionExtract->setEnabled(AnyTrackChecked());
    aEditTrackName->setEnabled(!ListView1->selectedItems().isEmpty());
    aPlay->setEnabled(!ListView1->selectedItems().isEmpty());
    aStop->setEnabled(Playing);
    aPause->setEnabled(Playing && !Paused);
    aQueryCDDB->setEnabled(ListView1->topLevelItemCount() > 0);
    aQueryMusicBrainz->setEnabled(ListView1->topLevelItemCount() > 0);
}

int TMainForm::CddbRowCount() const
{
    return Disc.RowCount();
}

QString TMainForm::CddbRowTitle(int row) const
{
    return Disc.Title(row);
}

void TMainForm::SetCddbRowTitle(int row, const QString &title)
{
    Disc.SetTitle(row, title);
}

void TMainForm::SetCddbTitlesLeftAligned()
{
    ListView1->headerItem()->setTextAlignment(1, Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setTextAlignment(1, Qt::AlignLeft | Qt::AlignVCenter);
}

QString TMainForm::CddbDiscKey() const
{
    return DiscKey();
}

void TMainForm::aQueryCDDBExecute()
{
    if (DriveHandle != 0) {
        TToc toc{};
        if (ReadTOC(DriveHandle, &toc) != 1) {
            message(text("RES_ReadTocError", "Error while reading TOC information!"), true);
            return;
        }
        TfrmQueryCDDB dialog(*this, this);
        dialog.FirstTrack = toc.firstTrack;
        dialog.LastTrack = toc.lastTrack;
        dialog.DriveHandle = DriveHandle;
        dialog.exec();
        return;
    }
    // Through the drive component, without a dialog. The lookup runs beside a local event loop so the
    // window still paints; it takes no input until the lookup is over.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
    TCddbLookupResult result;
    bool looked = false;
    QString failure;
    const int rows = CddbRowCount();
    {
        QEventLoop loop;
        std::atomic<bool> done = false;
        std::thread worker([&] {
            try {
                CDDBInfo1.Lookup();
                TakeCddbAlbum(CDDBInfo1.GetAlbum(), rows, result);
                looked = true;
            } catch (...) {
                failure = CurrentExceptionText(); // shown once the worker is joined
            }
            done = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        if (!done)
            loop.exec();
        worker.join();
    }
    if (!failure.isEmpty())
        message(QStringLiteral("CDDB: ") + failure, true);
    if (looked) {
        ApplyCddbResult(*this, result);
        QString error;
        if (!StoreCddbTitles(*this, &error) && !error.isEmpty())
            message(error, true);
    }
    setEnabled(true);
    QApplication::restoreOverrideCursor();
}

void TMainForm::aQueryMusicBrainzExecute()
{
    TToc toc{};
    if (DriveHandle != 0)
        ModifyCDParms(DriveHandle, CDP_MSF, 1);
    if (DriveHandle == 0 || ReadTOC(DriveHandle, &toc) != 1) {
        message(text("RES_ReadTocError", "Error while reading TOC information!"), true);
        return;
    }
    TMusicBrainzRequest request;
    request.BaseUrl = AppSettings.QueryCDDB.MusicBrainzServer;
    request.TrackCount = CddbRowCount();
    if (!MusicBrainzIdentityOfToc(toc, request.DiscId, request.TocText)) {
        message(text("RES_ReadTocError", "Error while reading TOC information!"), true);
        return;
    }
    TfrmMusicBrainzQuery window(*this, request, this);
    window.exec();
}

QStringList TMainForm::JobList() const
{
    QStringList list;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = ListView1->topLevelItem(i);
        if (row->checkState(0) == Qt::Checked)
            list << JobListEntry(AppSettings.CommonOptions.FileNameTemplate, Disc.NameFields(i));
    }
    return WithUniqueFileBases(list);
}

bool TMainForm::CheckOutputFolder()
{
    if (QFileInfo(AppSettings.CommonOptions.OutputFolder).isDir())
        return true;
    message(text("RES_Directory_Not_Exist", "The output directory does not exist.") +
            text("RES_Check_Output", "Please check the output directory setting."));
    return false;
}

void TMainForm::ActionExtractExecute()
{
    if (!AnyTrackChecked()) {
        message(text("RES_Select_Track", "Please select a track at least!"));
        return;
    }
    TCommonOptions &options = AppSettings.CommonOptions;
    if (!QFileInfo(options.OutputFolder).isDir()) {
        const QString question = options.OutputFolder + QLatin1Char(',') +
                                 text("RES_Directory_Not_Exist", "The output directory does not exist.") +
                                 QStringLiteral("\r\n") +
                                 text("RES_Create_Directory", "creates a new directory?");
        if (!Question(QStringLiteral("Sondrel"), question))
            return;
        if (!QDir().mkpath(options.OutputFolder)) {
            message(QStringLiteral("Failed to create ") + options.OutputFolder +
                        QStringLiteral(".\r\nPlease go to Edit > Options to change the output folder."),
                    true);
            return;
        }
    }
    if (DriveHandle == 0 && CDIn1.DrivesCount() <= 0) {
        message(text("RES_Get_CDHandle", "Please access CD devices rightly above all!"));
        return;
    }
    if (Playing)
        aStopExecute();
    if (options.EnableRipTime && options.RipTime == 0) {
        message(text("RES_Select_0", "You select to extract 0 second, please change it on Options dialog."));
        return;
    }
    const QStringList jobs = JobList();
    if (!CheckOutputFolder())
        return;

    const QString folder = ExtractionFolder(AppSettings);
    QString coverError;
    if (!SaveDiscCover(folder, AppSettings, &coverError))
        message(coverError, true);
    int result = mrCancel;
    if (DriveHandle != 0) {
        TRipForm job(this, JobKind::ExtractTracks, DriveHandle, jobs, folder, *Mp3Encoder, *WmaEncoder);
        result = job.exec();
    } else {
        TfrmCDRip job(this, CDIn1, jobs, folder, *Mp3Encoder, *WmaEncoder);
        result = job.exec();
    }

    if (options.IsCreateM3U && result != mrAbort) {
        QString error;
        if (!WriteExtractionPlaylist(folder, jobs, AppSettings, this, &error) && !error.isEmpty())
            message(error, true);
    }
}

void TMainForm::ConvertFiles(JobKind kind, const QStringList &files)
{
    if (files.isEmpty() || !CheckOutputFolder())
        return;
    try {
        TRipForm job(this, kind, 0, files, AppSettings.CommonOptions.OutputFolder, *Mp3Encoder, *WmaEncoder);
        job.exec();
    } catch (...) {
        message(CurrentExceptionText(), true);
    }
}

void TMainForm::ConvertRecording(const QString &wavFile)
{
    TRipForm job(this, JobKind::RecordingToMp3, DriveHandle, {wavFile},
                 AppSettings.CommonOptions.OutputFolder, *Mp3Encoder, *WmaEncoder);
    job.exec();
}

void TMainForm::ChooseAndConvert(JobKind kind)
{
    const QString filter = kind == JobKind::Mp3ToWav ? QStringLiteral("MP3 file(*.mp3);; Any file(*.*)")
                                                     : QStringLiteral("Sound file(*.wav);; Any file(*.*)");
    ConvertFiles(kind, QFileDialog::getOpenFileNames(this, QString(), QString(), filter));
}

void TMainForm::ActionSelectAllExecute()
{
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(0, Qt::Checked);
}

void TMainForm::ActionNoSelectExecute()
{
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
}

void TMainForm::aEditTrackNameExecute()
{
    QTreeWidgetItem *row = ListView1->currentItem();
    if (!row || !row->isSelected())
        return;
    TfrmEditTrackName dialog(this);
    dialog.eName->setText(row->text(1));
    if (dialog.exec() != QDialog::Accepted)
        return;
    Disc.SetTitle(ListView1->indexOfTopLevelItem(row), dialog.eName->text());
    QString error;
    if (!Disc.Save(&error) && !error.isEmpty())
        message(error, true);
}

void TMainForm::OpenOutputDirectory()
{
    const QString folder = AppSettings.CommonOptions.OutputFolder;
    if (QFileInfo(folder).isDir())
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    else
        message(folder + QLatin1Char(',') +
                    text("RES_Directory_Not_Exist", "The output directory does not exist."),
                true);
}

QString TMainForm::currentDrivePath() const
{
    if (DriveHandle != 0)
        return CdHandlePath(DriveHandle);
    const QList<CdDriveEntry> drives = CdDriveList();
    const int index = CDIn1.CurrentDrive();
    return index >= 0 && index < drives.size() ? drives[index].path : QString();
}

void TMainForm::EjectCD()
{
    EjectCdTray(currentDrivePath());
}

void TMainForm::CloseCD()
{
    CloseCdTray(currentDrivePath());
}

void TMainForm::LanguageClick(const QString &itemName)
{
    const QString language = itemName.mid(2);
    const QString file = LanguageFilePath(language);
    if (!QFileInfo::exists(file)) {
        QString notice = file + QStringLiteral(" can not be found.");
        if (itemName == QLatin1String("miOther")) {
            notice += QStringLiteral("\r\n\r\nTo translate Sondrel, copy ") +
                      LanguageFilePath(QStringLiteral("English")) + QStringLiteral(" to ") + DataFolder() +
                      QStringLiteral("CLan_Other.ini and translate its values.");
        }
        message(notice);
        return;
    }
    AppSettings.Lan = language;
    for (QAction *item : miLanguage->actions())
        item->setChecked(item->objectName() == itemName);
    ApplyLanguage(this, AppSettings.Lan);
}

void TMainForm::AboutClick()
{
    TfrmAbout about(this);
    about.exec();
}

void TMainForm::ActionOptionSetExecute()
{
    TOptionSetForm options(*this, this);
    options.move(pos() + QPoint(50, 50));
    options.exec();
}

void TMainForm::ClearHistory(bool realPlayer)
{
    if (WindowsProgramRunning(realPlayer ? QStringLiteral("realplay.exe") : QStringLiteral("wmplayer.exe"))) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("Sondrel"),
            text("RES_RealOne_Window_Exist", "Please close RealOne Player firstly.Continue?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    WineUserRegistry registry;
    QString error;
    const int deleted =
        realPlayer ? ClearRealPlayerHistory(registry, &error) : ClearMediaPlayerHistory(registry, &error);
    if (!error.isEmpty())
        message(error, true);
    else
        message(QString::number(deleted) + text("RES_Clear_History", " list records are deleted!"));
}

void TMainForm::VolumeControl()
{
    // The desktop's mixer, when there is one; otherwise nothing happens.
    const QString mixer = VolumeControlProgram();
    if (!mixer.isEmpty())
        QProcess::startDetached(mixer, {});
}

void TMainForm::HelpClick()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(ShippedFilePath(QStringLiteral("sondrel-manual.html"))));
}

void TMainForm::ReopenDrive(int index)
{
    CloseDriveHandle(DriveHandle);
    DriveHandle = OpenDrive(index);
    LoadTracksFromToc();
}

void TMainForm::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    try {
        // A save that fails keeps the old file and says so; the window closes all the same.
        QString error;
        if (!Disc.Save(&error) && !error.isEmpty())
            message(error, true);
        if (!CloseDriveHandle(DriveHandle))
            message(text("RES_Close_CD_Error", "Error while closing CD handle!"), true);
        DriveHandle = 0;
        error.clear();
        if (!SaveOptions(&error))
            message(error, true);
    } catch (...) {
        message(CurrentExceptionText(), true);
    }
}
