// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

// What the program does, step by step, for a user who asks to see it (sondrel-cli --verbose): level 1 the
// steps (a drive opened, a request and its answer, a file settled), level 2 also each child program's
// command line. Nothing is said unless a sink is set. Thread-safe: workers trace too.
void SetTraceSink(int level, std::function<void(const QString &line)> sink);
bool Tracing(int level);
void Trace(int level, const QString &line);
