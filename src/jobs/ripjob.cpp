// SPDX-License-Identifier: GPL-3.0-or-later
#include "ripjob.h"

#include "audio/encoderprocess.h"
#include "audio/outputcheck.h"
#include "cdripthread.h"
#include "ripreport.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/messages.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "tags/id3tag.h"
#include "tags/tracktags.h"

#include <QFileInfo>
#include <cmath>

namespace {

} // namespace

TOptionsSetting JobSettings(const TOptionsSetting &settings, const QString &outputFolder)
{
    TOptionsSetting copy = settings;
    copy.CommonOptions.OutputFolder = outputFolder;
    return copy;
}

TRipJob::TRipJob(JobKind kind, HCDROM cdHandle, const QStringList &files, const TOptionsSetting &settings,
                 TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, QObject *parent)
    : QObject(parent), Encoding(mp3, wma), m_presenter(presenter), m_wma(wma), Files(files), m_kind(kind),
      m_settings(settings), CDHandle(cdHandle)
{
    FastResampler1.SetInput(&WaveIn1);
    FastResampler1.OutSampleRate = 44100;
    QualityResampler1.SetInput(&WaveIn1);
    QualityResampler1.OutSampleRate = 44100;
    if (settings.CommonOptions.ResampleQuality == 1)
        AudioConverter1.SetInput(&FastResampler1);
    else
        AudioConverter1.SetInput(&QualityResampler1);
    WaveOut1.SetInput(&AudioConverter1);
    WaveOut1.SetWavType(wtPCM);
    WaveOut1.SetBlockSize(512);
    WaveOut1.CreateNonMsHeaders = true;
    WaveOut1.FileMode = foRewrite;
    const auto progress = [this](TAuOutput *sink) { ownProgress(sink); };
    const auto failure = [this](TAuOutput *sink) {
        // Named by the file being read, which is the one the user chose.
        if (!m_finished)
            m_presenter.ShowError(WaveIn1.FileName() + QStringLiteral(": ") + sink->ExceptionMessage());
    };
    connect(&Encoding, &TEncodeStep::progress, this, [this](const TProcessInfo &info) { processInfo(info); });
    connect(&Encoding, &TEncodeStep::finished, this, [this](const TEncodeEnd &end) {
        if (!m_finished)
            itemEncoded(end);
    });
    WaveOut1.OnProgress = progress;
    WaveOut1.OnThreadException = failure;
    WaveOut1.OnDone = [this](TAuOutput *sink) {
        SendProcessInfo(this,
                        TProcessInfo{ProcessEvent::Resampled, QString(), QString(),
                                     sink->ExceptionMessage().isEmpty() ? ProcessResult::Done
                                                                        : ProcessResult::EncoderFailed});
    };
    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, [this] { wmaTick(); });
    if (kind == JobKind::ExtractTracks) {
        m_report = std::make_unique<TRipReporter>(m_settings, m_settings.CommonOptions.OutputFolder);
        m_report->Session =
            TRipSession::Of(m_settings, CdHandlePath(cdHandle), QStringLiteral("CD access calls"), false);
        TToc toc;
        if (ModifyCDParms(cdHandle, CDP_MSF, 1) != 0 && ReadTOC(cdHandle, &toc) == 1)
            m_report->Session.TakeToc(toc);
    }
}

TRipJob::~TRipJob()
{
    CleanUp();
}

QString TRipJob::outputFolder() const
{
    return WithTrailingBackslash(m_settings.CommonOptions.OutputFolder);
}

int TRipJob::itemNumber(int item) const
{
    return Files.value(item).left(2).toInt();
}

QString TRipJob::itemBase(int item) const
{
    return Files.value(item).mid(2);
}

QString TRipJob::itemName(int item, const QString &extension) const
{
    return outputFolder() + QFileInfo(Files.value(item)).completeBaseName() + extension;
}

QString TRipJob::wavOf(int item) const
{
    return outputFolder() + itemBase(item) + QStringLiteral(".wav");
}

