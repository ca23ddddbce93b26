// SPDX-License-Identifier: GPL-3.0-or-later
#include "readstep.h"

#include "cdripthread.h"
#include "ripreport.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"

TTrackReadStep::TTrackReadStep(TCdHandle handle, const TCommonOptions &options, QObject *parent)
    : TTrackReader(parent), m_handle(handle), m_options(options)
{
}

TTrackReadStep::~TTrackReadStep()
{
    Stop();
}

TRipSession TTrackReadStep::Begin(const TOptionsSetting &settings)
{
    TRipSession session =
        TRipSession::Of(settings, CdHandlePath(m_handle), QStringLiteral("CD access calls"), false);
    TToc toc;
    if (ModifyCDParms(m_handle, CDP_MSF, 1) != 0 && ReadTOC(m_handle, &toc) == 1)
        session.TakeToc(toc);
    session.C2 = DriveOffersC2(m_handle) ? QStringLiteral("used (flagged sectors are read again)")
                                         : QStringLiteral("not offered by the drive");
    return session;
}

void TTrackReadStep::Describe(TTrackRip &track, const TReadEnd &end) const
{
    const bool ok = end.Result == ProcessResult::Done;
    track.Read = ok && m_thread;
    track.Problem = track.Read ? QString() : end.Message;
    track.Pregap = TrackPregapSectors(m_handle, track.Track + 1);
    if (!m_thread)
        return;
    track.TakeCheck(m_thread->Check);
    track.Tested = m_thread->Tested;
    track.TestCrc = m_thread->TestCrc;
    track.Rereads = m_thread->Rereads;
    track.FirstCopyCrc = m_thread->FirstCopyCrc;
    track.ReadErrors = m_thread->ReadErrors;
    track.Suspicious = m_thread->Suspicious;
    track.JitterFrom = m_thread->JitterFrom;
    track.C2Flagged = m_thread->C2Flagged;
    track.C2Left = m_thread->C2Left;
    track.Unreadable = m_thread->Unreadable;
    if (track.Read && track.Damaged())
        track.Problem = m_thread->ReadError();
    track.FirstSector = m_thread->FirstSector;
}

void TTrackReadStep::Start(int track, const QString &base, const QString &)
{
    const TCdHandle handle = m_handle;
    m_thread.reset();
    m_running = true;
    m_track = track;
    m_base = base;
    // A data track holds no audio: it is skipped with the drive component's words, not read as noise.
    TToc toc;
    const int entry = track - 1;
    if (ModifyCDParms(handle, CDP_MSF, 1) != 0 && ReadTOC(handle, &toc) == 1 && entry >= 0 &&
        entry <= toc.lastTrack - toc.firstTrack && (toc.tracks[entry].ADR & 4) != 0) {
        const QString why =
            QStringLiteral("Track %1 (%2): Trying to rip a data track").arg(TwoDigits(track), base);
        QMetaObject::invokeMethod(
            this,
            [this, why] {
                end(TReadEnd{ProcessResult::SourceFailed, why});
            },
            Qt::QueuedConnection);
        return;
    }
    m_thread = std::make_unique<TCDRipThread>(track, base);
    m_thread->CDHandle = handle;
    m_thread->NotifyWindow = this;
    m_thread->Options = m_options;
    m_thread->Resume();
}

void TTrackReadStep::Stop()
{
    m_running = false;
    if (m_thread) {
        m_thread->StopRequested = 1;
        m_thread.reset();
    }
}

void TTrackReadStep::end(const TReadEnd &end)
{
    if (!m_running)
        return;
    m_running = false;
    if (end.Result != ProcessResult::ReadError) {
        emit finished(end);
        return;
    }
    // Which track failed, and why, before the general advice; the read path itself failed.
    emit pathFailed();
    emit failed(QStringLiteral("Track %1 (%2): ").arg(TwoDigits(m_track), m_base) +
                (end.Message.isEmpty() ? QString() : end.Message + QStringLiteral("\r\n")) +
                LocalizedText("RES_ReadCDAudioError", "Error while reading CD information!") +
                QStringLiteral("\r\n") +
                LocalizedText("RES_CloseSoftware", "Please exit the software and run again."));
    emit finished(TReadEnd{end.Result, end.Message});
}

bool TTrackReadStep::event(QEvent *e)
{
    auto *message = dynamic_cast<TMessageEvent *>(e);
    if (!message)
        return QObject::event(e);
    if (!m_running)
        return true; // a stopped read's last notices
    if (message->message() == WM_RIPERROR) {
        // The drive could not be set up for the read: the track is not read, and the job goes on.
        end(TReadEnd{ProcessResult::SourceFailed,
                     message->lParam() == 1
                         ? LocalizedText("RES_ModifyCDParmsError", "CD extract failed!Please try again.")
                         : LocalizedText("RES_ReadTocError", "Error while reading TOC information!")});
        return true;
    }
    if (message->message() != WM_PROCESSINFO)
        return true;
    const auto info = message->takeProcessInfo();
    if (!info)
        return true;
    if (info->Percent == ProcessEvent::NormalizeBegins)
        emit normalizing();
    else if (info->Percent == ProcessEvent::TrackRead)
        end(TReadEnd{info->ResultCode, info->Elapsed});
    else
        emit progress(*info);
    return true;
}
