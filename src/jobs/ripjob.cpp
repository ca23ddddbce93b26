// SPDX-License-Identifier: GPL-3.0-or-later
#include "ripjob.h"

#include "audio/encoderprocess.h"
#include "audio/outputcheck.h"
#include "cdripthread.h"
#include "jobitem.h"
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

TOptionsSetting JobSettings(const TOptionsSetting &settings, const QString &outputFolder)
{
    TOptionsSetting copy = settings;
    copy.CommonOptions.OutputFolder = outputFolder;
    return copy;
}

TRipJob::TRipJob(JobKind kind, TCdHandle cdHandle, const QStringList &files, const TOptionsSetting &settings,
                 TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, QObject *parent)
    : QObject(parent), Encoding(mp3, wma), m_presenter(presenter), m_wma(wma),
      m_resample(settings.CommonOptions.ResampleQuality == 1), Files(files), m_kind(kind),
      m_settings(settings), CDHandle(cdHandle)
{
    if (kind == JobKind::ExtractTracks) {
        std::vector<TTrackSequence::Step> steps{[this](int item) { readTrack(item); }};
        if (settings.CommonOptions.OutputFormat != OutputFormat::Wav)
            steps.push_back([this](int item) { encodeTrack(item); });
        m_sequence.SetSteps(std::move(steps));
    } else {
        m_sequence.SetSteps(
            {[this](int item) { prepareFile(item); }, [this](int item) { encodeFile(item); }});
    }
    m_sequence.OnFinished = [this] {
        if (m_lastEnd != ProcessEvent::WmaEncoded) {
            finishWhole();
            return;
        }
        CleanUp();
        // The report may arrive inside the call that started the encoder: close from the event loop.
        QMetaObject::invokeMethod(
            this, [this] { finishWhole(); }, Qt::QueuedConnection);
    };
    const auto progress = [this](const TProcessInfo &info) {
        if (!m_finished)
            this->progress(info);
    };
    connect(&m_read, &TTrackReadStep::progress, this, progress);
    connect(&m_read, &TTrackReadStep::normalizing, this,
            [this] { stageCaption("Normalizing(", m_sequence.Item() + 1, itemBase(m_sequence.Item())); });
    connect(&m_read, &TTrackReadStep::finished, this, [this](const TReadEnd &end) {
        if (!m_finished)
            trackRead(end);
    });
    connect(&m_resample, &TResampleStep::progress, this, progress);
    connect(&m_resample, &TResampleStep::failed, this, [this](const QString &message) {
        if (!m_finished)
            m_presenter.ShowError(message); // named by the file being read, which is the one the user chose
    });
    connect(&m_resample, &TResampleStep::finished, this, [this](bool ok) {
        if (!m_finished)
            resampled(ok);
    });
    connect(&Encoding, &TEncodeStep::progress, this, progress);
    connect(&Encoding, &TEncodeStep::finished, this, [this](const TEncodeEnd &end) {
        if (!m_finished)
            itemEncoded(end);
    });
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
    return TJobItem::Of(Files.value(item)).Track;
}

