// SPDX-License-Identifier: MIT
// Faults from outside the panel: a device that hangs up in the middle of an operation, the operator leaving
// while an operation waits, a device that floods the line, a program folder that cannot be written and a
// settings file that is not one. None of them may crash the panel, spin the CPU, lose the old settings or
// leave the line unusable once the device is back.

#include "dialogs/filedialog.h"
#include "support/panel.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <sys/resource.h>

using testsupport::Panel;
using testsupport::PtyDevice;

namespace {

constexpr int kWaitMs = 5000;
const QString kNoResponse =
    QStringLiteral("error, no response from device, check RS232 connection and device power");
const QString kNoReply = QStringLiteral("no response form device");
const QString kReset = QStringLiteral("plese reset the tunable filter device's power and this software!");
const QString kConfirm10 = QStringLiteral("the wave range is from 1517 to 1589 total 10, correct?");
const QString kCalFile = QStringLiteral(MEROVASK_TEST_DATA "/cal_rows10.txt");
// Commands of a complete upload of the 10-row file: 20 for the table, 4 for the range, 6 for the stamp.
constexpr int kUploadCommands = 30;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU time the whole process uses while the event loop runs for `ms`. A port that reports errors without
// end keeps a core busy from the first moment; a quarter of a second shows it.
double cpuWhileIdle(int ms) {
    const double before = cpuSeconds();
    PtyDevice::pump(ms);
    return cpuSeconds() - before;
}

void chooseCalibrationFile() {
    platform::setFileDialogHandlerForTests(
        [](const OPENFILENAME&) -> std::optional<QString> { return kCalFile; });
}

// Runs `action` in the wait that follows the line's n-th command, once the device has that command: the
// moment does not depend on how soon the device's thread reads, which a busy machine delays.
void afterCommand(Panel& p, std::size_t n, std::function<void()> action) {
    auto count = std::make_shared<std::size_t>(0);
    PtyDevice* device = p.device.get();
    devlink::SerialLine* line = &serialLine(p.w);
    QObject::connect(line, &devlink::SerialLine::commandSent, line, [count, n, device, action] {
        if (++*count == n) {
            QMetaObject::invokeMethod(
                qApp,
                [n, device, action] {
                    QVERIFY(device->waitForCommands(n));
                    action();
                },
                Qt::QueuedConnection);
        }
    });
}

bool hasKey(const QByteArray& ini, const QByteArray& key) {
    return ini.contains("\n" + key + "=") || ini.startsWith(key + "=");
}

bool runs(const QStringList& args) {
    QProcess process;
    process.start(args.first(), args.mid(1));
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class tst_faults : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { platform::setFileDialogHandlerForTests({}); }

    void hangUp_data();
    void hangUp();
    void exitDuringWait_data();
    void exitDuringWait();
    void replyFlood();
    void folderNotWritable_data();
    void folderNotWritable();
    void garbageSettingsFile();
};

// A hang-up while idle is tst_port's hangUpWhileOpen.
void tst_faults::hangUp_data() {
    QTest::addColumn<QString>("during");
    QTest::newRow("Setting wait") << "setting";
    QTest::newRow("get sequence") << "get";
    QTest::newRow("calibration upload") << "upload";
}

void tst_faults::hangUp() {
    QFETCH(QString, during);
    Panel p;
    p.start();
    QCOMPARE(p.replies(), QStringList{QStringLiteral("open successfully")});
    const QByteArray iniBefore = p.iniBytes();
    PtyDevice* device = p.device.get();

    if (during == "setting") {
        // The last of the three sends arms the response time-out, which then finds no reply.
        p.boxes.expect(kNoReply);
        QTimer::singleShot(200, [device] { device->hangUp(); });
        p.w->Command5_Click();
        QCOMPARE(p.commands(), QStringList{QStringLiteral("L1510")});
        QTRY_COMPARE_WITH_TIMEOUT(p.boxes.pending(), 0, kWaitMs);
    } else if (during == "get") {
        afterCommand(p, 1, [device] { device->hangUp(); });
        ui(p.w).TxtCom->setText(QStringLiteral("get"));
        p.w->CmdSend_Click();
        QCOMPARE(p.commands().value(0), QStringLiteral("W103"));
    } else {
        chooseCalibrationFile();
        p.boxes.expect(kConfirm10, platform::vbYes);
        p.boxes.expect(kNoResponse);
        afterCommand(p, 7, [device] { device->hangUp(); });
        p.w->CmdFile_Click();
        QCOMPARE(p.commands().size(), 7);
        QVERIFY(!gate(p.w).closed());
        QCOMPARE(p.iniBytes(), iniBefore); // no SWmin, no SWmax
    }
    VERIFY_BOXES(p.boxes);

    // The port stand-in closed the dead line: nothing spins.
    QTRY_VERIFY_WITH_TIMEOUT(!serialLine(p.w).port().PortOpen(), kWaitMs);
    const double cpu = cpuWhileIdle(250);
    QVERIFY2(cpu < 0.05, qPrintable(QStringLiteral("%1 s of CPU in 0.25 s after the hang-up").arg(cpu)));
    VERIFY_BOXES(p.boxes);

    // The device comes back: closing and opening the port makes the line work again.
    device->reopen();
    device->setScript({});
    device->clear();
    p.w->Command1_Click();
    QCOMPARE(ui(p.w).Command1->text(), QStringLiteral("open"));
    p.w->Command1_Click();
    QCOMPARE(ui(p.w).Command1->text(), QStringLiteral("close"));
    QVERIFY(serialLine(p.w).portOpen());
    ui(p.w).TxtCom->setText(QStringLiteral("p"));
    p.w->CmdSend_Click();
    QVERIFY(device->waitForCommands(1, kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(serialLine(p.w).replyText(), QStringLiteral("OK "), kWaitMs);
    QCOMPARE(p.commands(), QStringList{QStringLiteral("p")});
    VERIFY_BOXES(p.boxes);
}

void tst_faults::exitDuringWait_data() {
    QTest::addColumn<QString>("during");
    QTest::addColumn<int>("commandsSent");
    QTest::addColumn<bool>("rangeStored");
    QTest::newRow("Setting wait") << "setting" << 1 << false;
    QTest::newRow("get sequence") << "get" << 1 << false;
    QTest::newRow("upload, table") << "upload" << 5 << false;
    QTest::newRow("upload, range") << "upload" << 22 << false;
    // The whole range has reached the device before the date stamp: the limits are stored then.
    QTest::newRow("upload, stamp") << "upload" << 27 << true;
}

void tst_faults::exitDuringWait() {
    QFETCH(QString, during);
    QFETCH(int, commandsSent);
    QFETCH(bool, rangeStored);
    Panel p;
    p.start();
    ui(p.w).Text9->setText(QStringLiteral("7")); // a stay time that only shut-down can store
    frmMotor* w = p.w.get();
    // What had reached the device when Exit was pressed.
    auto atExit = std::make_shared<qsizetype>(-1);
    PtyDevice* device = p.device.get();
    const auto exit = [w, device, atExit] {
        *atExit = static_cast<qsizetype>(device->commands().size());
        w->Command9_Click();
    };

    afterCommand(p, static_cast<std::size_t>(commandsSent), exit);
    if (during == "setting") {
        p.w->Command5_Click();
    } else if (during == "get") {
        ui(p.w).TxtCom->setText(QStringLiteral("get"));
        p.w->CmdSend_Click();
    } else {
        chooseCalibrationFile();
        p.boxes.expect(kConfirm10, platform::vbYes);
        p.w->CmdFile_Click();
        QVERIFY(!gate(p.w).closed());
    }
    // The handler has returned; the window is gone and nothing more reaches the device.
    QVERIFY(unloaded(p.w));
    QVERIFY(!p.w->isVisible());
    QCoreApplication::processEvents();
    QVERIFY(device->sync());
    QCOMPARE(*atExit, qsizetype(commandsSent));
    QCOMPARE(p.commands().size(), *atExit);
    VERIFY_BOXES(p.boxes);

    const QByteArray ini = p.iniBytes();
    QVERIFY2(ini.contains("\r\nSTime=7\r\n"), ini.constData());
    // An upload left before its range reached the device stores no range.
    QVERIFY2(hasKey(ini, "SWmin") == rangeStored && hasKey(ini, "SWmax") == rangeStored, ini.constData());
}

void tst_faults::replyFlood() {
    Panel p;
    p.start();
    QByteArray flood(999, 'Z');
    flood += ' ';
    p.device->setScript([flood](const QByteArray&) { return flood; });
    constexpr int kSends = 5;
    QSignalSpy ticks(&serialLine(p.w), &devlink::SerialLine::timedOut);
    for (int i = 0; i < kSends; ++i) {
        ui(p.w).TxtCom->setText(QStringLiteral("p"));
        p.w->CmdSend_Click();
        QVERIFY(p.device->waitForCommands(static_cast<std::size_t>(i + 1), kWaitMs));
    }
    // The response time-out of the last send decides whether a box comes; by then every flood is read.
    QVERIFY(ticks.wait(kWaitMs));
    const QStringList replies = p.replies().mid(1); // after "open successfully"
    QVERIFY(!replies.isEmpty());
    bool full = false;
    for (const QString& reply : replies) {
        QVERIFY2(reply.size() >= 2 && reply.size() <= 21, qPrintable(reply));
        full = full || reply.size() == 21;
    }
    QVERIFY(full);
    // At most one reply per notification, and a notification brings at least 22 bytes or a tail.
    QVERIFY2(replies.size() <= kSends * (1000 / 22 + 1), qPrintable(QString::number(replies.size())));
    QVERIFY(serialLine(p.w).pendingBytes() <= 21);
    VERIFY_BOXES(p.boxes); // every send got a reply in time
}

void tst_faults::folderNotWritable_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("when");
    for (const char* how : {"read-only", "full"}) {
        for (const char* when : {"start-up", "shut-down", "upload"}) {
            QTest::addRow("%s at %s", how, when) << how << when;
        }
    }
}

void tst_faults::folderNotWritable() {
    QFETCH(QString, how);
    QFETCH(QString, when);
    const QByteArray oldIni =
        "; kept by hand\r\n[tfilter]\r\nport=1\r\nSTime=5\r\nSPan=3\r\n\r\n[other]\r\nx=1\n";

    auto p = std::make_unique<Panel>(QByteArray(), false);
    const QString dir = p->dir.path();
    if (!runs({QStringLiteral("mount"), QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
               QStringLiteral("size=64k"), QStringLiteral("tmpfs"), dir})) {
        QSKIP("mounting a tmpfs is not permitted here");
    }
    const auto unmount = qScopeGuard([&] {
        p->w.reset();
        p->device.reset();
        runs({QStringLiteral("umount"), dir});
        p.reset();
    });
    {
        QFile file(p->path(QStringLiteral("merovask.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(oldIni) == oldIni.size());
    }
    p->device = std::make_unique<PtyDevice>(dir, 1);
    QVERIFY(p->device->ok());

    const auto spoil = [&] {
        if (how == "read-only") {
            QVERIFY(runs({QStringLiteral("mount"), QStringLiteral("-o"), QStringLiteral("remount,ro"), dir}));
            QFile probe(p->path(QStringLiteral("probe")));
            QVERIFY(!probe.open(QIODevice::WriteOnly));
        } else {
            QFile big(p->path(QStringLiteral("big.bin")));
            QVERIFY(big.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (big.write(block) == block.size() && big.flush()) {
            }
            big.close();
            QFile probe(p->path(QStringLiteral("probe")));
            QVERIFY(!probe.open(QIODevice::WriteOnly) || probe.write(block) != block.size() ||
                    !probe.flush());
            probe.close();
            probe.remove();
        }
    };

    if (when == "start-up") {
        spoil();
        p->start();
        QCOMPARE(ui(p->w).Text9->text(), QStringLiteral("5"));
        QCOMPARE(ui(p->w).Text10->text(), QStringLiteral("3"));
        QCOMPARE(ui(p->w).Text6->text(), QStringLiteral("1550")); // missing: the default
        QCOMPARE(p->replies(), QStringList{QStringLiteral("open successfully")});
    } else if (when == "shut-down") {
        p->start();
        const QByteArray written = p->iniBytes();
        spoil();
        ui(p->w).Text9->setText(QStringLiteral("8"));
        p->w->Command9_Click();
        QVERIFY(unloaded(p->w));
        QCOMPARE(p->iniBytes(), written);
    } else {
        p->start();
        const QByteArray written = p->iniBytes();
        spoil();
        chooseCalibrationFile();
        p->boxes.expect(kConfirm10, platform::vbYes);
        p->boxes.expect(kReset);
        p->w->CmdFile_Click();
        QVERIFY(p->device->waitForCommands(kUploadCommands, kWaitMs));
        QCOMPARE(p->commands().size(), kUploadCommands);
        QCOMPARE(p->iniBytes(), written);
        // The limits come from the values the upload meant to store.
        QCOMPARE(serialLine(p->w).limits().swMin, 1517);
        QCOMPARE(serialLine(p->w).limits().swMax, 1589);
    }
    VERIFY_BOXES(p->boxes);
    if (when == "start-up") {
        QCOMPARE(p->iniBytes(), oldIni);
    }
}

void tst_faults::garbageSettingsFile() {
    // 10 MB of noise, line breaks, brackets and "=" included, but no [tfilter] section.
    QByteArray garbage(10 * 1024 * 1024, '\0');
    QRandomGenerator random(4711);
    random.fillRange(reinterpret_cast<quint32*>(garbage.data()), garbage.size() / 4);
    const char sprinkle[] = "=[]\r\n ";
    for (qsizetype i = 0; i < garbage.size(); i += 37) {
        garbage[i] = sprinkle[random.bounded(6)];
    }
    QVERIFY(!garbage.toLower().contains("tfilter"));

    // How long this start-up takes is a figure of the benchmark.
    Panel p(garbage);
    p.start();

    QCOMPARE(ui(p.w).Text1->text(), QStringLiteral("1"));
    QCOMPARE(ui(p.w).Text7->text(), QStringLiteral("1510"));
    QCOMPARE(ui(p.w).Text8->text(), QStringLiteral("1589"));
    QCOMPARE(ui(p.w).Text9->text(), QStringLiteral("1"));
    QCOMPARE(ui(p.w).Text10->text(), QStringLiteral("4"));
    QCOMPARE(ui(p.w).Text6->text(), QStringLiteral("1550"));
    QCOMPARE(ui(p.w).Text11->text(), QStringLiteral("1"));
    QCOMPARE(ui(p.w).Text12->text(), QStringLiteral("1"));
    QCOMPARE(serialLine(p.w).limits().swMin, 1510);
    QCOMPARE(serialLine(p.w).limits().swMax, 1589);
    QCOMPARE(p.replies(), QStringList{QStringLiteral("open successfully")});
    // The noise stays; the section the panel wrote follows it.
    const QByteArray ini = p.iniBytes();
    QVERIFY(ini.startsWith(garbage));
    VERIFY_BOXES(p.boxes);
}

QTEST_MAIN(tst_faults)
#include "tst_faults.moc"
