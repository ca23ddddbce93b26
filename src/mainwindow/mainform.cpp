// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainform.h"

#include "cddb/cddbinfo.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "nodevicehint.h"
#include "ui/applylanguage.h"
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
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <cmath>

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
    Tracks = new TTrackListModel(Session.Disc, this);
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

    CDDBInfo1.ApplicationVersion = QStringLiteral("v1.0");
    CDDBInfo1.CDIn = &Session.CDIn1;
    connect(&Session, &TDiscSession::statusChanged, this, &TMainForm::SetStatusText);
    connect(&Session, &TDiscSession::failed, this, [this](const QString &text) { message(text, true); });
    connect(&Session, &TDiscSession::playbackChanged, this, &TMainForm::UpdateActions);

    createMenus();
    resize(551, 500);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TMainForm::~TMainForm()
{
    // The track list's model reads the disc, a member that goes before the window's children do: the view
    // lets go of the model, and the model goes, while the disc is still there.
    ListView1->setModel(nullptr);
    delete Tracks;
    Tracks = nullptr;
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
        Session.StartWatching();
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
        Session.Open();
    } catch (...) {
        message(CurrentExceptionText(), true);
    }
}

void TMainForm::FormActivate()
{
    if (Session.DriveHandle == 0) {
        if (Session.CDIn1.DrivesCount() <= 0 && !m_hintShown) {
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
            Session.LoadThroughComponent();
        else
            Session.NoAudioCd = true;
    }
    if (Session.NoAudioCd)
        SetStatusText(LocalizedText("RES_Check_CDRom", "Can not find audio CD in your CD device."));
}

void TMainForm::bRefreshClick()
{
    Session.Refresh();
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
    if (Session.Playing)
        aStopExecute();
    if (Mp3Encoder->IsRunning())
        Mp3Encoder->Stop(0);
    if (WmaEncoder->IsRunning())
        WmaEncoder->Stop(0);
    FormClose();
    event->accept();
}
