// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdripjob.h"

#include "audio/encoderprocess.h"
#include "audio/outputcheck.h"
#include "cdripthread.h"
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
      m_presenter(presenter), m_wma(wma)
{
    WaveOut1.SetInput(&m_cdIn);
    TestOut1.SetInput(&m_cdIn);
    WaveOut1.SetWavType(wtPCM);
    WaveOut1.SetBlockSize(512);
    WaveOut1.CreateNonMsHeaders = false;
    WaveOut1.FileMode = foRewrite;

    const auto progress = [this](TAuOutput *sink) {
        PostProcessInfo(this, TProcessInfo{sink->Progress(), QString(), QString(), 0});
    };
    WaveOut1.OnProgress = progress;
    TestOut1.OnProgress = progress;
    const auto readFailure = [this](TAuOutput *sink) {
        // The read cannot go on (no disc, a data track, a position out of range, an unreadable sector).
        m_readFailed = true;
        m_presenter.ShowError(
            QStringLiteral("Track %1 (%2): %3")
                .arg(TwoDigits(trackNumber(Completed)), base(Completed), sink->ExceptionMessage()));
    };
    WaveOut1.OnThreadException = readFailure;
    TestOut1.OnThreadException = readFailure;
    TestOut1.OnDone = [this](TAuOutput *) {
        if (m_finished)
            return;
        m_tested = !m_readFailed;
        m_testCrc = m_check.Crc();
        m_reads = {m_testCrc};
        if (m_readFailed)
            PostProcessInfo(
                this, TProcessInfo{ProcessEvent::TrackRead, QString(), QString(), ProcessResult::ReadError});
        else
            copyItem(Completed);
    };
    WaveOut1.OnDone = [this](TAuOutput *sink) { copyDone(sink); };
    connect(&Encoding, &TEncodeStep::progress, this, [this](const TProcessInfo &info) { processInfo(info); });
    connect(&Encoding, &TEncodeStep::finished, this, [this](const TEncodeEnd &end) { encoded(end); });
    // The checks of the read in progress, test read or copy, see the audio as it is handed out.
    // The checksums cost a pass over every byte: taken only when the log, AccurateRip or Test & copy use
    // them.
    const TCommonOptions &checks = m_settings.CommonOptions;
    if (checks.WriteLog || checks.VerifyAccurateRip || checks.TestAndCopy)
        m_cdIn.OnAudio = [this](const uint8_t *data, size_t bytes) { m_check.Add(data, bytes); };
    else
        m_cdIn.OnAudio = nullptr;
    m_cdIn.ReadOffset = m_settings.CommonOptions.ReadOffset;
    m_report = std::make_unique<TRipReporter>(m_settings, m_settings.CommonOptions.OutputFolder);
    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, [this] { wmaTick(); });
}

TCDRipJob::~TCDRipJob()
{
    Close();
    waitForSettling();
    m_cdIn.OnAudio = nullptr;
}

void TCDRipJob::recordTrack(int item)
{
    const QString wav = wavOf(item);
    TTrackRip track = TTrackRip::Of(
        m_settings.DiscInfo, trackNumber(item), base(item),
        wav.left(wav.size() - 4) +
            OutputFormatExtension(ReportFormat >= 0 ? ReportFormat : m_settings.CommonOptions.OutputFormat));
    track.Read = !m_readFailed;
    track.ReadErrors = m_readFailed ? 1 : 0;
    track.Repairs = m_cdIn.JitterErrors;
    track.Pregap = m_cdIn.PregapSectors(track.Track + 1);
    track.TakeCheck(m_check);
    track.Tested = m_tested;
    track.TestCrc = m_testCrc;
    if (m_tested && m_reads.size() > 1) {
        track.FirstCopyCrc = m_reads.value(1);
        track.Rereads = m_reads.mid(2);
        track.Rereads << m_check.Crc();
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
    return Files.value(item).mid(2);
}

int TCDRipJob::trackNumber(int item) const
{
    return Files.value(item).left(2).toInt();
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
    readItem(0);
}

void TCDRipJob::readItem(int item)
{
    const int track = trackNumber(item);
    m_readFailed = false;
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
        m_tested = false;
        m_reads.clear();
        m_testCrc = 0;
        if (options.TestAndCopy) {
            m_check = TAudioCheck(m_frames, m_firstTrack, m_lastTrack);
            CurrentOutput = &TestOut1;
            TestOut1.Run();
        } else {
            copyItem(item);
        }
    } catch (const std::exception &e) {
        m_readFailed = true;
        m_presenter.ShowError(QStringLiteral("Track %1 (%2): %3")
                                  .arg(TwoDigits(track), base(item), QString::fromUtf8(e.what())));
        PostProcessInfo(
            this, TProcessInfo{ProcessEvent::TrackRead, QString(), QString(), ProcessResult::ReadError});
    }
}

