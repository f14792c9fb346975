// SPDX-License-Identifier: MIT
// The panel's benchmark, the window: fresh windows to their first paint, the calibration upload's pace and
// CPU, and a reply's way from the line to its line in List2 and onto the screen.

#include "dialogs/filedialog.h"
#include "dialogs/msgbox.h"
#include "measure.h"
#include "panel_sections.h"
#include "support/panel.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using testsupport::Panel;
using testsupport::PtyDevice;

namespace bench {

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

} // namespace bench
