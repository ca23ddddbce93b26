// SPDX-License-Identifier: GPL-3.0-or-later
#include "encodestep.h"

#include "audio/encoderprocess.h"
#include "audio/outputcheck.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"
#include "shell/userprompt.h"
#include "tags/id3tag.h"
#include "tags/tracktags.h"

#include <QFileInfo>

TEncodeStep::TEncodeStep(TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, QObject *parent)
    : QObject(parent), m_mp3(mp3), m_wma(wma)
{
    for (TAuFileOut *writer : Writers.All()) {
        writer->FileMode = foRewrite;
        writer->OnProgress = [this](TAuOutput *sink) {
            emit progress(ProgressNotice(sink->Progress(), SecondsSince(m_start)));
        };
        writer->OnThreadException = [this](TAuOutput *sink) { m_writerProblem = sink->ExceptionMessage(); };
        writer->OnDone = [this, writer](TAuOutput *) { writerDone(writer); };
    }
}

TEncodeStep::~TEncodeStep()
{
    Stop();
}

void TEncodeStep::Start(const TOptionsSetting &settings, const TEncodeRequest &request)
{
    m_settings = settings;
    m_request = request;
    m_writerProblem.clear();
    m_busy = false;
    m_tagsFirst = false;
    m_running = true;
    m_start = std::chrono::steady_clock::now();
    const TOutputFormatInfo *format = OutputFormatInfo(request.Format);
    const TEncoderKind encoder = request.Decode ? TEncoderKind::Lame
                                 : format       ? format->Encoder
                                                : TEncoderKind::None;
    const int32_t event = request.Decode ? int32_t(ProcessEvent::Mp3Encoded) : EncodedEventOf(request.Format);
    try {
        // The working file is claimed first: another run writing the same file has it, and this one is
        // refused by name.
        if (QString error; encoder != TEncoderKind::None && !request.Target.isEmpty() &&
                           ClaimWorkingFile(request.Target, &error, &m_busy).isEmpty())
            throw EAuException(error);
        // An MP3 of a disc track gets its tags before it takes its name.
        m_tagsFirst =
            request.TagMp3 && request.Track >= 0 && encoder == TEncoderKind::Lame && !request.Decode;
        m_mp3.LeaveWorking = request.LeaveWorking || m_tagsFirst;
        m_wma.LeaveWorking = request.LeaveWorking;
        switch (encoder) {
        case TEncoderKind::Lame:
            m_mp3.Options = settings.Mp3Options;
            m_mp3.StartFile(request.Source, request.Target, this, request.Kind, !request.Decode);
            break;
        case TEncoderKind::WmaProgram: {
            const TTrackTags tags = TrackTagsOf(settings, request.Track, request.TrackBase);
            m_wma.Options = WmaEncodeOptionsOf(settings, request.Track >= 0 ? &tags : nullptr);
            m_wma.StartFile(request.Source, request.Target, this, request.Kind);
            break;
        }
        case TEncoderKind::Writer:
            startWriter();
            break;
        default:
            failLater(event, request.Target + QStringLiteral(": no encoder makes this format"));
            break;
        }
    } catch (const std::exception &e) {
        // The file cannot be made; the job goes on with the next one.
        const QString reason = QString::fromLocal8Bit(e.what());
        failLater(event, reason.startsWith(request.Target) ? reason
                                                           : request.Target + QStringLiteral(": ") + reason);
    }
}

void TEncodeStep::startWriter()
{
    const TEncodeRequest &request = m_request;
    if (SameFile(request.Source, request.Target)) {
        failLater(ProcessEvent::FileWritten,
                  request.Target + QStringLiteral(": the output would overwrite the input"));
        return;
    }
    // A file that is there already is replaced only when the user says so, as the encoder programs ask
    // (the job's prompt is theirs); an extraction's files are not asked about.
    if (request.Kind != JobKind::ExtractTracks && QFileInfo::exists(request.Target)) {
        const QString question = ReplaceQuestion(request.Target);
        if (!m_mp3.Prompt || !m_mp3.Prompt->Question(QStringLiteral("Sondrel"), question)) {
            failLater(ProcessEvent::FileWritten, QString(), ProcessResult::Declined);
            return;
        }
    }
    const bool tagged = request.Track >= 0 && m_settings.Use;
    const TTrackTags tags = tagged ? TrackTagsOf(m_settings, request.Track, request.TrackBase) : TTrackTags();
    TAuFileOut &writer = Writers.Prepare(request.Format, m_settings, tagged ? &tags : nullptr, request.Ogg);
    if (request.Input) {
        writer.SetInput(request.Input);
    } else {
        Input.SetFileName(request.Source);
        writer.SetInput(&Input);
    }
    writer.SetFileName(WorkingFileOf(request.Target));
    writer.Run();
}

