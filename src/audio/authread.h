#pragma once

#include "autoresetevent.h"

#include <atomic>
#include <cstdint>
#include <thread>

class TAuOutput;

// The worker thread of one sink, created with it and sleeping between runs. Its flags are read and written
// by the user-interface thread (Run, Stop, Pause) and by the dispatcher, hence atomic.
class TAuThread final {
public:
    explicit TAuThread(TAuOutput *output);
    ~TAuThread();
    TAuThread(const TAuThread &) = delete;
    TAuThread &operator=(const TAuThread &) = delete;

    // Ends the thread: it leaves its loop at the next wake-up. The destructor waits for it.
    void Terminate();
    bool Terminated() const { return m_terminated; }

    // Asks the sleeping thread to start a run and returns when it is awake (its Abort cleared). Every call
    // wakes it exactly once, however the thread and the caller interleave.
    void WakeForRun();

    AutoResetEvent PauseEvent;
    AutoResetEvent WakeEvent;
    std::atomic<bool> SendDone{true};
    std::atomic<bool> Finished{false};
    TAuOutput *const Output;
    std::atomic<bool> Abort{false};
    std::atomic<bool> PauseRequest{false};
    std::atomic<bool> Paused{false};
    std::atomic<int> Delay{0};
    std::atomic<bool> Sleeping{true}; // true from the start: Run waits until the thread is awake

private:
    void Execute();
    void sleepUntilWoken();
    void queue(int kind);

    std::atomic<bool> m_terminated{false};
    std::atomic<uint64_t> m_wakeRequests{0};
    std::atomic<uint64_t> m_wakesServed{0};
    std::atomic<bool> m_exited{false};
    std::thread m_thread;
};
