// SPDX-License-Identifier: GPL-3.0-or-later
#include "componentreadstep.h"

#include "cdripthread.h"
#include "cdrom/cdrip.h"
#include "ripreport.h"
#include "shell/helpers.h"

#include <utility>

TComponentReadStep::TComponentReadStep(TCDIn &cdIn, const TOptionsSetting &settings, QObject *parent)
    : TTrackReader(parent), m_cdIn(cdIn), m_settings(settings)
{
    m_out.SetInput(&m_cdIn);
    m_testOut.SetInput(&m_cdIn);
    m_out.SetWavType(wtPCM);
    m_out.SetBlockSize(512);
    m_out.CreateNonMsHeaders = false;
    m_out.FileMode = foRewrite;
    const auto progress = [this](TAuOutput *sink) {
        if (m_running)
            emit this->progress(TProcessInfo{sink->Progress(), {}, {}, 0});
    };
    m_out.OnProgress = progress;
    m_testOut.OnProgress = progress;
    // The read cannot go on (no disc, a data track, a position out of range, an unreadable sector).
    const auto failure = [this](TAuOutput *sink) { readFailure(sink->ExceptionMessage()); };
    m_out.OnThreadException = failure;
    m_testOut.OnThreadException = failure;
    m_testOut.OnDone = [this](TAuOutput *) {
        if (!m_running)
            return;
        m_tested = !m_readFailed;
        m_testCrc = m_check.Crc();
        m_reads = {m_testCrc};
        if (m_readFailed)
            end(TReadEnd{ProcessResult::ReadError, QString()});
        else
            copy();
    };
    m_out.OnDone = [this](TAuOutput *sink) { copyDone(sink); };
    // The checks of the read in progress, test read or copy, see the audio as it is handed out. The
    // checksums cost a pass over every byte: taken only when the log, AccurateRip or Test & copy use them.
    const TCommonOptions &checks = m_settings.CommonOptions;
    if (checks.WriteLog || checks.VerifyAccurateRip || checks.TestAndCopy)
        m_cdIn.OnAudio = [this](const uint8_t *data, size_t bytes) {
            m_check.Add(data, bytes);
            m_sectorPrints.Add(data, bytes);
        };
    else
        m_cdIn.OnAudio = nullptr;
    m_cdIn.ReadOffset = checks.ReadOffset;
}

TComponentReadStep::~TComponentReadStep()
{
    Close();
    m_cdIn.OnAudio = nullptr;
}

TRipSession TComponentReadStep::Begin(const TOptionsSetting &settings)
{
    m_cdIn.Reset();
    m_cdIn.LockTray = true;
    TRipSession session = TRipSession::Of(settings, m_cdIn.DriveName(), QStringLiteral("drive component"),
                                          m_cdIn.Paranoid || m_cdIn.ParanoiaMode != 0);
    TToc toc;
    if (m_cdIn.Toc(toc))
        session.TakeToc(toc);
    return session;
}

void TComponentReadStep::Describe(TTrackRip &track, const TReadEnd &) const
{
    track.Read = !m_readFailed;
    track.ReadErrors = m_readFailed || !m_unreadable.isEmpty() ? 1 : 0;
    track.Problem = m_failure;
    track.Repairs = m_cdIn.JitterErrors;
    track.Pregap = m_cdIn.PregapSectors(track.Track + 1);
    track.TakeCheck(m_check);
    track.Tested = m_tested;
    track.TestCrc = m_testCrc;
    track.Unreadable = m_unreadable;
    track.FirstSector = m_firstSector;
    if (track.Read && track.Damaged())
        track.Problem = m_unreadableReason;
    if (m_prints.size() > 1 && track.Read) {
        track.Suspicious = DifferingSectors(m_prints, m_firstSector);
        if (BeganOff(m_prints))
            track.JitterFrom = m_firstSector;
    }
    if (m_tested && m_reads.size() > 1) {
        track.FirstCopyCrc = m_reads.value(1);
        track.Rereads = m_reads.mid(2);
        track.Rereads << m_check.Crc();
    }
}

void TComponentReadStep::readFailure(const QString &reason)
{
    m_readFailed = true;
    m_failure = reason;
    if (m_running)
        emit failed(QStringLiteral("Track %1 (%2): %3").arg(TwoDigits(m_track), m_base, reason));
}

void TComponentReadStep::end(const TReadEnd &end)
{
    if (!m_running)
        return;
    m_running = false;
    m_ending = true;
    // Told from the event loop: the step that ends may be inside the call that started it.
    QMetaObject::invokeMethod(
        this,
        [this, end] {
            if (std::exchange(m_ending, false)) // not after Stop
                emit finished(end);
        },
        Qt::QueuedConnection);
}

