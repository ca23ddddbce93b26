// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctdbrepair.h"

#include "audio/decoders.h"
#include "shell/helpers.h"
#include "shell/httpget.h"
#include "shell/workingfile.h"
#include "wavein.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <libdeflate.h>
#include <map>
#include <set>
#include <unistd.h>

TResult<TRipSession> RipSessionOfLog(const QByteArray &logText, const QString &folder)
{
    const QStringList lines = QString::fromUtf8(logText).split(QRegularExpression(QStringLiteral("\r?\n")));
    if (lines.isEmpty() || !lines.first().startsWith(QLatin1String("Sondrel ")))
        return TFailure{QStringLiteral("not a rip log of this program")};
    static const QRegularExpression row(
        QStringLiteral("^  +(\\d{1,2})  +\\S+  +\\S+  +(\\d{1,6})  +(-?\\d{1,6})  (audio|data)$"));
    static const QRegularExpression leadOut(QStringLiteral("^  Lead-out +\\S+ +(\\d{1,6})$"));
    static const QRegularExpression header(QStringLiteral("^Track (\\d\\d)$"));
    TRipSession session;
    int track = 0;
    for (const QString &line : lines) {
        if (const auto m = row.match(line); m.hasMatch() && session.Toc.size() < 99) {
            const int start = m.captured(2).toInt();
            session.Toc.push_back(TTocRow{m.captured(1).toInt(), start, m.captured(3).toInt() - start + 1,
                                          m.captured(4) == QLatin1String("audio")});
        } else if (const auto l = leadOut.match(line); l.hasMatch()) {
            session.LeadOut = l.captured(1).toInt();
        } else if (const auto h = header.match(line); h.hasMatch()) {
            track = h.captured(1).toInt();
        } else if (track > 0 && line.startsWith(QLatin1String("  File: "))) {
            const QString name = line.mid(8);
            if (name.isEmpty() || name != QFileInfo(name).fileName() || name.startsWith(QLatin1Char('.')) ||
                WithoutControlChars(name) != name)
                return TFailure{
                    QStringLiteral("track %1's file is not a plain name in the folder").arg(track)};
            TTrackRip rip;
            rip.Track = track;
            rip.File = folder + QLatin1Char('/') + name;
            rip.Read = true;
            session.Tracks.push_back(rip);
            track = 0;
        }
    }
    if (session.Toc.empty() || session.LeadOut <= session.Toc.back().Start)
        return TFailure{QStringLiteral("the log holds no table of contents")};
    for (size_t i = 0; i < session.Toc.size(); ++i) {
        const int32_t next = i + 1 < session.Toc.size() ? session.Toc[i + 1].Start : session.LeadOut;
        if (session.Toc[i].Sectors <= 0 || session.Toc[i].Start + session.Toc[i].Sectors > next)
            return TFailure{QStringLiteral("the log's table of contents is not in order")};
    }
    return session;
}

