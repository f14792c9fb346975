// SPDX-License-Identifier: MIT
// merovask-tango's figures against their goals: the server without a database on a loopback port, a virtual
// device on a real pseudo-terminal that answers as the filter does, and Tango's own C++ client in this
// process. Start-up, attribute reads, a write to its last byte at the device, the change event after the
// device's answer, and the idle server's CPU and memory. Prints one Markdown table with notes.

#include <tango/tango.h>

#include "measure.h"
#include "support/loopback.h"
#include "support/ptydevice.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using bench::Clock;
using bench::ms;
using bench::percentile;
using testsupport::PtyDevice;

namespace {

struct Row {
    std::string figure;
    double value;
    std::string unit;
    double goal; // upper bound; NAN: reported only
    int decimals;
};
std::vector<Row> rows;
std::vector<std::string> notes;

void add(std::string figure, double value, std::string unit, double goal, int decimals) {
    rows.push_back(Row{std::move(figure), value, std::move(unit), goal, decimals});
}

std::string fixed(double v, int decimals) {
    return std::isnan(v) ? "-" : QString::number(v, 'f', decimals).toStdString();
}

// The time of each Wavelength change event, as it reaches this process.
class Arrivals : public Tango::CallBack {
  public:
    void push_event(Tango::EventData* event) override {
        const Clock::time_point now = Clock::now();
        if (event->err) {
            return;
        }
        std::lock_guard lock(mutex);
        times.push_back(now);
    }
    std::mutex mutex;
    std::vector<Clock::time_point> times;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString server = dir.filePath(QStringLiteral("merovask-tango"));
    if (!QFile::copy(QStringLiteral(MEROVASK_TANGO_PATH), server)) {
        std::fprintf(stderr, "bench_tango: cannot copy %s\n", MEROVASK_TANGO_PATH);
        return 1;
    }
    // The filter's answer to a tune, at once, as com1 of the server's folder (the panel's default port).
    PtyDevice device(dir.path(), 1);
    device.setScript([](const QByteArray& command) {
        return command.startsWith('C') ? "WL" + command.mid(1) + ' ' : QByteArray("OK ");
    });

    // Start-up: exec to "Ready to accept request", with the port open.
    constexpr int kStarts = 5;
    std::vector<double> starts;
    QProcess process;
    // The server ends with the benchmark, even one that fails half-way.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    quint16 port = 0;
    for (int i = 0; i < kStarts; ++i) {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(10000);
        }
        port = testsupport::freeLoopbackPort();
        const Clock::time_point t0 = Clock::now();
        process.start(server, {"bench", "-nodb", "-dlist", "lab/filter/1", "-ORBendPoint",
                               QStringLiteral("giop:tcp:127.0.0.1:%1").arg(port)});
        QByteArray out;
        while (!out.contains("Ready to accept request") && process.waitForReadyRead(10000)) {
            out += process.readAllStandardOutput();
        }
        if (!out.contains("Ready to accept request")) {
            std::fprintf(stderr, "bench_tango: the server did not start: %s\n",
                         process.readAllStandardError().constData());
            return 1;
        }
        starts.push_back(ms(Clock::now() - t0));
    }
    add("Server start, exec to \"Ready to accept request\" (port open), median of 5", percentile(starts, 0.5),
        "ms", NAN, 1);

    const std::string name =
        QStringLiteral("tango://127.0.0.1:%1/lab/filter/1#dbase=no").arg(port).toStdString();
    Tango::DeviceProxy proxy(name.c_str());
    const auto write = [&proxy](double nm) {
        Tango::DeviceAttribute value("Wavelength", nm);
        proxy.write_attribute(value);
    };
    write(1550);

    // Attribute reads: the snapshot, without the line.
    constexpr int kReads = 1000;
    std::vector<double> reads;
    for (int i = 0; i < 50 + kReads; ++i) {
        const Clock::time_point t0 = Clock::now();
        Tango::DeviceAttribute value = proxy.read_attribute("Wavelength");
        if (i >= 50) {
            reads.push_back(ms(Clock::now() - t0));
        }
    }
    add("Wavelength read round trip, median of 1,000", percentile(reads, 0.5), "ms", 0.5, 3);
    add("Wavelength read round trip, p99 of 1,000", percentile(reads, 0.99), "ms", NAN, 3);

