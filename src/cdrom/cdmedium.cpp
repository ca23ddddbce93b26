// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdmedium.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/mmc_cmds.h>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace {

// The captures that are listening, by the thread they listen on: libcdio's log is one callback for the
// whole process. Never destroyed: drives closed while the program exits may still log.
struct TCaptures {
    std::mutex Mutex;
    std::map<std::thread::id, QString *> ByThread;
};

TCaptures &captures()
{
    static auto *all = new TCaptures;
    return *all;
}

void logHandler(cdio_log_level_t level, const char *message)
{
    if (level < CDIO_LOG_WARN)
        return;
    TCaptures &c = captures();
    std::lock_guard lock(c.Mutex);
    if (const auto it = c.ByThread.find(std::this_thread::get_id()); it != c.ByThread.end())
        *it->second = QString::fromUtf8(message).trimmed();
}

driver_id_t imageDriver(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("toc"))
        return DRIVER_CDRDAO;
    if (suffix == QLatin1String("nrg"))
        return DRIVER_NRG;
    return DRIVER_BINCUE;
}

// libcdio reads a CUE sheet's data from the sheet's own name with ".bin", whatever its FILE line names, and
// would wait for good on a FIFO. It is given a copy of the sheet in a folder of its own instead, beside
// "disc.bin", a link to the file the sheet names (relative to the sheet), once that is known to be a
// regular file. Sets *sheet to the copy and *data to the file named; false with the reason in *error.
bool prepareCueSheet(const QString &path, QTemporaryDir &workspace, QString *sheet, QString *data,
                     QString *error)
{
    const auto failed = [&](const QString &reason) {
        if (error)
            *error = path + QStringLiteral(": ") + reason;
        return false;
    };
    QFile file(path);
    if (file.size() > (1 << 20))
        return failed(QStringLiteral("too large for a CUE sheet"));
    if (!file.open(QIODevice::ReadOnly))
        return failed(file.errorString());
    const QByteArray text = file.readAll();
    static const QRegularExpression fileLine(QStringLiteral("^(\\s*FILE\\s+)(\"[^\"]*\"|\\S+)(.*)$"),
                                             QRegularExpression::MultilineOption |
                                                 QRegularExpression::CaseInsensitiveOption);
    // Byte for byte (a sheet may be Latin-1 or UTF-8): only the FILE line changes.
    const QString sheetText = QString::fromLatin1(text);
    QStringList names;
    for (auto it = fileLine.globalMatch(sheetText); it.hasNext();) {
        QString name = it.next().captured(2);
        if (name.startsWith(QLatin1Char('"')))
            name = name.mid(1, name.size() - 2);
        name = QFile::decodeName(name.toLatin1());
        if (!names.contains(name))
            names << name;
    }
    if (names.isEmpty())
        return failed(QStringLiteral("the CUE sheet names no data file"));
    if (names.size() > 1)
        return failed(
            QStringLiteral("a CUE sheet of several data files (%1) cannot be read; join them into one")
                .arg(names.join(QStringLiteral(", "))));
    const QString named = QFileInfo(names.first()).isAbsolute()
                              ? names.first()
                              : QFileInfo(path).absolutePath() + QLatin1Char('/') + names.first();
    const QFileInfo target(named);
    if (!target.exists())
        return failed(named + QStringLiteral(": No such file or directory"));
    if (!target.isFile())
        return failed(named + QStringLiteral(": not a regular file"));
    if (!workspace.isValid())
        return failed(workspace.errorString());
    const QString link = workspace.filePath(QStringLiteral("disc.bin"));
    *sheet = workspace.filePath(QStringLiteral("disc.cue"));
    QFile copy(*sheet);
    const QString rewritten = QString(sheetText).replace(fileLine, QStringLiteral("\\1\"disc.bin\"\\3"));
    if (!QFile::link(target.absoluteFilePath(), link) || !copy.open(QIODevice::WriteOnly) ||
        copy.write(rewritten.toLatin1()) < 0 || !copy.flush())
        return failed(QStringLiteral("cannot be prepared for reading: ") + copy.errorString());
    *data = target.absoluteFilePath();
    return true;
}

} // namespace

void InstallCdioLogHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { cdio_log_set_handler(logHandler); });
}

TCdioMessage::TCdioMessage()
{
    InstallCdioLogHandler();
    TCaptures &c = captures();
    std::lock_guard lock(c.Mutex);
    QString *&listening = c.ByThread[std::this_thread::get_id()];
    m_previous = listening;
    listening = &m_text;
}

TCdioMessage::~TCdioMessage()
{
    TCaptures &c = captures();
    std::lock_guard lock(c.Mutex);
    if (m_previous)
        c.ByThread[std::this_thread::get_id()] = m_previous;
    else
        c.ByThread.erase(std::this_thread::get_id());
}

QString TCdioMessage::text() const
{
    std::lock_guard lock(captures().Mutex);
    return m_text;
}

CdMedium::~CdMedium()
{
    if (m_cdio)
        cdio_destroy(m_cdio);
}

std::mutex &CdioOpenMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<CdMedium> CdMedium::open(const QString &path, bool isImage, QString *error)
{
    const driver_id_t driver = isImage ? imageDriver(path) : DRIVER_DEVICE;
    std::unique_ptr<CdMedium> medium(new CdMedium);
    medium->m_path = path;
    medium->m_isImage = isImage;
    if (driver == DRIVER_CDRDAO) {
        // libcdio lays some TOC files out wrongly (SILENCE before a FILE, a DATAFILE's length, the last
        // track's START) and reads raw audio in the wrong byte order: TOC images are read by cdrdao's rules.
        medium->m_toc = TocImage::Open(path, error);
        if (!medium->m_toc)
            return nullptr;
    } else {
        QByteArray native = QFile::encodeName(path);
        if (isImage && !QFileInfo(path).isFile()) {
            if (error)
                *error = path + (QFileInfo::exists(path) ? QStringLiteral(": not a regular file")
                                                         : QStringLiteral(": No such file or directory"));
            return nullptr;
        }
        if (driver == DRIVER_BINCUE) {
            medium->m_workspace = std::make_unique<QTemporaryDir>();
            QString sheet;
            if (!prepareCueSheet(path, *medium->m_workspace, &sheet, &medium->m_dataFile, error))
                return nullptr;
            native = QFile::encodeName(sheet);
        }
        // libcdio's image parsers keep state of their own while they read a CUE file, and the last log
        // message is shared: one open at a time in the whole program.
        std::lock_guard lock(CdioOpenMutex());
        const TCdioMessage message;
        medium->m_cdio = cdio_open(native.constData(), driver);
        if (!medium->m_cdio) {
            if (error) {
                const QString why = message.text();
                *error = why.isEmpty() ? QStringLiteral("Cannot open %1").arg(path)
                                       : QStringLiteral("Cannot open %1: %2").arg(path, why);
            }
            return nullptr;
        }
    }
    if (!isImage && medium->m_cdio) {
        cdio_drive_read_cap_t read = 0;
        cdio_drive_write_cap_t write = 0;
        cdio_drive_misc_cap_t misc = 0;
        cdio_get_drive_cap(medium->m_cdio, &read, &write, &misc);
        medium->m_driveC2 = (read & CDIO_DRIVE_CAP_READ_C2_ERRS) != 0 && (read & CDIO_DRIVE_CAP_ERROR) == 0;
    }
    if (isImage) {
        auto damage = TDamageProfile::OfImage(path);
        if (!damage) {
            if (error)
                *error = damage.Error();
            return nullptr;
        }
        if (!damage->Empty())
            medium->m_damage = std::make_unique<TDamagedReads>(path, *damage);
        // An image whose tracks do not follow one another (a mis-read SILENCE or START) is no disc at all.
        QString reason;
        if (!medium->tracksInOrder(&reason)) {
            if (error)
                *error = reason;
            return nullptr;
        }
    }
    return medium;
}

