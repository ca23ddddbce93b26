// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainform.h"

#include "cddb/cddbinfo.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "nodevicehint.h"
#include "shell/applylanguage.h"
#include "shell/discinfo.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "tracklistmodel.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <cmath>
#include <cstring>

namespace {

QString colour(int r, int g, int b)
{
    return QStringLiteral("rgb(%1, %2, %3)").arg(r).arg(g).arg(b);
}

} // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    // FormCreate
    setObjectName(QStringLiteral("MainForm"));
    LoadOptions();
    Mp3Encoder = std::make_unique<TMp3EncodeProcess>();
    WmaEncoder = std::make_unique<TWMAEncodeProcess>();
    Mp3Encoder->Prompt = this;
    WmaEncoder->Prompt = this;
    setWindowTitle(QStringLiteral("Sondrel " SONDREL_VERSION));
    KeepUntranslated(this);

    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("ClientArea"));
    m_client->setAutoFillBackground(true);
    m_client->setStyleSheet(QStringLiteral("#ClientArea { background: %1; }").arg(colour(214, 223, 247)));
    setCentralWidget(m_client);
    ListView1 = new QTreeView(m_client);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    Tracks = new TTrackListModel(Disc, this);
    ListView1->setModel(Tracks);
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setStyleSheet(QStringLiteral("QTreeView { background: %1; }").arg(colour(239, 239, 255)));
    const int widths[] = {90, 230, 100, 90};
    for (int i = 0; i < 4; ++i)
        ListView1->setColumnWidth(i, widths[i]);
    // Extra width goes to the titles, not to the last column.
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    StatusPanel1 = new QLabel(m_client);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    KeepUntranslated(StatusPanel1);
    StatusPanel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusPanel1->setAutoFillBackground(true);
    StatusPanel1->setStyleSheet(QStringLiteral("QLabel { background: %1; }").arg(colour(220, 225, 255)));
    StatusPanel1->setFixedHeight(24);
    bOpenSaved = new QPushButton(QStringLiteral("Open Folder"), m_client);
    bOpenSaved->setObjectName(QStringLiteral("bOpenSaved"));
    bOpenSaved->setFixedHeight(24);
    bOpenSaved->hide();
    connect(bOpenSaved, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_savedFolder)); });

    // The drive component reads plainly unless the user asks for more.
    CDDBInfo1.ApplicationVersion = QStringLiteral("v1.0");
    CDDBInfo1.CDIn = &CDIn1;
    CDIn1.EnableJitterCorrection = false;
    CDIn1.LockTray = false;
    CDIn1.MultiReadCount = 0;
    CDIn1.Paranoid = false;
    CDIn1.ParanoiaMode = 0;

    createMenus();
    resize(551, 500);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Discs come and go: the disc image folder is watched. Real drives stand for the platform's device-change
    // message, which has no plain counterpart here (a media change reaches programs only through udev), so
    // the first drive is looked at every 3 s on the event loop's timer: a check, not a sleeping wait.
    m_imagesWatch = new QFileSystemWatcher(this);
    const QString images = DataFolder() + QStringLiteral("Disc images");
    QDir().mkpath(images);
    m_imagesWatch->addPath(images);
    connect(m_imagesWatch, &QFileSystemWatcher::directoryChanged, this, [this] { checkDisc(); });
    m_discWatch = new QTimer(this);
    m_discWatch->setInterval(3000);
    connect(m_discWatch, &QTimer::timeout, this, [this] { checkDisc(); });
}

TMainForm::~TMainForm()
{
    // The track list's model reads the disc, a member that goes before the window's children do: the view
    // lets go of the model, and the model goes, while the disc is still there.
    ListView1->setModel(nullptr);
    delete Tracks;
    Tracks = nullptr;
    CloseDriveHandle(DriveHandle);
}

