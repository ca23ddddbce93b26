// SPDX-License-Identifier: GPL-3.0-or-later
// The steps a job starts for an item (a track's read, an encoder process, the Ogg or FLAC writer, the
// resampler), and the WMA encoding's estimate.
#include "audio/encoderprocess.h"
#include "cdripthread.h"
#include "ripjob.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "tags/id3tag.h"
#include "tags/tracktags.h"

#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

bool TRipJob::openItem(int item)
{
    WaveIn1.SetFileName(Files.value(item));
    if (WaveIn1.TryOpen())
        return true;
    m_presenter.ShowError(
        Files.value(item) + QStringLiteral(": ") +
        (WaveIn1.OpenError.isEmpty() ? QStringLiteral("cannot be read") : WaveIn1.OpenError));
    Busy = true; // no second message for this file
    repost(endEvent(), ProcessResult::SourceFailed);
    return false;
}

void TRipJob::startRead(int item)
{
    RipThread.reset();
    stageCaption("Extracting(", item + 1, itemBase(item));
    m_presenter.SetStage(LocalizedText("RES_Extracting", "Extracting"));
    m_presenter.SetInitializing(LocalizedText("RES_Initing", "Initializing..."), true);
    // A data track holds no audio: it is skipped with the drive component's words, not read as noise.
    TToc toc;
    const int entry = itemNumber(item) - 1;
    if (ModifyCDParms(CDHandle, CDP_MSF, 1) != 0 && ReadTOC(CDHandle, &toc) == 1 && entry >= 0 &&
        entry <= toc.lastTrack - toc.firstTrack && (toc.tracks[entry].ADR & 4) != 0) {
        m_presenter.ShowError(QStringLiteral("Track %1 (%2): Trying to rip a data track")
                                  .arg(TwoDigits(itemNumber(item)), itemBase(item)));
        repost(ProcessEvent::TrackRead, ProcessResult::SourceFailed);
        return;
    }
    RipThread = std::make_unique<TCDRipThread>(itemNumber(item), itemBase(item));
    RipThread->CDHandle = CDHandle;
    RipThread->NotifyWindow = this;
    RipThread->Options = m_settings.CommonOptions;
    RipThread->Resume();
}

void TRipJob::startEncoding(const QString &source, const QString &destination, int item)
{
    TEncodeRequest request;
    request.Format = targetFormat();
    request.Decode = m_kind == JobKind::Mp3ToWav;
    request.Source = source;
    request.Target = destination;
    request.Kind = m_kind;
    request.Ogg = TOggSetup::QualityOnly;
    if (item >= 0) {
        request.Track = itemNumber(item);
        request.TrackBase = itemBase(item);
        request.TagMp3 = m_settings.Use || TagMp3Always;
    }
    if (request.Format == OutputFormat::Wma && !request.Decode) {
        WmaStartTime = Clock::now();
        m_gauge = 0;
        m_presenter.SetGauge(0, false);
        m_presenter.SetEstimated(QString());
        WmaSourceSize = std::max<int64_t>(FileSizeOf(source), 0);
        Timer1.start();
    }
    StartTime = Clock::now();
    Encoding.Start(m_settings, request);
}

void TRipJob::startResample(const QString &source, const QString &temporary, bool to16Bits)
{
    WaveIn1.SetFileName(source);
    AudioConverter1.OutBitsPerSample = to16Bits ? 16 : 0;
    WaveOut1.SetFileName(temporary);
    StartTime = Clock::now();
    WaveOut1.Run();
}

void TRipJob::ownProgress(TAuOutput *sink)
{
    PostProcessInfo(this, ProgressNotice(sink->Progress(), SecondsSince(StartTime)));
}

double WmaEstimate(double elapsed, int64_t sourceSize, int64_t currentOutputSize, int32_t wmaBitRate)
{
    double estimate = 2;
    if (sourceSize >= 2000000) {
        const int32_t index = WmaProfileIndex(wmaBitRate);
        const int64_t expected = std::max<int64_t>(
            std::llround(double(sourceSize) * 1000.0 / WmaProfiles[index].sizeRatio), currentOutputSize);
        if (currentOutputSize == 0)
            return -1;
        estimate = std::trunc(elapsed * double(expected) / double(currentOutputSize));
    }
    if (elapsed >= estimate)
        estimate = std::floor(elapsed) + 1;
    return estimate;
}

void TRipJob::wmaTick()
{
    WmaTimerTick(SecondsSince(WmaStartTime));
}

void TRipJob::WmaTimerTick(double elapsedSeconds)
{
    const int64_t elapsed = std::llround(elapsedSeconds);
    m_presenter.SetElapsed(MinutesSeconds(elapsed));
    if (!m_wma.Active)
        return;
    m_presenter.SetInitializing(QString(), false);
    const double whole =
        WmaEstimate(double(elapsed), WmaSourceSize, std::max<int64_t>(FileSizeOf(m_wma.WorkingFile()), 0),
                    m_settings.WMAOptions.BitRate);
    if (whole < 0)
        return;
    const int64_t estimate = int64_t(whole);
    m_presenter.SetEstimated(MinutesSeconds(estimate));
    const int gauge = int(std::llround(double(elapsed) * 100.0 / double(estimate)));
    if (gauge > m_gauge)
        m_gauge = gauge;
    m_presenter.SetGauge(m_gauge, true);
}
