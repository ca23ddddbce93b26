// SPDX-License-Identifier: GPL-3.0-or-later
#include "termination.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

void OnTerminationSignal(QObject *context, std::function<void()> then)
{
    static QSocketNotifier *notifier = nullptr;
    if (!notifier) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
            return;
        // Lives as long as the process: a signal may come at any time until the end.
        notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read);
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }
    QObject::disconnect(notifier, &QSocketNotifier::activated, nullptr, nullptr);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [then = std::move(then)] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        then();
    });
}