QString TRipJob::tempName(const char *stem) const
{
    return QLatin1String(stem) + (TempTag.isEmpty() ? QString() : QLatin1Char('-') + TempTag) +
           QStringLiteral(".wav");
}

void TRipJob::stageCaption(const char *stage, int number, const QString &item)
{
    const int total = NumberTotal > 0 ? NumberTotal : int(Files.size());
    m_presenter.SetCaption(QLatin1String(stage) + TwoDigits(number + NumberBase) + QLatin1Char('/') +
                           TwoDigits(total) + QStringLiteral("): ") + item);
}

void TRipJob::repost(int percent, int resultCode)
{
    PostProcessInfo(this, TProcessInfo{percent, QString(), QString(), resultCode});
}

void TRipJob::finish(int result)
{
    if (m_finished)
        return;
    m_finished = true;
    m_presenter.Finish(result);
}

int32_t TRipJob::targetFormat() const
{
    if (m_kind == JobKind::ExtractTracks)
        return m_settings.CommonOptions.OutputFormat;
    const TOutputFormatInfo *format = OutputFormatOfConversion(m_kind);
    return format ? format->Value : int32_t(OutputFormat::Wav); // MP3 to WAV
}

void TRipJob::finishWhole()
{
    CleanUp();
    // The WAVs that go are removed on a thread of their own; the job ends once they are gone.
    m_remover.RemoveAll(std::exchange(m_toRemove, {}), [this] { report(); });
}

void TRipJob::report()
{
    if (!m_report || !m_report->Wanted()) {
        finish(mrCancel);
        return;
    }
    m_presenter.SetStage(LocalizedText("RES_Verifying", "Verifying"));
    m_presenter.SetCaption(m_report->Session.Verify ? QStringLiteral("Asking AccurateRip")
                                                    : QStringLiteral("Writing the rip log"));
    m_report->Run(m_presenter, [this] { finish(mrCancel); });
}

void TRipJob::recordTrack(int item, bool read)
{
    if (!m_report)
        return;
    TTrackRip track = TTrackRip::Of(
        m_settings.DiscInfo, itemNumber(item), itemBase(item),
        outputFolder() + itemBase(item) +
            OutputFormatExtension(ReportFormat >= 0 ? ReportFormat : m_settings.CommonOptions.OutputFormat));
    track.Read = read && RipThread;
    track.Pregap = TrackPregapSectors(CDHandle, track.Track + 1);
    if (RipThread) {
        track.TakeCheck(RipThread->Check);
        track.Tested = RipThread->Tested;
        track.TestCrc = RipThread->TestCrc;
        track.Rereads = RipThread->Rereads;
        track.FirstCopyCrc = RipThread->FirstCopyCrc;
        track.ReadErrors = RipThread->ReadErrors;
    }
    m_report->Record(track, itemBase(item), m_presenter);
}

namespace {

// What each conversion does with one file: the caption's stage and the group box's texts (the first file's,
// then the others'), what it makes, and when the input is resampled first.
struct TConversionSteps {
    const char *firstKey;
    const char *firstEnglish;
    const char *laterKey;
    const char *laterEnglish;
    const char *stage; // of the caption
    const char *extension;
    bool opensInput;       // the input is read here first (its format decides on resampling)
    const char *resampled; // the temporary file's stem when it is resampled first; nullptr: never
};

const TConversionSteps &conversionSteps(JobKind kind)
{
    static const std::map<JobKind, TConversionSteps> steps = {
        {JobKind::WavToMp3,
         {"RES_WAV_TO_MP3", "Encoding WAV to MP3", "RES_Encoding", "Encoding", "Encoding(", ".mp3", true,
          "MyMP3ReTemp"}},
        {JobKind::Mp3ToWav,
         {"RES_MP3_TO_WAV", "Decoding MP3 to WAV", "RES_Decoding", "Decoding", "Decoding(", ".wav", false,
          nullptr}},
        {JobKind::RecordingToMp3,
         {"RES_WAV_TO_MP3", "Encoding WAV to MP3", "RES_Encoding", "Encoding", "Encoding(", ".mp3", false,
          nullptr}},
        {JobKind::WavToOgg,
         {"RES_WAV_TO_OGG", "Encoding WAV to OGG", "RES_Encoding", "Encoding", "Encoding(", ".ogg", true,
          "MyReTemp"}},
        {JobKind::WavToWma,
         {"RES_WAV_TO_WMA", "Encoding WAV to WMA", "RES_Encoding", "Encoding", "Encoding(", ".wma", false,
          nullptr}},
        {JobKind::WavToFlac,
         {"RES_WAV_TO_FLAC", "Encoding WAV to FLAC", "RES_Encoding", "Encoding", "Encoding(", ".flac", true,
          nullptr}},
        {JobKind::WavToOpus,
         {"RES_WAV_TO_OPUS", "Encoding WAV to Opus", "RES_Encoding", "Encoding", "Encoding(", ".opus", true,
          nullptr}},
    };
    return steps.at(kind);
}

} // namespace

