// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// Synchronised calls: a worker thread hands a call to the application's main (user-interface) thread and
// waits until it has run there. The main thread runs queued calls from its event loop, and also while it
// waits for a worker in WaitRunningSynchronize, so that a worker blocked in Synchronize can never deadlock
// it.

// Runs the call on the main thread and returns when it has run. On the main thread itself, or without an
// application object, the call runs at once. An exception thrown by the call is thrown again here.
void Synchronize(const std::function<void()> &call);

// Main thread only: runs every queued call. True when at least one ran.
bool CheckSynchronize();

// Main thread: waits until done() holds or the time runs out, running synchronised calls meanwhile. done()
// is evaluated under the module's lock and must only read atomics; whoever makes it true calls
// WakeSynchronizeWaiters afterwards. False when the time ran out.
bool WaitRunningSynchronize(const std::function<bool()> &done,
                            std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
void WakeSynchronizeWaiters();

// A stop request one thread sets and others see at once: in their checks, and in timed waits, which it ends.
// Thread-safe.
class TStopFlag final {
public:
    void Set();
    bool IsSet() const { return m_set; }
    // For code that only polls (libcurl's progress callback).
    const std::atomic<bool> *Atomic() const { return &m_set; }
    // Waits until the deadline or the stop request; true when stopped.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) const;

private:
    std::atomic<bool> m_set{false};
    mutable std::mutex m_lock;
    mutable std::condition_variable m_wake;
};

// Waits until the deadline, or less when the flag (if any) is set; true when stopped.
bool WaitUntilStopped(const TStopFlag *stop, std::chrono::steady_clock::time_point deadline);