bool CdMedium::readToc(QString *error)
{
    m_tracks.clear();
    m_first = m_last = 0;
    m_leadout = 0;
    if (m_toc) {
        for (const TocImage::Track &t : m_toc->tracks())
            m_tracks.push_back(Track{t.number, t.start(), t.audio, t.copyPermitted, t.preemphasis, t.pregap});
        m_first = 1;
        m_last = int(m_tracks.size());
        m_leadout = m_toc->leadout();
        return true;
    }
    const track_t first = cdio_get_first_track_num(m_cdio);
    const track_t last = cdio_get_last_track_num(m_cdio);
    if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first == 0 || last < first ||
        last > 99) {
        if (error)
            *error = QStringLiteral("No disc in %1").arg(m_path);
        return false;
    }
    for (track_t t = first; t <= last; ++t) {
        Track track;
        track.number = t;
        track.lsn = cdio_get_track_lsn(m_cdio, t);
        track.audio = cdio_get_track_format(m_cdio, t) == TRACK_FORMAT_AUDIO;
        track.copyPermitted = cdio_get_track_copy_permit(m_cdio, t) == CDIO_TRACK_FLAG_TRUE;
        track.preemphasis = cdio_get_track_preemphasis(m_cdio, t) == CDIO_TRACK_FLAG_TRUE;
        if (const lsn_t pregap = cdio_get_track_pregap_lsn(m_cdio, t);
            pregap != CDIO_INVALID_LSN && pregap >= 0 && pregap < track.lsn)
            track.pregap = track.lsn - pregap;
        if (track.lsn == CDIO_INVALID_LSN) {
            if (error)
                *error = QStringLiteral("The table of contents of %1 is unreadable").arg(m_path);
            m_tracks.clear();
            return false;
        }
        m_tracks.push_back(track);
    }
    m_leadout = cdio_get_track_lsn(m_cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (m_leadout == CDIO_INVALID_LSN || m_leadout < m_tracks.back().lsn) {
        if (error)
            *error = QStringLiteral("The table of contents of %1 is unreadable").arg(m_path);
        m_tracks.clear();
        return false;
    }
    m_first = first;
    m_last = last;
    return true;
}

bool CdMedium::tracksInOrder(QString *reason) const
{
    if (m_toc)
        return true; // laid out one track after the other
    const track_t first = cdio_get_first_track_num(m_cdio);
    const track_t last = cdio_get_last_track_num(m_cdio);
    if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first == 0 || last < first || last > 99)
        return true; // no disc to judge: readToc says so
    lsn_t previous = -1;
    for (track_t t = first; t <= last; ++t) {
        const lsn_t lsn = cdio_get_track_lsn(m_cdio, t);
        if (lsn == CDIO_INVALID_LSN || lsn < 0 || (t > first && lsn <= previous)) {
            if (reason)
                *reason =
                    t == first
                        ? QStringLiteral("%1: track %2 starts before the disc").arg(m_path).arg(t)
                        : QStringLiteral("%1: track %2 starts before track %3").arg(m_path).arg(t).arg(t - 1);
            return false;
        }
        previous = lsn;
    }
    const lsn_t leadout = cdio_get_track_lsn(m_cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (leadout == CDIO_INVALID_LSN || leadout <= previous) {
        if (reason)
            *reason = QStringLiteral("%1: the disc ends before track %2 starts").arg(m_path).arg(last);
        return false;
    }
    return true;
}

bool CdMedium::holdsAudioCd()
{
    return readToc(nullptr) && m_tracks.front().audio;
}

int64_t CdMedium::firstBadSector(int32_t lsn, uint32_t count) const
{
    return m_damage ? m_damage->FirstUnreadable(lsn, count) : -1;
}

