// SPDX-License-Identifier: GPL-3.0-or-later
// A rip checked against the CUETools database beside AccurateRip.
#include "audio/auexception.h"
#include "audio/decoders.h"
#include "ripreport.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "wavein.h"

#include <QFileInfo>
#include <memory>

namespace {

// Feeds one track's audio from its file (or the WAV beside it, while an encoder still makes the file) to
// the disc's CRCs. Empty when it went in whole, else why not.
QString feedTrack(TCtdbCrc &crc, const QString &file, int64_t samples, const std::atomic<bool> *cancel)
{
    QString path = file;
    if (!QFileInfo::exists(path))
        path = QFileInfo(file).path() + QLatin1Char('/') + QFileInfo(file).completeBaseName() +
               OutputFormatExtension(OutputFormat::Wav);
    const TFileFormat kind = AudioFileKindOf(path);
    if (kind != TFileFormat::Wav && kind != TFileFormat::Flac)
        return file + QStringLiteral(": only lossless files (WAV, FLAC) can be checked");
    std::unique_ptr<TAuInput> in;
    try {
        if (kind == TFileFormat::Wav) {
            auto wav = std::make_unique<TWaveIn>();
            wav->SetFileName(path);
            if (!wav->TryOpen())
                return path + QStringLiteral(": ") + wav->OpenError;
            in = std::move(wav);
        } else {
            in = TDecodedFileIn::Open(path);
        }
        if (in->GetChannels() != 2 || in->GetBitsPerSample() != 16 || in->GetSampleRate() != 44100)
            return path + QStringLiteral(": not CD audio (16-bit stereo 44,100 Hz)");
        in->Init();
        std::vector<uint8_t> chunk(588 * 4 * 32);
        int64_t fed = 0;
        while (uint32_t bytes = in->ReadFully(chunk.data(), uint32_t(chunk.size()))) {
            if (cancel && *cancel)
                return path + QStringLiteral(": stopped");
            const int64_t take = std::min<int64_t>(bytes, samples * 4 - fed);
            crc.Add(chunk.data(), size_t(std::max<int64_t>(take, 0)));
            fed += bytes;
        }
        in->Flush();
        if (fed != samples * 4)
            return path + QStringLiteral(": holds %1 samples, the disc's track %2").arg(fed / 4).arg(samples);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace

TCtdbRipCheck CheckRipWithCtdb(const TRipSession &session, const std::atomic<bool> *cancel)
{
    TCtdbRipCheck check;
    std::vector<std::pair<int32_t, bool>> starts;
    std::vector<int32_t> audioStarts;
    std::vector<int64_t> lengths;
    std::vector<const TTrackRip *> tracks;
    for (const TTocRow &row : session.Toc) {
        starts.emplace_back(row.Start, !row.Audio);
        if (!row.Audio)
            continue;
        audioStarts.push_back(row.Start);
        lengths.push_back(int64_t(row.Sectors) * 588);
        const auto it = std::find_if(session.Tracks.begin(), session.Tracks.end(),
                                     [&](const TTrackRip &t) { return t.Track == row.Track; });
        tracks.push_back(it == session.Tracks.end() || !it->Read ? nullptr : &*it);
    }
    if (lengths.empty())
        return check;
    // An enhanced CD's audio ends 11,400 sectors before its data session.
    int32_t audioEnd = session.LeadOut;
    if (!session.Toc.empty() && !session.Toc.back().Audio && session.Toc.back().Start > audioStarts.back())
        audioEnd = session.Toc.back().Start - 11400;
    lengths.back() = std::min<int64_t>(lengths.back(), int64_t(audioEnd - audioStarts.back()) * 588);
    check.TocId = CtdbTocIdOf(audioStarts, audioEnd);
    if (std::find(tracks.begin(), tracks.end(), nullptr) != tracks.end()) {
        check.Problem =
            QStringLiteral("not checked: the database knows whole discs, and not every track was read");
        return check;
    }
    TCtdbCrc crc(lengths);
    for (size_t t = 0; t < tracks.size(); ++t)
        if (const QString problem = feedTrack(crc, tracks[t]->File, lengths[t], cancel); !problem.isEmpty()) {
            check.Problem = QStringLiteral("not checked: ") + problem;
            return check;
        }
    auto entries = FetchCtdb(session.CtdbServer, CtdbLookupTocOf(starts, session.LeadOut), cancel);
    if (!entries) {
        check.Problem = entries.Error();
        return check;
    }
    check.Answered = true;
    check.Verdict = JudgeCtdb(crc, *entries);
    check.Entries = std::move(*entries);
    return check;
}

void JudgeTracksByCtdb(TRipSession &session, const TCtdbRipCheck &check)
{
    const QString id = check.TocId.isEmpty() ? QString() : QStringLiteral(" (TOC id %1)").arg(check.TocId);
    if (!check.Answered) {
        session.Ctdb = check.Problem + id;
        return;
    }
    const TCtdbVerdict &verdict = check.Verdict;
    session.Ctdb = !verdict.Known ? QStringLiteral("the disc is not in the database") + id
                   : verdict.DiscConfidence > 0
                       ? QStringLiteral("the disc verified (confidence %1, offset %2%3)%4")
                             .arg(verdict.DiscConfidence)
                             .arg(verdict.DiscOffset > 0 ? QStringLiteral("+") : QString())
                             .arg(verdict.DiscOffset)
                             .arg(id)
                       : QStringLiteral("the disc is in the database, this rip is not") + id;
    size_t audio = 0; // the audio tracks in disc order, as the verdict counts them
    for (const TTocRow &row : session.Toc) {
        if (!row.Audio)
            continue;
        const size_t place = audio++;
        const auto it = std::find_if(session.Tracks.begin(), session.Tracks.end(),
                                     [&](const TTrackRip &t) { return t.Track == row.Track && t.Read; });
        if (it == session.Tracks.end() || place >= verdict.TrackConfidence.size())
            continue;
        TTrackRip &track = *it;
        const int confidence = verdict.TrackConfidence[place];
        track.Ctdb = confidence > 0  ? QStringLiteral("verified (confidence %1)").arg(confidence)
                     : verdict.Known ? QStringLiteral("mismatch (no entry has this track)")
                                     : QStringLiteral("unknown (not in the database)");
        const bool arMismatch = track.InDatabase && !track.Accurate;
        const bool ctdbMismatch = verdict.Known && confidence == 0;
        const QString arText =
            track.AccurateRip.isEmpty() ? QStringLiteral("unknown (could not be asked)") : track.AccurateRip;
        const auto inner = [](const QString &text) {
            const qsizetype open = text.indexOf(QLatin1Char('('));
            return open < 0 ? text : text.mid(open + 1).chopped(text.endsWith(QLatin1Char(')')) ? 1 : 0);
        };
        track.Accurate = (track.Accurate || confidence > 0) && !arMismatch && !ctdbMismatch;
        track.InDatabase = track.InDatabase || verdict.Known;
        const QString word = track.Accurate               ? QStringLiteral("verified")
                             : arMismatch || ctdbMismatch ? QStringLiteral("mismatch")
                                                          : QStringLiteral("unknown");
        track.AccurateRip =
            QStringLiteral("%1 (AccurateRip %2; CTDB %3)").arg(word, inner(arText), inner(track.Ctdb));
    }
}
