// SPDX-License-Identifier: GPL-3.0-or-later
#include "discsession.h"

#include "cddb/cddbinfo.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <cstring>

namespace {

QString noCdText()
{
    return LocalizedText("RES_Check_CDRom", "Can not find audio CD in your CD device.");
}

// The chosen drive of a list of count drives: an index of 0 or one outside the list means the first.
int chosenDrive(int count)
{
    const int index = AppSettings.CDOptions.Index;
    return index > 0 && index < count ? index : 0;
}

} // namespace

TDiscSession::TDiscSession(QObject *parent) : QObject(parent)
{
    // The drive component reads plainly unless the user asks for more.
    CDIn1.EnableJitterCorrection = false;
    CDIn1.LockTray = false;
    CDIn1.MultiReadCount = 0;
    CDIn1.Paranoid = false;
    CDIn1.ParanoiaMode = 0;

    CDAudioOut.SetInput(&CDPlayIn);
    // The end of the track ends playback the way Stop does; a failing or missing device is said.
    CDAudioOut.OnDone = [this](TAuOutput *) {
        if (Playing)
            Stop();
    };
    CDAudioOut.OnThreadException = [this](TAuOutput *sink) { emit failed(sink->ExceptionMessage()); };

    // Discs come and go: the disc image folder is watched. Real drives stand for the platform's device-change
    // message, which has no plain counterpart here (a media change reaches programs only through udev), so
    // the drive is looked at every 3 s on the event loop's timer: a check, not a sleeping wait.
    m_imagesWatch = new QFileSystemWatcher(this);
    const QString images = DataFolder() + QStringLiteral("Disc images");
    QDir().mkpath(images);
    m_imagesWatch->addPath(images);
    connect(m_imagesWatch, &QFileSystemWatcher::directoryChanged, this, [this] { CheckDisc(); });
    m_discWatch = new QTimer(this);
    m_discWatch->setInterval(3000);
    connect(m_discWatch, &QTimer::timeout, this, [this] { CheckDisc(); });
}

TDiscSession::~TDiscSession()
{
    CloseDriveHandle(DriveHandle);
}

void TDiscSession::SetStatus(const QString &text)
{
    m_status = text;
    emit statusChanged(text);
}

TCdHandle TDiscSession::OpenDrive(int index)
{
    TCDList list;
    std::memset(&list, 0, sizeof list);
    list.max = 8;
    GetCDList(&list);
    index = index >= 0 && index < list.num ? index : 0;
    const auto notFound = [this] {
        QString status = LocalizedText("RES_NotFound_CDRom", "No CD devices found!");
        // A drive that is there but cannot be used says why (the device and the system's reason); the
        // access layer's own English words for "none" would only repeat the line in another language.
        const QString cause = CdDriveProblem();
        if (!cause.isEmpty())
            status += QLatin1Char(' ') + cause;
        SetStatus(status);
    };
    if (list.num == 0) {
        notFound();
        return 0;
    }
    const TCDRec &drive = list.cd[index];
    DriveDescription = QString::fromUtf8(drive.vendor) + QString::fromUtf8(drive.prodId);
    SetStatus(DriveDescription);
    TCdHandle handle = OpenCDHandle(drive);
    if (handle == 0) {
        for (TCdHandle h = 1; h <= 10; ++h) {
            if (CloseDriveHandle(h)) {
                handle = OpenCDHandle(drive);
                break;
            }
        }
    }
    if (handle == 0)
        notFound();
    return handle;
}

void TDiscSession::Open()
{
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
    SavedStatus = m_status;
}

void TDiscSession::ReopenDrive(int index)
{
    CloseDriveHandle(DriveHandle);
    DriveHandle = OpenDrive(index);
    LoadTracksFromToc();
}

void TDiscSession::LoadTracksFromToc()
{
    HiddenSectors = 0;
    if (DriveHandle == 0)
        return;
    ModifyCDParms(DriveHandle, CDP_MSF, 1);
    TToc toc;
    if (ReadTOC(DriveHandle, &toc) != 1) {
        Disc.Clear();
        SetStatus(LocalizedText("RES_NotRead_Cd", "Not get CD device information!"));
        return;
    }
    QString id, query;
    CddbIdentityOfToc(toc, id, query);
    Disc.SetIdentity(id, query);
    Disc.Load(DiscKeyOfDrive(CurrentDrivePath()), TDiscModel::TracksOfToc(toc), id, query, [this] {
        TCdText text;
        ReadCdText(DriveHandle, text);
        return text;
    });
    TDiscCodes codes;
    ReadDiscCodes(DriveHandle, codes);
    SetDiscCodes(Disc.Info(), toc, codes);
    HiddenSectors = HiddenTrackSectors(DriveHandle);
    SetStatus(DriveDescription);
}

