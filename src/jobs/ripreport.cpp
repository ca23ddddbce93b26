// SPDX-License-Identifier: GPL-3.0-or-later
#include "ripreport.h"

#include "cdrom/cdaccess.h"
#include "discimage.h"
#include "playlist.h"
#include "shell/helpers.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "tags/tracktags.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace {

QString hex8(uint32_t value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

// A place in a track as minutes:seconds.frames.
QString trackTime(int32_t sectors)
{
    return SectorTime(sectors, QLatin1Char('.'));
}

QString plural(int n, const char *what)
{
    return QStringLiteral("%1 %2 %3")
        .arg(n)
        .arg(n == 1 ? QStringLiteral("track") : QStringLiteral("tracks"), QLatin1String(what));
}

} // namespace

QString SectorTime(int64_t sectors, QChar beforeFrames)
{
    return QStringLiteral("%1:%2%3%4")
        .arg(sectors / 4500, 2, 10, QLatin1Char('0'))
        .arg(sectors / 75 % 60, 2, 10, QLatin1Char('0'))
        .arg(beforeFrames)
        .arg(sectors % 75, 2, 10, QLatin1Char('0'));
}

TTrackRip TTrackRip::Of(const TCDInfo &disc, int track, const QString &base, const QString &file)
{
    TTrackRip rip;
    rip.Track = track;
    const TTrackTags tags = TrackTagsOf(disc, track, base);
    rip.Title = tags.Title;
    rip.Performer = tags.Artist;
    rip.Isrc = tags.Isrc;
    rip.PreEmphasis = track >= 1 && track < int(disc.PreEmphasis.size()) && disc.PreEmphasis[size_t(track)];
    rip.File = file;
    return rip;
}

void TTrackRip::TakeCheck(const TAudioCheck &check)
{
    Frames = check.Frames();
    Peak = check.Peak();
    CopyCrc = check.Crc();
    Sums = check.Sums();
}

TRipSession TRipSession::Of(const TOptionsSetting &settings, const QString &drive, const QString &readMode,
                            bool paranoia)
{
    TRipSession session;
    session.Drive = drive;
    session.ReadMode = readMode;
    session.Paranoia = paranoia;
    session.Offset = settings.CommonOptions.ReadOffset;
    session.OffsetSource = settings.CommonOptions.ReadOffsetSource;
    session.TestAndCopy = settings.CommonOptions.TestAndCopy;
    session.Verify = settings.CommonOptions.VerifyAccurateRip;
    session.CtdbServer = settings.CommonOptions.CtdbServer;
    session.Artist = settings.DiscInfo.Artist;
    session.Album = settings.DiscInfo.Album;
    session.Mcn = settings.DiscInfo.Mcn;
    session.Deemphasis = settings.CommonOptions.Deemphasis;
    if (const QString log = settings.CommonOptions.ResumedLog; !log.isEmpty()) {
        QFile file(log);
        if (file.open(QIODevice::ReadOnly))
            session.Kept = TracksReadWell(file.read(4 << 20), QFileInfo(log).path());
    }
    return session;
}

void TRipSession::TakeToc(const TToc &toc)
{
    Disc = AccurateRipDiscOfToc(toc);
    Toc.clear();
    const int count = std::clamp(int(toc.lastTrack) - int(toc.firstTrack) + 1, 0, 99);
    const auto lba = [&toc](int entry) { return TocEntryFrames(toc.tracks[entry]) - 150; };
    for (int i = 0; i < count; ++i)
        Toc.push_back(
            TTocRow{toc.tracks[i].trackNumber, lba(i), lba(i + 1) - lba(i), (toc.tracks[i].ADR & 4) == 0});
    LeadOut = lba(count);
}

