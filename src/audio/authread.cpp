// SPDX-License-Identifier: GPL-3.0-or-later
#include "authread.h"

#include "auexception.h"
#include "auoutput.h"
#include "shell/helpers.h"
#include "shell/synchronize.h"

TAuThread::TAuThread(TAuOutput *output) : Output(output) {}

TAuThread::~TAuThread()
{
    Terminate();
}

void TAuThread::Terminate()
{
    {
        std::lock_guard lock(m_mutex);
        m_terminated = true;
        Abort = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TAuThread::WakeForRun(uint64_t runId)
{
    {
        std::lock_guard lock(m_mutex);
        m_requestedRun = runId;
        Abort = false;
        Finished = false;
        Sleeping = false;
    }
    if (!m_started.exchange(true))
        m_thread = std::thread([this] { Execute(); });
    else
        m_wake.notify_all();
}

void TAuThread::RequestAbort()
{
    {
        std::lock_guard lock(m_mutex);
        Abort = true;
        Paused = false; // a paused worker wakes up and winds the run up
    }
    m_wake.notify_all();
}

bool TAuThread::RequestPause(std::chrono::milliseconds timeout)
{
    PauseRequest = true;
    return WaitRunningSynchronize([this] { return Paused.load() || Sleeping.load(); }, timeout);
}

void TAuThread::ResumeRun()
{
    {
        std::lock_guard lock(m_mutex);
        Paused = false;
    }
    m_wake.notify_all();
}

void TAuThread::WaitUntilIdle()
{
    if (!m_started)
        return;
    WaitRunningSynchronize([this] { return Sleeping.load(); });
}

void TAuThread::pauseHere()
{
    PauseRequest = false;
    std::unique_lock lock(m_mutex);
    if (Abort)
        return;
    Paused = true;
    WakeSynchronizeWaiters();
    m_wake.wait(lock, [this] { return !Paused || Abort || m_terminated; });
    Paused = false;
}

void TAuThread::runOnce(uint64_t runId)
{
    TAuOutput &output = *Output;
    output.m_workerRun = runId;
    bool more = true;
    try {
        output.Prepare();
        output.CanOutput = true;
        PauseRequest = false;
        Paused = false;
        while (more && !Abort) {
            const int progress = output.Progress();
            if (progress != output.LastProgress) {
                output.LastProgress = progress;
                if (output.OnProgress)
                    output.postEvent(TAuOutput::EventProgress, runId);
            }
            if (PauseRequest)
                pauseHere();
            more = output.DoOutput(Abort);
        }
    } catch (const EAuException &e) {
        output.setExceptionMessage(e.message());
        if (output.OnThreadException)
            output.postEvent(TAuOutput::EventException, runId);
        Abort = true;
    } catch (const std::exception &e) {
        output.setExceptionMessage(QString::fromUtf8(e.what()));
        if (output.OnThreadException)
            output.postEvent(TAuOutput::EventException, runId);
        Abort = true;
    }
    Abort = false;
    if (output.Busy) {
        try {
            output.CanOutput = false;
            output.Done();
            output.Stopped = false;
            output.Busy = false;
        } catch (...) {
            // The end of a run can fail too (the last write, the header, the flush): a run whose file is not
            // complete must not be taken for done.
            output.Busy = false;
            output.setExceptionMessage(CurrentExceptionText());
            if (output.OnThreadException)
                output.postEvent(TAuOutput::EventException, runId);
        }
    }
}

void TAuThread::Execute()
{
    for (;;) {
        uint64_t runId = 0;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_terminated || m_requestedRun != m_servedRun; });
            if (m_terminated && m_requestedRun == m_servedRun)
                break;
            runId = m_servedRun = m_requestedRun;
            Sleeping = false;
        }
        runOnce(runId);
        {
            // Idle before the done event leaves: its handler may start the next run at once.
            std::lock_guard lock(m_mutex);
            Finished = true;
            if (m_requestedRun == runId) // else a new run was asked for while this one wound up
                Sleeping = true;
        }
        WakeSynchronizeWaiters();
        Output->postEvent(TAuOutput::EventDone, runId);
    }
    std::lock_guard lock(m_mutex);
    Sleeping = true;
    WakeSynchronizeWaiters();
}