namespace {

// Where a rip's audio lies: each audio track's file and its samples.
struct TDiscFiles {
    QStringList Files;
    std::vector<int64_t> Samples;
    QList<int> Numbers; // the tracks' numbers
};

TResult<TDiscFiles> discFilesOf(const TRipSession &session)
{
    TDiscFiles disc;
    for (const TTocRow &row : session.Toc) {
        if (!row.Audio)
            continue;
        const auto it = std::find_if(session.Tracks.begin(), session.Tracks.end(),
                                     [&](const TTrackRip &t) { return t.Track == row.Track; });
        if (it == session.Tracks.end())
            return TFailure{QStringLiteral("track %1 is not in the rip: the database mends whole discs")
                                .arg(TwoDigits(row.Track))};
        disc.Files << it->File;
        disc.Numbers << row.Track;
        disc.Samples.push_back(int64_t(row.Sectors) * 588);
    }
    // An enhanced CD's audio ends 11,400 sectors before its data session.
    if (!session.Toc.back().Audio && !disc.Samples.empty())
        disc.Samples.back() -= int64_t(11400) * 588;
    return disc;
}

// Hands the bytes [from, to) of the disc's audio (16-bit stereo, the tracks' WAVs one after the other) to
// `sink`; `files` stand for the rip's own where given. Empty, or why not.
QString streamDisc(const TDiscFiles &disc, const QStringList &files, int64_t from, int64_t to,
                   const std::function<void(const uint8_t *, size_t)> &sink, const std::atomic<bool> *cancel)
{
    int64_t at = 0;
    std::vector<uint8_t> chunk(588 * 4 * 64);
    for (qsizetype t = 0; t < disc.Files.size(); ++t) {
        const int64_t bytes = disc.Samples[size_t(t)] * 4;
        if (at + bytes > from && at < to) {
            TWaveIn in;
            in.SetFileName(files.value(t));
            if (!in.TryOpen())
                return files.value(t) + QStringLiteral(": ") + in.OpenError;
            if (in.GetChannels() != 2 || in.GetBitsPerSample() != 16 || in.GetSampleRate() != 44100 ||
                in.GetTotalSamples() != disc.Samples[size_t(t)])
                return files.value(t) + QStringLiteral(": not the disc's track as a CD audio WAV");
            in.Init();
            int64_t done = 0;
            while (const uint32_t n = in.ReadFully(chunk.data(), uint32_t(chunk.size()))) {
                if (cancel && *cancel)
                    return QStringLiteral("stopped");
                const int64_t a = std::max(from, at + done), b = std::min(to, at + done + n);
                if (b > a)
                    sink(chunk.data() + (a - at - done), size_t(b - a));
                done += n;
            }
            in.Flush();
        }
        at += bytes;
    }
    return QString();
}

// The WAV's audio data begins after its 44-byte canonical header (the rips' own).
bool canonicalWav(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(44).mid(36, 4) == "data";
}

// The rip in a folder as its newest log tells it, its audio tracks' WAV files.
struct TLoggedRip {
    QString Log;
    QByteArray LogText;
    TRipSession Session;
    TDiscFiles Disc;
};

TResult<TLoggedRip> loggedRip(const QString &folder)
{
    TLoggedRip rip;
    rip.Log = EarlierRipLog(folder);
    if (rip.Log.isEmpty())
        return TFailure{folder + QStringLiteral(": no rip log here tells the disc")};
    QFile logFile(rip.Log);
    if (!logFile.open(QIODevice::ReadOnly))
        return TFailure{rip.Log + QStringLiteral(": ") + logFile.errorString()};
    rip.LogText = logFile.read(4 << 20);
    auto parsed = RipSessionOfLog(rip.LogText, folder);
    if (!parsed)
        return TFailure{rip.Log + QStringLiteral(": ") + parsed.Error()};
    rip.Session = *parsed;
    auto disc = discFilesOf(rip.Session);
    if (!disc)
        return TFailure{rip.Log + QStringLiteral(": ") + disc.Error()};
    rip.Disc = *disc;
    for (const QString &file : rip.Disc.Files)
        if (AudioFileKindOf(file) != TFileFormat::Wav || !canonicalWav(file))
            return TFailure{file + QStringLiteral(": only a rip's own WAV files can be mended so far")};
    return rip;
}

// The entry to mend from (the most confident with a recovery record) and its record.
TResult<std::pair<TCtdbEntry, QByteArray>> recoveryRecord(const TCtdbRipCheck &check, const QString &server,
                                                          const std::atomic<bool> *cancel)
{
    if (!check.Answered)
        return TFailure{check.Problem};
    if (!check.Verdict.Known)
        return TFailure{QStringLiteral("the disc is not in the CUETools database: nothing to mend from")};
    const TCtdbEntry *best = nullptr;
    for (const TCtdbEntry &entry : check.Entries)
        if (!entry.ParityPath.isEmpty() && entry.Parity > 0 && entry.Stride > 0 &&
            (!best || entry.Confidence > best->Confidence))
            best = &entry;
    if (!best)
        return TFailure{
            QStringLiteral("no entry of the disc in the CUETools database has a recovery record")};
    const QString url =
        CtdbLookupUrl(server, QString()).section(QStringLiteral("/lookup2.php"), 0, 0) + best->ParityPath;
    const auto record = AskDatabase(QStringLiteral("the recovery record"), url, cancel);
    if (!record)
        return TFailure{record.Error()};
    if (!*record)
        return TFailure{url + QStringLiteral(": the database has no recovery record there")};
    return std::pair{*best, **record};
}

using TPatches = std::map<qsizetype, std::vector<std::pair<int64_t, uint16_t>>>; // by track: byte, xor

// Each mended track copied to its working name and patched there; the working files, or why not (none left).
TResult<QStringList> writeMended(const TDiscFiles &disc, const TPatches &patches)
{
    QStringList files = disc.Files;
    const auto fail = [&](const QString &why) {
        for (qsizetype t = 0; t < files.size(); ++t)
            if (files[t] != disc.Files[t])
                DiscardWorkingFile(files[t], disc.Files[t]);
        return TFailure{why};
    };
    for (const auto &[t, words] : patches) {
        // Claimed as every working file is: another run mending the same rip is refused by name, and what a
        // killed run left goes.
        QString why;
        const QString work = ClaimWorkingFile(disc.Files[t], &why);
        if (work.isEmpty())
            return TResult<QStringList>(fail(why));
        files[t] = work;
        QFile in(disc.Files[t]), out(work);
        if (!in.open(QIODevice::ReadOnly))
            return TResult<QStringList>(fail(disc.Files[t] + QStringLiteral(": ") + in.errorString()));
        if (!out.open(QIODevice::ReadWrite | QIODevice::Truncate))
            return TResult<QStringList>(fail(work + QStringLiteral(": ") + out.errorString()));
        while (!in.atEnd()) {
            const QByteArray chunk = in.read(1 << 20);
            if (chunk.isEmpty() || out.write(chunk) != chunk.size())
                return TResult<QStringList>(fail(disc.Files[t] + QStringLiteral(": cannot be written: ") +
                                                 (chunk.isEmpty() ? in.errorString() : out.errorString())));
        }
        for (const auto &[offset, error] : words) {
            char word[2];
            if (!out.seek(44 + offset) || out.read(word, 2) != 2 || !out.seek(44 + offset))
                return TResult<QStringList>(fail(work + QStringLiteral(": ") + out.errorString()));
            word[0] = char(uint8_t(word[0]) ^ (error & 0xFF));
            word[1] = char(uint8_t(word[1]) ^ (error >> 8));
            if (out.write(word, 2) != 2)
                return TResult<QStringList>(fail(work + QStringLiteral(": ") + out.errorString()));
        }
        if (!out.flush())
            return TResult<QStringList>(fail(work + QStringLiteral(": ") + out.errorString()));
    }
    return files;
}

// The old files kept beside (a hard link, so that the file is never missing), then the mended ones in place,
// and the repair recorded in the log.
TResult<QString> settleMended(const TLoggedRip &rip, const TCtdbEntry &entry, const TPatches &patches,
                              const QStringList &files, bool keep)
{
    const TDiscFiles &disc = rip.Disc;
    QStringList said;
    for (const auto &[t, words] : patches) {
        const QString file = disc.Files[t];
        const QString damaged = file + QStringLiteral(".damaged");
        if (keep)
            QFile::remove(damaged); // an earlier repair's: this one's damaged file is the newer
        if (keep &&
            ::link(QFile::encodeName(file).constData(), QFile::encodeName(damaged).constData()) != 0 &&
            !QFile::copy(file, damaged))
            return TFailure{damaged + QStringLiteral(": cannot be written; ") + file +
                            QStringLiteral(" was not mended")};
        QString error;
        if (!SettleWorkingFile(files[t], file, true, &error))
            return TFailure{error};
        std::set<int64_t> samples;
        for (const auto &word : words)
            samples.insert(word.first / 4);
        said << QStringLiteral("track %1: %2 samples")
                    .arg(TwoDigits(disc.Numbers.value(t)))
                    .arg(samples.size());
    }
    const QString line = QStringLiteral("Repaired from the CUETools database (entry %1, confidence %2): %3")
                             .arg(entry.Id.isEmpty() ? QStringLiteral("?") : WithoutControlChars(entry.Id))
                             .arg(entry.Confidence)
                             .arg(said.join(QStringLiteral(", ")));
    QString error;
    if (!WriteFileAtomically(rip.Log, rip.LogText + line.toUtf8() + "\r\n", &error))
        return TFailure{rip.Log + QStringLiteral(": the repair could not be recorded: ") + error};
    return line;
}

} // namespace

