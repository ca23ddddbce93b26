// SPDX-License-Identifier: GPL-3.0-or-later
// The encoding a job starts for an item, and the WMA encoding's estimate.
#include "audio/encoderprocess.h"
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
    Encoding.Start(m_settings, request);
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
