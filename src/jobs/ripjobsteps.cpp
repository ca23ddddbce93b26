// SPDX-License-Identifier: GPL-3.0-or-later
// The WMA encoding's estimate, and the captions of job windows.
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

TWmaProgress::TWmaProgress(TWMAEncodeProcess &wma, const TOptionsSetting &settings,
                           std::function<void(const TProcessInfo &)> show)
    : m_wma(wma), m_settings(settings), m_show(std::move(show))
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, [this] { Tick(SecondsSince(m_start)); });
}

void TWmaProgress::Start(const QString &source)
{
    m_start = Clock::now();
    m_gauge = 0;
    SourceSize = std::max<int64_t>(FileSizeOf(source), 0);
    m_timer.start();
}

void TWmaProgress::Stop()
{
    m_timer.stop();
}

void TWmaProgress::Tick(double elapsedSeconds)
{
    const int64_t elapsed = std::llround(elapsedSeconds);
    TProcessInfo info{-1, MinutesSeconds(elapsed), QString(), 0};
    if (m_wma.Active) {
        const double whole =
            WmaEstimate(double(elapsed), SourceSize, std::max<int64_t>(FileSizeOf(m_wma.WorkingFile()), 0),
                        m_settings.WMAOptions.BitRate);
        if (whole >= 0) {
            const int64_t estimate = int64_t(whole);
            m_gauge = std::max(m_gauge, int(std::llround(double(elapsed) * 100.0 / double(estimate))));
            info.Percent = m_gauge;
            info.Estimated = MinutesSeconds(estimate);
        }
    }
    m_show(info);
}

QString StageCaption(const char *word, int number, int total, const QString &item)
{
    return QLatin1String(word) + TwoDigits(number) + QLatin1Char('/') + TwoDigits(total) +
           QStringLiteral("): ") + item;
}
