// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of the main window: menus, tool bar, pop-up menu and what they run.
#include "about.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "edittrackname.h"
#include "jobs/convertjob.h"
#include "jobs/formatplan.h"
#include "jobs/jobitem.h"
#include "jobs/paralleljob.h"
#include "jobs/playlist.h"
#include "jobs/replaygain.h"
#include "mainform.h"
#include "shell/discinfo.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "shell/wineregistry.h"
#include "toolicons.h"
#include "tracklistmodel.h"
#include "ui/applylanguage.h"
#include "ui/cdripform.h"
#include "ui/createm3uform.h"
#include "ui/id3editform.h"
#include "ui/musicbrainzform.h"
#include "ui/oggplayerform.h"
#include "ui/recordform.h"
#include "ui/resampleform.h"
#include "ui/ripform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <thread>

QString TMainForm::HomePage()
{
    return QStringLiteral(SONDREL_HOME_PAGE);
}

void TMainForm::message(const QString &text, bool error)
{
    if (error)
        QMessageBox::critical(this, QStringLiteral("Sondrel"), text);
    else
        QMessageBox::information(this, QStringLiteral("Sondrel"), text);
}

int TMainForm::selectedRow() const
{
    const QModelIndex current = ListView1->currentIndex();
    return current.isValid() && ListView1->selectionModel()->isRowSelected(current.row(), QModelIndex())
               ? current.row()
               : -1;
}

bool TMainForm::AnyTrackChecked() const
{
    return Tracks->AnyChecked();
}

void TMainForm::aPlayExecute()
{
    if (const int row = selectedRow(); row >= 0)
        Session.Play(row);
}

void TMainForm::aPauseExecute()
{
    Session.Pause();
}

void TMainForm::aStopExecute()
{
    Session.Stop();
}

int TMainForm::CddbRowCount() const
{
    return Session.Disc.RowCount();
}

QString TMainForm::CddbRowTitle(int row) const
{
    return Session.Disc.Title(row);
}

void TMainForm::SetCddbRowTitle(int row, const QString &title)
{
    Session.Disc.SetTitle(row, title);
}

void TMainForm::SetCddbTitlesLeftAligned()
{
    Tracks->SetTitlesLeftAligned();
}

QString TMainForm::CddbDiscKey() const
{
    return DiscKeyOfDrive(Session.CurrentDrivePath());
}

