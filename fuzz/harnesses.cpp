// SPDX-License-Identifier: GPL-3.0-or-later
#include "harnesses.h"

#include "audio/encoderprocess.h"
#include "audio/vorbisin.h"
#include "cddb/cddbinfo.h"
#include "cddb/cddblookup.h"
#include "cddb/coverimage.h"
#include "cddb/musicbrainz.h"
#include "cdrom/damage.h"
#include "cdrom/discmodel.h"
#include "cdrom/tocimage.h"
#include "jobs/accuraterip.h"
#include "jobs/ctdb.h"
#include "jobs/ctdbrepair.h"
#include "jobs/ripreport.h"
#include "jobs/wavein.h"
#include "jobs/wavheader.h"
#include "shell/httpget.h"
#include "shell/inifile.h"
#include "tags/filetags.h"
#include "tags/id3frames.h"
#include "tags/id3tag.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QUtf8StringView>
#include <QtEndian>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input as a file that readers which take a path can open: an anonymous memory file.
class MemoryFile {
public:
    MemoryFile(const uint8_t *data, size_t size) : m_fd(::memfd_create("fuzz", 0))
    {
        if (m_fd >= 0 && size > 0 && ::write(m_fd, data, size) != ssize_t(size)) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~MemoryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

private:
    int m_fd;
};

// Reads a source to its end (at most a bounded amount, so a looping or endless source cannot hang).
void drain(TAuInput &in)
{
    try {
        in.Init();
        int64_t total = 0;
        for (int blocks = 0; blocks < 100000 && total < (int64_t(64) << 20); ++blocks) {
            uint8_t *buffer = nullptr;
            uint32_t bytes = 16384;
            in.GetData(buffer, bytes);
            if (bytes == 0)
                break;
            total += bytes;
        }
        in.Flush();
    } catch (const std::exception &) {
    }
}

// Every WAV encoding the reader takes (PCM, float, IMA and MS ADPCM, MPEG Layer-3 inside WAV).
int wavReader(const uint8_t *data, size_t size)
{
    QByteArray bytes = bytesOf(data, size);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TWaveIn in;
    in.SetStream(&buffer);
    try {
        in.GetChannels();
        in.GetSampleRate();
        in.GetBitsPerSample();
    } catch (const std::exception &) {
        return 0;
    }
    drain(in);
    return 0;
}

// The ID3 tag at the end of an MP3 file.
int id3Reader(const uint8_t *data, size_t size)
{
    MemoryFile file(data, size);
    if (!file.ok())
        return 0;
    Tid3tag tag;
    tag.ReadTag(file.path());
    // Every format's tags through TagLib, the kind told by the content.
    TFileTags tags;
    ReadFileTags(file.path(), tags);
    // The frames TagLib would stop at are taken out in place: the tag keeps its size.
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    int dropped = 0;
    if (WithoutUnreadableId3v2Frames(bytes, &dropped).size() != bytes.size())
        std::abort();
    return 0;
}

// Every value of a section as the whole-file reader sees it.
QStringList valuesOf(const IniFile &ini, const QString &section)
{
    QStringList values;
    for (const QString &key : ini.keys(section))
        values << key + QLatin1Char('=') + ini.readString(section, key, QString());
    return values;
}

// The disc cache reads one section by scanning and writes one by copying the rest through: on a UTF-8 file
// both must agree with the whole-file reader (a section read alone holds what the whole file says; after a
// save, that section holds the same, and every other section is as it was).
void diskCacheSections(const uint8_t *data, size_t size, const IniFile &whole)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (size > 65536 || !QUtf8StringView(bytes).isValidUtf8() || bytes.contains('\r') || bytes.contains('\0'))
        return;
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cdinfo.dat"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return;
    file.close();
    const QStringList sections = whole.sections();
    for (const QString &name : sections.mid(0, 3)) {
        if (name.isEmpty())
            continue;
        IniFile one = IniFile::readSection(path, name);
        if (valuesOf(one, name) != valuesOf(whole, name))
            __builtin_trap();
        one.writeString(name, QStringLiteral("Saved"), QStringLiteral("1"));
        if (!one.saveSection(name, 1000000))
            continue;
        const IniFile after(path);
        if (after.readString(name, QStringLiteral("Saved"), QString()) != QLatin1String("1"))
            __builtin_trap();
        for (const QString &other : sections)
            if (other.compare(name, Qt::CaseInsensitive) != 0 &&
                valuesOf(after, other) != valuesOf(whole, other))
                __builtin_trap();
        QFile restore(path);
        if (!restore.open(QIODevice::WriteOnly | QIODevice::Truncate) || restore.write(bytes) != bytes.size())
            return;
    }
}