int TRipJob::endEvent() const
{
    // MP3 to WAV is the MP3 encoder's work too.
    return m_kind == JobKind::Mp3ToWav ? int(ProcessEvent::Mp3Encoded) : EncodedEventOf(targetFormat());
}

void TRipJob::Start()
{
    if (m_kind == JobKind::ExtractTracks) {
        if (SkipRead) // the WAV is there: straight to its encoding
            repost(ProcessEvent::TrackRead, ProcessResult::Done);
        else
            startRead(0);
    } else {
        startConversion(0);
    }
    m_presenter.SetElapsed(QString());
    m_presenter.SetEstimated(QString());
}

void TRipJob::startConversion(int item)
{
    const TConversionSteps &steps = conversionSteps(m_kind);
    const QString input = Files.value(item);
    if (steps.opensInput && !openItem(item))
        return;
    // A WAV below CD quality (or, for MP3, above 16 bits) is resampled to a temporary file first.
    const bool resample =
        steps.resampled &&
        (WaveIn1.GetSampleRate() < 44100 || (m_kind == JobKind::WavToMp3 && WaveIn1.GetBitsPerSample() > 16));
    if (resample) {
        m_presenter.SetStage(LocalizedText("RES_WAV_RESAMPLE", "Resampling WAV"));
        stageCaption("Resampling(", item + 1, input);
        startResample(input, outputFolder() + tempName(steps.resampled),
                      m_kind == JobKind::WavToMp3 && WaveIn1.GetBitsPerSample() > 16);
        return;
    }
    m_presenter.SetStage(item == 0 ? LocalizedText(steps.firstKey, steps.firstEnglish)
                                   : LocalizedText(steps.laterKey, steps.laterEnglish));
    stageCaption(steps.stage, item + 1, input);
    encode(input, item);
}

void TRipJob::encode(const QString &source, int item)
{
    const QString extension = QLatin1String(conversionSteps(m_kind).extension);
    QString output = itemName(item, extension);
    if (m_kind == JobKind::RecordingToMp3) { // beside the recording
        const QFileInfo info(Files.value(item));
        output = info.path() + QLatin1Char('/') + info.completeBaseName() + extension;
    }
    startEncoding(source, output);
}

bool TRipJob::event(QEvent *e)
{
    auto *message = dynamic_cast<TMessageEvent *>(e);
    if (!message)
        return QObject::event(e);
    if (m_finished)
        return true; // a finished job drops what still arrives
    if (message->message() == WM_PROCESSINFO) {
        if (auto info = message->takeProcessInfo())
            processInfo(*info);
    } else if (message->message() == WM_RIPERROR) {
        ripError(int(message->lParam()));
    }
    return true;
}

void TRipJob::ripError(int code)
{
    if (code == 1)
        m_presenter.ShowError(LocalizedText("RES_ModifyCDParmsError", "CD extract failed!Please try again."));
    else if (code == 2)
        m_presenter.ShowError(LocalizedText("RES_ReadTocError", "Error while reading TOC information!"));
}