QString TRipJob::itemBase(int item) const
{
    return TJobItem::Of(Files.value(item)).Base;
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

void TRipJob::recordTrack(int item, bool ok, const QString &problem)
{
    if (!m_report)
        return;
    const TCDRipThread *read = m_read.Read();
    TTrackRip track = TTrackRip::Of(
        m_settings.DiscInfo, itemNumber(item), itemBase(item),
        outputFolder() + itemBase(item) +
            OutputFormatExtension(ReportFormat >= 0 ? ReportFormat : m_settings.CommonOptions.OutputFormat));
    track.Read = ok && read;
    track.Problem = track.Read ? QString() : problem;
    track.Pregap = TrackPregapSectors(CDHandle, track.Track + 1);
    if (read) {
        track.TakeCheck(read->Check);
        track.Tested = read->Tested;
        track.TestCrc = read->TestCrc;
        track.Rereads = read->Rereads;
        track.FirstCopyCrc = read->FirstCopyCrc;
        track.ReadErrors = read->ReadErrors;
    }
    m_report->Record(track, itemBase(item), m_presenter);
}

namespace {

// What each conversion does with one file: the caption's stage and the group box's texts (the first file's,
// then the others'), what it makes, and when the input is resampled first.
struct TConversionSteps {
    QString firstKey;
    QString firstEnglish;
    const char *laterKey;
    const char *laterEnglish;
    const char *stage; // of the caption
    QString extension;
    bool opensInput;       // the input is read here first (its format decides on resampling)
    const char *resampled; // the temporary file's stem when it is resampled first; nullptr: never
};

const TConversionSteps &conversionSteps(JobKind kind)
{
    static const std::map<JobKind, TConversionSteps> steps = [] {
        std::map<JobKind, TConversionSteps> all = {
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
        };
        // The other formats our own writers make: the WAV read here, never resampled first.
        for (const TOutputFormatInfo &format : OutputFormats())
            if (format.Encoder == TEncoderKind::Writer && !all.count(format.Conversion))
                all.emplace(format.Conversion,
                            TConversionSteps{QLatin1String(format.EncodingKey),
                                             QStringLiteral("Encoding WAV to ") + QLatin1String(format.Title),
                                             "RES_Encoding", "Encoding", "Encoding(",
                                             QLatin1String(format.Extension), true, nullptr});
        return all;
    }();
    return steps.at(kind);
}

} // namespace

void TRipJob::Start()
{
    // A part of a larger job finds its track's WAV read already: it starts at the encoding.
    m_sequence.Start(int(Files.size()), SkipRead ? 1 : 0);
    m_presenter.SetElapsed(QString());
    m_presenter.SetEstimated(QString());
}

void TRipJob::endStepLater(bool ok)
{
    QMetaObject::invokeMethod(
        this,
        [this, ok] {
            if (!m_finished)
                m_sequence.StepEnded(ok);
        },
        Qt::QueuedConnection);
}

void TRipJob::readTrack(int item)
{
    stageCaption("Extracting(", item + 1, itemBase(item));
    m_presenter.SetStage(LocalizedText("RES_Extracting", "Extracting"));
    m_presenter.SetInitializing(LocalizedText("RES_Initing", "Initializing..."), true);
    m_read.Start(CDHandle, itemNumber(item), itemBase(item), m_settings.CommonOptions);
}

void TRipJob::trackRead(const TReadEnd &end)
{
    const int item = m_sequence.Item();
    showReadFailure(end, item);
    const bool read = end.Result == ProcessResult::Done;
    recordTrack(item, read, end.Message);
    if (OnTrackRead)
        OnTrackRead(item, read);
    const int32_t format = m_settings.CommonOptions.OutputFormat;
    if (format == OutputFormat::Wav && read && m_settings.CommonOptions.ImageFormat < 0)
        m_presenter.FileMade(wavOf(item)); // an image's tracks go into the image
    if (format == OutputFormat::Wma)
        m_read.Stop();
    m_sequence.StepEnded(read);
}

void TRipJob::showReadFailure(const TReadEnd &end, int item)
{
    const QString base = itemBase(item);
    if (end.Result == ProcessResult::ReadError) {
        m_presenter.ReadPathFailed();
        // Which track failed, and why, before the general advice.
        const QString which = QStringLiteral("Track %1 (%2): ").arg(TwoDigits(itemNumber(item)), base) +
                              (end.Message.isEmpty() ? QString() : end.Message + QStringLiteral("\r\n"));
        m_presenter.ShowError(which +
                              LocalizedText("RES_ReadCDAudioError", "Error while reading CD information!") +
                              QStringLiteral("\r\n") +
                              LocalizedText("RES_CloseSoftware", "Please exit the software and run again."));
    } else if (end.Result == ProcessResult::WavNotCreated && end.Message.isEmpty()) {
        m_presenter.ShowError(
            wavOf(item) +
            LocalizedText("RES_CreateWavFileError",
                          " is not a valid file name. Please rename the Title in the CD tracks list. "
                          "The file name cannot contain any of the following characters: /: *? <>|"));
    } else if (end.Result != ProcessResult::Done && !end.Message.isEmpty()) {
        m_presenter.ShowError(end.Message); // the file or track, and the reason
    }
}

void TRipJob::encodeTrack(int item)
{
    const QString base = itemBase(item);
    stageCaption("Encoding(", item + 1, base);
    m_presenter.SetStage(LocalizedText("RES_Encoding", "Encoding"));
    startEncoding(wavOf(item),
                  outputFolder() + base + OutputFormatExtension(m_settings.CommonOptions.OutputFormat), item);
}

void TRipJob::prepareFile(int item)
{
    const TConversionSteps &steps = conversionSteps(m_kind);
    const QString input = Files.value(item);
    m_source = input;
    if (steps.opensInput) {
        QString error;
        if (!m_resample.Open(input, &error)) {
            m_presenter.ShowError(error);
            endStepLater(false);
            return;
        }
    }
    // A WAV below CD quality (or, for MP3, above 16 bits) is resampled to a temporary file first.
    const bool to16Bits = m_kind == JobKind::WavToMp3 && m_resample.BitsPerSample() > 16;
    if (steps.resampled && (m_resample.SampleRate() < 44100 || to16Bits)) {
        m_presenter.SetStage(LocalizedText("RES_WAV_RESAMPLE", "Resampling WAV"));
        stageCaption("Resampling(", item + 1, input);
        m_source = outputFolder() + tempName(steps.resampled);
        m_resample.Start(m_source, to16Bits);
        return;
    }
    m_presenter.SetStage(
        item == 0 ? LocalizedText(steps.firstKey, steps.firstEnglish)
                  : LocalizedText(QLatin1String(steps.laterKey), QLatin1String(steps.laterEnglish)));
    stageCaption(steps.stage, item + 1, input);
    m_sequence.StepEnded(true);
}

void TRipJob::resampled(bool ok)
{
    if (ok) {
        const int item = m_sequence.Item();
        stageCaption("Encoding(", item + 1, Files.value(item));
        m_presenter.SetStage(LocalizedText("RES_Encoding", "Encoding"));
    }
    // A resampling that failed (its message was shown) ends its file here; the job goes on.
    m_sequence.StepEnded(ok);
}

void TRipJob::encodeFile(int item)
{
    const QString extension = conversionSteps(m_kind).extension;
    QString output = itemName(item, extension);
    if (m_kind == JobKind::RecordingToMp3) { // beside the recording
        const QFileInfo info(Files.value(item));
        output = info.path() + QLatin1Char('/') + info.completeBaseName() + extension;
    }
    startEncoding(m_source, output);
}

void TRipJob::progress(const TProcessInfo &info)
{
    Timer1.stop();
    Busy = true;
    m_presenter.SetElapsed(info.Elapsed);
    m_presenter.SetEstimated(info.Estimated);
    if (info.Percent > 0) {
        m_presenter.SetInitializing(QString(), false);
        m_gauge = info.Percent;
        m_presenter.SetGauge(info.Percent, true);
    }
}

void TRipJob::showEncoderEnd(const TEncodeEnd &end)
{
    const int32_t result = end.Result;
    if (end.Event == ProcessEvent::WmaEncoded)
        Timer1.stop();
    if (!end.Made.isEmpty())
        m_presenter.FileMade(end.Made);
    if (!end.Kept.isEmpty())
        m_presenter.FileKept(end.Kept);
    if (end.Event != ProcessEvent::FileWritten) {
        if (result == ProcessResult::InUse && !Busy)
            m_presenter.ShowError(Files.value(m_sequence.Item()) +
                                  LocalizedText("RES_Operate_Fail", "maybe be used,operate fail!"));
        if (end.Event == ProcessEvent::Mp3Encoded && result == ProcessResult::Ended && !Busy)
            m_presenter.ShowError(LocalizedText("RES_Check_Mp3Options",
                                                "Create MP3 file error!\r\nPlease check the "
                                                "output and lame options or run application again."));
    }
    // A failure comes with its message, the file named; so does a tag that could not be written.
    if (!end.Message.isEmpty())
        m_presenter.ShowError(end.Message);
    // (A file another run is making is that run's: this run's WAV of it goes.)
    if ((result == ProcessResult::EncoderFailed && !end.Busy) ||
        (result == ProcessResult::InUse && end.Event != ProcessEvent::FileWritten))
        m_failedItems.insert(m_sequence.Item());
}

void TRipJob::itemEncoded(const TEncodeEnd &end)
{
    showEncoderEnd(end);
    Busy = false;
    m_lastEnd = end.Event;
    m_sequence.StepEnded(end.Result == ProcessResult::Ended);
}

void TRipJob::CleanUp()
{
    if (m_filesFreed)
        return;
    m_sequence.Stop();
    m_read.Stop();
    const int32_t format = m_settings.CommonOptions.OutputFormat;
    // The WAVs the user did not ask to keep go, at the end and when the job is stopped alike (a stopped rip
    // left them all, and a rerun then took them for finished tracks).
    if (m_kind == JobKind::ExtractTracks && format != OutputFormat::Wav &&
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
    m_resample.Stop();
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
    // An image's track WAVs are steps on the way to it: a stopped image rip leaves none it made.
    if (m_kind == JobKind::ExtractTracks && m_settings.CommonOptions.ImageFormat >= 0 &&
        !m_settings.CommonOptions.IsKeepWav)
        for (int i = 0; i < Files.size(); ++i)
            m_toRemove << wavOf(i);
    // CleanUp ends a writer still running and waits for its worker, then drops its working file; the
    // intermediate WAVs go at once (a handful of files).
    CleanUp();
    for (const QString &wav : std::exchange(m_toRemove, {}))
        RemoveMadeFile(wav);
    finish(mrAbort);
}
