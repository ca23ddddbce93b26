// SPDX-License-Identifier: GPL-3.0-or-later
#include "paralleljob.h"

#include "audio/encoderprocess.h"
#include "jobitem.h"
#include "shell/helpers.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

int EncodersAtOnce(const TOptionsSetting &settings)
{
    const int wanted = settings.CommonOptions.EncodersAtOnce;
    return wanted > 0 ? wanted : std::max(1, QThread::idealThreadCount());
}

struct TParallelJob::Lane {
    int Slot = 0;
    // Declared before the jobs, which use them: destroyed after them.
    TMp3EncodeProcess Mp3;
    TWMAEncodeProcess Wma;
    std::unique_ptr<ConversionPart> ConversionView;
    std::unique_ptr<ExtractionPart> ExtractionView;
    std::unique_ptr<TRipJob> Conversion;
    std::unique_ptr<TExtractJob> Extraction;
    bool Busy = false;
    int Item = -1;

    TJobRun *Job() const { return Conversion ? static_cast<TJobRun *>(Conversion.get()) : Extraction.get(); }
    bool Failed() const
    {
        return (Conversion && !Conversion->FailedItems().isEmpty()) ||
               (Extraction && !Extraction->FailedItems().isEmpty());
    }
    void Reset()
    {
        Conversion.reset();
        Extraction.reset();
    }
};

// What every part tells the whole: its failures and files kept, its end, and (an encoding) its own line.
template <typename View> class TParallelJob::Part : public View {
public:
    // lane: the encoding's; nullptr for the reading job of an extraction.
    Part(TParallelJob &owner, Lane *lane) : m_owner(owner), m_lane(lane) {}

    void ShowError(const QString &text) override { m_owner.m_outcome.ShowError(text); }
    void ShowWarning(const QString &text) override { m_owner.m_outcome.ShowWarning(text); }
    void FileKept(const QString &path) override { m_owner.m_outcome.FileKept(path); }
    // Queued: the part's job is still inside this call, and goes when its end is handled.
    void Finish(int result) override
    {
        QMetaObject::invokeMethod(
            &m_owner,
            [owner = &m_owner, lane = m_lane, result] {
                if (lane)
                    owner->partFinished(lane, result);
                else
                    owner->readerFinished(result);
            },
            Qt::QueuedConnection);
    }
    void reset()
    {
        m_caption.clear();
        m_percent = 0;
    }

protected:
    void showLine(const QString *caption, int percent)
    {
        if (caption)
            m_caption = *caption;
        if (percent >= 0)
            m_percent = percent;
        m_owner.m_outcome.SetEncoding(m_lane->Slot, m_caption, m_percent);
    }

    TParallelJob &m_owner;
    Lane *m_lane;

private:
    QString m_caption;
    int m_percent = 0;
};

// What a conversion's part shows goes to the job's window, and as its own line.
class TParallelJob::ConversionPart final : public Part<TRipJobPresenter> {
public:
    using Part::Part;

    void SetCaption(const QString &text) override
    {
        m_owner.m_presenter->SetCaption(text);
        showLine(&text, -1);
    }
    void SetStage(const QString &text) override { m_owner.m_presenter->SetStage(text); }
    void SetElapsed(const QString &text) override { m_owner.m_presenter->SetElapsed(text); }
    void SetEstimated(const QString &text) override { m_owner.m_presenter->SetEstimated(text); }
    void SetInitializing(const QString &text, bool visible) override
    {
        m_owner.m_presenter->SetInitializing(text, visible);
    }
    void SetGauge(int percent, bool showText) override
    {
        m_owner.m_presenter->SetGauge(percent, showText);
        showLine(nullptr, percent);
    }
    void FileMade(const QString &path) override { m_owner.m_outcome.FileMade(path); }
};

// What an extraction's part shows: the reading job's read as the whole's (its WAVs are steps on the way,
// its end and verdicts come to the whole job); an encoding as its own line.
class TParallelJob::ExtractionPart final : public Part<TExtractView> {
public:
    using Part::Part;

    void Begin(int tracks, int32_t format) override
    {
        // The reading job makes WAVs; the window names the format the whole job makes.
        Q_UNUSED(format)
        if (!m_lane)
            m_owner.m_view->Begin(tracks, m_owner.m_settings.CommonOptions.OutputFormat);
    }
    void Stage(TExtractStage stage, int number, int total, const QString &base) override
    {
        if (!m_lane) {
            m_owner.m_view->Stage(stage, number, total, base);
            return;
        }
        const QString caption = StageCaption(StageCaptionWord(stage), number, total, base);
        showLine(&caption, -1);
    }
    void Progress(const TProcessInfo &info) override
    {
        if (!m_lane)
            m_owner.m_view->Progress(info);
        else if (info.Percent >= 0)
            showLine(nullptr, info.Percent);
    }
    void ReadPathFailed() override { m_owner.m_view->ReadPathFailed(); }
    void FileMade(const QString &path) override
    {
        if (m_lane || !path.endsWith(QLatin1String(".wav")))
            m_owner.m_outcome.FileMade(path);
    }
    void ShowVerification(const TRipSession &session) override { m_owner.m_verdicts = session; }
};

