#include "auoutput.h"

#include "auexception.h"
#include "authread.h"
#include "eventhandler.h"
#include "shell/synchronize.h"

#include <QThread>
#include <chrono>
#include <cmath>
#include <thread>

TAuOutput::TAuOutput(QObject *parent) : QObject(parent)
{
    TEventHandler::Acquire();
    Thread = std::make_unique<TAuThread>(this);
}

TAuOutput::~TAuOutput()
{
    Shutdown();
    TEventHandler::Release();
}

void TAuOutput::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    Stop(false);
    Thread.reset();
    TEventHandler::Instance()->RemoveEvents(this);
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
    Thread->Abort = false;
    Thread->WakeForRun();
}

void TAuOutput::Stop(bool async)
{
    Q_ASSERT(QThread::currentThread() == thread());
    Stopped = true;
    Thread->SendDone = async;
    Thread->Finished = false;
    Thread->Abort = true;
    while (Thread->Paused) {
        Thread->WakeEvent.set();
        std::this_thread::yield();
    }
    if (async)
        return;
    TEventHandler &dispatcher = *TEventHandler::Instance();
    dispatcher.Block(this);
    while (!(Thread->Sleeping || Thread->Finished) || dispatcher.Handling(this)) {
        if (!CheckSynchronize())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    dispatcher.Unblock();
    Thread->SendDone = true;
}

void TAuOutput::Pause()
{
    if (!m_input)
        throw EAuException(QStringLiteral("Input is not assigned."));
    if (!Busy)
        return;
    Thread->PauseRequest = true;
    Thread->PauseEvent.waitFor(std::chrono::milliseconds(5000));
    m_input->Pause();
}

void TAuOutput::Resume()
{
    if (!Busy || !Thread->Paused)
        return;
    if (m_input)
        m_input->Resume();
    while (Thread->Paused) {
        Thread->WakeEvent.set();
        std::this_thread::yield();
    }
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
    return int(std::lround(double(input->Position) / double(size) * 100.0));
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
