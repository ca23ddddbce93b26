// SPDX-License-Identifier: GPL-3.0-or-later
#include "extractjob.h"

#include "audio/encoderprocess.h"
#include "componentreadstep.h"
#include "jobitem.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"

#include <QFileInfo>

const char *StageCaptionWord(TExtractStage stage)
{
    switch (stage) {
    case TExtractStage::Reading:
        return "Extracting(";
    case TExtractStage::Normalizing:
        return "Normalizing(";
    case TExtractStage::Encoding:
        return "Encoding(";
    default:
        return "";
    }
}

void TExtractOnJobPresenter::Begin(int, int32_t)
{
    m_presenter.SetElapsed(QString());
    m_presenter.SetEstimated(QString());
}

void TExtractOnJobPresenter::Stage(TExtractStage stage, int number, int total, const QString &base)
{
    switch (stage) {
    case TExtractStage::Reading:
    case TExtractStage::Normalizing:
    case TExtractStage::Encoding:
        m_presenter.SetCaption(StageCaption(StageCaptionWord(stage), number, total, base));
        if (stage == TExtractStage::Reading) {
            m_presenter.SetStage(LocalizedText("RES_Extracting", "Extracting"));
            m_presenter.SetInitializing(LocalizedText("RES_Initing", "Initializing..."), true);
        } else if (stage == TExtractStage::Encoding) {
            m_presenter.SetStage(LocalizedText("RES_Encoding", "Encoding"));
        }
        break;
    case TExtractStage::Verifying:
    case TExtractStage::WritingLog:
        m_presenter.SetStage(LocalizedText("RES_Verifying", "Verifying"));
        m_presenter.SetCaption(stage == TExtractStage::Verifying ? QStringLiteral("Asking AccurateRip")
                                                                 : QStringLiteral("Writing the rip log"));
        break;
    }
}

void TExtractOnJobPresenter::Progress(const TProcessInfo &info)
{
    m_presenter.SetElapsed(info.Elapsed);
    if (info.Percent < 0)
        return;
    m_presenter.SetEstimated(info.Estimated);
    if (info.Percent > 0) {
        m_presenter.SetInitializing(QString(), false);
        m_presenter.SetGauge(info.Percent, true);
    }
}

namespace {

std::unique_ptr<TTrackReader> readerOf(const TReadSource &source, const TOptionsSetting &settings)
{
    if (source.Handle != 0)
        return std::make_unique<TTrackReadStep>(source.Handle, settings.CommonOptions);
    if (source.Drive)
        return std::make_unique<TComponentReadStep>(*source.Drive, settings);
    return nullptr;
}

} // namespace

TExtractJob::TExtractJob(const TReadSource &source, const QStringList &files, const TOptionsSetting &settings,
                         TExtractView &view, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, QObject *parent)
    : QObject(parent), Encoding(mp3, wma), m_view(view), m_settings(settings), m_files(files),
      m_read(readerOf(source, m_settings)), m_wmaProgress(wma, m_settings, [this](const TProcessInfo &info) {
          if (!m_finished)
              m_view.Progress(info);
      })
{
    std::vector<TTrackSequence::Step> steps{[this](int item) { readTrack(item); }};
    if (m_settings.CommonOptions.OutputFormat != OutputFormat::Wav)
        steps.push_back([this](int item) { encodeTrack(item); });
    m_sequence.SetSteps(std::move(steps));
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
    if (m_read) {
        Ways = m_read->Ways();
        connect(m_read.get(), &TTrackReader::progress, this, progress);
        connect(m_read.get(), &TTrackReader::normalizing, this,
                [this] { stage(TExtractStage::Normalizing, m_sequence.Item()); });
        connect(m_read.get(), &TTrackReader::failed, this, [this](const QString &message) {
            if (!m_finished)
                m_view.ShowError(message);
        });
        connect(m_read.get(), &TTrackReader::pathFailed, this, [this] {
            if (!m_finished)
                m_view.ReadPathFailed();
        });
        connect(m_read.get(), &TTrackReader::finished, this, [this](const TReadEnd &end) {
            if (!m_finished)
                trackRead(end);
        });
        m_report = std::make_unique<TRipReporter>(m_settings, m_settings.CommonOptions.OutputFolder);
    }
    connect(&Encoding, &TEncodeStep::progress, this, progress);
    connect(&Encoding, &TEncodeStep::finished, this, [this](const TEncodeEnd &end) {
        if (!m_finished)
            encoded(end);
    });
}

