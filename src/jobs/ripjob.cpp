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

TRipJob::TRipJob(JobKind kind, const QStringList &files, const TOptionsSetting &settings,
                 TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, QObject *parent)
    : QObject(parent), Encoding(mp3, wma), WmaProgress(wma, m_settings,
                                                       [this](const TProcessInfo &info) {
                                                           m_presenter.SetElapsed(info.Elapsed);
                                                           if (info.Percent < 0)
                                                               return;
                                                           m_presenter.SetInitializing(QString(), false);
                                                           m_presenter.SetEstimated(info.Estimated);
                                                           m_presenter.SetGauge(info.Percent, true);
                                                       }),
      m_presenter(presenter), m_resample(settings.CommonOptions.ResampleQuality == 1), Files(files),
      m_kind(kind), m_settings(settings)
{
    m_sequence.SetSteps({[this](int item) { prepareFile(item); }, [this](int item) { encodeFile(item); }});
    m_sequence.OnFinished = [this] {
        if (m_lastEnd != ProcessEvent::WmaEncoded) {
            CleanUp();
            finish(mrCancel);
            return;
        }
        CleanUp();
        // The report may arrive inside the call that started the encoder: close from the event loop.
        QMetaObject::invokeMethod(
            this, [this] { finish(mrCancel); }, Qt::QueuedConnection);
    };
    const auto progress = [this](const TProcessInfo &info) {
        if (!m_finished)
            this->progress(info);
    };
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
}

TRipJob::~TRipJob()
{
    CleanUp();
}

QString TRipJob::outputFolder() const
{
    return WithTrailingBackslash(m_settings.CommonOptions.OutputFolder);
}

QString TRipJob::itemName(int item, const QString &extension) const
{
    return outputFolder() + QFileInfo(Files.value(item)).completeBaseName() + extension;
}

QString TRipJob::tempName(const char *stem) const
{
    return QLatin1String(stem) + (TempTag.isEmpty() ? QString() : QLatin1Char('-') + TempTag) +
           QStringLiteral(".wav");
}

void TRipJob::stageCaption(const char *stage, int number, const QString &item)
{
    m_presenter.SetCaption(
        StageCaption(stage, number + NumberBase, NumberTotal > 0 ? NumberTotal : int(Files.size()), item));
}

void TRipJob::finish(int result)
{
    if (m_finished)
        return;
    m_finished = true;
    m_presenter.Finish(result);
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
    m_sequence.Start(int(Files.size()));
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

void TRipJob::prepareFile(int item)
{
    const TConversionSteps &steps = conversionSteps(m_kind);
    const QString input = Files.value(item);
    m_source = input;
    if (steps.opensInput) {
        if (const auto opened = m_resample.Open(input); !opened) {
            m_presenter.ShowError(opened.Error());
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
    TEncodeRequest request;
    const TOutputFormatInfo *format = OutputFormatOfConversion(m_kind);
    request.Format = format ? format->Value : int32_t(OutputFormat::Wav); // MP3 to WAV
    request.Decode = m_kind == JobKind::Mp3ToWav;
    request.Source = m_source;
    request.Target = output;
    request.Kind = m_kind;
    request.Ogg = TOggSetup::QualityOnly;
    if (request.Format == OutputFormat::Wma && !request.Decode) {
        m_presenter.SetGauge(0, false);
        m_presenter.SetEstimated(QString());
        WmaProgress.Start(m_source);
    }
    Encoding.Start(m_settings, request);
}

void TRipJob::progress(const TProcessInfo &info)
{
    WmaProgress.Stop();
    Busy = true;
    m_presenter.SetElapsed(info.Elapsed);
    m_presenter.SetEstimated(info.Estimated);
    if (info.Percent > 0) {
        m_presenter.SetInitializing(QString(), false);
        m_presenter.SetGauge(info.Percent, true);
    }
}

void TRipJob::showEncoderEnd(const TEncodeEnd &end)
{
    const int32_t result = end.Result;
    if (end.Event == ProcessEvent::WmaEncoded)
        WmaProgress.Stop();
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
    Files.clear();
    m_filesFreed = true;
    WmaProgress.Stop();
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
    // CleanUp ends a writer still running and waits for its worker, then drops its working file.
    CleanUp();
    finish(mrAbort);
}
