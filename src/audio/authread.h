// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TAuOutput;

// The worker thread of one sink. The system thread starts at the sink's first Run and then sleeps between
// runs on a condition variable. Run, Stop, Pause and Resume (user-interface thread) and the worker meet only
// under m_mutex; the flags are atomic so that Status and the worker's loop can read them without it.
//
// The worker reports progress, a thread exception and the end of a run to its sink through queued calls,
// which the sink handles on the user-interface thread, in that order (see TAuOutput).
class TAuThread final {
public:
    explicit TAuThread(TAuOutput *output);
    ~TAuThread();
    TAuThread(const TAuThread &) = delete;
    TAuThread &operator=(const TAuThread &) = delete;

    // Starts run number runId: the system thread on the first call, a wake-up of the sleeping one later.
    // Returns at once; Sleeping is false from here until the run is wound up.
    void WakeForRun(uint64_t runId);
    // Asks a running worker to end its run at the next block (and leaves a pause).
    void RequestAbort();
    // Asks the worker to pause before its next block; true when it did within the time.
    bool RequestPause(std::chrono::milliseconds timeout);
    // Lets a paused worker go on.
    void ResumeRun();
    // User-interface thread: waits until the run is wound up (or no run was ever started), still running
    // the synchronised calls that the worker may be waiting on.
    void WaitUntilIdle();
    // Ends the system thread for good; waits for it.
    void Terminate();

    bool Started() const { return m_started; }

    TAuOutput *const Output;
    std::atomic<bool> Finished{false};
    std::atomic<bool> Abort{false};
    std::atomic<bool> PauseRequest{false};
    std::atomic<bool> Paused{false};
    std::atomic<bool> Sleeping{true};

private:
    void Execute();
    void runOnce(uint64_t runId);
    void pauseHere();

    std::mutex m_mutex;
    std::condition_variable m_wake; // the worker waits here: next run, resume, abort, termination
    uint64_t m_requestedRun = 0;    // guarded by m_mutex
    uint64_t m_servedRun = 0;       // guarded by m_mutex
    bool m_terminated = false;      // guarded by m_mutex
    std::atomic<bool> m_started{false};
    std::thread m_thread;
};
