// SPDX-License-Identifier: MIT
// The serial line on a real pseudo-terminal, timed as the device sees it: the response time-out never fires
// before its full second, a command is handed to the operating system before the wait that follows it
// begins, a device that went away costs nothing, and the pauses of "Setting", "get" and the calibration
// upload hold with another process spinning on the other core.

#include "calibration/upload.h"
#include "line/serialline.h"
#include "operations/console.h"
#include "operations/operations.h"
#include "support/ptydevice.h"
#include "system/programdir.h"

#include <QProcess>
#include <QtTest>

#include <dlfcn.h>
#include <mutex>
#include <thread>
#include <unistd.h>

using testsupport::PtyDevice;
using Clock = std::chrono::steady_clock;

namespace {

// The moment each command was handed over: the return of every write() whose bytes end in the terminator.
// The panel writes its commands itself, so the calls pass through here (the real call comes next in line).
std::mutex writesMutex;
std::vector<Clock::time_point> commandWrites;

std::vector<Clock::time_point> takeCommandWrites() {
    std::lock_guard lock(writesMutex);
    return std::exchange(commandWrites, {});
}

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Gaps between consecutive arrivals at the device, in ms.
std::vector<double> gaps(const std::vector<PtyDevice::Command>& commands) {
    std::vector<double> out;
    for (std::size_t i = 1; i < commands.size(); ++i) {
        out.push_back(msBetween(commands[i - 1].at, commands[i].at));
    }
    return out;
}

// A line opened on a device linked as com<port> in a folder of its own.
struct OpenLine {
    QTemporaryDir dir;
    PtyDevice device;
    devlink::SerialLine line;
    bool opened = false;
    explicit OpenLine(int port = 1) : device(dir.path(), port) {
        platform::setProgramDirForTests(dir.path());
        opened = line.open(QString::number(port)) == devlink::SerialLine::OpenEnd::Opened;
        platform::setProgramDirForTests({});
    }
};

} // namespace

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
    using WriteFn = ssize_t (*)(int, const void*, size_t);
    static const auto next = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
    const ssize_t written = next(fd, buf, n);
    if (written > 0 && static_cast<const char*>(buf)[written - 1] == ',') {
        const auto now = Clock::now();
        std::lock_guard lock(writesMutex);
        commandWrites.push_back(now);
    }
    return written;
}

class TestLine : public QObject {
    Q_OBJECT

  private slots:
    void consoleBytes_data();
    void consoleBytes();
    void timeoutNeverEarly();
    void bytesLeaveBeforeTheWait();
    void deadLineReturnsAtOnce();
    void gapsUnderLoad();
};

void TestLine::consoleBytes_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("help command") << "c1550" << QByteArray("c1550,");
    QTest::newRow("leading blanks dropped") << "  v" << QByteArray("v,");
    QTest::newRow("trailing blank kept") << "v " << QByteArray("v ,");
    QTest::newRow("empty") << "" << QByteArray(",");
    QTest::newRow("get with blank is ordinary") << "get " << QByteArray("get ,");
    QTest::newRow("Get is ordinary") << "Get" << QByteArray("Get,");
    QTest::newRow("blank inside") << "G 17573" << QByteArray("G 17573,");
    QTest::newRow("tab is no blank") << "\tv\t" << QByteArray("\tv\t,");
    QTest::newRow("Latin-1") << QStringLiteral("\u00e9") << QByteArray("\xe9,");
    QTest::newRow("outside Latin-1") << QStringLiteral("\u20ac1") << QByteArray("?1,");
}

// What the console's Send puts on the wire for a typed text, and what it arms and keeps.
void TestLine::consoleBytes() {
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    OpenLine open;
    QVERIFY(open.opened);
    open.device.setMode(PtyDevice::Mode::Silent);
    devlink::consoleSend(open.line, typed);
    QCOMPARE(open.line.lastCmd(), typed);
    QVERIFY(open.line.replyText().isEmpty());
    QVERIFY(open.line.timeoutArmed());
    QVERIFY(open.device.waitForCommands(1));
    QCOMPARE(open.device.received(), wire);
}