TExtractJob::~TExtractJob()
{
    CleanUp();
}

int TExtractJob::total() const
{
    return NumberTotal > 0 ? NumberTotal : int(m_files.size());
}

QString TExtractJob::wavOf(int item) const
{
    return TJobItem::Of(m_files.value(item))
        .File(m_settings.CommonOptions.OutputFolder, QStringLiteral(".wav"));
}

void TExtractJob::stage(TExtractStage stage, int item)
{
    m_view.Stage(stage, item + 1 + NumberBase, total(), TJobItem::Of(m_files.value(item)).Base);
}

void TExtractJob::Start()
{
    if (m_read && !SkipRead)
        m_report->Session = m_read->Begin(m_settings);
    m_view.Begin(total(), m_settings.CommonOptions.OutputFormat);
    // A part of a larger job finds its tracks' WAVs read already: it starts at the encoding.
    m_sequence.Start(int(m_files.size()), SkipRead ? 1 : 0);
}

void TExtractJob::readTrack(int item)
{
    stage(TExtractStage::Reading, item);
    const TJobItem entry = TJobItem::Of(m_files.value(item));
    if (!m_read) { // nothing to read with: the part was given WAVs to encode only
        QMetaObject::invokeMethod(
            this,
            [this] {
                trackRead(TReadEnd{ProcessResult::SourceFailed, QString()});
            },
            Qt::QueuedConnection);
        return;
    }
    m_read->Start(entry.Track, entry.Base, wavOf(item));
}

void TExtractJob::trackRead(const TReadEnd &end)
{
    const int item = m_sequence.Item();
    // A read that failed was told by the step as it happened; what remains is a WAV that could not be made.
    if (end.Result == ProcessResult::WavNotCreated && end.Message.isEmpty())
        m_view.ShowError(
            wavOf(item) +
            LocalizedText("RES_CreateWavFileError",
                          " is not a valid file name. Please rename the Title in the CD tracks list. "
                          "The file name cannot contain any of the following characters: /: *? <>|"));
    else if (end.Result != ProcessResult::Done && end.Result != ProcessResult::ReadError &&
             !end.Message.isEmpty())
        m_view.ShowError(end.Message); // the file or track, and the reason
    const bool read = end.Result == ProcessResult::Done;
    recordTrack(item, end);
    if (OnTrackRead)
        OnTrackRead(item, read);
    const TCommonOptions &options = m_settings.CommonOptions;
    if (options.OutputFormat == OutputFormat::Wav && read && options.ImageFormat < 0)
        m_view.FileMade(wavOf(item)); // an image's tracks go into the image
    if (options.OutputFormat == OutputFormat::Wma && m_read)
        m_read->Stop();
    m_sequence.StepEnded(read);
}

void TExtractJob::recordTrack(int item, const TReadEnd &end)
{
    if (!m_report || !m_read)
        return;
    const TJobItem entry = TJobItem::Of(m_files.value(item));
    TTrackRip track = TTrackRip::Of(
        m_settings.DiscInfo, entry.Track, entry.Base,
        entry.File(
            m_settings.CommonOptions.OutputFolder,
            OutputFormatExtension(ReportFormat >= 0 ? ReportFormat : m_settings.CommonOptions.OutputFormat)));
    m_read->Describe(track, end);
    // A track read with sectors that could not be read is made all the same (silence in their place), and
    // said: it is not a good copy.
    if (track.Read && track.Damaged())
        m_view.ShowError(DamagedText(track));
    m_report->Record(track, entry.Base, m_view);
}

void TExtractJob::encodeTrack(int item)
{
    stage(TExtractStage::Encoding, item);
    const TJobItem entry = TJobItem::Of(m_files.value(item));
    TEncodeRequest request;
    request.Format = m_settings.CommonOptions.OutputFormat;
    request.Source = wavOf(item);
    request.Target = entry.File(m_settings.CommonOptions.OutputFolder, OutputFormatExtension(request.Format));
    request.Track = entry.Track;
    request.TrackBase = entry.Base;
    request.TagMp3 = m_settings.Use || Ways.TagMp3Always;
    request.Ogg = Ways.Ogg;
    request.ErrorName = request.Target;
    if (request.Format == OutputFormat::Wma) {
        m_view.Progress(TProcessInfo{0, QString(), QString(), 0});
        m_wmaProgress.Start(request.Source);
    }
    Encoding.Start(m_settings, request);
}

