// SPDX-License-Identifier: GPL-3.0-or-later
#include "resamplestep.h"

TResampleStep::TResampleStep(bool fast, QObject *parent) : QObject(parent)
{
    m_fast.SetInput(&m_in);
    m_fast.OutSampleRate = 44100;
    m_quality.SetInput(&m_in);
    m_quality.OutSampleRate = 44100;
    m_converter.SetInput(fast ? static_cast<TAuInput *>(&m_fast) : &m_quality);
    m_out.SetInput(&m_converter);
    m_out.SetWavType(wtPCM);
    m_out.SetBlockSize(512);
    m_out.CreateNonMsHeaders = true;
    m_out.FileMode = foRewrite;
    m_out.OnProgress = [this](TAuOutput *sink) {
        emit progress(ProgressNotice(sink->Progress(), SecondsSince(m_start)));
    };
    m_out.OnThreadException = [this](TAuOutput *sink) {
        if (m_running)
            emit failed(m_in.FileName() + QStringLiteral(": ") + sink->ExceptionMessage());
    };
    m_out.OnDone = [this](TAuOutput *sink) {
        if (!m_running)
            return;
        m_running = false;
        emit finished(sink->ExceptionMessage().isEmpty());
    };
}

TResult<> TResampleStep::Open(const QString &file)
{
    m_in.SetFileName(file);
    if (m_in.TryOpen())
        return {};
    return TFailure{file + QStringLiteral(": ") +
                    (m_in.OpenError.isEmpty() ? QStringLiteral("cannot be read") : m_in.OpenError)};
}

void TResampleStep::Start(const QString &target, bool to16Bits)
{
    m_converter.OutBitsPerSample = to16Bits ? 16 : 0;
    m_out.SetFileName(target);
    m_start = std::chrono::steady_clock::now();
    m_running = true;
    m_out.Run();
}

void TResampleStep::Stop()
{
    m_running = false;
    m_out.Stop(false);
}
