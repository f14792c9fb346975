// SPDX-License-Identifier: MIT
// The panel's benchmark, the line: reply floods against a timer in the window's thread, the pace of
// "Setting", the waits and the response time-out, and one byte through a bare pseudo-terminal.

#include "measure.h"
#include "panel_sections.h"
#include "support/panel.h"

#include <QAbstractItemModel>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::Panel;
using testsupport::PtyDevice;

namespace bench {

// ---- 4. reply floods ----

// A separate process writes `chunk` to the line every `periodUs` for 10 s (from the device's side of the
// pseudo-terminal), so the process CPU measured here is the panel's alone. Meanwhile a 10 ms timer runs in
// the window's thread.
void flood(const QByteArray& chunk, long periodUs, bool wireSpeed) {
    constexpr int kSeconds = 10;
    constexpr int kTickMs = 10;
    const std::string label = wireSpeed ? "wire speed (960 B/s)" : "100 x wire speed (96,000 B/s)";
    Panel p;
    p.start();
    if (!serialLine(p.w).portOpen()) {
        return fail(QStringLiteral("flood: the port did not open"));
    }
    p.device->setMode(PtyDevice::Mode::Silent);

    std::vector<double> late;
    late.reserve(kSeconds * 1000 / kTickMs + 100);
    Clock::time_point last;
    bool running = false;
    double rssPeak = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (running) {
            late.push_back(ms(now - last) - kTickMs);
            if (late.size() % 100 == 0) {
                rssPeak = std::max(rssPeak, residentMb());
            }
        }
        last = now;
    });
    tick.start();
    PtyDevice::pump(500); // settle: the list, the timer and the allocator in their steady state
    int lines = 0;
    const auto counting =
        QObject::connect(ui(p.w).List2->model(), &QAbstractItemModel::rowsInserted, [&] { ++lines; });
    const double rss0 = residentMb();
    rssPeak = rss0;
    const double cpu0 = processCpu();
    const MachineTime m0 = machineTime();
    lines = 0;

    PtyDevice* device = p.device.get();
    const pid_t writer = ::fork();
    if (writer == 0) {
        // Only the device's write path runs here, no Qt.
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        const long total = kSeconds * 1'000'000L / periodUs;
        for (long i = 0; i < total; ++i) {
            next.tv_nsec += periodUs * 1000;
            while (next.tv_nsec >= 1'000'000'000L) {
                next.tv_nsec -= 1'000'000'000L;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            device->inject(chunk);
        }
        ::_exit(0);
    }
    if (writer < 0) {
        return fail(QStringLiteral("flood: cannot start the writer process"));
    }
    const auto t0 = Clock::now();
    running = true;
    bool exited = false;
    waitUntil(
        [&] {
            exited = exited || ::waitpid(writer, nullptr, WNOHANG) != 0;
            return exited;
        },
        (kSeconds + 10) * 1000);
    const double wall = ms(Clock::now() - t0) / 1000.0;
    running = false;
    tick.stop();
    const double cpu = processCpu() - cpu0;
    const MachineTime m1 = machineTime();
    const double rss1 = residentMb();
    QObject::disconnect(counting);

    add("Flood at " + label + ": p99 delay of a 10 ms timer", percentile(late, 0.99), "ms", 30, 2);
    add("Flood at " + label + ": CPU", 100.0 * cpu / wall, "% of a core", wireSpeed ? 25 : NAN, 2);
    add("Flood at " + label + ": resident memory growth", rss1 - rss0, "MB", 5, 2);
    note(
        QStringLiteral("Flood at %1: %2 s, %3 bytes written in chunks of %4 every %5 us, %6 replies listed "
                       "(List2 clears itself past 1000 lines); timer delay median %7 ms, max %8 ms; resident "
                       "%9 MB before, peak %10 MB, %11 MB after; the machine had %12 cores busy meanwhile.")
            .arg(QString::fromStdString(label))
            .arg(wall, 0, 'f', 2)
            .arg(static_cast<qint64>(chunk.size()) * kSeconds * 1'000'000L / periodUs)
            .arg(chunk.size())
            .arg(periodUs)
            .arg(lines)
            .arg(percentile(late, 0.5), 0, 'f', 2)
            .arg(late.empty() ? NAN : *std::max_element(late.begin(), late.end()), 0, 'f', 2)
            .arg(rss0, 0, 'f', 1)
            .arg(rssPeak, 0, 'f', 1)
            .arg(rss1, 0, 'f', 1)
            .arg(busyCores(m0, m1), 0, 'f', 2));
}

// ---- 5. Setting ----

