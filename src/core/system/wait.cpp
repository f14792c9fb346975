// SPDX-License-Identifier: MIT
#include "system/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/prctl.h>
#endif

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace platform {

namespace {
// The loops of the waits under way on this thread, innermost last. Operations run on one thread, but a server
// may run its line on a thread of its own beside others that never wait.
std::vector<QEventLoop*>& sleeping() {
    thread_local std::vector<QEventLoop*> loops;
    return loops;
}
// Sleeps for about `ns` (at least 1) nanoseconds. The kernel may let a sleep run on by the thread's timer
// slack (50 us by default) to bunch wake-ups; a wait's last naps should end when they are meant to, so the
// slack is taken away for the nap.
void nap(qint64 ns) {
#ifdef __linux__
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
#endif
    std::this_thread::sleep_for(std::chrono::nanoseconds(std::max<qint64>(ns, 1)));
#ifdef __linux__
    if (slack > 0) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
    }
#endif
}

} // namespace

void waitMs(std::int32_t HowLong, const std::function<bool()>& stopped) {
    QElapsedTimer waited;
    waited.start();
    const qint64 limitNs = static_cast<qint64>(HowLong) * 1000000;
    for (;;) {
        DoEvents();
        if (stopped() || waited.nsecsElapsed() > limitNs) {
            return;
        }
        // Sleep in the event loop, so that every event that comes meanwhile (a reply, a timer, a click) is
        // handled at once. Qt rounds a timer's remaining time up to a whole millisecond each time the loop
        // wakes, so it is aimed a millisecond early and naps of at most 0.1 ms, the last one ending on the
        // deadline, finish the wait.
        // Whole milliseconds left, less one: the timer can then fire at most a millisecond late and still
        // come before the deadline.
        const qint64 leftMs = (limitNs - waited.nsecsElapsed()) / 1000000 - 1;
        if (leftMs >= 1) {
            QEventLoop loop;
            QTimer deadline;
            deadline.setSingleShot(true);
            deadline.setTimerType(Qt::PreciseTimer);
            QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
            deadline.start(static_cast<int>(std::min<qint64>(leftMs, std::numeric_limits<int>::max())));
            sleeping().push_back(&loop);
            loop.exec();
            sleeping().erase(std::find(sleeping().begin(), sleeping().end(), &loop));
        } else {
            nap(std::min<qint64>(100000, limitNs - waited.nsecsElapsed() + 1));
        }
    }
}

void interruptWaits() {
    for (QEventLoop* loop : sleeping()) {
        loop->quit();
    }
}

} // namespace platform
