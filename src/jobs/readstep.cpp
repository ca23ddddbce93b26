// SPDX-License-Identifier: GPL-3.0-or-later
#include "readstep.h"

#include "cdripthread.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"

TTrackReadStep::TTrackReadStep(QObject *parent) : QObject(parent) {}

TTrackReadStep::~TTrackReadStep()
{
    Stop();
}

void TTrackReadStep::Start(TCdHandle handle, int track, const QString &base, const TCommonOptions &options)
{
    m_thread.reset();
    m_running = true;
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
    m_thread->Options = options;
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
    emit finished(end);
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