TResult<QString> RepairRip(const QString &folder, const QString &server, bool keep,
                           const std::atomic<bool> *cancel)
{
    auto loaded = loggedRip(folder);
    if (!loaded)
        return TFailure{loaded.Error()};
    TLoggedRip &rip = *loaded;
    const TDiscFiles &disc = rip.Disc;
    rip.Session.CtdbServer = server;
    const TCtdbRipCheck check = CheckRipWithCtdb(rip.Session, cancel);
    if (check.Answered && check.Verdict.DiscConfidence > 0)
        return QStringLiteral("nothing to mend: the rip is the database's (confidence %1)")
            .arg(check.Verdict.DiscConfidence);
    const auto record = recoveryRecord(check, server, cancel);
    if (!record)
        return TFailure{record.Error()};
    const TCtdbEntry &entry = record->first;
    // The range the disc's CRC covers, at the rip's own offset.
    int64_t total = 0;
    for (const int64_t samples : disc.Samples)
        total += samples;
    const int64_t from = TCtdbCrc::Skip * 4,
                  to = std::max<int64_t>((total / TCtdbCrc::Skip - 1) * TCtdbCrc::Skip, TCtdbCrc::Skip) * 4;
    TCtdbMender mender(to - from, record->second, entry.Parity, entry.Stride);
    if (!mender.Problem().isEmpty())
        return TFailure{mender.Problem()};
    if (const QString problem = streamDisc(
            disc, disc.Files, from, to, [&](const uint8_t *d, size_t n) { mender.Add(d, n); }, cancel);
        !problem.isEmpty())
        return TFailure{problem};
    const auto mends = mender.Mends();
    if (!mends)
        return TFailure{mends.Error() + QStringLiteral("; nothing was changed")};
    TPatches patches;
    for (const auto &[at, error] : *mends) {
        int64_t inTrack = from + at;
        qsizetype t = 0;
        while (inTrack >= disc.Samples[size_t(t)] * 4)
            inTrack -= disc.Samples[size_t(t++)] * 4;
        patches[t].emplace_back(inTrack, error);
    }
    const auto files = writeMended(disc, patches);
    if (!files)
        return TFailure{files.Error()};
    uint32_t crc = 0;
    const QString problem = streamDisc(
        disc, *files, from, to, [&](const uint8_t *d, size_t n) { crc = libdeflate_crc32(crc, d, n); },
        cancel);
    if (!problem.isEmpty() || crc != entry.Crc) {
        for (qsizetype t = 0; t < files->size(); ++t)
            if ((*files)[t] != disc.Files[t])
                DiscardWorkingFile((*files)[t], disc.Files[t]);
        return TFailure{problem.isEmpty()
                            ? QStringLiteral("the mended audio is not the database's; nothing was changed")
                            : problem};
    }
    return settleMended(rip, entry, patches, *files, keep);
}