bool CdMedium::readAudio(int32_t lsn, uint32_t count, void *buffer, QString *error,
                         std::vector<bool> *c2) const
{
    if (c2)
        c2->clear();
    if (lsn < 0 || count == 0 || int64_t(lsn) + count > m_leadout) {
        if (error)
            *error = QStringLiteral("Sectors %1 to %2 lie outside the disc")
                         .arg(lsn)
                         .arg(int64_t(lsn) + count - 1);
        return false;
    }
    if (m_damage)
        return m_damage->Read(
            lsn, count, buffer, m_leadout,
            [this](int32_t at, uint32_t sectors, void *into, QString *why) {
                return readRaw(at, sectors, into, why);
            },
            error, offersC2() ? c2 : nullptr);
    if (c2 && m_driveC2 && !m_isImage && m_cdio) {
        if (readDriveWithC2(lsn, count, buffer, *c2))
            return true;
        if (!readRaw(lsn, count, buffer, error))
            return false; // the sectors themselves cannot be read
        // Read without C2 pointers but not with them: the drive does not give them after all.
        m_driveC2 = false;
        return true;
    }
    return readRaw(lsn, count, buffer, error);
}

void SplitC2Sectors(const uint8_t *sectors, uint32_t count, uint8_t *audio, std::vector<bool> &c2)
{
    c2.assign(count, false);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *sector = sectors + size_t(i) * CdSectorWithC2Bytes;
        std::memcpy(audio + size_t(i) * 2352, sector, 2352);
        c2[i] =
            std::any_of(sector + 2352, sector + CdSectorWithC2Bytes, [](uint8_t bits) { return bits != 0; });
    }
}

bool CdMedium::readDriveWithC2(int32_t lsn, uint32_t count, void *buffer, std::vector<bool> &c2) const
{
    // In pieces a drive takes in one command (under 64 KiB).
    constexpr uint32_t PieceSectors = 24;
    std::vector<uint8_t> raw(size_t(std::min(count, PieceSectors)) * CdSectorWithC2Bytes);
    std::vector<bool> piece;
    c2.clear();
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(count - done, PieceSectors);
        const TCdioMessage message; // a refused command is told by the plain read that follows
        if (mmc_read_cd(m_cdio, raw.data(), lsn + int32_t(done), CDIO_MMC_READ_TYPE_CDDA, false, false, 0,
                        true, false, 1, 0, uint16_t(CdSectorWithC2Bytes), n) != DRIVER_OP_SUCCESS) {
            c2.clear();
            return false;
        }
        SplitC2Sectors(raw.data(), n, static_cast<uint8_t *>(buffer) + size_t(done) * 2352, piece);
        c2.insert(c2.end(), piece.begin(), piece.end());
        done += n;
    }
    return true;
}

bool CdMedium::readRaw(int32_t lsn, uint32_t count, void *buffer, QString *error) const
{
    if (m_toc)
        return m_toc->read(lsn, count, buffer, error);
    // A data file cut short (while the disc is in) has no sectors past its end: libcdio would give zeros.
    if (!m_dataFile.isEmpty()) {
        const int64_t size = QFileInfo(m_dataFile).size();
        if ((int64_t(lsn) + count) * 2352 > size) {
            if (error)
                *error = QStringLiteral("Read error at sector %1 of %2: %3 ends at byte %4")
                             .arg(std::max<int64_t>(lsn, size / 2352))
                             .arg(m_path, m_dataFile)
                             .arg(size);
            return false;
        }
    }
    const TCdioMessage message;
    if (cdio_read_audio_sectors(m_cdio, buffer, lsn, count) != DRIVER_OP_SUCCESS) {
        if (error) {
            *error = QStringLiteral("Read error in sectors %1 to %2 of %3")
                         .arg(lsn)
                         .arg(int64_t(lsn) + count - 1)
                         .arg(m_path);
            if (const QString why = message.text(); !why.isEmpty())
                *error += QStringLiteral(": ") + why;
        }
        return false;
    }
    return true;
}
