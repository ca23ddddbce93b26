// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace.h"

#include <atomic>
#include <mutex>

namespace {

std::mutex lock;
std::function<void(const QString &)> traceSink;
std::atomic<int> traceLevel{0};

} // namespace

void SetTraceSink(int level, std::function<void(const QString &line)> sink)
{
    const std::lock_guard guard(lock);
    traceSink = std::move(sink);
    traceLevel = traceSink ? level : 0;
}

bool Tracing(int level)
{
    return traceLevel >= level;
}

void Trace(int level, const QString &line)
{
    if (!Tracing(level))
        return;
    const std::lock_guard guard(lock);
    if (traceSink)
        traceSink(line);
}
