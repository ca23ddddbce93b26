// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <functional>

// The longest time the thread it lives on goes without handling its events: a timer asks for a tick every
// millisecond and the longest gap between two ticks is kept. `onTick` runs with every tick.
class TStallClock {
public:
    explicit TStallClock(std::function<void()> onTick = {}) : m_onTick(std::move(onTick))
    {
        m_tick.setInterval(1);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
            if (m_onTick)
                m_onTick();
        });
        m_clock.start();
        m_tick.start();
    }
    qint64 Longest() const { return m_longest; } // milliseconds
    qint64 Elapsed() const { return m_clock.elapsed(); }

private:
    std::function<void()> m_onTick;
    QElapsedTimer m_clock;
    QTimer m_tick;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};
