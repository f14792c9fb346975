// SPDX-License-Identifier: MIT
// The panel's figures against their goals, measured in one run on a real pseudo-terminal with the window
// offscreen: start-up, the calibration upload's pace and CPU, reply latency, reply floods, the pace of
// "Setting", merovask-ctl's start, upload and scan set-up, the waits and the response time-out, and large
// inputs. Prints one Markdown table; the notes under it say what each figure includes. The tests check what
// the program does; how soon it does it is measured here.

#include "device/number.h"
#include "dialogs/filedialog.h"
#include "dialogs/msgbox.h"
#include "measure.h"
#include "support/panel.h"
#include "system/clock.h"
#include "system/profile.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::Panel;
using testsupport::PtyDevice;
using namespace bench;

namespace {

// ---- 1. start-up ----

// Fresh windows in one process: construction, Form_Load (which opens the port) and showCentred, until the
// window's first paint event. The resident size is taken once the first window has painted.
void startUp() {
    constexpr int kStarts = 20;
    Panel p;
    PaintWatch watch;
    std::vector<double> times;
    double rss = 0;
    for (int i = 0; i < kStarts; ++i) {
        p.w.reset();
        QCoreApplication::processEvents();
        bool painted = false;
        Clock::time_point at;
        watch.onPaint = [&](QObject* watched) {
            const auto* widget = qobject_cast<QWidget*>(watched);
            if (!painted && widget != nullptr && qobject_cast<frmMotor*>(widget->window()) != nullptr) {
                painted = true;
                at = Clock::now();
            }
        };
        qApp->installEventFilter(&watch);
        const auto t0 = Clock::now();
        p.start();
        const bool ok = waitUntil([&] { return painted; }, 5000);
        qApp->removeEventFilter(&watch);
        if (!ok) {
            return fail(QStringLiteral("start-up: the window never painted"));
        }
        times.push_back(ms(at - t0));
        if (i == 0) {
            rss = residentMb();
            if (!serialLine(p.w).portOpen()) {
                fail(QStringLiteral("start-up: the port did not open"));
            }
        }
    }
    add("Start to first paint, p90 of 20 fresh windows", percentile(times, 0.9), "ms", 100, 1);
    add("Start to first paint, the process's first window", times.front(), "ms", 100, 1);
    add("Resident memory after start", rss, "MB", 40, 1);
    note(QStringLiteral(
             "Start-up: the first window pays the one-time costs (fonts, style); over the 20 windows "
             "the median is %1 ms, the max %2 ms. Each start includes opening the port.")
             .arg(percentile(times, 0.5), 0, 'f', 1)
             .arg(*std::max_element(times.begin(), times.end()), 0, 'f', 1));
}

// ---- 2. the calibration upload ----

void upload(bool loaded) {
    constexpr int kRows = 100;
    constexpr double kFloor = (2 * kRows + 11) * 0.050; // 2n + 11 waits of 50 ms
    const QString label = loaded ? QStringLiteral("other core loaded") : QStringLiteral("other core idle");
    Panel p;
    p.start();
    if (!serialLine(p.w).portOpen()) {
        return fail(QStringLiteral("upload: the port did not open"));
    }
    // Rows "wave<TAB>value", waves falling from 1600.
    QByteArray table;
    for (int k = 0; k < kRows; ++k) {
        table += QByteArray::number(1600 - k) + '\t' + QByteArray::number(100 + k) + "\r\n";
    }
    const QString path = p.path(QStringLiteral("cal.txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(table) != table.size()) {
        return fail(QStringLiteral("upload: cannot write ") + path);
    }
    file.close();
    platform::setFileDialogHandlerForTests(
        [path](const OPENFILENAME&) -> std::optional<QString> { return path; });
    p.boxes.expect(QStringLiteral("the wave range is from 1501 to 1600 total 100, correct?"),
                   platform::vbYes);
    p.boxes.expect(QStringLiteral("plese reset the tunable filter device's power and this software!"));

    std::unique_ptr<BusyProcess> busy;
    if (loaded) {
        busy = std::make_unique<BusyProcess>();
        if (!busy->ok()) {
            return fail(QStringLiteral("upload: cannot start the busy process"));
        }
    }
    PtyDevice::pump(300); // let the busy process take its core
    p.device->clear();
    const MachineTime m0 = machineTime();
    const double cpu0 = processCpu();
    const double thread0 = threadCpu();
    const auto t0 = Clock::now();
    p.w->CmdFile_Click();
    const double wall = ms(Clock::now() - t0) / 1000.0;
    const double cpu = processCpu() - cpu0;
    const double thread = threadCpu() - thread0;
    const MachineTime m1 = machineTime();
    busy.reset();
    platform::setFileDialogHandlerForTests({});

    p.device->waitForCommands(2 * kRows + 10, 2000);
    const auto received = p.device->commands();
    const std::size_t commands = received.size();
    // Each gap between two commands on the line is one or two waits of 50 ms (or none, where two commands go
    // out back to back); what it has beyond that is the wait's overshoot plus the work between the waits.
    std::vector<double> over;
    for (std::size_t i = 1; i < received.size(); ++i) {
        const double gap = ms(received[i].at - received[i - 1].at);
        const double waits = std::round(gap / 50.0);
        if (waits >= 1) {
            over.push_back((gap - 50.0 * waits) / waits);
        }
    }
    QString why;
    if (!p.boxes.verify(&why)) {
        fail(QStringLiteral("upload (%1): %2").arg(label, why));
    }
    if (commands != 2 * kRows + 10) {
        fail(QStringLiteral("upload (%1): the device received %2 commands, not %3")
                 .arg(label)
                 .arg(commands)
                 .arg(2 * kRows + 10));
    }
    add("100-row upload, wall time / 10.55 s floor, " + label.toStdString(), wall / kFloor, "x floor",
        loaded ? 1.05 : 1.025, 4);
    if (!loaded) {
        add("CPU during the 100-row upload", 100.0 * cpu / wall, "% of a core", 3, 2);
    }
    note(
        QStringLiteral("Upload, %1: %2 s for %3 waits of 50 ms (floor %4 s), %5 commands; CPU of the process "
                       "%6% of a core (window thread %7%, the rest is the device's thread); the machine had "
                       "%8 cores busy meanwhile. Per wait, beyond 50 ms, from the device's arrival times: "
                       "median %9 ms, p90 %10 ms, max %11 ms.")
            .arg(label)
            .arg(wall, 0, 'f', 3)
            .arg(2 * kRows + 11)
            .arg(kFloor, 0, 'f', 2)
            .arg(commands)
            .arg(100.0 * cpu / wall, 0, 'f', 2)
            .arg(100.0 * thread / wall, 0, 'f', 2)
            .arg(busyCores(m0, m1), 0, 'f', 2)
            .arg(percentile(over, 0.5), 0, 'f', 3)
            .arg(percentile(over, 0.9), 0, 'f', 3)
            .arg(over.empty() ? NAN : *std::max_element(over.begin(), over.end()), 0, 'f', 3));
}

// ---- 3. reply latency ----

// A second thread writes each reply, notes when its last byte went out and waits for the reply's line in
// List2 and the following paint of the list before writing the next: replies come one per command, not back
// to back.
void latency(bool bytewise) {
    constexpr int kReplies = 1000;
    const std::string how = bytewise ? "one byte per write" : "whole reply";
    Panel p;
    p.start();
    if (!serialLine(p.w).portOpen()) {
        return fail(QStringLiteral("latency: the port did not open"));
    }
    p.device->setMode(PtyDevice::Mode::Silent);
    PtyDevice::pump(100);

    std::atomic<Clock::rep> listedAt{0};
    std::atomic<Clock::rep> paintedAt{0};
    std::atomic<int> listed{0};
    std::atomic<int> painted{0};
    bool armed = false; // window thread only
    const auto connection = QObject::connect(ui(p.w).List2->model(), &QAbstractItemModel::rowsInserted, [&] {
        listedAt = Clock::now().time_since_epoch().count();
        armed = true;
        ++listed;
    });
    PaintWatch watch;
    watch.onPaint = [&](QObject*) {
        if (armed) {
            armed = false;
            paintedAt = Clock::now().time_since_epoch().count();
            ++painted;
        }
    };
    ui(p.w).List2->viewport()->installEventFilter(&watch);

    std::vector<double> toList;
    std::vector<double> toPaint;
    toList.reserve(kReplies);
    toPaint.reserve(kReplies);
    std::atomic<bool> ok{true};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kReplies && ok; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const int seenListed = listed;
            const int seenPainted = painted;
            // The clock starts as the write of the reply's last byte begins, so the write is part of the
            // figure.
            if (bytewise) {
                p.device->inject("O");
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                p.device->inject("K");
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            const auto sent = Clock::now();
            p.device->inject(bytewise ? QByteArray(" ") : QByteArray("OK "));
            const auto deadline = sent + std::chrono::seconds(5);
            while (listed == seenListed || painted == seenPainted) {
                if (Clock::now() > deadline) {
                    ok = false;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
            toList.push_back(ms(Clock::time_point{Clock::duration{listedAt.load()}} - sent));
            toPaint.push_back(ms(Clock::time_point{Clock::duration{paintedAt.load()}} - sent));
        }
        done = true;
    });
    waitUntil([&] { return done.load(); }, 120000);
    writer.join();
    ui(p.w).List2->viewport()->removeEventFilter(&watch);
    QObject::disconnect(connection);
    if (!ok) {
        return fail(QStringLiteral("latency (%1): a reply did not reach the list or the screen")
                        .arg(QString::fromStdString(how)));
    }
    add("Last reply byte to its line in List2, median, " + how, percentile(toList, 0.5), "ms", 0.5, 3);
    add("Last reply byte to its line in List2, p99, " + how, percentile(toList, 0.99), "ms", 5, 3);
    add("Last reply byte to the list's next paint event, median, " + how, percentile(toPaint, 0.5), "ms", 0.5,
        3);
    add("Last reply byte to the list's next paint event, p99, " + how, percentile(toPaint, 0.99), "ms", 5, 3);
    note(QStringLiteral("Latency, %1, %2 replies: to the list max %3 ms; to the paint max %4 ms.")
             .arg(QString::fromStdString(how))
             .arg(toList.size())
             .arg(*std::max_element(toList.begin(), toList.end()), 0, 'f', 3)
             .arg(*std::max_element(toPaint.begin(), toPaint.end()), 0, 'f', 3));
}

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

// ---- 7. large inputs ----

// The number reader on texts of 100,000 characters, the settings calls on settings files of 10 MB, and the
// window's start on such a file of noise: each must take time in proportion to its input.
void inputs() {
    constexpr int kLong = 100000;
    const QList<QString> texts{QString(kLong, u'9'),
                               QString(kLong, u'0') + u'7',
                               QStringLiteral("0.") + QString(kLong, u'0') + u'1',
                               QStringLiteral("1") + QString(kLong, u'0') + QStringLiteral("e-100000"),
                               QString(kLong, u' ') + QStringLiteral("12"),
                               QStringLiteral("1 ").repeated(kLong),
                               QStringLiteral("&H") + QString(kLong, u'F'),
                               QStringLiteral("1e") + QString(kLong, u'9')};
    double reader = 0;
    for (const QString& text : texts) {
        const auto t0 = Clock::now();
        volatile double value = filter::readNumber(text);
        (void)value;
        reader = std::max(reader, ms(Clock::now() - t0));
    }
    add("Number reader on a text of 100,000 characters, worst of 8", reader, "ms", 50, 2);

    constexpr int kSize = 10 * 1024 * 1024;
    QByteArray noise(kSize, '\0');
    QRandomGenerator(20240607).fillRange(reinterpret_cast<quint32*>(noise.data()), kSize / 4);
    const QList<QByteArray> files{noise,
                                  QByteArray(kSize, 'x'),
                                  QByteArray("[tfilter]\r\nport=") + QByteArray(kSize, '='),
                                  QByteArray(kSize, '\r'),
                                  QByteArray(kSize, '\0'),
                                  QByteArray(kSize, '['),
                                  QByteArray("[tfilter]\n") + QByteArray("k=v\n").repeated(kSize / 4),
                                  QByteArray("[s]\n").repeated(kSize / 4)};
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("merovask.ini")));
    double calls = 0;
    for (const QByteArray& bytes : files) {
        QFile file(QString::fromLocal8Bit(path));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            return fail(QStringLiteral("inputs: cannot write ") + file.fileName());
        }
        file.close();
        char value[200];
        const auto t0 = Clock::now();
        GetPrivateProfileStringA("tfilter", "port", "1", value, sizeof value, path.constData());
        const bool written = WritePrivateProfileStringA("tfilter", "Cch", "1550", path.constData()) != 0;
        GetPrivateProfileStringA("tfilter", "Cch", "x", value, sizeof value, path.constData());
        calls = std::max(calls, ms(Clock::now() - t0));
        if (!written || qstrcmp(value, "1550") != 0) {
            return fail(QStringLiteral("inputs: the settings calls failed on a file of 10 MB"));
        }
    }
    add("Settings calls on a file of 10 MB: read, write, read back, worst of 8 files", calls, "ms", 2000, 0);

    QByteArray garbage = noise;
    const char sprinkle[] = "=[]\r\n ";
    QRandomGenerator random(4711);
    for (qsizetype i = 0; i < garbage.size(); i += 37) {
        garbage[i] = sprinkle[random.bounded(6)];
    }
    Panel p(garbage);
    const auto t0 = Clock::now();
    p.start();
    const double start = ms(Clock::now() - t0);
    add("Start-up on a settings file of 10 MB of noise, to the window shown", start, "ms", 2000, 0);
}

