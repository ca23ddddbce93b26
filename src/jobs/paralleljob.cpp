// SPDX-License-Identifier: GPL-3.0-or-later
#include "paralleljob.h"

#include "audio/encoderprocess.h"
#include "cdripjob.h"
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

// What a part of the job shows goes to the job's presenter: the reading job's as it is, an encoding's as
// its own line (and, in a conversion, as the window's caption too).
class TParallelJob::PartPresenter final : public TRipJobPresenter {
public:
    PartPresenter(TParallelJob &owner, Lane *lane) : m_owner(owner), m_lane(lane) {}

    void SetCaption(const QString &text) override
    {
        if (!m_lane || conversion())
            m_owner.m_presenter->SetCaption(text);
        if (m_lane) {
            m_caption = text;
            showLine();
        }
    }
    void SetStage(const QString &text) override
    {
        if (!m_lane || conversion())
            m_owner.m_presenter->SetStage(text);
    }
    void SetElapsed(const QString &text) override
    {
        if (!m_lane || conversion())
            m_owner.m_presenter->SetElapsed(text);
    }
    void SetEstimated(const QString &text) override
    {
        if (!m_lane || conversion())
            m_owner.m_presenter->SetEstimated(text);
    }
    void SetInitializing(const QString &text, bool visible) override
    {
        if (!m_lane || conversion())
            m_owner.m_presenter->SetInitializing(text, visible);
    }
    void SetGauge(int percent, bool showText) override
    {
        if (!m_lane || conversion())
            m_owner.m_presenter->SetGauge(percent, showText);
        if (m_lane) {
            m_percent = percent;
            showLine();
        }
    }
    void ShowError(const QString &text) override { m_owner.m_view.ShowError(text); }
    void FileKept(const QString &path) override { m_owner.m_view.FileKept(path); }
    void FileMade(const QString &path) override
    {
        // The reading job's WAVs are steps on the way, not what the extraction makes.
        if (m_lane || m_owner.m_kind != JobKind::ExtractTracks || !path.endsWith(QLatin1String(".wav")))
            m_owner.m_view.FileMade(path);
    }
    void ReadPathFailed() override
    {
        if (m_owner.m_presenter)
            m_owner.m_presenter->ReadPathFailed();
    }
    void ShowVerification(const TRipSession &session) override { m_owner.m_verdicts = session; }
    void Finish(int result) override
    {
        // Queued: the part's job is still inside this call, and goes when its end is handled.
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

private:
    bool conversion() const { return m_owner.m_kind != JobKind::ExtractTracks; }
    void showLine();

    TParallelJob &m_owner;
    Lane *m_lane;
    QString m_caption;
    int m_percent = 0;
};

struct TParallelJob::Lane {
    int Slot = 0;
    // Declared before the job, which uses them: destroyed after it.
    TMp3EncodeProcess Mp3;
    TWMAEncodeProcess Wma;
    std::unique_ptr<PartPresenter> Presenter;
    std::unique_ptr<TRipJob> Job;
    bool Busy = false;
    int Item = -1;
};

// The drive component's reading job shows its read in its window as before; its WAVs are steps on the way,
// and its end and verdicts come to the whole job.
class TParallelJob::CDReaderPresenter final : public TCDRipJobPresenter {
public:
    explicit CDReaderPresenter(TParallelJob &owner) : m_owner(owner) {}
    void SetCurrentTrack(const QString &text) override { m_owner.m_cdPresenter->SetCurrentTrack(text); }
    void SetOutputFormat(const QString &) override
    {
        m_owner.m_cdPresenter->SetOutputFormat(
            OutputFormatName(m_owner.m_settings.CommonOptions.OutputFormat));
    }
    void SetSelectedTracks(int count) override { m_owner.m_cdPresenter->SetSelectedTracks(count); }
    void SetCompleted(int count) override { m_owner.m_cdPresenter->SetCompleted(count); }
    void SetProgressHint(const QString &text) override { m_owner.m_cdPresenter->SetProgressHint(text); }
    void SetGauge(int percent) override { m_owner.m_cdPresenter->SetGauge(percent); }
    void ShowError(const QString &text) override { m_owner.m_view.ShowError(text); }
    void FileMade(const QString &path) override
    {
        if (!path.endsWith(QLatin1String(".wav")))
            m_owner.m_view.FileMade(path);
    }
    void ShowVerification(const TRipSession &session) override { m_owner.m_verdicts = session; }
    void Finish(int result) override
    {
        QMetaObject::invokeMethod(
            &m_owner, [owner = &m_owner, result] { owner->readerFinished(result); }, Qt::QueuedConnection);
    }

private:
    TParallelJob &m_owner;
};

void TParallelJob::PartPresenter::showLine()
{
    m_owner.m_view.SetEncoding(m_lane->Slot, m_caption, m_percent);
}

TParallelJob::TParallelJob(JobKind kind, TCdHandle cdHandle, const QStringList &files,
                           const TOptionsSetting &settings, TRipJobPresenter &presenter,
                           TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, int lanes, QObject *parent)
    : QObject(parent), m_kind(kind), m_settings(settings), m_files(files), m_view(presenter),
      m_presenter(&presenter), m_mp3(mp3), m_wma(wma), m_cdHandle(cdHandle)
{
    makeLanes(lanes);
}

TParallelJob::TParallelJob(TCDIn &cdIn, const QStringList &files, const TOptionsSetting &settings,
                           TCDRipJobPresenter &presenter, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma,
                           int lanes, QObject *parent)
    : QObject(parent), m_kind(JobKind::ExtractTracks), m_settings(settings), m_files(files),
      m_view(presenter), m_cdPresenter(&presenter), m_mp3(mp3), m_wma(wma), m_cdIn(&cdIn)
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
        lane->Presenter = std::make_unique<PartPresenter>(*this, lane.get());
        m_lanes.push_back(std::move(lane));
    }
}

