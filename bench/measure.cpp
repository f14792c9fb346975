// SPDX-License-Identifier: MIT
#include "measure.h"

#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace bench {

// ---- measuring tools ----

double seconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double processCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage);
}

double threadCpu() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return seconds(usage);
}

double residentMb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2) {
        return 0;
    }
    return fields[1].toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double statusKb(qint64 pid, const char* field) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    file.open(QIODevice::ReadOnly);
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(qstrlen(field)).simplified().split(' ').value(0).toDouble();
        }
    }
    return NAN;
}

double cpuSeconds(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    file.open(QIODevice::ReadOnly);
    const QByteArray stat = file.readAll();
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th of them.
    const QList<QByteArray> f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (f.value(11).toDouble() + f.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

MachineTime machineTime() {
    QFile stat(QStringLiteral("/proc/stat"));
    MachineTime t;
    if (!stat.open(QIODevice::ReadOnly)) {
        return t;
    }
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    for (int i = 1; i < fields.size(); ++i) {
        const double v = fields[i].toDouble();
        if (i <= 8) { // user nice system idle iowait irq softirq steal; guest time is already in user
            t.total += v;
            if (i != 4 && i != 5) {
                t.busy += v;
            }
        }
    }
    return t;
}

double busyCores(const MachineTime& a, const MachineTime& b) {
    const double total = b.total - a.total;
    return total > 0 ? (b.busy - a.busy) / total * static_cast<double>(std::thread::hardware_concurrency())
                     : 0;
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

BusyProcess::BusyProcess() {
    pid_ = ::fork();
    if (pid_ == 0) {
        volatile unsigned long spin = 0;
        for (;;) {
            spin = spin + 1;
        }
    }
}

BusyProcess::~BusyProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool PaintWatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && onPaint) {
        onPaint(watched);
    }
    return false;
}

// ---- the table ----

namespace {

struct Row {
    std::string figure;
    double value = 0;
    std::string unit;
    double goal = 0; // upper bound; NAN: reported only
    int decimals = 2;
};

std::vector<Row> rows;
std::vector<std::string> notes;
bool anyFailed = false;

std::string fixed(double v, int decimals) {
    if (std::isnan(v)) {
        return "-";
    }
    return QString::number(v, 'f', decimals).toStdString();
}

} // namespace

void add(std::string figure, double value, std::string unit, double goal, int decimals) {
    rows.push_back(Row{std::move(figure), value, std::move(unit), goal, decimals});
}

void note(const QString& text) {
    notes.push_back(text.toStdString());
}

void fail(const QString& what) {
    anyFailed = true;
    note(QStringLiteral("FAILED: ") + what);
    std::fprintf(stderr, "bench: %s\n", qPrintable(what));
}

bool failed() {
    return anyFailed;
}

int printTable() {
    std::printf("| Figure | Measured | Goal | Ratio | Result |\n|---|---:|---:|---:|---|\n");
    int met = 0;
    int goals = 0;
    for (const Row& r : rows) {
        const bool hasGoal = !std::isnan(r.goal);
        const bool pass = hasGoal && !std::isnan(r.value) && r.value <= r.goal;
        goals += hasGoal ? 1 : 0;
        met += pass ? 1 : 0;
        const std::string unit = r.unit.empty() ? "" : " " + r.unit;
        std::printf("| %s | %s%s | %s | %s | %s |\n", r.figure.c_str(), fixed(r.value, r.decimals).c_str(),
                    unit.c_str(), hasGoal ? ("<= " + fixed(r.goal, r.decimals) + unit).c_str() : "-",
                    hasGoal && r.goal > 0 ? fixed(r.value / r.goal, 3).c_str() : "-",
                    hasGoal ? (pass ? "PASS" : "MISS") : "report");
    }
    std::printf("\n%d of %d goals met.\n\n", met, goals);
    for (const std::string& n : notes) {
        std::printf("- %s\n", n.c_str());
    }
    return goals - met;
}

} // namespace bench