// ---- 8. merovask-ctl ----

// The tool in a program folder of its own with the device linked there as com1. Returns its exit status and
// its CPU (user + system) from the kernel's account of the child.
struct ToolRun {
    int status = -1;
    double cpu = 0;
    Clock::time_point started;
    Clock::time_point ended;
};

ToolRun runTool(const QString& tool, const QStringList& args) {
    std::vector<QByteArray> words{QFile::encodeName(tool)};
    for (const QString& a : args) {
        words.push_back(a.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    ToolRun run;
    run.started = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    // The device's thread answers meanwhile; this thread only waits.
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    run.ended = Clock::now();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpu = seconds(usage);
    return run;
}

void tool() {
    constexpr int kStarts = 30;
    constexpr int kRows = 100;
    constexpr double kFloor = (2 * kRows + 11) * 0.050;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("merovask-ctl"));
    if (!QFile::copy(QStringLiteral(MEROVASK_CTL_PATH), path)) {
        return fail(QStringLiteral("merovask-ctl: cannot copy the program"));
    }
    PtyDevice device(dir.path(), 1);

    // exec to the terminator of C1550 on the line, as the device reads it.
    std::vector<double> toLine;
    for (int i = 0; i < kStarts; ++i) {
        device.clear();
        const ToolRun run = runTool(path, {QStringLiteral("tune"), QStringLiteral("1550")});
        const auto commands = device.commands();
        if (run.status != 0 || commands.size() != 1) {
            return fail(QStringLiteral("merovask-ctl tune: status %1, %2 commands")
                            .arg(run.status)
                            .arg(commands.size()));
        }
        toLine.push_back(ms(commands.front().at - run.started));
    }
    add("merovask-ctl tune: exec to the command's last byte on the line, median of 30",
        percentile(toLine, 0.5), "ms", 30, 1);

    QByteArray table;
    for (int k = 0; k < kRows; ++k) {
        table += QByteArray::number(1600 - k) + '\t' + QByteArray::number(100 + k) + "\r\n";
    }
    QFile file(dir.filePath(QStringLiteral("cal.txt")));
    if (!file.open(QIODevice::WriteOnly) || file.write(table) != table.size()) {
        return fail(QStringLiteral("merovask-ctl upload: cannot write the table"));
    }
    file.close();
    device.clear();
    const ToolRun run = runTool(path, {QStringLiteral("upload"), file.fileName(), QStringLiteral("--yes")});
    const auto commands = device.commands();
    if (run.status != 0 || commands.size() != 2 * kRows + 10) {
        return fail(QStringLiteral("merovask-ctl upload: status %1, %2 commands")
                        .arg(run.status)
                        .arg(commands.size()));
    }
    // From the first command on the line to the end of the last wait (the program ends right after it).
    const double wall = ms(run.ended - commands.front().at) / 1000.0;
    const double total = ms(run.ended - run.started) / 1000.0;
    add("merovask-ctl 100-row upload, first command to exit / 10.55 s floor", wall / kFloor, "x floor", 1.005,
        4);
    add("CPU of merovask-ctl during its 100-row upload", 100.0 * run.cpu / total, "% of a core", 3, 2);
    std::vector<double> over; // per wait beyond 50 ms, as in the panel's upload
    for (std::size_t i = 1; i < commands.size(); ++i) {
        const double gap = ms(commands[i].at - commands[i - 1].at);
        if (const double waits = std::round(gap / 50.0); waits >= 1) {
            over.push_back((gap - 50.0 * waits) / waits);
        }
    }
    note(QStringLiteral(
             "merovask-ctl: tune from exec to the line median %1 ms, p90 %2 ms, max %3 ms. Upload: %4 s "
             "from exec to exit, %5 s from its first command, %6 ms from its last command to exit "
             "(50 ms of them the last wait); per wait beyond 50 ms median %7 ms, p90 %8 ms; %9 s of "
             "CPU.")
             .arg(percentile(toLine, 0.5), 0, 'f', 1)
             .arg(percentile(toLine, 0.9), 0, 'f', 1)
             .arg(*std::max_element(toLine.begin(), toLine.end()), 0, 'f', 1)
             .arg(total, 0, 'f', 3)
             .arg(wall, 0, 'f', 3)
             .arg(ms(run.ended - commands.back().at), 0, 'f', 2)
             .arg(percentile(over, 0.5), 0, 'f', 3)
             .arg(percentile(over, 0.9), 0, 'f', 3)
             .arg(run.cpu, 0, 'f', 3));

    // scan-setup: its two pauses of 500 ms, as the device's thread reads the commands.
    std::vector<double> intervals;
    for (int r = 0; r < 3; ++r) {
        device.clear();
        const ToolRun setup = runTool(path, {QStringLiteral("scan-setup"), QStringLiteral("1510"),
                                             QStringLiteral("1589"), QStringLiteral("1")});
        const auto sent = device.commands();
        if (setup.status != 0 || sent.size() != 3) {
            return fail(QStringLiteral("merovask-ctl scan-setup: status %1, %2 commands")
                            .arg(setup.status)
                            .arg(sent.size()));
        }
        intervals.push_back(ms(sent[1].at - sent[0].at));
        intervals.push_back(ms(sent[2].at - sent[1].at));
    }
    const auto [least, most] = std::minmax_element(intervals.begin(), intervals.end());
    add("merovask-ctl scan-setup: worst (L to H, H to T interval - 500 ms), 3 runs", *most - 500.0, "ms", 2,
        3);

    // The line goes away after the fifth command of an upload: the tool stops at its next step.
    device.clear();
    std::atomic<int> seen{0};
    device.setScript([&device, &seen](const QByteArray&) {
        if (++seen == 5) {
            // The device's own thread cannot take its line away; the main thread does, at once.
            QMetaObject::invokeMethod(
                qApp, [&device] { device.hangUp(); }, Qt::QueuedConnection);
        }
        return QByteArrayLiteral("OK ");
    });
    const ToolRun gone = runTool(path, {QStringLiteral("upload"), file.fileName(), QStringLiteral("--yes")});
    const auto before = device.commands();
    if (gone.status != 2 || before.size() < 5) {
        return fail(QStringLiteral("merovask-ctl upload, line gone: status %1, %2 commands")
                        .arg(gone.status)
                        .arg(before.size()));
    }
    add("merovask-ctl upload, the line gone after its 5th command: that command to exit",
        ms(gone.ended - before[4].at), "ms", 100, 1);
    note(QStringLiteral("merovask-ctl scan-setup: intervals from %1 to %2 ms over 3 runs.")
             .arg(*least, 0, 'f', 3)
             .arg(*most, 0, 'f', 3));
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

QString machine() {
    QString model = QStringLiteral("unknown CPU");
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (QByteArray line = cpuinfo.readLine(); !line.isEmpty(); line = cpuinfo.readLine()) {
            if (line.startsWith("model name")) {
                model = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
        }
    }
    const double ram =
        static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    QByteArray load;
    if (loadavg.open(QIODevice::ReadOnly)) {
        load = loadavg.readAll().split(' ').mid(0, 3).join(' ');
    }
    return QStringLiteral("%1 cores (nproc), %2, %3 GiB RAM; load average at start %4")
        .arg(std::thread::hardware_concurrency())
        .arg(model)
        .arg(ram / (1024.0 * 1024.0 * 1024.0), 0, 'f', 1)
        .arg(QString::fromLatin1(load));
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    platform::setNowForTests([] { return QDateTime(QDate(2024, 3, 5), QTime(9, 7, 33)); });
    const QString where = machine();
    const QString when = QDateTime::currentDateTime().toString(Qt::ISODate);

    // Sections may be named on the command line (start upload latency flood wire setting ctl waits inputs) to
    // run only those, e.g. under a profiler; by default all run, start-up first so that the resident size is
    // a fresh process's.
    QStringList chosen = app.arguments().mid(1);
    const auto run = [&chosen](const char* name) {
        return chosen.isEmpty() || chosen.contains(QLatin1String(name));
    };
    if (run("start")) {
        startUp();
    }
    const double lateBefore = bareLineP99();
    if (run("upload")) {
        upload(false);
        upload(true);
    }
    if (run("latency")) {
        latency(false);
        latency(true);
    }
    if (run("flood")) {
        flood(QByteArray("OK ").repeated(32), 1000, false); // 96 bytes a millisecond
    }
    if (run("wire")) {
        flood(QByteArray("OK "), 3125, true); // 960 bytes a second
    }
    if (run("setting")) {
        setting();
    }
    if (run("ctl")) {
        tool();
    }
    if (run("waits")) {
        waits();
    }
    if (run("inputs")) {
        inputs();
    }

    add("Machine check: one byte through a bare pseudo-terminal, p99, early in the run", lateBefore, "ms",
        NAN, 3);
    add("Machine check: one byte through a bare pseudo-terminal, p99, at the end", bareLineP99(), "ms", NAN,
        3);

    std::printf("Benchmark run %s on %s.\n\n", qPrintable(when), qPrintable(where));
    printTable();
    return failed() ? 1 : 0;
}