void JudgeTracks(TRipSession &session, const std::vector<TAccurateRipBlock> &blocks)
{
    for (TTrackRip &track : session.Tracks) {
        if (!track.Read)
            continue;
        // The database's entries are the audio tracks in order, whatever the disc numbers them.
        const std::vector<int> &numbers = session.Disc.Places;
        const auto at = std::find(numbers.begin(), numbers.end(), track.Track);
        const int entry = numbers.empty()       ? track.Track
                          : at == numbers.end() ? 0
                                                : int(at - numbers.begin()) + 1;
        track.AccurateRip = AccurateRipVerdict(blocks, entry, track.Sums, &track.Accurate, &session.Disc);
        track.InDatabase = track.Accurate || track.AccurateRip.startsWith(QLatin1String("mismatch"));
    }
}

QString DamagedNotMadeText(const QString &file, qsizetype unreadableSectors)
{
    return file +
           QStringLiteral(": not made: %1 sectors could not be read, and only verified tracks were asked for")
               .arg(unreadableSectors);
}

QString DamagedText(const TTrackRip &track)
{
    const int32_t count = int32_t(track.Unreadable.size());
    const QString from = trackTime(track.Unreadable.first() - track.FirstSector);
    const QString to = trackTime(track.Unreadable.last() - track.FirstSector);
    return QStringLiteral("Track %1: damaged: %2 unreadable at %3")
               .arg(TwoDigits(track.Track),
                    count == 1 ? QStringLiteral("1 sector") : QStringLiteral("%1 sectors").arg(count),
                    from + (to == from ? QString() : QStringLiteral("–") + to)) +
           (track.Problem.isEmpty() ? QString()
                                    : QStringLiteral(" (%1)").arg(WithoutControlChars(track.Problem)));
}

QString TrackResultWord(const TRipSession &session, const TTrackRip &track)
{
    if (track.Damaged() && track.Read)
        return QStringLiteral("damaged");
    if (track.Failed())
        return QStringLiteral("failed");
    if (!session.Verify)
        return QStringLiteral("not verified");
    return track.Accurate     ? QStringLiteral("verified")
           : track.InDatabase ? QStringLiteral("mismatch")
                              : QStringLiteral("unknown");
}

QString RipSummary(const TRipSession &session)
{
    int failed = 0, inaccurate = 0, unverified = 0;
    for (const TTrackRip &track : session.Tracks) {
        if (track.Failed())
            ++failed;
        else if (track.InDatabase && !track.Accurate)
            ++inaccurate;
        else if (!track.Accurate && !track.Hidden()) // a hidden track is in no database
            ++unverified;
    }
    QStringList parts;
    if (failed)
        parts << plural(failed, "failed");
    if (inaccurate)
        parts << plural(inaccurate, "not accurately ripped");
    if (unverified)
        parts << plural(unverified, "not verified");
    return parts.isEmpty() ? QStringLiteral("All tracks accurately ripped")
                           : parts.join(QStringLiteral("; "));
}

QStringList VerificationLines(const TRipSession &session)
{
    QStringList lines;
    for (const TTrackRip &track : session.Tracks) {
        QString verdict;
        if (!track.Read)
            verdict = QStringLiteral("Not read");
        else if (track.Damaged())
            verdict = DamagedText(track).section(QStringLiteral(": "), 1);
        else if (track.CrcMismatch())
            verdict = QStringLiteral("CRC mismatch (copy %1, test %2)")
                          .arg(hex8(track.CopyCrc), hex8(track.TestCrc));
        else if (!track.AccurateRip.isEmpty())
            verdict = track.AccurateRip;
        else if (session.Verify)
            verdict = QStringLiteral("unknown (the database could not be asked)");
        else
            verdict = QStringLiteral("Not verified");
        lines << QStringLiteral("Track %1: %2").arg(TwoDigits(track.Track), verdict);
    }
    if (!session.VerifyError.isEmpty())
        lines << session.VerifyError;
    lines << RipSummary(session);
    return lines;
}

