// SPDX-License-Identifier: GPL-3.0-or-later
#include "convertlane.h"

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

void TConvertJob::Lane::Start(int index)
{
    if (m_index != index)
        m_redone = 0;
    m_index = index;
    m_sourceIdentity = FileIdentityOf(item().Source);
    m_problem.clear();
    m_temporary.clear();
    m_working.clear();
    m_skipped = false;
    showPercent(0);
    m_sequence.Start(1);
}

void TConvertJob::Lane::guarded(const std::function<void()> &start)
{
    try {
        start();
    } catch (const std::exception &e) {
        fail(QString::fromUtf8(e.what()));
    }
}

void TConvertJob::Lane::fail(const QString &message)
{
    if (!message.isEmpty())
        m_job.m_presenter.ShowError(message);
    m_sequence.StepEnded(false);
}

void TConvertJob::Lane::prepareSource()
{
    if (QString error; !MakeFolder(QFileInfo(item().Target).path(), &error))
        throw EAuException(error);
    // Another run writing the same file has it: this run refuses it by name, or with Update leaves it to that
    // run.
    bool busy = false;
    if (QString error; ClaimWorkingFile(item().Target, &error, &busy).isEmpty()) {
        if (!busy || !m_job.Update)
            throw EAuException(error);
        m_job.m_presenter.ShowWarning(item().Target +
                                      QStringLiteral(": another run is making this file; skipped"));
        m_skipped = true;
        m_sequence.StepEnded(false);
        return;
    }
    const TFileFormat kind = AudioFileKindOf(item().Source);
    if (kind != TFileFormat::Wma && kind != TFileFormat::Mp4) {
        openSource(item().Source);
        m_sequence.StepEnded(true);
        return;
    }
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
    guarded([this, exitCode] {
        if (exitCode != 0) {
            const QString said = m_decoder.LastErrorLine();
            throw EAuException(item().Source + QStringLiteral(": ") +
                               (said.isEmpty() ? QStringLiteral("the decoder failed") : said));
        }
        openSource(m_decoded);
        m_sequence.StepEnded(true);
    });
}

void TConvertJob::Lane::openSource(const QString &path)
{
    m_sourcePath = path;
    // A source without a single sample is refused: every format would make a file of nothing (and some an
    // invalid one). A WAV's size is known; a compressed file's is only claimed, so its first block is decoded
    // on a probe of its own.
    bool empty = false;
    if (AudioFileKindOf(path) == TFileFormat::Wav) {
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

void TConvertJob::Lane::makeProgramWav()
{
    const TOutputFormatInfo *format = OutputFormatInfo(m_job.m_format);
    const bool program =
        format && format->Encoder != TEncoderKind::Writer && format->Encoder != TEncoderKind::None;
    // A WAV that is a 16-bit one already is given as it is.
    if (!program || (dynamic_cast<TWaveIn *>(m_source.get()) && m_source->GetBitsPerSample() == 16)) {
        m_sequence.StepEnded(true);
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
        fail(item().Source + QStringLiteral(": ") + m_problem);
        return;
    }
    m_sequence.StepEnded(true);
}

void TConvertJob::Lane::encode()
{
    const TOutputFormatInfo *format = OutputFormatInfo(m_job.m_format);
    switch (format ? format->Encoder : TEncoderKind::None) {
    case TEncoderKind::Writer: {
        TEncodeRequest request = encodeRequest(item().Source);
        request.Input = m_source.get();
        m_encoding.Start(m_job.m_settings, request);
        return;
    }
    case TEncoderKind::None:
        m_temporary.clear();
        m_waveOut.SetInput(m_source.get());
        m_waveOut.SetFileName(WorkingFileOf(item().Target));
        m_waveOut.Run();
        return;
    default:
        m_encoding.Start(m_job.m_settings, encodeRequest(m_temporary.isEmpty() ? m_sourcePath : m_temporary));
        return;
    }
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

void TConvertJob::Lane::encoded(const TEncodeEnd &result)
{
    if (!Busy())
        return;
    if (!result.Working.isEmpty() && result.Message.isEmpty()) {
        m_working = result.Working;
        m_sequence.StepEnded(true);
        return;
    }
    DiscardWorkingFile(result.Working, item().Target);
    fail(!result.Message.isEmpty() ? result.Message
                                   : item().Target + QStringLiteral(": the encoder made no file"));
}

void TConvertJob::Lane::finishFile()
{
    joinFinisher();
    m_stopFinishing = false;
    const TConvertItem job = item();
    const QString tags = job.TagSource.isEmpty() ? job.Source : job.TagSource;
    const bool measure = m_job.ReplayGain && MeasuresLoudness(job.Target);
    const QString working = m_working;
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
    // Held until its album values are in: another run updating the same folder leaves it to this one
    // instead of making it again under the edit.
    const bool measured = loudness && loudness->Blocks;
    const bool made = failure.isEmpty() && (measured && m_job.ReplayGain
                                                ? CommitWorkingFileHolding(working, item().Target, &failure)
                                                : SettleWorkingFile(working, item().Target, true, &failure));
    if (!made) {
        DiscardWorkingFile(working, item().Target);
        fail(failure);
        return;
    }
    if (measured)
        m_job.m_loudness[size_t(m_index)] = loudness;
    m_sequence.StepEnded(true);
}

void TConvertJob::Lane::joinFinisher()
{
    if (m_finisher.joinable())
        m_finisher.join();
}

void TConvertJob::Lane::wavWritten(TAuFileOut *sink)
{
    const QString &target = item().Target;
    const QString working = sink->FileName();
    const bool complete = m_problem.isEmpty() && !m_job.m_finished;
    QString error;
    // A complete file is finished before it takes its name; a device written directly (/dev/null) has
    // nothing to finish.
    if (complete && working != target && KeepEncodedFile(working, target, &error)) {
        m_working = working;
        m_sequence.StepEnded(true);
        return;
    }
    const bool made = error.isEmpty() && SettleEncodedFile(working, target, complete, &error);
    if (!m_problem.isEmpty())
        error = item().Source + QStringLiteral(": ") + m_problem;
    if (!error.isEmpty())
        m_job.m_presenter.ShowError(error);
    // Made directly (a device): nothing is left to finish.
    if (made) {
        m_sequence.Stop();
        end(true);
        return;
    }
    m_sequence.StepEnded(false);
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
    // A claim that no file settled (a source that could not be read) ends here; a file made may be held
    // until its album values are in.
    if (!made)
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
    m_sequence.Stop();
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
