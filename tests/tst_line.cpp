// Timing on the line as the device sees it: the response time-out never fires before its full second, a
// command is handed to the operating system before the wait that follows it begins, and the pauses of
// "Setting", "get" and the calibration upload hold with another process spinning on the other core.

#include "platform/filedialog.h"
#include "platform/msgbox.h"
#include "support/panel.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

#include <dlfcn.h>
#include <mutex>
#include <thread>
#include <unistd.h>

using testsupport::Panel;
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
    void timeoutNeverEarly();
    void bytesLeaveBeforeTheWait();
    void deadLineReturnsAtOnce();
    void gapsUnderLoad();
};

// A default (coarse) timer may fire up to 5 % early, depending on where in the second it was started; so the
// sends are spread over the second and each one's box is compared with the moment its bytes were written.
void TestLine::timeoutNeverEarly() {
    Panel panel;
    panel.device->setMode(PtyDevice::Mode::Silent);
    panel.start();
    frmMotor* w = panel.w.get();
    std::vector<Clock::time_point> boxes;
    QStringList texts;
    platform::setMsgBoxHandlerForTests([&](const QString& text, int) {
        boxes.push_back(Clock::now());
        texts << text;
        return int(platform::vbOK);
    });
    ui(w).TxtCom->setText(QStringLiteral("v"));
    takeCommandWrites();

    constexpr int kSends = 30;
    std::vector<double> early;
    for (int k = 0; k < kSends; ++k) {
        // Start this send at k/30 of the way into a second of the monotonic clock (the next such moment).
        const auto now = Clock::now();
        auto at = Clock::time_point(std::chrono::floor<std::chrono::seconds>(now.time_since_epoch())) +
                  std::chrono::milliseconds(k * 1000 / kSends);
        if (at < now) {
            at += std::chrono::seconds(1);
        }
        std::this_thread::sleep_until(at);
        ui(w).CmdSend->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), std::size_t(k + 1), 3000);
        const auto written = takeCommandWrites();
        QCOMPARE(written.size(), std::size_t(1));
        const double after = msBetween(written.front(), boxes.back());
        if (after < 1000.0) {
            early.push_back(after);
        }
    }
    platform::setMsgBoxHandlerForTests({});
    texts.removeDuplicates();
    QCOMPARE(texts, QStringList{QStringLiteral("no response form device")});
    QVERIFY2(early.empty(), qPrintable(QStringLiteral("%1 of %2 boxes early, the first %3 ms after the write")
                                           .arg(early.size())
                                           .arg(kSends)
                                           .arg(early.empty() ? 0.0 : early.front())));
}

// The bytes are with the device before the event loop runs again, i.e. before a wait could start.
void TestLine::bytesLeaveBeforeTheWait() {
    Panel panel;
    panel.start();
    panel.device->clear();
    const QByteArray commands[] = {"L1510,", "Y-32768,", "W103,"};
    QByteArray expected;
    for (const QByteArray& command : commands) {
        serialLine(panel.w).SendCommand(QString::fromLatin1(command));
        expected += command;
    }
    // This thread does not process events: only the kernel can carry the bytes now.
    for (int i = 0; i < 200 && panel.device->received() != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    QCOMPARE(panel.device->received(), expected);
    VERIFY_BOXES(panel.boxes);
}

// A device that went away: the send returns at once, silently, and the port is closed so that nothing spins.
void TestLine::deadLineReturnsAtOnce() {
    Panel panel;
    panel.start();
    panel.device->hangUp();
    QElapsedTimer took;
    took.start();
    serialLine(panel.w).SendCommand(QStringLiteral("C1550,"));
    serialLine(panel.w).SendCommand(QStringLiteral("C1551,"));
    QVERIFY2(took.elapsed() < 100, qPrintable(QString::number(took.elapsed())));
    QVERIFY(!serialLine(panel.w).port().PortOpen());
    VERIFY_BOXES(panel.boxes);
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

    Panel panel;
    panel.start();
    frmMotor* w = panel.w.get();
    QByteArray table;
    for (int k = 0; k < 100; ++k) {
        table += QByteArray::number(1589 - k) + '\t' + QByteArray::number(k) + "\r\n";
    }
    QFile file(panel.path(QStringLiteral("table.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(table) == table.size());
    file.close();
    platform::setFileDialogHandlerForTests(
        [&](const OPENFILENAME&) { return std::optional(file.fileName()); });
    const auto noDialog = qScopeGuard([] { platform::setFileDialogHandlerForTests({}); });
    panel.boxes.allow(QStringLiteral("the wave range is from 1490 to 1589 total 100, correct?"),
                      platform::vbYes);
    panel.boxes.allow(QStringLiteral("plese reset the tunable filter device's power and this software!"));

    const struct {
        const char* name;
        std::function<void()> act;
        std::size_t commands;
        double pause;
    } runs[] = {
        {"Setting", [&] { ui(w).Command5->click(); }, 3, 500.0},
        {"get",
         [&] {
             ui(w).TxtCom->setText(QStringLiteral("get"));
             ui(w).CmdSend->click();
         },
         3, 50.0},
        {"upload", [&] { ui(w).CmdFile->click(); }, 210, 50.0},
    };
    for (const auto& run : runs) {
        panel.device->clear();
        takeCommandWrites();
        run.act();
        QVERIFY(panel.device->waitForCommands(run.commands, 20000));
        const auto written = takeCommandWrites();
        QCOMPARE(written.size(), run.commands);
        std::vector<double> handed;
        for (std::size_t i = 1; i < written.size(); ++i) {
            handed.push_back(msBetween(written[i - 1], written[i]));
        }
        const std::vector<double> read = gaps(panel.device->commands());
        const double shortest = *std::min_element(handed.begin(), handed.end());
        qInfo("%s: %zu gaps, shortest %.3f ms on the line, %.3f ms as the device thread read them", run.name,
              handed.size(), shortest, *std::min_element(read.begin(), read.end()));
        QVERIFY2(shortest >= run.pause, run.name);
    }
    VERIFY_BOXES(panel.boxes);
}

QTEST_MAIN(TestLine)
#include "tst_line.moc"