// options.ini, cdinfo.dat and language files all go through the INI reader.
int iniReader(const uint8_t *data, size_t size)
{
    MemoryFile file(data, size);
    if (!file.ok())
        return 0;
    const IniFile ini(file.path());
    for (const QString &section : ini.sections()) {
        for (const QString &key : ini.keys(section)) {
            ini.readString(section, key, QString());
            ini.readInteger(section, key, 0);
        }
    }
    ini.text();
    diskCacheSections(data, size, ini);
    return 0;
}

// A CDDB server's answers: the query answer and the disc entry of the component, and the entry text of
// the library route.
int cddbAnswer(const uint8_t *data, size_t size)
{
    const QString text = DecodeServerText(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    TCDDBQuery query(nullptr);
    query.ParseQueryResponse(text);
    query.Refusal();
    query.ParseEntry(text);
    TCddbLookupResult result;
    TakeCddbAlbum(query.Album(), 99, result);
    TCddbLookupResult library;
    ReadCddbEntryText(text, 1, 99, library);
    return 0;
}

// What lame and WM8EUTIL print, through the parsers of the encoder processes (no window: reports go
// nowhere).
int encoderOutput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    TMp3EncodeProcess mp3;
    const QStringList lines = TEncoderProcess::Lines(text);
    mp3.ParseEncodeOutput(lines);
    mp3.PercentColumn = 0;
    mp3.StartTime = QDateTime::currentDateTime();
    mp3.ParseDecodeOutput(lines);
    TWMAEncodeProcess wma;
    wma.StartTime = QDateTime::currentDateTime();
    wma.ParseOutput(lines);
    return 0;
}

// An Ogg Vorbis file through the reader and its comments.
int oggReader(const uint8_t *data, size_t size)
{
    QByteArray bytes = bytesOf(data, size);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TVorbisIn in;
    in.SetStream(&buffer);
    try {
        // A file the reader refuses raises its exception: that is the answer, not a fault.
        in.GetChannels();
        in.GetSampleRate();
    } catch (const std::exception &) {
        return 0;
    }
    drain(in);
    return 0;
}

// MusicBrainz's answers: any bytes, read as the web service's JSON, for a disc of 1 to 99 tracks.
int musicBrainzAnswer(const uint8_t *data, size_t size)
{
    std::vector<TMusicBrainzRelease> releases;
    ParseMusicBrainzAnswer(bytesOf(data, size), QStringLiteral("49HHV7Eb8UKF3aQiNmu1GR8vKTY-"),
                           size > 0 ? int(data[0] % 99) + 1 : 1, releases);
    TCddbLookupResult result;
    for (const TMusicBrainzRelease &release : releases)
        TakeMusicBrainzRelease(release, 99, result);
    return 0;
}

// The AccurateRip database's answers, and a verdict on each of their tracks.
int accurateRipAnswer(const uint8_t *data, size_t size)
{
    if (const auto blocks = ParseAccurateRipAnswer(bytesOf(data, size))) {
        for (int track = 0; track <= 100; ++track)
            AccurateRipVerdict(*blocks, track, {uint32_t(track), uint32_t(size)});
    }
    return 0;
}

// The CUETools database's answers, each entry judged against a small disc's CRCs: an entry keeps to its form.
int ctdbAnswer(const uint8_t *data, size_t size)
{
    const auto entries = ParseCtdbAnswer(bytesOf(data, size));
    if (!entries)
        return 0;
    for (const TCtdbEntry &entry : *entries)
        if (entry.Confidence <= 0 || entry.TrackCrcs.size() > 99 || entry.Id.size() > 64)
            std::abort();
    static const TCtdbCrc disc = [] {
        TCtdbCrc crc({20 * 588, 20 * 588});
        const std::vector<uint8_t> audio(40 * 2352, 7);
        crc.Add(audio.data(), audio.size());
        return crc;
    }();
    const TCtdbVerdict verdict = JudgeCtdb(disc, *entries);
    if (verdict.TrackConfidence.size() != 2)
        std::abort();
    return 0;
}

// Titles a user hands over in a file (rip --titles), put into a disc of 99 rows.
int titlesFile(const uint8_t *data, size_t size)
{
    TTypedTitles titles;
    if (ParseTitlesJson(bytesOf(data, size), titles, nullptr)) {
        TCDInfo info;
        TDiscModel disc(info);
        QList<TDiscTrack> tracks;
        for (int n = 1; n <= 99; ++n)
            tracks << TDiscTrack{n, 0, 1, false};
        disc.Load(QString(), tracks);
        ApplyTypedTitles(disc, titles);
    }
    return 0;
}