TParallelJob::~TParallelJob()
{
    CleanUp();
    for (auto &lane : m_lanes)
        lane->Job.reset();
    m_reader.reset();
}

void TParallelJob::Start()
{
    if (m_kind != JobKind::ExtractTracks) {
        for (int i = 0; i < m_files.size(); ++i)
            m_queue.push_back(i);
        startNext();
        finishIfDone(); // an empty list
        return;
    }
    // The reading job writes WAVs only; its log and cue sheet name the files the encodings make.
    TOptionsSetting reading = m_settings;
    reading.CommonOptions.OutputFormat = OutputFormat::Wav;
    const auto trackDone = [this](int item, bool ok) { trackRead(item, ok); };
    if (m_cdIn) {
        m_cdReaderPresenter = std::make_unique<CDReaderPresenter>(*this);
        auto reader =
            std::make_unique<TCDRipJob>(*m_cdIn, m_files, reading, *m_cdReaderPresenter, m_mp3, m_wma);
        reader->ReportFormat = m_settings.CommonOptions.OutputFormat;
        reader->OnTrackRead = trackDone;
        m_reader = std::move(reader);
    } else {
        m_readerPresenter = std::make_unique<PartPresenter>(*this, nullptr);
        auto reader = std::make_unique<TRipJob>(JobKind::ExtractTracks, m_cdHandle, m_files, reading,
                                                *m_readerPresenter, m_mp3, m_wma);
        reader->ReportFormat = m_settings.CommonOptions.OutputFormat;
        reader->OnTrackRead = trackDone;
        m_reader = std::move(reader);
    }
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
        TOptionsSetting settings = m_settings;
        if (m_kind == JobKind::ExtractTracks) {
            // The reading job verifies and logs; an encoding only encodes.
            settings.CommonOptions.VerifyAccurateRip = false;
            settings.CommonOptions.TestAndCopy = false;
            settings.CommonOptions.WriteLog = false;
            settings.CommonOptions.WriteCue = false;
            // The WAVs go as the sequential job of the read path lets them go: through the library at the end
            // of the whole job (a stopped job keeps them); through the drive component as each is encoded.
            if (!m_cdIn)
                settings.CommonOptions.IsKeepWav = true;
        }
        lane->Presenter->reset();
        lane->Job = std::make_unique<TRipJob>(m_kind, 0, QStringList{m_files.value(item)}, settings,
                                              *lane->Presenter, lane->Mp3, lane->Wma);
        lane->Job->SkipRead = m_kind == JobKind::ExtractTracks;
        lane->Job->NumberBase = item;
        lane->Job->NumberTotal = int(m_files.size());
        lane->Job->TempTag = lane->Slot > 0 ? QString::number(lane->Slot + 1) : QString();
        lane->Job->TagMp3Always = m_cdIn != nullptr;
        lane->Busy = true;
        lane->Item = item;
        lane->Job->Start();
    }
}