    // Writes: from the call to the arrival of the command's terminator at the device; and the change event
    // after the device's answer (given as the command arrives).
    constexpr int kWrites = 200;
    Arrivals arrivals;
    const int id = proxy.subscribe_event("Wavelength", Tango::CHANGE_EVENT, &arrivals);
    // ZeroMQ connects the subscriber a moment after subscribing: tune until an event has come.
    for (int i = 0; i < 200 && arrivals.times.size() < 2; ++i) {
        write(1551 + i % 2);
        PtyDevice::pump(5);
    }
    std::vector<double> onLine, events;
    for (int i = 0; i < kWrites; ++i) {
        {
            std::lock_guard lock(arrivals.mutex);
            arrivals.times.clear();
        }
        device.clear();
        const Clock::time_point t0 = Clock::now();
        write(1540 + i % 20);
        if (!device.waitForCommands(1, 2000)) {
            std::fprintf(stderr, "bench_tango: a write did not reach the device\n");
            return 1;
        }
        const Clock::time_point arrived = device.commands().front().at;
        onLine.push_back(ms(arrived - t0));
        for (int w = 0; w < 400; ++w) {
            std::lock_guard lock(arrivals.mutex);
            if (!arrivals.times.empty()) {
                events.push_back(ms(arrivals.times.front() - arrived));
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
    }
    proxy.unsubscribe_event(id);
    add("Wavelength write: call to the command's last byte at the device, median of 200",
        percentile(onLine, 0.5), "ms", 2.0, 3);
    add("Wavelength write: call to the command's last byte at the device, p99 of 200",
        percentile(onLine, 0.99), "ms", NAN, 3);
    add("Change event: the device's answer to its arrival at the client, median", percentile(events, 0.5),
        "ms", NAN, 3);
    add("Change event: the device's answer to its arrival at the client, p99", percentile(events, 0.99), "ms",
        NAN, 3);
    notes.push_back(QStringLiteral("%1 of %2 writes brought their change event within 100 ms.")
                        .arg(events.size())
                        .arg(kWrites)
                        .toStdString());

    // The idle server: no client call, no subscription.
    constexpr int kIdleS = 20;
    const double cpu0 = bench::cpuSeconds(process.processId());
    std::this_thread::sleep_for(std::chrono::seconds(kIdleS));
    const double idle = bench::cpuSeconds(process.processId()) - cpu0;
    add("Idle server CPU over 20 s (clock ticks of 10 ms)", 100.0 * idle / kIdleS, "% of a core", 0.0, 2);
    add("Server resident memory", bench::statusKb(process.processId(), "VmRSS:") / 1024.0, "MB", NAN, 1);
    notes.push_back(QStringLiteral("Idle: %1 s of CPU in %2 s; server starts %3 ms (median), slowest %4 ms.")
                        .arg(idle, 0, 'f', 2)
                        .arg(kIdleS)
                        .arg(percentile(starts, 0.5), 0, 'f', 1)
                        .arg(percentile(starts, 1.0), 0, 'f', 1)
                        .toStdString());
    process.terminate();
    process.waitForFinished(10000);

    std::printf("merovask-tango benchmark, %s, %d cores.\n\n",
                qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)), QThread::idealThreadCount());
    std::printf("| Figure | Measured | Goal | Result |\n|---|---:|---:|---|\n");
    int met = 0, goals = 0;
    for (const Row& r : rows) {
        const bool hasGoal = !std::isnan(r.goal);
        const bool pass = hasGoal && r.value <= r.goal;
        goals += hasGoal;
        met += pass;
        std::printf("| %s | %s %s | %s | %s |\n", r.figure.c_str(), fixed(r.value, r.decimals).c_str(),
                    r.unit.c_str(),
                    hasGoal ? ("<= " + fixed(r.goal, r.decimals) + " " + r.unit).c_str() : "-",
                    hasGoal ? (pass ? "PASS" : "MISS") : "report");
    }
    std::printf("\n%d of %d goals met.\n\n", met, goals);
    for (const std::string& n : notes) {
        std::printf("- %s\n", n.c_str());
    }
    Tango::ApiUtil::cleanup();
    return met == goals ? 0 : 1;
}