void TMainForm::aQueryCDDBExecute()
{
    if (Session.DriveHandle != 0) {
        TToc toc{};
        if (ReadTOC(Session.DriveHandle, &toc) != 1) {
            message(LocalizedText("RES_ReadTocError", "Error while reading TOC information!"), true);
            return;
        }
        TfrmQueryCDDB dialog(*this, this);
        dialog.FirstTrack = toc.firstTrack;
        dialog.LastTrack = toc.lastTrack;
        dialog.DriveHandle = Session.DriveHandle;
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
    if (Session.DriveHandle != 0)
        ModifyCDParms(Session.DriveHandle, CDP_MSF, 1);
    if (Session.DriveHandle == 0 || ReadTOC(Session.DriveHandle, &toc) != 1) {
        message(LocalizedText("RES_ReadTocError", "Error while reading TOC information!"), true);
        return;
    }
    TMusicBrainzRequest request;
    request.BaseUrl = AppSettings.QueryCDDB.MusicBrainzServer;
    request.TrackCount = CddbRowCount();
    if (!MusicBrainzIdentityOfToc(toc, request.DiscId, request.TocText)) {
        message(LocalizedText("RES_ReadTocError", "Error while reading TOC information!"), true);
        return;
    }
    TfrmMusicBrainzQuery window(*this, request, this);
    window.exec();
}

QStringList TMainForm::JobList() const
{
    return JobList(AppSettings.CommonOptions.FileNameTemplate);
}

QStringList TMainForm::JobList(const QString &nameTemplate) const
{
    QStringList list;
    // Audio hidden before the first track goes with it when the settings ask for it (library path only).
    if (AppSettings.CommonOptions.RipHiddenTrack && Session.DriveHandle != 0 && Session.HiddenSectors > 0 &&
        Tracks->rowCount() > 0 && Tracks->Checked(0))
        list << HiddenTrackJobEntry(nameTemplate, Session.Disc.NameFields(0));
    for (int i = 0; i < Tracks->rowCount(); ++i) {
        if (Tracks->Checked(i))
            list << JobListEntry(nameTemplate, Session.Disc.NameFields(i));
    }
    return WithUniqueFileBases(list);
}

bool TMainForm::CheckOutputFolder()
{
    if (QFileInfo(AppSettings.CommonOptions.OutputFolder).isDir())
        return true;
    message(LocalizedText("RES_Directory_Not_Exist", "The output directory does not exist.") +
            LocalizedText("RES_Check_Output", "Please check the output directory setting."));
    return false;
}

void TMainForm::ActionExtractExecute()
{
    if (!AnyTrackChecked()) {
        message(LocalizedText("RES_Select_Track", "Please select a track at least!"));
        return;
    }
    TCommonOptions &options = AppSettings.CommonOptions;
    if (!QFileInfo(options.OutputFolder).isDir()) {
        const QString question =
            options.OutputFolder + QLatin1Char(',') +
            LocalizedText("RES_Directory_Not_Exist", "The output directory does not exist.") +
            QStringLiteral("\r\n") + LocalizedText("RES_Create_Directory", "creates a new directory?");
        if (!Question(QStringLiteral("Sondrel"), question))
            return;
        if (const QString reason = FolderProblem(options.OutputFolder); !reason.isEmpty()) {
            message(QStringLiteral("Failed to create ") + options.OutputFolder + QStringLiteral(": ") +
                        reason +
                        QStringLiteral(".\r\nPlease go to Edit > Options to change the output folder."),
                    true);
            return;
        }
    }
    if (Session.DriveHandle == 0 && Session.CDIn1.DrivesCount() <= 0) {
        message(LocalizedText("RES_Get_CDHandle", "Please access CD devices rightly above all!"));
        return;
    }
    if (Session.Playing)
        aStopExecute();
    if (options.EnableRipTime && options.RipTime == 0) {
        message(LocalizedText("RES_Select_0",
                              "You select to extract 0 second, please change it on Options dialog."));
        return;
    }
    if (!CheckOutputFolder())
        return;
    TRipRequest request;
    request.Settings = AppSettings;
    request.JobsOf = [this](const QString &nameTemplate) { return JobList(nameTemplate); };
    request.Handle = Session.DriveHandle;
    request.Drive = &Session.CDIn1;
    request.Mp3 = Mp3Encoder.get();
    request.Wma = WmaEncoder.get();
    if (!OfferResume(request))
        return;
    TWindowFrontEnd frontEnd(*this);
    const TRipResult rip = RunRip(request, frontEnd);
    if (rip.FolderMade)
        ShowRipOutcome(rip.Outputs, rip.Folder);
}

bool TMainForm::OfferResume(TRipRequest &request)
{
    const QString folder = ExtractionFolder(request.Settings);
    const TEarlierRip earlier =
        EarlierRip(folder, OutputFormatExtension(request.Settings.CommonOptions.OutputFormat));
    QSet<int> chosen;
    for (const QString &entry : JobList())
        chosen.insert(TJobItem::Of(entry).Track);
    QList<int> kept;
    for (const TKeptTrack &track : earlier.ReadWell)
        if (track.Track > 0 && chosen.contains(track.Track))
            kept << track.Track;
    if (kept.isEmpty())
        return true;
    const bool gain = WantsReplayGain(request.Settings.CommonOptions.ReplayGain,
                                      request.Settings.CommonOptions.OutputFormat, std::nullopt);
    QStringList numbers;
    for (const int track : kept)
        numbers << TwoDigits(track);
    const QString question =
        LocalizedText("RES_Resume_Rip",
                      "An earlier rip in %1 read these tracks well, and their files are there: %2.")
            .arg(folder, numbers.join(QStringLiteral(", "))) +
        QStringLiteral("\r\n") +
        LocalizedText("RES_Resume_Keep", "Keep them and read only the other tracks?") +
        (gain ? QStringLiteral("\r\n") +
                    LocalizedText("RES_Resume_Gain", "(The album's ReplayGain is not written then.)")
              : QString());
    if (!Question(QStringLiteral("Sondrel"), question))
        return true;
    if (kept.size() == chosen.size()) {
        message(
            LocalizedText("RES_Resume_Nothing", "Every chosen track was read well: nothing to read again."));
        return false;
    }
    ResumeFrom(request.Settings, earlier.Log);
    request.ReplayGain = false;
    request.JobsOf = [this, kept](const QString &nameTemplate) {
        QStringList list;
        for (const QString &entry : JobList(nameTemplate))
            if (!kept.contains(TJobItem::Of(entry).Track))
                list << entry;
        return list;
    };
    return true;
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
    TRipForm job(this, JobKind::RecordingToMp3, Session.DriveHandle, {wavFile},
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
    Tracks->SetAllChecked(true);
}

void TMainForm::ActionNoSelectExecute()
{
    Tracks->SetAllChecked(false);
}

void TMainForm::aEditTrackNameExecute()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    TfrmEditTrackName dialog(this);
    dialog.eName->setText(Session.Disc.Title(row));
    if (dialog.exec() != QDialog::Accepted)
        return;
    Session.Disc.SetTitle(row, dialog.eName->text());
    QString error;
    if (!Session.Disc.Save(&error) && !error.isEmpty())
        message(error, true);
}

void TMainForm::OpenOutputDirectory()
{
    const QString folder = AppSettings.CommonOptions.OutputFolder;
    if (QFileInfo(folder).isDir())
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    else
        message(folder + QLatin1Char(',') +
                    LocalizedText("RES_Directory_Not_Exist", "The output directory does not exist."),
                true);
}

void TMainForm::EjectCD()
{
    EjectCdTray(Session.CurrentDrivePath());
}

void TMainForm::CloseCD()
{
    CloseCdTray(Session.CurrentDrivePath());
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
    LoadQtTranslations(language);
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
            LocalizedText("RES_RealOne_Window_Exist", "Please close RealOne Player firstly.Continue?"),
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
        message(QString::number(deleted) + LocalizedText("RES_Clear_History", " list records are deleted!"));
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
    Session.ReopenDrive(index);
}

void TMainForm::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    try {
        // A save that fails keeps the old file and says so; the window closes all the same.
        if (const auto closed = Session.Close(); !closed)
            for (const QString &line : closed.Error().split(QLatin1Char('\n')))
                message(line, true);
        QString error;
        if (!SaveOptions(&error))
            message(error, true);
    } catch (...) {
        message(CurrentExceptionText(), true);
    }
}
