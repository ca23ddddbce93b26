// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <functional>

// SIGINT and SIGTERM as an ordinary event: the signal handler only writes a byte into a socket pair, and
// `then` runs later on the thread of `context`'s event loop, where stopping a job or closing a window is
// safe. Installed once per process; a second call replaces the callback.
void OnTerminationSignal(QObject *context, std::function<void()> then);