bool TMainForm::Question(const QString &caption, const QString &text)
{
    return QMessageBox::question(this, caption, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TMainForm::Information(const QString &caption, const QString &text)
{
    QMessageBox::information(this, caption, text);
}

QString TMainForm::StatusText() const
{
    return StatusPanel1->text();
}

void TMainForm::SetStatusText(const QString &text)
{
    StatusPanel1->setText(text);
    if (bOpenSaved->isVisible()) { // the saved files' line is replaced
        bOpenSaved->hide();
        layoutContents();
    }
}

void TMainForm::ShowSavedFiles(const QString &folder, int count, const QString &log)
{
    QString text = LocalizedText("RES_Files_Saved", "%1 files saved in %2").arg(count).arg(folder);
    if (!log.isEmpty())
        text += QStringLiteral("; ") + LocalizedText("RES_Log_Written", "the log: %1").arg(log);
    SetStatusText(text);
    m_savedFolder = folder;
    bOpenSaved->show();
    layoutContents();
}

void TMainForm::layoutContents()
{
    const int width = m_client->width();
    const int height = m_client->height();
    const int status = StatusPanel1->height();
    // The tool bar sits above the client area, which begins right below it.
    ListView1->setGeometry(8, 0, width - 16, height - status - 12);
    const int button = bOpenSaved->isVisible() ? bOpenSaved->sizeHint().width() + 4 : 0;
    StatusPanel1->setGeometry(8, height - status - 8, width - 16 - button, status);
    bOpenSaved->setGeometry(width - 8 - button + 4, height - status - 8, button - 4, status);
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    layoutContents();
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    layoutContents();
    if (!m_shown) {
        m_shown = true;
        FormShow();
        m_lastDisc = DiscKeyOfDrive(currentDrivePath());
        m_discWatch->start();
    }
}

void TMainForm::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TMainForm::FormShow()
{
    try {
        for (QAction *item : miLanguage->actions()) {
            if (!item->isSeparator())
                item->setChecked(item->objectName().mid(2).compare(AppSettings.Lan, Qt::CaseInsensitive) ==
                                 0);
        }
        LoadQtTranslations(AppSettings.Lan);
        if (!IsEnglish(AppSettings.Lan))
            ApplyLanguage(this, AppSettings.Lan);
        if (AppSettings.CommonOptions.IsCDHandleZero) {
            DriveHandle = 0;
            return;
        }
        DriveHandle = OpenDrive(AppSettings.CDOptions.Index);
        if (DriveHandle != 0) {
            if (AudioCdPresent())
                LoadTracksFromToc();
            else
                NoAudioCd = true;
        }
        SavedStatus = StatusText();
    } catch (...) {
        message(CurrentExceptionText(), true);
    }
}

void TMainForm::FormActivate()
{
    if (DriveHandle == 0) {
        if (CDIn1.DrivesCount() <= 0 && !m_hintShown) {
            // Shown once a run: every activation would bring it back otherwise.
            m_hintShown = true;
            const QString folder = ProgramFolder();
            if (QFile::exists(folder + QStringLiteral("FrogAspi.dll")) &&
                !QFile::exists(folder + QStringLiteral("wnaspi32.dll"))) {
                QFile::rename(folder + QStringLiteral("FrogAspi.dll"),
                              folder + QStringLiteral("wnaspi32.dll"));
                QMessageBox::critical(
                    this, QStringLiteral("Sondrel"),
                    LocalizedText("RES_Run_Again",
                                  "Configuration finished. Please exit the software and run again!"));
                return;
            }
            TfrmNoDeviceHint hint(this);
            hint.exec();
            if (!QFile::exists(folder + QStringLiteral("FrogAspi.dll")) &&
                QFile::exists(folder + QStringLiteral("wnaspi32.dll")))
                QFile::rename(folder + QStringLiteral("wnaspi32.dll"), folder + QStringLiteral("backup.dll"));
        }
        if (AudioCdPresent())
            loadThroughComponent();
        else
            NoAudioCd = true;
    }
    if (NoAudioCd)
        SetStatusText(LocalizedText("RES_Check_CDRom", "Can not find audio CD in your CD device."));
}

HCDROM TMainForm::OpenDrive(int index)
{
    if (index < 0)
        index = 0;
    TCDList list;
    std::memset(&list, 0, sizeof list);
    list.max = 8;
    GetCDList(&list);
    if (index >= list.num)
        index = 0;
    const auto notFound = [this] {
        QString status = LocalizedText("RES_NotFound_CDRom", "No CD devices found!");
        // A drive that is there but cannot be used says why (the device and the system's reason); the
        // access layer's own English words for "none" would only repeat the line in another language.
        const QString cause = CdDriveProblem();
        if (!cause.isEmpty())
            status += QLatin1Char(' ') + cause;
        SetStatusText(status);
    };
    if (list.num == 0) {
        notFound();
        return 0;
    }
    const TCDRec &drive = list.cd[index];
    DriveDescription = QString::fromUtf8(drive.vendor) + QString::fromUtf8(drive.prodId);
    SetStatusText(DriveDescription);
    TGetCDHand request{};
    request.size = 12;
    request.ver = 1;
    request.ha = drive.ha;
    request.tgt = drive.tgt;
    request.lun = drive.lun;
    HCDROM handle = GetCDHandle(&request);
    if (handle == 0) {
        for (HCDROM h = 1; h <= 10; ++h) {
            if (CloseDriveHandle(h)) {
                handle = GetCDHandle(&request);
                break;
            }
        }
    }
    if (handle == 0)
        notFound();
    return handle;
}

bool TMainForm::AudioCdPresent()
{
    return ::AudioCdPresent();
}

void TMainForm::LoadTracksFromToc()
{
    if (DriveHandle == 0)
        return;
    ModifyCDParms(DriveHandle, CDP_MSF, 1);
    TToc toc;
    if (ReadTOC(DriveHandle, &toc) != 1) {
        Disc.Clear();
        SetStatusText(LocalizedText("RES_NotRead_Cd", "Not get CD device information!"));
        return;
    }
    ComputeDiscIds(toc);
    Disc.Load(DiscKeyOfDrive(currentDrivePath()), TDiscModel::TracksOfToc(toc), Disc.CddbDiscId(),
              Disc.CddbQueryText(), [this] {
                  TCdText text;
                  ReadCdText(DriveHandle, text);
                  return text;
              });
    SetStatusText(DriveDescription);
}

void TMainForm::ComputeDiscIds(const TToc &toc)
{
    QString id, query;
    CddbIdentityOfToc(toc, id, query);
    Disc.SetIdentity(id, query);
}

void TMainForm::LoadTracksFromDrive()
{
    QList<TDiscTrack> tracks;
    const int count = CDIn1.TracksCount();
    for (int n = 1; n <= count; ++n) {
        try {
            const TCDTrackInfo info = CDIn1.TrackInfo(n);
            tracks << TDiscTrack{n, info.Min, info.Sec, info.DataTrack};
        } catch (...) {
            LogCaughtException(qPrintable(QStringLiteral("Track %1 of the drive").arg(n)));
        }
    }
    Disc.Load(DiscKeyOfDrive(currentDrivePath()), tracks);
    SetStatusText(CDIn1.DriveName());
    SavedStatus = StatusText();
}

void TMainForm::loadThroughComponent()
{
    // The chosen drive; an index of 0 or one outside the list means the first.
    const int index = AppSettings.CDOptions.Index;
    CDIn1.SetCurrentDrive(index);
    if (index <= 0 || index >= CDIn1.DrivesCount())
        CDIn1.SetCurrentDrive(0);
    LoadTracksFromDrive();
}

void TMainForm::bRefreshClick()
{
    const QString noCd = LocalizedText("RES_Check_CDRom", "Can not find audio CD in your CD device.");
    if (DriveHandle != 0) {
        if (AudioCdPresent()) {
            LoadTracksFromToc();
            if (StatusText() == noCd)
                SetStatusText(DriveDescription);
        } else {
            Disc.Clear();
            SetStatusText(noCd);
        }
        return;
    }
    if (AudioCdPresent()) {
        loadThroughComponent();
    } else {
        SetStatusText(noCd);
    }
}

void TMainForm::checkDisc()
{
    const QString disc = DiscKeyOfDrive(currentDrivePath());
    if (disc == m_lastDisc)
        return;
    m_lastDisc = disc;
    if (disc.isEmpty())
        Disc.Clear(); // the disc was taken out
    else
        bRefreshClick(); // a disc came in
}

void TMainForm::RestoreInstance()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

bool TMainForm::event(QEvent *event)
{
    if (TMessageEvent::messageOf(event) == WM_RESTORE_INSTANCE) {
        RestoreInstance();
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // FormCloseQuery: running encoders and playback are stopped; closing is always allowed.
    if (Playing)
        aStopExecute();
    if (Mp3Encoder->IsRunning())
        Mp3Encoder->Stop(0);
    if (WmaEncoder->IsRunning())
        WmaEncoder->Stop(0);
    FormClose();
    event->accept();
}
