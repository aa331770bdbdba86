// SPDX-License-Identifier: GPL-3.0-or-later
#include "close_on_signals.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler only writes to a pipe, which is safe in a signal handler; the
// event loop reads it and closes the window.
int signal_pipe[2] = {-1, -1};

extern "C" void on_signal(int)
{
    const int saved_errno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signal_pipe[1], &byte, 1);
    errno = saved_errno;
}

} // namespace

void close_on_signals(QWidget *window)
{
    const bool first = signal_pipe[0] < 0;
    if (first && ::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window = QPointer<QWidget>(window)] {
        char bytes[16];
        while (::read(signal_pipe[0], bytes, sizeof bytes) > 0) {
        }
        if (window) {
            window->setProperty(unattended_close_property, true);
            window->close(); // cancels a run and waits for its clean-up
        }
        // Also out of a report box's own loop.
        QCoreApplication::quit();
    });
    if (!first)
        return;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