namespace {

// The log's table of contents: each track's start and length as minutes:seconds.frames and as sectors.
void tocLines(QStringList &out, const TRipSession &session)
{
    if (session.Toc.empty())
        return;
    out << QString() << QStringLiteral("Table of contents")
        << QStringLiteral("  Track    Start    Length  Start sector  End sector  Type");
    for (const TTocRow &row : session.Toc)
        out << QStringLiteral("  %1  %2  %3  %4  %5  %6")
                   .arg(row.Track, 5)
                   .arg(trackTime(row.Start), 8)
                   .arg(trackTime(row.Sectors), 8)
                   .arg(row.Start, 12)
                   .arg(row.Start + row.Sectors - 1, 10)
                   .arg(row.Audio ? QStringLiteral("audio") : QStringLiteral("data"));
    out << QStringLiteral("  Lead-out %1  %2").arg(trackTime(session.LeadOut), 8).arg(session.LeadOut, 22);
}

// One track's part of the log.
void trackLines(QStringList &out, const TRipSession &session, const TTrackRip &track)
{
    out << QString() << QStringLiteral("Track ") + TwoDigits(track.Track);
    out << QStringLiteral("  File: ") + QFileInfo(track.File).fileName();
    if (!track.Isrc.isEmpty())
        out << QStringLiteral("  ISRC: ") + track.Isrc;
    if (track.PreEmphasis)
        out << QStringLiteral("  Pre-emphasis: yes (%1)")
                   .arg(session.Deemphasis ? QStringLiteral("de-emphasised") : QStringLiteral("not undone"));
    const int64_t hundredths = track.Frames * 100 / 44100;
    out << QStringLiteral("  Length: %1:%2.%3")
               .arg(hundredths / 6000)
               .arg(hundredths / 100 % 60, 2, 10, QLatin1Char('0'))
               .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
    out << QStringLiteral("  Peak level: %1 %").arg(double(track.Peak) * 100.0 / 32768.0, 0, 'f', 1);
    out << QStringLiteral("  Copy CRC: ") + hex8(track.CopyCrc);
    if (track.Tested)
        out << QStringLiteral("  Test CRC: ") + hex8(track.TestCrc) +
                   (track.CrcMismatch() ? QStringLiteral(" (CRC mismatch)") : QString());
    if (!track.Rereads.isEmpty()) {
        QStringList crcs;
        for (const uint32_t crc : track.Rereads)
            crcs << hex8(crc);
        out << QStringLiteral("  First copy CRC: %1; re-reads: %2 (CRCs %3; the file is the last)")
                   .arg(hex8(track.FirstCopyCrc))
                   .arg(track.Rereads.size())
                   .arg(crcs.join(QStringLiteral(", ")));
    }
    if (!track.Suspicious.isEmpty()) {
        // Where the reads differed, within the track and on the disc; a long list is cut short.
        QStringList places;
        for (const int32_t sector : track.Suspicious.mid(0, 20))
            places << QStringLiteral("%1 (sector %2)").arg(trackTime(sector - track.FirstSector)).arg(sector);
        if (track.Suspicious.size() > 20)
            places << QStringLiteral("and %1 more").arg(track.Suspicious.size() - 20);
        out << QStringLiteral("  Suspicious positions: ") + places.join(QStringLiteral(", "));
    }
    if (!track.C2Flagged.isEmpty())
        out << QStringLiteral(
                   "  C2 errors: %1 sectors flagged (from sector %2), each read again until a read came "
                   "clean%3")
                   .arg(track.C2Flagged.size())
                   .arg(track.C2Flagged.first())
                   .arg(track.C2Left.isEmpty() ? QString()
                                               : QStringLiteral("; %1 never did in %3 reads (from sector %2)")
                                                     .arg(track.C2Left.size())
                                                     .arg(track.C2Left.first())
                                                     .arg(C2ReadAttempts));
    if (track.JitterFrom >= 0)
        out << QStringLiteral("  Jitter: a read began off where it was asked to start, at %1 (sector %2); %3")
                   .arg(trackTime(track.JitterFrom - track.FirstSector))
                   .arg(track.JitterFrom)
                   .arg(track.CrcMismatch() ? QStringLiteral("not corrected (no two reads agreed)")
                                            : QStringLiteral("two reads agreed after it"));
    // The track's own checksums, whatever the database said or whether it could be asked: the rip can
    // be checked against it later.
    if (track.Read)
        out << QStringLiteral("  AccurateRip checksums: v1 %1, v2 %2")
                   .arg(hex8(track.Sums.V1), hex8(track.Sums.V2));
    out << QStringLiteral("  AccurateRip: ") +
               (!track.AccurateRip.isEmpty()   ? track.AccurateRip
                : session.Verify && track.Read ? QStringLiteral("unknown (the database could not be asked)")
                                               : QStringLiteral("not verified"));
    if (!track.Ctdb.isEmpty())
        out << QStringLiteral("  CUETools database: ") + track.Ctdb;
    out << QStringLiteral("  Read errors: %1").arg(track.ReadErrors);
    out << QStringLiteral("  Paranoia repairs: %1").arg(track.Repairs);
    const QString notRead = track.Problem.isEmpty()
                                ? QStringLiteral("not read")
                                : QStringLiteral("not read (%1)").arg(WithoutControlChars(track.Problem));
    if (track.Damaged())
        out << QStringLiteral("  Unreadable sectors: %1 (silence in the file), from sector %2 to %3")
                   .arg(track.Unreadable.size())
                   .arg(track.Unreadable.first())
                   .arg(track.Unreadable.last());
    out << QStringLiteral("  Status: ") + (!track.Read           ? notRead
                                           : track.Damaged()     ? QStringLiteral("damaged")
                                           : track.CrcMismatch() ? QStringLiteral("CRC mismatch")
                                                                 : QStringLiteral("copied"));
}

} // namespace

