// SPDX-License-Identifier: MIT
// The panel's figures against their goals, measured in one run on a real pseudo-terminal with the window
// offscreen: start-up, the calibration upload's pace and CPU, reply latency, reply floods, the pace of
// "Setting", merovask-ctl's start, upload and scan set-up, the waits and the response time-out, and large
// inputs. Prints one Markdown table; the notes under it say what each figure includes. The tests check what
// the program does; how soon it does it is measured here.
// The measuring tools and the table are in measure.h, the sections in panel_*.cpp (panel_sections.h).

#include "measure.h"
#include "panel_sections.h"
#include "system/clock.h"

#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QFile>

#include <cmath>
#include <cstdio>
#include <thread>
#include <unistd.h>

using namespace bench;

namespace {

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
