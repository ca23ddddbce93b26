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

// The base of every audio sink. A sink pulls: Run wakes its worker thread (TAuThread), which calls Prepare,
// then DoOutput until it returns false or the run is stopped, then Done. Progress, completion and
// exceptions of a run reach the handlers below on the user-interface thread, through the shared dispatcher
// (TEventHandler). An exception inside a run never leaves the worker: it is kept in ExceptionMessage,
// reported to OnThreadException, and the run is wound up as usual, so OnDone follows.
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
    // Ends the run. Async: returns at once, OnDone follows. Otherwise waits for the worker (still running
    // synchronised calls, so it cannot deadlock), drops the sink's queued events, and calls no OnDone.
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

private:
    friend class TAuThread;
    void setExceptionMessage(const QString &message);

    mutable std::mutex m_messageMutex;
    QString m_exceptionMessage;
    QPointer<TAuInput> m_input;
    bool m_shutDown = false;
};
