// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdaccess.h"

#include "cddrivelist.h"
#include "cdmedium.h"
#include "shell/helpers.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/memory.h>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct OpenDrive {
    std::mutex mutex; // serialises calls on this drive
    std::unique_ptr<CdMedium> medium;
    bool msf = false;
};

struct Registry {
    QMutex mutex;
    QList<CdDriveEntry> drives; // as last listed; GetCDHandle addresses these
    bool listed = false;
    std::map<TCdHandle, std::shared_ptr<OpenDrive>> handles;
};

Registry &registry()
{
    static Registry r;
    return r;
}

// The code of the last failure any call reported, for GetAspiLibError only; the reason itself travels with
// the call that failed.
std::atomic<int32_t> lastFailure{CDERR_NONE};

int32_t fail(TCdError *error, int32_t code, const QString &text)
{
    lastFailure = code;
    if (error)
        *error = TCdError{code, text};
    return 0;
}

void succeed(TCdError *error)
{
    if (error)
        *error = TCdError{};
}

std::shared_ptr<OpenDrive> findHandle(TCdHandle handle)
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    const auto it = r.handles.find(handle);
    return it == r.handles.end() ? nullptr : it->second;
}

// Copies text into a fixed field, cut at a character boundary so the field stays valid UTF-8.
void copyText(char *field, size_t size, const QString &text)
{
    std::memset(field, 0, size);
    QByteArray bytes = text.toUtf8();
    if (size_t(bytes.size()) >= size) {
        qsizetype cut = qsizetype(size) - 1;
        while (cut > 0 && (uint8_t(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    std::memcpy(field, bytes.constData(), size_t(bytes.size()));
}

void setAddress(TTocTrack &entry, int32_t lsn, bool msf)
{
    if (msf) {
        const int32_t frames = lsn + 150;
        entry.addr[0] = 0;
        entry.addr[1] = uint8_t(frames / 4500);
        entry.addr[2] = uint8_t(frames / 75 % 60);
        entry.addr[3] = uint8_t(frames % 75);
    } else {
        entry.addr[0] = uint8_t(uint32_t(lsn) >> 24);
        entry.addr[1] = uint8_t(uint32_t(lsn) >> 16);
        entry.addr[2] = uint8_t(uint32_t(lsn) >> 8);
        entry.addr[3] = uint8_t(lsn);
    }
}

} // namespace

int32_t GetCDList(TCDList *list, TCdError *error)
{
    if (!list)
        return fail(error, CDERR_INVALID_PARAMETER, QStringLiteral("No drive list given"));
    const QList<CdDriveEntry> drives = CdDriveList();
    Registry &r = registry();
    {
        QMutexLocker lock(&r.mutex);
        r.drives = drives;
        r.listed = true;
    }
    const int capacity = std::min<int>(list->max, 8);
    int count = 0;
    int realIndex = 0;
    int imageIndex = 0;
    for (const CdDriveEntry &drive : drives) {
        const int target = drive.isImage ? imageIndex++ : realIndex++;
        if (count >= capacity)
            break;
        TCDRec &rec = list->cd[count++];
        std::memset(&rec, 0, sizeof rec);
        rec.ha = drive.isImage ? 1 : 0;
        rec.tgt = uint8_t(target);
        rec.lun = 0;
        copyText(rec.id, sizeof rec.id, drive.path);
        // Space-padded to its 8 characters, as a drive's inquiry data gives it (a disc image: "Image   ").
        copyText(rec.vendor, sizeof rec.vendor,
                 drive.vendor.leftJustified(int(sizeof rec.vendor) - 1, QLatin1Char(' ')));
        copyText(rec.prodId, sizeof rec.prodId, drive.product);
        copyText(rec.rev, sizeof rec.rev, drive.revision);
        copyText(rec.vendSpec, sizeof rec.vendSpec, drive.problem);
    }
    list->num = uint8_t(count);
    if (count == 0) {
        const QString problem = CdDriveProblem();
        fail(error, CDERR_NO_DRIVE,
             problem.isEmpty() ? QStringLiteral("No CD drives or disc images found") : problem);
    } else {
        succeed(error);
    }
    return count;
}

TCdHandle GetCDHandle(const TGetCDHand *request, TCdError *error)
{
    if (!request || request->size != sizeof(TGetCDHand))
        return fail(error, CDERR_INVALID_PARAMETER, QStringLiteral("Invalid drive request"));
    Registry &r = registry();
    QList<CdDriveEntry> drives;
    {
        QMutexLocker lock(&r.mutex);
        if (!r.listed) {
            lock.unlock();
            TCDList list{};
            list.max = 8;
            GetCDList(&list);
            lock.relock();
        }
        drives = r.drives;
    }
    const bool image = request->ha == 1;
    int index = -1;
    for (int i = 0, target = 0; i < drives.size() && request->lun == 0; ++i) {
        if (drives[i].isImage != image || request->ha > 1)
            continue;
        if (target++ == request->tgt) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        return fail(error, CDERR_NO_DRIVE,
                    QStringLiteral("No drive at adapter %1, target %2, LUN %3")
                        .arg(request->ha)
                        .arg(request->tgt)
                        .arg(request->lun));
    }
    const CdDriveEntry &drive = drives[index];
    if (!drive.readable)
        return fail(error, CDERR_OPEN, drive.problem);

    QString reason;
    std::unique_ptr<CdMedium> medium = CdMedium::open(drive.path, drive.isImage, &reason);
    if (!medium)
        return fail(error, CDERR_OPEN, reason);

    QMutexLocker lock(&r.mutex);
    TCdHandle handle = 1;
    while (r.handles.count(handle))
        ++handle;
    if (handle > MAX_CD_HANDLES)
        return fail(error, CDERR_NO_MORE_HANDLES, QStringLiteral("Too many drive handles are open"));
    auto open = std::make_shared<OpenDrive>();
    open->medium = std::move(medium);
    r.handles[handle] = std::move(open);
    succeed(error);
    return handle;
}

int32_t CloseCDHandle(TCdHandle handle, TCdError *error)
{
    std::shared_ptr<OpenDrive> drive;
    {
        Registry &r = registry();
        QMutexLocker lock(&r.mutex);
        const auto it = r.handles.find(handle);
        if (it == r.handles.end())
            return fail(error, CDERR_INVALID_HANDLE, QStringLiteral("Unknown drive handle %1").arg(handle));
        drive = std::move(it->second);
        r.handles.erase(it);
    }
    // A read still running on another thread keeps the drive open until it returns.
    succeed(error);
    return 1;
}

int32_t ModifyCDParms(TCdHandle handle, int32_t which, uint32_t value, TCdError *error)
{
    const auto drive = findHandle(handle);
    if (!drive)
        return fail(error, CDERR_INVALID_HANDLE, QStringLiteral("Unknown drive handle %1").arg(handle));
    if (which != CDP_MSF)
        return fail(error, CDERR_INVALID_PARAMETER, QStringLiteral("Unknown drive parameter %1").arg(which));
    std::lock_guard lock(drive->mutex);
    drive->msf = value != 0;
    succeed(error);
    return 1;
}

int32_t ReadTOC(TCdHandle handle, TToc *toc, TCdError *error)
{
    const auto drive = findHandle(handle);
    if (!drive)
        return fail(error, CDERR_INVALID_HANDLE, QStringLiteral("Unknown drive handle %1").arg(handle));
    if (!toc)
        return fail(error, CDERR_INVALID_PARAMETER, QStringLiteral("No table of contents given"));
    std::lock_guard lock(drive->mutex);
    QString reason;
    CdMedium &medium = *drive->medium;
    if (!medium.readToc(&reason))
        return fail(error, CDERR_NO_DISC, reason);
    std::memset(toc, 0, sizeof *toc);
    const auto &tracks = medium.tracks();
    toc->firstTrack = uint8_t(medium.firstTrack());
    toc->lastTrack = uint8_t(medium.lastTrack());
    size_t i = 0;
    for (; i < tracks.size(); ++i) {
        TTocTrack &entry = toc->tracks[i];
        entry.ADR = uint8_t(0x10 | (tracks[i].audio ? 0 : 0x04) | (tracks[i].copyPermitted ? 0x02 : 0) |
                            (tracks[i].preemphasis ? 0x01 : 0));
        entry.trackNumber = uint8_t(tracks[i].number);
        setAddress(entry, tracks[i].lsn, drive->msf);
    }
    TTocTrack &leadout = toc->tracks[i];
    leadout.ADR = 0x10;
    leadout.trackNumber = 0xAA;
    setAddress(leadout, medium.leadout(), drive->msf);
    toc->tocLen = uint16_t(2 + (i + 1) * sizeof(TTocTrack));
    succeed(error);
    return 1;
}

TCdHandle OpenCDHandle(const TCDRec &drive, TCdError *error)
{
    TGetCDHand request{};
    request.size = 12;
    request.ver = 1;
    request.ha = drive.ha;
    request.tgt = drive.tgt;
    request.lun = drive.lun;
    return GetCDHandle(&request, error);
}

bool IsWellFormedIsrc(const QString &code)
{
    static const QRegularExpression form(QStringLiteral("^[A-Z]{2}[A-Z0-9]{3}[0-9]{7}$"));
    return form.match(code).hasMatch();
}

bool IsWellFormedMcn(const QString &code)
{
    static const QRegularExpression form(QStringLiteral("^[0-9]{13}$"));
    return form.match(code).hasMatch() && code != QString(13, QLatin1Char('0'));
}

bool IsBarcode(const QString &mcn)
{
    if (!IsWellFormedMcn(mcn))
        return false;
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += (mcn[i].unicode() - '0') * (i % 2 == 0 ? 1 : 3);
    return (10 - sum % 10) % 10 == mcn[12].unicode() - '0';
}

bool ReadDiscCodes(TCdHandle handle, TDiscCodes &codes)
{
    codes = TDiscCodes();
    const auto drive = findHandle(handle);
    if (!drive)
        return false;
    std::lock_guard lock(drive->mutex);
    const CdMedium &medium = *drive->medium;
    if (const TocImage *toc = medium.tocImage()) {
        if (IsWellFormedMcn(toc->catalog()))
            codes.Mcn = toc->catalog();
        for (const TocImage::Track &track : toc->tracks())
            if (track.audio && IsWellFormedIsrc(track.isrc))
                codes.Isrcs[track.number] = track.isrc;
        return true;
    }
    const auto taken = [](char *text) {
        const QString code = text ? QString::fromLatin1(text).trimmed() : QString();
        cdio_free(text);
        return code;
    };
    if (const QString mcn = taken(cdio_get_mcn(medium.cdio())); IsWellFormedMcn(mcn))
        codes.Mcn = mcn;
    for (const CdMedium::Track &track : medium.tracks()) {
        if (!track.audio)
            continue;
        if (const QString isrc = taken(cdio_get_track_isrc(medium.cdio(), track_t(track.number)));
            IsWellFormedIsrc(isrc))
            codes.Isrcs[track.number] = isrc;
    }
    return true;
}

bool ReadCdText(TCdHandle handle, TCdText &text)
{
    text = TCdText();
    const auto drive = findHandle(handle);
    if (!drive)
        return false;
    std::lock_guard lock(drive->mutex);
    CdMedium &medium = *drive->medium;
    if (const TocImage *toc = medium.tocImage()) {
        text.AlbumTitle = WithoutControlChars(toc->albumTitle()).trimmed();
        text.AlbumPerformer = WithoutControlChars(toc->albumPerformer()).trimmed();
        for (const TocImage::Track &track : toc->tracks()) {
            if (const QString title = WithoutControlChars(track.title).trimmed(); !title.isEmpty())
                text.Titles[track.number] = title;
            if (const QString performer = WithoutControlChars(track.performer).trimmed();
                !performer.isEmpty())
                text.Performers[track.number] = performer;
        }
        return true;
    }
    cdtext_t *cdtext = cdio_get_cdtext(medium.cdio());
    if (!cdtext)
        return true;
    const auto field = [cdtext](cdtext_field_t key, int track) {
        const char *value = cdtext_get_const(cdtext, key, track_t(track));
        if (!value)
            return QString();
        QString found = QString::fromUtf8(value);
        // A CUE sheet written in UTF-8 reaches us as if it were Latin-1 converted once more; undo that when
        // the result is UTF-8 again.
        const QByteArray once = found.toLatin1();
        if (once.size() == found.size() && QString::fromLatin1(once) == found) {
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString decoded = utf8.decode(once);
            if (!utf8.hasError() && decoded != found)
                found = decoded;
        }
        return WithoutControlChars(found).trimmed();
    };
    text.AlbumTitle = field(CDTEXT_FIELD_TITLE, 0);
    text.AlbumPerformer = field(CDTEXT_FIELD_PERFORMER, 0);
    for (int t = medium.firstTrack(); t >= 1 && t <= medium.lastTrack(); ++t) {
        if (const QString title = field(CDTEXT_FIELD_TITLE, t); !title.isEmpty())
            text.Titles[t] = title;
        if (const QString performer = field(CDTEXT_FIELD_PERFORMER, t); !performer.isEmpty())
            text.Performers[t] = performer;
    }
    return true;
}

int32_t TrackPregapSectors(TCdHandle handle, int track)
{
    const auto drive = findHandle(handle);
    if (!drive)
        return 0;
    std::lock_guard lock(drive->mutex);
    for (const CdMedium::Track &t : drive->medium->tracks())
        if (t.number == track)
            return t.pregap;
    return 0;
}

int32_t HiddenTrackSectors(TCdHandle handle)
{
    const auto drive = findHandle(handle);
    if (!drive)
        return 0;
    std::lock_guard lock(drive->mutex);
    const CdMedium &medium = *drive->medium;
    if (medium.tracks().empty() || !medium.tracks().front().audio || medium.tracks().front().lsn <= 0)
        return 0;
    const int32_t sectors = medium.tracks().front().lsn;
    constexpr uint32_t block = 27;
    std::vector<char> audio(block * CD_SECTOR_BYTES);
    for (int32_t at = 0; at < sectors; at += int32_t(block)) {
        const uint32_t count = uint32_t(std::min<int32_t>(int32_t(block), sectors - at));
        QString error;
        if (!medium.readAudio(at, count, audio.data(), &error))
            return sectors; // what cannot be read is not known to be silence
        const auto end = audio.begin() + count * CD_SECTOR_BYTES;
        if (std::any_of(audio.begin(), end, [](char byte) { return byte != 0; }))
            return sectors;
    }
    return 0;
}

int32_t ReadCDAudioLBA(TCdHandle handle, TTrackBuf *buffer, TCdError *error)
{
    return ReadCDAudioLBAWithC2(handle, buffer, nullptr, error);
}

bool DriveOffersC2(TCdHandle handle)
{
    const auto drive = findHandle(handle);
    if (!drive)
        return false;
    std::lock_guard lock(drive->mutex);
    return drive->medium->offersC2();
}

int32_t ReadCDAudioLBAWithC2(TCdHandle handle, TTrackBuf *buffer, std::vector<bool> *c2, TCdError *error)
{
    if (c2)
        c2->clear();
    const auto drive = findHandle(handle);
    if (!drive)
        return fail(error, CDERR_INVALID_HANDLE, QStringLiteral("Unknown drive handle %1").arg(handle));
    if (!buffer || buffer->numFrames == 0)
        return fail(error, CDERR_INVALID_PARAMETER, QStringLiteral("Invalid read request"));
    if (uint64_t(buffer->numFrames) * CD_SECTOR_BYTES > buffer->maxLen)
        return fail(error, CDERR_BUFFER_TOO_SMALL, QStringLiteral("The read buffer is too small"));
    std::lock_guard lock(drive->mutex);
    CdMedium &medium = *drive->medium;
    QString reason;
    if (medium.tracks().empty() && !medium.readToc(&reason))
        return fail(error, CDERR_NO_DISC, reason);
    buffer->len = 0;
    buffer->startOffset = 0;
    const int64_t lsn = int64_t(medium.tracks().front().lsn) + int32_t(buffer->startFrame);
    if (lsn < 0 || lsn + buffer->numFrames > medium.leadout()) {
        return fail(error, CDERR_OUT_OF_RANGE,
                    QStringLiteral("Sectors from %1 lie beyond the end of the disc in %2")
                        .arg(lsn)
                        .arg(medium.path()));
    }
    if (!medium.readAudio(int32_t(lsn), buffer->numFrames, buffer->buf, &reason, c2)) {
        buffer->status = 1;
        return fail(error, CDERR_READ, reason);
    }
    buffer->len = buffer->numFrames * CD_SECTOR_BYTES;
    buffer->status = 0;
    succeed(error);
    return 1;
}

void SetAspiLibError(int32_t code)
{
    lastFailure = code;
}

int32_t GetAspiLibError()
{
    return lastFailure;
}

bool CloseDriveHandle(TCdHandle handle)
{
    return handle == 0 || CloseCDHandle(handle) != 0;
}

QString CdHandlePath(TCdHandle handle)
{
    const auto drive = findHandle(handle);
    return drive ? drive->medium->path() : QString();
}

bool EjectCdTray(const QString &devicePath)
{
    const auto drives = CdDriveList();
    const bool real = std::any_of(drives.begin(), drives.end(),
                                  [&](const CdDriveEntry &d) { return !d.isImage && d.path == devicePath; });
    return real && cdio_eject_media_drive(QFile::encodeName(devicePath).constData()) == DRIVER_OP_SUCCESS;
}

bool CloseCdTray(const QString &devicePath)
{
    const auto drives = CdDriveList();
    const bool real = std::any_of(drives.begin(), drives.end(),
                                  [&](const CdDriveEntry &d) { return !d.isImage && d.path == devicePath; });
    driver_id_t driver = DRIVER_DEVICE;
    return real && cdio_close_tray(QFile::encodeName(devicePath).constData(), &driver) == DRIVER_OP_SUCCESS;
}

int32_t TocEntryFrames(const TTocTrack &entry)
{
    return entry.addr[1] * 4500 + entry.addr[2] * 75 + entry.addr[3];
}

bool AudioSessionOf(const TToc &toc, TAudioSession &session)
{
    const int tocFirst = toc.firstTrack;
    int last = std::min<int>(toc.lastTrack, 99);
    if (tocFirst < 1 || last < tocFirst)
        return false;
    const auto frames = [&toc, tocFirst](int track) { return TocEntryFrames(toc.tracks[track - tocFirst]); };
    const auto data = [&toc, tocFirst](int track) { return (toc.tracks[track - tocFirst].ADR & 4) != 0; };
    int first = tocFirst;
    while (first < last && data(first))
        ++first;
    int32_t leadOut = frames(last + 1);
    while (last > first && data(last)) {
        leadOut = frames(last) - 11400;
        --last;
    }
    session = TAudioSession{first, last, leadOut};
    return true;
}