QString RipLogText(const TRipSession &session, const QDateTime &when)
{
    QStringList out;
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    out << QStringLiteral("Sondrel " SONDREL_VERSION " rip log") << QString();
    out << QStringLiteral("Date: ") + when.toString(Qt::ISODate);
    out << QStringLiteral("Drive: ") + WithoutControlChars(session.Drive);
    out << QStringLiteral("Read mode: ") + session.ReadMode;
    out << QStringLiteral("Paranoia: ") + onOff(session.Paranoia);
    out << QStringLiteral("Read offset correction: %1%2 samples (%3)")
               .arg(session.Offset > 0 ? QStringLiteral("+") : QString())
               .arg(session.Offset)
               .arg(session.OffsetSource.isEmpty() ? QStringLiteral("the setting") : session.OffsetSource);
    out << QStringLiteral("Test & copy: ") + onOff(session.TestAndCopy);
    if (!session.C2.isEmpty())
        out << QStringLiteral("C2 error pointers: ") + session.C2;
    out << QStringLiteral("Artist: ") + WithoutControlChars(session.Artist);
    out << QStringLiteral("Album: ") + WithoutControlChars(session.Album);
    if (!session.Mcn.isEmpty())
        out << QStringLiteral("Catalogue number: ") + session.Mcn;
    if (session.Verify) {
        out << QStringLiteral("AccurateRip disc: %1-%2-%3 (%4 tracks)")
                   .arg(QStringLiteral("%1").arg(session.Disc.Id1, 8, 16, QLatin1Char('0')),
                        QStringLiteral("%1").arg(session.Disc.Id2, 8, 16, QLatin1Char('0')),
                        QStringLiteral("%1").arg(session.Disc.CddbId, 8, 16, QLatin1Char('0')))
                   .arg(session.Disc.TrackCount);
        if (!session.VerifyError.isEmpty())
            out << session.VerifyError;
        out << QStringLiteral("CUETools database: ") +
                   (session.Ctdb.isEmpty() ? QStringLiteral("not asked") : WithoutControlChars(session.Ctdb));
    } else {
        out << QStringLiteral("AccurateRip: not asked");
    }
    if (!session.Kept.empty()) {
        QStringList numbers;
        for (const TKeptTrack &kept : session.Kept)
            numbers << TwoDigits(kept.Track);
        out << QStringLiteral("Resumed: tracks kept from the earlier run: ") +
                   numbers.join(QStringLiteral(", "));
    }
    tocLines(out, session);
    // This run's tracks and those kept from the earlier one, in the disc's order.
    auto kept = session.Kept;
    std::sort(kept.begin(), kept.end(),
              [](const TKeptTrack &a, const TKeptTrack &b) { return a.Track < b.Track; });
    auto next = kept.begin();
    const auto keptUpTo = [&](int track) {
        for (; next != kept.end() && next->Track < track; ++next)
            out << QString() << QStringLiteral("Track ") + TwoDigits(next->Track) << next->Lines
                << QStringLiteral("  Kept from the earlier run");
    };
    for (const TTrackRip &track : session.Tracks) {
        keptUpTo(track.Track);
        trackLines(out, session, track);
    }
    keptUpTo(100);
    out << QString() << RipSummary(session) << QString();
    return out.join(QStringLiteral("\r\n"));
}

