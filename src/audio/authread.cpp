#include "authread.h"

#include "auexception.h"
#include "auoutput.h"
#include "eventhandler.h"

#include <chrono>

TAuThread::TAuThread(TAuOutput *output) : Output(output), m_thread([this] { Execute(); }) {}

TAuThread::~TAuThread()
{
    Terminate();
    ++m_wakeRequests;
    WakeEvent.set();
    m_thread.join();
}

void TAuThread::Terminate()
{
    m_terminated = true;
}

void TAuThread::queue(int kind)
{
    // The sink holds the dispatcher for as long as it (and so this thread) exists.
    TEventHandler::Instance()->Queue(TEventHandler::Kind(kind), Output, this);
}

void TAuThread::WakeForRun()
{
    const uint64_t ticket = ++m_wakeRequests;
    WakeEvent.set();
    while (m_wakesServed < ticket && !m_exited)
        std::this_thread::yield();
}

void TAuThread::sleepUntilWoken()
{
    Sleeping = true;
    // Counting requests makes a signal left over from a pause or an earlier run harmless.
    while (m_wakeRequests == m_wakesServed)
        WakeEvent.wait();
    Abort = false;
    Sleeping = false;
    m_wakesServed = m_wakeRequests.load();
}

void TAuThread::Execute()
{
    sleepUntilWoken();
    while (!m_terminated) {
        bool more = true;
        try {
            Output->Prepare();
            Output->CanOutput = true;
            PauseRequest = false;
            Paused = false;
            PauseEvent.reset();
            while (more && !Abort) {
                if (Delay > 5)
                    std::this_thread::sleep_for(std::chrono::milliseconds(Delay.load()));
                const int progress = Output->Progress();
                if (progress != Output->LastProgress) {
                    Output->LastProgress = progress;
                    if (Output->OnProgress)
                        queue(TEventHandler::Progress);
                }
                if (PauseRequest) {
                    PauseRequest = false;
                    WakeEvent.reset();
                    Paused = true;
                    PauseEvent.set();
                    WakeEvent.wait();
                    Paused = false;
                }
                more = Output->DoOutput(Abort);
            }
        } catch (const EAuException &e) {
            Output->setExceptionMessage(e.message());
            if (Output->OnThreadException)
                queue(TEventHandler::ThreadException);
            Abort = true;
        } catch (const std::exception &e) {
            Output->setExceptionMessage(QString::fromUtf8(e.what()));
            if (Output->OnThreadException)
                queue(TEventHandler::ThreadException);
            Abort = true;
        }
        Abort = false;
        if (Output->Busy) {
            try {
                Output->CanOutput = false;
                Output->Done();
                Output->Stopped = false;
                Output->Busy = false;
            } catch (...) {
                Output->Busy = false;
            }
        }
        queue(TEventHandler::DoneEvent);
        Finished = true;
        if (!m_terminated)
            sleepUntilWoken();
    }
    m_exited = true;
}