void TDiscSession::LoadTracksFromDrive()
{
    HiddenSectors = 0;
    QList<TDiscTrack> tracks;
    QStringList dropped;
    const int count = CDIn1.TracksCount();
    for (int n = 1; n <= count; ++n) {
        try {
            const TCDTrackInfo info = CDIn1.TrackInfo(n);
            tracks << TDiscTrack{n, info.Min, info.Sec, info.DataTrack};
        } catch (...) {
            LogCaughtException(qPrintable(QStringLiteral("Track %1 of the drive").arg(n)));
            dropped << QStringLiteral("Track %1: %2").arg(n).arg(CurrentExceptionText());
        }
    }
    Disc.Load(DiscKeyOfDrive(CurrentDrivePath()), tracks);
    SetStatus(CDIn1.DriveName());
    SavedStatus = m_status;
    // A track the drive cannot describe is left out of the list; the user is told which and why.
    if (!dropped.isEmpty())
        emit failed(
            QStringLiteral("%1: these tracks cannot be read and are not listed:\n").arg(CurrentDrivePath()) +
            dropped.join(QLatin1Char('\n')));
}

void TDiscSession::LoadThroughComponent()
{
    CDIn1.SetCurrentDrive(chosenDrive(CDIn1.DrivesCount()));
    LoadTracksFromDrive();
}

void TDiscSession::Refresh()
{
    if (!AudioCdPresent()) {
        if (DriveHandle != 0)
            Disc.Clear();
        SetStatus(noCdText());
    } else if (DriveHandle != 0) {
        LoadTracksFromToc();
    } else {
        LoadThroughComponent();
    }
}

void TDiscSession::StartWatching()
{
    m_lastDisc = DiscKeyOfDrive(CurrentDrivePath());
    m_discWatch->start();
}

void TDiscSession::CheckDisc()
{
    if (m_looking) {
        m_lookAgain = true;
        return;
    }
    m_looking = true;
    const QString path = CurrentDrivePath();
    const QPointer<TDiscSession> self(this);
    QThreadPool::globalInstance()->start([self, path] {
        const QString disc = DiscKeyOfDrive(path);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, path, disc] {
                if (self)
                    self->discSeen(path, disc);
            },
            Qt::QueuedConnection);
    });
}

void TDiscSession::discSeen(const QString &path, const QString &disc)
{
    m_looking = false;
    if (m_lookAgain) {
        m_lookAgain = false;
        CheckDisc();
        return;
    }
    if (path != CurrentDrivePath() || disc == m_lastDisc) // (another drive was chosen meanwhile)
        return;
    m_lastDisc = disc;
    if (disc.isEmpty())
        Disc.Clear(); // the disc was taken out
    else
        Refresh(); // a disc came in
}

QString TDiscSession::CurrentDrivePath() const
{
    if (DriveHandle != 0)
        return CdHandlePath(DriveHandle);
    const QList<CdDriveEntry> drives = CdDriveList();
    const int index = CDIn1.CurrentDrive();
    return index >= 0 && index < drives.size() ? drives[index].path : QString();
}

void TDiscSession::Play(int row)
{
    const bool wasPaused = Playing && Paused;
    SetStatus(LocalizedText("RES_Play", "Play ") + Disc.Title(row));
    Playing = true;
    Paused = false;
    try {
        if (wasPaused) {
            CDAudioOut.Resume();
        } else {
            CDAudioOut.Stop(false);
            CDPlayIn.SetCurrentDrive(chosenDrive(CDPlayIn.DrivesCount()));
            CDPlayIn.SetStartTrack(row + 1);
            CDPlayIn.SetEndTrack(row + 1);
            CDAudioOut.Run();
        }
    } catch (const std::exception &error) {
        // A device failure during the run is said by the output; one at the start is said here.
        emit failed(QString::fromLocal8Bit(error.what()));
    }
    emit playbackChanged();
}

void TDiscSession::Pause()
{
    Paused = true;
    try {
        CDAudioOut.Pause();
    } catch (const std::exception &error) {
        emit failed(QString::fromLocal8Bit(error.what()));
    }
    emit playbackChanged();
}

void TDiscSession::Stop()
{
    Playing = false;
    Paused = false;
    if (CDAudioOut.Status() == 1)
        CDAudioOut.Resume();
    CDAudioOut.Stop(false);
    SetStatus(SavedStatus);
    emit playbackChanged();
}

TResult<> TDiscSession::Close()
{
    QStringList reasons;
    // A save that fails keeps the old file and says so.
    QString saveError;
    if (!Disc.Save(&saveError) && !saveError.isEmpty())
        reasons << saveError;
    if (!CloseDriveHandle(DriveHandle))
        reasons << LocalizedText("RES_Close_CD_Error", "Error while closing CD handle!");
    DriveHandle = 0;
    if (!reasons.isEmpty())
        return TFailure{reasons.join(QLatin1Char('\n'))};
    return {};
}