TParallelJob::TParallelJob(JobKind kind, const QStringList &files, const TOptionsSetting &settings,
                           TRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma,
                           int lanes, QObject *parent)
    : QObject(parent), m_kind(kind), m_settings(settings), m_files(files), m_outcome(presenter),
      m_presenter(&presenter), m_mp3(mp3), m_wma(wma)
{
    makeLanes(lanes);
}

TParallelJob::TParallelJob(const TReadSource &source, const QStringList &files,
                           const TOptionsSetting &settings, TExtractView &view, TMp3EncodeProcess &mp3,
                           TWMAEncodeProcess &wma, int lanes, QObject *parent)
    : QObject(parent), m_kind(JobKind::ExtractTracks), m_settings(settings), m_files(files), m_outcome(view),
      m_view(&view), m_mp3(mp3), m_wma(wma), m_source(source)
{
    makeLanes(lanes);
}

void TParallelJob::makeLanes(int lanes)
{
    for (int i = 0; i < std::max(lanes, 1); ++i) {
        auto lane = std::make_unique<Lane>();
        lane->Slot = i;
        lane->Mp3.Prompt = m_mp3.Prompt;
        lane->Wma.Prompt = m_wma.Prompt;
        lane->ConversionView = std::make_unique<ConversionPart>(*this, lane.get());
        lane->ExtractionView = std::make_unique<ExtractionPart>(*this, lane.get());
        m_lanes.push_back(std::move(lane));
    }
}

TParallelJob::~TParallelJob()
{
    CleanUp();
    for (auto &lane : m_lanes)
        lane->Reset();
    m_reader.reset();
}

QString TParallelJob::wavOf(int item) const
{
    return TJobItem::Of(m_files.value(item))
        .File(m_settings.CommonOptions.OutputFolder, QStringLiteral(".wav"));
}

void TParallelJob::Start()
{
    if (!extracting()) {
        for (int i = 0; i < m_files.size(); ++i)
            m_queue.push_back(i);
        startNext();
        finishIfDone(); // an empty list
        return;
    }
    // The reading job writes WAVs only; its log and cue sheet name the files the encodings make.
    TOptionsSetting reading = m_settings;
    reading.CommonOptions.OutputFormat = OutputFormat::Wav;
    m_readerView = std::make_unique<ExtractionPart>(*this, nullptr);
    m_reader = std::make_unique<TExtractJob>(m_source, m_files, reading, *m_readerView, m_mp3, m_wma);
    m_reader->ReportFormat = m_settings.CommonOptions.OutputFormat;
    m_reader->OnTrackRead = [this](int item, bool ok) { trackRead(item, ok); };
    m_ways = m_reader->Ways;
    m_readerDone = false;
    m_reader->Start();
}

void TParallelJob::trackRead(int item, bool ok)
{
    if (!ok || m_stopping)
        return;
    m_queue.push_back(item);
    startNext();
}

void TParallelJob::startNext()
{
    for (auto &lane : m_lanes) {
        if (m_queue.empty() || m_stopping)
            return;
        if (lane->Busy)
            continue;
        const int item = m_queue.front();
        m_queue.pop_front();
        startPart(*lane, item);
    }
}

void TParallelJob::startPart(Lane &lane, int item)
{
    lane.Busy = true;
    lane.Item = item;
    const QStringList files{m_files.value(item)};
    TOptionsSetting settings = m_settings;
    if (!extracting()) {
        lane.ConversionView->reset();
        lane.Conversion =
            std::make_unique<TRipJob>(m_kind, files, settings, *lane.ConversionView, lane.Mp3, lane.Wma);
        lane.Conversion->NumberBase = item;
        lane.Conversion->NumberTotal = int(m_files.size());
        lane.Conversion->TempTag = lane.Slot > 0 ? QString::number(lane.Slot + 1) : QString();
        lane.Conversion->Start();
        return;
    }
    // The reading job verifies and logs; an encoding only encodes.
    settings.CommonOptions.VerifyAccurateRip = false;
    settings.CommonOptions.TestAndCopy = false;
    settings.CommonOptions.WriteLog = false;
    settings.CommonOptions.WriteCue = false;
    // The WAVs go as the sequential job of the read path lets them go: as each is encoded, or at the end of
    // the whole job.
    if (!m_ways.WavGoesWhenEncoded)
        settings.CommonOptions.IsKeepWav = true;
    lane.ExtractionView->reset();
    lane.Extraction = std::make_unique<TExtractJob>(TReadSource{}, files, settings, *lane.ExtractionView,
                                                    lane.Mp3, lane.Wma);
    lane.Extraction->SkipRead = true;
    lane.Extraction->NumberBase = item;
    lane.Extraction->NumberTotal = int(m_files.size());
    lane.Extraction->Ways = m_ways;
    lane.Extraction->Start();
}

