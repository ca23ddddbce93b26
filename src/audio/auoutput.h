// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auinput.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class TAuThread;

// The base of every audio sink. A sink pulls: Run wakes its worker thread (TAuThread, started by the first
// Run), which calls Prepare, then DoOutput until it returns false or the run is stopped, then Done.
// Progress, completion and exceptions of a run reach the handlers below on the user-interface thread as
// queued calls on this object, in the order the worker made them: progress, a thread exception, then done.
// OnDone runs once the worker is idle. An exception inside a run never leaves the worker: it is kept in
// ExceptionMessage, reported to OnThreadException, and the run is wound up as usual, so OnDone follows.
// A synchronous Stop drops whatever the stopped run still has queued, OnDone included.
//
// Run, Stop, Pause, Resume and SetInput are called on the user-interface thread; Prepare, DoOutput and Done
// on the worker. Assign the handlers while the sink is idle. A concrete sink calls Shutdown() first thing in
// its destructor, so that its worker is gone before its own members are.
class TAuOutput : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(TAuOutput *sender)>;

    explicit TAuOutput(QObject *parent = nullptr);
    ~TAuOutput() override;

    // Starts a run and returns at once. Raises "Component is Busy" or "Input is not assigned".
    void Run();
    // Ends the run within one block. Async: returns at once, OnDone follows. Otherwise waits for the worker
    // (still running synchronised calls, so it cannot deadlock), drops the run's queued events, and calls
    // no OnDone.
    void Stop(bool async = true);
    void Pause();
    void Resume();
    // 2 idle, 1 paused, 0 running.
    int Status() const;
    // Percent of the input delivered; -1 when its size is unknown; 0 without input or with size 0.
    int Progress() const;

    TAuInput *Input() const { return m_input.data(); }
    // While busy: stops synchronously, takes the new input, and runs again.
    virtual void SetInput(TAuInput *input);

    QString ExceptionMessage() const;

    Handler OnDone;
    Handler OnProgress;
    Handler OnThreadException;

    std::atomic<bool> Stopped{false};
    std::atomic<bool> CanOutput{false};
    std::atomic<int> LastProgress{0};
    std::atomic<bool> Busy{false}; // from Run until the completion event was handled
    std::unique_ptr<TAuThread> Thread;
    std::mutex Lock;

protected:
    virtual void Prepare() = 0;
    // Moves one block; false when the input is exhausted or abort is set.
    virtual bool DoOutput(bool abort) = 0;
    virtual void Done() = 0;

    // Stops the worker for good and waits for it. Idempotent.
    void Shutdown();
    // Worker: queues a sink-specific event of the running run (delivered to sinkEvent in order with the
    // others, and dropped like them after a synchronous Stop).
    void postSinkEvent();
    virtual void sinkEvent() {}
    // Worker: reports a failure in the run as a thread exception would, without ending the run by a throw.
    void reportFailure(const QString &message);

private:
    friend class TAuThread;
    enum EventKind { EventProgress, EventDone, EventException, EventSink };
    // Worker: queues an event of run runId for the user-interface thread.
    void postEvent(EventKind kind, uint64_t runId);
    // User-interface thread: hands a queued event to its handler unless its run was dropped.
    void deliver(EventKind kind, uint64_t runId);
    void setExceptionMessage(const QString &message);

    uint64_t m_runId = 0;                 // the latest run; user-interface thread only
    std::atomic<uint64_t> m_workerRun{0}; // the run the worker is in
    uint64_t m_droppedRun = 0;            // events of this run and earlier ones are dropped

    mutable std::mutex m_messageMutex;
    QString m_exceptionMessage;
    QPointer<TAuInput> m_input;
    bool m_shutDown = false;
};
