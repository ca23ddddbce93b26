#include "ripjob.h"

#include "audio/encoderprocess.h"
#include "audio/outputcheck.h"
#include "cdripthread.h"
#include "ripreport.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "tags/id3tag.h"
#include "tags/tracktags.h"

#include <QFileInfo>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

QString text(const char *key, const char *english)
{
    return LocalizedText(QLatin1String(key), QString::fromUtf8(english));
}

// A number with at least two digits.
QString nn(int n)
{
    return n < 10 && n >= 0 ? QLatin1Char('0') + QString::number(n) : QString::number(n);
}

} // namespace

TOptionsSetting JobSettings(const TOptionsSetting &settings, const QString &outputFolder)
{
    TOptionsSetting copy = settings;
    copy.CommonOptions.OutputFolder = outputFolder;
    return copy;
}

TRipJob::TRipJob(JobKind kind, HCDROM cdHandle, const QStringList &files, const TOptionsSetting &settings,
                 TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, QObject *parent)
    : QObject(parent), m_presenter(presenter), m_mp3(mp3), m_wma(wma), Files(files), m_kind(kind),
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
    VorbisOut1.Compression = 0.2f;
    const auto progress = [this](TAuOutput *sink) { ownProgress(sink); };
    const auto failure = [this](TAuOutput *sink) {
        // Named by the file being read, which is the one the user chose.
        if (!m_finished)
            m_presenter.ShowError(WaveIn1.FileName() + QStringLiteral(": ") + sink->ExceptionMessage());
    };
    for (TAuFileOut *writer :
         {static_cast<TAuFileOut *>(&VorbisOut1), static_cast<TAuFileOut *>(&FlacOut1)}) {
        writer->SetInput(&WaveIn1);
        writer->FileMode = foRewrite;
        writer->OnProgress = progress;
        writer->OnThreadException = failure;
        writer->OnDone = [this, writer](TAuOutput *sink) {
            // The file is written under its working name; only a run that ended by itself makes it the file.
            QString error;
            const bool written = SettleEncodedFile(writer->FileName(), m_oggTarget,
                                                   sink->ExceptionMessage().isEmpty() && !m_finished, &error);
            if (!error.isEmpty())
                m_presenter.ShowError(error);
            if (written)
                m_presenter.FileMade(m_oggTarget);
            repost(ProcessEvent::OggWritten, written ? ProcessResult::Done : ProcessResult::EncoderFailed);
        };
    }
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
            m_report->Session.Disc = AccurateRipDiscOfToc(toc);
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
    m_presenter.SetCaption(QLatin1String(stage) + nn(number + NumberBase) + QLatin1Char('/') + nn(total) +
                           QStringLiteral("): ") + item);
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

bool TRipJob::writesFlac() const
{
    return m_kind == JobKind::WavToFlac ||
           (m_kind == JobKind::ExtractTracks && m_settings.CommonOptions.OutputFormat == OutputFormat::Flac);
}

TAuFileOut &TRipJob::fileWriter()
{
    return writesFlac() ? static_cast<TAuFileOut &>(FlacOut1) : static_cast<TAuFileOut &>(VorbisOut1);
}

void TRipJob::finishWhole()
{
    CleanUp();
    if (!m_report || !m_report->Wanted()) {
        finish(mrCancel);
        return;
    }
    m_presenter.SetStage(text("RES_Verifying", "Verifying"));
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
        track.ReadErrors = RipThread->ReadErrors;
    }
    m_report->Record(track, itemBase(item), m_presenter);
}