namespace {

// The disc's own tags, for an image of all of it (no track's title, number or count).
TTrackTags imageTagsOf(const TCDInfo &disc)
{
    TTrackTags tags = TrackTagsOf(disc, -1, QString());
    tags.TrackTotal = 0;
    return tags;
}

} // namespace

TRipReporter::TRipReporter(const TOptionsSetting &settings, const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder), m_imageFormat(settings.CommonOptions.ImageFormat),
      m_flacLevel(settings.FlacOptions.CompressionLevel), m_keepWav(settings.CommonOptions.IsKeepWav),
      m_imageTags(imageTagsOf(settings.DiscInfo)), m_server(settings.CommonOptions.AccurateRipServer),
      m_log(settings.CommonOptions.WriteLog), m_cue(settings.CommonOptions.WriteCue)
{
}

TRipReporter::~TRipReporter()
{
    m_cancel = true;
    if (m_worker.joinable())
        m_worker.join();
}

bool TRipReporter::Wanted() const
{
    return Session.Verify || Session.TestAndCopy || m_log || m_cue || m_imageFormat >= 0;
}

void TRipReporter::Cancel()
{
    m_cancel = true;
    m_view = nullptr;
    m_then = nullptr;
}

void TRipReporter::Record(const TTrackRip &track, const QString &base, TRipOutcomeView &view)
{
    if (track.Read && track.CrcMismatch())
        view.ShowError(QStringLiteral("Track %1 (%2): CRC mismatch (copy %3, test %4)")
                           .arg(TwoDigits(track.Track), base)
                           .arg(track.CopyCrc, 8, 16, QLatin1Char('0'))
                           .arg(track.TestCrc, 8, 16, QLatin1Char('0')));
    Session.Tracks.push_back(track);
}

