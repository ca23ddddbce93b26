// SPDX-License-Identifier: GPL-3.0-or-later
#include "convertjob.h"

#include "audio/audioconverter.h"
#include "audio/auexception.h"
#include "audio/decoders.h"
#include "audio/encoderprocess.h"
#include "audio/outputcheck.h"
#include "filewriters.h"
#include "replaygain.h"
#include "shell/childprocess.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"
#include "shell/userprompt.h"
#include "tags/tagcopy.h"
#include "wavein.h"
#include "waveout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <atomic>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <utility>

// One file at a time through its steps. Its encoder programs report to it as to a job window.
class TConvertJob::Lane final : public QObject {
public:
    Lane(TConvertJob &job, int slot) : m_job(job), m_slot(slot), m_encoding(m_mp3, m_wma)
    {
        const auto progress = [this](TAuOutput *sink) { showPercent(sink->Progress()); };
        const auto failure = [this](TAuOutput *sink) { m_problem = sink->ExceptionMessage(); };
        connect(&m_encoding, &TEncodeStep::progress, this, [this](const TProcessInfo &info) {
            if (info.Percent >= 0 && info.Percent <= 100)
                showPercent(info.Percent);
        });
        connect(&m_encoding, &TEncodeStep::finished, this, [this](const TEncodeEnd &end) { encoded(end); });
        m_waveOut.SetWavType(wtPCM);
        m_waveOut.FileMode = foRewrite;
        m_waveOut.OnProgress = progress;
        m_waveOut.OnThreadException = failure;
        m_waveOut.OnDone = [this](TAuOutput *) {
            if (m_temporary.isEmpty())
                settle(&m_waveOut);
            else
                temporaryMade();
        };
        m_decoder.OnLines = [this](TChildProcess::Stream, const QStringList &lines) {
            for (const QString &line : lines)
                if (line.startsWith(QLatin1String("Decoding: ")))
                    showPercent(line.mid(10).chopped(1).toInt());
        };
        m_decoder.OnFinished = [this](int exitCode, int) { decoded(exitCode); };
    }
    ~Lane() override { stop(); }

    bool Busy() const { return m_index >= 0; }

    void Start(int index);
    // Ends whatever runs; nothing it was making is left.
    void stop();

private:
    const TConvertItem &item() const { return m_job.m_items[size_t(m_index)]; }
    QString caption() const { return QFileInfo(item().Source).fileName(); }
    void showPercent(int percent) { m_job.m_presenter.SetEncoding(m_slot, caption(), percent); }
    // WMA and MP4 files are decoded to a WAV first by the WMA program (FFmpeg's decoders).
    void startDecoder();
    void decoded(int exitCode);
    void openSource(const QString &path);
    void encode();
    void startProgram(const QString &wav);
    // The encoding of the item from `source` (the file read, or the WAV an encoder program reads).
    TEncodeRequest encodeRequest(const QString &source) const;
    void temporaryMade();
    void settle(TAuFileOut *sink);
    void encoded(const TEncodeEnd &end);
    // The file is complete under its working name: its tags and its track loudness go in on a worker
    // thread, and only then does it take its name. A file under its name is finished, never half so.
    void finishFile(const QString &working);
    void fileFinished(const QString &working, const QString &error, const QString &warning,
                      const std::shared_ptr<TFileLoudness> &loudness);
    void joinFinisher();
    // skipped: left to another run, which is making the same file.
    void end(bool made, bool skipped = false);
    // A hidden file of this run beside the target, for a WAV made on the way.
    QString workFileOf(const QString &suffix) const;
    // Closes the source and removes the WAVs made on the way.
    void dropWorkFiles();

    TConvertJob &m_job;
    const int m_slot;
    int m_index = -1;
    TMp3EncodeProcess m_mp3;
    TWMAEncodeProcess m_wma;
    TEncodeStep m_encoding;
    TWaveOut m_waveOut;
    TAudioConverter m_converter;
    TChildProcess m_decoder;
    std::unique_ptr<TAuInput> m_source;
    QString m_sourcePath; // what is read: the item's source, or its decoded WAV
    QString m_decoded;    // the WAV the WMA program decoded the source into, while there is one
    QString m_temporary;  // the 16-bit WAV an encoder program reads, while there is one
    QString m_problem;    // why the running step failed
    std::thread m_finisher;
    std::atomic<bool> m_stopFinishing{false};
    TFileIdentity m_sourceIdentity; // the source as it was when its conversion started
    int m_redone = 0;               // how often it changed under the conversion
};

