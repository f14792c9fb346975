#include "platform/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace platform {

namespace {
// The loops of the waits under way, innermost last; all on the one thread that runs the operations.
std::vector<QEventLoop*>& sleeping() {
    static std::vector<QEventLoop*> loops;
    return loops;
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
        // wakes, so it is aimed a millisecond early and short naps finish the wait.
        const qint64 leftMs = static_cast<qint64>(HowLong) - waited.elapsed() - 1;
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
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

void interruptWaits() {
    for (QEventLoop* loop : sleeping()) {
        loop->quit();
    }
}

} // namespace platform