void TRipJob::processInfo(TProcessInfo info)
{
    switch (info.Percent) {
    case ProcessEvent::NormalizeBegins:
        stageCaption("Normalizing(", m_ripIndex + 1, itemBase(m_ripIndex));
        return;
    case ProcessEvent::TrackRead:
        trackRead(info);
        return;
    case ProcessEvent::Resampled:
        resampled(info.ResultCode);
        return;
    case ProcessEvent::Mp3Encoded:
    case ProcessEvent::WmaEncoded:
    case ProcessEvent::FileWritten: // an item that ended before its encoding
        itemEncoded(TEncodeEnd{info.Percent, info.ResultCode, info.Elapsed, QString()});
        return;
    default:
        Timer1.stop();
        Busy = true;
        m_presenter.SetElapsed(info.Elapsed);
        m_presenter.SetEstimated(info.Estimated);
        if (info.Percent > 0) {
            m_presenter.SetInitializing(QString(), false);
            m_gauge = info.Percent;
            m_presenter.SetGauge(info.Percent, true);
        }
        return;
    }
}

void TRipJob::showReadFailure(const TProcessInfo &info, const QString &base)
{
    if (info.ResultCode == ProcessResult::ReadError) {
        m_presenter.ReadPathFailed();
        // Which track failed, and why, before the general advice.
        const QString which = QStringLiteral("Track %1 (%2): ").arg(TwoDigits(itemNumber(m_ripIndex)), base) +
                              (info.Elapsed.isEmpty() ? QString() : info.Elapsed + QStringLiteral("\r\n"));
        m_presenter.ShowError(which +
                              LocalizedText("RES_ReadCDAudioError", "Error while reading CD information!") +
                              QStringLiteral("\r\n") +
                              LocalizedText("RES_CloseSoftware", "Please exit the software and run again."));
    } else if (info.ResultCode == ProcessResult::WavNotCreated && !info.Elapsed.isEmpty()) {
        m_presenter.ShowError(info.Elapsed); // the file and the system's reason
    } else if (info.ResultCode == ProcessResult::WavNotCreated) {
        m_presenter.ShowError(
            outputFolder() + base + QStringLiteral(".wav") +
            LocalizedText("RES_CreateWavFileError",
                          " is not a valid file name. Please rename the Title in the CD tracks list. "
                          "The file name cannot contain any of the following characters: /: *? <>|"));
    }
}

void TRipJob::trackRead(const TProcessInfo &info)
{
    const QString base = itemBase(m_ripIndex);
    showReadFailure(info, base);
    const bool failed = info.ResultCode != ProcessResult::Done;
    recordTrack(m_ripIndex, !failed);
    if (OnTrackRead)
        OnTrackRead(m_ripIndex, !failed);
    ++m_ripIndex;
    const int32_t format = m_settings.CommonOptions.OutputFormat;
    const QString wav = outputFolder() + base + QStringLiteral(".wav");
    if (format == OutputFormat::Wav) {
        if (!failed && m_settings.CommonOptions.ImageFormat < 0) // an image's tracks go into the image
            m_presenter.FileMade(wav);
        if (m_ripIndex >= int(Files.size()))
            finishWhole();
        else
            startRead(m_ripIndex);
        return;
    }
    if (format == OutputFormat::Wma)
        RipThread.reset();
    if (failed) { // nothing to encode: the track ends here
        Busy = true;
        repost(endEvent(), ProcessResult::SourceFailed);
        return;
    }
    stageCaption("Encoding(", m_ripIndex, base);
    m_presenter.SetStage(LocalizedText("RES_Encoding", "Encoding"));
    startEncoding(wav, outputFolder() + base + OutputFormatExtension(format), m_ripIndex - 1);
}