void TParallelJob::partFinished(Lane *lane, int result)
{
    if (lane->Job) {
        if (!lane->Job->FailedItems().isEmpty() || result == mrAbort)
            m_failed.insert(lane->Item);
        lane->Job->CleanUp();
    }
    lane->Job.reset();
    lane->Busy = false;
    m_view.EndEncoding(lane->Slot);
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
    if (m_kind == JobKind::ExtractTracks && !m_stopping && m_readerResult != mrAbort && !options.IsKeepWav) {
        // Every track was read and encoded: the WAVs go, but for those whose encoding failed.
        for (int i = 0; i < m_files.size(); ++i)
            if (!m_failed.contains(i))
                wavs << TJobItem::Of(m_files[i]).File(options.OutputFolder, QStringLiteral(".wav"));
    }
    // They are removed on a thread of their own (a window would stall for each); the job ends after.
    m_remover.RemoveAll(wavs, [this] {
        if (m_verdicts)
            m_view.ShowVerification(*m_verdicts);
        m_view.Finish(m_stopping ? mrAbort : m_readerResult);
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
        if (lane->Job && !lane->Job->Finished())
            lane->Job->Stop();
    CleanUp();
    // The WAVs the user did not ask to keep go with the stop, but for those whose encoding failed.
    const TCommonOptions &options = m_settings.CommonOptions;
    if (m_kind == JobKind::ExtractTracks && !m_cdIn && !options.IsKeepWav &&
        (options.OutputFormat != OutputFormat::Wav || options.ImageFormat >= 0))
        for (int i = 0; i < m_files.size(); ++i)
            if (!m_failed.contains(i))
                RemoveMadeFile(TJobItem::Of(m_files[i]).File(options.OutputFolder, QStringLiteral(".wav")));
    m_finished = true;
    m_view.Finish(mrAbort);
}

void TParallelJob::CleanUp()
{
    if (m_reader)
        m_reader->CleanUp();
    for (auto &lane : m_lanes)
        if (lane->Job)
            lane->Job->CleanUp();
}

std::unique_ptr<TJobRun> MakeRipJob(JobKind kind, TCdHandle cdHandle, const QStringList &files,
                                    const TOptionsSetting &settings, TRipJobPresenter &presenter,
                                    TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma)
{
    const int lanes = std::min<int>(EncodersAtOnce(settings), int(files.size()));
    const bool encodes = kind == JobKind::ExtractTracks
                             ? settings.CommonOptions.OutputFormat != OutputFormat::Wav
                             : kind != JobKind::RecordingToMp3;
    if (lanes > 1 && encodes)
        return std::make_unique<TParallelJob>(kind, cdHandle, files, settings, presenter, mp3, wma, lanes);
    return std::make_unique<TRipJob>(kind, cdHandle, files, settings, presenter, mp3, wma);
}

std::unique_ptr<TJobRun> MakeCDRipJob(TCDIn &cdIn, const QStringList &files, const TOptionsSetting &settings,
                                      TCDRipJobPresenter &presenter, TMp3EncodeProcess &mp3,
                                      TWMAEncodeProcess &wma)
{
    const int lanes = std::min<int>(EncodersAtOnce(settings), int(files.size()));
    if (lanes > 1 && settings.CommonOptions.OutputFormat != OutputFormat::Wav)
        return std::make_unique<TParallelJob>(cdIn, files, settings, presenter, mp3, wma, lanes);
    return std::make_unique<TCDRipJob>(cdIn, files, settings, presenter, mp3, wma);
}
