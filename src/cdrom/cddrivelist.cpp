// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddrivelist.h"

#include "cdmedium.h"
#include "shell/folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <cdio/cdio.h>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

std::atomic<bool> realDrivesEnabled{true};
QMutex problemMutex;
QString lastProblem;
QStringList addedImages; // given on the command line (-d PATH)

bool isImageFile(const QFileInfo &info)
{
    static const QStringList suffixes = {QStringLiteral("cue"), QStringLiteral("toc"), QStringLiteral("nrg")};
    return info.isFile() && suffixes.contains(info.suffix().toLower());
}

QStringList imagesIn(const QString &folder)
{
    QStringList paths;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &info : entries) {
        if (isImageFile(info))
            paths << info.absoluteFilePath();
    }
    return paths;
}

QString sysfsText(const QString &device, const char *what)
{
    QFile file(QStringLiteral("/sys/class/block/%1/device/%2")
                   .arg(QFileInfo(device).fileName(), QLatin1String(what)));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

QString accessProblem(const QString &device, int error)
{
    if (error == EACCES || error == EPERM) {
        return QStringLiteral(
                   "Cannot read the CD drive %1: permission denied. Add your user to the cdrom group "
                   "(sudo usermod -aG cdrom $USER) and log in again.")
            .arg(device);
    }
    if (error == EBUSY)
        return QStringLiteral("Cannot read the CD drive %1: it is busy (another program is using it).")
            .arg(device);
    return QStringLiteral("Cannot read the CD drive %1: %2.")
        .arg(device, QString::fromLocal8Bit(std::strerror(error)));
}

void addRealDrives(QList<CdDriveEntry> &drives, QStringList &problems)
{
    QStringList devices;
    if (char **list = cdio_get_devices(DRIVER_DEVICE)) {
        for (char **d = list; *d; ++d)
            devices << QFile::decodeName(*d);
        cdio_free_device_list(list);
    }
    // libcdio leaves out drives it cannot open; look for those too, so the user learns why.
    const QStringList nodes =
        QDir(QStringLiteral("/dev")).entryList({QStringLiteral("sr[0-9]*")}, QDir::System, QDir::Name);
    for (const QString &node : nodes) {
        const QString device = QStringLiteral("/dev/") + node;
        const bool known = std::any_of(devices.begin(), devices.end(), [&](const QString &d) {
            return QFileInfo(d).canonicalFilePath() == QFileInfo(device).canonicalFilePath();
        });
        if (!known)
            devices << device;
    }

    for (const QString &device : devices) {
        CdDriveEntry entry;
        entry.path = device;
        entry.vendor = sysfsText(device, "vendor");
        entry.product = sysfsText(device, "model");
        entry.revision = sysfsText(device, "rev");
        if (::access(QFile::encodeName(device).constData(), R_OK) != 0) {
            entry.readable = false;
            entry.problem = accessProblem(device, errno);
            problems << entry.problem;
        } else if (CdIo_t *cdio = [&device] {
                       std::lock_guard lock(CdioOpenMutex());
                       return cdio_open(QFile::encodeName(device).constData(), DRIVER_DEVICE);
                   }()) {
            cdio_hwinfo_t info{};
            if (cdio_get_hwinfo(cdio, &info)) {
                entry.vendor = QString::fromLatin1(info.psz_vendor).trimmed();
                entry.product = QString::fromLatin1(info.psz_model).trimmed();
                entry.revision = QString::fromLatin1(info.psz_revision).trimmed();
            }
            cdio_destroy(cdio);
        }
        if (entry.product.isEmpty())
            entry.product = QFileInfo(device).fileName();
        drives << entry;
    }
}

void addImages(QList<CdDriveEntry> &drives)
{
    QStringList paths = imagesIn(DataFolder() + QStringLiteral("Disc images/"));
    QStringList named;
    const QStringList listed =
        qEnvironmentVariable("SONDREL_DISC_IMAGES").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &item : listed) {
        const QFileInfo info(item);
        if (info.isDir())
            named << imagesIn(item);
        else if (info.isFile())
            named << info.absoluteFilePath();
    }
    std::stable_sort(named.begin(), named.end(), [](const QString &a, const QString &b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    paths << named;
    {
        QMutexLocker lock(&problemMutex);
        paths << addedImages;
    }

    QSet<QString> seen;
    for (const QString &path : std::as_const(paths)) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (seen.contains(canonical))
            continue;
        seen.insert(canonical);
        CdDriveEntry entry;
        entry.vendor = QStringLiteral("Image");
        entry.product = QFileInfo(path).fileName();
        entry.path = path;
        entry.isImage = true;
        drives << entry;
    }
}

} // namespace

QList<CdDriveEntry> CdDriveList()
{
    QList<CdDriveEntry> drives;
    QStringList problems;
    InstallCdioLogHandler();
    if (realDrivesEnabled)
        addRealDrives(drives, problems);
    addImages(drives);
    QMutexLocker lock(&problemMutex);
    lastProblem = problems.join(QLatin1Char('\n'));
    return drives;
}

QString CdDriveProblem()
{
    QMutexLocker lock(&problemMutex);
    return lastProblem;
}

void AddCdImage(const QString &path)
{
    QMutexLocker lock(&problemMutex);
    if (!addedImages.contains(path))
        addedImages << path;
}

void SetRealCdDrivesEnabled(bool enabled)
{
    realDrivesEnabled = enabled;
}