void TRipJob::Start()
{
    const QString first = Files.value(0);
    switch (m_kind) {
    case JobKind::ExtractTracks:
        if (SkipRead) // the WAV is there: straight to its encoding
            repost(ProcessEvent::TrackRead, ProcessResult::Done);
        else
            startRead(0);
        break;
    case JobKind::WavToMp3:
        if (!openItem(0))
            break;
        if (WaveIn1.GetSampleRate() >= 44100 && WaveIn1.GetBitsPerSample() <= 16) {
            m_presenter.SetStage(text("RES_WAV_TO_MP3", "Encoding WAV to MP3"));
            stageCaption("Encoding(", 1, first);
            startMp3(first, itemName(0, QStringLiteral(".mp3")), true);
        } else {
            m_presenter.SetStage(text("RES_WAV_RESAMPLE", "Resampling WAV"));
            stageCaption("Resampling(", 1, first);
            startResample(first, outputFolder() + tempName("MyMP3ReTemp"), WaveIn1.GetBitsPerSample() > 16);
        }
        break;
    case JobKind::Mp3ToWav:
        m_presenter.SetStage(text("RES_MP3_TO_WAV", "Decoding MP3 to WAV"));
        stageCaption("Decoding(", 1, first);
        startMp3(first, itemName(0, QStringLiteral(".wav")), false);
        break;
    case JobKind::RecordingToMp3: {
        const QFileInfo info(first);
        m_presenter.SetStage(text("RES_WAV_TO_MP3", "Encoding WAV to MP3"));
        stageCaption("Encoding(", 1, first);
        startMp3(first, info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".mp3"),
                 true);
        break;
    }
    case JobKind::WavToOgg:
        if (!openItem(0))
            break;
        if (WaveIn1.GetSampleRate() >= 44100) {
            m_presenter.SetStage(text("RES_WAV_TO_OGG", "Encoding WAV to OGG"));
            stageCaption("Encoding(", 1, first);
            startOgg(first, itemName(0, QStringLiteral(".ogg")));
        } else {
            m_presenter.SetStage(text("RES_WAV_RESAMPLE", "Resampling WAV"));
            stageCaption("Resampling(", 1, first);
            startResample(first, outputFolder() + tempName("MyReTemp"), false);
        }
        break;
    case JobKind::WavToWma:
        m_presenter.SetStage(text("RES_WAV_TO_WMA", "Encoding WAV to WMA"));
        stageCaption("Encoding(", 1, first);
        startWma(first, itemName(0, QStringLiteral(".wma")));
        break;
    case JobKind::WavToFlac:
        if (!openItem(0))
            break;
        m_presenter.SetStage(text("RES_WAV_TO_FLAC", "Encoding WAV to FLAC"));
        stageCaption("Encoding(", 1, first);
        startOgg(first, itemName(0, QStringLiteral(".flac")));
        break;
    }
    m_presenter.SetElapsed(QString());
    m_presenter.SetEstimated(QString());
}

bool TRipJob::openItem(int item)
{
    WaveIn1.SetFileName(Files.value(item));
    if (WaveIn1.TryOpen())
        return true;
    m_presenter.ShowError(
        Files.value(item) + QStringLiteral(": ") +
        (WaveIn1.OpenError.isEmpty() ? QStringLiteral("cannot be read") : WaveIn1.OpenError));
    Busy = true; // no second message for this file
    repost(m_kind == JobKind::WavToOgg || m_kind == JobKind::WavToFlac ? ProcessEvent::OggWritten
                                                                       : ProcessEvent::Mp3Encoded,
           ProcessResult::SourceFailed);
    return false;
}