void TParallelJob::partFinished(Lane *lane, int result)
{
    if (TJobRun *job = lane->Job()) {
        if (lane->Failed() || result == mrAbort)
            m_failed.insert(lane->Item);
        job->CleanUp();
    }
    lane->Reset();
    lane->Busy = false;
    m_outcome.EndEncoding(lane->Slot);
    if (m_finished)
        return;
    startNext();
    finishIfDone();
}

void TParallelJob::readerFinished(int result)
{
    m_readerDone = true;
    m_readerResult = result;
    if (m_reader)
        m_reader->CleanUp();
    finishIfDone();
}

void TParallelJob::finishIfDone()
{
    if (m_finished || !m_readerDone || !m_queue.empty())
        return;
    for (auto &lane : m_lanes)
        if (lane->Busy)
            return;
    m_finished = true;
    const TCommonOptions &options = m_settings.CommonOptions;
    QStringList wavs;
    if (extracting() && !m_stopping && m_readerResult != mrAbort && !options.IsKeepWav) {
        // Every track was read and encoded: the WAVs go, but for those whose encoding failed.
        for (int i = 0; i < m_files.size(); ++i)
            if (!m_failed.contains(i))
                wavs << wavOf(i);
    }
    // They are removed on a thread of their own (a window would stall for each); the job ends after.
    m_remover.RemoveAll(wavs, [this] {
        if (m_verdicts)
            m_outcome.ShowVerification(*m_verdicts);
        m_outcome.Finish(m_stopping ? mrAbort : m_readerResult);
    });
}

void TParallelJob::Stop()
{
    if (m_finished)
        return;
    m_stopping = true;
    m_queue.clear();
    if (m_reader && !m_reader->Finished())
        m_reader->Stop();
    for (auto &lane : m_lanes)
        if (TJobRun *job = lane->Job(); job && !job->Finished())
            job->Stop();
    CleanUp();
    // The WAVs the user did not ask to keep go with the stop, but for those whose encoding failed.
    const TCommonOptions &options = m_settings.CommonOptions;
    if (extracting() && !options.IsKeepWav && !m_ways.WavGoesWhenEncoded &&
        (options.OutputFormat != OutputFormat::Wav || options.ImageFormat >= 0))
        for (int i = 0; i < m_files.size(); ++i)
            if (!m_failed.contains(i))
                RemoveMadeFile(wavOf(i));
    m_finished = true;
    m_outcome.Finish(mrAbort);
}

void TParallelJob::CleanUp()
{
    if (m_reader)
        m_reader->CleanUp();
    for (auto &lane : m_lanes)
        if (TJobRun *job = lane->Job())
            job->CleanUp();
}

std::unique_ptr<TJobRun> MakeRipJob(JobKind kind, const QStringList &files, const TOptionsSetting &settings,
                                    TRipJobPresenter &presenter, TMp3EncodeProcess &mp3,
                                    TWMAEncodeProcess &wma)
{
    const int lanes = std::min<int>(EncodersAtOnce(settings), int(files.size()));
    if (lanes > 1 && kind != JobKind::RecordingToMp3)
        return std::make_unique<TParallelJob>(kind, files, settings, presenter, mp3, wma, lanes);
    return std::make_unique<TRipJob>(kind, files, settings, presenter, mp3, wma);
}

std::unique_ptr<TJobRun> MakeExtractJob(const TReadSource &source, const QStringList &files,
                                        const TOptionsSetting &settings, TExtractView &view,
                                        TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma)
{
    const int lanes = std::min<int>(EncodersAtOnce(settings), int(files.size()));
    if (lanes > 1 && settings.CommonOptions.OutputFormat != OutputFormat::Wav)
        return std::make_unique<TParallelJob>(source, files, settings, view, mp3, wma, lanes);
    return std::make_unique<TExtractJob>(source, files, settings, view, mp3, wma);
}
