// SPDX-License-Identifier: GPL-3.0-or-later
#include "synchronize.h"

#include <QCoreApplication>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace {

struct PendingCall {
    std::function<void()> call;
    std::exception_ptr error;
    bool done = false;
};

std::mutex queueMutex;
std::condition_variable callDone;
std::condition_variable mainWakes; // the main thread's wait: a call queued, or a waiter's state changed
std::deque<std::shared_ptr<PendingCall>> queue;

bool onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || app->thread() == QThread::currentThread();
}

} // namespace

void Synchronize(const std::function<void()> &call)
{
    if (onMainThread()) {
        call();
        return;
    }
    auto pending = std::make_shared<PendingCall>();
    pending->call = call;
    {
        std::lock_guard lock(queueMutex);
        queue.push_back(pending);
    }
    mainWakes.notify_all();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { CheckSynchronize(); }, Qt::QueuedConnection);
    std::unique_lock lock(queueMutex);
    callDone.wait(lock, [&] { return pending->done; });
    if (pending->error)
        std::rethrow_exception(pending->error);
}

bool CheckSynchronize()
{
    bool ran = false;
    for (;;) {
        std::shared_ptr<PendingCall> pending;
        {
            std::lock_guard lock(queueMutex);
            if (queue.empty())
                return ran;
            pending = queue.front();
            queue.pop_front();
        }
        try {
            pending->call();
        } catch (...) {
            pending->error = std::current_exception();
        }
        ran = true;
        {
            std::lock_guard lock(queueMutex);
            pending->done = true;
        }
        callDone.notify_all();
    }
}

bool WaitRunningSynchronize(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const bool unbounded = timeout == std::chrono::milliseconds::max();
    const Clock::time_point deadline = unbounded ? Clock::time_point::max() : Clock::now() + timeout;
    for (;;) {
        CheckSynchronize();
        std::unique_lock lock(queueMutex);
        const auto ready = [&] { return done() || !queue.empty(); };
        if (unbounded)
            mainWakes.wait(lock, ready);
        else if (!mainWakes.wait_until(lock, deadline, ready))
            return false;
        if (done())
            return true;
    }
}

void WakeSynchronizeWaiters()
{
    {
        std::lock_guard lock(queueMutex);
    }
    mainWakes.notify_all();
}

void TStopFlag::Set()
{
    {
        std::lock_guard lock(m_lock);
        m_set = true;
    }
    m_wake.notify_all();
}

bool TStopFlag::WaitUntil(std::chrono::steady_clock::time_point deadline) const
{
    std::unique_lock lock(m_lock);
    return m_wake.wait_until(lock, deadline, [this] { return m_set.load(); });
}

bool WaitUntilStopped(const TStopFlag *stop, std::chrono::steady_clock::time_point deadline)
{
    // Without a flag, one that is never set: the wait is the timed wait it asks for.
    static const TStopFlag never;
    return (stop ? stop : &never)->WaitUntil(deadline);
}
