// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdripjob.h"

#include "audio/encoderprocess.h"
#include "audio/outputcheck.h"
#include "cdripthread.h"
#include "jobitem.h"
#include "ripjob.h"
#include "ripreport.h"
#include "shell/helpers.h"
#include "shell/messages.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "tags/id3tag.h"
#include "tags/tracktags.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

TCDRipJob::TCDRipJob(TCDIn &cdIn, const QStringList &files, const TOptionsSetting &settings,
                     TCDRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma,
                     QObject *parent)
    : QObject(parent), Encoding(mp3, wma), m_cdIn(cdIn), m_settings(settings), Files(files),
      m_presenter(presenter), m_wma(wma), m_read(cdIn, m_settings)
{
    std::vector<TTrackSequence::Step> steps{[this](int item) { readItem(item); }};
    if (m_settings.CommonOptions.OutputFormat != OutputFormat::Wav)
        steps.push_back([this](int item) { encodeItem(item); });
    m_sequence.SetSteps(std::move(steps));
    m_sequence.OnFinished = [this] { finishWhole(); };
    connect(&m_read, &TComponentReadStep::progress, this, [this](int percent) { showGauge(percent); });
    connect(&m_read, &TComponentReadStep::failed, this, [this](const QString &message) {
        if (!m_finished)
            m_presenter.ShowError(message);
    });
    connect(&m_read, &TComponentReadStep::finished, this, [this](const TReadEnd &end) {
        if (!m_finished)
            itemRead(end);
    });
    connect(&Encoding, &TEncodeStep::progress, this, [this](const TProcessInfo &info) {
        if (info.Percent >= 1 && info.Percent <= 100)
            showGauge(info.Percent);
    });
    connect(&Encoding, &TEncodeStep::finished, this, [this](const TEncodeEnd &end) { encoded(end); });
    m_report = std::make_unique<TRipReporter>(m_settings, m_settings.CommonOptions.OutputFolder);
    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, [this] { wmaTick(); });
}

TCDRipJob::~TCDRipJob()
{
    Close();
}

void TCDRipJob::recordTrack(int item)
{
    const QString wav = wavOf(item);
    TTrackRip track = TTrackRip::Of(
        m_settings.DiscInfo, trackNumber(item), base(item),
        wav.left(wav.size() - 4) +
            OutputFormatExtension(ReportFormat >= 0 ? ReportFormat : m_settings.CommonOptions.OutputFormat));
    track.Read = !m_read.ReadFailed();
    track.ReadErrors = m_read.ReadFailed() ? 1 : 0;
    track.Problem = m_read.Failure();
    track.Repairs = m_cdIn.JitterErrors;
    track.Pregap = m_cdIn.PregapSectors(track.Track + 1);
    track.TakeCheck(m_read.Check());
    track.Tested = m_read.Tested();
    track.TestCrc = m_read.TestCrc();
    const QList<uint32_t> &reads = m_read.Reads();
    if (m_read.Tested() && reads.size() > 1) {
        track.FirstCopyCrc = reads.value(1);
        track.Rereads = reads.mid(2);
        track.Rereads << m_read.Check().Crc();
    }
    m_report->Record(track, base(item), m_presenter);
}

void TCDRipJob::finishWhole()
{
    Files.clear();
    m_listFreed = true;
    if (!m_report->Wanted()) {
        finish(mrCancel);
        return;
    }
    m_presenter.SetProgressHint(m_report->Session.Verify ? QStringLiteral("Asking AccurateRip...")
                                                         : QStringLiteral("Writing the rip log..."));
    m_report->Run(m_presenter, [this] { finish(mrCancel); });
}

QString TCDRipJob::base(int item) const
{
    return TJobItem::Of(Files.value(item)).Base;
}

int TCDRipJob::trackNumber(int item) const
{
    return TJobItem::Of(Files.value(item)).Track;
}

QString TCDRipJob::wavOf(int item) const
{
    return WithTrailingBackslash(m_settings.CommonOptions.OutputFolder) + base(item) + QStringLiteral(".wav");
}

void TCDRipJob::Start()
{
    m_cdIn.Reset();
    m_cdIn.LockTray = true;
    m_presenter.SetOutputFormat(OutputFormatName(m_settings.CommonOptions.OutputFormat));
    m_presenter.SetSelectedTracks(int(Files.size()));
    m_presenter.SetCompleted(0);
    m_presenter.SetCurrentTrack(base(0));
    m_presenter.SetProgressHint(QStringLiteral("Initializing..."));
    m_report->Session = TRipSession::Of(m_settings, m_cdIn.DriveName(), QStringLiteral("drive component"),
                                        m_cdIn.Paranoid || m_cdIn.ParanoiaMode != 0);
    TToc toc;
    if (m_cdIn.Toc(toc))
        m_report->Session.TakeToc(toc);
    m_sequence.Start(int(Files.size()));
}