// A default (coarse) timer may fire up to 5 % early, depending on where in the second it was started; so 30
// lines are armed at moments spread over a second, and each one's time-out is compared with the moment its
// bytes were written.
void TestLine::timeoutNeverEarly() {
    constexpr int kLines = 30;
    std::vector<std::unique_ptr<OpenLine>> lines;
    std::vector<Clock::time_point> written(kLines);
    std::vector<Clock::time_point> timedOut(kLines);
    for (int k = 0; k < kLines; ++k) {
        lines.push_back(std::make_unique<OpenLine>(k + 1));
        QVERIFY(lines.back()->opened);
        lines.back()->device.setMode(PtyDevice::Mode::Silent);
        QObject::connect(&lines.back()->line, &devlink::SerialLine::timedOut,
                         [&timedOut, k] { timedOut[std::size_t(k)] = Clock::now(); });
    }
    takeCommandWrites();
    const auto start = Clock::now();
    for (int k = 0; k < kLines; ++k) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(k * 1000 / kLines));
        devlink::consoleSend(lines[std::size_t(k)]->line, QStringLiteral("v"));
        const auto writes = takeCommandWrites();
        QCOMPARE(writes.size(), std::size_t(1));
        written[std::size_t(k)] = writes.front();
    }
    QTRY_VERIFY_WITH_TIMEOUT(std::none_of(timedOut.begin(), timedOut.end(),
                                          [](Clock::time_point t) { return t == Clock::time_point(); }),
                             4000);
    std::vector<double> early;
    for (int k = 0; k < kLines; ++k) {
        const double after = msBetween(written[std::size_t(k)], timedOut[std::size_t(k)]);
        if (after < 1000.0) {
            early.push_back(after);
        }
        QVERIFY(!lines[std::size_t(k)]->line.timeoutArmed());
    }
    QVERIFY2(early.empty(),
             qPrintable(QStringLiteral("%1 of %2 time-outs early, the first %3 ms after the write")
                            .arg(early.size())
                            .arg(kLines)
                            .arg(early.empty() ? 0.0 : early.front())));
}

// The bytes are with the device before the event loop runs again, i.e. before a wait could start.
void TestLine::bytesLeaveBeforeTheWait() {
    OpenLine open;
    QVERIFY(open.opened);
    const QByteArray commands[] = {"L1510,", "Y-32768,", "W103,"};
    QByteArray expected;
    for (const QByteArray& command : commands) {
        open.line.SendCommand(QString::fromLatin1(command));
        expected += command;
    }
    // This thread does not process events: only the kernel can carry the bytes now.
    for (int i = 0; i < 200 && open.device.received() != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    QCOMPARE(open.device.received(), expected);
}

// A device that went away: the send returns, silently, and the port is closed so that nothing spins. How soon
// the send returns is a figure of the benchmark.
void TestLine::deadLineReturnsAtOnce() {
    OpenLine open;
    QVERIFY(open.opened);
    QSignalSpy gone(&open.line, &devlink::SerialLine::portGone);
    open.device.hangUp();
    open.line.SendCommand(QStringLiteral("C1550,"));
    open.line.SendCommand(QStringLiteral("C1551,"));
    QVERIFY(!open.line.port().PortOpen());
    QVERIFY(open.line.wentAway());
    QCOMPARE(gone.size(), 1);
}

// Each pause is measured where it matters, at the device: from the moment one command's bytes are in the
// device's side of the line (its write returned) to the next one's. The device thread's own reading times are
// printed beside them; on a loaded machine they add that thread's scheduling delay of up to a few ms.
void TestLine::gapsUnderLoad() {
    QProcess spinner;
    spinner.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
    QVERIFY(spinner.waitForStarted());
    const auto stop = qScopeGuard([&] {
        spinner.kill();
        spinner.waitForFinished();
    });

    OpenLine open;
    QVERIFY(open.opened);
    QTemporaryDir dir;
    // The smallest table: its 30 commands have every kind of pause of a larger one (the 100-row upload
    // under load is a figure of the benchmark).
    constexpr int kRows = 10;
    calibration::CalTable table;
    for (int k = 0; k < kRows; ++k) {
        table.calTable[std::size_t(k)] = std::int16_t(k);
    }
    table.calMin = 1580;
    table.calMax = 1589;
    filter::TextField start(QStringLiteral("1510")), end(QStringLiteral("1589")), stay(QStringLiteral("1"));

    const struct {
        const char* name;
        std::function<void()> act;
        std::size_t commands;
        double pause;
    } runs[] = {
        {"Setting", [&] { filter::scanSetting(open.line, start, end, stay); }, 3, 500.0},
        {"get", [&] { devlink::readStamp(open.line); }, 3, 50.0},
        {"upload",
         [&] { calibration::upload(open.line, table, kRows, settings::SettingsFile(dir.filePath("x.ini"))); },
         2 * kRows + 10, 50.0},
    };
    for (const auto& run : runs) {
        open.device.clear();
        takeCommandWrites();
        run.act();
        QVERIFY(open.device.waitForCommands(run.commands, 20000));
        const auto written = takeCommandWrites();
        QCOMPARE(written.size(), run.commands);
        std::vector<double> handed;
        for (std::size_t i = 1; i < written.size(); ++i) {
            handed.push_back(msBetween(written[i - 1], written[i]));
        }
        const std::vector<double> read = gaps(open.device.commands());
        const double shortest = *std::min_element(handed.begin(), handed.end());
        qInfo("%s: %zu gaps, shortest %.3f ms on the line, %.3f ms as the device thread read them", run.name,
              handed.size(), shortest, *std::min_element(read.begin(), read.end()));
        QVERIFY2(shortest >= run.pause, run.name);
    }
}

QTEST_MAIN(TestLine)
#include "tst_line.moc"
