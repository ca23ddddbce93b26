// SPDX-License-Identifier: GPL-3.0-or-later
#include "discidentity.h"

#include "cddrivelist.h"
#include "cdmedium.h"

namespace {

std::unique_ptr<CdMedium> openAudioCd(const CdDriveEntry &drive)
{
    if (!drive.readable)
        return nullptr;
    auto medium = CdMedium::open(drive.path, drive.isImage, nullptr);
    if (!medium || !medium->holdsAudioCd())
        return nullptr;
    return medium;
}

// FNV-1a over the little-endian bytes of the values: stable across runs, machines and builds.
struct Fnv1a {
    uint32_t hash = 2166136261u;
    void add(int32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (uint32_t(value) >> shift) & 0xff;
            hash *= 16777619u;
        }
    }
};

} // namespace

bool IsAudioCdDrive(int driveIndex)
{
    const QList<CdDriveEntry> drives = CdDriveList();
    return driveIndex >= 0 && driveIndex < drives.size() && openAudioCd(drives[driveIndex]) != nullptr;
}

bool AudioCdPresent()
{
    return IsAudioCdDrive(0);
}

QString DiscKeyOf(const CdMedium &medium)
{
    if (medium.tracks().empty())
        return QString();
    Fnv1a fnv;
    fnv.add(medium.firstTrack());
    fnv.add(medium.lastTrack());
    for (const CdMedium::Track &track : medium.tracks())
        fnv.add(track.lsn);
    fnv.add(medium.leadout());
    return QString::number(int32_t(fnv.hash));
}

QString DiscKeyOfDrive(const QString &path)
{
    if (path.isEmpty())
        return QString();
    for (const CdDriveEntry &drive : CdDriveList()) {
        if (drive.path == path) {
            const auto medium = openAudioCd(drive);
            return medium ? DiscKeyOf(*medium) : QString();
        }
    }
    return QString();
}

QString DiscKey()
{
    const QList<CdDriveEntry> drives = CdDriveList();
    for (const CdDriveEntry &drive : drives) {
        if (const auto medium = openAudioCd(drive))
            return DiscKeyOf(*medium);
    }
    return QString();
}