void TCDRipJob::readItem(int item)
{
    if (item > 0) {
        m_presenter.SetProgressHint(QStringLiteral("Extracting..."));
        m_presenter.SetCurrentTrack(base(item));
        m_presenter.SetCompleted(item);
    }
    m_read.Start(trackNumber(item), base(item), wavOf(item));
}

void TCDRipJob::itemRead(const TReadEnd &end)
{
    if (end.Result == ProcessResult::WavNotCreated && !end.Message.isEmpty())
        m_presenter.ShowError(end.Message);
    const int item = m_sequence.Item();
    recordTrack(item);
    const bool read = end.Result == ProcessResult::Done;
    if (OnTrackRead)
        OnTrackRead(item, read);
    if (m_settings.CommonOptions.OutputFormat == OutputFormat::Wav && read &&
        m_settings.CommonOptions.ImageFormat < 0) // an image's tracks go into the image
        m_presenter.FileMade(wavOf(item));
    // Nothing to encode after a read that failed (its message was shown).
    m_sequence.StepEnded(read);
}

void TCDRipJob::encodeItem(int item)
{
    m_presenter.SetProgressHint(QStringLiteral("Encoding..."));
    const QString source = wavOf(item);
    const int32_t format = m_settings.CommonOptions.OutputFormat;
    if (format == OutputFormat::Wma) {
        WmaStartTime = Clock::now();
        m_gauge = 0;
        m_presenter.SetGauge(0);
        Timer1.start();
        WmaSourceSize = std::max<int64_t>(FileSizeOf(source), 0);
    }
    TEncodeRequest request;
    request.Format = format;
    request.Source = source;
    request.Target = source.left(source.size() - 4) + OutputFormatExtension(format);
    request.Track = trackNumber(item);
    request.TrackBase = base(item);
    request.TagMp3 = true; // this path always tagged its MP3s
    request.ErrorName = request.Target;
    Encoding.Start(m_settings, request);
}

void TCDRipJob::encoded(const TEncodeEnd &end)
{
    if (m_finished)
        return;
    Timer1.stop();
    const QString wav = Encoding.Request().Source;
    if (!end.Made.isEmpty())
        m_presenter.FileMade(end.Made);
    // A failure comes with its message, the file named; so does a tag that could not be written.
    if (!end.Message.isEmpty())
        m_presenter.ShowError(end.Message);
    // The WAV goes only once its encoding succeeded; otherwise it is all the user has of the track.
    if (end.Result == ProcessResult::Ended && !m_settings.CommonOptions.IsKeepWav && QFileInfo::exists(wav) &&
        !FileInUse(wav))
        RemoveMadeFile(wav);
    m_sequence.StepEnded(end.Result == ProcessResult::Ended);
}

void TCDRipJob::showGauge(int percent)
{
    if (m_finished)
        return;
    m_gauge = percent;
    m_presenter.SetGauge(percent);
}

void TCDRipJob::wmaTick()
{
    const double elapsed = SecondsSince(WmaStartTime);
    if (!m_wma.Active)
        return;
    const double estimate =
        WmaEstimate(elapsed, WmaSourceSize, std::max<int64_t>(FileSizeOf(m_wma.WorkingFile()), 0),
                    m_settings.WMAOptions.BitRate);
    if (estimate < 0)
        return;
    const int gauge = int(std::llround(elapsed * 100.0 / estimate));
    if (gauge > m_gauge) {
        m_gauge = gauge;
        m_presenter.SetGauge(gauge);
    }
}

void TCDRipJob::finish(int result)
{
    if (m_finished)
        return;
    m_finished = true;
    Timer1.stop();
    m_presenter.Finish(result);
}

void TCDRipJob::Stop()
{
    m_report->Cancel();
    m_sequence.Stop();
    m_read.Stop();
    Encoding.Stop();
    // An image's track WAVs are steps on the way to it: a stopped image rip leaves none it made.
    const TCommonOptions &options = m_settings.CommonOptions;
    if (!options.IsKeepWav && options.ImageFormat >= 0)
        for (int i = 0; i < Files.size(); ++i)
            RemoveMadeFile(wavOf(i));
    Files.clear();
    m_listFreed = true;
    finish(mrAbort);
}

void TCDRipJob::Close()
{
    if (!m_listFreed) {
        Files.clear();
        m_listFreed = true;
    }
    Timer1.stop();
    m_sequence.Stop();
    m_read.Close();
    // An encoding still running ends here, and its working file goes with it.
    Encoding.Stop();
}