void TCDRipJob::copyItem(int item)
{
    try {
        m_check = TAudioCheck(m_frames, m_firstTrack, m_lastTrack);
        m_wavTarget = wavOf(item);
        WaveOut1.SetFileName(WorkingFileOf(m_wavTarget));
        CurrentOutput = &WaveOut1;
        WaveOut1.Run();
    } catch (const std::exception &e) {
        m_readFailed = true;
        m_presenter.ShowError(
            QStringLiteral("Track %1 (%2): %3")
                .arg(TwoDigits(trackNumber(item)), base(item), QString::fromUtf8(e.what())));
        PostProcessInfo(
            this, TProcessInfo{ProcessEvent::TrackRead, QString(), QString(), ProcessResult::ReadError});
    }
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
        QFile::remove(wav);
    nextOrFinish();
}

bool TCDRipJob::event(QEvent *e)
{
    auto *message = dynamic_cast<TMessageEvent *>(e);
    if (!message)
        return QObject::event(e);
    if (m_finished)
        return true;
    try {
        if (message->message() == WM_PROCESSINFO) {
            if (auto info = message->takeProcessInfo())
                processInfo(*info);
        }
    } catch (...) {
        m_presenter.ShowError(CurrentExceptionText());
    }
    return true;
}

void TCDRipJob::nextOrFinish()
{
    if (Completed >= Files.size()) {
        finishWhole();
        return;
    }
    m_presenter.SetProgressHint(QStringLiteral("Extracting..."));
    m_presenter.SetCurrentTrack(base(Completed));
    m_presenter.SetCompleted(Completed);
    readItem(Completed);
}

void TCDRipJob::processInfo(const TProcessInfo &info)
{
    const int format = m_settings.CommonOptions.OutputFormat;
    switch (info.Percent) {
    case ProcessEvent::TrackRead:
        if (info.ResultCode == ProcessResult::WavNotCreated) {
            m_readFailed = true;
            if (!info.Elapsed.isEmpty())
                m_presenter.ShowError(info.Elapsed);
        }
        recordTrack(Completed);
        ++Completed;
        if (OnTrackRead)
            OnTrackRead(Completed - 1, info.ResultCode == ProcessResult::Done);
        if (format == OutputFormat::Wav && info.ResultCode == ProcessResult::Done &&
            m_settings.CommonOptions.ImageFormat < 0) // an image's tracks go into the image
            m_presenter.FileMade(wavOf(Completed - 1));
        if (format == OutputFormat::Wav || info.ResultCode != ProcessResult::Done) {
            // Nothing to encode: a WAV job, or a read that failed (its message was shown).
            if (Completed >= Files.size()) {
                finishWhole();
            } else {
                m_presenter.SetProgressHint(QStringLiteral("Extracting..."));
                m_presenter.SetCurrentTrack(base(Completed));
                m_presenter.SetCompleted(Completed);
                readItem(Completed);
            }
            return;
        }
        encodeItem(Completed - 1);
        return;
    default:
        if (info.Percent >= 1 && info.Percent <= 100) {
            m_gauge = info.Percent;
            m_presenter.SetGauge(info.Percent);
        }
        return;
    }
}

void TCDRipJob::copyDone(TAuOutput *sink)
{
    const bool complete = !m_readFailed && !m_finished && sink->ExceptionMessage().isEmpty();
    // Test & copy: a copy that agrees with no read before it is read again (the file written anew),
    // up to the retries the settings allow.
    if (complete && m_tested && !m_reads.contains(m_check.Crc()) &&
        m_reads.size() - 1 < m_settings.CommonOptions.TestCopyRetries) {
        m_reads << m_check.Crc();
        copyItem(Completed);
        return;
    }
    settleRead(WaveOut1.FileName(), complete);
}

void TCDRipJob::settleRead(const QString &working, bool complete)
{
    // The WAV was written under its working name; it takes the track's name only when read whole (and
    // normalised when asked). What a failed or stopped read wrote goes. Normalising reads and rewrites the
    // whole WAV, so this runs on a worker and the window stays live; the worker reports the end of the
    // read with a posted notice, as the read thread does.
    waitForSettling();
    const int percent = m_settings.CommonOptions.IsNormalize ? m_settings.CommonOptions.NormalizePercent : -1;
    const int entry = trackNumber(Completed);
    const bool deemphasis = m_settings.CommonOptions.Deemphasis && entry >= 1 &&
                            entry < int(m_settings.DiscInfo.PreEmphasis.size()) &&
                            m_settings.DiscInfo.PreEmphasis[size_t(entry)];
    m_settling.reset(QThread::create([this, working, target = m_wavTarget, complete, percent, deemphasis] {
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
        PostProcessInfo(this, TProcessInfo{ProcessEvent::TrackRead, error, QString(), result});
    }));
    m_settling->start();
}

void TCDRipJob::waitForSettling()
{
    if (m_settling)
        m_settling->wait();
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
    if (CurrentOutput) {
        CurrentOutput->Pause();
        CurrentOutput->Stop(false);
    }
    Encoding.Stop();
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
    WaveOut1.Stop(false);
    TestOut1.Stop(false);
    m_stopSettling = true;
    waitForSettling();
    // An encoding still running ends here, and its working file goes with it.
    Encoding.Stop();
    if (!m_wavTarget.isEmpty() && WaveOut1.FileName() != m_wavTarget)
        DiscardWorkingFile(WaveOut1.FileName(), m_wavTarget); // what a stopped read left
}