void TRipReporter::Run(TRipOutcomeView &view, std::function<void()> then)
{
    m_view = &view;
    m_then = std::move(then);
    const bool allRead =
        std::all_of(Session.Tracks.begin(), Session.Tracks.end(), [](const TTrackRip &t) { return t.Read; });
    const bool anyRead =
        std::any_of(Session.Tracks.begin(), Session.Tracks.end(), [](const TTrackRip &t) { return t.Read; });
    const bool ask = Session.Verify && anyRead;
    const bool join = m_imageFormat >= 0 && !Session.Tracks.empty();
    if (join && !allRead)
        m_imageError = imagePath() +
                       QStringLiteral(": not made, as not every track was read (the tracks' WAVs are kept)");
    if (!ask && !(join && allRead)) {
        finish();
        return;
    }
    const QString image = join && allRead ? imagePath() : QString();
    m_worker = std::thread([this, session = Session, image, ask, server = m_server]() mutable {
        QString imageError;
        QStringList wavs;
        for (const TTrackRip &track : session.Tracks)
            wavs << track.File;
        bool made = false;
        if (!image.isEmpty()) {
            const auto written = WriteDiscImage(session, wavs, image, m_imageFormat == OutputFormat::Flac,
                                                m_flacLevel, m_imageTags, &m_cancel);
            made = bool(written);
            imageError = written.Error();
        }
        QString error;
        std::vector<TAccurateRipBlock> blocks;
        TCtdbRipCheck ctdb;
        if (ask) {
            auto answer = FetchAccurateRip(server, session.Disc, &m_cancel);
            error = answer.Error();
            if (answer)
                blocks = std::move(*answer);
            if (!session.CtdbServer.isEmpty())
                ctdb = CheckRipWithCtdb(session, &m_cancel);
        }
        QMetaObject::invokeMethod(
            this,
            [this, blocks = std::move(blocks), error, image, made, imageError, session, ask, ctdb] {
                if (m_worker.joinable())
                    m_worker.join();
                if (m_cancel)
                    return;
                if (made)
                    for (size_t i = 0; i < Session.Tracks.size(); ++i)
                        Session.Tracks[i].Frames = session.Tracks[i].Frames;
                m_imageMade = made;
                if (!image.isEmpty())
                    m_imageError = imageError;
                Session.VerifyError = ask ? error : QString();
                m_blocks = blocks;
                m_ctdb = ctdb;
                finish();
            },
            Qt::QueuedConnection);
    });
}

QString TRipReporter::imagePath() const
{
    return WithTrailingBackslash(m_folder) +
           AlbumFileName(Session.Artist, Session.Album, OutputFormatExtension(m_imageFormat));
}

void TRipReporter::finishImage(TRipOutcomeView &view)
{
    if (!m_imageMade) {
        if (!m_imageError.isEmpty())
            view.ShowError(m_imageError);
        return;
    }
    const QString image = imagePath();
    view.FileMade(image);
    for (TTrackRip &track : Session.Tracks) {
        if (QFile wav(track.File); !m_keepWav && !wav.remove())
            view.ShowError(track.File + QStringLiteral(": cannot be removed: ") + wav.errorString());
        track.File = image;
    }
}

void TRipReporter::finish()
{
    if (Session.Verify && Session.VerifyError.isEmpty())
        JudgeTracks(Session, m_blocks);
    if (Session.Verify && !Session.CtdbServer.isEmpty())
        JudgeTracksByCtdb(Session, m_ctdb);
    if (!m_view)
        return; // cancelled
    TRipOutcomeView &view = *m_view;
    const auto write = [&](const QString &extension, const QString &text) {
        const QString path =
            WithTrailingBackslash(m_folder) + AlbumFileName(Session.Artist, Session.Album, extension);
        QString error;
        if (!WriteFileAtomically(path, text.toUtf8(), &error))
            view.ShowError(QStringLiteral("Cannot write ") + error);
        else
            view.FileMade(path);
    };
    if (m_imageFormat >= 0)
        finishImage(view);
    if (m_log)
        write(QStringLiteral(".log"), RipLogText(Session, QDateTime::currentDateTime()));
    if (m_imageMade) // the image's own cue sheet, whatever the settings say
        write(QStringLiteral(".cue"),
              CueSheetText(Session, QFileInfo(Session.Tracks.front().File).fileName()));
    else if (m_cue)
        write(QStringLiteral(".cue"), CueSheetText(Session));
    if (Session.Verify || Session.TestAndCopy)
        view.ShowVerification(Session);
    m_view = nullptr;
    if (const std::function<void()> then = std::move(m_then))
        then();
}