void TEncodeStep::writerDone(TAuFileOut *writer)
{
    if (!m_running)
        return;
    // The file is written under its working name; only a run that ended by itself makes it the file.
    // With LeaveWorking a complete file stays under its working name for the job to settle.
    QString error;
    const QString &working = writer->FileName();
    const bool complete = m_writerProblem.isEmpty();
    const bool written = complete && m_request.LeaveWorking && working != m_request.Target
                             ? KeepEncodedFile(working, m_request.Target, &error)
                             : SettleEncodedFile(working, m_request.Target, complete, &error);
    if (!m_writerProblem.isEmpty())
        error = (m_request.ErrorName.isEmpty() ? m_request.Source : m_request.ErrorName) +
                QStringLiteral(": ") + m_writerProblem;
    PostProcessInfo(this, TProcessInfo{ProcessEvent::FileWritten, error, QString(),
                                       written ? ProcessResult::Ended : ProcessResult::EncoderFailed});
}

void TEncodeStep::failLater(int32_t event, const QString &message, int32_t result)
{
    PostProcessInfo(this, TProcessInfo{event, message, QString(), result});
}

bool TEncodeStep::event(QEvent *e)
{
    auto *message = dynamic_cast<TMessageEvent *>(e);
    if (!message || message->message() != WM_PROCESSINFO)
        return QObject::event(e);
    const auto info = message->takeProcessInfo();
    if (!info || !m_running)
        return true; // what a stopped encoder still had on its way
    if (info->Percent == ProcessEvent::Mp3Encoded || info->Percent == ProcessEvent::WmaEncoded ||
        info->Percent == ProcessEvent::FileWritten) {
        ended(*info);
    } else {
        emit progress(*info);
    }
    return true;
}

void TEncodeStep::ended(const TProcessInfo &info)
{
    m_running = false;
    TEncodeEnd end{info.Percent, info.ResultCode, info.Elapsed, QString(), QString(), m_busy, QString()};
    const QString &target = m_request.Target;
    const bool held = end.Result == ProcessResult::Ended && (m_request.LeaveWorking || m_tagsFirst);
    const QString working = held ? ClaimedWorkingFileOf(target) : QString();
    // A claim not settled (a start that was declined or failed) ends with the encoding.
    if (working.isEmpty())
        DiscardWorkingFile(ClaimedWorkingFileOf(target), target);
    if (!working.isEmpty() && m_tagsFirst && end.Event == ProcessEvent::Mp3Encoded) {
        QString error;
        if (!TagMp3File(working, m_settings, m_request.Track, m_request.TrackBase, &error))
            end.Message = error; // said; the file is made all the same, as it always was
    }
    if (!working.isEmpty() && m_request.LeaveWorking) {
        end.Working = working;
    } else if (!working.isEmpty()) {
        QString error;
        if (!SettleWorkingFile(working, target, true, &error)) {
            end.Result = ProcessResult::EncoderFailed;
            end.Message = error;
        }
    }
    if (end.Result == ProcessResult::Ended && end.Working.isEmpty() && QFileInfo::exists(target))
        end.Made = target;
    if (end.Result == ProcessResult::Declined && QFileInfo::exists(target))
        end.Kept = target;
    emit finished(end);
}

void TEncodeStep::Stop()
{
    if (!m_running)
        return;
    m_running = false;
    if (m_mp3.Active)
        m_mp3.Stop(0);
    if (m_wma.Active)
        m_wma.Stop(0);
    Writers.StopAll();
    DiscardWorkingFile(ClaimedWorkingFileOf(m_request.Target), m_request.Target);
    Input.SetFileName(QString());
}
