// SPDX-License-Identifier: GPL-3.0-or-later
#include "findoffsetform.h"

#include "cdrom/cddrivelist.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "ui/applylanguage.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <cstring>

TFindOffsetForm::TFindOffsetForm(int driveIndex, const QString &server, QWidget *parent)
    : QDialog(parent), m_driveIndex(driveIndex), m_server(server)
{
    setObjectName(QStringLiteral("frmFindOffset"));
    setWindowTitle(QStringLiteral("Find the read offset"));
    lbStep = new QLabel(this);
    lbStep->setObjectName(QStringLiteral("lbStep"));
    KeepUntranslated(lbStep); // the words of the step running
    lbStep->setWordWrap(true);
    lbStep->setMinimumWidth(420);
    pbSearch = new QProgressBar(this);
    pbSearch->setObjectName(QStringLiteral("pbSearch"));
    pbSearch->setTextVisible(false);
    btStop = new QPushButton(QStringLiteral("&Stop"), this);
    btStop->setObjectName(QStringLiteral("btStop"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbStep);
    layout->addWidget(pbSearch);
    layout->addWidget(btStop, 0, Qt::AlignRight);
    connect(btStop, &QPushButton::clicked, this, &TFindOffsetForm::stopOrClose);
    ApplyLanguage(this, AppSettings.Lan);
}

TFindOffsetForm::~TFindOffsetForm()
{
    m_stop = true;
    if (m_thread)
        m_thread->wait();
}

void TFindOffsetForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_thread)
        Start();
}

void TFindOffsetForm::Start()
{
    if (m_thread)
        return;
    m_running = true;
    pbSearch->setRange(0, 0); // busy: how long the database and the reads take is not known
    m_thread.reset(QThread::create([this] { search(); }));
    m_thread->start();
}

void TFindOffsetForm::search()
{
    // On the worker: the drive is opened here, apart from the main window's handle.
    TOffsetSearch result;
    TCDList list;
    std::memset(&list, 0, sizeof list);
    list.max = 8;
    GetCDList(&list);
    TCdError failure;
    const TCdHandle handle =
        m_driveIndex >= 0 && m_driveIndex < list.num ? OpenCDHandle(list.cd[m_driveIndex], &failure) : 0;
    TToc toc;
    std::memset(&toc, 0, sizeof toc);
    if (m_driveIndex < 0 || m_driveIndex >= list.num) {
        result.Error = QStringLiteral("no CD drive or disc image was found");
    } else if (handle == 0) {
        const QString reason = failure.text;
        result.Error = QStringLiteral("cannot open %1 %2")
                           .arg(QString::fromUtf8(list.cd[m_driveIndex].vendor),
                                QString::fromUtf8(list.cd[m_driveIndex].prodId))
                           .simplified() +
                       (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    } else if (ModifyCDParms(handle, CDP_MSF, 1, &failure) == 0 || ReadTOC(handle, &toc, &failure) != 1) {
        result.Error =
            CdHandlePath(handle) + QStringLiteral(": cannot read the table of contents: ") + failure.text;
    } else {
        result = SearchReadOffset(
            handle, toc, m_server,
            [this](const QString &step) {
                QMetaObject::invokeMethod(
                    this, [this, step] { lbStep->setText(step); }, Qt::QueuedConnection);
            },
            &m_stop);
    }
    if (handle != 0)
        CloseCDHandle(handle);
    QMetaObject::invokeMethod(
        this, [this, result] { ended(result); }, Qt::QueuedConnection);
}

void TFindOffsetForm::ended(const TOffsetSearch &search)
{
    m_running = false;
    pbSearch->setRange(0, 1);
    pbSearch->setValue(1);
    btStop->setText(LocalizedText("RES_Close", "&Close"));
    if (search.Stopped) {
        lbStep->setText(LocalizedText("RES_OffsetStopped", "Stopped."));
        return;
    }
    if (!search.Match) {
        lbStep->setText(search.Error);
        return;
    }
    const int offset = search.Match->Offset;
    m_offset = offset;
    const CdDriveEntry drive = CdDriveList().value(m_driveIndex);
    const QString key = DriveOffsetKey(drive.vendor, drive.product, drive.revision);
    QString error;
    const QString found = QStringLiteral("%1%2").arg(offset > 0 ? "+" : "").arg(offset);
    QString text =
        LocalizedText("RES_OffsetFound", "Read offset correction: %1 samples (track %2, confidence %3)")
            .arg(found)
            .arg(search.Track)
            .arg(search.Match->Confidence);
    if (key.isEmpty() || !SaveDriveOffset(key, offset, &error))
        text +=
            QStringLiteral("\n") + QStringLiteral("the offset could not be saved for %1: %2").arg(key, error);
    lbStep->setText(text);
}

void TFindOffsetForm::stopOrClose()
{
    if (m_running) {
        m_stop = true;
        btStop->setEnabled(false);
        return;
    }
    if (m_offset)
        accept();
    else
        reject();
}
