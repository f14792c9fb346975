// SPDX-License-Identifier: MIT
#include "system/stopsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t caught = 0;

extern "C" void onStopSignal(int number) {
    // write() may change errno under the code that the signal interrupted.
    const int saved = errno;
    caught = number;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], "s", 1);
    errno = saved;
}
} // namespace

int catchStopSignals(std::initializer_list<int> more) {
    if (signalPipe[0] >= 0) {
        return signalPipe[0];
    }
    if (::pipe(signalPipe) != 0) {
        return -1;
    }
    for (const int fd : signalPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM}) {
        ::sigaction(number, &action, nullptr);
    }
    for (const int number : more) {
        ::sigaction(number, &action, nullptr);
    }
    return signalPipe[0];
}

int caughtStopSignal() {
    return caught;
}

void drainStopSignals(int readEnd) {
    char drained[16];
    while (::read(readEnd, drained, sizeof drained) > 0) {
    }
}

void onStopSignals(QObject* context, std::function<void()> stop) {
    const int readEnd = catchStopSignals();
    if (readEnd < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [readEnd, stop = std::move(stop)] {
        drainStopSignals(readEnd);
        stop();
    });
}

} // namespace platform