void TConvertJob::Lane::Start(int index)
{
    if (m_index != index)
        m_redone = 0;
    m_index = index;
    m_sourceIdentity = FileIdentityOf(item().Source);
    m_problem.clear();
    m_temporary.clear();
    showPercent(0);
    try {
        if (QString error; !MakeFolder(QFileInfo(item().Target).path(), &error))
            throw EAuException(error);
        // Another run writing the same file has it: this run refuses it by name, or with Update leaves it
        // to that run.
        bool busy = false;
        if (QString error; ClaimWorkingFile(item().Target, &error, &busy).isEmpty()) {
            if (!busy || !m_job.Update)
                throw EAuException(error);
            m_job.m_presenter.ShowWarning(item().Target +
                                          QStringLiteral(": another run is making this file; skipped"));
            end(false, true);
            return;
        }
        const TAudioFileKind kind = AudioFileKindOf(item().Source);
        if (kind == TAudioFileKind::Asf || kind == TAudioFileKind::Mp4) {
            startDecoder();
            return;
        }
        openSource(item().Source);
        encode();
    } catch (const std::exception &e) {
        m_job.m_presenter.ShowError(QString::fromUtf8(e.what()));
        end(false);
    }
}

void TConvertJob::Lane::startDecoder()
{
    m_decoded = workFileOf(QStringLiteral(".source.wav"));
    const QString program = TWMAEncodeProcess::Executable();
    if (program.isEmpty())
        throw EAuException(item().Source +
                           QStringLiteral(": WM8EUTIL, which decodes WMA and MP4 files, was not found"));
    if (const int error = m_decoder.Start(program, {QStringLiteral("-decode"), QStringLiteral("-input"),
                                                    PathArgument(item().Source), QStringLiteral("-output"),
                                                    PathArgument(m_decoded)});
        error != 0)
        throw EAuException(program + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
}

void TConvertJob::Lane::decoded(int exitCode)
{
    if (!Busy())
        return;
    try {
        if (exitCode != 0) {
            const QString said = m_decoder.LastErrorLine();
            throw EAuException(item().Source + QStringLiteral(": ") +
                               (said.isEmpty() ? QStringLiteral("the decoder failed") : said));
        }
        openSource(m_decoded);
        encode();
    } catch (const std::exception &e) {
        m_job.m_presenter.ShowError(QString::fromUtf8(e.what()));
        end(false);
    }
}

void TConvertJob::Lane::openSource(const QString &path)
{
    m_sourcePath = path;
    // A source without a single sample is refused: every format would make a file of nothing (and Opus an
    // invalid one). A WAV's size is known; a compressed file's is only claimed, so its first block is decoded
    // on a probe of its own.
    bool empty = false;
    if (AudioFileKindOf(path) == TAudioFileKind::Wav) {
        auto wav = std::make_unique<TWaveIn>();
        wav->SetFileName(path);
        if (!wav->TryOpen())
            throw EAuException(path + QStringLiteral(": ") + wav->OpenError);
        empty = wav->Size == 0;
        m_source = std::move(wav);
    } else {
        m_source = TDecodedFileIn::Open(path);
        const std::unique_ptr<TDecodedFileIn> probe = TDecodedFileIn::Open(path);
        probe->Init();
        uint8_t *block = nullptr;
        uint32_t bytes = 4096;
        probe->GetData(block, bytes);
        empty = bytes == 0;
    }
    if (empty)
        throw EAuException(item().Source + QStringLiteral(": no audio"));
}

void TConvertJob::Lane::encode()
{
    const TOutputFormatInfo *format = OutputFormatInfo(m_job.m_format);
    const QString &target = item().Target;
    switch (format ? format->Encoder : TEncoderKind::None) {
    case TEncoderKind::Writer: {
        TEncodeRequest request = encodeRequest(item().Source);
        request.Input = m_source.get();
        m_encoding.Start(m_job.m_settings, request);
        return;
    }
    case TEncoderKind::None:
        m_waveOut.SetInput(m_source.get());
        m_waveOut.SetFileName(WorkingFileOf(target));
        m_waveOut.Run();
        return;
    default:
        break;
    }
    // The encoder programs read a 16-bit WAV file: a WAV that is one already is given as it is.
    if (dynamic_cast<TWaveIn *>(m_source.get()) && m_source->GetBitsPerSample() == 16) {
        startProgram(m_sourcePath);
        return;
    }
    m_temporary = workFileOf(QStringLiteral(".decoded.wav"));
    m_converter.SetInput(m_source.get());
    m_converter.OutBitsPerSample = m_source->GetBitsPerSample() == 16 ? 0 : 16; // 16 bits pass as they are
    m_waveOut.SetInput(&m_converter);
    m_waveOut.SetFileName(m_temporary);
    m_waveOut.Run();
}

void TConvertJob::Lane::temporaryMade()
{
    if (!m_problem.isEmpty()) {
        m_job.m_presenter.ShowError(item().Source + QStringLiteral(": ") + m_problem);
        end(false);
        return;
    }
    startProgram(m_temporary);
}

TEncodeRequest TConvertJob::Lane::encodeRequest(const QString &source) const
{
    TEncodeRequest request;
    request.Format = m_job.m_format;
    request.Source = source;
    request.Target = item().Target;
    request.Track = item().Track;
    request.TrackBase = item().TrackBase;
    request.TagMp3 = item().Track >= 0 && m_job.m_settings.Use;
    request.LeaveWorking = true;
    return request;
}

void TConvertJob::Lane::startProgram(const QString &wav)
{
    m_encoding.Start(m_job.m_settings, encodeRequest(wav));
}

void TConvertJob::Lane::encoded(const TEncodeEnd &result)
{
    if (!Busy())
        return;
    if (!result.Working.isEmpty() && result.Message.isEmpty()) {
        finishFile(result.Working);
        return;
    }
    DiscardWorkingFile(result.Working, item().Target);
    m_job.m_presenter.ShowError(!result.Message.isEmpty()
                                    ? result.Message
                                    : item().Target + QStringLiteral(": the encoder made no file"));
    end(false);
}

void TConvertJob::Lane::finishFile(const QString &working)
{
    joinFinisher();
    m_stopFinishing = false;
    const TConvertItem job = item();
    const QString tags = job.TagSource.isEmpty() ? job.Source : job.TagSource;
    const bool measure = m_job.ReplayGain && MeasuresLoudness(job.Target);
    m_finisher = std::thread([this, job, tags, measure, working] {
        QString error;
        QString warning;
        std::shared_ptr<TFileLoudness> loudness;
        // A disc track's tags were written with its encoding.
        bool ok = job.Track >= 0 || CopyFileTagsInto(tags, working, job.Target, &error, &warning);
        if (ok && measure) {
            try {
                loudness =
                    std::make_shared<TFileLoudness>(MeasureLoudness(working, job.Target, &m_stopFinishing));
                if (loudness->Blocks && !m_stopFinishing)
                    ok = SetFileTagFieldsIn(working, job.Target, TrackGainFields(job.Target, loudness->Track),
                                            &error);
            } catch (const std::exception &e) {
                error = QString::fromUtf8(e.what());
                ok = false;
            }
        }
        if (!ok && error.isEmpty())
            error = job.Target + QStringLiteral(": the tags could not be written");
        QMetaObject::invokeMethod(
            this,
            [this, working, error, warning, loudness] { fileFinished(working, error, warning, loudness); },
            Qt::QueuedConnection);
    });
}

void TConvertJob::Lane::fileFinished(const QString &working, const QString &error, const QString &warning,
                                     const std::shared_ptr<TFileLoudness> &loudness)
{
    joinFinisher();
    if (!Busy() || m_stopFinishing)
        return;
    if (!warning.isEmpty())
        m_job.m_presenter.ShowWarning(warning);
    // A source replaced while it was converted (a library being updated by another program): what was made
    // is of the old one, so it goes and the new one is converted.
    if (error.isEmpty() && FileIdentityOf(item().Source) != m_sourceIdentity && m_redone < 3) {
        ++m_redone;
        DiscardWorkingFile(working, item().Target);
        dropWorkFiles();
        m_job.m_presenter.ShowWarning(item().Source +
                                      QStringLiteral(": changed while it was converted; converted again"));
        // Busy until it starts again, unless the job is stopped first.
        QMetaObject::invokeMethod(
            this,
            [this, index = m_index] {
                if (m_index == index && !m_job.m_finished)
                    Start(index);
            },
            Qt::QueuedConnection);
        return;
    }
    QString failure = error;
    const bool made = failure.isEmpty() && SettleWorkingFile(working, item().Target, true, &failure);
    if (!made) {
        DiscardWorkingFile(working, item().Target);
        m_job.m_presenter.ShowError(failure);
    } else if (loudness && loudness->Blocks) {
        m_job.m_loudness[size_t(m_index)] = loudness;
    }
    end(made);
}

void TConvertJob::Lane::joinFinisher()
{
    if (m_finisher.joinable())
        m_finisher.join();
}

void TConvertJob::Lane::settle(TAuFileOut *sink)
{
    const QString &target = item().Target;
    const QString working = sink->FileName();
    const bool complete = m_problem.isEmpty() && !m_job.m_finished;
    QString error;
    // A complete file is finished before it takes its name; a device written directly (/dev/null) has
    // nothing to finish.
    if (complete && working != target) {
        if (KeepEncodedFile(working, target, &error)) {
            finishFile(working);
            return;
        }
    }
    const bool made = error.isEmpty() && SettleEncodedFile(working, target, complete, &error);
    if (!m_problem.isEmpty())
        error = item().Source + QStringLiteral(": ") + m_problem;
    if (!error.isEmpty())
        m_job.m_presenter.ShowError(error);
    end(made);
}

void TConvertJob::Lane::dropWorkFiles()
{
    m_source.reset();
    for (QString *file : {&m_temporary, &m_decoded}) {
        if (!file->isEmpty())
            QFile::remove(*file);
        file->clear();
    }
}

QString TConvertJob::Lane::workFileOf(const QString &suffix) const
{
    // Named after the target and this process, so that neither another lane nor another run meets it.
    const QFileInfo made(item().Target);
    return made.path() + QStringLiteral("/.") + CutToUtf8Bytes(made.fileName(), 200) + QLatin1Char('.') +
           QString::number(::getpid(), 16) + suffix;
}

void TConvertJob::Lane::end(bool made, bool skipped)
{
    if (const auto *decoded = dynamic_cast<const TDecodedFileIn *>(m_source.get()))
        for (const QString &warning : decoded->Warnings())
            m_job.m_presenter.ShowWarning(warning);
    if (const auto *wav = dynamic_cast<const TWaveIn *>(m_source.get()))
        for (const QString &warning : wav->Warnings())
            m_job.m_presenter.ShowWarning(warning);
    dropWorkFiles();
    if (made)
        m_job.m_presenter.FileMade(item().Target);
    // A claim that no file settled (a source that could not be read) ends here.
    DiscardWorkingFile(ClaimedWorkingFileOf(item().Target), item().Target);
    m_index = -1;
    m_job.m_presenter.EndEncoding(m_slot);
    m_job.itemEnded(*this, made, skipped);
}

void TConvertJob::Lane::stop()
{
    if (!Busy())
        return;
    m_stopFinishing = true;
    joinFinisher();
    m_encoding.Stop();
    m_waveOut.Stop(false);
    m_decoder.Kill();
    const QString target = item().Target;
    DiscardWorkingFile(ClaimedWorkingFileOf(target), target);
    dropWorkFiles();
    m_index = -1;
}

TConvertJob::TConvertJob(std::vector<TConvertItem> items, int32_t format, const TOptionsSetting &settings,
                         TRipJobPresenter &presenter, TUserPrompt *prompt, int lanes, QObject *parent)
    : QObject(parent), m_items(std::move(items)), m_format(format), m_settings(settings),
      m_presenter(presenter), m_prompt(prompt)
{
    for (int i = 0; i < std::max(lanes, 1); ++i)
        m_lanes.push_back(std::make_unique<Lane>(*this, i));
}

TConvertJob::~TConvertJob()
{
    CleanUp();
}

void TConvertJob::planTargets()
{
    m_refused.assign(m_items.size(), false);
    m_loudness.assign(m_items.size(), nullptr);
    QHash<QString, size_t> makers;  // a target, by the item that makes it
    QHash<QString, size_t> sources; // a source, by its item
    for (size_t i = 0; i < m_items.size(); ++i)
        sources.insert(QDir::cleanPath(m_items[i].Source), i);
    for (size_t i = 0; i < m_items.size(); ++i) {
        const QString target = QDir::cleanPath(m_items[i].Target);
        if (target == QDir::cleanPath(m_items[i].Source))
            continue; // its own source: refused when its turn comes
        QString why;
        if (sources.contains(target))
            why = QStringLiteral("also an input of this conversion");
        else if (const auto maker = makers.constFind(target); maker != makers.constEnd())
            why = QStringLiteral("also the output of ") + m_items[*maker].Source;
        if (why.isEmpty()) {
            makers.insert(target, i);
            continue;
        }
        m_refused[i] = true;
        m_presenter.ShowError(m_items[i].Target + QStringLiteral(": ") + why + QStringLiteral("; ") +
                              m_items[i].Source + QStringLiteral(" skipped"));
    }
}

void TConvertJob::Start()
{
    m_clock.start();
    m_presenter.SetStage(LocalizedText("RES_Encoding", "Encoding"));
    planTargets();
    showProgress();
    for (auto &lane : m_lanes)
        if (!m_finished)
            startNext(*lane);
}

bool TConvertJob::wanted(size_t index)
{
    const TConvertItem &item = m_items[index];
    if (m_refused[index]) {
        ++m_failed;
        return false;
    }
    const QFileInfo target(item.Target);
    if (SameFile(item.Source, item.Target)) {
        m_presenter.ShowError(item.Target + QStringLiteral(": the output would overwrite the input"));
        ++m_failed;
        return false;
    }
    if (!target.exists())
        return true;
    // Up to date, unless a run that made it ended before its album values were written.
    if (Update && target.lastModified() >= QFileInfo(item.Source).lastModified() &&
        !(ReplayGain && MeasuresLoudness(item.Target) && AlbumGainMissing(item.Target))) {
        ++m_kept;
        return false;
    }
    const QString question = item.Target + LocalizedText(QStringLiteral("RES_File_Exist"),
                                                         QStringLiteral(" has existed,overite it?"));
    if (!Update && (!m_prompt || !m_prompt->Question(QStringLiteral("Sondrel"), question))) {
        ++m_kept;
        m_presenter.FileKept(item.Target);
        return false;
    }
    return true;
}

void TConvertJob::startNext(Lane &lane)
{
    while (m_next < m_items.size() && !m_finished) {
        const size_t index = m_next++;
        if (!wanted(index)) {
            ++m_done;
            showProgress();
            continue;
        }
        m_presenter.SetCaption(
            QStringLiteral("Encoding(%1/%2): %3")
                .arg(TwoDigits(int(index) + 1), TwoDigits(int(m_items.size())), m_items[index].Source));
        lane.Start(int(index));
        return;
    }
    for (const auto &other : m_lanes)
        if (other->Busy())
            return;
    wholeDone();
}

void TConvertJob::wholeDone()
{
    // Every item must have ended (a lane's failure may still be on its way while no lane is busy), and the
    // album values are written once.
    if (size_t(m_done) < m_items.size() || m_replayGain)
        return;
    // By folder and format, each album's files in the order of the items, with the loudness measured as
    // each was made (the album's is that of all their blocks together, whatever order the lanes ended in).
    struct Album {
        QStringList Files;
        std::vector<std::shared_ptr<TFileLoudness>> Loudness;
    };
    QMap<QString, Album> albums;
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (!m_loudness[i])
            continue;
        const QFileInfo target(m_items[i].Target);
        Album &album = albums[target.path() + QLatin1Char('.') + target.suffix().toLower()];
        album.Files << m_items[i].Target;
        album.Loudness.push_back(m_loudness[i]);
    }
    if (!ReplayGain || albums.isEmpty()) {
        finish(mrCancel);
        return;
    }
    // Each file's album values by an edit of its own (the file is whole either way); a file left without
    // them is made again by the next update.
    m_replayGain = std::make_unique<TReplayGainJob>(
        [albums = albums.values()](const std::atomic<bool> &stop) {
            QStringList failures;
            for (const Album &album : albums) {
                std::vector<const TFileLoudness *> all;
                for (const auto &loudness : album.Loudness)
                    all.push_back(loudness.get());
                TLoudness together;
                if (!AlbumLoudness(all, &together))
                    continue;
                for (const QString &file : album.Files) {
                    if (stop)
                        return failures;
                    QString error;
                    if (!SetFileTagFields(file, AlbumGainFields(file, together), &error))
                        failures << error;
                }
            }
            return failures;
        },
        m_presenter, [this] { finish(mrCancel); });
    m_replayGain->Start();
}

void TConvertJob::itemEnded(Lane &lane, bool made, bool skipped)
{
    ++m_done;
    ++(made ? m_made : skipped ? m_kept : m_failed);
    showProgress();
    // The next file starts from the event loop: an end reported inside a start does not nest the next.
    QMetaObject::invokeMethod(
        this, [this, &lane] { startNext(lane); }, Qt::QueuedConnection);
}

void TConvertJob::showProgress()
{
    const int total = int(m_items.size());
    const int percent = total > 0 ? m_done * 100 / total : 100;
    const TProcessInfo notice = ProgressNotice(percent, double(m_clock.elapsed()) / 1000.0);
    m_presenter.SetElapsed(notice.Elapsed);
    m_presenter.SetEstimated(notice.Estimated);
    m_presenter.SetGauge(percent, true);
}

void TConvertJob::finish(int result)
{
    if (m_finished)
        return;
    m_finished = true;
    m_presenter.Finish(result);
}

void TConvertJob::Stop()
{
    CleanUp();
    finish(mrAbort);
}

void TConvertJob::CleanUp()
{
    for (auto &lane : m_lanes)
        lane->stop();
    if (m_replayGain)
        m_replayGain->CleanUp();
}