// "Setting" sends the start, waits 500 ms, sends the end, waits 500 ms, sends the stay time; the intervals
// are taken from the device's arrival times.
void setting() {
    constexpr int kRepeats = 5;
    Panel p;
    p.start();
    if (!serialLine(p.w).portOpen()) {
        return fail(QStringLiteral("setting: the port did not open"));
    }
    PtyDevice::pump(100);
    std::vector<double> intervals;
    for (int r = 0; r < kRepeats; ++r) {
        p.device->clear();
        p.w->Command5_Click();
        if (!p.device->waitForCommands(3, 3000)) {
            return fail(QStringLiteral("setting: the device did not receive three commands"));
        }
        const auto commands = p.device->commands();
        if (commands.size() != 3 || !commands[0].text.startsWith('L') || !commands[1].text.startsWith('H') ||
            !commands[2].text.startsWith('T')) {
            return fail(QStringLiteral("setting: unexpected commands"));
        }
        intervals.push_back(ms(commands[1].at - commands[0].at));
        intervals.push_back(ms(commands[2].at - commands[1].at));
        PtyDevice::pump(50);
    }
    QString why;
    if (!p.boxes.verify(&why)) {
        fail(QStringLiteral("setting: ") + why);
    }
    const auto [least, most] = std::minmax_element(intervals.begin(), intervals.end());
    add("Setting: worst (L to H, H to T interval - 500 ms), 5 runs", *most - 500.0, "ms", 2, 3);
    // The stamps are taken by the device's thread when it reads, so a late read of H lengthens one interval
    // and shortens the other by the same amount: the L to T span shows whether the panel itself was late.
    double worstSpan = 0;
    for (std::size_t i = 0; i + 1 < intervals.size(); i += 2) {
        worstSpan = std::max(worstSpan, intervals[i] + intervals[i + 1] - 1000.0);
    }
    note(QStringLiteral(
             "Setting: intervals from %1 to %2 ms over %3 runs; L to T at most %4 ms beyond 1000 ms.")
             .arg(*least, 0, 'f', 3)
             .arg(*most, 0, 'f', 3)
             .arg(kRepeats)
             .arg(worstSpan, 0, 'f', 3));
    if (*least < 500.0) {
        note(QStringLiteral("Setting: an interval under 500 ms means the device's thread read a command late "
                            "(a busy machine); its neighbour is longer by as much."));
    }
}

// ---- 6. waits and the response time-out ----

// A wait of no time, the response time-out's tick, and sends on a line whose device went away: how soon each
// comes. The tests check what they do; these are their times.
void waits() {
    constexpr int kTimeouts = 10;
    Panel p;
    p.start();
    if (!serialLine(p.w).portOpen()) {
        return fail(QStringLiteral("waits: the port did not open"));
    }
    PtyDevice::pump(300); // the window's first paints and the port's first events are not the wait's
    std::vector<double> zero;
    for (int i = 0; i < 200; ++i) {
        const auto t0 = Clock::now();
        serialLine(p.w).DelayMs(i % 2 == 0 ? 0 : -5);
        zero.push_back(ms(Clock::now() - t0));
    }
    add("DelayMs(0) and DelayMs(-5): call to return, p99 of 200", percentile(zero, 0.99), "ms", 1, 3);

    // From the moment the command was handed to the system (the line reports it then) to the tick; the
    // box it shows is answered at once.
    p.device->setMode(PtyDevice::Mode::Silent);
    p.boxes.allow(QStringLiteral("no response form device"));
    Clock::time_point sent;
    Clock::time_point ticked;
    const auto onSent =
        QObject::connect(&serialLine(p.w), &devlink::SerialLine::commandSent, [&] { sent = Clock::now(); });
    const auto onTick =
        QObject::connect(&serialLine(p.w), &devlink::SerialLine::timedOut, [&] { ticked = Clock::now(); });
    std::vector<double> late;
    for (int i = 0; i < kTimeouts; ++i) {
        ticked = {};
        ui(p.w).TxtCom->setText(QStringLiteral("z"));
        p.w->CmdSend_Click();
        if (!waitUntil([&] { return ticked != Clock::time_point(); }, 5000)) {
            return fail(QStringLiteral("waits: the response time-out never ticked"));
        }
        late.push_back(ms(ticked - sent) - 1000.0);
    }
    QObject::disconnect(onSent);
    QObject::disconnect(onTick);
    const auto [earliest, latest] = std::minmax_element(late.begin(), late.end());
    add("Response time-out: command handed over to its tick, beyond 1000 ms, worst of 10", *latest, "ms", 5,
        3);
    if (*earliest < 0) {
        fail(QStringLiteral("waits: a time-out ticked %1 ms before its second").arg(-*earliest, 0, 'f', 3));
    }

    p.device->hangUp();
    const auto t0 = Clock::now();
    serialLine(p.w).SendCommand(QStringLiteral("C1550,"));
    serialLine(p.w).SendCommand(QStringLiteral("C1551,"));
    const double dead = ms(Clock::now() - t0);
    add("Two sends on a line whose device hung up: call to return", dead, "ms", 10, 3);
    note(QStringLiteral("Waits: DelayMs of no time median %1 ms, max %2 ms; response time-out %3 to %4 ms "
                        "beyond its second over %5 sends to a silent device.")
             .arg(percentile(zero, 0.5), 0, 'f', 3)
             .arg(*std::max_element(zero.begin(), zero.end()), 0, 'f', 3)
             .arg(*earliest, 0, 'f', 3)
             .arg(*latest, 0, 'f', 3)
             .arg(kTimeouts));
}

// One byte through a bare pseudo-terminal, without Qt, 500 times: the kernel hands it over in a worker
// thread, so on a busy machine the line itself is late. This is the floor under every figure measured on the
// line; on a quiet machine its p99 is a few tens of microseconds.
double bareLineP99() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        return NAN;
    }
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    std::vector<double> took;
    if (slave >= 0) {
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        for (int i = 0; i < 500; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            char byte = 'x';
            const auto t0 = Clock::now();
            if (::write(master, &byte, 1) != 1 || ::read(slave, &byte, 1) != 1) {
                break;
            }
            took.push_back(ms(Clock::now() - t0));
        }
        ::close(slave);
    }
    ::close(master);
    return percentile(took, 0.99);
}

} // namespace bench