void TRipJob::startRead(int item)
{
    RipThread.reset();
    stageCaption("Extracting(", item + 1, itemBase(item));
    m_presenter.SetStage(text("RES_Extracting", "Extracting"));
    m_presenter.SetInitializing(text("RES_Initing", "Initializing..."), true);
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

void TRipJob::startMp3(const QString &source, const QString &destination, bool encode)
{
    try {
        m_mp3.Options = m_settings.Mp3Options;
        m_mp3.StartFile(source, destination, this, m_kind, encode);
    } catch (const std::exception &e) {
        // The file cannot be made; the job goes on with the next one.
        m_presenter.ShowError(QString::fromLocal8Bit(e.what()));
        Busy = true;
        repost(ProcessEvent::Mp3Encoded, ProcessResult::SourceFailed);
    }
}

void TRipJob::startWma(const QString &source, const QString &destination, int item)
{
    WmaStartTime = Clock::now();
    m_gauge = 0;
    m_presenter.SetGauge(0, false);
    m_presenter.SetEstimated(QString());
    WmaSourceSize = std::max<int64_t>(FileSizeOf(source), 0);
    Timer1.start();
    try {
        const TTrackTags tags =
            item >= 0 ? TrackTagsOf(m_settings.DiscInfo, itemNumber(item), itemBase(item)) : TTrackTags();
        m_wma.Options = WmaEncodeOptionsOf(m_settings, item >= 0 ? &tags : nullptr);
        m_wma.StartFile(source, destination, this, m_kind);
    } catch (const std::exception &e) {
        m_presenter.ShowError(QString::fromLocal8Bit(e.what()));
        Busy = true;
        repost(ProcessEvent::WmaEncoded, ProcessResult::SourceFailed);
    }
}

void TRipJob::startOgg(const QString &source, const QString &destination, int item)
{
    if (SameFile(source, destination)) {
        m_presenter.ShowError(destination + QStringLiteral(": the output would overwrite the input"));
        Busy = true;
        repost(ProcessEvent::OggWritten, ProcessResult::SourceFailed);
        return;
    }
    const bool tagged = item >= 0 && m_settings.Use;
    if (writesFlac()) {
        FlacOut1.CompressionLevel = m_settings.FlacOptions.CompressionLevel;
        FlacOut1.Comments.Clear();
        FlacOut1.Cover.clear();
        if (tagged)
            FlacOut1.SetTags(TrackTagsOf(m_settings, itemNumber(item), itemBase(item)));
    } else {
        const TOggOptions &ogg = m_settings.OggOptions;
        VorbisOut1.Comments.Clear();
        if (tagged)
            SetVorbisComments(VorbisOut1.Comments, TrackTagsOf(m_settings, itemNumber(item), itemBase(item)));
        VorbisOut1.Compression = ogg.IsUseCompress ? float(ogg.CompressPosition - 10) / 100.0f : 0.2f;
    }
    WaveIn1.SetFileName(source);
    m_oggTarget = destination;
    fileWriter().SetFileName(WorkingFileOf(destination));
    StartTime = Clock::now();
    fileWriter().Run();
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
    PostProcessInfo(this, ProgressNotice(sink->Progress(), secondsSince(StartTime)));
}

void TRipJob::writeId3(int item)
{
    QString error;
    if (!TagMp3File(outputFolder() + itemBase(item) + QStringLiteral(".mp3"), m_settings, itemNumber(item),
                    itemBase(item), &error))
        m_presenter.ShowError(error);
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
        m_presenter.ShowError(text("RES_ModifyCDParmsError", "CD extract failed!Please try again."));
    else if (code == 2)
        m_presenter.ShowError(text("RES_ReadTocError", "Error while reading TOC information!"));
}

void TRipJob::processInfo(TProcessInfo info)
{
    const int count = int(Files.size());
    switch (info.Percent) {
    case ProcessEvent::NormalizeBegins:
        stageCaption("Normalizing(", m_ripIndex + 1, itemBase(m_ripIndex));
        return;

    case ProcessEvent::TrackRead: {
        const QString base = itemBase(m_ripIndex);
        if (info.ResultCode == ProcessResult::ReadError) {
            m_presenter.ReadPathFailed();
            // Which track failed, and why, before the general advice.
            const QString which =
                QStringLiteral("Track %1 (%2): ").arg(TwoDigits(itemNumber(m_ripIndex)), base) +
                (info.Elapsed.isEmpty() ? QString() : info.Elapsed + QStringLiteral("\r\n"));
            m_presenter.ShowError(which + text("RES_ReadCDAudioError", "Error while reading CD information!") +
                                  QStringLiteral("\r\n") +
                                  text("RES_CloseSoftware", "Please exit the software and run again."));
        } else if (info.ResultCode == ProcessResult::WavNotCreated && !info.Elapsed.isEmpty()) {
            m_presenter.ShowError(info.Elapsed); // the file and the system's reason
        } else if (info.ResultCode == ProcessResult::WavNotCreated) {
            m_presenter.ShowError(
                outputFolder() + base + QStringLiteral(".wav") +
                text("RES_CreateWavFileError",
                     " is not a valid file name. Please rename the Title in the CD tracks list. The "
                     "file name cannot contain any of the following characters: /: *? <>|"));
        }
        recordTrack(m_ripIndex, info.ResultCode == ProcessResult::Done);
        if (OnTrackRead)
            OnTrackRead(m_ripIndex, info.ResultCode == ProcessResult::Done);
        ++m_ripIndex;
        const bool failed = info.ResultCode != ProcessResult::Done;
        const QString wav = outputFolder() + base + QStringLiteral(".wav");
        const QString stem = outputFolder() + base;
        switch (m_settings.CommonOptions.OutputFormat) {
        case OutputFormat::Mp3:
            if (failed) {
                Busy = true;
                repost(ProcessEvent::Mp3Encoded, ProcessResult::SourceFailed);
                return;
            }
            stageCaption("Encoding(", m_ripIndex, base);
            m_presenter.SetStage(text("RES_Encoding", "Encoding"));
            startMp3(wav, stem + QStringLiteral(".mp3"), true);
            return;
        case OutputFormat::Ogg:
        case OutputFormat::Flac:
            if (failed) {
                Busy = true;
                repost(ProcessEvent::OggWritten, ProcessResult::SourceFailed);
                return;
            }
            stageCaption("Encoding(", m_ripIndex, base);
            m_presenter.SetStage(text("RES_Encoding", "Encoding"));
            startOgg(wav, stem + OutputFormatExtension(m_settings.CommonOptions.OutputFormat),
                     m_ripIndex - 1);
            return;
        case OutputFormat::Wma:
            RipThread.reset();
            if (failed) {
                Busy = true;
                repost(ProcessEvent::WmaEncoded, ProcessResult::SourceFailed);
                return;
            }
            stageCaption("Encoding(", m_ripIndex, base);
            m_presenter.SetStage(text("RES_Encoding", "Encoding"));
            startWma(wav, stem + QStringLiteral(".wma"), m_ripIndex - 1);
            return;
        default:
            if (!failed)
                m_presenter.FileMade(wav);
            if (m_ripIndex >= count) {
                finishWhole();
            } else {
                startRead(m_ripIndex);
            }
            return;
        }
    }

    case ProcessEvent::Mp3Encoded:
        if (info.ResultCode == ProcessResult::Ended && QFileInfo::exists(m_mp3.OutputFile))
            m_presenter.FileMade(m_mp3.OutputFile);
        if (info.ResultCode == ProcessResult::InUse && !Busy)
            m_presenter.ShowError(Files.value(m_encodeIndex) +
                                  text("RES_Operate_Fail", "maybe be used,operate fail!"));
        if (info.ResultCode == ProcessResult::Ended && !Busy)
            m_presenter.ShowError(text("RES_Check_Mp3Options",
                                       "Create MP3 file error!\r\nPlease check the output and "
                                       "lame options or run application again."));
        if (info.ResultCode == ProcessResult::EncoderFailed)
            m_presenter.ShowError(info.Elapsed);
        if (info.ResultCode == ProcessResult::EncoderFailed || info.ResultCode == ProcessResult::InUse)
            m_failedItems.insert(m_encodeIndex);
        if (m_kind == JobKind::ExtractTracks && info.ResultCode == ProcessResult::Ended && Busy &&
            (m_settings.Use || TagMp3Always))
            writeId3(m_ripIndex - 1);
        Busy = false;
        ++m_encodeIndex;
        if (m_encodeIndex >= count) {
            finishWhole();
            return;
        }
        if (m_kind == JobKind::ExtractTracks) {
            startRead(m_ripIndex);
        } else if (m_kind == JobKind::WavToMp3) {
            const QString item = Files.value(m_encodeIndex);
            if (!openItem(m_encodeIndex))
                return;
            stageCaption("Encoding(", m_encodeIndex + 1, item);
            if (WaveIn1.GetSampleRate() < 44100) {
                m_presenter.SetStage(text("RES_WAV_RESAMPLE", "Resampling WAV"));
                startResample(item, outputFolder() + tempName("MyMP3ReTemp"), false);
            } else {
                m_presenter.SetStage(text("RES_Encoding", "Encoding"));
                startMp3(item, itemName(m_encodeIndex, QStringLiteral(".mp3")), true);
            }
        } else if (m_kind == JobKind::Mp3ToWav) {
            m_presenter.SetStage(text("RES_Decoding", "Decoding"));
            stageCaption("Decoding(", m_encodeIndex + 1, Files.value(m_encodeIndex));
            startMp3(Files.value(m_encodeIndex), itemName(m_encodeIndex, QStringLiteral(".wav")), false);
        }
        return;

    case ProcessEvent::OggWritten:
        if (info.ResultCode == ProcessResult::EncoderFailed)
            m_failedItems.insert(m_oggIndex);
        Busy = false;
        ++m_oggIndex;
        if (m_oggIndex >= count) {
            finishWhole();
            return;
        }
        if (m_kind == JobKind::ExtractTracks) {
            startRead(m_ripIndex);
        } else if (m_kind == JobKind::WavToFlac) {
            const QString item = Files.value(m_oggIndex);
            if (!openItem(m_oggIndex))
                return;
            m_presenter.SetStage(text("RES_Encoding", "Encoding"));
            stageCaption("Encoding(", m_oggIndex + 1, item);
            startOgg(item, itemName(m_oggIndex, QStringLiteral(".flac")));
        } else if (m_kind == JobKind::WavToOgg) {
            const QString item = Files.value(m_oggIndex);
            if (!openItem(m_oggIndex))
                return;
            if (WaveIn1.GetSampleRate() >= 44100) {
                m_presenter.SetStage(text("RES_Encoding", "Encoding"));
                stageCaption("Encoding(", m_oggIndex + 1, item);
                startOgg(item, itemName(m_oggIndex, QStringLiteral(".ogg")));
            } else {
                m_presenter.SetStage(text("RES_WAV_RESAMPLE", "Resampling WAV"));
                stageCaption("Resampling(", m_oggIndex + 1, item);
                startResample(item, outputFolder() + tempName("MyReTemp"), false);
            }
        }
        return;

    case ProcessEvent::Resampled:
        if (info.ResultCode != ProcessResult::Done) {
            // The resampling failed (its message was shown): this file ends here, the job goes on.
            Busy = true;
            repost(m_kind == JobKind::WavToOgg ? ProcessEvent::OggWritten : ProcessEvent::Mp3Encoded,
                   ProcessResult::SourceFailed);
            return;
        }
        if (m_kind == JobKind::WavToMp3) {
            stageCaption("Encoding(", m_encodeIndex + 1, Files.value(m_encodeIndex));
            m_presenter.SetStage(text("RES_Encoding", "Encoding"));
            startMp3(outputFolder() + tempName("MyMP3ReTemp"),
                     itemName(m_encodeIndex, QStringLiteral(".mp3")), true);
        } else if (m_kind == JobKind::WavToOgg) {
            stageCaption("Encoding(", m_oggIndex + 1, Files.value(m_oggIndex));
            m_presenter.SetStage(text("RES_Encoding", "Encoding"));
            startOgg(outputFolder() + tempName("MyReTemp"), itemName(m_oggIndex, QStringLiteral(".ogg")));
        }
        return;

    case ProcessEvent::WmaEncoded:
        Timer1.stop();
        if (info.ResultCode == ProcessResult::Ended && QFileInfo::exists(m_wma.OutputFile))
            m_presenter.FileMade(m_wma.OutputFile);
        if (info.ResultCode == ProcessResult::InUse && !Busy)
            m_presenter.ShowError(Files.value(m_encodeIndex) +
                                  text("RES_Operate_Fail", "maybe be used,operate fail!"));
        if (info.ResultCode == ProcessResult::EncoderFailed)
            m_presenter.ShowError(info.Elapsed);
        if (info.ResultCode == ProcessResult::EncoderFailed || info.ResultCode == ProcessResult::InUse)
            m_failedItems.insert(m_encodeIndex);
        Busy = false;
        ++m_encodeIndex;
        if (m_encodeIndex >= count) {
            CleanUp();
            // The report may arrive inside the call that started the encoder: close from the event loop.
            QMetaObject::invokeMethod(
                this, [this] { finishWhole(); }, Qt::QueuedConnection);
            return;
        }
        if (m_kind == JobKind::ExtractTracks) {
            startRead(m_ripIndex);
        } else if (m_kind == JobKind::WavToWma) {
            m_presenter.SetStage(text("RES_Encoding", "Encoding"));
            stageCaption("Encoding(", m_encodeIndex + 1, Files.value(m_encodeIndex));
            startWma(Files.value(m_encodeIndex), itemName(m_encodeIndex, QStringLiteral(".wma")));
        }
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
    WmaTimerTick(secondsSince(WmaStartTime));
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

void TRipJob::CleanUp()
{
    if (m_filesFreed)
        return;
    if (RipThread) {
        RipThread->StopRequested = 1;
        RipThread.reset();
    }
    const int32_t format = m_settings.CommonOptions.OutputFormat;
    if (m_ripIndex == Files.size() && m_kind == JobKind::ExtractTracks && format != OutputFormat::Wav &&
        !m_settings.CommonOptions.IsKeepWav) {
        for (int i = 0; i < Files.size(); ++i) {
            const QString wav = wavOf(i);
            // The WAV of a track whose encoding failed is all the user has of it: it stays.
            if (!m_failedItems.contains(i) && QFileInfo::exists(wav) && !FileInUse(wav))
                QFile::remove(wav);
        }
    }
    Files.clear();
    m_filesFreed = true;
    Timer1.stop();
    if (m_mp3.Active)
        m_mp3.Stop(0);
    if (m_wma.Active)
        m_wma.Stop(0);
    // A resampling still running is ended here, before its temporary file goes; so is an Ogg file
    // being written, whose working file goes with it.
    WaveOut1.Stop(false);
    VorbisOut1.Stop(false);
    FlacOut1.Stop(false);
    if (!m_oggTarget.isEmpty())
        DiscardWorkingFile(WorkingFileOf(m_oggTarget), m_oggTarget);
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