// A cover image a server sends: its form checked, then decoded whole.
int coverImage(const uint8_t *data, size_t size)
{
    CoverImageProblem(bytesOf(data, size));
    return 0;
}

// A cdrdao TOC file beside the raw audio file and the WAVE file it may name ("a.raw", "b.wav"): laid out,
// and the first sectors of every track and the last of the disc read.
int tocFile(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const bool files = [] {
        QFile raw(dir.filePath(QStringLiteral("a.raw")));
        QFile wav(dir.filePath(QStringLiteral("b.wav")));
        const QByteArray header = CanonicalWavHeader(2, 44100, 16, 2352 * 10);
        return raw.open(QIODevice::WriteOnly) && raw.write(QByteArray(2352 * 10, '\x11')) > 0 &&
               wav.open(QIODevice::WriteOnly) && wav.write(header + QByteArray(2352 * 10, '\x22')) > 0;
    }();
    const QString path = dir.filePath(QStringLiteral("disc.toc"));
    QFile file(path);
    if (!files || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        return 0;
    file.close();
    QString error;
    const std::unique_ptr<TocImage> toc = TocImage::Open(path, &error);
    if (!toc)
        return 0;
    std::vector<char> sectors(2352 * 4);
    for (const TocImage::Track &track : toc->tracks())
        toc->read(track.begin, uint32_t(std::min<int32_t>(4, track.sectors)), sectors.data(), &error);
    toc->read(toc->leadout() - 1, 1, sectors.data(), &error);
    return 0;
}

// A disc image's damage profile: what parses says the same when written out and read again, and reads
// through it stay inside their buffers whatever it says.
int damageProfile(const uint8_t *data, size_t size)
{
    const auto profile = TDamageProfile::Parse(bytesOf(data, size), QStringLiteral("disc.cue.damage"));
    if (!profile)
        return 0;
    const auto again = TDamageProfile::Parse(profile->Text(), QStringLiteral("again"));
    if (!again || again->Text() != profile->Text())
        std::abort();
    TDamageProfile quick = *profile;
    quick.SlowMs = 0;
    TDamagedReads reads(QStringLiteral("fuzz.cue"), quick);
    constexpr int32_t leadout = 40;
    const QByteArray disc(leadout * 2352, '\x5A');
    const auto raw = [&](int32_t lsn, uint32_t count, void *into, QString *) {
        if (lsn < 0 || int64_t(lsn) + count > leadout)
            std::abort(); // a read outside the disc asked of the image
        std::memcpy(into, disc.constData() + int64_t(lsn) * 2352, size_t(count) * 2352);
        return true;
    };
    std::vector<char> buffer(2352 * 3);
    for (const int32_t lsn : {0, 1, 17, leadout - 3})
        reads.Read(lsn, 3, buffer.data(), leadout, raw, nullptr);
    return 0;
}

// An earlier rip's log, as --resume reads it: a track is kept only when its file is a plain name of a file
// in the folder, whatever the log says.
int ripLog(const uint8_t *data, size_t size)
{
    static QTemporaryDir folder;
    static const bool made = [] {
        QFile file(folder.filePath(QStringLiteral("Track01.flac")));
        return file.open(QIODevice::WriteOnly) && file.write("fLaC") == 4;
    }();
    if (!made)
        std::abort();
    for (const TKeptTrack &kept : TracksReadWell(bytesOf(data, size), folder.path()))
        if (kept.File != QLatin1String("Track01.flac") || kept.Track < 1 || kept.Track > 99)
            std::abort();
    // As repair reads it: the disc in order, and each file a plain name in the folder.
    if (const auto session = RipSessionOfLog(bytesOf(data, size), folder.path())) {
        if (session->Toc.empty() || session->Toc.size() > 99)
            std::abort();
        for (const TTrackRip &track : session->Tracks)
            if (QFileInfo(track.File).path() != folder.path())
                std::abort();
    }
    return 0;
}

} // namespace

const FuzzTarget FuzzTargets[] = {
    {"wav", wavReader},
    {"id3", id3Reader},
    {"ini", iniReader},
    {"cddb", cddbAnswer},
    {"encoder", encoderOutput},
    {"ogg", oggReader},
    {"musicbrainz", musicBrainzAnswer},
    {"accuraterip", accurateRipAnswer},
    {"ctdb", ctdbAnswer},
    {"titles", titlesFile},
    {"cover", coverImage},
    {"toc", tocFile},
    {"damage", damageProfile},
    {"riplog", ripLog},
    {nullptr, nullptr},
};
