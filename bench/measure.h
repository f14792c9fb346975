// SPDX-License-Identifier: MIT
#pragma once
// What the benchmarks measure with (times, CPU, resident memory, the machine's load, percentiles, waiting in
// the event loop) and the one table they print: rows against their goals, and notes under it.

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

class QEvent;

namespace bench {

using Clock = std::chrono::steady_clock;

// ---- measuring tools ----

// User plus system time of a getrusage() or wait4() account, in seconds.
double seconds(const rusage& usage);
double processCpu();
// CPU of the calling thread only: the window's thread, without the device's worker thread.
double threadCpu();

inline double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double residentMb();

// Another process's: a field of /proc/PID/status in kB, and its CPU seconds from /proc/PID/stat.
double statusKb(qint64 pid, const char* field);
double cpuSeconds(qint64 pid);

// Busy and total jiffies of the whole machine, to tell how much of it others used during a measurement.
struct MachineTime {
    double busy = 0;
    double total = 0;
};

MachineTime machineTime();
// Cores kept busy during the interval, by everything on the machine.
double busyCores(const MachineTime& a, const MachineTime& b);

// Nearest-rank percentile.
double percentile(std::vector<double> v, double q);

// Runs the event loop until `done` is true or the time is up; false on time-out. The window's thread sleeps
// in its event loop meanwhile, as it would in the program, so that nothing here adds to its CPU or its
// latency.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// A process that keeps one core busy until it is stopped: the "other core loaded" condition.
class BusyProcess {
  public:
    BusyProcess();
    ~BusyProcess();
    BusyProcess(const BusyProcess&) = delete;
    BusyProcess& operator=(const BusyProcess&) = delete;
    bool ok() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

class PaintWatch : public QObject {
  public:
    std::function<void(QObject*)> onPaint;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// ---- the table ----

// A row: `goal` is an upper bound, NAN where the figure is reported only.
void add(std::string figure, double value, std::string unit, double goal, int decimals = 2);
void note(const QString& text);
// Notes the failure under the table and on stderr; failed() is true from then on.
void fail(const QString& what);
bool failed();
// Prints the table, then the notes; returns how many goals were missed.
int printTable();

} // namespace bench
