#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// An event that lets one waiter through per set() and then resets itself.
class AutoResetEvent final {
public:
    void set()
    {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        m_condition.notify_one();
    }
    void reset()
    {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_condition.wait(lock, [this] { return m_signalled; });
        m_signalled = false;
    }
    // False when the time ran out first.
    bool waitFor(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        if (!m_condition.wait_for(lock, timeout, [this] { return m_signalled; }))
            return false;
        m_signalled = false;
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_signalled = false;
};