void TRipJob::resampled(int32_t result)
{
    if (result != ProcessResult::Done) {
        // The resampling failed (its message was shown): this file ends here, the job goes on.
        Busy = true;
        repost(endEvent(), ProcessResult::SourceFailed);
        return;
    }
    stageCaption("Encoding(", m_doneIndex + 1, Files.value(m_doneIndex));
    m_presenter.SetStage(LocalizedText("RES_Encoding", "Encoding"));
    encode(outputFolder() + tempName(conversionSteps(m_kind).resampled), m_doneIndex);
}

void TRipJob::showEncoderEnd(const TEncodeEnd &end)
{
    const int32_t result = end.Result;
    if (end.Event == ProcessEvent::WmaEncoded)
        Timer1.stop();
    if (!end.Made.isEmpty())
        m_presenter.FileMade(end.Made);
    if (end.Event != ProcessEvent::FileWritten) {
        if (result == ProcessResult::InUse && !Busy)
            m_presenter.ShowError(Files.value(m_doneIndex) +
                                  LocalizedText("RES_Operate_Fail", "maybe be used,operate fail!"));
        if (end.Event == ProcessEvent::Mp3Encoded && result == ProcessResult::Ended && !Busy)
            m_presenter.ShowError(LocalizedText("RES_Check_Mp3Options",
                                                "Create MP3 file error!\r\nPlease check the "
                                                "output and lame options or run application again."));
    }
    // A failure comes with its message, the file named; so does a tag that could not be written.
    if (!end.Message.isEmpty())
        m_presenter.ShowError(end.Message);
    if (result == ProcessResult::EncoderFailed ||
        (result == ProcessResult::InUse && end.Event != ProcessEvent::FileWritten))
        m_failedItems.insert(m_doneIndex);
}

void TRipJob::itemEncoded(const TEncodeEnd &end)
{
    showEncoderEnd(end);
    Busy = false;
    ++m_doneIndex;
    if (m_doneIndex >= int(Files.size())) {
        if (end.Event != ProcessEvent::WmaEncoded) {
            finishWhole();
            return;
        }
        CleanUp();
        // The report may arrive inside the call that started the encoder: close from the event loop.
        QMetaObject::invokeMethod(
            this, [this] { finishWhole(); }, Qt::QueuedConnection);
        return;
    }
    if (m_kind == JobKind::ExtractTracks)
        startRead(m_ripIndex);
    else
        startConversion(m_doneIndex);
}

void TRipJob::CleanUp()
{
    if (m_filesFreed)
        return;
    if (RipThread) {
        RipThread->StopRequested = 1;
        RipThread.reset();
    }
    const int32_t format = m_settings.CommonOptions.OutputFormat;
    // Only a job that encoded every item lets the WAVs go: a stopped one keeps them all, the one whose
    // encoding was cut short included.
    if (m_doneIndex == Files.size() && m_kind == JobKind::ExtractTracks && format != OutputFormat::Wav &&
        !m_settings.CommonOptions.IsKeepWav) {
        for (int i = 0; i < Files.size(); ++i) {
            // The WAV of a track whose encoding failed is all the user has of it: it stays.
            if (!m_failedItems.contains(i))
                m_toRemove << wavOf(i);
        }
    }
    Files.clear();
    m_filesFreed = true;
    Timer1.stop();
    // An encoding still running ends here, and its working file goes with it; so does a resampling, before
    // its temporary file goes.
    Encoding.Stop();
    WaveOut1.Stop(false);
    const QString temporary =
        outputFolder() + (m_kind == JobKind::WavToOgg ? tempName("MyReTemp") : tempName("MyMP3ReTemp"));
    if ((m_kind == JobKind::WavToOgg || m_kind == JobKind::WavToMp3) && QFileInfo::exists(temporary) &&
        !FileInUse(temporary))
        QFile::remove(temporary);
}

void TRipJob::Stop()
{
    if (m_report)
        m_report->Cancel();
    // CleanUp ends a writer still running and waits for its worker, then drops its working file.
    CleanUp();
    finish(mrAbort);
}