void TComponentReadStep::Start(int track, const QString &base, const QString &wav)
{
    m_track = track;
    m_base = base;
    m_wav = wav;
    m_readFailed = false;
    m_failure.clear();
    m_running = true;
    m_tested = false;
    m_reads.clear();
    m_testCrc = 0;
    m_unreadable.clear();
    m_unreadableReason.clear();
    m_prints.clear();
    try {
        m_cdIn.SetStartTrack(track);
        m_cdIn.SetEndTrack(track);
        const TCommonOptions &options = m_settings.CommonOptions;
        if (options.EnableRipTime) {
            m_cdIn.SetStartPos(TCDPosition{track, 0, 0, 0});
            m_cdIn.SetEndPos(
                TCDPosition{track, uint8_t(options.RipTime / 60), uint8_t(options.RipTime % 60), 0});
        }
        const int tracks = m_cdIn.TracksCount();
        m_firstTrack = true; // the first audio track: only data tracks before it
        for (int before = 1; before < track; ++before)
            m_firstTrack = m_firstTrack && m_cdIn.TrackInfo(before).DataTrack;
        m_lastTrack = track == tracks || (track < tracks && m_cdIn.TrackInfo(track + 1).DataTrack);
        m_frames = std::max<int64_t>(m_cdIn.CurrentSize() - 2352, 0) / 4;
        if (options.TestAndCopy) {
            m_check = TAudioCheck(m_frames, m_firstTrack, m_lastTrack);
            nextPrints();
            m_current = &m_testOut;
            m_testOut.Run();
        } else {
            copy();
        }
    } catch (const std::exception &e) {
        readFailure(QString::fromUtf8(e.what()));
        end(TReadEnd{ProcessResult::ReadError, QString()});
    }
}

void TComponentReadStep::nextPrints()
{
    // Set between reads, while no reading thread runs.
    if (!m_settings.CommonOptions.TestAndCopy)
        return;
    m_prints.emplace_back();
    m_sectorPrints = TSectorPrints(&m_prints.back());
}

void TComponentReadStep::copy()
{
    try {
        m_check = TAudioCheck(m_frames, m_firstTrack, m_lastTrack);
        nextPrints();
        m_out.SetFileName(WorkingFileOf(m_wav));
        m_current = &m_out;
        m_out.Run();
    } catch (const std::exception &e) {
        readFailure(QString::fromUtf8(e.what()));
        end(TReadEnd{ProcessResult::ReadError, QString()});
    }
}

void TComponentReadStep::copyDone(TAuOutput *sink)
{
    if (!m_running)
        return;
    bool complete = !m_readFailed && sink->ExceptionMessage().isEmpty();
    if (complete && m_tested && !m_reads.contains(m_check.Crc()) &&
        m_reads.size() - 1 < m_settings.CommonOptions.TestCopyRetries) {
        m_reads << m_check.Crc();
        copy();
        return;
    }
    m_unreadable = complete ? m_cdIn.Unreadable : QList<int32_t>();
    m_unreadableReason = m_cdIn.UnreadableReason;
    if (TToc toc; m_cdIn.Toc(toc) && m_track >= 1 && m_track <= toc.lastTrack - toc.firstTrack + 1)
        m_firstSector = TocEntryFrames(toc.tracks[m_track - 1]) - 150;
    if (complete && !m_unreadable.isEmpty() && !m_settings.CommonOptions.KeepDamaged) {
        // Only verified tracks are wanted, and this one cannot be: it is not made.
        readFailure(DamagedNotMadeText(m_wav, m_unreadable.size()));
        complete = false;
    }
    settle(m_out.FileName(), complete);
}

void TComponentReadStep::settle(const QString &working, bool complete)
{
    // The WAV takes the track's name only when read whole (and normalised when asked). What a failed or
    // stopped read wrote goes. Normalising reads and rewrites the whole WAV, so this runs on a worker and
    // the window stays live.
    waitForSettling();
    m_stopSettling = false;
    const TCommonOptions &options = m_settings.CommonOptions;
    const int percent = options.IsNormalize ? options.NormalizePercent : -1;
    const auto &flagged = m_settings.DiscInfo.PreEmphasis;
    const bool deemphasis =
        options.Deemphasis && m_track >= 1 && m_track < int(flagged.size()) && flagged[size_t(m_track)];
    m_settling.reset(QThread::create([this, working, target = m_wav, complete, percent, deemphasis] {
        if (complete && deemphasis && !m_stopSettling)
            TCDRipThread::Deemphasize(working);
        if (complete && percent >= 0 && !m_stopSettling)
            TCDRipThread::Normalize(working, percent, nullptr);
        QString error;
        const bool whole = complete && !m_stopSettling;
        const bool placed = SettleWorkingFile(working, target, whole, &error);
        const int32_t result = !whole   ? ProcessResult::ReadError
                               : placed ? ProcessResult::Done
                                        : ProcessResult::WavNotCreated;
        QMetaObject::invokeMethod(this, [this, result, error] {
            if (result == ProcessResult::WavNotCreated) {
                m_readFailed = true;
                m_failure = error;
            }
            end(TReadEnd{result, error});
        });
    }));
    m_settling->start();
}

void TComponentReadStep::waitForSettling()
{
    if (m_settling)
        m_settling->wait();
}

void TComponentReadStep::Stop()
{
    m_running = false;
    m_ending = false;
    if (m_current) {
        CR_AbortRip(); // a slow drive's read under way is not waited out
        m_current->Pause();
        m_current->Stop(false);
    }
}

void TComponentReadStep::Close()
{
    m_running = false;
    m_ending = false;
    if (m_current)
        CR_AbortRip();
    m_out.Stop(false);
    m_testOut.Stop(false);
    m_stopSettling = true;
    waitForSettling();
    if (!m_wav.isEmpty() && m_out.FileName() != m_wav)
        DiscardWorkingFile(m_out.FileName(), m_wav); // what a stopped read left
}
