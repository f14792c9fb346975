// SPDX-License-Identifier: MIT
// The panel's benchmark, merovask-ctl: the tool run as a child process against the pseudo-terminal device,
// timed from its exec to what the device reads.

#include "measure.h"
#include "panel_sections.h"
#include "support/ptydevice.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::PtyDevice;

namespace bench {

// ---- 8. merovask-ctl ----

namespace {

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

} // namespace

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

} // namespace bench
