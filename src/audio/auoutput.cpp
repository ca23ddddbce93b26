// SPDX-License-Identifier: GPL-3.0-or-later
#include "auoutput.h"

#include "auexception.h"
#include "authread.h"

#include <QThread>
#include <cmath>

TAuOutput::TAuOutput(QObject *parent) : QObject(parent), Thread(std::make_unique<TAuThread>(this)) {}

TAuOutput::~TAuOutput()
{
    Shutdown();
}

void TAuOutput::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    Stop(false);
    Thread->Terminate();
    // Whatever is still queued for this object is dropped with it.
    m_droppedRun = m_runId;
}

void TAuOutput::Run()
{
    Q_ASSERT(QThread::currentThread() == thread());
    std::lock_guard lock(Lock);
    setExceptionMessage(QString());
    if (Busy)
        throw EAuException(QStringLiteral("Component is Busy"));
    if (!m_input)
        throw EAuException(QStringLiteral("Input is not assigned"));
    Busy = true;
    Thread->WakeForRun(++m_runId);
}

void TAuOutput::Stop(bool async)
{
    Q_ASSERT(QThread::currentThread() == thread());
    Stopped = true;
    Thread->RequestAbort();
    if (async)
        return;
    m_droppedRun = m_runId;
    Thread->WaitUntilIdle();
}

void TAuOutput::Pause()
{
    if (!m_input)
        throw EAuException(QStringLiteral("Input is not assigned."));
    if (!Busy)
        return;
    Thread->RequestPause(std::chrono::milliseconds(5000));
    m_input->Pause();
}

void TAuOutput::Resume()
{
    if (!Busy || !Thread->Paused)
        return;
    if (m_input)
        m_input->Resume();
    Thread->ResumeRun();
}

int TAuOutput::Status() const
{
    if (!Busy)
        return 2;
    return Thread->Paused ? 1 : 0;
}

int TAuOutput::Progress() const
{
    TAuInput *input = m_input.data();
    if (!input)
        return 0;
    const int64_t size = input->Size;
    if (size == -1)
        return -1;
    if (size == 0)
        return 0;
    return int(std::min<long>(std::lround(double(input->Position) / double(size) * 100.0), 100));
}

void TAuOutput::SetInput(TAuInput *input)
{
    if (Busy) {
        Stop(false);
        m_input = input;
        Run();
    } else {
        m_input = input;
    }
}

QString TAuOutput::ExceptionMessage() const
{
    std::lock_guard lock(m_messageMutex);
    return m_exceptionMessage;
}

void TAuOutput::setExceptionMessage(const QString &message)
{
    std::lock_guard lock(m_messageMutex);
    m_exceptionMessage = message;
}

void TAuOutput::postSinkEvent()
{
    postEvent(EventSink, m_workerRun);
}

void TAuOutput::reportFailure(const QString &message)
{
    setExceptionMessage(message);
    if (OnThreadException)
        postEvent(EventException, m_workerRun);
}

void TAuOutput::postEvent(EventKind kind, uint64_t runId)
{
    // Queued on this object: dropped by Qt if the sink is gone before the event is handled.
    QMetaObject::invokeMethod(
        this, [this, kind, runId] { deliver(kind, runId); }, Qt::QueuedConnection);
}

void TAuOutput::deliver(EventKind kind, uint64_t runId)
{
    if (runId <= m_droppedRun)
        return;
    switch (kind) {
    case EventProgress:
        if (OnProgress)
            OnProgress(this);
        break;
    case EventException:
        if (OnThreadException)
            OnThreadException(this);
        break;
    case EventSink:
        sinkEvent();
        break;
    case EventDone:
        if (runId != m_runId)
            return; // a later run has started since; its own done event follows
        Busy = false;
        if (OnDone)
            OnDone(this);
        break;
    }
}