void TExtractJob::progress(const TProcessInfo &info)
{
    m_wmaProgress.Stop();
    m_busy = true;
    m_view.Progress(info);
}

void TExtractJob::encoded(const TEncodeEnd &end)
{
    const int item = m_sequence.Item();
    const int32_t result = end.Result;
    if (end.Event == ProcessEvent::WmaEncoded)
        m_wmaProgress.Stop();
    if (!end.Made.isEmpty())
        m_view.FileMade(end.Made);
    if (!end.Kept.isEmpty())
        m_view.FileKept(end.Kept);
    if (end.Event != ProcessEvent::FileWritten && result == ProcessResult::InUse && !m_busy)
        m_view.ShowError(Encoding.Request().Target +
                         LocalizedText("RES_Operate_Fail", "maybe be used,operate fail!"));
    if (end.Event == ProcessEvent::Mp3Encoded && result == ProcessResult::Ended && !m_busy)
        m_view.ShowError(LocalizedText("RES_Check_Mp3Options",
                                       "Create MP3 file error!\r\nPlease check the "
                                       "output and lame options or run application again."));
    // A failure comes with its message, the file named; so does a tag that could not be written.
    if (!end.Message.isEmpty())
        m_view.ShowError(end.Message);
    // The WAV of a track whose encoding failed is all the user has of it: it stays. (A file another run is
    // making is that run's: this run's WAV of it goes.)
    if ((result == ProcessResult::EncoderFailed && !end.Busy) ||
        (result == ProcessResult::InUse && end.Event != ProcessEvent::FileWritten))
        m_failedItems.insert(item);
    const QString wav = Encoding.Request().Source;
    if (result == ProcessResult::Ended && Ways.WavGoesWhenEncoded && !m_settings.CommonOptions.IsKeepWav &&
        QFileInfo::exists(wav) && !FileInUse(wav))
        RemoveMadeFile(wav);
    m_busy = false;
    m_lastEnd = end.Event;
    m_sequence.StepEnded(result == ProcessResult::Ended);
}

void TExtractJob::finishWhole()
{
    CleanUp();
    // The WAVs that go are removed on a thread of their own; the job ends once they are gone.
    m_remover.RemoveAll(std::exchange(m_toRemove, {}), [this] { report(); });
}

void TExtractJob::report()
{
    if (!m_report || !m_report->Wanted()) {
        finish(mrCancel);
        return;
    }
    m_view.Stage(m_report->Session.Verify ? TExtractStage::Verifying : TExtractStage::WritingLog, 0, total(),
                 QString());
    m_report->Run(m_view, [this] { finish(mrCancel); });
}

void TExtractJob::finish(int result)
{
    if (m_finished)
        return;
    m_finished = true;
    m_wmaProgress.Stop();
    m_view.Finish(result);
}

void TExtractJob::CleanUp()
{
    if (m_filesFreed)
        return;
    m_sequence.Stop();
    if (m_read)
        m_read->Close();
    // The WAVs the user did not ask to keep go, at the end and when the job is stopped alike (a stopped rip
    // left them all, and a rerun then took them for finished tracks); the WAV of a track whose encoding
    // failed is all the user has of it. (On the path whose WAVs go as each is encoded, a stopped read's WAV
    // stays, its header true to what was read.)
    const TCommonOptions &options = m_settings.CommonOptions;
    if (options.OutputFormat != OutputFormat::Wav && !options.IsKeepWav && !Ways.WavGoesWhenEncoded)
        for (int i = 0; i < m_files.size(); ++i)
            if (!m_failedItems.contains(i))
                m_toRemove << wavOf(i);
    m_files.clear();
    m_filesFreed = true;
    m_wmaProgress.Stop();
    // An encoding still running ends here, and its working file goes with it.
    Encoding.Stop();
}

void TExtractJob::Stop()
{
    if (m_report)
        m_report->Cancel();
    // An image's track WAVs are steps on the way to it: a stopped image rip leaves none it made.
    const TCommonOptions &options = m_settings.CommonOptions;
    if (options.ImageFormat >= 0 && !options.IsKeepWav)
        for (int i = 0; i < m_files.size(); ++i)
            m_toRemove << wavOf(i);
    CleanUp();
    for (const QString &wav : std::exchange(m_toRemove, {}))
        RemoveMadeFile(wav);
    finish(mrAbort);
}
